// trackvideo/run/batch.cpp - a whole dataset in one run (see batch.h).
#include "trackvideo/run/batch.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <opencv2/core.hpp>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <limits>
#include <map>
#include <sstream>
#include <unordered_map>

#include "common/atomic_file.h"
#include "common/input_file.h"
#include "common/processors.h"
#include "common/tokens.h"
#include "trackvideo/base/failure.h"
#include "trackvideo/input/sequence.h"

namespace trackvideo {

using common::in_folder;

namespace {

using clock_type = std::chrono::steady_clock;

constexpr char kSummaryName[] = "summary.csv";
constexpr char kSummaryHeader[] = "sequence,frames,tracks,boxes,ignored_rows,pairs,seconds\n";
constexpr char kMarkerFirstLine[] = "trackvideo done 2\n";
// Markers and seqinfo.ini files are small; a larger "marker" is not one.
constexpr std::size_t kMarkerLimit = 1 << 16;
// A list of a million sequences is some 50 MiB of memory; a larger "list" is
// a mistake (a device, the wrong file), refused before it is held.
constexpr std::size_t kListLimit = std::size_t{16} << 20;
// What a child tells its parent fits one pipe write (PIPE_BUF, 4096 bytes).
constexpr std::size_t kMessageLimit = 3000;
constexpr char kUtf8Bom[] = "\xEF\xBB\xBF";
// The signals that stop a batch: passed on to the children, then re-raised.
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The blank-separated fields of `line`.
std::vector<std::string> fields_of(const std::string& line) {
  std::vector<std::string> fields;
  for (std::size_t i = 0; i < line.size();) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    std::size_t j = i;
    while (j < line.size() && line[j] != ' ' && line[j] != '\t') ++j;
    if (j > i) fields.push_back(line.substr(i, j - i));
    i = j;
  }
  return fields;
}

// A count as markers and messages write it: digits, within [0, max].
template <typename T>
bool read_count(const std::string& token, T& value) {
  long long v = 0;
  if (token.empty() || token[0] < '0' || token[0] > '9' ||
      common::parse_integer(token, 0, std::numeric_limits<T>::max(), v) != common::integer_read::ok)
    return false;
  value = static_cast<T>(v);
  return true;
}

// Seconds as "%.3f" writes them: digits, a point, digits.
bool read_seconds(const std::string& token, double& seconds) {
  const std::size_t dot = token.find('.');
  long long whole = 0, part = 0;
  if (dot == std::string::npos || dot + 1 == token.size() || token.size() - dot > 10 ||
      !read_count(token.substr(0, dot), whole) || !read_count(token.substr(dot + 1), part))
    return false;
  seconds = static_cast<double>(whole) +
            static_cast<double>(part) / std::pow(10.0, static_cast<double>(token.size() - dot - 1));
  return true;
}

// `line` cut to at most `limit` bytes, never inside a UTF-8 character.
std::string cut_line(std::string line, std::size_t limit) {
  if (line.size() <= limit) return line;
  std::size_t end = limit;
  while (end > 0 && (static_cast<unsigned char>(line[end]) & 0xC0) == 0x80) --end;
  line.resize(end);
  return line + "...";
}

// "<what> <size> <seconds>.<nanoseconds> <path>\n" of an input.
std::string input_line(const char* what, const std::string& path, std::string& why) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    why = "cannot open " + common::shown_name(path) + ": " + std::strerror(errno);
    return "";
  }
  char figures[96];
  std::snprintf(figures, sizeof figures, " %" PRIdMAX " %" PRIdMAX ".%09ld ",
                static_cast<intmax_t>(st.st_size), static_cast<intmax_t>(st.st_mtim.tv_sec),
                static_cast<long>(st.st_mtim.tv_nsec));
  return what + std::string(figures) + path + "\n";
}

// "frames-digest <n> <hash>\n": n frames 1, 2, ... that exist (up to
// seqLength; a run never reads past a missing frame) and the 64-bit FNV-1a
// hash of "<size> <mtime> <name>\n" of each (links followed), then of
// "missing <name>\n" of the first missing one: an edited frame, or a link's
// edited target, changes it. One stat per frame.
std::string frames_digest(const std::string& seqdir, const seqinfo& s) {
  std::uint64_t hash = 14695981039346656037ull;
  int present = 0;
  for (int f = 1; f <= s.seq_length; ++f) {
    const std::string path = frame_path(seqdir, s, f);
    const std::string name = path.substr(path.rfind('/') + 1);
    struct stat st {};
    const bool there = ::stat(path.c_str(), &st) == 0;
    char figures[64];
    std::snprintf(figures, sizeof figures, "%" PRIdMAX " %" PRIdMAX ".%09ld ",
                  static_cast<intmax_t>(st.st_size), static_cast<intmax_t>(st.st_mtim.tv_sec),
                  static_cast<long>(st.st_mtim.tv_nsec));
    const std::string item = (there ? figures : "missing ") + name + "\n";
    for (const char c : item) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    if (!there) break;
    ++present;
  }
  char line[64];
  std::snprintf(line, sizeof line, "frames-digest %d %016" PRIx64 "\n", present, hash);
  return line;
}

std::string rules_text(const batch_line& l, const options& o) {
  if (!o.gt && !l.tracks.empty()) return "none";
  if (o.rules.all_classes) return "all";
  std::string text;
  for (const int c : o.rules.classes) text += (text.empty() ? "" : ",") + std::to_string(c);
  return text;
}

// Whether every item of the comma-separated `wanted` is in `have`.
bool covers(const std::string& have, const std::string& wanted) {
  const std::string padded = "," + have + ",";
  std::stringstream items(wanted);
  for (std::string item; std::getline(items, item, ',');)
    if (!item.empty() && padded.find("," + item + ",") == std::string::npos) return false;
  return true;
}

bool is_file(const std::string& path, bool folder) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && (folder ? S_ISDIR(st.st_mode) : S_ISREG(st.st_mode));
}

// The marker of DIR/<name>, parsed; false when there is none or it is not one.
bool read_marker(const std::string& folder, std::string& identity, std::string& with,
                 run_figures& f, double& seconds) {
  std::string text;
  return common::read_file(in_folder(folder, "done"), text, nullptr, kMarkerLimit).empty() &&
         parse_marker(text, identity, with, f, seconds);
}

// Whether the sequence was done before with these inputs and settings, and
// holds what this run would write.
bool done_before(const options& o, const std::string& folder, const std::string& identity) {
  std::string had, with;
  run_figures f;
  double seconds = 0;
  if (!read_marker(folder, had, with, f, seconds) || had != identity ||
      !covers(with, o.with_text()))
    return false;
  return is_file(in_folder(folder, "report.txt"), false) &&
         is_file(in_folder(folder, "pairs.csv"), false) &&
         is_file(in_folder(folder, "encounters.csv"), false) &&
         (!o.with_overlay_video || is_file(in_folder(folder, "overlay.avi"), false)) &&
         (!o.with_overlay || is_file(in_folder(folder, "overlay"), true)) &&
         (!o.with_detections || is_file(in_folder(folder, "detections"), true));
}

std::string csv_field(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (const char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

// What the summary table holds: a row per sequence of LIST with a valid marker.
std::string summary_text(const std::vector<batch_line>& lines, const options& o) {
  std::string text = kSummaryHeader;
  for (const batch_line& l : lines) {
    std::string identity, had, with, why;
    run_figures f;
    double seconds = 0;
    if (!l.why.empty() || !marker_identity(l, o, identity).empty() ||
        !read_marker(in_folder(o.out, l.name), had, with, f, seconds) || had != identity)
      continue;
    char row[160];
    std::snprintf(row, sizeof row, ",%d,%d,%lld,%lld,%lld,%.3f\n", f.frames, f.tracks, f.boxes,
                  f.ignored_rows, f.pairs, seconds);
    text += csv_field(l.name) + row;
  }
  return text;
}

// Takes an exclusive flock on the open folder `fd`, waiting unless `wait` is
// false: 1 held, 0 another process holds it, -1 failed (errno says why). A
// file system that keeps no flock on a folder opened for reading (network
// ones: EBADF, ENOLCK, EOPNOTSUPP) cannot keep runs apart: there it counts as
// held.
int lock_open_folder(int fd, bool wait) {
  int r;
  while ((r = ::flock(fd, wait ? LOCK_EX : LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
  }
  if (r == 0) return 1;
  if (errno == EWOULDBLOCK) return 0;
  return errno == EBADF || errno == ENOLCK || errno == EOPNOTSUPP ? 1 : -1;
}

// Makes `dir` when missing and takes an exclusive flock on the folder itself,
// waiting while another run holds it; `made` says this process made it. A
// folder removed while this waited (another run failed in it) is made again.
// "" with `fd` holding the lock (closing it releases it), or why not.
std::string lock_folder(const std::string& dir, int& fd, bool& made) {
  const std::string shown = common::shown_name(dir);
  for (int attempt = 0; attempt < 100; ++attempt) {
    made = ::mkdir(dir.c_str(), 0777) == 0;
    if (!made && errno != EEXIST) return "cannot create " + shown + ": " + std::strerror(errno);
    fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) continue;
    if (fd < 0) return "cannot use " + shown + ": " + std::strerror(errno);
    if (lock_open_folder(fd, true) < 0) {
      const int error = errno;
      ::close(fd);
      return "cannot lock " + shown + ": " + std::strerror(error);
    }
    struct stat held, now;
    if (::fstat(fd, &held) == 0 && ::stat(dir.c_str(), &now) == 0 && held.st_dev == now.st_dev &&
        held.st_ino == now.st_ino)
      return "";
    ::close(fd);
  }
  return "cannot lock " + shown + ": it keeps being removed";
}

// Removes what dead processes left in `dirs` (the first of them a folder of
// DIR) while holding the first's lock, so that no run at work there (on this
// machine or another sharing DIR) loses a temporary; with `wait` false, does
// nothing when another run holds it.
void sweep_locked(const std::vector<std::string>& dirs, bool wait) {
  const int fd = ::open(dirs.front().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  if (lock_open_folder(fd, wait) == 1)
    for (const std::string& dir : dirs) common::remove_dead_temporaries(dir);
  ::close(fd);
}

// One sequence, in the child process, on `threads` threads: locks its folder,
// runs it unless another run did it meanwhile, tells the parent on `fd` ("ok
// F P SECONDS", "skip" or "fail WHAT") and ends the process. Nothing it throws
// leaves it: it would unwind into the parent's code.
[[noreturn]] void child_main(const options& o, const batch_line& l, const std::string& identity,
                             int threads, int fd) noexcept {
  std::string message;
  int status = 1;
  try {
    const clock_type::time_point start = clock_type::now();
    const std::string dir = in_folder(o.out, l.name);
    int lock = -1;
    bool made = false;
    std::string why = lock_folder(dir, lock, made);
    if (why.empty() && !o.force && done_before(o, dir, identity)) {
      message = "skip";
      status = 0;
    } else if (why.empty()) {
      // One process per core already: OpenCV keeps to its own thread.
      if (o.jobs > 1) cv::setNumThreads(1);
      options one;
      one.sequence = l.seqdir;
      one.tracks = l.tracks;
      one.gt = o.gt;
      one.rules = o.rules;
      one.radius = o.radius;
      one.max_pixels = o.max_pixels;
      one.threads = threads;
      one.progress = progress_mode::never;
      one.gap = o.gap;
      one.near = o.near;
      one.trail = o.trail;
      one.csv = in_folder(dir, "pairs.csv");
      one.encounters = in_folder(dir, "encounters.csv");
      if (o.with_overlay_video) one.overlay_video = in_folder(dir, "overlay.avi");
      if (o.with_overlay) one.overlay = in_folder(dir, "overlay");
      if (o.with_detections) one.detections = in_folder(dir, "detections");
      run_figures figures;
      double seconds = 0;
      sequence_files files;
      files.folder = dir;
      files.report = in_folder(dir, "report.txt");
      files.marker = in_folder(dir, "done");
      files.marker_text = [&](const run_figures& f) {
        figures = f;
        seconds = std::chrono::duration<double>(clock_type::now() - start).count();
        return marker_text(identity, o.with_text(), f, seconds);
      };
      why = guarded_run(one, stdout, stderr, &files);
      if (why.empty()) {
        char text[96];
        std::snprintf(text, sizeof text, "ok %d %lld %.3f", figures.frames, figures.pairs, seconds);
        message = text;
        status = 0;
      } else if (made) {
        ::rmdir(dir.c_str());  // the run left it empty
      }
    }
    if (!why.empty()) message = "fail " + cut_line(why, kMessageLimit);
  } catch (const std::exception& e) {
    message = std::string("fail ") + failure_text(e);
    status = 1;
  }
  for (std::size_t done = 0; done < message.size();) {
    const ssize_t n = ::write(fd, message.data() + done, message.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  std::fflush(nullptr);
  ::_exit(status);
}

// A sequence running in a child process.
struct running {
  const batch_line* line = nullptr;
  pid_t pid = -1;
  int fd = -1;          // the read end of the child's pipe
  std::string message;  // what it said so far
  // The sequence's folder, overlay/ and detections/, and whether each existed
  // before the child started.
  std::string folders[3];
  bool existed[3] = {};
};

// The stop signals, blocked for the parent's lifetime and read from a
// signalfd between the children's messages, so that the parent sees them at
// one place of its loop; the children get the mask as it was.
class stop_signals {
 public:
  stop_signals() {
    sigemptyset(&set_);
    for (const int sig : kStopSignals) sigaddset(&set_, sig);
    ::sigprocmask(SIG_BLOCK, &set_, &saved_);
    fd_ = ::signalfd(-1, &set_, SFD_NONBLOCK | SFD_CLOEXEC);
  }
  // Restores the mask: a stop signal still pending then acts as it would have.
  ~stop_signals() {
    if (fd_ >= 0) ::close(fd_);
    ::sigprocmask(SIG_SETMASK, &saved_, nullptr);
  }
  stop_signals(const stop_signals&) = delete;
  stop_signals& operator=(const stop_signals&) = delete;
  int fd() const { return fd_; }
  const sigset_t& saved() const { return saved_; }
  // The stop signal that arrived, or 0.
  int take() {
    signalfd_siginfo info;
    return fd_ >= 0 && ::read(fd_, &info, sizeof info) == sizeof info
               ? static_cast<int>(info.ssi_signo)
               : 0;
  }
  // Ends the process by `sig`, as its default action would.
  [[noreturn]] void die_of(int sig) {
    std::fflush(nullptr);
    ::signal(sig, SIG_DFL);
    sigset_t one;
    sigemptyset(&one);
    sigaddset(&one, sig);
    ::raise(sig);
    ::sigprocmask(SIG_UNBLOCK, &one, nullptr);
    ::_exit(128 + sig);
  }

 private:
  sigset_t set_, saved_;
  int fd_ = -1;
};

class batch_runner {
 public:
  batch_runner(const options& o, std::FILE* err, const std::string& list, stop_signals& stops)
      : o_(o),
        err_(err),
        list_(list),
        stops_(stops),
        processors_(common::usable_processors()),
        jobs_(o.jobs > 0 ? o.jobs : processors_) {}
  // Should the parent fail (an exception), its children stop with it.
  ~batch_runner() {
    if (live_.empty()) return;
    stop(SIGTERM);
    while (!live_.empty()) wait_some();
  }
  batch_runner(const batch_runner&) = delete;
  batch_runner& operator=(const batch_runner&) = delete;

  // Runs `todo` (with the identities of their markers), up to jobs_ at once.
  // A stop signal starts nothing more: it is passed on to the children, which
  // are waited for.
  void run_all(const std::vector<std::pair<const batch_line*, std::string>>& todo) {
    // Each sequence's --threads: as given, else the processors shared among
    // the sequences that run at once.
    const std::size_t at_once = std::max<std::size_t>(1, std::min<std::size_t>(jobs_, todo.size()));
    threads_ = o_.threads > 0 ? o_.threads
                              : std::max(1, processors_ / static_cast<int>(at_once));
    std::size_t next = 0;
    while ((next < todo.size() && stopped_ == 0) || !live_.empty()) {
      if (const int sig = stops_.take(); sig != 0) stop(sig);
      while (stopped_ == 0 && live_.size() < static_cast<std::size_t>(jobs_) &&
             next < todo.size()) {
        start(*todo[next].first, todo[next].second);
        ++next;
      }
      if (!live_.empty()) wait_some();
    }
    if (const int sig = stops_.take(); sig != 0) stopped_ = sig;
  }

  void fail(const batch_line& l, const std::string& why) {
    std::fprintf(err_, "trackvideo: %s:%d: %s: %s\n", list_.c_str(), l.line,
                 common::shown_name(l.name).c_str(), why.c_str());
    failed_ = true;
  }
  void note(const batch_line& l, const std::string& what) {
    if (o_.progress != progress_mode::never)
      std::fprintf(err_, "trackvideo: %s: %s\n", common::shown_name(l.name).c_str(), what.c_str());
  }
  bool failed() const { return failed_; }
  // The stop signal the run got, or 0.
  int stopped() const { return stopped_; }

 private:
  void stop(int sig) {
    stopped_ = sig;
    for (const running& r : live_) ::kill(r.pid, sig);
  }

  void start(const batch_line& l, const std::string& identity) {
    running r;
    r.line = &l;
    r.folders[0] = in_folder(o_.out, l.name);
    r.folders[1] = in_folder(r.folders[0], "overlay");
    r.folders[2] = in_folder(r.folders[0], "detections");
    for (int k = 0; k < 3; ++k) r.existed[k] = ::access(r.folders[k].c_str(), F_OK) == 0;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
      fail(l, std::string("cannot start a process: ") + std::strerror(errno));
      return;
    }
    std::fflush(nullptr);
    const pid_t parent = ::getpid();
    r.pid = ::fork();
    if (r.pid == 0) {
      // A child whose parent is gone stops (SIGTERM, which removes its
      // temporaries); the parent may have gone before the request was made.
      ::prctl(PR_SET_PDEATHSIG, SIGTERM);
      if (::getppid() != parent) ::_exit(1);
      ::close(fds[0]);
      ::close(stops_.fd());
      for (const running& other : live_) ::close(other.fd);
      ::sigprocmask(SIG_SETMASK, &stops_.saved(), nullptr);
      child_main(o_, l, identity, threads_, fds[1]);
    }
    const int error = errno;
    ::close(fds[1]);
    if (r.pid < 0) {
      ::close(fds[0]);
      fail(l, std::string("cannot start a process: ") + std::strerror(error));
      return;
    }
    r.fd = fds[0];
    live_.push_back(std::move(r));
  }

  // Reads what the children say until at least one has ended or a stop
  // signal came, and reports it.
  void wait_some() {
    std::vector<pollfd> polled;
    for (const running& r : live_) polled.push_back(pollfd{r.fd, POLLIN, 0});
    polled.push_back(pollfd{stops_.fd(), POLLIN, 0});
    if (::poll(polled.data(), polled.size(), -1) < 0) return;  // EINTR: look again
    for (std::size_t k = live_.size(); k-- > 0;) {
      if (polled[k].revents == 0) continue;
      running& r = live_[k];
      char buffer[4096];
      const ssize_t n = ::read(r.fd, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n > 0) {
        r.message.append(
            buffer, std::min(static_cast<std::size_t>(n),
                             kMessageLimit + 16 - std::min(r.message.size(), kMessageLimit + 16)));
        continue;
      }
      finish(r);
      live_.erase(live_.begin() + static_cast<std::ptrdiff_t>(k));
    }
  }

  // The child's pipe has ended: reaps it and reports how the sequence went.
  void finish(running& r) {
    ::close(r.fd);
    int status = 0;
    while (::waitpid(r.pid, &status, 0) < 0 && errno == EINTR) {
    }
    const batch_line& l = *r.line;
    const std::vector<std::string> said = fields_of(r.message);
    int frames = 0;
    long long pairs = 0;
    double seconds = 0;
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0 && said.size() == 4 && said[0] == "ok" &&
        read_count(said[1], frames) && read_count(said[2], pairs) &&
        read_seconds(said[3], seconds)) {
      char text[128];
      std::snprintf(text, sizeof text, "%d frames, %lld pairs, %.2f s", frames, pairs, seconds);
      note(l, text);
      return;
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0 && r.message == "skip") {
      note(l, "done before, skipped");
      return;
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 1 && r.message.rfind("fail ", 0) == 0) {
      fail(l, cut_line(r.message.substr(5), kMessageLimit));
      return;
    }
    // Killed or crashed (and reaped, so gone): what it left goes, then the
    // folders it made.
    for (int k = 2; k >= 0; --k) {
      common::remove_dead_temporaries(r.folders[k]);
      if (!r.existed[k]) ::rmdir(r.folders[k].c_str());
    }
    if (WIFSIGNALED(status) && WTERMSIG(status) == stopped_) return;  // as we asked
    if (WIFSIGNALED(status))
      fail(l, "the run was killed by signal " + std::to_string(WTERMSIG(status)) + " (" +
                  strsignal(WTERMSIG(status)) + ")");
    else
      fail(l, "the run ended with status " +
                  std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1) +
                  " without saying why");
  }

  const options& o_;
  std::FILE* const err_;
  const std::string list_;  // LIST as messages name it
  stop_signals& stops_;
  const int processors_;  // this process may use
  const int jobs_;
  int threads_ = 1;  // each sequence's --threads
  std::vector<running> live_;
  bool failed_ = false;
  int stopped_ = 0;
};

// Reads LIST (a file, or "-" for standard input) whole, up to kListLimit
// bytes. "" or why not.
std::string read_list(const std::string& list, std::string& text) {
  const std::string too_large = "larger than " + std::to_string(kListLimit >> 20) + " MiB";
  if (list != "-") {
    const std::string why = common::read_file(list, text, nullptr, kListLimit);
    return why == common::kLargerThanLimit ? too_large : why;
  }
  char buffer[1 << 16];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, stdin)) > 0;) {
    if (text.size() + n > kListLimit) return too_large;
    text.append(buffer, n);
  }
  return std::ferror(stdin) ? std::strerror(errno) : "";
}

// What each input of the whole batch is, by device and inode, as messages
// name it: the files (LIST, each seqinfo.ini and tracks file) and the folders
// nothing is written into (each sequence folder, its gt/ and its frame
// folder). A tracks file given on a line keeps its folder open to outputs.
struct batch_inputs {
  std::map<std::pair<dev_t, ino_t>, std::string> files, folders;
  void add(std::map<std::pair<dev_t, ino_t>, std::string>& to, const std::string& path,
           const std::string& what) {
    struct stat st;
    if (::stat(path.c_str(), &st) == 0)
      to.emplace(std::make_pair(st.st_dev, st.st_ino), what + " " + common::shown_name(path));
  }
};

// The folder `path` is in ("." for a bare name).
std::string parent_of(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// "" or why the output `path` (a folder when `folder`) may not be written: it
// is an input, or, when it does not exist yet, it would be made in an input
// folder.
std::string clash(const std::string& path, bool folder, const batch_inputs& in) {
  const std::string refused =
      (folder ? "cannot write into " : "cannot write ") + common::shown_name(path) + ": ";
  struct stat st;
  if (::stat(path.c_str(), &st) == 0) {
    for (const auto* known : {&in.files, &in.folders})
      if (const auto it = known->find({st.st_dev, st.st_ino}); it != known->end())
        return refused + "it is " + it->second;
    return "";
  }
  if (::stat(parent_of(path).c_str(), &st) == 0)
    if (const auto it = in.folders.find({st.st_dev, st.st_ino}); it != in.folders.end())
      return refused + "it would be in " + it->second;
  return "";
}

// Every output of the batch against every input of it, before anything is
// written: "" or the first clash.
std::string check_outputs(const options& o, const std::string& list,
                          const std::vector<batch_line>& lines,
                          const std::vector<std::string>& frame_dirs) {
  batch_inputs in;
  if (o.batch != "-") {
    in.add(in.files, o.batch, "the list");
  } else if (struct stat st; ::fstat(0, &st) == 0 && S_ISREG(st.st_mode)) {
    in.files.emplace(std::make_pair(st.st_dev, st.st_ino), "the list (standard input)");
  }
  for (std::size_t k = 0; k < lines.size(); ++k) {
    const batch_line& l = lines[k];
    const std::string where = list + ":" + std::to_string(l.line) + "'s ";
    const std::string tracks = l.tracks.empty() ? ground_truth_path(l.seqdir) : l.tracks;
    in.add(in.files, in_folder(l.seqdir, "seqinfo.ini"), where + "seqinfo.ini");
    in.add(in.files, tracks, where + "tracks file");
    in.add(in.folders, l.seqdir, where + "sequence folder");
    in.add(in.folders, parent_of(ground_truth_path(l.seqdir)), where + "ground truth's folder");
    if (!frame_dirs[k].empty()) in.add(in.folders, frame_dirs[k], where + "frame folder");
  }
  std::string why = clash(o.out, true, in);
  if (why.empty()) why = clash(in_folder(o.out, kSummaryName), false, in);
  for (const batch_line& l : lines) {
    if (!why.empty()) break;
    if (!l.why.empty()) continue;
    const std::string dir = in_folder(o.out, l.name);
    std::vector<std::pair<std::string, bool>> outputs = {{dir, true},
                                                         {in_folder(dir, "report.txt"), false},
                                                         {in_folder(dir, "pairs.csv"), false},
                                                         {in_folder(dir, "encounters.csv"), false},
                                                         {in_folder(dir, "done"), false}};
    if (o.with_overlay_video) outputs.emplace_back(in_folder(dir, "overlay.avi"), false);
    if (o.with_overlay) outputs.emplace_back(in_folder(dir, "overlay"), true);
    if (o.with_detections) outputs.emplace_back(in_folder(dir, "detections"), true);
    for (const auto& [path, folder] : outputs)
      if ((why = clash(path, folder, in)).empty())
        continue;
      else
        break;
  }
  return why;
}

// The whole batch; exceptions go to run_batch.
int batch(const options& o, std::FILE* err) {
  const std::string list = o.batch == "-" ? "-" : common::shown_name(o.batch);
  std::string text;
  if (const std::string why = read_list(o.batch, text); !why.empty()) {
    std::fprintf(err, "trackvideo: cannot read %s: %s\n", list.c_str(), why.c_str());
    return 1;
  }
  std::vector<batch_line> lines = parse_batch_list(text);
  // Every sequence's name, over the whole LIST: the shards must agree.
  std::unordered_map<std::string, int> first_line;
  std::vector<std::string> frame_dirs;
  bool clash = false;
  for (batch_line& l : lines) {
    seqinfo s;
    const std::string why = l.why.empty() ? read_seqinfo(l.seqdir, s) : "";
    frame_dirs.push_back(why.empty() && l.why.empty() ? frames_folder(l.seqdir, s) : "");
    l.name = why.empty() && l.why.empty() ? s.name : sequence_folder_name(l.seqdir);
    if (!usable_name(l.name)) {
      if (l.why.empty() && why.empty())
        l.why = "the name " + common::quote_token(l.name) + " cannot be a folder of the output";
      l.name = l.seqdir;
    }
    if (l.why.empty()) l.why = why;
    const auto [it, added] = first_line.emplace(l.name, l.line);
    if (!added) {
      std::fprintf(err, "trackvideo: %s:%d: %s: the name of line %d's sequence as well\n",
                   list.c_str(), l.line, common::shown_name(l.name).c_str(), it->second);
      clash = true;
    }
  }
  if (clash) return 1;
  if (const std::string why = check_outputs(o, list, lines, frame_dirs); !why.empty()) {
    std::fprintf(err, "trackvideo: %s\n", why.c_str());
    return 1;
  }
  stop_signals stops;
  const bool made = ::mkdir(o.out.c_str(), 0777) == 0;
  if (!made && errno != EEXIST) {
    std::fprintf(err, "trackvideo: cannot create %s: %s\n", common::shown_name(o.out).c_str(),
                 std::strerror(errno));
    return 1;
  }
  // A failure or a stop leaves no --out this run made (nor, then, anything in it).
  struct made_folder {
    const std::string& path;
    bool made;
    ~made_folder() {
      if (made) ::rmdir(path.c_str());
    }
  } out_made{o.out, made};
  if (!is_file(o.out, true)) {
    std::fprintf(err, "trackvideo: %s is not a folder\n", common::shown_name(o.out).c_str());
    return 1;
  }
  batch_runner runner(o, err, list, stops);
  std::vector<std::pair<const batch_line*, std::string>> todo;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const batch_line& l = lines[i];
    if (static_cast<int>(i % static_cast<std::size_t>(o.shards)) != o.shard) continue;
    if (!l.why.empty()) {
      runner.fail(l, l.why);
      continue;
    }
    std::string identity;
    if (const std::string why = marker_identity(l, o, identity); !why.empty()) {
      runner.fail(l, why);
      continue;
    }
    const std::string dir = in_folder(o.out, l.name);
    if (!o.force && done_before(o, dir, identity)) {
      // What killed runs left there goes all the same.
      sweep_locked({dir, in_folder(dir, "overlay"), in_folder(dir, "detections")}, false);
      runner.note(l, "done before, skipped");
    } else {
      todo.emplace_back(&l, identity);
    }
  }
  runner.run_all(todo);
  if (const int sig = runner.stopped(); sig != 0) {
    if (made) ::rmdir(o.out.c_str());  // when the children left nothing there
    stops.die_of(sig);
  }
  // Under DIR's lock, which every batch's summary takes: what is left of a
  // summary's temporaries then is a dead run's.
  const int out_fd = ::open(o.out.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (out_fd >= 0 && lock_open_folder(out_fd, true) == 1) common::remove_dead_temporaries(o.out);
  const std::string why =
      common::write_file_replacing(in_folder(o.out, kSummaryName), summary_text(lines, o));
  if (out_fd >= 0) ::close(out_fd);
  if (!why.empty()) std::fprintf(err, "trackvideo: %s\n", why.c_str());
  out_made.made = false;
  return runner.failed() || !why.empty() ? 1 : 0;
}

}  // namespace

std::vector<batch_line> parse_batch_list(const std::string& text) {
  std::vector<batch_line> lines;
  int number = 0;
  // One byte-order mark at the start is no part of the first line.
  for (std::size_t start = text.rfind(kUtf8Bom, 0) == 0 ? 3 : 0; start < text.size();) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::vector<std::string> fields = fields_of(line);
    if (fields.empty() || fields[0][0] == '#') continue;
    batch_line l;
    l.line = number;
    l.seqdir = fields[0];
    if (fields.size() > 1) l.tracks = fields[1];
    if (fields.size() > 2)
      l.why =
          "expected SEQDIR or SEQDIR TRACKS, found " + std::to_string(fields.size()) + " fields";
    else if (line.find('\0') != std::string::npos)
      l.why = "the line holds a NUL byte";
    lines.push_back(std::move(l));
  }
  return lines;
}

std::string marker_identity(const batch_line& l, const options& o, std::string& identity) {
  seqinfo s;
  std::string why = read_seqinfo(l.seqdir, s);
  if (!why.empty()) return why;
  identity = kMarkerFirstLine;
  identity += "settings radius=" + std::to_string(o.radius) + " rules=" + rules_text(l, o) +
              " gap=" + std::to_string(o.gap) + " near=" + std::to_string(o.near) +
              " trail=" + std::to_string(o.trail) + "\n";
  identity += input_line("seqinfo", in_folder(l.seqdir, "seqinfo.ini"), why);
  identity += input_line("tracks", l.tracks.empty() ? ground_truth_path(l.seqdir) : l.tracks, why);
  identity += input_line("frames", frames_folder(l.seqdir, s), why);
  identity += frames_digest(l.seqdir, s);
  return why;
}

std::string marker_text(const std::string& identity, const std::string& with, const run_figures& f,
                        double seconds) {
  char figures[160];
  std::snprintf(figures, sizeof figures, "figures %d %d %lld %lld %lld\nseconds %.3f\nend\n",
                f.frames, f.tracks, f.boxes, f.ignored_rows, f.pairs, seconds);
  return identity + "with " + (with.empty() ? "-" : with) + "\n" + figures;
}

bool parse_marker(const std::string& text, std::string& identity, std::string& with, run_figures& f,
                  double& seconds) {
  const std::size_t at = text.find("\nwith ");
  if (text.rfind(kMarkerFirstLine, 0) != 0 || at == std::string::npos || text.back() != '\n')
    return false;
  identity = text.substr(0, at + 1);
  // The rest, exactly: "with W", "figures F T B I P", "seconds S", "end".
  std::vector<std::vector<std::string>> rest;
  for (std::size_t start = at + 1, end; start < text.size(); start = end + 1) {
    end = text.find('\n', start);
    rest.push_back(fields_of(text.substr(start, end - start)));
  }
  if (rest.size() != 4 || rest[0].size() != 2 || rest[1].size() != 6 || rest[1][0] != "figures" ||
      rest[2].size() != 2 || rest[2][0] != "seconds" || rest[3] != std::vector<std::string>{"end"})
    return false;
  with = rest[0][1] == "-" ? "" : rest[0][1];
  const std::vector<std::string>& n = rest[1];
  return read_count(n[1], f.frames) && read_count(n[2], f.tracks) && read_count(n[3], f.boxes) &&
         read_count(n[4], f.ignored_rows) && read_count(n[5], f.pairs) &&
         read_seconds(rest[2][1], seconds);
}

bool usable_name(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name != kSummaryName &&
         name.find('/') == std::string::npos;
}

int run_batch(const options& o, std::FILE* err) {
  try {
    return batch(o, err);
  } catch (const std::exception& e) {
    std::fprintf(err, "trackvideo: %s\n", failure_text(e).c_str());
    return 1;
  }
}

}  // namespace trackvideo
