// trackpair/detections.cpp - token checks, whole-file reading and the parser
// of detection files (see detections.h).
#include "detections.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace trackpair {

namespace {

// isspace() of the "C" locale, without the locale lookup: ' ' and \t \n \v
// \f \r, which are 9 .. 13.
inline bool is_blank(char c) {
  return c == ' ' || static_cast<unsigned char>(c - '\t') <= '\r' - '\t';
}

inline bool is_digit(char c) {
  return static_cast<unsigned char>(c - '0') <= 9;
}

// The end of the token that starts before p, p inside it or at its end.
inline const char* token_end(const char* p, const char* end) {
  while (p < end && !is_blank(*p)) ++p;
  return p;
}

// The scan of a plain decimal real, [+-]? digits* ('.' digits*)? with at
// least one digit: returns where it stops, or null when there is no digit.
// Stops at the NUL after the buffer at the latest.
inline const char* scan_plain_decimal(const char* p) {
  p += (*p == '-' || *p == '+');
  const char* const digits = p;
  while (is_digit(*p)) ++p;
  std::ptrdiff_t n = p - digits;
  if (*p == '.') {
    const char* const fraction = ++p;
    while (is_digit(*p)) ++p;
    n += p - fraction;
  }
  return n != 0 ? p : nullptr;
}

}  // namespace

bool parse_int_token(const char* begin, const char* end, int& value) {
  const char* p = begin;
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-')) negative = (*p++ == '-');
  if (p == end) return false;  // empty, or a sign alone
  // Accumulate the magnitude; the bound keeps it from overflowing however
  // many digits follow (INT_MIN's magnitude is one more than INT_MAX).
  const long long bound = negative ? -static_cast<long long>(INT_MIN) : INT_MAX;
  long long magnitude = 0;
  for (; p < end; ++p) {
    if (*p < '0' || *p > '9') return false;
    magnitude = magnitude * 10 + (*p - '0');
    if (magnitude > bound) return false;
  }
  value = static_cast<int>(negative ? -magnitude : magnitude);
  return true;
}

bool parse_int_token(const char* text, int& value) {
  return parse_int_token(text, text + std::strlen(text), value);
}

bool parse_real_token(const char* begin, const char* end, float& value) {
  // strtof would skip leading whitespace and read the next token.
  if (begin == end || is_blank(*begin)) return false;
  char* stop = nullptr;
  const float v = std::strtof(begin, &stop);  // ERANGE still reads the token whole
  if (stop != end) return false;
  value = v;
  return true;
}

bool is_real_token(const char* begin, const char* end) {
  // strtof reads a plain decimal exactly as far as the scan goes, so a scan
  // that reaches the token's end decides; anything else is strtof's to say.
  const char* stop = begin < end ? scan_plain_decimal(begin) : nullptr;
  if (stop == end) return true;
  float ignored;
  return parse_real_token(begin, end, ignored);
}

bool token_reader::next(const char*& tok_begin, const char*& tok_end) {
  while (pos_ < end_ && is_blank(*pos_)) ++pos_;
  if (pos_ == end_) return false;
  tok_begin = pos_;
  while (pos_ < end_ && !is_blank(*pos_)) ++pos_;
  tok_end = pos_;
  return true;
}

std::string quote_token(const char* begin, const char* end) {
  constexpr std::ptrdiff_t shown = 40;
  std::string q = "'";
  for (const char* p = begin; p < end && p - begin < shown; ++p)
    q += (*p >= 0x20 && *p < 0x7f) ? *p : '?';
  q += '\'';
  if (end - begin > shown) q += "...";
  return q;
}

bool file_buffer::open(const char* name, std::string& error) {
  close();
  size_ = 0;
  bytes_[0] = '\0';
  at_end_ = false;
  // O_NONBLOCK: opening a FIFO waits for a writer otherwise. A regular file
  // ignores the flag.
  fd_ = ::open(name, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd_ < 0) {
    error = std::strerror(errno);
    return false;
  }
  // Only regular files: a device such as /dev/zero or a FIFO may never end
  // (nor start). A directory is reported as reading it would be.
  struct stat st;
  const char* refused = nullptr;
  if (::fstat(fd_, &st) != 0)
    refused = std::strerror(errno);
  else if (S_ISDIR(st.st_mode))
    refused = std::strerror(EISDIR);
  else if (!S_ISREG(st.st_mode))
    refused = "not a regular file";
  if (refused != nullptr) {
    error = refused;
    close();
    return false;
  }
  return read_block(error);
}

bool file_buffer::read_block(std::string& error) {
  // Keep one byte free for the NUL after the contents.
  constexpr std::size_t first_block = std::size_t{1} << 16;
  if (bytes_.size() - size_ < 2)
    bytes_.resize(bytes_.size() < first_block ? first_block + 1 : 2 * bytes_.size());
  ssize_t n;
  do {
    n = ::read(fd_, bytes_.data() + size_, bytes_.size() - 1 - size_);
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    error = std::strerror(errno);
    close();
    size_ = 0;
    bytes_[0] = '\0';
    return false;
  }
  size_ += static_cast<std::size_t>(n);
  bytes_[size_] = '\0';
  at_end_ = n == 0;
  return true;
}

bool file_buffer::read_rest(std::string& error) {
  while (!at_end_)
    if (!read_block(error)) return false;
  return true;
}

bool file_buffer::read(const char* name, std::string& error) {
  const bool ok = open(name, error) && read_rest(error);
  close();
  return ok;
}

void file_buffer::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

namespace {

// Whether the 9 bytes at t are "d.dddddd" and a blank: the form in which
// histfeat prints its bins ("%f" of a value below 10), tested on one 64-bit
// word instead of byte by byte. Little-endian machines only; elsewhere the
// byte-wise scan does the work.
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

// The bytes of a record's 64 bins as histfeat writes them: 64 times
// "d.dddddd" and a separator. Byte i (of 576) must lie in [low[i], high[i]]:
// a digit, the point, or a blank between two bins. The last separator, which
// ends the record, is any blank and is tested on its own; here it is free.
constexpr std::size_t bins_bytes = 9 * hist_bins;
struct bins_pattern {
  alignas(16) unsigned char low[bins_bytes];
  alignas(16) unsigned char high[bins_bytes];
  bins_pattern() {
    for (std::size_t i = 0; i < bins_bytes; ++i) {
      const std::size_t at = i % 9;
      low[i] = at == 1 ? '.' : at == 8 ? ' ' : '0';
      high[i] = at == 1 ? '.' : at == 8 ? ' ' : '9';
    }
    low[bins_bytes - 1] = 0;
    high[bins_bytes - 1] = 0xFF;
  }
};

// Whether the bytes at t are a record's 64 bins in histfeat's form, each
// "d.dddddd" followed by a blank (end - t >= 576 is required): then every
// one of them is a real token, and the last one ends at t + 575. One pass of
// 16-byte compares over the 576 bytes, where byte by byte would take 64
// token scans; on x86 only (SSE2), elsewhere false, and the token-by-token
// scan does the work.
inline bool are_short_fraction_bins(const char* t) {
#if defined(__SSE2__)
  static const bins_pattern pattern;
  __m128i bad = _mm_setzero_si128();
  for (std::size_t i = 0; i < bins_bytes; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + i));
    const __m128i low = _mm_load_si128(reinterpret_cast<const __m128i*>(pattern.low + i));
    const __m128i high = _mm_load_si128(reinterpret_cast<const __m128i*>(pattern.high + i));
    // low <= v <= high, bytes taken as unsigned
    const __m128i inside = _mm_and_si128(_mm_cmpeq_epi8(_mm_max_epu8(v, low), v),
                                         _mm_cmpeq_epi8(_mm_min_epu8(v, high), v));
    bad = _mm_or_si128(bad, _mm_andnot_si128(inside, _mm_set1_epi8(-1)));
  }
  return _mm_movemask_epi8(bad) == 0 && is_blank(t[bins_bytes - 1]);
#else
  (void)t;
  return false;
#endif
}

// The detection-file parser: a cursor over [p, end), *end == NUL. The fast
// paths recognise the common tokens (short integers, plain decimals) in one
// scan; any other token is cut out whole and handed to the exact checks
// parse_int_token / parse_real_token, so acceptance is theirs in every case.
class detection_scanner {
 public:
  detection_scanner(const char* begin, const char* end) : p_(begin), end_(end) {}

  // Moves to the next token; false when only whitespace is left.
  bool next() {
    while (is_blank(*p_)) ++p_;  // the NUL at end_ stops it
    return p_ != end_;
  }

  // Reads the integer token at the cursor into `value` and moves past it.
  // False when it is not one; token() then is the token.
  bool integer(int& value) {
    const char* const t = p_;
    const bool negative = *t == '-';
    const char* const digits = t + (negative || *t == '+');
    const char* q = digits;
    // At most 9 digits never overflow; longer ones take the exact path.
    unsigned v = 0;
    while (is_digit(*q) && q - digits < 10) v = v * 10 + static_cast<unsigned>(*q++ - '0');
    if (q != digits && q - digits <= 9 && (q == end_ || is_blank(*q))) {
      value = negative ? -static_cast<int>(v) : static_cast<int>(v);
      p_ = q;
      return true;
    }
    tok_begin_ = t;
    p_ = tok_end_ = token_end(q, end_);
    return parse_int_token(tok_begin_, tok_end_, value);
  }

  // Whether the 64 bins of a record start at the cursor in histfeat's form
  // (see are_short_fraction_bins); if so, moves past the last of them.
  bool short_fraction_bins() {
    if (end_ - p_ < static_cast<std::ptrdiff_t>(bins_bytes) || !are_short_fraction_bins(p_))
      return false;
    p_ += bins_bytes - 1;
    return true;
  }

  // Checks the real token at the cursor and moves past it. False when it is
  // not one; token() then is the token.
  bool real() {
    const char* const t = p_;
    if (end_ - t > 8 && is_short_fraction(t)) {
      p_ = t + 8;
      return true;
    }
    const char* const q = scan_plain_decimal(t);
    if (q != nullptr && (q == end_ || is_blank(*q))) {
      p_ = q;
      return true;
    }
    tok_begin_ = t;
    p_ = tok_end_ = token_end(q != nullptr ? q : t, end_);
    float ignored;
    return parse_real_token(tok_begin_, tok_end_, ignored);
  }

  // Just past the last token read.
  const char* position() const { return p_; }

  // The token that integer() or real() turned down, quoted for a message.
  std::string token() const { return quote_token(tok_begin_, tok_end_); }

 private:
  const char* p_;
  const char* const end_;
  const char* tok_begin_ = nullptr;
  const char* tok_end_ = nullptr;
};

std::string record_prefix(int s) {
  return "record " + std::to_string(s + 1) + ": ";
}

}  // namespace

bool parse_detection_text(const char* begin, const char* end, std::vector<file_box>& boxes,
                          std::string& error, const char** stop) {
  boxes.clear();
  detection_scanner scan(begin, end);
  if (!scan.next()) {  // no count at all: no detections
    if (stop != nullptr) *stop = end;
    return true;
  }
  int count = 0;
  if (!scan.integer(count)) {
    error = "the count " + scan.token() + " is not an integer";
    return false;
  }
  if (count < 0) {
    error = "the count " + std::to_string(count) + " is negative";
    return false;
  }
  const auto incomplete = [&](int s, int t) {
    error = record_prefix(s) + "incomplete, the file ends after " + std::to_string(t) + " of its " +
            std::to_string(record_tokens) + " values";
    return false;
  };
  for (int s = 0; s < count; ++s) {
    file_box box;
    for (int t = 0; t < 4; ++t) {
      if (!scan.next()) return incomplete(s, t);
      if (!scan.integer(box[t])) {
        error = record_prefix(s) + scan.token() + " is not an integer";
        return false;
      }
    }
    for (int t = 4; t < record_tokens; ++t) {
      if (!scan.next()) return incomplete(s, t);
      if (t == 4 && scan.short_fraction_bins()) break;  // all 64 at once
      if (!scan.real()) {
        error = record_prefix(s) + scan.token() + " is not a number";
        return false;
      }
    }
    boxes.push_back(box);
  }
  if (stop != nullptr) *stop = scan.position();
  return true;
}

bool parse_detection_text(const std::string& text, std::vector<file_box>& boxes,
                          std::string& error) {
  return parse_detection_text(text.data(), text.data() + text.size(), boxes, error);
}

}  // namespace trackpair
