// Helpers shared by the library's tests: captured standard error, the
// standard handler's fatal report as a death-test pattern, a handler that
// records reports and returns, chunk counts.
#ifndef TAVO_TESTS_SUPPORT_H
#define TAVO_TESTS_SUPPORT_H

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "tavo/error.h"
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

// One report made to the error handler.
struct report {
  int code;
  std::string msg;
};

// For its own lifetime: a handler that records every report and returns, as
// an application's handler may; the previous handler is put back after.
class report_recorder {
 public:
  report_recorder() : saved_(set_error_handler(&record)) { reports().clear(); }
  ~report_recorder() { set_error_handler(saved_); }
  report_recorder(const report_recorder&) = delete;
  report_recorder& operator=(const report_recorder&) = delete;

  // The reports made so far, oldest first.
  static std::vector<report>& reports() {
    static std::vector<report> made;
    return made;
  }

 private:
  static void record(int code, const char* msg) {
    reports().push_back({code, msg != nullptr ? msg : "(null)"});
  }
  tavo_error_handler_type saved_;
};

// Chunks of class s of std_memory_mgr currently in use.
inline std::int64_t used_chunks(int s) {
  return std_memory_mgr.blocks(s) ? std_memory_mgr.chunks(s) - std_memory_mgr.free_chunks(s) : 0;
}

}  // namespace tavo_test

#endif  // TAVO_TESTS_SUPPORT_H
