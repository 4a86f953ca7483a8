// trackvideo/run/run_outputs.cpp - the run's output set (see run_outputs.h).
#include "trackvideo/run/run_outputs.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <vector>

#include "common/tokens.h"
#include "trackpair/detections.h"
#include "trackvideo/sinks/html_page.h"
#include "trackvideo/sinks/overlay.h"
#include "trackvideo/sinks/pictures_sink.h"

namespace trackvideo {

using common::in_folder;
using common::shown_name;

namespace {

// Whether `name` is one that `print` gives for a number in first .. last.
bool numbered_name(const std::string& name, const char* prefix, const char* suffix, long long first,
                   long long last, std::string (*print)(int)) {
  const std::size_t p = std::strlen(prefix), s = std::strlen(suffix);
  if (name.size() <= p + s || name.compare(0, p, prefix) != 0 ||
      name.compare(name.size() - s, s, suffix) != 0)
    return false;
  long long n = 0;
  return common::parse_integer(name.data() + p, name.data() + name.size() - s, first, last, n) ==
             common::integer_read::ok &&
         print(static_cast<int>(n)) == name;
}

// The names the run may write into the overlay folder and the detections
// folder: each its canonical name for a frame (and object) of the run, the
// frames numbered as the outputs number them.
name_filter picture_names(const tracks& t) {
  const int first = t.shown_frame(1), last = t.shown_frame(t.last_frame);
  return [first, last](const std::string& name) {
    return numbered_name(name, "frame_", ".png", first, last, overlay_file_name);
  };
}
name_filter detection_names(const tracks& t) {
  const int first = t.shown_frame(1), last = t.shown_frame(t.last_frame), objects = t.objects();
  return [first, last, objects](const std::string& name) {
    static const char prefix[] = "objects_info_h";
    constexpr std::size_t p = sizeof prefix - 1;
    const std::size_t underscore = name.find('_', p);
    const std::size_t dot = name.rfind(".txt");
    if (name.compare(0, p, prefix) != 0 || underscore == std::string::npos ||
        dot == std::string::npos || dot < underscore)
      return false;
    long long q = 0, f = 0;
    return common::parse_integer(name.data() + p, name.data() + underscore, 1, objects, q) ==
               common::integer_read::ok &&
           common::parse_integer(name.data() + underscore + 1, name.data() + dot, first, last, f) ==
               common::integer_read::ok &&
           trackpair::detection_file_name(static_cast<int>(q) - 1, static_cast<int>(f) - 1) == name;
  };
}
// The page's: its index and the thumbnails of encounters and switches (its
// video is opened by name, as a file of its own).
bool page_name(const std::string& name) {
  const auto picture = [&name](const char* prefix, std::size_t size) {
    return name.rfind(prefix, 0) == 0 && name.size() > size &&
           name.compare(name.size() - 4, 4, ".png") == 0;
  };
  return name == "index.html" || picture("enc_", 8) || picture("switch_", 11);
}

}  // namespace

std::string check_standard_output(const options& o, const run_inputs& in, std::FILE* out) {
  struct stat so;
  const int fd = ::fileno(out);
  if (fd < 0 || ::fstat(fd, &so) != 0 || !S_ISREG(so.st_mode)) return "";
  const auto same = [&so](const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && st.st_dev == so.st_dev && st.st_ino == so.st_ino;
  };
  const auto refuse = [](const char* what, const std::string& path) {
    return std::string("standard output is the ") + what + " " + shown_name(path);
  };
  if (same(in.tracks_path)) return refuse("tracks file", in.tracks_path);
  if (!o.video.empty() && same(o.video)) return refuse("video", o.video);
  for (const std::string& image : in.source.images())
    if (same(image)) return refuse("frame", image);
  if (!o.csv.empty() && same(o.csv)) return refuse("table", o.csv);
  if (!in.ground_truth_path.empty() && same(in.ground_truth_path))
    return refuse("ground truth", in.ground_truth_path);
  if (!o.metrics.empty() && same(o.metrics)) return refuse("metrics table", o.metrics);
  if (!o.events.empty() && same(o.events)) return refuse("events table", o.events);
  if (!o.overlay_video.empty() && same(o.overlay_video))
    return refuse("overlay video", o.overlay_video);
  // A file in an output folder: found by the name the system gives the
  // descriptor (left unchecked where there is none).
  char link[4096];
  const std::string fd_path = "/proc/self/fd/" + std::to_string(fd);
  const ssize_t n = ::readlink(fd_path.c_str(), link, sizeof link - 1);
  if (n <= 0) return "";
  const std::string target(link, static_cast<std::size_t>(n));
  const std::size_t slash = target.rfind('/');
  if (slash == std::string::npos) return "";
  struct stat folder, given;
  if (::stat(target.substr(0, slash + 1).c_str(), &folder) != 0) return "";
  const std::string name = target.substr(slash + 1);
  const struct {
    const std::string& dir;
    const char* what;
    name_filter names;
  } folders[] = {{o.overlay, "overlay picture", picture_names(in.boxes)},
                 {o.detections, "detection file", detection_names(in.boxes)}};
  for (const auto& f : folders)
    if (!f.dir.empty() && ::stat(f.dir.c_str(), &given) == 0 && given.st_dev == folder.st_dev &&
        given.st_ino == folder.st_ino && f.names(name))
      return refuse(f.what, in_folder(f.dir, name));
  return "";
}

std::string prepare_outputs(const options& o, const run_inputs& in, const sequence_files* files,
                            run_outputs& out) {
  std::vector<std::string> inputs = in.source.images();
  inputs.push_back(in.tracks_path);
  if (!o.video.empty()) inputs.push_back(o.video);
  if (!o.sequence.empty()) inputs.push_back(in_folder(o.sequence, "seqinfo.ini"));
  if (!in.ground_truth_path.empty()) inputs.push_back(in.ground_truth_path);
  out.set = std::make_unique<output_set>(inputs, in.frames_dir.empty()
                                                     ? std::vector<std::string>{}
                                                     : std::vector<std::string>{in.frames_dir});
  output_set& set = *out.set;
  struct wanted {
    const std::string* dir;
    const char* role;
    name_filter names;
  };
  std::vector<wanted> folders;
  if (!o.overlay.empty())
    folders.push_back({&o.overlay, "the overlay pictures", picture_names(in.boxes)});
  if (!o.detections.empty())
    folders.push_back({&o.detections, "the detection files", detection_names(in.boxes)});
  if (!o.html.empty()) folders.push_back({&o.html, "the encounters page", page_name});
  const auto depth = [](const std::string* dir) {
    return std::filesystem::absolute(*dir).lexically_normal().string().size();
  };
  std::stable_sort(folders.begin(), folders.end(),
                   [&](const wanted& a, const wanted& b) { return depth(a.dir) < depth(b.dir); });
  std::string why;
  // A batch's sequence folder first: the others are inside it; nothing is
  // written into it but the files opened by name.
  if (files && (!(why = set.prepare_folder(files->folder, "the sequence's outputs",
                                           [](const std::string&) { return false; }))
                     .empty() ||
                !(why = set.open(files->report, "the report", out.report)).empty()))
    return why;
  for (const wanted& w : folders)
    if (!(why = set.prepare_folder(*w.dir, w.role, w.names)).empty()) return why;
  if (!o.csv.empty() && !(why = set.open(o.csv, "the table", out.csv)).empty()) return why;
  if (!o.overlay_video.empty() && !(why = set.open(o.overlay_video, "the overlay video", out.video,
                                                   overlay_video::private_name(o.overlay_video)))
                                       .empty())
    return why;
  if (!o.html.empty() && !o.html_no_video &&
      !(why = set.open(in_folder(o.html, kPageVideo), "the page's video", out.page_video,
                       overlay_video::private_name(kPageVideo)))
           .empty())
    return why;
  if (!o.encounters.empty() &&
      !(why = set.open(o.encounters, "the encounters table", out.encounters)).empty())
    return why;
  if (!o.metrics.empty() && !(why = set.open(o.metrics, "the metrics table", out.metrics)).empty())
    return why;
  if (!o.events.empty() && !(why = set.open(o.events, "the events table", out.events)).empty())
    return why;
  return "";
}

}  // namespace trackvideo
