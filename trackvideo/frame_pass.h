// trackvideo/frame_pass.h - what one frame gives: the records of its boxes,
// its candidate pairs (table rows, overlay lines) and its entries of the
// report's dictionary.
//
// For frame f (1-based) and its boxes (a run of tracks::boxes, sorted by
// object and det), process() computes through histfeat's core the record of
// every box (the text histfeat writes, kept per object for the detection
// files, and its 64 written values for hist_l1), inserts each box into the
// dictionary under (q, f - 1, s), and lists the frame's pairs at an L1
// distance below the radius through trackpair's core.
//
// Ownership: the pass owns its buffers and reuses them from frame to frame (no
// allocation per box once they have grown); the dictionary is the caller's.
// Results stay valid until the next process(). Cost: O(area of the boxes) for
// the histograms, O(m log m) plus the pairs examined for m boxes, O(log n)
// per dictionary insertion.
#ifndef TRACKVIDEO_FRAME_PASS_H
#define TRACKVIDEO_FRAME_PASS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "hist_distance.h"
#include "histfeat/record.h"
#include "tracks.h"
#include "trackpair/trackpair_core.h"

namespace trackvideo {

class frame_pass {
 public:
  frame_pass(const tracks& t, long long radius) : tracks_(t), radius_(radius) {}

  // The boxes [first, last) of tracks::boxes, all of frame f, over the frame's
  // interleaved BGR pixels; the frame's table rows are appended to `rows`
  // unless it is null.
  // "" or "FILE:LINE: box (x1 y1 x2 y2) lies outside
  // the W x H image of frame F" (histfeat's words) for a box wholly outside it.
  std::string process(int f, std::size_t first, std::size_t last, const std::uint8_t* pixels,
                      int width, int height, std::size_t row_bytes,
                      trackpair::box_dictionary& boxes, std::string* rows);

  // Frame f without boxes: no records, no pairs.
  void clear(int f);

  // The detection file text of object q for this frame ("0\n" when absent).
  std::string detection_text(int q) const;
  // The frame's pairs as indices into its boxes (0 = `first`), increasing.
  const std::vector<std::pair<int, int>>& pairs() const { return pairs_; }

 private:
  const tracks& tracks_;
  long long radius_;
  int frame_ = 0;
  std::size_t first_ = 0;

  std::vector<std::uint8_t> plane_storage_;
  histfeat::histograms hist_;
  std::vector<float> values_;         // kRecordValues per box of the frame
  std::vector<long long> distances_;  // per pair: its box distance
  std::vector<float> hist_l1_;        // per pair: its hist_l1
  std::vector<std::string> records_;  // per present object: its records
  std::vector<int> present_;          // the objects of the frame, ascending
  std::vector<std::size_t> start_;    // per present object: index of its first box
  std::vector<int> slot_of_;          // object -> index into present_, or -1
  std::vector<std::vector<trackpair::box_info>> grouped_;
  std::vector<std::pair<int, int>> pairs_;
};

}  // namespace trackvideo

#endif  // TRACKVIDEO_FRAME_PASS_H
