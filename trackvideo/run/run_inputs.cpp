// trackvideo/run/run_inputs.cpp - the tracks and the frames of a run (see
// run_inputs.h).
#include "trackvideo/run/run_inputs.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "common/input_file.h"
#include "common/tokens.h"
#include "trackvideo/base/failure.h"
#include "trackvideo/input/kitti_tracks.h"

namespace trackvideo {

using common::in_folder;
using common::shown_name;

namespace {

// seqinfo.ini, and the tracks file and frames' folder it implies.
std::string read_sequence(const options& o, run_inputs& in) {
  const std::string why = read_seqinfo(o.sequence, in.seq);
  if (!why.empty()) return why;
  if (in.tracks_path.empty()) in.tracks_path = ground_truth_path(o.sequence);
  in.frames_dir = frames_folder(o.sequence, in.seq);
  return "";
}

// Frames 1 .. F of the sequence, each a regular file, checked before any is
// decoded; each decoded one must have seqinfo.ini's size when it gives one.
std::string open_sequence_frames(const options& o, run_inputs& in) {
  std::vector<std::string> paths;
  for (int f = 1; f <= in.boxes.last_frame; ++f) {
    paths.push_back(frame_path(o.sequence, in.seq, f));
    struct stat st;
    if (::stat(paths.back().c_str(), &st) != 0) {
      const int error = errno;
      return "frame " + std::to_string(f) + ": cannot open " + shown_name(paths.back()) + ": " +
             std::strerror(error);
    }
    if (!S_ISREG(st.st_mode))
      return "frame " + std::to_string(f) + ": " + shown_name(paths.back()) +
             " is not a regular file";
  }
  in.source.open_list(in.frames_dir, std::move(paths), in.seq.frame_rate);
  if (in.seq.im_width > 0 && in.seq.im_height > 0)
    in.source.expect_size(in.seq.im_width, in.seq.im_height,
                          shown_name(in_folder(o.sequence, "seqinfo.ini")));
  return "";
}

// The tracks file, read and checked against the sequence.
std::string read_tracks_input(const options& o, std::FILE* err, run_inputs& in) {
  std::string why;
  tracks& t = in.boxes;
  const gt_rules* rules = o.ground_truth() ? &o.rules : nullptr;
  if (o.evaluating())
    why = o.kitti ? parse_kitti_tracks(in.tracks_text, in.tracks_path, o.rules, t)
                  : parse_tracks(in.tracks_text, in.tracks_path, t, rules);
  else
    why = o.kitti ? read_kitti_tracks(in.tracks_path, o.rules, t)
                  : read_tracks(in.tracks_path, t, rules);
  const std::string skipped = why.empty() ? header_message(t) : "";
  if (!skipped.empty() && o.progress != progress_mode::never)
    std::fprintf(err, "trackvideo: %s\n", skipped.c_str());
  if (why.empty() && o.ground_truth() && o.progress != progress_mode::never)
    std::fprintf(err, "trackvideo: %s\n", ignored_message(t).c_str());
  if (why.empty() && o.kitti && t.ignored_flag + t.ignored_class > 0 &&
      o.progress != progress_mode::never)
    std::fprintf(err, "trackvideo: %s\n", kitti_ignored_message(t).c_str());
  if (!why.empty() || o.sequence.empty() || t.last_frame <= in.seq.seq_length) return why;
  // The first row beyond the sequence, in file order.
  const track_box& b = *first_row_after(t, in.seq.seq_length);
  return shown_name(in.tracks_path) + ":" + std::to_string(b.line) + ": frame " +
         std::to_string(b.frame) + " is beyond the sequence's " +
         std::to_string(in.seq.seq_length) + " frames (seqLength in " +
         shown_name(in_folder(o.sequence, "seqinfo.ini")) + ")";
}

}  // namespace

run_inputs::~run_inputs() {
  if (opening.joinable()) opening.join();
}

std::string read_inputs(const options& o, std::FILE* err, int threads, run_inputs& in,
                        side_work* beside) {
  if (!o.video.empty() && o.reads_frames()) {
    in.opening = std::thread([&o, threads, &in] {
      try {
        in.opened = in.source.open_video(o.video, threads);
      } catch (const std::exception& e) {
        in.opened = failure_text(e);
      }
    });
  }
  in.tracks_path = o.tracks;
  in.frames_dir = o.frames;
  if (o.evaluating())
    in.ground_truth_path = o.sequence.empty() ? o.ground_truth_file : ground_truth_path(o.sequence);
  std::string why;
  if (!o.sequence.empty() && !(why = read_sequence(o, in)).empty()) return why;
  if (o.evaluating() && !(why = common::read_text(in.tracks_path, in.tracks_text)).empty())
    return why;
  if (beside) beside->start(threads > 1);
  return read_tracks_input(o, err, in);
}

side_work::~side_work() {
  if (thread_.joinable()) thread_.join();
}

void side_work::run() noexcept {
  try {
    line_ = work_();
  } catch (const std::exception& e) {
    line_ = failure_text(e);
  } catch (...) {
    line_ = "internal error";
  }
}

void side_work::start(bool thread) {
  if (thread) {
    thread_ = std::thread([this] { run(); });
    if (on_caller_) on_caller_();
  } else {
    if (on_caller_) on_caller_();
    run();
  }
}

std::string side_work::wait() {
  if (thread_.joinable()) thread_.join();
  return line_;
}

std::string open_frames(const options& o, run_inputs& in) {
  if (!o.sequence.empty()) return open_sequence_frames(o, in);
  if (in.opening.joinable()) in.opening.join();
  const std::string why = o.video.empty() ? in.source.open_folder(o.frames) : in.opened;
  if (!why.empty()) return why;
  const std::size_t images = in.source.images().size();
  const track_box* beyond = o.kitti ? first_row_after(in.boxes, static_cast<int>(images)) : nullptr;
  if (beyond)  // a row's frame k is the folder's image k + 1
    return shown_name(in.tracks_path) + ":" + std::to_string(beyond->line) + ": frame " +
           std::to_string(in.boxes.shown_frame(beyond->frame)) + " is beyond the " +
           std::to_string(images) + (images == 1 ? " image of " : " images of ") +
           shown_name(o.frames) + " (frames count from 0)";
  if (o.video.empty() && static_cast<long long>(images) < in.boxes.last_frame)
    return shown_name(o.frames) + ": no frame " + std::to_string(images + 1) +
           " (the folder holds " + std::to_string(images) + (images == 1 ? " image" : " images") +
           ", the tracks go to frame " + std::to_string(in.boxes.last_frame) + ")";
  return "";
}

}  // namespace trackvideo
