// trackvideo/pipeline/frame_job.h - the work on one frame once its records
// are made: its candidate pairs, their measures and their table rows, handed
// on in chunks of bounded size.
//
// The pairs are the frame's boxes at an L1 distance below the radius, found
// through trackpair's core (each unordered pair once, in increasing
// (q, s, a, b)); each pair's measures are its box distance (always), and,
// when asked for, its intersection over union and, from the records' values,
// hist_l1 and hist_hellinger (NaN without pixels); its row is the --csv row.
// Every kChunkPairs pairs, and once more at the end of the frame (the last
// chunk, possibly empty: every frame has one), the filled chunk is handed to
// the outlet, which swaps it for an emptied one: the buffers go round, and
// nothing is copied or kept.
//
// Ownership: a job owns its working buffers and reuses them from frame to
// frame; the tracks are borrowed. One job per thread. Cost: O(m log m) plus
// the pairs examined for m boxes, O(kRecordValues) per pair for the
// histogram distances. Memory: one chunk (kChunkPairs pairs: under 128 KiB
// with their rows) plus the frame's grouping, O(m).
#ifndef TRACKVIDEO_PIPELINE_FRAME_JOB_H
#define TRACKVIDEO_PIPELINE_FRAME_JOB_H

#include <cstddef>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "trackpair/trackpair_core.h"
#include "trackvideo/pipeline/frame_records.h"
#include "trackvideo/input/tracks.h"

namespace trackvideo {

// What the jobs of a run make, the same for every frame.
struct job_work {
  long long radius = 0;
  bool pixels = true;              // frames with boxes are decoded and their records made
  bool text = false;               // the records' text (the detection files)
  bool measures = false;           // iou, hist_l1 and hist_hellinger of each pair
  bool rows = false;               // each pair's table row (implies measures)
  bool every_frame = false;        // frames without boxes are decoded too (the video)
  bool frames_with_boxes = false;  // only frames with boxes are walked (no pixels)
};

// Some of one frame's pairs, in order. Invariant (verify()): l1 has one
// entry per pair; iou, hist_l1 and hellinger one per pair with measures,
// none without; `rows` holds one line per pair with rows, nothing without.
struct pair_chunk {
  static constexpr std::size_t kChunkPairs = 512;

  std::vector<std::pair<int, int>> pairs;  // indices into the frame's boxes (0 = first)
  std::vector<long long> l1;
  std::vector<double> iou, hist_l1, hellinger;
  std::string rows;
  bool last = false;  // the frame's last chunk

  std::size_t size() const { return pairs.size(); }
  void clear();
  // Whether the invariant holds for `work`. O(pairs + rows).
  bool verify(const job_work& work) const;
};

class frame_job {
 public:
  // Takes a filled chunk (chunk.last says whether it is the frame's last) and
  // leaves an emptied one in its place. "" or what is wrong: the job then
  // stops and returns that line.
  using outlet = std::function<std::string(pair_chunk& chunk)>;

  frame_job(const tracks& t, const job_work& work) : tracks_(t), work_(work) {}

  // The pairs of frame r (records made), handed to `out` in chunks, the last
  // with last set. "" or the outlet's line; running out of memory throws
  // std::bad_alloc.
  std::string pairs(const frame_records& r, const outlet& out);

 private:
  // The measures and rows of the chunk's pairs from measured_ on.
  void measure(const frame_records& r);
  // roots_ and plane_sums_ for the frame of `r` (once per frame).
  void make_roots(const frame_records& r);
  // hist_hellinger of boxes a and b of the frame (indices from r.first).
  double hellinger(int a, int b) const;

  const tracks& tracks_;
  job_work work_;
  pair_chunk chunk_;                                       // being filled
  std::vector<std::vector<trackpair::box_info>> grouped_;  // per present object
  std::vector<float> hist_l1_;                             // the chunk's, as floats
  // Per box of the frame: the square roots of its values and the sums of its
  // planes (hist_hellinger), made once a frame when first needed.
  std::vector<double> roots_, plane_sums_;
  int roots_frame_ = 0;
};

}  // namespace trackvideo

#endif  // TRACKVIDEO_PIPELINE_FRAME_JOB_H
