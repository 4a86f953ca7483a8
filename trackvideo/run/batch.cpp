// trackvideo/run/batch.cpp - a whole dataset in one run (see batch.h).
#include "trackvideo/run/batch.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <unordered_map>
#include <utility>

#include "common/atomic_file.h"
#include "common/tokens.h"
#include "trackvideo/base/failure.h"
#include "trackvideo/input/sequence.h"
#include "trackvideo/run/batch_checks.h"
#include "trackvideo/run/batch_folder.h"
#include "trackvideo/run/batch_index.h"
#include "trackvideo/run/batch_metrics.h"
#include "trackvideo/run/batch_runner.h"

namespace trackvideo {

using common::in_folder;

namespace {

constexpr char kSummaryHeader[] = "sequence,frames,tracks,boxes,ignored_rows,pairs,seconds\n";

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
    run_figures f;
    double seconds = 0;
    if (!marker_matches(l, o, f, seconds)) continue;
    char row[160];
    std::snprintf(row, sizeof row, ",%d,%d,%lld,%lld,%lld,%.3f\n", f.frames, f.tracks, f.boxes,
                  f.ignored_rows, f.pairs, seconds);
    text += csv_field(l.name) + row;
  }
  return text;
}

// The whole batch; exceptions go to run_batch.
int batch(const options& o, std::FILE* err) {
  const std::string list = o.batch == "-" ? "-" : common::shown_name(o.batch);
  std::vector<batch_line> lines;
  if (is_folder_batch(o)) {
    if (const std::string why = read_batch_folder(o, lines); !why.empty()) {
      std::fprintf(err, "trackvideo: %s\n", why.c_str());
      return 1;
    }
  } else {
    std::string text;
    if (const std::string why = read_list(o.batch, text); !why.empty()) {
      std::fprintf(err, "trackvideo: cannot read %s: %s\n", list.c_str(), why.c_str());
      return 1;
    }
    lines = parse_batch_list(text);
  }
  // Every sequence's name, over the whole batch: the shards must agree.
  std::unordered_map<std::string, const batch_line*> first_line;
  std::vector<std::string> frame_dirs;
  bool clash = false;
  for (batch_line& l : lines) {
    seqinfo s;
    // A KITTI sequence is named by its folder of images.
    if (o.kitti) s.name = l.folder;
    const std::string why = l.why.empty() && !o.kitti ? read_seqinfo(l.seqdir, s) : "";
    frame_dirs.push_back(
        why.empty() && l.why.empty() ? (o.kitti ? l.seqdir : frames_folder(l.seqdir, s)) : "");
    l.name = why.empty() && l.why.empty() ? s.name : sequence_folder_name(l.seqdir);
    if (!usable_name(l.name)) {
      if (l.why.empty() && why.empty())
        l.why = "the name " + common::quote_token(l.name) + " cannot be a folder of the output";
      l.name = l.seqdir;
    }
    if (l.why.empty()) l.why = why;
    const auto [it, added] = first_line.emplace(l.name, &l);
    if (!added) {
      const batch_line& other = *it->second;
      const std::string first = other.folder.empty() ? "line " + std::to_string(other.line)
                                                     : "folder " + common::shown_name(other.folder);
      std::fprintf(err, "trackvideo: %s: %s: the name of %s's sequence as well\n",
                   line_place(list, l).c_str(), common::shown_name(l.name).c_str(), first.c_str());
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
    if (!o.force && done_before(o, l, dir, identity)) {
      // What killed runs left there goes all the same.
      sweep_locked({dir, in_folder(dir, "overlay"), in_folder(dir, "detections"),
                    in_folder(dir, kPageFolder)},
                   false);
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
  std::string why =
      common::write_file_replacing(in_folder(o.out, kSummaryName), summary_text(lines, o));
  const std::vector<sequence_scores> scored =
      o.with_metrics ? batch_scores(lines, o) : std::vector<sequence_scores>{};
  if (why.empty() && o.with_metrics)
    why = common::write_file_replacing(in_folder(o.out, kMetricsName), batch_metrics_text(scored, o));
  if (why.empty() && o.with_html) {
    std::vector<bool> failed(lines.size());
    for (std::size_t k = 0; k < lines.size(); ++k) failed[k] = runner.failed(lines[k]);
    why = common::write_file_replacing(in_folder(o.out, kIndexName),
                                       batch_index_text(lines, o, failed, scored));
  }
  if (out_fd >= 0) ::close(out_fd);
  if (!why.empty()) std::fprintf(err, "trackvideo: %s\n", why.c_str());
  out_made.made = false;
  return runner.failed() || !why.empty() ? 1 : 0;
}

}  // namespace

int run_batch(const options& o, std::FILE* err) {
  try {
    return batch(o, err);
  } catch (const std::exception& e) {
    std::fprintf(err, "trackvideo: %s\n", failure_text(e).c_str());
    return 1;
  }
}

}  // namespace trackvideo
