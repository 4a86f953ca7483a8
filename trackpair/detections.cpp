// trackpair/detections.cpp - detection files (see detections.h).
#include "trackpair/detections.h"

#include "common/input_file.h"
#include "common/tokens.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace trackpair {

namespace {

// isspace() of the "C" locale without the locale lookup: ' ' and \t .. \r.
inline bool is_blank(char c) {
  return c == ' ' || static_cast<unsigned char>(c - '\t') <= '\r' - '\t';
}

inline bool is_digit(char c) {
  return static_cast<unsigned char>(c - '0') <= 9;
}

// Moves p past the blanks and the token after them, [begin, end); false when
// only blanks are left.
inline bool next_token(const char*& p, const char* stop, const char*& begin, const char*& end) {
  while (p < stop && is_blank(*p)) ++p;
  begin = p;
  while (p < stop && !is_blank(*p)) ++p;
  end = p;
  return begin != end;
}

}  // namespace

namespace {

// Whether the 9 bytes at t are "d.dddddd" and a blank, the form in which
// histfeat writes its bins, tested as one 64-bit word: every histogram value
// of a record passes here, and this keeps parsing far below the file system's
// share of a run (bench/README.md). Little-endian only; elsewhere the byte
// scan does the work.
inline bool is_short_fraction(const char* t) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  std::uint64_t w;
  std::memcpy(&w, t, sizeof w);  // byte k of the token is bits 8k .. 8k+7
  constexpr std::uint64_t high_nibbles = 0xF0F0F0F0F0F0F0F0ULL;
  constexpr std::uint64_t all_zeros = 0x3030303030303030ULL;  // "00000000"
  constexpr std::uint64_t sixes = 0x0606060606060606ULL;
  if ((w & 0xFF00) != static_cast<std::uint64_t>('.') << 8) return false;
  w ^= static_cast<std::uint64_t>('.' ^ '0') << 8;  // the point as a '0'
  // Every byte in '0' .. '9': its high nibble is 3, and still 3 after adding
  // 6 (no byte carries into the next, since none exceeds 0x3F + 6).
  return (w & high_nibbles) == all_zeros && ((w + sixes) & high_nibbles) == all_zeros &&
         is_blank(t[8]);
#else
  (void)t;
  return false;
#endif
}

// The end of the token that starts at p (not a blank) when it is a real, else
// null; *stop must be a blank or NUL, where strtof stops. Plain decimals,
// [+-]? digits* ('.' digits*)? with a digit, are read by strtof exactly as far
// as the byte scan goes, so the scan decides them; the rest is strtof's.
const char* real_token_end(const char* p, const char* stop) {
  const char* q = p + (*p == '-' || *p == '+');
  const char* const digits = q;
  while (q < stop && is_digit(*q)) ++q;
  std::ptrdiff_t n = q - digits;
  if (q < stop && *q == '.') {
    const char* const fraction = ++q;
    while (q < stop && is_digit(*q)) ++q;
    n += q - fraction;
  }
  if (n > 0 && (q == stop || is_blank(*q))) return q;
  while (q < stop && !is_blank(*q)) ++q;
  char* end = nullptr;
  std::strtof(p, &end);  // ERANGE still reads the token whole
  return end == q ? q : nullptr;
}

}  // namespace

bool is_real_token(const char* begin, const char* end) {
  // strtof would skip leading blanks.
  return begin != end && !is_blank(*begin) && real_token_end(begin, end) == end;
}

std::string parse_count_argument(const char* what, const char* text, int limit, int& value) {
  if (!common::parse_int_token(text, text + std::strlen(text), value))
    return std::string(what) + " " + common::quote_token(text, text + std::strlen(text)) +
           " is not a whole number";
  if (value > limit)
    return std::string(what) + " " + std::to_string(value) + " exceeds " + std::to_string(limit);
  return "";
}

std::string parse_detection_text(const std::string& text, std::vector<file_box>& boxes) {
  boxes.clear();
  const char* p = text.data();
  const char* const stop = p + text.size();
  const char *begin, *end;
  if (!next_token(p, stop, begin, end)) return "";  // no count at all: no detections
  int count = 0;
  if (!common::parse_int_token(begin, end, count))
    return "the count " + common::quote_token(begin, end) + " is not an integer";
  if (count < 0) return "the count " + std::to_string(count) + " is negative";
  for (int s = 0; s < count; ++s) {
    const auto record = [s] { return "record " + std::to_string(s + 1) + ": "; };
    const auto incomplete = [&](int t) {
      return record() + "incomplete, the file ends after " + std::to_string(t) + " of its " +
             std::to_string(record_tokens) + " values";
    };
    file_box box;
    for (int t = 0; t < 4; ++t) {
      if (!next_token(p, stop, begin, end)) return incomplete(t);
      if (!common::parse_int_token(begin, end, box[t]))
        return record() + common::quote_token(begin, end) + " is not an integer";
    }
    // One step per blank or real: histfeat's bins take one word test each,
    // their blank with them; the rest real_token_end (tests compare the two).
    for (int t = 4; t < record_tokens;) {
      if (stop - p > 8 && is_short_fraction(p)) {
        p += 9;
        ++t;
      } else if (p == stop) {
        return incomplete(t);
      } else if (is_blank(*p)) {
        ++p;
      } else if (const char* const real_end = real_token_end(p, stop)) {
        p = real_end;
        ++t;
      } else {
        next_token(p, stop, begin, end);
        return record() + common::quote_token(begin, end) + " is not a number";
      }
    }
    boxes.push_back(box);
  }
  return "";
}

std::string detection_file_name(int q, int r) {
  char name[64];  // one allocation per file, not one per piece
  std::snprintf(name, sizeof name, "objects_info_h%d_%d.txt", q + 1, r + 1);
  return name;
}

std::string read_detections(int objects, int frames, box_dictionary& boxes) {
  assert(objects <= max_objects && frames <= max_frames);
  try {
    std::string text;
    std::vector<file_box> found;
    for (int q = 0; q < objects; ++q)
      for (int r = 1; r < frames; ++r) {
        const std::string name = detection_file_name(q, r);
        std::string error = common::read_file(name, text);
        if (error.empty()) error = parse_detection_text(text, found);
        if (!error.empty()) return name + ": " + error;
        for (std::size_t s = 0; s < found.size(); ++s)
          boxes.insert(box_key(q, r, static_cast<int>(s)),
                       box_info(found[s][0], found[s][2], found[s][1], found[s][3]));
      }
  } catch (const std::bad_alloc&) {
    return "out of memory";
  }
  return "";
}

}  // namespace trackpair
