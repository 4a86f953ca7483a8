// Tests of the console input and timing helpers. The console is a pair of
// string streams put in place of std::cin's and std::cout's buffers for the
// length of a test.
#include "tavo/basic.h"
#include "tavo/error.h"
#include "tavo/runtime.h"

#include <sys/resource.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace {

// std::cin reads `input`; what goes to std::cout is kept in `out`.
class console {
 public:
  explicit console(const std::string& input) : in_(input) {
    old_in_ = std::cin.rdbuf(in_.rdbuf());
    old_out_ = std::cout.rdbuf(out_.rdbuf());
    std::cin.clear();
  }
  ~console() {
    std::cin.rdbuf(old_in_);
    std::cout.rdbuf(old_out_);
    std::cin.clear();
  }
  std::string out() const { return out_.str(); }
  // What std::cin has not read yet.
  std::string rest() {
    std::cin.clear();
    std::string r;
    for (int c; (c = std::cin.get()) != EOF;) r += char(c);
    return r;
  }

 private:
  std::istringstream in_;
  std::ostringstream out_;
  std::streambuf* old_in_;
  std::streambuf* old_out_;
};

using report_list = std::vector<std::pair<int, std::string>>;
report_list reports;
void recording_handler(int code, const char* msg) {
  reports.emplace_back(code, msg);
}

std::string illegal(char c) {
  return std::string("read_int: illegal input \"") + c + "\"\n";
}

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// ---- Yes and read_char ---------------------------------------------------------

TEST(ConsoleYes, OnlyAnAnswerStartingWithYIsTrue) {
  console c("Y\ny\nyes\nn\nN\n\nxy\n");
  for (bool expected : {true, true, true, false, false, false, false})
    EXPECT_EQ(Yes("Continue? "), expected);
  EXPECT_EQ(Yes(), false);  // end of input
  std::string prompts;
  for (int i = 0; i < 7; ++i) prompts += "Continue? ";
  EXPECT_EQ(c.out(), prompts);
}

TEST(ConsoleReadChar, EveryCallConsumesOneLine) {
  console c("\nab\n z\nq");
  EXPECT_EQ(read_char("? "), '\n');  // an empty line, whitespace is not skipped
  EXPECT_EQ(read_char(), 'a');       // "b" discarded
  EXPECT_EQ(read_char(), ' ');
  EXPECT_EQ(read_char(), 'q');   // a last line without its newline
  EXPECT_EQ(read_char(), '\0');  // end of input
  EXPECT_EQ(c.out(), "? ");
}

// ---- read_int -------------------------------------------------------------------

TEST(ConsoleReadInt, IllegalCharacterIsReportedAndThePromptRepeated) {
  console c("abc\n7\nnext\n");
  EXPECT_EQ(read_int("n = "), 7);
  EXPECT_EQ(c.out(), "n = " + illegal('a') + "n = ");
  EXPECT_EQ(c.rest(), "next\n");
}

TEST(ConsoleReadInt, RestOfTheLineIsDiscarded) {
  console c("12 abc\n  42xyz\n-5\n");
  EXPECT_EQ(read_int(), 12);
  EXPECT_EQ(read_int(), 42);
  EXPECT_EQ(read_int(), -5);
  EXPECT_EQ(c.out(), "");
}

TEST(ConsoleReadInt, EmptyLinesAreSkippedWhileWaiting) {
  console c("\n\n   \n\t5\nnext\n");
  EXPECT_EQ(read_int("n = "), 5);
  EXPECT_EQ(c.out(), "n = ");
  EXPECT_EQ(c.rest(), "next\n");
}

TEST(ConsoleReadInt, NewlineAsTheOffendingCharacterKeepsTheNextLine) {
  // The sign is taken by the extraction, which then stops at the newline.
  console c("-\n8\n");
  EXPECT_EQ(read_int("p"), 8);
  EXPECT_EQ(c.out(), "p" + illegal('\n') + "p");
}

TEST(ConsoleReadInt, EndOfInputIsReportedOnceInsteadOfAskingForEver) {
  const tavo_error_handler_type saved = set_error_handler(recording_handler);
  for (const char* input : {"", "x", "x\n", "\n\n  ", "-"}) {
    reports.clear();
    console c(input);
    EXPECT_EQ(read_int("p"), 0) << input;
    EXPECT_EQ(reports, (report_list{{1, "read_int: end of input"}})) << input;
  }
  set_error_handler(saved);
}

TEST(ConsoleReadIntDeathTest, EndOfInputIsFatalUnderTheStandardHandler) {
  EXPECT_EXIT(
      {
        console c("abc");
        read_int("n = ");
      },
      testing::KilledBySignal(SIGABRT), "^\nTAVO ERROR HANDLER\n\tread_int: end of input\n\n\n$");
}

// ---- read_real ------------------------------------------------------------------

TEST(ConsoleReadReal, NumberThenTheRestOfTheLineIsDiscarded) {
  console c("2.5 rest\n\n -1e3\n");
  EXPECT_EQ(read_real("x = "), 2.5);
  EXPECT_EQ(read_real("x = "), -1000.0);
  EXPECT_EQ(c.out(), "x = x = ");
}

TEST(ConsoleReadReal, NoNumberGivesZeroAndLeavesTheStreamUsable) {
  console c("abc def\n1e999\n4\n");
  EXPECT_EQ(read_real(), 0.0);
  EXPECT_EQ(read_real(), 0.0);  // out of range is no number either
  EXPECT_EQ(read_real(), 4.0);
  EXPECT_EQ(read_real(), 0.0);  // end of input, which the stream still shows
  EXPECT_TRUE(std::cin.eof());
  EXPECT_EQ(c.out(), "");  // no message
}

// ---- lines ------------------------------------------------------------------------

TEST(ConsoleReadString, ReturnsTheWholeLineWithoutItsNewline) {
  const std::string long_line(5000, 'q');
  console c(long_line + "\n  two words \n");
  EXPECT_EQ(std::string(read_string("> ").cstring()), long_line);
  EXPECT_EQ(std::string(read_string().cstring()), "  two words ");
  EXPECT_EQ(std::string(read_string().cstring()), "");  // end of input
  EXPECT_EQ(c.out(), "> ");
}

TEST(LineInput, ReadLineTakesEachLineOfAnyStream) {
  std::istringstream in("a b\n\nlast");
  std::vector<std::string> lines;
  for (int i = 0; i < 3; ++i) lines.emplace_back(read_line(in).cstring());
  EXPECT_EQ(lines, (std::vector<std::string>{"a b", "", "last"}));
  EXPECT_STREQ(read_line(in).cstring(), "");
  std::istringstream failed("text\n");
  failed.setstate(std::ios::failbit);
  EXPECT_STREQ(read_line(failed).cstring(), "");
}

TEST(LineInput, SkipLineDiscardsUpToTheNewlineOrStopsOnAFailedStream) {
  std::istringstream in("abc\n" + std::string(5000, 'x') + "\ndef");
  skip_line(in);
  skip_line(in);  // a long line is skipped whole
  EXPECT_EQ(in.peek(), 'd');
  in.setstate(std::ios::failbit);
  skip_line(in);
  in.clear();
  EXPECT_EQ(in.peek(), 'd');
  skip_line(in);  // no newline: up to the end
  EXPECT_TRUE(in.eof());
}

// ---- small helpers ----------------------------------------------------------------

TEST(Whitespace, ExactlyTheSixCharactersOfTheCLocale) {
  for (int i = -128; i < 128; ++i) {
    const char ch = static_cast<char>(i);
    const bool expected = ch != '\0' && std::strchr(" \t\n\v\f\r", ch) != nullptr;
    EXPECT_EQ(tavo_isspace(ch), expected) << i;
  }
}

TEST(Environment, SetVariableIsFoundEvenWhenEmpty) {
  const char* name = "TAVO_TEST_BASIC_VARIABLE";
  unsetenv(name);
  tavo_string value("untouched");
  EXPECT_FALSE(get_environment(name));
  EXPECT_FALSE(get_environment(name, value));
  EXPECT_STREQ(value.cstring(), "untouched");
  setenv(name, "", 1);
  EXPECT_TRUE(get_environment(name));
  EXPECT_TRUE(get_environment(name, value));
  EXPECT_STREQ(value.cstring(), "");
  setenv(name, "some text", 1);
  EXPECT_TRUE(get_environment(name, value));
  EXPECT_STREQ(value.cstring(), "some text");
  unsetenv(name);
}

// ---- timing -------------------------------------------------------------------------

TEST(Timing, PrintTimeWritesTheTextThenTheTimeOnOneLine) {
  char before[32], after[32];
  std::snprintf(before, sizeof before, "%.2f", double(TAVO::used_time()));
  std::string printed;
  {
    console c("");
    print_time("sort");
    printed = c.out();
  }
  std::snprintf(after, sizeof after, "%.2f", double(TAVO::used_time()));
  EXPECT_TRUE(printed == std::string("sort time = ") + before + " sec\n" ||
              printed == std::string("sort time = ") + after + " sec\n")
      << printed;
}

TEST(Timing, UsedTimeFormsMeasureFromTheStoredMoment) {
  float t = 0;
  const float total = used_time(t);
  EXPECT_EQ(total, t);
  EXPECT_NEAR(used_time(), TAVO::used_time(), 0.02);
  const float again = used_time(t);
  EXPECT_GE(again, 0.0f);
  EXPECT_LT(again, 0.05f);
}

TEST(Timing, WaitBlocksForTheDuration) {
  const auto start = std::chrono::steady_clock::now();
  tavo_wait(0.25);
  EXPECT_GE(seconds_since(start), 0.24);  // only the lower bound is sure
  // No wait at all for 0 or less: the thread never gives up the processor
  // to wait (being preempted on a busy machine is counted apart).
  const auto waits = [] {
    rusage usage;
    getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_nvcsw;
  };
  const long before = waits();
  tavo_wait(0);
  tavo_wait(-3);
  EXPECT_EQ(waits(), before);
}

}  // namespace
