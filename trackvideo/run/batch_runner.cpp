// trackvideo/run/batch_runner.cpp - a process per sequence, and the stop
// signals (see batch_runner.h).
#include "trackvideo/run/batch_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <opencv2/core.hpp>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>

#include "common/atomic_file.h"
#include "common/processors.h"
#include "common/tokens.h"
#include "trackvideo/base/failure.h"
#include "trackvideo/run/batch_checks.h"
#include "trackvideo/run/batch_marker.h"
#include "trackvideo/run/run.h"

namespace trackvideo {

using common::in_folder;

namespace {

using clock_type = std::chrono::steady_clock;

// What a child tells its parent fits one pipe write (PIPE_BUF, 4096 bytes).
constexpr std::size_t kMessageLimit = 3000;
// The signals that stop a batch: passed on to the children, then re-raised.
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

// `line` cut to at most `limit` bytes, never inside a UTF-8 character.
std::string cut_line(std::string line, std::size_t limit) {
  if (line.size() <= limit) return line;
  std::size_t end = limit;
  while (end > 0 && (static_cast<unsigned char>(line[end]) & 0xC0) == 0x80) --end;
  line.resize(end);
  return line + "...";
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
    if (why.empty() && !o.force && done_before(o, l, dir, identity)) {
      message = "skip";
      status = 0;
    } else if (why.empty()) {
      // One process per core already: OpenCV keeps to its own thread.
      if (o.jobs > 1) cv::setNumThreads(1);
      options one;
      if (o.kitti) {
        one.kitti = true;
        one.frames = l.seqdir;
        one.tracks = l.tracks.empty() ? l.labels : l.tracks;
        if (evaluated(l, o)) one.ground_truth_file = l.labels;
      } else {
        one.sequence = l.seqdir;
        one.tracks = l.tracks;
      }
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
      if (o.with_html) one.html = in_folder(dir, kPageFolder);
      if (evaluated(l, o) && o.with_metrics) one.metrics = in_folder(dir, "metrics.csv");
      if (evaluated(l, o) && o.with_events) one.events = in_folder(dir, "events.csv");
      one.mot20 = o.mot20;
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

}  // namespace

stop_signals::stop_signals() {
  sigemptyset(&set_);
  for (const int sig : kStopSignals) sigaddset(&set_, sig);
  ::sigprocmask(SIG_BLOCK, &set_, &saved_);
  fd_ = ::signalfd(-1, &set_, SFD_NONBLOCK | SFD_CLOEXEC);
}

stop_signals::~stop_signals() {
  if (fd_ >= 0) ::close(fd_);
  ::sigprocmask(SIG_SETMASK, &saved_, nullptr);
}

int stop_signals::take() {
  signalfd_siginfo info;
  return fd_ >= 0 && ::read(fd_, &info, sizeof info) == sizeof info
             ? static_cast<int>(info.ssi_signo)
             : 0;
}

void stop_signals::die_of(int sig) {
  std::fflush(nullptr);
  ::signal(sig, SIG_DFL);
  sigset_t one;
  sigemptyset(&one);
  sigaddset(&one, sig);
  ::raise(sig);
  ::sigprocmask(SIG_UNBLOCK, &one, nullptr);
  ::_exit(128 + sig);
}

batch_runner::batch_runner(const options& o, std::FILE* err, const std::string& list,
                           stop_signals& stops)
    : o_(o),
      err_(err),
      list_(list),
      stops_(stops),
      processors_(common::usable_processors()),
      jobs_(o.jobs > 0 ? o.jobs : processors_) {}

batch_runner::~batch_runner() {
  if (live_.empty()) return;
  stop(SIGTERM);
  while (!live_.empty()) wait_some();
}

void batch_runner::run_all(const std::vector<std::pair<const batch_line*, std::string>>& todo) {
  // Each sequence's --threads: as given, else the processors shared among
  // the sequences that run at once.
  const std::size_t at_once = std::max<std::size_t>(1, std::min<std::size_t>(jobs_, todo.size()));
  threads_ = o_.threads > 0 ? o_.threads : std::max(1, processors_ / static_cast<int>(at_once));
  std::size_t next = 0;
  while ((next < todo.size() && stopped_ == 0) || !live_.empty()) {
    if (const int sig = stops_.take(); sig != 0) stop(sig);
    while (stopped_ == 0 && live_.size() < static_cast<std::size_t>(jobs_) && next < todo.size()) {
      start(*todo[next].first, todo[next].second);
      ++next;
    }
    if (!live_.empty()) wait_some();
  }
  if (const int sig = stops_.take(); sig != 0) stopped_ = sig;
}

void batch_runner::fail(const batch_line& l, const std::string& why) {
  std::fprintf(err_, "trackvideo: %s: %s: %s\n", line_place(list_, l).c_str(),
               common::shown_name(l.name).c_str(), why.c_str());
  failed_ = true;
  failed_lines_.insert(&l);
}

void batch_runner::note(const batch_line& l, const std::string& what) {
  if (o_.progress != progress_mode::never)
    std::fprintf(err_, "trackvideo: %s: %s\n", common::shown_name(l.name).c_str(), what.c_str());
}

void batch_runner::stop(int sig) {
  stopped_ = sig;
  for (const running& r : live_) ::kill(r.pid, sig);
}

void batch_runner::start(const batch_line& l, const std::string& identity) {
  running r;
  r.line = &l;
  r.folders[0] = in_folder(o_.out, l.name);
  r.folders[1] = in_folder(r.folders[0], "overlay");
  r.folders[2] = in_folder(r.folders[0], "detections");
  r.folders[3] = in_folder(r.folders[0], kPageFolder);
  for (int k = 0; k < running::kFolders; ++k)
    r.existed[k] = ::access(r.folders[k].c_str(), F_OK) == 0;
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

void batch_runner::wait_some() {
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

void batch_runner::finish(running& r) {
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
      read_count(said[1], frames) && read_count(said[2], pairs) && read_seconds(said[3], seconds)) {
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
  for (int k = running::kFolders - 1; k >= 0; --k) {
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

}  // namespace trackvideo
