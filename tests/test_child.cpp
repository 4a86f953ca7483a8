// The runner of the end-to-end tests (tests/child.h): what the child
// inherits, the exit status when a signal interrupts the wait, and the
// scratch files it writes.
#include "tests/child.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <string>

namespace {

using tavo_test::run_child;

TEST(ChildRunner, OnlyTheStandardDescriptorsReachTheChild) {
  // A descriptor the test holds without close-on-exec, above and below the
  // usual range; the shell reports which of them it still has.
  const int low = ::open("/dev/null", O_RDONLY);
  ASSERT_GE(low, 3);
  const int high = ::fcntl(low, F_DUPFD, 200);
  ASSERT_GE(high, 200);
  const std::string probe = "for f in 0 1 2 " + std::to_string(low) + " " + std::to_string(high) +
                            "; do test -e /proc/self/fd/$f && echo $f; done; exit 0";
  const auto r = run_child({"/bin/sh", "-c", probe});
  ::close(low);
  ::close(high);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "0\n1\n2\n");
}

volatile sig_atomic_t usr1_seen = 0;
void note_usr1(int) {
  usr1_seen = 1;
}

TEST(ChildRunner, ASignalDuringTheWaitDoesNotLoseTheStatus) {
  // A handler without SA_RESTART: the child's signal interrupts wait4.
  struct sigaction on {
  }, old{};
  on.sa_handler = note_usr1;
  ASSERT_EQ(::sigaction(SIGUSR1, &on, &old), 0);
  const auto r = run_child({"/bin/sh", "-c", "kill -USR1 $PPID; exit 3"});
  ::sigaction(SIGUSR1, &old, nullptr);
  EXPECT_EQ(usr1_seen, 1);
  EXPECT_EQ(r.status, 3);
}

TEST(ChildRunner, AScratchFileThatCannotBeWrittenThrows) {
  const tavo_test::scratch_dir dir;
  EXPECT_EQ(tavo_test::file_text(dir.write("a", "text")), "text");
  EXPECT_THROW(dir.write("no-such-dir/a", "text"), std::runtime_error);
}

}  // namespace
