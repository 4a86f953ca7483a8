// Fuzz target: the formatting constructors of tavo_string against snprintf.
//
// The input chooses a format from a grammar that keeps the arguments matching
// the conversions (printf's precondition): literal text with "%%" pairs, one
// conversion for the first argument x of a chosen type with flags, width (up
// to 1999, so that results outgrow the 512-byte work buffers) and precision,
// or "%*d" where x is the width; then literal text and optionally a second
// conversion "%d" for one further int.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_bytes.h"
#include "tavo/string.h"

namespace {

std::string literal(fuzz_bytes& in) {
  std::string s;
  const int n = in.below(12);
  for (int i = 0; i < n; ++i) {
    const int c = in.below(70);
    if (c == 0) {
      s += "%%";
    } else {
      s.push_back(static_cast<char>(' ' + c % 95));
      if (s.back() == '%') s.push_back('%');
    }
  }
  return s;
}

std::string flags_width_precision(fuzz_bytes& in, bool allow_precision) {
  static const char flag_chars[] = "-+ #0";
  std::string s;
  const int flags = in.below(32);
  for (int b = 0; b < 5; ++b) {
    if ((flags >> b) & 1) s.push_back(flag_chars[b]);
  }
  if (in.below(2) == 0) s += std::to_string(in.below(4) == 0 ? in.below(2000) : in.below(20));
  if (allow_precision && in.below(2) == 0) s += "." + std::to_string(in.below(30));
  return s;
}

// snprintf's text for any length.
template <class... Args>
std::string printed(const char* format, Args... args) {
  const int n = std::snprintf(nullptr, 0, format, args...);
  if (n < 0) return "";
  std::vector<char> buffer(static_cast<std::size_t>(n) + 1);
  std::snprintf(buffer.data(), buffer.size(), format, args...);
  return std::string(buffer.data(), static_cast<std::size_t>(n));
}

template <class X>
void check(const std::string& head, const std::string& tail, bool second, X x, int y) {
  const std::string format = head + tail;
  if (second) {
    const tavo_string t(format.c_str(), x, y);
    fuzz_require(std::string(t.cstring(), static_cast<std::size_t>(t.length())) ==
                 printed(format.c_str(), x, y));
  } else {
    const tavo_string t(format.c_str(), x);
    fuzz_require(std::string(t.cstring(), static_cast<std::size_t>(t.length())) ==
                 printed(format.c_str(), x));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz_bytes in(data, size);
  const std::string prefix = literal(in);
  const int type = in.below(9);
  const std::string middle = literal(in);
  const bool second = in.below(2) == 0;
  const std::string tail = middle + (second ? "%d" : "") + literal(in);
  const int y = in.small_int();
  const std::int64_t raw =
      static_cast<std::int64_t>(in.small_int()) * (std::int64_t{1} << (in.below(4) * 12));

  static const char int_conv[] = "dixXou";
  static const char real_conv[] = "feEgGaA";
  switch (type) {
    case 0:
      check(prefix + "%" + flags_width_precision(in, true) + int_conv[in.below(6)], tail, second,
            static_cast<int>(raw), y);
      break;
    case 1:
      check(prefix + "%" + flags_width_precision(in, true) + "l" + int_conv[in.below(6)], tail,
            second, static_cast<long>(raw), y);
      break;
    case 2:
      check(prefix + "%" + flags_width_precision(in, true) + "lu", tail, second,
            static_cast<unsigned long>(raw), y);
      break;
    case 3: {
      const double scale[] = {1.0, 1e-5, 1e20, 1e300};
      check(prefix + "%" + flags_width_precision(in, true) + real_conv[in.below(7)], tail, second,
            static_cast<double>(raw) * scale[in.below(4)], y);
      break;
    }
    case 4:
      check(prefix + "%" + flags_width_precision(in, true) + real_conv[in.below(7)], tail, second,
            static_cast<float>(raw) / 7.0f, y);
      break;
    case 5: {
      const std::string text = in.text(24);
      std::string clean;
      for (char c : text) clean.push_back(c == '\0' ? '.' : c);
      check(prefix + "%" + flags_width_precision(in, true) + "s", tail, second, clean.c_str(), y);
      break;
    }
    case 6:
      check(prefix + "%" + flags_width_precision(in, false) + "c", tail, second,
            static_cast<char>(' ' + in.below(95)), y);
      break;
    case 7: {  // x is the width: "%*d" takes x, then the int for d
      const int width = in.below(4) == 0 ? in.below(1500) - 500 : in.below(20);
      const std::string format = prefix + "%*d" + literal(in);
      const tavo_string t(format.c_str(), width, y);
      fuzz_require(std::string(t.cstring(), static_cast<std::size_t>(t.length())) ==
                   printed(format.c_str(), width, y));
      break;
    }
    case 8:
      check(prefix + "%" + flags_width_precision(in, true) + "hd", tail, second,
            static_cast<short>(raw), y);
      break;
  }
  return 0;
}
