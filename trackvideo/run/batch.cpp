// trackvideo/run/batch.cpp - a whole dataset in one run (see batch.h).
#include "trackvideo/run/batch.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <opencv2/core.hpp>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstring>
#include <sstream>
#include <unordered_map>

#include "common/atomic_file.h"
#include "common/input_file.h"
#include "common/processors.h"
#include "common/tokens.h"
#include "trackvideo/input/sequence.h"

namespace trackvideo {

using common::in_folder;

namespace {

using clock_type = std::chrono::steady_clock;

constexpr char kSummaryName[] = "summary.csv";
constexpr char kSummaryHeader[] = "sequence,frames,tracks,boxes,ignored_rows,pairs,seconds\n";
constexpr char kMarkerFirstLine[] = "trackvideo done 1\n";
// Markers and seqinfo.ini files are small; a larger "marker" is not one.
constexpr std::size_t kMarkerLimit = 1 << 16;
// What a child tells its parent fits one pipe write.
constexpr std::size_t kMessageLimit = 3000;

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

// One sequence, in the child process, on `threads` threads: runs it, tells
// the parent on `fd` ("ok F P SECONDS" or "fail WHAT"), and ends the process.
[[noreturn]] void child_main(const options& o, const batch_line& l, const std::string& identity,
                             int threads, int fd) {
  const clock_type::time_point start = clock_type::now();
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
  const std::string dir = in_folder(o.out, l.name);
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
  const std::string why = guarded_run(one, stdout, stderr, &files);
  char figures_text[96];
  std::snprintf(figures_text, sizeof figures_text, "ok %d %lld %.3f", figures.frames,
                figures.pairs, seconds);
  std::string message = why.empty() ? figures_text : "fail " + why;
  if (message.size() > kMessageLimit) message.resize(kMessageLimit);
  for (std::size_t done = 0; done < message.size();) {
    const ssize_t n = ::write(fd, message.data() + done, message.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  std::fflush(nullptr);
  ::_exit(why.empty() ? 0 : 1);
}

// What a killed process left in `dir`: the entries named ".tmp-<pid>-..."
// (files, and private folders with what they hold).
void remove_leftovers(const std::string& dir, pid_t pid) {
  const std::string prefix = ".tmp-" + std::to_string(pid) + "-";
  DIR* d = ::opendir(dir.c_str());
  if (!d) return;
  std::vector<std::string> names;
  while (const dirent* e = ::readdir(d))
    if (std::strncmp(e->d_name, prefix.c_str(), prefix.size()) == 0) names.push_back(e->d_name);
  ::closedir(d);
  for (const std::string& name : names) {
    const std::string path = in_folder(dir, name);
    if (::unlink(path.c_str()) == 0 || errno != EISDIR) continue;
    if (DIR* inner = ::opendir(path.c_str())) {
      while (const dirent* e = ::readdir(inner))
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
          ::unlink(in_folder(path, e->d_name).c_str());
      ::closedir(inner);
    }
    ::rmdir(path.c_str());
  }
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

class batch_runner {
 public:
  batch_runner(const options& o, std::FILE* err, const std::string& list)
      : o_(o),
        err_(err),
        list_(list),
        processors_(common::usable_processors()),
        jobs_(o.jobs > 0 ? o.jobs : processors_) {}

  // Runs `todo` (with the identities of their markers), up to jobs_ at once.
  void run_all(const std::vector<std::pair<const batch_line*, std::string>>& todo) {
    // Each sequence's --threads: as given, else the processors shared among
    // the sequences that run at once.
    const std::size_t at_once = std::max<std::size_t>(1, std::min<std::size_t>(jobs_, todo.size()));
    threads_ = o_.threads > 0 ? o_.threads
                              : std::max(1, processors_ / static_cast<int>(at_once));
    std::size_t next = 0;
    while (next < todo.size() || !live_.empty()) {
      while (live_.size() < static_cast<std::size_t>(jobs_) && next < todo.size()) {
        start(*todo[next].first, todo[next].second);
        ++next;
      }
      if (!live_.empty()) wait_some();
    }
  }

  void fail(const batch_line& l, const std::string& why) {
    std::fprintf(err_, "trackvideo: %s:%d: %s: %s\n", list_.c_str(), l.line, common::shown_name(l.name).c_str(),
                 why.c_str());
    failed_ = true;
  }
  void note(const batch_line& l, const std::string& what) {
    if (o_.progress != progress_mode::never)
      std::fprintf(err_, "trackvideo: %s: %s\n", common::shown_name(l.name).c_str(), what.c_str());
  }
  bool failed() const { return failed_; }

 private:
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
    r.pid = ::fork();
    if (r.pid == 0) {
      ::close(fds[0]);
      for (const running& other : live_) ::close(other.fd);
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

  // Reads what the children say until at least one has ended, and reports it.
  void wait_some() {
    std::vector<pollfd> polled;
    for (const running& r : live_) polled.push_back(pollfd{r.fd, POLLIN, 0});
    if (::poll(polled.data(), polled.size(), -1) < 0) return;  // EINTR: look again
    for (std::size_t k = polled.size(); k-- > 0;) {
      if (polled[k].revents == 0) continue;
      running& r = live_[k];
      char buffer[4096];
      const ssize_t n = ::read(r.fd, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n > 0) {
        if (r.message.size() < kMessageLimit) r.message.append(buffer, static_cast<std::size_t>(n));
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
    int frames = 0;
    long long pairs = 0;
    double seconds = 0;
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0 &&
        std::sscanf(r.message.c_str(), "ok %d %lld %lf", &frames, &pairs, &seconds) == 3) {
      char text[128];
      std::snprintf(text, sizeof text, "%d frames, %lld pairs, %.2f s", frames, pairs, seconds);
      note(l, text);
      return;
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 1 && r.message.rfind("fail ", 0) == 0) {
      fail(l, r.message.substr(5));
      return;
    }
    // Killed or crashed: what it left goes, then the folders it made.
    for (int k = 2; k >= 0; --k) {
      remove_leftovers(r.folders[k], r.pid);
      if (!r.existed[k]) ::rmdir(r.folders[k].c_str());
    }
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
  const int processors_;  // this process may use
  const int jobs_;
  int threads_ = 1;  // each sequence's --threads
  std::vector<running> live_;
  bool failed_ = false;
};

std::string read_list(const std::string& list, std::string& text) {
  if (list != "-") return common::read_file(list, text);
  char buffer[1 << 16];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, stdin)) > 0;) text.append(buffer, n);
  return std::ferror(stdin) ? std::strerror(errno) : "";
}

}  // namespace

std::vector<batch_line> parse_batch_list(const std::string& text) {
  std::vector<batch_line> lines;
  int number = 0;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::vector<std::string> fields;
    for (std::size_t i = 0; i < line.size();) {
      while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
      std::size_t j = i;
      while (j < line.size() && line[j] != ' ' && line[j] != '\t') ++j;
      if (j > i) fields.push_back(line.substr(i, j - i));
      i = j;
    }
    if (fields.empty() || fields[0][0] == '#') continue;
    batch_line l;
    l.line = number;
    l.seqdir = fields[0];
    if (fields.size() > 1) l.tracks = fields[1];
    if (fields.size() > 2)
      l.why = "expected SEQDIR or SEQDIR TRACKS, found " + std::to_string(fields.size()) +
              " fields";
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
  return why;
}

std::string marker_text(const std::string& identity, const std::string& with,
                        const run_figures& f, double seconds) {
  char figures[160];
  std::snprintf(figures, sizeof figures, "figures %d %d %lld %lld %lld\nseconds %.3f\nend\n",
                f.frames, f.tracks, f.boxes, f.ignored_rows, f.pairs, seconds);
  return identity + "with " + (with.empty() ? "-" : with) + "\n" + figures;
}

bool parse_marker(const std::string& text, std::string& identity, std::string& with,
                  run_figures& f, double& seconds) {
  const std::size_t at = text.find("\nwith ");
  if (text.rfind(kMarkerFirstLine, 0) != 0 || at == std::string::npos) return false;
  identity = text.substr(0, at + 1);
  const std::size_t end = text.find('\n', at + 6);
  if (end == std::string::npos) return false;
  with = text.substr(at + 6, end - at - 6);
  if (with == "-") with.clear();
  char tail[8] = {};
  return std::sscanf(text.c_str() + end + 1, "figures %d %d %lld %lld %lld\nseconds %lf\n%3s",
                     &f.frames, &f.tracks, &f.boxes, &f.ignored_rows, &f.pairs, &seconds,
                     tail) == 7 &&
         std::strcmp(tail, "end") == 0;
}

bool usable_name(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name != kSummaryName &&
         name.find('/') == std::string::npos;
}

int run_batch(const options& o, std::FILE* err) {
  const std::string list = o.batch == "-" ? "-" : common::shown_name(o.batch);
  std::string text;
  if (const std::string why = read_list(o.batch, text); !why.empty()) {
    std::fprintf(err, "trackvideo: cannot read %s: %s\n", list.c_str(), why.c_str());
    return 1;
  }
  std::vector<batch_line> lines = parse_batch_list(text);
  // Every sequence's name, over the whole LIST: the shards must agree.
  std::unordered_map<std::string, int> first_line;
  bool clash = false;
  for (batch_line& l : lines) {
    seqinfo s;
    const std::string why = l.why.empty() ? read_seqinfo(l.seqdir, s) : "";
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
  if (::mkdir(o.out.c_str(), 0777) != 0 && errno != EEXIST) {
    std::fprintf(err, "trackvideo: cannot create %s: %s\n", common::shown_name(o.out).c_str(),
                 std::strerror(errno));
    return 1;
  }
  if (!is_file(o.out, true)) {
    std::fprintf(err, "trackvideo: %s is not a folder\n", common::shown_name(o.out).c_str());
    return 1;
  }
  batch_runner runner(o, err, list);
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
    if (!o.force && done_before(o, in_folder(o.out, l.name), identity))
      runner.note(l, "done before, skipped");
    else
      todo.emplace_back(&l, identity);
  }
  runner.run_all(todo);
  const std::string why =
      common::write_file_replacing(in_folder(o.out, kSummaryName), summary_text(lines, o));
  if (!why.empty()) std::fprintf(err, "trackvideo: %s\n", why.c_str());
  return runner.failed() || !why.empty() ? 1 : 0;
}

}  // namespace trackvideo
