// Helpers shared by the library's tests: captured standard error, the
// standard handler's fatal report as a death-test pattern, chunk counts.
#ifndef TAVO_TESTS_SUPPORT_H
#define TAVO_TESTS_SUPPORT_H

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "tavo/memory.h"

namespace tavo_test {

// What f() writes on standard error.
template <typename F>
std::string stderr_of(F&& f) {
  testing::internal::CaptureStderr();
  f();
  return testing::internal::GetCapturedStderr();
}

// text with every regex metacharacter escaped.
inline std::string regex_escaped(const std::string& text) {
  std::string re;
  for (char c : text) {
    if (std::strchr("\\^$.|?*+()[]{}", c) != nullptr) re += '\\';
    re += c;
  }
  return re;
}

// The end of the standard handler's output for a fatal error with message
// msg, as a death-test pattern: heading, message, the two empty lines.
inline std::string fatal_report(const std::string& msg) {
  return regex_escaped("\nTAVO ERROR HANDLER\n\t" + msg + "\n\n\n") + "$";
}

// Chunks of class s of std_memory_mgr currently in use.
inline std::int64_t used_chunks(int s) {
  return std_memory_mgr.blocks(s) ? std_memory_mgr.chunks(s) - std_memory_mgr.free_chunks(s) : 0;
}

}  // namespace tavo_test

#endif  // TAVO_TESTS_SUPPORT_H
