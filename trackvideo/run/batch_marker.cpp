// trackvideo/run/batch_marker.cpp - a sequence's marker (see batch_marker.h).
#include "trackvideo/run/batch_marker.h"

#include <sys/stat.h>

#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <vector>

#include "common/input_file.h"
#include "trackvideo/input/frame_source.h"
#include "trackvideo/input/sequence.h"

namespace trackvideo {

using common::in_folder;

namespace {

constexpr char kMarkerFirstLine[] = "trackvideo done 2\n";
// Markers and seqinfo.ini files are small; a larger "marker" is not one.
constexpr std::size_t kMarkerLimit = 1 << 16;

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
// seqLength, or a KITTI folder's images; a run never reads past a missing
// frame) and the 64-bit FNV-1a hash of "<size> <mtime> <name>\n" of each
// (links followed), then of "missing <name>\n" of the first missing one: an
// edited frame, or a link's edited target, changes it. One stat per frame.
std::string frames_digest(const std::vector<std::string>& paths) {
  std::uint64_t hash = 14695981039346656037ull;
  int present = 0;
  for (const std::string& path : paths) {
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
  if (!o.gt && !l.tracks.empty() && !o.kitti) return "none";
  if (o.rules.all_classes) return "all";
  std::string text;
  // KITTI's types (its tracks always keep some), or the ground truth's classes.
  for (const std::string& t : o.rules.types) text += (text.empty() ? "" : ",") + t;
  if (!o.kitti)
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

}  // namespace

bool evaluated(const batch_line& l, const options& o) {
  return (o.with_metrics || o.with_events) && !l.tracks.empty() && !o.gt;
}

std::string marker_identity(const batch_line& l, const options& o, std::string& identity) {
  seqinfo s;
  std::string why = o.kitti ? "" : read_seqinfo(l.seqdir, s);
  if (!why.empty()) return why;
  identity = kMarkerFirstLine;
  identity += "settings radius=" + std::to_string(o.radius) + " rules=" + rules_text(l, o) +
              " gap=" + std::to_string(o.gap) + " near=" + std::to_string(o.near) +
              " trail=" + std::to_string(o.trail) + "\n";
  if (o.kitti) {
    frame_source images;
    if (!(why = images.open_folder(l.seqdir)).empty()) return why;
    identity += input_line("tracks", l.tracks.empty() ? l.labels : l.tracks, why);
    identity += input_line("frames", l.seqdir, why);
    identity += frames_digest(images.images());
    if (evaluated(l, o))
      identity += "evaluation kitti\n" + input_line("ground-truth", l.labels, why);
    return why;
  }
  identity += input_line("seqinfo", in_folder(l.seqdir, "seqinfo.ini"), why);
  identity += input_line("tracks", l.tracks.empty() ? ground_truth_path(l.seqdir) : l.tracks, why);
  identity += input_line("frames", frames_folder(l.seqdir, s), why);
  std::vector<std::string> frames;
  for (int f = 1; f <= s.seq_length; ++f) frames.push_back(frame_path(l.seqdir, s, f));
  identity += frames_digest(frames);
  if (evaluated(l, o)) {
    identity += std::string("evaluation benchmark=") + (o.mot20 ? "MOT20" : "MOT17") + "\n";
    identity += input_line("ground-truth", ground_truth_path(l.seqdir), why);
  }
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

bool read_marker(const std::string& folder, std::string& identity, std::string& with,
                 run_figures& f, double& seconds) {
  std::string text;
  return common::read_file(in_folder(folder, "done"), text, nullptr, kMarkerLimit).empty() &&
         parse_marker(text, identity, with, f, seconds);
}

bool marker_matches(const batch_line& l, const options& o, run_figures& f, double& seconds) {
  std::string identity, had, with;
  return l.why.empty() && marker_identity(l, o, identity).empty() &&
         read_marker(in_folder(o.out, l.name), had, with, f, seconds) && had == identity;
}

bool done_before(const options& o, const batch_line& l, const std::string& folder,
                 const std::string& identity) {
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
         (!o.with_detections || is_file(in_folder(folder, "detections"), true)) &&
         (!o.with_html || is_file(in_folder(in_folder(folder, kPageFolder), kIndexName), false)) &&
         (!evaluated(l, o) || !o.with_metrics ||
          is_file(in_folder(folder, "metrics.csv"), false)) &&
         (!evaluated(l, o) || !o.with_events || is_file(in_folder(folder, "events.csv"), false));
}

bool is_file(const std::string& path, bool folder) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && (folder ? S_ISDIR(st.st_mode) : S_ISREG(st.st_mode));
}

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

}  // namespace trackvideo
