// trackvideo/run.cpp - the frame loop and the commit of the outputs (see run.h).
#include "trackvideo/run.h"

#include <opencv2/core/utils/logger.hpp>

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <exception>
#include <filesystem>
#include <memory>
#include <new>
#include <vector>

#include "trackvideo/frame_reader.h"
#include "trackvideo/frame_source.h"
#include "trackvideo/outputs.h"
#include "trackvideo/overlay.h"
#include "trackvideo/pair_pass.h"
#include "trackvideo/progress.h"
#include "trackvideo/table.h"
#include "trackpair/detections.h"
#include "trackvideo/tracks.h"

namespace trackvideo {

namespace {

// Table rows are handed to the pending file in blocks of about this size.
constexpr std::size_t kRowBlock = std::size_t{1} << 16;

std::string in_folder(const std::string& dir, const std::string& name) {
  return dir.empty() || dir.back() == '/' ? dir + name : dir + "/" + name;
}

std::string overlay_file_name(int f) {
  char name[32];
  std::snprintf(name, sizeof name, "frame_%06d.png", f);
  return name;
}

// Copies the whole of `from` (rewound) to `to` and flushes it.
std::string copy_report(std::FILE* from, std::FILE* to) {
  std::rewind(from);
  char buffer[1 << 16];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, from)) > 0;)
    if (std::fwrite(buffer, 1, n, to) != n) break;
  if (std::ferror(from)) return "cannot write the report: " + std::string(std::strerror(errno));
  if (std::fflush(to) != 0 || std::ferror(to))
    return "cannot write the report: " + std::string(std::strerror(errno));
  return "";
}

// The files no output may replace.
std::vector<std::string> output_inputs(const options& o, const frame_source& source) {
  std::vector<std::string> inputs = source.images();
  inputs.push_back(o.tracks);
  if (!o.video.empty()) inputs.push_back(o.video);
  return inputs;
}

// Whether `name` is one that `print` gives for a number in 1 .. last.
bool numbered_name(const std::string& name, const char* pattern, int last,
                   std::string (*print)(int)) {
  int n = 0;
  return std::sscanf(name.c_str(), pattern, &n) == 1 && n >= 1 && n <= last && print(n) == name;
}

// The output folders (an outer one before one inside it, whatever the order
// on the command line), then the table and the video's file.
std::string prepare_outputs(const options& o, const tracks& t, output_set& outputs,
                            common::atomic_file*& csv, common::atomic_file*& video_file) {
  const int frames = t.last_frame, objects = t.objects();
  const name_filter pictures = [frames](const std::string& name) {
    return numbered_name(name, "frame_%d.png", frames, overlay_file_name);
  };
  const name_filter detections = [frames, objects](const std::string& name) {
    int q = 0, f = 0;
    return std::sscanf(name.c_str(), "objects_info_h%d_%d.txt", &q, &f) == 2 && q >= 1 &&
           q <= objects && f >= 1 && f <= frames &&
           trackpair::detection_file_name(q - 1, f - 1) == name;
  };
  struct wanted {
    const std::string* dir;
    const char* role;
    name_filter names;
  };
  std::vector<wanted> folders;
  if (!o.overlay.empty()) folders.push_back({&o.overlay, "the overlay pictures", pictures});
  if (!o.detections.empty()) folders.push_back({&o.detections, "the detection files", detections});
  const auto depth = [](const std::string* dir) {
    return std::filesystem::absolute(*dir).lexically_normal().string().size();
  };
  std::stable_sort(folders.begin(), folders.end(),
                   [&](const wanted& a, const wanted& b) { return depth(a.dir) < depth(b.dir); });
  std::string why;
  for (const wanted& w : folders)
    if (!(why = outputs.prepare_folder(*w.dir, w.role, w.names)).empty()) return why;
  if (!o.csv.empty() && !(why = outputs.open(o.csv, "the table", csv)).empty()) return why;
  if (!o.overlay_video.empty())
    why =
        outputs.open(o.overlay_video, "the overlay video", video_file, overlay_video::kPrivateName);
  return why;
}

struct file_closer {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

std::string run(const options& o, std::FILE* out, std::FILE* err) {
  // Every failure is reported as one line of ours.
  cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
  tracks t;
  std::string why = read_tracks(o.tracks, t);
  if (!why.empty()) return why;
  frame_source source(o.max_pixels);
  why = o.video.empty() ? source.open_folder(o.frames) : source.open_video(o.video);
  if (!why.empty()) return why;
  if (o.video.empty() && static_cast<long long>(source.images().size()) < t.last_frame)
    return o.frames + ": no frame " + std::to_string(source.images().size() + 1) +
           " (the folder holds " + std::to_string(source.images().size()) +
           " images, the tracks go to frame " + std::to_string(t.last_frame) + ")";

  output_set outputs(output_inputs(o, source), o.frames.empty()
                                                   ? std::vector<std::string>{}
                                                   : std::vector<std::string>{o.frames});
  common::atomic_file* csv = nullptr;
  common::atomic_file* video_file = nullptr;
  if (!(why = prepare_outputs(o, t, outputs, csv, video_file)).empty()) return why;

  trackpair::box_dictionary boxes;
  pair_pass pass(t, o.radius);
  overlay_video video;
  bool video_open = false;
  progress shown(progress_wanted(o.progress, ::fileno(err)), t.last_frame, err);
  std::vector<drawn_box> drawn;
  std::vector<unsigned char> png;
  const std::vector<std::pair<int, int>> no_pairs;
  std::string rows = csv ? kCsvHeader : "";
  bool large = false;
  long long pairs_found = 0;

  frame_reader reader(t, source, video_file != nullptr, !o.detections.empty());
  for (int f = 1; f <= t.last_frame; ++f) {
    frame_records* r = reader.next(why);
    if (r == nullptr) return why;
    cv::Mat& frame = r->image;
    if (r->decoded) large = large || frame.cols > kHintWidth || frame.rows > kHintHeight;
    const bool has_boxes = r->boxes() > 0;
    if (has_boxes) pass.process(*r, boxes, csv ? &rows : nullptr);
    const std::vector<std::pair<int, int>>& pairs = has_boxes ? pass.pairs() : no_pairs;
    pairs_found += static_cast<long long>(pairs.size());
    if (csv && rows.size() >= kRowBlock) {
      if (!(why = csv->write(rows.data(), rows.size())).empty()) return why;
      rows.clear();
    }
    for (int q = 0; !o.detections.empty() && q < t.objects(); ++q) {
      why = outputs.write_closed(in_folder(o.detections, trackpair::detection_file_name(q, f - 1)),
                                 r->detection_text(q));
      if (!why.empty()) return why;
    }
    if (has_boxes && (video_file || !o.overlay.empty())) {
      drawn.clear();
      for (std::size_t k = r->first; k < r->last; ++k) {
        const track_box& b = t.boxes[k];
        drawn.push_back(
            drawn_box{t.ids[static_cast<std::size_t>(b.object)], b.x1, b.y1, b.x2, b.y2});
      }
      draw_overlay(frame, drawn, pairs);
    }
    if (has_boxes && !o.overlay.empty()) {
      if (!(why = encode_png(frame, png)).empty()) return why;
      const std::string text(png.begin(), png.end());
      if (!(why = outputs.write_closed(in_folder(o.overlay, overlay_file_name(f)), text)).empty())
        return why;
    }
    if (video_file) {
      if (!video_open) {
        why = video.open(*video_file, source.fps(), frame.cols, frame.rows);
        if (!why.empty()) return why;
        video_open = true;
      }
      if (!(why = video.write(frame)).empty())
        return o.overlay_video + ": frame " + std::to_string(f) + ": " + why;
    }
    shown.update(f);
  }
  shown.finish();
  if (csv) {
    if (!rows.empty() && !(why = csv->write(rows.data(), rows.size())).empty()) return why;
    if (!(why = csv->close()).empty()) return why;
  }
  if (video_open && !(why = video.close()).empty()) return why;

  std::unique_ptr<std::FILE, file_closer> report(std::tmpfile());
  if (!report) return "cannot write the report: " + std::string(std::strerror(errno));
  if (!(why = trackpair::write_report(boxes, 1, o.radius, report.get())).empty()) return why;
  if (std::fflush(report.get()) != 0)
    return "cannot write the report: " + std::string(std::strerror(errno));
  if (!(why = outputs.commit_all()).empty()) return why;
  if (!(why = copy_report(report.get(), out)).empty()) return why;
  if (large && pairs_found == 0 && t.objects() >= 2 && o.progress != progress_mode::never)
    std::fprintf(err,
                 "trackvideo: no candidate pairs: the limit is an L1 distance below %lld pixels "
                 "(four corner differences summed); --radius N sets it for larger frames\n",
                 o.radius);
  return "";
}

int trackvideo_main(int argc, const char* const* argv, std::FILE* out, std::FILE* err) {
  options o;
  const std::string why = parse_options(argc, argv, o);
  if (!why.empty()) {
    std::fprintf(err, "trackvideo: %s\n%s", why.c_str(), usage().c_str());
    return 2;
  }
  if (o.help) {
    std::fputs(usage().c_str(), out);
    return std::fflush(out) == 0 ? 0 : 1;
  }
  if (o.version) {
    std::fprintf(out, "trackvideo %s\n", TRACKVIDEO_VERSION);
    return std::fflush(out) == 0 ? 0 : 1;
  }
  std::string failure;
  // Running out of memory (or an OpenCV failure) anywhere in the run ends it
  // like bad input: the outputs' temporaries go as the stack unwinds, and
  // nothing is committed.
  try {
    failure = run(o, out, err);
  } catch (const std::bad_alloc&) {
    failure = "out of memory";
  } catch (const std::exception& e) {
    failure = e.what();
  }
  if (failure.empty()) return 0;
  std::fprintf(err, "trackvideo: %s\n", failure.c_str());
  return 1;
}

}  // namespace trackvideo
