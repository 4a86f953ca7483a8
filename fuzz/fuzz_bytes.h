// fuzz/fuzz_bytes.h - reading fuzzer input as a stream of small numbers.
//
// The operation-sequence targets take their operations and operands from the
// input one value at a time; past the end every value is 0, so each input is
// a finite program.
#ifndef TAVO_FUZZ_BYTES_H
#define TAVO_FUZZ_BYTES_H

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

class fuzz_bytes {
 public:
  fuzz_bytes(const std::uint8_t* data, std::size_t size) : p_(data), end_(data + size) {}
  bool empty() const { return p_ == end_; }
  std::uint8_t byte() { return p_ == end_ ? 0 : *p_++; }
  // A value in 0 .. n-1 (n >= 1) from one byte.
  int below(int n) { return byte() % n; }
  // A signed value of two bytes.
  int small_int() { return static_cast<std::int16_t>(byte() | (byte() << 8)); }
  // A text of 0 .. max_length bytes taken from the input.
  std::string text(int max_length) {
    const int n = below(max_length + 1);
    std::string s;
    for (int i = 0; i < n && !empty(); ++i) s.push_back(static_cast<char>(byte()));
    return s;
  }

 private:
  const std::uint8_t* p_;
  const std::uint8_t* end_;
};

// A failed comparison: abort, which libFuzzer reports as a crash with the input.
inline void fuzz_require(bool ok) {
  if (!ok) std::abort();
}

// A parser's message: one line of printable ASCII that starts with the file's
// name as messages show it, then ':'.
inline void fuzz_require_message_naming(const std::string& message, const std::string& shown) {
  for (const char c : message) fuzz_require(c >= 0x20 && c <= 0x7e);
  fuzz_require(message.rfind(shown + ":", 0) == 0);
}

#endif  // TAVO_FUZZ_BYTES_H
