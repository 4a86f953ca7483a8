// trackvideo/sinks/report_runs.h - the candidate report written as the frames go by,
// without a dictionary of every box.
//
// The report has one line per detection of frames 2 .. F, ordered by object,
// then frame, then detection: "q f d " (object and detection from 0, frame
// index f = frame - 1), then "a b " for every detection of another object of
// the same frame at an L1 distance below the radius, in increasing (a, b),
// then a newline; exactly what trackpair's write_report prints over a
// dictionary of the same boxes. The frames come in frame order, so each
// object's lines come in its order: each frame's are appended to the object's
// run, and finish() writes the runs one object after the other.
//
// A frame's hits come from its candidate pairs (pair_pass's order: each
// unordered pair once, increasing (q, s, a, b)): a detection's hits of lower
// objects arrive in increasing order as the second of a pair, those of higher
// objects as the first, together; the former all precede the latter, and
// once the pairs have moved past a detection its line is complete.
//
// Memory: the hits of lower objects of the frame's boxes whose lines are not
// made yet (at most a quarter of the frame's pairs), and the text of the runs
// waits in memory up to kPending bytes in all;
// then every run's text goes to an anonymous temporary file as one chunk, and
// the chunk's place is kept (16 bytes a chunk). finish() reads the chunks back
// in object order. Cost: O(boxes + pairs) a frame, O(report) for finish.
// Failures: "" or one line ("cannot write the report: <reason>"); running out
// of memory throws std::bad_alloc.
#ifndef TRACKVIDEO_SINKS_REPORT_RUNS_H
#define TRACKVIDEO_SINKS_REPORT_RUNS_H

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "trackvideo/pipeline/frame_records.h"
#include "trackvideo/input/tracks.h"

namespace trackvideo {

class report_runs {
 public:
  // The runs' text kept in memory before it is written out.
  static constexpr std::size_t kPending = std::size_t{1} << 22;

  // `pending`: the bytes kept in memory before a spill (tests make it small).
  explicit report_runs(const tracks& t, std::size_t pending = kPending);
  ~report_runs();
  report_runs(const report_runs&) = delete;
  report_runs& operator=(const report_runs&) = delete;

  // The lines of frame r.frame (none for frame 1): begin_frame, then each of
  // its pairs as indices into its boxes in pair_pass's order (increasing
  // first index, and for one first index increasing second), then
  // end_frame, which returns "" or what is wrong. A box's line is made as
  // soon as the pairs have passed it. Frames in increasing order.
  void begin_frame(const frame_records& r);
  void add_pair(int a, int b);
  std::string end_frame();
  // Hands the whole report to `write` in pieces, in order; write returns ""
  // or what is wrong (which ends it).
  using writer = std::function<std::string(const char* data, std::size_t n)>;
  std::string finish(const writer& write);

 private:
  struct chunk {
    long long offset;
    std::size_t size;
  };
  std::string spill();  // every run's pending text to the file

  const tracks& tracks_;
  std::vector<std::string> pending_;        // per object: text not yet in the file
  std::vector<std::vector<chunk>> chunks_;  // per object: its text in the file, in order
  std::size_t pending_bytes_ = 0;
  std::size_t pending_limit_;
  std::FILE* file_ = nullptr;  // the spill file, made when first needed
  long long file_size_ = 0;
  void emit_before(std::size_t k);  // the lines of the frame's boxes before k

  // The frame under way: its number, first box and box count; the boxes whose
  // lines are made; per box its hits of lower objects; the box whose pairs
  // arrive (run_first_) and its hits of higher objects; a failed spill.
  int frame_ = 0;
  std::size_t first_ = 0, boxes_ = 0, emitted_ = 0, run_first_ = 0;
  std::vector<std::vector<int>> lower_;
  std::vector<int> run_;
  std::string why_;
};

}  // namespace trackvideo

#endif  // TRACKVIDEO_SINKS_REPORT_RUNS_H
