// Tests of the library's start-up and environment: the floating-point
// control word, the environment options and their echo, the start-up in
// either unit order with the memory reports at exit (through the link-order
// programs, run as child processes), processor time, sleeping, the
// stack-trace hook, the compiler string and logging.
#include "tavo/runtime.h"

#include <fcntl.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support.h"

extern char** environ;

namespace {

using namespace tavo_test;

std::string file_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Sets or (value null) removes an environment variable for one scope.
class env_scope {
 public:
  env_scope(const char* name, const char* value) : name_(name) {
    const char* old = std::getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    if (value != nullptr) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~env_scope() {
    if (had_) {
      setenv(name_, old_.c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  bool had_;
  std::string old_;
};

// Keeps the options read_options() sets, and puts them back afterwards.
struct options_scope {
  char* option_list = TAVO::option_list;
  int node = TAVO::node_data_slots;
  int edge = TAVO::edge_data_slots;
  env_scope no_node{"TAVO_NODE_DATA", nullptr};
  env_scope no_edge{"TAVO_EDGE_DATA", nullptr};
  env_scope no_catch{"TAVO_CATCH_SYSTEM_ERRORS", nullptr};
  env_scope no_log{"TAVO_NO_LOG", nullptr};
  // read_options() once more with the variables above unset (they are put
  // back after this body): logging on, signal catching as it is.
  ~options_scope() {
    TAVO::read_options();
    TAVO::option_list = option_list;
    TAVO::node_data_slots = node;
    TAVO::edge_data_slots = edge;
  }
};

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// User processor time as getrusage reports it.
double rusage_user_seconds() {
  rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_utime.tv_sec) + double(usage.ru_utime.tv_usec) / 1e6;
}

double rusage_system_seconds() {
  rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return double(usage.ru_stime.tv_sec) + double(usage.ru_stime.tv_usec) / 1e6;
}

// The times this thread has given up the processor to wait: a call that
// blocks adds at least one, one that returns at once adds none, however busy
// the machine (being preempted is counted apart).
long waits_so_far() {
  rusage usage;
  getrusage(RUSAGE_THREAD, &usage);
  return usage.ru_nvcsw;
}

// ---- start-up -------------------------------------------------------------------

#if defined(__i386__) || defined(__x86_64__)
TEST(Startup, X87ControlWordIsSetBeforeMain) {
  auto control_word = [] {
    unsigned short word;
    __asm__ volatile("fnstcw %0" : "=m"(word));
    return word;
  };
  EXPECT_EQ(control_word(), 0x127F);
  const unsigned short extended = 0x037F;
  __asm__ volatile("fldcw %0" : : "m"(extended));
  EXPECT_EQ(tavo_init_fpu(), 0);
  EXPECT_EQ(control_word(), 0x127F);
}
#endif

TEST(Startup, OptionTextComesFromTavoInit) {
  options_scope keep;
  {
    env_scope init("TAVO_INIT", "show_memory_leaks");
    EXPECT_EQ(stderr_of([] { TAVO::read_options(); }), "");
    EXPECT_STREQ(TAVO::option_list, "show_memory_leaks");
  }
  env_scope no_init("TAVO_INIT", nullptr);
  TAVO::read_options();
  EXPECT_EQ(TAVO::option_list, nullptr);
}

TEST(Startup, SlotCountsAreEchoedWhenEitherIsSet) {
  options_scope keep;
  TAVO::node_data_slots = 0;
  TAVO::edge_data_slots = 0;
  auto echo = [](int node, int edge) {
    return "\nnode_data_slots = " + std::to_string(node) +
           "\nedge_data_slots = " + std::to_string(edge) + "\n\n";
  };
  EXPECT_EQ(stderr_of([] { TAVO::read_options(); }), "");  // neither set
  {
    env_scope node("TAVO_NODE_DATA", "5");
    EXPECT_EQ(stderr_of([] { TAVO::read_options(); }), echo(5, 0));
  }
  {
    // Only the edge count is set, to no number: it becomes 0 and the node
    // count shows its current value.
    env_scope edge("TAVO_EDGE_DATA", "abc");
    TAVO::edge_data_slots = 9;
    EXPECT_EQ(stderr_of([] { TAVO::read_options(); }), echo(5, 0));
  }
  env_scope node("TAVO_NODE_DATA", "-3x");
  env_scope edge("TAVO_EDGE_DATA", " 12");
  EXPECT_EQ(stderr_of([] { TAVO::read_options(); }), echo(-3, 12));
  EXPECT_EQ(TAVO::node_data_slots, -3);
  EXPECT_EQ(TAVO::edge_data_slots, 12);
}

// ---- start-up in either unit order (child processes) ----------------------------

struct run_result {
  int status = -1;
  std::string out, err;
};

// Runs `program` with `args`, in the test's environment without any TAVO_
// variable plus `env`, and collects its standard output and error.
run_result run(const char* program, std::vector<std::string> args, std::vector<std::string> env) {
  std::string asan_options = "ASAN_OPTIONS=";
  for (char** e = environ; *e != nullptr; ++e) {
    if (std::strncmp(*e, "ASAN_OPTIONS=", 13) == 0) {
      asan_options = std::string(*e) + ":";
    } else if (std::strncmp(*e, "TAVO_", 5) != 0) {
      env.emplace_back(*e);
    }
  }
#if defined(__SANITIZE_ADDRESS__)
  asan_options += "handle_segv=0";  // the program's fault is its own
#endif
  env.push_back(asan_options);
  char out_path[] = "/tmp/tavo_runtime_out.XXXXXX";
  char err_path[] = "/tmp/tavo_runtime_err.XXXXXX";
  const int out_fd = mkstemp(out_path);
  const int err_fd = mkstemp(err_path);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out_fd, 1);
  posix_spawn_file_actions_adddup2(&actions, err_fd, 2);
  std::vector<char*> argv{const_cast<char*>(program)};
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  run_result result;
  pid_t pid;
  if (posix_spawn(&pid, program, &actions, nullptr, argv.data(), envp.data()) == 0) {
    waitpid(pid, &result.status, 0);
  }
  posix_spawn_file_actions_destroy(&actions);
  close(out_fd);
  close(err_fd);
  result.out = file_text(out_path);
  result.err = file_text(err_path);
  unlink(out_path);
  unlink(err_path);
  return result;
}

struct link_order {
  const char* name;
  const char* program;
  int guards;  // counted when the main unit's static objects are built
};
// Reverse: the main unit's guard is the first. Forward: every library unit's
// guard comes before it.
const link_order kOrders[] = {{"reverse", LINK_ORDER_REVERSE_EXE, 1},
                              {"forward", LINK_ORDER_FORWARD_EXE, LINK_ORDER_UNITS + 1}};

std::string expected_stdout(int guards) {
  return "guards " + std::to_string(guards) +
         "\nmanager STD_MEMORY_MGR STD_MEMORY_MGR\ntext 3 chunks before main\n"
         "table 10=v10 20=v20 30=v30\n";
}

bool exited_with(int status, int code) {
  return WIFEXITED(status) && WEXITSTATUS(status) == code;
}
bool killed_by(int status, int sig) {
  return WIFSIGNALED(status) && WTERMSIG(status) == sig;
}

TEST(StartupOrder, EitherUnitOrderBuildsStaticObjectsBeforeMainAndPrintsNothing) {
  for (const link_order& order : kOrders) {
    const run_result r = run(order.program, {}, {});
    EXPECT_TRUE(exited_with(r.status, 0)) << order.name;
    EXPECT_EQ(r.out, expected_stdout(order.guards)) << order.name;
    EXPECT_EQ(r.err, "") << order.name;
  }
}

TEST(StartupOrder, SlotOptionIsEchoedOnceAtStartUp) {
  for (const link_order& order : kOrders) {
    const run_result r = run(order.program, {}, {"TAVO_NODE_DATA=5"});
    EXPECT_TRUE(exited_with(r.status, 0)) << order.name;
    EXPECT_EQ(r.err, "\nnode_data_slots = 5\nedge_data_slots = 0\n\n") << order.name;
  }
}

// TAVO_CATCH_SYSTEM_ERRORS set, even to nothing, switches catching on.
TEST(StartupOrder, CaughtFaultIsReportedAndUncaughtOneKills) {
  for (const link_order& order : kOrders) {
    const run_result caught = run(order.program, {"segv"}, {"TAVO_CATCH_SYSTEM_ERRORS="});
    EXPECT_TRUE(killed_by(caught.status, SIGABRT)) << order.name;
    EXPECT_EQ(caught.err, "\nTAVO ERROR HANDLER\n\tSystem Error: Segmentation violation.\n\n\n")
        << order.name;
    const run_result uncaught = run(order.program, {"segv"}, {});
    EXPECT_TRUE(killed_by(uncaught.status, SIGSEGV)) << order.name;
    EXPECT_EQ(uncaught.err, "") << order.name;
  }
}

// One row of a memory table: size, used, free, blocks, bytes.
struct table_row {
  long size, used, free, blocks, bytes;
};
const std::regex kRow(
    R"(\t\|   ([ 0-9]{3})    ([ 0-9]{6})   ([ 0-9]{6})    ([ 0-9]{6})   ([ 0-9]{8})    \|\n)");
const std::string kRule = "\t+--------------------------------------------------+\n";
const std::string kRuleRe = "\t\\+-{50}\\+\n";
const std::string kHead = "\t|   size     used     free     blocks     bytes    |\n";

// Reads "\n\t STD_MEMORY_MGR (<title>)\n", the frame, the class rows, the
// vector row (if any), the closing rule and time line from text at `at`.
// Returns false (with a failure) when the text does not have that shape.
bool parse_table(const std::string& text, std::size_t& at, const std::string& title,
                 std::vector<table_row>& rows, long& vector_count, long& vector_bytes,
                 double& space) {
  const std::string head = "\n\t STD_MEMORY_MGR (" + title + ")\n" + kRule + kHead + kRule;
  if (text.compare(at, head.size(), head) != 0) {
    ADD_FAILURE() << "no " << title << " table at " << at << " in:\n" << text;
    return false;
  }
  at += head.size();
  std::smatch m;
  while (std::regex_search(text.begin() + long(at), text.end(), m, kRow,
                           std::regex_constants::match_continuous)) {
    rows.push_back(
        {std::stol(m[1]), std::stol(m[2]), std::stol(m[3]), std::stol(m[4]), std::stol(m[5])});
    at += std::size_t(m.length(0));
  }
  const std::regex vec(R"(\t\| > 255         -        -    ([ 0-9]{6})   ([ 0-9]{8})    \|\n)");
  vector_count = vector_bytes = 0;
  if (std::regex_search(text.begin() + long(at), text.end(), m, vec,
                        std::regex_constants::match_continuous)) {
    vector_count = std::stol(m[1]);
    vector_bytes = std::stol(m[2]);
    at += std::size_t(m.length(0));
  }
  const std::regex tail(kRuleRe + "\t\\|   time:[ 0-9]{3}\\.[0-9]{2} sec              space:" +
                        "( *[0-9]+\\.[0-9]{2}) kb \\|\n" + kRuleRe + "\n");
  if (!std::regex_search(text.begin() + long(at), text.end(), m, tail,
                         std::regex_constants::match_continuous)) {
    ADD_FAILURE() << "no closing lines of the " << title << " table at " << at << " in:\n" << text;
    return false;
  }
  space = std::stod(m[1]);
  at += std::size_t(m.length(0));
  return true;
}

// Chunks in a standard block of class s: whole words, at least one pointer.
long chunks_per_block(long s) {
  long u = (s + 3) / 4 * 4;
  if (u < long(sizeof(void*))) u = long(sizeof(void*));
  return 8188 / u - 1;
}

TEST(StartupOrder, ExitPrintsTheLeakReportBeforeTheStatistics) {
  for (const link_order& order : kOrders) {
    for (const char* init : {"TAVO_INIT=show_memory_leaks show_memory_statistics",
                             "TAVO_INIT=show_memory_statistics,show_memory_leaks"}) {
      SCOPED_TRACE(std::string(order.name) + " " + init);
      const run_result r = run(order.program, {}, {init});
      EXPECT_TRUE(exited_with(r.status, 0));
      EXPECT_EQ(r.out, expected_stdout(order.guards));

      std::size_t at = 0;
      std::vector<table_row> leaks, stats;
      long leak_vectors, leak_vector_bytes, vectors, vector_bytes;
      double leak_space, space;
      ASSERT_TRUE(parse_table(r.err, at, "memory still in use", leaks, leak_vectors,
                              leak_vector_bytes, leak_space));
      ASSERT_TRUE(parse_table(r.err, at, "memory status", stats, vectors, vector_bytes, space));
      EXPECT_EQ(at, r.err.size());

      // The program keeps one three-tuple: one row, one chunk of 12 bytes.
      ASSERT_EQ(leaks.size(), 1u);
      EXPECT_EQ(leak_vectors, 0);  // vectors are not in the leak report
      const table_row& kept = leaks[0];
      EXPECT_EQ(kept.size, 12);
      EXPECT_EQ(kept.used, 1);
      EXPECT_EQ(kept.blocks, 1);
      EXPECT_EQ(kept.used + kept.free, chunks_per_block(12));
      EXPECT_EQ(kept.bytes, chunks_per_block(12) * 12);

      // Every class holding blocks, the kept one the only one in use. The
      // leak report's space is the bytes of all those classes, the
      // statistics' space the blocks' length (all standard blocks here).
      long bytes = 0, blocks = 0;
      bool kept_row_seen = false;
      for (const table_row& row : stats) {
        SCOPED_TRACE("class " + std::to_string(row.size));
        EXPECT_EQ(row.used + row.free, row.blocks * chunks_per_block(row.size));
        EXPECT_EQ(row.bytes, (row.used + row.free) * row.size);
        if (row.size == 12) {
          kept_row_seen = true;
          EXPECT_EQ(row.used, 1);
          EXPECT_EQ(row.free, kept.free);
        } else {
          EXPECT_EQ(row.used, 0);
        }
        bytes += row.bytes;
        blocks += row.blocks;
      }
      EXPECT_TRUE(kept_row_seen);
      EXPECT_EQ(vector_bytes, 0);  // no vector alive at exit
      EXPECT_NEAR(leak_space, double(bytes) / 1024, 0.005);
      EXPECT_NEAR(space, double(blocks * 8188) / 1024, 0.005);
    }
  }
}

// ---- processor time -------------------------------------------------------------

TEST(UsedTime, DifferenceFormStoresTheNewTimeAndReturnsTheChange) {
  float t = 0;
  const float first = TAVO::used_time(t);
  EXPECT_EQ(first, t);  // from 0: the whole time so far
  EXPECT_GE(t, 0.0f);
  float ahead = 1.0e6f;  // a start in the future gives a negative change
  const float change = TAVO::used_time(ahead);
  EXPECT_EQ(change, ahead - 1.0e6f);
  EXPECT_LT(change, 0.0f);
  float again = TAVO::used_time();
  TAVO::used_time(again);
  const float second = TAVO::used_time(again);  // at once: about nothing
  EXPECT_GE(second, 0.0f);
  EXPECT_LT(second, 0.05f);
}

TEST(UsedTime, CountsUserProcessorTimeOnly) {
  const float start = TAVO::used_time();
  EXPECT_NEAR(start, rusage_user_seconds(), 0.02);
  // Work until the processor time has grown by 0.2 s (within 30 s of wall
  // time, on however busy a machine).
  const auto wall = std::chrono::steady_clock::now();
  volatile double sink = 0;
  while (TAVO::used_time() < start + 0.2f && seconds_since(wall) < 30) {
    for (int i = 0; i < 100000; ++i) sink = sink + std::sqrt(double(i));
  }
  const float worked = TAVO::used_time();
  EXPECT_GE(worked, start + 0.2f);
  EXPECT_NEAR(worked, rusage_user_seconds(), 0.02);
  TAVO::sleep(0.3);  // waiting costs no processor time
  EXPECT_LT(TAVO::used_time() - worked, 0.1f);
  // Nor does the time the system spends on the process's behalf: make it
  // spend 0.2 s on writes, then compare again.
  const double system_start = rusage_system_seconds();
  const int null_fd = open("/dev/null", O_WRONLY);
  const char byte = 0;
  while (rusage_system_seconds() < system_start + 0.2 && seconds_since(wall) < 60) {
    for (int i = 0; i < 1000; ++i) sink = sink + double(write(null_fd, &byte, 1));
  }
  close(null_fd);
  EXPECT_GE(rusage_system_seconds(), system_start + 0.2);
  EXPECT_NEAR(TAVO::used_time(), rusage_user_seconds(), 0.02);
}

// ---- sleeping -------------------------------------------------------------------

TEST(Sleep, WaitsTheWholeDuration) {
  // Whole seconds and microseconds both count; only the lower bound is sure.
  const auto start = std::chrono::steady_clock::now();
  TAVO::sleep(1.5);
  EXPECT_GE(seconds_since(start), 1.49);
}

TEST(Sleep, LessThanAMicrosecondOrNegativeDoesNotWait) {
  TAVO::sleep(0);  // the code paged in before counting
  const struct {
    double sec;
    bool waits;
  } cases[] = {{0.0000004, false}, {0.0, false},          {-0.5, false},
               {-1.0e12, false},   {std::nan(""), false}, {0.01, true}};
  for (const auto& c : cases) {
    const long before = waits_so_far();
    TAVO::sleep(c.sec);
    EXPECT_EQ(waits_so_far() > before, c.waits) << c.sec;
  }
}

volatile sig_atomic_t alarms = 0;
void count_alarm(int) {
  alarms = alarms + 1;
}

TEST(Sleep, LongestDurationIsKeptAndASignalEndsTheWait) {
  // Beyond 2147.483647 s the microsecond count would not fit; clamped, such a
  // sleep still waits, until a signal ends it (not resumed). The clock starts
  // before the timer is armed, so at least 0.2 s pass before its first
  // signal; the timer repeats, so a signal that comes before the wait has
  // begun (a busy machine) leaves the next one to end it.
  struct sigaction alarm_action = {}, saved = {};
  alarm_action.sa_handler = count_alarm;
  sigaction(SIGALRM, &alarm_action, &saved);
  for (double sec : {2147.483648, 1.0e9, 1.0e300}) {
    alarms = 0;
    const itimerval every_fifth{{0, 200000}, {0, 200000}}, off{};
    const auto start = std::chrono::steady_clock::now();
    setitimer(ITIMER_REAL, &every_fifth, nullptr);
    TAVO::sleep(sec);
    const double waited = seconds_since(start);
    setitimer(ITIMER_REAL, &off, nullptr);
    EXPECT_GE(alarms, 1) << sec;  // ended by the signal, not by a timeout of its own
    EXPECT_GE(waited, 0.19) << sec;
  }
  sigaction(SIGALRM, &saved, nullptr);
}

// ---- stack trace, compiler ----------------------------------------------------------

TEST(TraceStack, HookGivesNoFramesAndTheStreamFormWritesOneEndOfLine) {
  char sentinel = 's';
  char* frames[256];
  for (char*& f : frames) f = &sentinel;
  EXPECT_EQ(TAVO::trace_stack(frames), 0);
  for (char* f : frames) ASSERT_EQ(f, &sentinel);
  std::ostringstream out;
  TAVO::trace_stack(out);
  EXPECT_EQ(out.str(), "\n");
}

TEST(CompilerString, IsTwelveCharactersAndTheTerminator) {
  char buf[32];
  std::memset(buf, 'x', sizeof buf);
  TAVO::compiler_string(buf);
  EXPECT_STREQ(buf, "GNU gcc-2.95");
  EXPECT_EQ(buf[13], 'x');
}

// ---- logging --------------------------------------------------------------------

class Log : public testing::Test {
 protected:
  void SetUp() override {
    TAVO::read_options();  // logging on, whatever the test's environment
    char dir_template[] = "/tmp/tavo_log.XXXXXX";
    ASSERT_NE(mkdtemp(dir_template), nullptr);
    dir = dir_template;
    path = dir + "/LOGFILE";
    std::ofstream(path) << "old\n";
  }
  void TearDown() override {
    unlink(path.c_str());
    rmdir(dir.c_str());
  }
  options_scope keep;
  std::string dir, path;
};

TEST_F(Log, WriteLogAppendsATabTheMessageAndAnEndOfLine) {
  tavo_internal::write_log_to(path.c_str(), "first");
  tavo_internal::write_log_to(path.c_str(), "");
  EXPECT_EQ(file_text(path), "old\n\tfirst\n\t\n");
}

TEST_F(Log, NoLogFileMeansNoLogging) {
  const std::string missing = dir + "/missing";
  tavo_internal::write_log_to(missing.c_str(), "x");
  tavo_internal::user_log_to(missing.c_str());
  struct stat st;
  EXPECT_NE(stat(missing.c_str(), &st), 0);
  // A directory of that name is no log file either.
  tavo_internal::write_log_to(dir.c_str(), "x");
  EXPECT_EQ(file_text(path), "old\n");
  // Nor is a missing /TAVO/LOGFILE created by the public functions.
  if (stat("/TAVO/LOGFILE", &st) != 0) {
    TAVO::write_log("x");
    TAVO::user_log();
    EXPECT_NE(stat("/TAVO/LOGFILE", &st), 0);
  }
}

// A symbolic link at the log's path is not followed, even to a regular file
// (is_file alone would say yes): the target stays as it was.
TEST_F(Log, SymbolicLinkAtTheLogPathIsNotFollowed) {
  const std::string target = dir + "/target", link = dir + "/LINK";
  std::ofstream(target) << "target\n";
  ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
  tavo_internal::write_log_to(link.c_str(), "x");
  tavo_internal::user_log_to(link.c_str());
  EXPECT_EQ(file_text(target), "target\n");
  unlink(link.c_str());
  unlink(target.c_str());
}

TEST_F(Log, NoLogOptionSilencesBothFunctions) {
  {
    env_scope no_log("TAVO_NO_LOG", "");
    TAVO::read_options();
  }
  // Read at start-up only: unsetting the variable now changes nothing.
  tavo_internal::write_log_to(path.c_str(), "x");
  tavo_internal::user_log_to(path.c_str());
  EXPECT_EQ(file_text(path), "old\n");
  TAVO::read_options();
  tavo_internal::write_log_to(path.c_str(), "y");
  EXPECT_EQ(file_text(path), "old\n\ty\n");
}

TEST_F(Log, UserLogWritesWhoWhereWhichLibraryAndWhen) {
  const passwd* user = getpwuid(geteuid());
  char host[64] = {};
  gethostname(host, sizeof host - 1);
  char who[256];
  std::snprintf(who, sizeof who, "%8s@%-10s ", user ? user->pw_name : "unknown", host);

  const std::time_t before = std::time(nullptr);
  tavo_internal::user_log_to(path.c_str());
  const std::time_t after = std::time(nullptr);
  const std::string prefix = std::string("old\n") + who + "TAVO 4.2 (GNU gcc-2.95 Apr 29)  ";
  const std::string text = file_text(path);
  ASSERT_EQ(text.compare(0, prefix.size(), prefix), 0) << text;
  const std::string when = text.substr(prefix.size());
  char before_text[64], after_text[64];
  ctime_r(&before, before_text);
  ctime_r(&after, after_text);
  EXPECT_TRUE(when == before_text || when == after_text) << when;
  EXPECT_EQ(when.size(), 25u);  // "Www Mmm dd hh:mm:ss yyyy\n"
}

}  // namespace
