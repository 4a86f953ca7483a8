// trackvideo/pipeline/measures.h - the measures of a pair of boxes that need
// no histogram (box_iou), and hist_l1 of many pairs of records at once.
//
// The table's hist_l1 is compare_hist over the two records' 64 values: a float
// sum rounded to single precision after each term, so each pair is one chain
// of 64 dependent additions. A frame of the benchmark has about 2,000 pairs,
// and one pair at a time leaves the processor waiting on that chain; this
// computes four pairs side by side, each with exactly compare_hist's
// operations in its order (so exactly its result; a test compares the two).
// Pure function; O(64) per pair, no allocation.
#ifndef TRACKVIDEO_PIPELINE_MEASURES_H
#define TRACKVIDEO_PIPELINE_MEASURES_H

#include <cstddef>
#include <utility>
#include <vector>

#include "trackvideo/input/tracks.h"
#include "trackvideo/pipeline/record_layout.h"

namespace trackvideo {

// Intersection over union of two boxes of inclusive corners: the area of a box
// is (x2 - x1 + 1)(y2 - y1 + 1), in 64 bits (any int corners). 0 for boxes
// that do not meet. O(1).
double box_iou(const track_box& a, const track_box& b);

// out[k] = compare_hist(values + kRecordValues * pairs[k].first,
//                       values + kRecordValues * pairs[k].second, kRecordValues)
// for every k; `out` is resized to pairs.size().
void hist_l1_distances(const float* values, const std::vector<std::pair<int, int>>& pairs,
                       std::vector<float>& out);

}  // namespace trackvideo

#endif  // TRACKVIDEO_PIPELINE_MEASURES_H
