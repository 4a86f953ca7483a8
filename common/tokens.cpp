// common/tokens.cpp - the integer grammar and the quoting (see tokens.h).
#include "common/tokens.h"

#include <climits>

namespace common {

integer_read parse_integer(const char* begin, const char* end, long long min, long long max,
                           long long& value) {
  const char* p = begin;
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-')) negative = (*p++ == '-');
  if (p == end) return integer_read::not_integer;  // empty, or a sign alone
  // The common token, 18 digits at most, is below 10^18 < 2^63: read with no
  // bound to check per digit (what the tracks file's rows mostly hold), then
  // compared with the range. The same answer as the loop below, faster.
  if (end - p <= 18) {
    unsigned long long magnitude = 0;
    for (; p < end; ++p) {
      const unsigned digit = static_cast<unsigned char>(*p - '0');
      if (digit > 9) return integer_read::not_integer;
      magnitude = magnitude * 10 + digit;
    }
    const long long v =
        negative ? -static_cast<long long>(magnitude) : static_cast<long long>(magnitude);
    if (v < min || v > max) return integer_read::out_of_range;
    value = v;
    return integer_read::ok;
  }
  // The magnitude stops growing once it would pass the largest the range
  // allows, so that no count of digits overflows it; the grammar is still
  // checked to the end.
  const unsigned long long bound =
      negative ? (min < 0 ? 0ULL - static_cast<unsigned long long>(min) : 0ULL)
               : (max > 0 ? static_cast<unsigned long long>(max) : 0ULL);
  unsigned long long magnitude = 0;
  bool beyond = false;
  for (; p < end; ++p) {
    const unsigned digit = static_cast<unsigned char>(*p - '0');
    if (digit > 9) return integer_read::not_integer;
    if (beyond) continue;
    beyond = magnitude > bound / 10 || (magnitude == bound / 10 && digit > bound % 10);
    if (!beyond) magnitude = magnitude * 10 + digit;
  }
  if (beyond) return integer_read::out_of_range;
  // Within the bound: the value fits long long (-magnitude included).
  const long long v =
      negative ? static_cast<long long>(0ULL - magnitude) : static_cast<long long>(magnitude);
  if (v < min || v > max) return integer_read::out_of_range;
  value = v;
  return integer_read::ok;
}

bool read_short_decimal(const char*& p, const char* end, double& value) {
  static constexpr double kPow10[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                      1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
  const char* q = p;
  const bool negative = q < end && *q == '-';
  if (q < end && (*q == '-' || *q == '+')) ++q;
  unsigned long long mantissa = 0;
  int digits = 0, fraction = 0;
  for (; q < end && static_cast<unsigned char>(*q - '0') <= 9 && digits <= 15; ++q, ++digits)
    mantissa = mantissa * 10 + static_cast<unsigned>(*q - '0');
  if (q < end && *q == '.') {
    for (++q; q < end && static_cast<unsigned char>(*q - '0') <= 9 && digits <= 15;
         ++q, ++digits, ++fraction)
      mantissa = mantissa * 10 + static_cast<unsigned>(*q - '0');
  }
  if (digits == 0 || digits > 15) return false;
  const double v = static_cast<double>(mantissa) / kPow10[fraction];
  value = negative ? -v : v;
  p = q;
  return true;
}

bool parse_short_decimal(const char* begin, const char* end, double& value) {
  const char* p = begin;
  double v = 0;
  if (!read_short_decimal(p, end, v) || p != end) return false;
  value = v;
  return true;
}

namespace {

// What a byte is to the field splitter: 0 a field's byte, 1 a blank (space,
// tab, CR), 2 a comma. One load a byte in the scanning loops.
struct byte_kinds {
  unsigned char kind[256] = {};
  constexpr byte_kinds() {
    kind[static_cast<unsigned char>(' ')] = kind[static_cast<unsigned char>('\t')] =
        kind[static_cast<unsigned char>('\r')] = 1;
    kind[static_cast<unsigned char>(',')] = 2;
  }
};
constexpr byte_kinds kByteKinds;

}  // namespace

int split_fields(const char* p, const char* end, field* out, int max) {
  const auto kind = [](const char* q) { return kByteKinds.kind[static_cast<unsigned char>(*q)]; };
  int n = 0;
  while (p < end && kind(p) == 1) ++p;
  while (p < end && n < max) {
    const char* start = p;
    while (p < end && kind(p) == 0) ++p;
    if (p == start) return -1 - n;  // a comma where a value belongs
    out[n++] = field{start, p};
    while (p < end && kind(p) == 1) ++p;
    if (p < end && *p == ',') {
      ++p;
      while (p < end && kind(p) == 1) ++p;
      if (p == end && n < max) return -1 - n;
    }
  }
  return n;
}

bool parse_int_token(const char* begin, const char* end, int& value) {
  long long v = 0;
  if (parse_integer(begin, end, INT_MIN, INT_MAX, v) != integer_read::ok) return false;
  value = static_cast<int>(v);
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

std::string shown_name(const std::string& name) {
  for (const char c : name)
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7f)
      return quote_token(name);
  return name;
}

std::string in_folder(const std::string& dir, const std::string& name) {
  return dir.empty() || dir.back() == '/' ? dir + name : dir + "/" + name;
}

}  // namespace common
