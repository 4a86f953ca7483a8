// Fuzz target: common::parse_integer, the one integer grammar, against
// strtoll over the same bytes.
//
// The first 16 bytes give the range [min, max] (swapped when min > max; a
// byte picks ranges at the long long limits too), the rest is the token.
// Checks: the token is of the grammar exactly when strtoll reads all of it
// and it holds only a sign and digits; then it reads the value strtoll
// reads, or strtoll's clamped value is the limit passed and the token is out
// of range; out_of_range exactly when that value lies outside [min, max];
// `value` is written only on success; parse_int_token agrees on the int range.
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "common/tokens.h"
#include "fuzz/fuzz_bytes.h"

namespace {

long long take_bound(fuzz_bytes& in) {
  switch (in.below(4)) {
    case 0:
      return LLONG_MIN + in.below(3);
    case 1:
      return LLONG_MAX - in.below(3);
    default: {
      std::uint64_t v = 0;
      for (int i = 0; i < 8; ++i) v = v << 8 | in.byte();
      return static_cast<long long>(v);
    }
  }
}

// Of the grammar's alphabet: an optional sign, then at least one digit.
bool sign_and_digits(const std::string& t) {
  std::size_t i = !t.empty() && (t[0] == '+' || t[0] == '-') ? 1 : 0;
  if (i == t.size()) return false;
  for (; i < t.size(); ++i)
    if (t[i] < '0' || t[i] > '9') return false;
  return true;
}

// The token's exact magnitude compared with |limit|: its significant digits
// against the limit's, as strings. -1, 0, 1.
int compare_magnitude(const std::string& digits, unsigned long long limit) {
  std::size_t i = 0;
  while (i < digits.size() && digits[i] == '0') ++i;
  const std::string token = digits.substr(i), bound = limit == 0 ? "" : std::to_string(limit);
  if (token.size() != bound.size()) return token.size() < bound.size() ? -1 : 1;
  return token.compare(bound) < 0 ? -1 : token.compare(bound) > 0 ? 1 : 0;
}

unsigned long long magnitude_of(long long v) {
  return v < 0 ? 0ULL - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz_bytes in(data, size);
  long long min = take_bound(in), max = take_bound(in);
  if (min > max) std::swap(min, max);
  const std::size_t used = size < 18 ? size : 18;
  const std::string token(reinterpret_cast<const char*>(data) + used, size - used);

  const long long untouched = 0x5a5a5a5a5a5a5a5a;
  long long value = untouched;
  const common::integer_read got = common::parse_integer(token, min, max, value);

  // strtoll over the same bytes: a NUL ends its reading, so a token holding
  // one is never read whole.
  errno = 0;
  char* end = nullptr;
  const long long expected = std::strtoll(token.c_str(), &end, 10);
  const bool overflow = errno == ERANGE;
  const bool whole = end == token.c_str() + token.size() && !token.empty();
  const bool of_grammar = whole && sign_and_digits(token);
  fuzz_require((got != common::integer_read::not_integer) == of_grammar);
  if (!of_grammar) {
    fuzz_require(value == untouched);
    return 0;
  }
  // The token's value against the range, exactly (digits compared as text,
  // for values beyond long long).
  const bool negative = token[0] == '-';
  const std::string digits = token.substr(token[0] == '+' || token[0] == '-' ? 1 : 0);
  bool below_min, above_max;
  if (negative) {
    // -m < min: always for min > 0, for min = 0 unless m = 0.
    below_min = min > 0 || (min == 0 ? compare_magnitude(digits, 0) > 0
                                     : compare_magnitude(digits, magnitude_of(min)) > 0);
    above_max = max < 0 && compare_magnitude(digits, magnitude_of(max)) < 0;
  } else {
    above_max = max < 0 || compare_magnitude(digits, static_cast<unsigned long long>(max)) > 0;
    below_min = min > 0 && compare_magnitude(digits, static_cast<unsigned long long>(min)) < 0;
  }
  const bool outside = below_min || above_max;
  fuzz_require((got == common::integer_read::out_of_range) == outside);
  if (outside) {
    fuzz_require(value == untouched);
  } else {
    // Within a long long range: strtoll read it exactly.
    fuzz_require(!overflow && got == common::integer_read::ok && value == expected);
  }
  if (overflow) fuzz_require(expected == (negative ? LLONG_MIN : LLONG_MAX) && outside == true);

  int as_int = 0x5a5a5a5a;
  const bool fits = common::parse_int_token(token, as_int);
  long long wide = 0;
  const common::integer_read in_int = common::parse_integer(token, INT_MIN, INT_MAX, wide);
  fuzz_require(fits == (in_int == common::integer_read::ok));
  fuzz_require(fits ? as_int == wide : as_int == 0x5a5a5a5a);
  return 0;
}
