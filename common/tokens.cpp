// common/tokens.cpp - the integer grammar and the quoting (see tokens.h).
#include "common/tokens.h"

#include <climits>

namespace common {

bool parse_int_token(const char* begin, const char* end, int& value) {
  const char* p = begin;
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-')) negative = (*p++ == '-');
  if (p == end) return false;  // empty, or a sign alone
  // The bound keeps the magnitude from overflowing however many digits
  // follow (INT_MIN's magnitude is one more than INT_MAX).
  const long long bound = negative ? -static_cast<long long>(INT_MIN) : INT_MAX;
  long long magnitude = 0;
  for (; p < end; ++p) {
    if (static_cast<unsigned char>(*p - '0') > 9) return false;
    magnitude = magnitude * 10 + (*p - '0');
    if (magnitude > bound) return false;
  }
  value = static_cast<int>(negative ? -magnitude : magnitude);
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
