// trackvideo/run/run_inputs.h - what a run reads before its first frame: the
// tracks file (or a sequence folder's), and the frames it opens.
//
// read_inputs() reads and checks seqinfo.ini (with --sequence), the tracks
// file, and prints the notes of a skipped header and of rows the
// ground-truth rules ignored; open_frames() opens the video, the folder or
// the sequence's frames (each of frames 1 .. F a regular file, checked before
// any is decoded); a run that reads no frames (options::reads_frames) does
// not call it. check_standard_output() refuses a standard output that is
// one of the run's inputs or outputs (run_outputs.h).
//
// A video is opened (its module loaded, its stream found) on a thread of its
// own while the tracks file is read (when the run reads frames): the two are
// independent and each takes tens of milliseconds. Its failure is reported
// after the tracks', as if the two had run in turn. Likewise the work given
// as `beside` (the evaluation, which reads files of its own and needs
// seqinfo.ini but not the tracks) runs on a thread of its own while the
// tracks file is read, when the run has two threads or more, and after it
// otherwise; its line waits in run_inputs::beside_line for the caller to
// report it where it would have run.
//
// Ownership: run_inputs owns the tracks and the frame source for the run.
// Cost: reading and sorting the tracks file; a stat per sequence frame.
// Failure: "" or the run's line.
#ifndef TRACKVIDEO_RUN_RUN_INPUTS_H
#define TRACKVIDEO_RUN_RUN_INPUTS_H

#include <cstdio>
#include <functional>
#include <string>
#include <thread>

#include "trackvideo/input/frame_source.h"
#include "trackvideo/run/options.h"
#include "trackvideo/input/sequence.h"
#include "trackvideo/input/tracks.h"

namespace trackvideo {

struct run_inputs {
  explicit run_inputs(long long max_pixels) : source(max_pixels) {}
  ~run_inputs();
  run_inputs(const run_inputs&) = delete;
  run_inputs& operator=(const run_inputs&) = delete;
  // The tracks file and the frames' folder: the options', or a sequence's.
  std::string tracks_path, frames_dir;
  std::string ground_truth_path;  // when evaluating: --ground-truth or DIR/gt/gt.txt
  seqinfo seq;                    // with --sequence
  tracks boxes;
  frame_source source;
  std::thread opening;  // opens a video while the tracks are read
  std::string opened;   // its line, once joined
  // When the run evaluates, the tracks file's bytes, read once for the
  // tracks and the evaluation (which reads them as a tracker's results).
  std::string tracks_text;
};

// Work done beside the caller's: on a thread of its own, or on the caller at
// once. Whatever the work refers to must outlive the side_work, whose
// destructor waits for it.
class side_work {
 public:
  // `work` is the part done beside; `on_caller`, optional, a part the caller
  // does once `work` is started (which `work` may wait for: it must not
  // throw, and it runs first when there is no thread).
  explicit side_work(std::function<std::string()> work, std::function<void()> on_caller = {})
      : work_(std::move(work)), on_caller_(std::move(on_caller)) {}
  ~side_work();
  side_work(const side_work&) = delete;
  side_work& operator=(const side_work&) = delete;
  // Starts the work, on a thread of its own when `thread`, else done here,
  // then does the caller's part. Once at most; std::system_error when a
  // thread cannot be started.
  void start(bool thread);
  // Waits for the work and gives its line ("" when it was never started);
  // an exception it threw is its failure_text.
  std::string wait();

 private:
  void run() noexcept;
  std::function<std::string()> work_;
  std::function<void()> on_caller_;
  std::thread thread_;
  std::string line_;
};

// threads: the video decoder's, and whether `beside` (optional) starts on a
// thread of its own; when the run evaluates, the tracks file is read into
// in.tracks_text before `beside` starts.
std::string read_inputs(const options& o, std::FILE* err, int threads, run_inputs& in,
                        side_work* beside = nullptr);
std::string open_frames(const options& o, run_inputs& in);

}  // namespace trackvideo

#endif  // TRACKVIDEO_RUN_RUN_INPUTS_H
