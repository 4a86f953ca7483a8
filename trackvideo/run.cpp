// trackvideo/run.cpp - the run as a sequence of stages (see run.h): read and
// check the inputs, open the frames, prepare the outputs, the frame loop,
// finish the outputs, write the report, commit.
#include "trackvideo/run.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <opencv2/core/utils/logger.hpp>

#include <algorithm>
#include <cmath>
#include <unordered_map>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <climits>
#include <cstring>
#include <exception>
#include <system_error>
#include <memory>
#include <new>
#include <stdexcept>
#include <vector>

#include "common/processors.h"
#include "common/tokens.h"
#include "tavo/error.h"
#include "trackpair/detections.h"
#include "trackpair/trackpair_core.h"
#include "trackvideo/batch.h"
#include "trackvideo/encounters.h"
#include "trackvideo/failure.h"
#include "trackvideo/html_page.h"
#include "trackvideo/frame_reader.h"
#include "trackvideo/frame_source.h"
#include "trackvideo/outputs.h"
#include "trackvideo/overlay.h"
#include "trackvideo/pair_pass.h"
#include "trackvideo/progress.h"
#include "trackvideo/report_runs.h"
#include "trackvideo/sequence.h"
#include "trackvideo/table.h"
#include "trackvideo/tracks.h"

namespace trackvideo {

using common::in_folder;
using common::shown_name;

namespace {

std::string overlay_file_name(int f) {
  char name[32];
  std::snprintf(name, sizeof name, "frame_%06d.png", f);
  return name;
}

std::string system_error(const std::string& what) {
  return what + ": " + std::strerror(errno);
}

// Everything a run holds, built stage by stage by run() below; each stage
// returns "" or what is wrong, and a failed stage ends the run (the outputs'
// temporaries and created folders go with `outputs`).
class run_stages {
 public:
  run_stages(const options& o, std::FILE* out, std::FILE* err, const sequence_files* files)
      : o_(o), out_(out), err_(err), files_(files), tracks_path_(o.tracks), frames_dir_(o.frames) {}

  std::string read_inputs();
  std::string open_frames();
  std::string prepare_outputs();
  std::string frame_loop();
  std::string finish_outputs();
  std::string write_report();
  std::string commit();
  void hint() const;

 private:
  // The steps of one frame of the loop.
  std::string pairs_rows_and_report(const frame_records& r);
  std::string detection_files(const frame_records& r);
  void draw(frame_records& r);
  std::string png(const frame_records& r);
  std::string video_frame(const frame_records& r);

  std::string read_sequence();
  std::string open_sequence_frames();
  void prepare_pictures();
  overlay_extras extras_of(const frame_records& r,
                           const std::vector<std::pair<int, int>>& pairs) const;

  std::string thumbnails(const frame_records& r);

  bool pictures() const { return video_file_ != nullptr || !o_.overlay.empty(); }
  // --threads, or one per usable processor: the frame reader's workers and
  // the video decoder's own threads.
  int threads() const { return o_.threads > 0 ? o_.threads : common::usable_processors(); }
  // Whether frames are drawn: for the pictures, or the page's thumbnails.
  bool drawing() const { return pictures() || !o_.html.empty(); }
  bool encounters_wanted() const { return !o_.encounters.empty() || !o_.html.empty(); }

  const options& o_;
  std::FILE* const out_;
  std::FILE* const err_;
  const sequence_files* const files_;  // a batch's sequence, else nullptr
  // The tracks file and the frames' folder: the options', or a sequence's.
  std::string tracks_path_, frames_dir_;
  seqinfo seq_;  // with --sequence

  tracks t_;
  frame_source source_{o_.max_pixels};
  std::unique_ptr<output_set> outputs_;
  common::atomic_file* csv_ = nullptr;
  common::atomic_file* video_file_ = nullptr;
  common::atomic_file* report_file_ = nullptr;  // with files_
  common::atomic_file* encounters_file_ = nullptr;
  std::unique_ptr<encounter_finder> finder_;  // when the encounters are wanted
  int frame_now_ = 0;                         // the frame pass_ works on
  // The pictures: per object, the centre of its first box in each of its
  // frames (the trails); per two objects (encounter_key), the runs of frames
  // of their encounters where a track starts or ends (pairs drawn thick).
  std::vector<std::vector<std::pair<int, cv::Point>>> centres_;
  std::unique_ptr<risky_runs> risky_;
  // The page's encounters (from the boxes alone), by min_l1_frame, and the
  // next whose thumbnail is still to be made.
  std::vector<encounter> thumbs_;
  std::size_t next_thumb_ = 0;
  std::unique_ptr<pair_pass> pass_;
  overlay_video video_;
  std::vector<drawn_box> drawn_;
  std::vector<unsigned char> png_;
  bool large_ = false;  // a decoded frame beyond kHintWidth x kHintHeight
  int frame_width_ = 0, frame_height_ = 0;  // of the last decoded frame
  std::unique_ptr<report_runs> report_;  // the report, frame by frame
};

// Whether `name` is one that `print` gives for a number in 1 .. last.
bool numbered_name(const std::string& name, const char* pattern, int last,
                   std::string (*print)(int)) {
  int n = 0;
  return std::sscanf(name.c_str(), pattern, &n) == 1 && n >= 1 && n <= last && print(n) == name;
}

// The names the run may write into the overlay folder and the detections folder.
name_filter picture_names(const tracks& t) {
  const int frames = t.last_frame;
  return [frames](const std::string& name) {
    return numbered_name(name, "frame_%d.png", frames, overlay_file_name);
  };
}
name_filter detection_names(const tracks& t) {
  const int frames = t.last_frame, objects = t.objects();
  return [frames, objects](const std::string& name) {
    int q = 0, f = 0;
    return std::sscanf(name.c_str(), "objects_info_h%d_%d.txt", &q, &f) == 2 && q >= 1 &&
           q <= objects && f >= 1 && f <= frames &&
           trackpair::detection_file_name(q - 1, f - 1) == name;
  };
}

// The files standard output must not be: the tracks, the frames, the outputs.
std::string check_standard_output(const options& o, const std::string& tracks_path, const tracks& t,
                                  const frame_source& source, std::FILE* out) {
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
  if (same(tracks_path)) return refuse("tracks file", tracks_path);
  if (!o.video.empty() && same(o.video)) return refuse("video", o.video);
  for (const std::string& image : source.images())
    if (same(image)) return refuse("frame", image);
  if (!o.csv.empty() && same(o.csv)) return refuse("table", o.csv);
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
  } folders[] = {{o.overlay, "overlay picture", picture_names(t)},
                 {o.detections, "detection file", detection_names(t)}};
  for (const auto& f : folders)
    if (!f.dir.empty() && ::stat(f.dir.c_str(), &given) == 0 && given.st_dev == folder.st_dev &&
        given.st_ino == folder.st_ino && f.names(name))
      return refuse(f.what, in_folder(f.dir, name));
  return "";
}

std::string run_stages::read_inputs() {
  // Every failure is reported as one line of ours.
  cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
  std::string why;
  if (!o_.sequence.empty() && !(why = read_sequence()).empty()) return why;
  why = read_tracks(tracks_path_, t_, o_.ground_truth() ? &o_.rules : nullptr);
  const std::string skipped = why.empty() ? header_message(t_) : "";
  if (!skipped.empty() && o_.progress != progress_mode::never)
    std::fprintf(err_, "trackvideo: %s\n", skipped.c_str());
  if (why.empty() && o_.ground_truth() && o_.progress != progress_mode::never)
    std::fprintf(err_, "trackvideo: %s\n", ignored_message(t_).c_str());
  if (!why.empty() || o_.sequence.empty() || t_.last_frame <= seq_.seq_length) return why;
  // The first row beyond the sequence, in file order.
  int line = INT_MAX, frame = 0;
  for (const track_box& b : t_.boxes)
    if (b.frame > seq_.seq_length && b.line < line) {
      line = b.line;
      frame = b.frame;
    }
  return shown_name(tracks_path_) + ":" + std::to_string(line) + ": frame " +
         std::to_string(frame) + " is beyond the sequence's " + std::to_string(seq_.seq_length) +
         " frames (seqLength in " + shown_name(in_folder(o_.sequence, "seqinfo.ini")) + ")";
}

// seqinfo.ini, and the tracks file and frames' folder it implies.
std::string run_stages::read_sequence() {
  const std::string why = read_seqinfo(o_.sequence, seq_);
  if (!why.empty()) return why;
  if (tracks_path_.empty()) tracks_path_ = ground_truth_path(o_.sequence);
  frames_dir_ = frames_folder(o_.sequence, seq_);
  return "";
}

// Frames 1 .. F of the sequence, each a regular file, checked before any is
// decoded; each decoded one must have seqinfo.ini's size when it gives one.
std::string run_stages::open_sequence_frames() {
  std::vector<std::string> paths;
  for (int f = 1; f <= t_.last_frame; ++f) {
    paths.push_back(frame_path(o_.sequence, seq_, f));
    struct stat st;
    if (::stat(paths.back().c_str(), &st) != 0)
      return system_error("frame " + std::to_string(f) + ": cannot open " +
                          shown_name(paths.back()));
    if (!S_ISREG(st.st_mode))
      return "frame " + std::to_string(f) + ": " + shown_name(paths.back()) +
             " is not a regular file";
  }
  source_.open_list(frames_dir_, std::move(paths), seq_.frame_rate);
  if (seq_.im_width > 0 && seq_.im_height > 0)
    source_.expect_size(seq_.im_width, seq_.im_height,
                        shown_name(in_folder(o_.sequence, "seqinfo.ini")));
  return files_ ? "" : check_standard_output(o_, tracks_path_, t_, source_, out_);
}

std::string run_stages::open_frames() {
  if (!o_.sequence.empty()) return open_sequence_frames();
  std::string why =
      o_.video.empty() ? source_.open_folder(o_.frames) : source_.open_video(o_.video, threads());
  if (!why.empty()) return why;
  const std::size_t images = source_.images().size();
  if (o_.video.empty() && static_cast<long long>(images) < t_.last_frame)
    return shown_name(o_.frames) + ": no frame " + std::to_string(images + 1) +
           " (the folder holds " + std::to_string(images) + (images == 1 ? " image" : " images") +
           ", the tracks go to frame " + std::to_string(t_.last_frame) + ")";
  return check_standard_output(o_, tracks_path_, t_, source_, out_);
}

// The output folders (an outer one before one inside it, whatever the order
// on the command line), then the table and the video's file; the files no
// output may replace are the tracks, the video and the images.
std::string run_stages::prepare_outputs() {
  std::vector<std::string> inputs = source_.images();
  inputs.push_back(tracks_path_);
  if (!o_.video.empty()) inputs.push_back(o_.video);
  if (!o_.sequence.empty()) inputs.push_back(in_folder(o_.sequence, "seqinfo.ini"));
  outputs_ = std::make_unique<output_set>(inputs, frames_dir_.empty()
                                                      ? std::vector<std::string>{}
                                                      : std::vector<std::string>{frames_dir_});
  struct wanted {
    const std::string* dir;
    const char* role;
    name_filter names;
  };
  std::vector<wanted> folders;
  if (!o_.overlay.empty())
    folders.push_back({&o_.overlay, "the overlay pictures", picture_names(t_)});
  if (!o_.detections.empty())
    folders.push_back({&o_.detections, "the detection files", detection_names(t_)});
  if (!o_.html.empty())
    folders.push_back({&o_.html, "the encounters page", [](const std::string& name) {
                         return name == "index.html" ||
                                (name.rfind("enc_", 0) == 0 && name.size() > 8 &&
                                 name.compare(name.size() - 4, 4, ".png") == 0);
                       }});
  const auto depth = [](const std::string* dir) {
    return std::filesystem::absolute(*dir).lexically_normal().string().size();
  };
  std::stable_sort(folders.begin(), folders.end(),
                   [&](const wanted& a, const wanted& b) { return depth(a.dir) < depth(b.dir); });
  std::string why;
  // A batch's sequence folder first: the others are inside it; nothing is
  // written into it but the files opened by name.
  if (files_ &&
      (!(why = outputs_->prepare_folder(files_->folder, "the sequence's outputs",
                                        [](const std::string&) { return false; }))
            .empty() ||
       !(why = outputs_->open(files_->report, "the report", report_file_)).empty()))
    return why;
  for (const wanted& w : folders)
    if (!(why = outputs_->prepare_folder(*w.dir, w.role, w.names)).empty()) return why;
  if (!o_.csv.empty()) {
    if (!(why = outputs_->open(o_.csv, "the table", csv_)).empty()) return why;
    if (!(why = csv_->write(kCsvHeader, std::strlen(kCsvHeader))).empty()) return why;
  }
  if (!o_.overlay_video.empty() &&
      !(why = outputs_->open(o_.overlay_video, "the overlay video", video_file_,
                             overlay_video::private_name(o_.overlay_video)))
           .empty())
    return why;
  pair_pass::row_sink rows;
  if (csv_)
    rows = [this](const std::string& text) { return csv_->write(text.data(), text.size()); };
  pass_ = std::make_unique<pair_pass>(t_, o_.radius, rows, drawing());
  report_ = std::make_unique<report_runs>(t_);
  pass_->set_index_sink([this](int a, int b) { report_->add_pair(a, b); });
  if (!o_.encounters.empty() &&
      !(why = outputs_->open(o_.encounters, "the encounters table", encounters_file_)).empty())
    return why;
  if (encounters_wanted()) {
    finder_ = std::make_unique<encounter_finder>(t_, o_.gap, o_.near);
    pass_->set_visitor([this](const track_box& a, const track_box& b, long long l1, double iou,
                              double hist_l1, double hist_hellinger) {
      finder_->add(frame_now_, a, b, l1, iou, hist_l1, hist_hellinger);
    });
  }
  if (drawing()) prepare_pictures();
  return "";
}

// The trails' centres, and the encounters' runs where a track starts or ends,
// found from the boxes alone before any frame is decoded (pairs depend on the
// boxes only), so that the frames drawn before an encounter is over know it.
void run_stages::prepare_pictures() {
  centres_.assign(static_cast<std::size_t>(t_.objects()), {});
  for (const track_box& b : t_.boxes)
    if (b.det == 0)
      centres_[static_cast<std::size_t>(b.object)].emplace_back(
          b.frame, cv::Point(static_cast<int>((static_cast<long long>(b.x1) + b.x2) / 2),
                             static_cast<int>((static_cast<long long>(b.y1) + b.y2) / 2)));
  risky_ = std::make_unique<risky_runs>(t_, o_.gap, o_.near);
  // The page's thumbnails need every encounter (its closest pair); the
  // drawing only the risky runs.
  std::unique_ptr<encounter_finder> finder;
  if (!o_.html.empty()) finder = std::make_unique<encounter_finder>(t_, o_.gap, o_.near);
  pair_pass boxes_only(t_, o_.radius, {}, false);
  int frame = 0;
  const double none = std::nan("");
  boxes_only.set_visitor(
      [&](const track_box& a, const track_box& b, long long l1, double iou, double, double) {
        risky_->add(frame, a.object, b.object);
        if (finder) finder->add(frame, a, b, l1, iou, none, none);
      },
      false);
  frame_records r;
  for (std::size_t k = 0; k < t_.boxes.size();) {
    frame = t_.boxes[k].frame;
    r.reset(frame, k);
    r.present.clear();
    r.start.clear();
    for (; k < t_.boxes.size() && t_.boxes[k].frame == frame; ++k)
      if (r.present.empty() || r.present.back() != t_.boxes[k].object) {
        r.present.push_back(t_.boxes[k].object);
        r.start.push_back(k - r.first);
      }
    r.last = k;
    if (const std::string why = boxes_only.process(r); !why.empty()) throw std::bad_alloc();
  }
  risky_->finish();
  if (finder) thumbs_ = finder->finish();
  std::stable_sort(thumbs_.begin(), thumbs_.end(), [](const encounter& a, const encounter& b) {
    return a.min_l1_frame < b.min_l1_frame;
  });
}

// The thumbnails of the encounters whose closest pair is in this frame, from
// the drawn frame.
std::string run_stages::thumbnails(const frame_records& r) {
  for (; next_thumb_ < thumbs_.size() && thumbs_[next_thumb_].min_l1_frame <= r.frame;
       ++next_thumb_) {
    const encounter& e = thumbs_[next_thumb_];
    if (e.min_l1_frame < r.frame || !r.decoded) continue;  // cannot happen: frames with pairs are decoded
    std::string why = encode_png(encounter_thumbnail(r.image, e), png_);
    if (why.empty())
      why = outputs_->write_closed(in_folder(o_.html, thumbnail_name(e)),
                                   std::string(png_.begin(), png_.end()));
    if (!why.empty()) return why;
  }
  return "";
}

overlay_extras run_stages::extras_of(const frame_records& r,
                                     const std::vector<std::pair<int, int>>& pairs) const {
  overlay_extras extras;
  extras.frame = r.frame;
  for (std::size_t k = 0; o_.trail > 0 && k < r.present.size(); ++k) {
    const auto& centres = centres_[static_cast<std::size_t>(r.present[k])];
    const auto from = std::lower_bound(
        centres.begin(), centres.end(), static_cast<long long>(r.frame) - o_.trail + 1,
        [](const std::pair<int, cv::Point>& c, long long f) { return c.first < f; });
    std::vector<cv::Point> points;
    for (auto it = from; it != centres.end() && it->first <= r.frame; ++it)
      points.push_back(it->second);
    extras.trails.emplace_back(t_.ids[static_cast<std::size_t>(r.present[k])], std::move(points));
  }
  for (const auto& [i, j] : pairs) {
    const track_box& a = t_.boxes[r.first + static_cast<std::size_t>(i)];
    const track_box& b = t_.boxes[r.first + static_cast<std::size_t>(j)];
    extras.thick.push_back(risky_->contains(r.frame, a.object, b.object));
  }
  return extras;
}

std::string run_stages::pairs_rows_and_report(const frame_records& r) {
  if (r.decoded) {
    large_ = large_ || r.image.cols > kHintWidth || r.image.rows > kHintHeight;
    frame_width_ = r.image.cols;
    frame_height_ = r.image.rows;
  }
  frame_now_ = r.frame;
  if (r.boxes() == 0) return "";
  report_->begin_frame(r);
  const std::string why = pass_->replay(r);
  const std::string report = report_->end_frame();
  return why.empty() ? report : why;
}

std::string run_stages::detection_files(const frame_records& r) {
  for (int q = 0; !o_.detections.empty() && q < t_.objects(); ++q) {
    const std::string why = outputs_->write_closed(
        in_folder(o_.detections, trackpair::detection_file_name(q, r.frame - 1)),
        r.detection_text(q));
    if (!why.empty()) return why;
  }
  return "";
}

void run_stages::draw(frame_records& r) {
  const bool thumbnail =
      next_thumb_ < thumbs_.size() && thumbs_[next_thumb_].min_l1_frame == r.frame;
  if (!r.decoded || !(pictures() || thumbnail)) return;
  drawn_.clear();
  for (std::size_t k = r.first; k < r.last; ++k) {
    const track_box& b = t_.boxes[k];
    drawn_.push_back(
        drawn_box{t_.ids[static_cast<std::size_t>(b.object)], {b.x1, b.y1, b.x2, b.y2}});
  }
  // The pass keeps the pairs of the last frame with boxes.
  static const std::vector<std::pair<int, int>> none;
  const std::vector<std::pair<int, int>>& pairs = r.boxes() > 0 ? pass_->pairs() : none;
  draw_overlay(r.image, drawn_, pairs, extras_of(r, pairs));
}

std::string run_stages::png(const frame_records& r) {
  if (r.boxes() == 0 || o_.overlay.empty()) return "";
  // encode_png prints nothing: a failure is the run's one line.
  const std::string why = encode_png(r.image, png_);
  if (!why.empty()) return why;
  return outputs_->write_closed(in_folder(o_.overlay, overlay_file_name(r.frame)),
                                std::string(png_.begin(), png_.end()));
}

std::string run_stages::video_frame(const frame_records& r) {
  if (!video_file_) return "";
  std::string why;
  if (!video_.is_open()) {
    why = video_.open(*video_file_, source_.fps(), r.image.cols, r.image.rows);
    if (!why.empty()) return why;
  }
  why = video_.write(r.image);
  if (why.empty()) return "";
  // The writer's line names the file when it failed to write it.
  const std::string frame = "frame " + std::to_string(r.frame) + ": ";
  return why.find(o_.overlay_video) != std::string::npos ? frame + why
                                                           : o_.overlay_video + ": " + frame + why;
}

std::string run_stages::frame_loop() {
  progress shown(progress_wanted(o_.progress, ::fileno(err_)), t_.last_frame, err_);
  std::unique_ptr<frame_reader> started;
  // The pass's sink and visitor are set: its work is fixed from here on.
  const pair_work pairs = pass_->work();
  try {
    started = std::make_unique<frame_reader>(t_, source_, video_file_ != nullptr,
                                             !o_.detections.empty(), threads(), &pairs);
  } catch (const std::system_error& e) {
    return "cannot start the frame reader: " + failure_text(e);
  }
  frame_reader& reader = *started;
  std::string why;
  for (int f = 1; f <= t_.last_frame; ++f) {
    frame_records* r = reader.next(why);
    if (r == nullptr) return why;
    if (!(why = pairs_rows_and_report(*r)).empty() || !(why = detection_files(*r)).empty())
      return why;
    draw(*r);
    if (!(why = thumbnails(*r)).empty() || !(why = png(*r)).empty() ||
        !(why = video_frame(*r)).empty())
      return why;
    shown.update(f);
  }
  shown.finish();
  return "";
}

std::string run_stages::finish_outputs() {
  std::string why = pass_->flush();
  if (why.empty() && csv_) why = csv_->close();
  if (why.empty() && finder_) {
    const std::vector<encounter> found = finder_->finish();
    if (encounters_file_) {
      std::string table = kEncountersHeader;
      for (const encounter& e : found) append_encounter_row(table, e);
      why = encounters_file_->write(table.data(), table.size());
      if (why.empty()) why = encounters_file_->close();
    }
    if (why.empty() && !o_.html.empty()) {
      page_summary summary;
      summary.title = o_.sequence.empty() ? shown_name(tracks_path_) : seq_.name;
      summary.frames = t_.last_frame;
      summary.tracks = t_.objects();
      summary.boxes = static_cast<long long>(t_.boxes.size());
      summary.pairs = pass_->found();
      summary.frame_width = frame_width_;
      summary.frame_height = frame_height_;
      why = outputs_->write_closed(in_folder(o_.html, "index.html"), html_page(summary, found));
    }
  }
  if (why.empty() && video_.is_open()) why = video_.close();
  return why;
}

std::string run_stages::write_report() {
  // On standard output, whole and flushed, before anything is committed (or
  // into a batch's report file).
  std::string why = report_->finish([this](const char* data, std::size_t n) -> std::string {
    if (report_file_) return report_file_->write(data, n);
    errno = 0;
    return std::fwrite(data, 1, n, out_) == n ? "" : system_error("cannot write to standard output");
  });
  if (!why.empty()) return why;
  if (report_file_) return report_file_->close();
  if (std::fflush(out_) != 0 || std::ferror(out_))
    return system_error("cannot write to standard output");
  return "";
}

std::string run_stages::commit() {
  if (files_) {
    run_figures figures;
    figures.frames = t_.last_frame;
    figures.tracks = t_.objects();
    figures.boxes = static_cast<long long>(t_.boxes.size());
    figures.ignored_rows = static_cast<long long>(t_.ignored_flag) + t_.ignored_class;
    figures.pairs = pass_->found();
    common::atomic_file* marker = nullptr;
    std::string why = outputs_->open(files_->marker, "the marker", marker);
    const std::string text = why.empty() ? files_->marker_text(figures) : "";
    if (why.empty()) why = marker->write(text.data(), text.size());
    if (why.empty()) why = marker->close();
    return why.empty() ? outputs_->commit_all() : why;
  }
  const std::string why = outputs_->commit_all();
  return why.empty() ? "" : why + " (the report was written)";
}

void run_stages::hint() const {
  if (large_ && pass_->found() == 0 && t_.objects() >= 2 && o_.progress != progress_mode::never)
    std::fprintf(err_,
                 "trackvideo: no candidate pairs: the limit is an L1 distance below %lld pixels "
                 "(four corner differences summed); --radius N sets it for larger frames\n",
                 o_.radius);
}

// The library's errors end the run like our own: running out of memory as
// std::bad_alloc, anything else fatal as std::runtime_error; warnings are
// dropped. Either unwinds to trackvideo_main, which removes the temporaries.
void throwing_error_handler(int code, const char* msg) {
  if (code == 999 && msg && std::strstr(msg, "Out of memory")) throw std::bad_alloc();
  if (code > 0) throw std::runtime_error(msg ? msg : "internal error");
}

// Our error handler installed for the length of a run.
class library_errors_thrown {
 public:
  library_errors_thrown() : handler_(set_error_handler(throwing_error_handler)) {}
  ~library_errors_thrown() { set_error_handler(handler_); }
  library_errors_thrown(const library_errors_thrown&) = delete;
  library_errors_thrown& operator=(const library_errors_thrown&) = delete;

 private:
  tavo_error_handler_type handler_;
};

// Writes `text` on `out`; "" or what is wrong. `out_error`: see trackvideo_main.
std::string write_out(const std::string& text, std::FILE* out, int out_error) {
  errno = out_error;
  if (out_error == 0 && std::fputs(text.c_str(), out) >= 0 && std::fflush(out) == 0) return "";
  return system_error("cannot write to standard output");
}

}  // namespace

std::string run(const options& o, std::FILE* out, std::FILE* err, const sequence_files* files) {
  run_stages s(o, out, err, files);
  std::string why;
  if ((why = s.read_inputs()).empty() && (why = s.open_frames()).empty() &&
      (why = s.prepare_outputs()).empty() && (why = s.frame_loop()).empty() &&
      (why = s.finish_outputs()).empty() && (why = s.write_report()).empty() &&
      (why = s.commit()).empty())
    s.hint();
  return why;
}

std::string guarded_run(const options& o, std::FILE* out, std::FILE* err,
                        const sequence_files* files) {
  // Running out of memory (here, in the library or in OpenCV) or an OpenCV
  // failure anywhere in the run ends it like bad input: the outputs'
  // temporaries go as the stack unwinds, and nothing is committed.
  const library_errors_thrown handler;
  try {
    return run(o, out, err, files);
  } catch (const std::exception& e) {
    return failure_text(e);
  }
}

int trackvideo_main(int argc, const char* const* argv, std::FILE* out, std::FILE* err,
                    int out_error) {
  options o;
  std::string why = parse_options(argc, argv, o);
  if (!why.empty()) {
    std::fprintf(err, "trackvideo: %s\n%s", why.c_str(), usage().c_str());
    return 2;
  }
  if (o.help) {
    why = write_out(usage(), out, out_error);
  } else if (o.version) {
    why = write_out(std::string("trackvideo ") + TRACKVIDEO_VERSION + "\n", out, out_error);
  } else if (out_error != 0) {
    errno = out_error;
    why = system_error("cannot write to standard output");
  } else if (!o.batch.empty()) {
    return run_batch(o, err);
  } else {
    why = guarded_run(o, out, err);
  }
  if (why.empty()) return 0;
  std::fprintf(err, "trackvideo: %s\n", why.c_str());
  return 1;
}

int program_main(int argc, const char* const* argv) {
  // A write to a pipe without reader fails with EPIPE instead of ending the
  // run, and is reported.
  std::signal(SIGPIPE, SIG_IGN);
  // A closed standard descriptor gets /dev/null, so that no file is opened
  // under its number; a closed standard output is still reported.
  const bool output_closed = ::fcntl(1, F_GETFD) < 0;
  for (int fd = 0; fd <= 2; ++fd)
    if (::fcntl(fd, F_GETFD) < 0 && ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY) < 0)
      return 1;
  return trackvideo_main(argc, argv, stdout, stderr, output_closed ? EBADF : 0);
}

}  // namespace trackvideo
