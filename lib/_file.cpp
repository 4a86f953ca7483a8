// _file.cpp - file system, process and host services.
//
// The header brings the unit's start-up (tavo/startup.h) first; this unit
// has no static objects of its own (tmp_file_name's counter is constant-
// initialised).
//
// File tests and listings use the 64-bit forms of stat, lstat and readdir:
// in a 32-bit build the plain forms fail with EOVERFLOW for files of 2 GiB or
// more and for inode numbers above 32 bits, which would make such a file look
// missing.
#include "tavo/file.h"

#include <dirent.h>
#include <fnmatch.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "tavo/error.h"

namespace {

// name as one word of a shell command: inside single quotes, where nothing
// but a single quote is special, and each single quote written as '\'' (end
// the quoted part, an escaped quote, start a new quoted part).
tavo_string shell_word(const tavo_string& name) {
  return "'" + name.replace_all("'", "'\\''") + "'";
}

// Runs a command line through the shell; its status is not examined.
void run_shell(const tavo_string& command) {
  const int status = std::system(command.cstring());
  static_cast<void>(status);
}

// Reports "<op>: <path> is not a directory." (fatal); a '%' in the path is
// printed as it stands.
void report_not_directory(const char* op, const tavo_string& path) {
  const tavo_string format = tavo_string(op) + ": %s is not a directory.";
  error_handler(1, tavo_string(format.cstring(), path.cstring()));
}

// Entries of dir into result (cleared first): type 0 every entry, 1 regular
// files, 2 directories; with a pattern only names that fnmatch it. A
// directory that cannot be opened yields nothing.
void read_directory(tavo_string dir, int type, tavo_list<tavo_string>& result,
                    const char* pattern) {
  result.clear();
  if (!is_directory(dir)) {
    report_not_directory("read_directory", dir);
    return;
  }
  DIR* d = opendir(dir.cstring());
  if (d == nullptr) return;
  while (const struct dirent64* entry = readdir64(d)) {
    const char* name = entry->d_name;
    if (pattern != nullptr && fnmatch(pattern, name, 0) != 0) continue;
    if (type == 1 && !is_file(dir + "/" + name)) continue;
    if (type == 2 && !is_directory(dir + "/" + name)) continue;
    result.append(tavo_string(name));
  }
  closedir(d);
}

// n random bytes: from the kernel, or, should that fail, from a mix of the
// clock, the process id and a call counter (enough to make names that differ
// from call to call and from process to process).
void random_bytes(unsigned char* out, std::size_t n) {
  if (getrandom(out, n, GRND_NONBLOCK) == static_cast<ssize_t>(n)) return;
  static std::uint64_t calls = 0;
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  std::uint64_t x = static_cast<std::uint64_t>(now.tv_sec) * 1000000000u +
                    static_cast<std::uint64_t>(now.tv_nsec);
  x ^= static_cast<std::uint64_t>(getpid()) << 40 ^ ++calls << 20;
  for (std::size_t i = 0; i < n; ++i) {
    // splitmix64 step
    x += 0x9e3779b97f4a7c15u;
    std::uint64_t z = x;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9u;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebu;
    out[i] = static_cast<unsigned char>(z ^ (z >> 31));
  }
}

}  // namespace

// ---- time -------------------------------------------------------------------

void get_time(int& year, int& month, int& day, int& hour, int& minute, int& second) {
  const std::time_t now = std::time(nullptr);
  struct tm t;
  if (localtime_r(&now, &t) == nullptr) return;  // only past the year 2^31
  year = t.tm_year + 1900;
  month = t.tm_mon + 1;
  day = t.tm_mday;
  hour = t.tm_hour;
  minute = t.tm_min;
  second = t.tm_sec;
}

tavo_string time_string() {
  const std::time_t now = std::time(nullptr);
  char text[26];  // what ctime_r writes at most: 24 characters, '\n', NUL
  if (ctime_r(&now, text) == nullptr) return tavo_string();
  if (char* end = std::strchr(text, '\n')) *end = '\0';
  return tavo_string(text);
}

// ---- directories ----------------------------------------------------------------

tavo_string get_home_directory() {
  const char* home = std::getenv("HOME");
  return tavo_string(home != nullptr ? home : "/tmp");
}

tavo_string get_directory() {
  char buf[256];
  return getcwd(buf, sizeof buf) != nullptr ? tavo_string(buf) : tavo_string();
}

tavo_string set_directory(tavo_string dir) {
  tavo_string previous = get_directory();
  if (!is_directory(dir)) {
    report_not_directory("set_directory", dir);
    return previous;
  }
  if (chdir(dir.cstring()) != 0) {
    // not reported: the current directory stays
  }
  return previous;
}

bool create_directory(tavo_string dir) {
  struct stat64 st;
  if (stat64(dir.cstring(), &st) == 0) return false;
  run_shell("mkdir -- " + shell_word(dir));
  return is_directory(dir);
}

// ---- file tests ---------------------------------------------------------------------

bool is_directory(tavo_string path) {
  struct stat64 st;
  return stat64(path.cstring(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool is_file(tavo_string path) {
  struct stat64 st;
  return stat64(path.cstring(), &st) == 0 && S_ISREG(st.st_mode);
}

bool is_link(tavo_string path) {
  struct stat64 st;
  return lstat64(path.cstring(), &st) == 0 && S_ISLNK(st.st_mode);
}

int size_of_file(tavo_string path) {
  struct stat64 st;
  if (stat64(path.cstring(), &st) != 0) {
    error_handler(1, "size_of_file: file does no exist");
    return -1;
  }
  return st.st_size > INT_MAX ? INT_MAX : static_cast<int>(st.st_size);
}

bool delete_file(tavo_string path) {
  run_shell("rm -f -- " + shell_word(path));
  return true;
}

tavo_string tmp_file_name() {
  static const char symbols[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  constexpr int random_symbols = 12;  // 62^12, about 2^71 names
  const char prefix[] = P_tmpdir "/tavo_";
  for (int attempt = 0; attempt < 100; ++attempt) {
    unsigned char bytes[random_symbols];
    random_bytes(bytes, sizeof bytes);
    char name[sizeof prefix + random_symbols];
    std::memcpy(name, prefix, sizeof prefix - 1);
    for (int i = 0; i < random_symbols; ++i) {
      name[sizeof prefix - 1 + i] = symbols[bytes[i] % (sizeof symbols - 1)];
    }
    name[sizeof name - 1] = '\0';
    struct stat64 st;
    if (lstat64(name, &st) == 0) continue;  // taken: draw again
    if (errno == ENOENT) return tavo_string(name);
    return tavo_string();  // the directory cannot be examined
  }
  return tavo_string();
}

// ---- listings ---------------------------------------------------------------------------

tavo_list<tavo_string> get_entries(tavo_string dir) {
  tavo_list<tavo_string> result;
  read_directory(dir, 0, result, nullptr);
  return result;
}

tavo_list<tavo_string> get_files(tavo_string dir) {
  tavo_list<tavo_string> result;
  read_directory(dir, 1, result, nullptr);
  return result;
}

tavo_list<tavo_string> get_files(tavo_string dir, tavo_string pattern) {
  tavo_list<tavo_string> result;
  read_directory(dir, 1, result, pattern.cstring());
  return result;
}

tavo_list<tavo_string> get_directories(tavo_string dir) {
  tavo_list<tavo_string> result;
  read_directory(dir, 2, result, nullptr);
  return result;
}

tavo_string first_file_in_path(tavo_string name, tavo_string path, char sep) {
  // From here on the list is blank-separated and ends in a blank, so every
  // entry, the last one included, is followed by one.
  path = path.replace_all(tavo_string(sep), " ") + " ";
  while (path.length() > 0) {
    const int i = path.pos(" ");
    const tavo_string candidate = path(0, i - 1) + "/" + name;
    path = path.del(0, i);
    if (is_file(candidate)) return candidate;
  }
  return tavo_string();
}

// ---- processes --------------------------------------------------------------------------

bool create_process(tavo_string command) {
  return std::system((command + "&").cstring()) == 0;
}

// ---- machine ----------------------------------------------------------------------------

bool apm_get_status(int& ac_line, int& percent, int& minutes) {
  return tavo_internal::apm_get_status_from("/proc/apm", ac_line, percent, minutes);
}

bool tavo_internal::apm_get_status_from(const char* path, int& ac_line, int& percent,
                                        int& minutes) {
  std::FILE* f = std::fopen(path, "r");
  if (f == nullptr) return false;
  char line[99] = "";  // the first 98 characters of the first line
  if (std::fgets(line, sizeof line, f) == nullptr) line[0] = '\0';
  std::fclose(f);

  // A word of the line is never longer than the line: buffers of its size
  // cannot overflow, and a long word is read whole, so the fields after it
  // stay in step.
  char driver[sizeof line], bios[sizeof line], unit[sizeof line] = "";
  unsigned flags = 0, ac = 0, battery_status = 0, battery_flag = 0;
  int charge = 0, time_left = 0;
  const int fields = std::sscanf(line, "%98s %98s %x %x %x %x %d%% %d %98s", driver, bios, &flags,
                                 &ac, &battery_status, &battery_flag, &charge, &time_left, unit);
  if (fields >= 4) ac_line = static_cast<int>(ac);
  if (fields >= 7) percent = charge;
  if (fields >= 8) minutes = time_left;
  if (fields >= 9 && std::strcmp(unit, "sec") == 0) minutes /= 60;
  return true;
}

void get_host_info(char* buf, unsigned long size, unsigned long& id) {
  char name[256];  // host names have at most 255 characters (64 on Linux)
  if (gethostname(name, sizeof name) != 0) name[0] = '\0';
  name[sizeof name - 1] = '\0';
  if (size > 0) {
    const std::size_t n = strnlen(name, size - 1);
    std::memcpy(buf, name, n);
    buf[n] = '\0';
  }
  id = static_cast<unsigned long>(static_cast<std::uint32_t>(gethostid()));
}

// ---- placeholders -------------------------------------------------------------------------

void get_command_line(int& argc, char**& argv) {
  argc = 0;
  argv = nullptr;
}

void play_wave_file(tavo_string /*file*/) {}
