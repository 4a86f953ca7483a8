// trackvideo/pair_pass.h - the candidate pairs of one frame: the second half
// of the work on a frame, after its records.
//
// process() inserts every box of the frame into the report's dictionary under
// (q, f - 1, s), lists the frame's pairs at an L1 distance below the radius
// through trackpair's core (each unordered pair once, in increasing
// (q, s, a, b)), and appends their table rows with hist_l1 from the records'
// values.
//
// Ownership: the pass owns its buffers and reuses them from frame to frame;
// the dictionary and the row text are the caller's. pairs() stays valid until
// the next process(). Cost: O(log n) per dictionary insertion, O(m log m) plus
// the pairs examined for m boxes, O(64) per pair for hist_l1.
#ifndef TRACKVIDEO_PAIR_PASS_H
#define TRACKVIDEO_PAIR_PASS_H

#include <string>
#include <utility>
#include <vector>

#include "trackvideo/frame_records.h"
#include "trackpair/trackpair_core.h"
#include "trackvideo/tracks.h"

namespace trackvideo {

class pair_pass {
 public:
  pair_pass(const tracks& t, long long radius) : tracks_(t), radius_(radius) {}

  // The frame of `r`: dictionary entries, pairs, and the table rows appended
  // to `rows` unless it is null.
  void process(const frame_records& r, trackpair::box_dictionary& boxes, std::string* rows);
  // The frame's pairs as indices into its boxes (0 = r.first), increasing.
  const std::vector<std::pair<int, int>>& pairs() const { return pairs_; }

 private:
  const tracks& tracks_;
  long long radius_;
  std::vector<std::vector<trackpair::box_info>> grouped_;  // per present object
  std::vector<std::pair<int, int>> pairs_;
  std::vector<long long> distances_;  // per pair: its box distance
  std::vector<float> hist_l1_;        // per pair: its hist_l1
};

}  // namespace trackvideo

#endif  // TRACKVIDEO_PAIR_PASS_H
