// The one runner of every end-to-end test: runs a real executable as a child
// process with its standard streams redirected to files, confined in time and
// optionally in memory, and returns its status, output and peak memory.
//
// Every run is ended by SIGALRM after `seconds`, so a program that would
// never end fails its test instead of hanging the suite. Between fork and
// exec the child makes only async-signal-safe calls (OpenCV in the parent
// may have started threads), and it keeps only descriptors 0, 1 and 2: a
// descriptor the test holds open never reaches the program. Failures of the
// runner itself (fork, wait4, a scratch file not written) throw.
#ifndef TAVO_TESTS_CHILD_H
#define TAVO_TESTS_CHILD_H

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace tavo_test {

// How a child is run. The defaults: the working directory of the test,
// standard input from /dev/null, standard output and error captured.
struct child_options {
  std::string dir;               // working directory ("" keeps the test's)
  std::string stdin_path;        // standard input from this file ("" : /dev/null)
  std::string stdout_path;       // standard output to this file (e.g. /dev/full), not captured
  bool close_stdout = false;     // no standard output at all (descriptor 1 closed)
  bool broken_pipe = false;      // standard output a pipe whose reader is gone
  long address_space_mb = 0;     // RLIMIT_AS in MiB (0: none); not applied under AddressSanitizer
  long asan_allocation_mb = 0;   // under AddressSanitizer: max_allocation_size_mb (0: none)
  long long file_size_bytes = 0;  // RLIMIT_FSIZE (0: none), SIGXFSZ ignored: writes past it fail
  bool file_size_kills = false;   // with file_size_bytes: SIGXFSZ kept, a write past it kills
  std::vector<std::string> env;  // "NAME=value" set in the child
  unsigned seconds = 120;        // SIGALRM after this long
};

struct child_result {
  int status = -1;       // exit status, or 128 + the signal that ended the child
  std::string out, err;  // what it wrote (out empty unless captured)
  long max_rss_kb = 0;   // its peak resident memory
  bool signalled() const { return status > 128; }
};

// Whether address_space_mb is applied in this build (not under AddressSanitizer,
// which reserves terabytes of address space for itself).
inline constexpr bool address_space_limits_apply() {
#if defined(__SANITIZE_ADDRESS__)
  return false;
#else
  return true;
#endif
}

// Writes `text` to the file at `p`, replacing it. Throws when the file cannot
// be written whole, so a test never goes on with an input it did not make.
inline void write_file(const std::filesystem::path& p, const std::string& text) {
  std::ofstream f(p, std::ios::binary);
  f << text;
  f.close();
  if (!f) throw std::runtime_error("cannot write " + p.string());
}

// A fresh directory under the system's temporary directory, removed with
// everything in it at scope exit.
class scratch_dir {
 public:
  scratch_dir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tavo-test.XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~scratch_dir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  scratch_dir(const scratch_dir&) = delete;
  scratch_dir& operator=(const scratch_dir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  // Writes `text` to the file `name` in the directory; its path. Throws
  // when the file cannot be written whole.
  std::filesystem::path write(const std::string& name, const std::string& text) const {
    write_file(path_ / name, text);
    return path_ / name;
  }

 private:
  std::filesystem::path path_;
};

// `command` as a user without privileges would run it, for tests of files
// the caller may not write: unchanged when the test is not root; as root,
// through setpriv as nobody. Empty when root has no setpriv (skip the test).
inline std::vector<std::string> unprivileged(std::vector<std::string> command) {
  const char* setpriv = "/usr/bin/setpriv";
  if (::geteuid() != 0) return command;
  if (::access(setpriv, X_OK) != 0) return {};
  command.insert(command.begin(), {setpriv, "--reuid=65534", "--regid=65534", "--clear-groups"});
  return command;
}

inline std::string file_text(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Closes every descriptor from `low` on; `end` bounds the loop used when
// close_range is not available. Async-signal-safe.
inline void close_from(int low, long end) {
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
  if (::close_range(unsigned(low), ~0U, 0) == 0) return;
#endif
  for (long fd = low; fd < end; ++fd) ::close(int(fd));
}

// Runs args[0] with argv = args (args[0] is also the invocation name).
inline child_result run_child(const std::vector<std::string>& args, const child_options& o = {}) {
  const scratch_dir capture;
  const std::string out_file = capture.path() / "stdout", err_file = capture.path() / "stderr";
  const std::string out_path = o.stdout_path.empty() ? out_file : o.stdout_path;
  const std::string in_path = o.stdin_path.empty() ? "/dev/null" : o.stdin_path;

  std::vector<std::string> env = o.env;
#if defined(__SANITIZE_ADDRESS__)
  if (o.asan_allocation_mb > 0) {
    const char* asan = std::getenv("ASAN_OPTIONS");
    env.push_back("ASAN_OPTIONS=" + std::string(asan ? asan : "") + (asan && *asan ? ":" : "") +
                  "max_allocation_size_mb=" + std::to_string(o.asan_allocation_mb));
  }
#endif
  // The child's environment: the test's, with the entries of `env` replacing
  // those of the same name.
  std::vector<std::string> environment;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    const std::string name = entry.substr(0, entry.find('=') + 1);
    bool replaced = false;
    for (const std::string& x : env) replaced = replaced || x.compare(0, name.size(), name) == 0;
    if (!replaced) environment.push_back(entry);
  }
  environment.insert(environment.end(), env.begin(), env.end());
  std::vector<char*> argv, envp;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  for (const std::string& e : environment) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  const rlim_t bytes = rlim_t(o.address_space_mb) << 20;
  const rlimit limit{bytes, bytes};
  rlimit files{};
  if (::getrlimit(RLIMIT_NOFILE, &files) != 0) throw std::runtime_error("getrlimit failed");
  const long fd_end = files.rlim_cur == RLIM_INFINITY ? 1L << 20 : long(files.rlim_cur);
  const rlimit file_limit{rlim_t(o.file_size_bytes), rlim_t(o.file_size_bytes)};

  int pipe_fds[2] = {-1, -1};
  if (o.broken_pipe) {
    if (::pipe(pipe_fds) != 0) throw std::runtime_error("pipe failed");
    ::close(pipe_fds[0]);  // no reader, ever: the child's first write fails
  }
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    const int i = ::open(in_path.c_str(), O_RDONLY);
    const int out =
        o.broken_pipe ? pipe_fds[1] : ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = ::open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (i < 0 || out < 0 || err < 0 || ::dup2(i, 0) < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0)
      ::_exit(126);
    close_from(3, fd_end);
    if (!o.dir.empty() && ::chdir(o.dir.c_str()) != 0) ::_exit(126);
    if (o.close_stdout) ::close(1);
    if (address_space_limits_apply() && o.address_space_mb > 0 &&
        ::setrlimit(RLIMIT_AS, &limit) != 0)
      ::_exit(125);
    if (o.file_size_bytes > 0) {
      // Kept across exec: a write past the limit fails with EFBIG, or kills.
      ::signal(SIGXFSZ, o.file_size_kills ? SIG_DFL : SIG_IGN);
      if (::setrlimit(RLIMIT_FSIZE, &file_limit) != 0) ::_exit(125);
    }
    ::signal(SIGPIPE, SIG_DFL);
    ::alarm(o.seconds);  // kept across exec
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  if (o.broken_pipe) ::close(pipe_fds[1]);
  int wstatus = 0;
  rusage usage{};
  pid_t waited;
  do {
    waited = ::wait4(pid, &wstatus, 0, &usage);
  } while (waited < 0 && errno == EINTR);
  if (waited != pid) throw std::runtime_error(std::string("wait4 failed: ") + std::strerror(errno));
  child_result r;
  r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  if (o.stdout_path.empty() && !o.close_stdout && !o.broken_pipe) r.out = file_text(out_file);
  r.err = file_text(err_file);
  r.max_rss_kb = usage.ru_maxrss;
  return r;
}

}  // namespace tavo_test

#endif  // TAVO_TESTS_CHILD_H
