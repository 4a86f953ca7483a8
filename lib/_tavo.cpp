// _tavo.cpp - process-wide library data, environment options, processor
// time, sleeping, the stack-trace hook, logging and the floating-point
// start-up.
#include "tavo/runtime.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/select.h>
#include <sys/stat.h>
#include <sys/times.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <ostream>
#include <string>

#include "tavo/error.h"
#include "tavo/file.h"

// Constant-initialised on purpose: the first guard may run read_options()
// from another unit before this unit's dynamic initialisation, which must not
// overwrite what it read.
char* TAVO::option_list = nullptr;
int TAVO::node_data_slots = 0;
int TAVO::edge_data_slots = 0;

namespace {

// TAVO_NO_LOG as read_options() found it (constant-initialised, see above).
bool no_log = false;

// Longest sleep: the largest microsecond count a signed 32-bit int holds.
constexpr std::int32_t max_sleep_us = INT32_MAX;

const char log_file[] = "/TAVO/LOGFILE";

// printf formatting appended to `out`, of any length.
template <typename... Args>
void append_format(std::string& out, const char* format, Args... args) {
  const int n = std::snprintf(nullptr, 0, format, args...);
  if (n <= 0) return;
  const std::size_t at = out.size();
  out.resize(at + static_cast<std::size_t>(n) + 1);
  std::snprintf(&out[at], static_cast<std::size_t>(n) + 1, format, args...);
  out.resize(at + static_cast<std::size_t>(n));
}

// Appends `line` to the file at `path` with one write() (more only if the
// system writes part of it); errors are ignored. The path was tested with
// is_file, but it may have changed since: a symbolic link put in its place
// would let a privileged process append to any file, a FIFO would block. So
// the open follows no link and does not wait, and only a regular file, as
// fstat sees the open file, is written.
void append_to_log(const char* path, const std::string& line) {
  const int fd =
      open(path, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0664);
  if (fd < 0) return;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return;
  }
  std::size_t done = 0;
  while (done < line.size()) {
    const ssize_t n = write(fd, line.data() + done, line.size() - done);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  close(fd);
}

bool logging_to(const char* path) {
  return !no_log && is_file(path);
}

}  // namespace

// ---- options ----------------------------------------------------------------

void TAVO::read_options() {
  option_list = std::getenv("TAVO_INIT");
  if (std::getenv("TAVO_CATCH_SYSTEM_ERRORS") != nullptr) catch_system_errors(true);
  const char* node_data = std::getenv("TAVO_NODE_DATA");
  const char* edge_data = std::getenv("TAVO_EDGE_DATA");
  if (node_data != nullptr) node_data_slots = std::atoi(node_data);
  if (edge_data != nullptr) edge_data_slots = std::atoi(edge_data);
  if (node_data != nullptr || edge_data != nullptr) {
    // stdio: usable before any stream object of any unit is constructed.
    std::fputs("\n", stderr);
    std::fprintf(stderr, "node_data_slots = %d\n", node_data_slots);
    std::fprintf(stderr, "edge_data_slots = %d\n", edge_data_slots);
    std::fputs("\n", stderr);
  }
  no_log = std::getenv("TAVO_NO_LOG") != nullptr;
}

// ---- time -------------------------------------------------------------------

float TAVO::used_time() {
  struct tms t;
  times(&t);
  return static_cast<float>(static_cast<double>(t.tms_utime) /
                            static_cast<double>(sysconf(_SC_CLK_TCK)));
}

float TAVO::used_time(float& T) {
  const float before = T;
  T = used_time();
  return static_cast<float>(T - before);
}

void TAVO::sleep(double sec) {
  const double us_wanted = sec * 1000000.0;
  std::int32_t us = 0;  // also for a negative duration or NaN
  if (us_wanted >= static_cast<double>(max_sleep_us)) {
    us = max_sleep_us;
  } else if (us_wanted > 0) {
    us = static_cast<std::int32_t>(us_wanted);  // truncated toward zero
  }
  struct timeval timeout;
  timeout.tv_sec = us / 1000000;
  timeout.tv_usec = us % 1000000;
  select(0, nullptr, nullptr, nullptr, &timeout);  // a signal ends it early
}

// ---- stack trace, compiler ------------------------------------------------------

int TAVO::trace_stack(char** /*frames*/) {
  return 0;  // no stack tracing on this platform
}

void TAVO::trace_stack(std::ostream& out) {
  constexpr int table_size = 256;
  char* frames[table_size] = {};
  int n = trace_stack(frames);
  if (n > table_size) n = table_size;
  for (int i = 1; i < n; ++i) {
    if (frames[i] != nullptr) out << frames[i];
    out << std::endl;
  }
  for (int i = 0; i < n; ++i) delete[] frames[i];
  out << std::endl;
}

void TAVO::compiler_string(char* buf) {
  std::sprintf(buf, "GNU gcc-%d.%d", 2, 95);
}

// ---- logging ----------------------------------------------------------------

void TAVO::write_log(const char* msg) {
  tavo_internal::write_log_to(log_file, msg);
}

void TAVO::user_log() {
  tavo_internal::user_log_to(log_file);
}

void tavo_internal::write_log_to(const char* path, const char* msg) {
  if (!logging_to(path)) return;
  std::string line = "\t";
  line += msg;
  line += '\n';
  append_to_log(path, line);
}

void tavo_internal::user_log_to(const char* path) {
  if (!logging_to(path)) return;
  const struct passwd* user = getpwuid(geteuid());
  const char* login = user != nullptr && user->pw_name != nullptr ? user->pw_name : "unknown";
  char host[64];
  unsigned long host_id;
  get_host_info(host, sizeof host, host_id);
  char compiler[32];
  TAVO::compiler_string(compiler);
  const std::time_t now = std::time(nullptr);
  char time_text[64];  // ctime_r needs 26
  if (ctime_r(&now, time_text) == nullptr) std::snprintf(time_text, sizeof time_text, "\n");

  std::string line;
  append_format(line, "%8s@%-10s ", login, host);
  append_format(line, "%s (%s %.6s)  ", TAVO::version_string, compiler, TAVO::compile_date);
  line += time_text;
  append_to_log(path, line);
}

// ---- floating point ---------------------------------------------------------

// 0x127F: all six exceptions masked, 53-bit significand (double precision
// instead of the extended 0x037F default), round to nearest, infinity bit.
int tavo_init_fpu() {
#if defined(__i386__) || defined(__x86_64__)
  const unsigned short control_word = 0x127F;
  __asm__ volatile("fldcw %0" : : "m"(control_word));
#endif
  return 0;
}
