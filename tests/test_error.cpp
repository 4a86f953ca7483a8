// Tests of the error-report entry point, the standard handler, handler
// replacement, tavo_assert and the catching of fatal system signals.
//
// Fatal reports end the process: they run in death tests, which check the
// whole standard-error text and the signal the child died of.
#include "tavo/error.h"

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support.h"

namespace {

using namespace tavo_test;

// The whole standard-error text of a fatal report, as an anchored regex.
std::string whole_fatal_report(const std::string& msg) {
  return "^" + fatal_report(msg);
}

// Records the reports it is given and returns.
using report_list = std::vector<std::pair<int, std::string>>;
report_list reports;
void recording_handler(int code, const char* msg) {
  reports.emplace_back(code, msg);
}

// Installs recording_handler for one scope and puts the old handler back.
struct recording_scope {
  tavo_error_handler_type saved;
  recording_scope() : saved(set_error_handler(recording_handler)) { reports.clear(); }
  ~recording_scope() { set_error_handler(saved); }
};

// The current action of a signal, without changing it.
void (*action_of(int sig))(int) {
  struct sigaction now;
  sigaction(sig, nullptr, &now);
  return now.sa_handler;
}

// Saves the actions of the signals the library installs, restores them later.
struct signal_scope {
  static constexpr int signals[] = {SIGBUS, SIGSEGV, SIGILL, SIGINT};
  struct sigaction saved[4];
  signal_scope() {
    for (int i = 0; i < 4; ++i) sigaction(signals[i], nullptr, &saved[i]);
  }
  ~signal_scope() {
    for (int i = 0; i < 4; ++i) sigaction(signals[i], &saved[i], nullptr);
  }
};

// A real memory fault, out of the sanitizers' sight (they would report it
// before the signal is raised).
__attribute__((no_sanitize("address", "undefined"))) void write_through_null() {
  static int* volatile nowhere = nullptr;
  *nowhere = 1;
}

// ---- the standard handler -------------------------------------------------------

TEST(StandardHandler, WarningWritesFourLinesAndReturns) {
  bool returned = false;
  EXPECT_EQ(stderr_of([&] {
              error_handler(0, "x");
              returned = true;
            }),
            "\nTAVO WARNING\n\tx\n\n");
  EXPECT_TRUE(returned);
}

TEST(StandardHandler, NegativeCodeWritesTheErrorHeadingAndReturns) {
  EXPECT_EQ(stderr_of([] { error_handler(-1, "x"); }), "\nTAVO ERROR HANDLER\n\tx\n\n");
  EXPECT_EQ(stderr_of([] { error_handler(-999, ""); }), "\nTAVO ERROR HANDLER\n\t\n\n");
}

TEST(StandardHandler, NullMessageIsAnEmptyTextAndLaterReportsStillAppear) {
  EXPECT_EQ(stderr_of([] {
              error_handler(0, nullptr);
              error_handler(-1, "after");
            }),
            "\nTAVO WARNING\n\t\n\n\nTAVO ERROR HANDLER\n\tafter\n\n");
  EXPECT_TRUE(std::cerr.good());
  EXPECT_EXIT(error_handler(1, nullptr), testing::KilledBySignal(SIGABRT), whole_fatal_report(""));
}

TEST(StandardHandlerDeathTest, PositiveCodeWritesTwoEmptyLinesAndAborts) {
  for (int code : {1, 4, 999}) {
    EXPECT_EXIT(error_handler(code, "x"), testing::KilledBySignal(SIGABRT), whole_fatal_report("x"))
        << "code " << code;
  }
}

// The abort is observed by a SIGABRT handler in the child, which tells by
// its exit status whether SIGSEGV was back at its default action by then.
void exit_with_segv_state(int) {
  std::_Exit(action_of(SIGSEGV) == SIG_DFL ? 0 : 1);
}

TEST(StandardHandlerDeathTest, FatalReportSwitchesSignalCatchingOffBeforeAborting) {
  EXPECT_EXIT(
      {
        catch_system_errors(true);
        std::signal(SIGABRT, exit_with_segv_state);
        error_handler(1, "x");
      },
      testing::ExitedWithCode(0), whole_fatal_report("x"));
}

// ---- replacing the handler ------------------------------------------------------

TEST(SetErrorHandler, ReturnsTheHandlerItReplacesWhichRestoresIt) {
  const tavo_error_handler_type before = std_error_handler;
  EXPECT_EQ(before, &default_error_handler);
  const tavo_error_handler_type replaced = set_error_handler(recording_handler);
  EXPECT_EQ(replaced, before);
  reports.clear();
  EXPECT_EQ(stderr_of([] { error_handler(7, "to the recorder"); }), "");
  EXPECT_EQ(reports, (report_list{{7, "to the recorder"}}));

  EXPECT_EQ(set_error_handler(replaced), &recording_handler);
  EXPECT_EQ(stderr_of([] { error_handler(0, "w"); }), "\nTAVO WARNING\n\tw\n\n");
  EXPECT_EQ(reports.size(), 1u);
}

TEST(SetErrorHandler, NullOrTheEntryPointItselfInstallsTheStandardHandler) {
  const tavo_error_handler_type saved = set_error_handler(recording_handler);
  for (tavo_error_handler_type h : {tavo_error_handler_type(nullptr), &error_handler}) {
    set_error_handler(recording_handler);
    EXPECT_EQ(set_error_handler(h), &recording_handler);
    EXPECT_EQ(std_error_handler, &default_error_handler);
    // What it hands back is again safe to install.
    EXPECT_EQ(set_error_handler(std_error_handler), &default_error_handler);
    EXPECT_EQ(stderr_of([] { error_handler(0, "w"); }), "\nTAVO WARNING\n\tw\n\n");
  }
  set_error_handler(saved);
}

// ---- tavo_assert ----------------------------------------------------------------

TEST(TavoAssert, TrueConditionReportsNothing) {
  recording_scope scope;
  EXPECT_TRUE(tavo_assert(true, "never", 1));
  EXPECT_EQ(stderr_of([] { EXPECT_TRUE(tavo_assert(true, "never", 0)); }), "");
  EXPECT_TRUE(reports.empty());
}

TEST(TavoAssert, FalseConditionReportsTheMessageWithTheCodeAndReturnsFalse) {
  recording_scope scope;
  EXPECT_FALSE(tavo_assert(false, "m", 4));  // msg before code
  EXPECT_EQ(reports, (report_list{{4, "m"}}));
}

TEST(TavoAssertDeathTest, FalseConditionWithAPositiveCodeIsFatal) {
  EXPECT_EXIT(tavo_assert(false, "bad state", 1), testing::KilledBySignal(SIGABRT),
              whole_fatal_report("bad state"));
}

// ---- system errors --------------------------------------------------------------

TEST(SystemErrors, EachSignalHasItsOwnText) {
  recording_scope scope;
  const std::pair<int, const char*> cases[] = {
      {SIGINT, "Interrupt."},      {SIGILL, "Illegal instruction."},
      {SIGBUS, "Bus error."},      {SIGSEGV, "Segmentation violation."},
      {SIGTERM, "Unknown error."}, {0, "Unknown error."}};
  for (const auto& c : cases) handle_system_errors(c.first);
  ASSERT_EQ(reports.size(), std::size(cases));
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(reports[i],
              (std::pair<int, std::string>{1, std::string("System Error: ") + cases[i].second}));
  }
}

TEST(SystemErrors, CatchingCoversBusSegvAndIllOnlyAndCanBeUndone) {
  signal_scope saved;
  std::signal(SIGINT, SIG_IGN);
  catch_system_errors(true);
  for (int sig : {SIGBUS, SIGSEGV, SIGILL}) EXPECT_EQ(action_of(sig), &handle_system_errors);
  EXPECT_EQ(action_of(SIGINT), SIG_IGN);
  catch_system_errors(false);
  for (int sig : {SIGBUS, SIGSEGV, SIGILL}) EXPECT_EQ(action_of(sig), SIG_DFL);
  EXPECT_EQ(action_of(SIGINT), SIG_IGN);
}

TEST(SystemErrorsDeathTest, CaughtFaultBecomesAFatalReport) {
  EXPECT_EXIT((catch_system_errors(true), write_through_null()), testing::KilledBySignal(SIGABRT),
              whole_fatal_report("System Error: Segmentation violation."));
  EXPECT_EXIT((catch_system_errors(true), std::raise(SIGILL)), testing::KilledBySignal(SIGABRT),
              whole_fatal_report("System Error: Illegal instruction."));
  EXPECT_EXIT((catch_system_errors(true), std::raise(SIGBUS)), testing::KilledBySignal(SIGABRT),
              whole_fatal_report("System Error: Bus error."));
}

TEST(SystemErrorsDeathTest, UncaughtFaultKillsWithTheSignalAlone) {
  EXPECT_EXIT((catch_system_errors(true), catch_system_errors(false), write_through_null()),
              testing::KilledBySignal(SIGSEGV), "^$");
}

}  // namespace
