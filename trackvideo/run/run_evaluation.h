// trackvideo/run/run_evaluation.h - a run's evaluation: the tracker's results
// (the tracks file) scored against ground truth, each identity switch given
// its cause, and the metrics and events tables.
//
// The evaluation needs the boxes and the ground truth, never pixels: it is
// done once the inputs are read and before the frames, in three steps.
//   evaluate_run       reads both files as the official evaluation reads
//                      them (evaluation/mot_rows.h) over the sequence's
//                      frames (seqinfo.ini's seqLength; without a sequence,
//                      the last frame of either file) and scores them
//                      (the ground truth on the caller, the results on a
//                      thread of their own: run_inputs.h's side_work)
//                      (evaluation/mot_metrics.h, MOT20's distractors with
//                      --benchmark MOT20); with --format kitti, both
//                      files as KITTI's rows over the images of --frames
//                      (open_frames done, so not beside the tracks'
//                      reading), each class scored apart
//                      (evaluation/kitti_frames.h);
//   evaluation_sink    gathers the tracker's encounters from a pass of the
//                      pipeline over the boxes alone (the pictures' plan's,
//                      or without pixels the run's own); when it finishes,
//   explain_switches   assign_causes with those encounters, each tracker
//                      id's first frame and --near; then counts the switches
//                      laid at each encounter (the encounters table's
//                      `switches` column), and write_evaluation.
// write_evaluation() writes and closes the tables, files of the run's output
// set; summary_line() is the run's one line on standard error.
//
// Ownership: run_evaluation owns the rows, the result and the counts. Cost:
// reading both files and the scoring (mot_metrics.h); O(e log e) for e
// encounters. Failure: "" or "FILE:LINE: what is wrong" for what the official
// evaluation refuses, or "FILE: reason" for a file that cannot be read.
#ifndef TRACKVIDEO_RUN_RUN_EVALUATION_H
#define TRACKVIDEO_RUN_RUN_EVALUATION_H

#include <functional>
#include <future>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/atomic_file.h"
#include "trackvideo/evaluation/mot_metrics.h"
#include "trackvideo/evaluation/switch_causes.h"
#include "trackvideo/run/options.h"
#include "trackvideo/run/run_inputs.h"
#include "trackvideo/sinks/encounters.h"
#include "trackvideo/sinks/sink.h"

namespace trackvideo {

struct run_evaluation {
  std::string name;  // the sequence's: seqinfo.ini's name, else the results file's
  // The ground truth's rows and the sequence's length, read by
  // read_ground_truth; each promise's line ("" or the fault) is set once
  // what it guards is there, for evaluate_run to wait for.
  evaluation::mot_rows gt;
  int length = 0;
  std::promise<std::string> length_read, gt_read;
  evaluation::sequence_result result;
  // With --format kitti, a result per class of kKittiClasses instead.
  std::vector<evaluation::sequence_result> classes;
  std::unordered_map<std::string, int> switches_at;  // encounter "A_B_FIRST" -> switches

  // The switches laid at `e` (0 for none).
  int switches_of(const encounter& e) const;
};

// The evaluation in two parts that may run side by side, the first on the
// caller, the second on a thread of its own; either may start first.
// read_ground_truth reads the ground truth (`in`'s path; with a sequence,
// seqinfo.ini read), works out the sequence's length (without a sequence,
// the last frame of either file: in.tracks_text read) and reads the ground
// truth's rows; with --format kitti it does nothing. Never throws: its
// faults are the promises' lines.
void read_ground_truth(const options& o, const run_inputs& in, run_evaluation& out) noexcept;
// evaluate_run reads the results' rows from in.tracks_text, waits for the
// ground truth's and scores them into `out` (KITTI's: both files' rows, the
// ground truth read here, over the images of in.source). "" or the fault, the ground truth's
// first.
std::string evaluate_run(const options& o, const run_inputs& in, run_evaluation& out);
// Both in turn, in.tracks_text read from in.tracks_path (a batch's sequences).
std::string evaluate_files(const options& o, run_inputs& in, run_evaluation& out);

// Takes a pass over the boxes (with or without measures) for the encounters
// the causes need; when the pass finishes, waits for `scored` (`ready`: ""
// once evaluate_run has filled it, or its line, which ends the run), gives
// every switch its cause (explain_switches) and writes the tables
// (write_evaluation). `scored`, `metrics` and `events` must outlive it;
// either file may be nullptr.
class evaluation_sink : public frame_sink {
 public:
  evaluation_sink(const tracks& t, int gap, int near, run_evaluation& scored,
                  common::atomic_file* metrics, common::atomic_file* events,
                  std::function<std::string()> ready)
      : tracks_(t),
        near_(near),
        finder_(t, gap, near),
        scored_(scored),
        metrics_(metrics),
        events_(events),
        ready_(std::move(ready)) {}
  std::string take(const frame_piece& piece) override;
  std::string finish() override;

 private:
  const tracks& tracks_;
  int near_;
  encounter_finder finder_;
  run_evaluation& scored_;
  common::atomic_file* metrics_;
  common::atomic_file* events_;
  std::function<std::string()> ready_;
};

// Gives every switch of `e` its cause and counts them per encounter.
void explain_switches(const tracks& t, int near,
                      const std::vector<evaluation::encounter_span>& spans, run_evaluation& e);

// Writes the metrics table (header and the sequence's row; KITTI: a row per
// class, named "NAME/CLASS") and the events table (KITTI: a first column
// `class`, frames from 0) into their files, either may be nullptr, and
// closes them.
std::string write_evaluation(const run_evaluation& e, common::atomic_file* metrics,
                             common::atomic_file* events);

// "HOTA 61.2 %, MOTA 70.1 %, IDF1 65.0 %, 12 identity switches (5
// reappearance, ...)": the causes that occur, in the order of switch_cause;
// KITTI: "car: ...; pedestrian: ...".
std::string summary_line(const run_evaluation& e);

}  // namespace trackvideo

#endif  // TRACKVIDEO_RUN_RUN_EVALUATION_H
