// trackvideo/evaluation/sequence_frames.h - a sequence's rows as the scores
// see them: per frame, the rows that stay after the benchmark's
// preprocessing and the pairs of them that overlap. Internal to the scoring
// (mot_metrics.cpp); mot_metrics.h states the rules.
//
// Every (gt id, tracker id) pair that overlaps in some frame gets a key,
// numbered in order of first appearance, so that the scores count per pair
// in flat arrays. Ids are dense: the ids of the rows that stay, sorted, are
// numbered from 0 (gt and tracker apart).
//
// Cost: per frame of g gt and t tracker rows, O((g + t) log t + pairs met)
// for the overlaps (a sweep over left edges) and the distractor matching
// per group of overlapping boxes; memory O(rows + overlapping pairs).
#ifndef TRACKVIDEO_EVALUATION_SEQUENCE_FRAMES_H
#define TRACKVIDEO_EVALUATION_SEQUENCE_FRAMES_H

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "trackvideo/evaluation/assignment.h"
#include "trackvideo/evaluation/mot_rows.h"

namespace trackvideo {
namespace evaluation {

// The double's epsilon, the official evaluation's margin in its comparisons.
constexpr double kEpsilon = std::numeric_limits<double>::epsilon();
// CLEAR's and Identity's overlap threshold, and the distractor matching's.
constexpr double kOverlapThreshold = 0.5;

// One overlapping pair of a frame, between the rows that stay.
struct frame_pair {
  int g, t;    // indices among the frame's gt and tracker rows
  double iou;  // > 0
  int key;     // the (gt id, tracker id) pair over the sequence
};

// The frame's rows that stay: [gt_begin, gt_end) of the gt arrays, and so on.
struct frame_span {
  int gt_begin, gt_end, tr_begin, tr_end, pair_begin, pair_end;
};

// The sequence after preprocessing: rows that stay, per frame, with dense ids.
struct prepared {
  std::vector<frame_span> frames;   // index f - 1
  std::vector<int> gt, tr;          // dense ids of the rows that stay, frame by frame
  std::vector<frame_pair> pairs;    // overlapping pairs, frame by frame
  std::vector<int> gt_ids, tr_ids;  // dense index -> id in the files
  std::vector<std::uint64_t> keys;  // pair key -> gt dense << 32 | tracker dense
};

// A box by its corners, [x1, x2) x [y1, y2).
struct box {
  double x1, y1, x2, y2;
};

// The pairs of gt and tracker boxes that overlap (> 0), ordered by gt then
// tracker index, with their overlap (intersection over union) as score;
// boxes of area <= ε overlap nothing. `by_left` is scratch: the tracker
// boxes by left edge, each with its index.
struct indexed_box {
  box b;
  int index;
};
void overlapping_pairs(const std::vector<box>& gts, const std::vector<box>& trs,
                       std::vector<indexed_box>& by_left, std::vector<scored_pair>& out);

// Ends a frame whose kept rows are in `out` from `span`'s begins: the
// overlapping pairs `raw` of two kept rows (gt_local, tr_local: a row's index
// among the frame's kept, or -1) appended, the span's ends set.
void close_frame(const std::vector<scored_pair>& raw, const std::vector<int>& gt_local,
                 const std::vector<int>& tr_local, prepared& out, frame_span& span);

// Once every frame's rows and pairs are in `out`: its ids made dense
// (gt_ids, tr_ids) and its pairs given their keys.
void number_pairs(prepared& out);

// Fills `out` from the rows of frames 1..seq_length; "" or the error of a
// ground-truth class outside 1..13 in a frame with tracker rows.
std::string prepare_frames(const mot_rows& gt, const mot_rows& tracker, int seq_length, bool mot20,
                           prepared& out);

}  // namespace evaluation
}  // namespace trackvideo

#endif  // TRACKVIDEO_EVALUATION_SEQUENCE_FRAMES_H
