// trackvideo/evaluation/kitti_frames.cpp - KITTI's preprocessing (see
// kitti_frames.h).
#include "trackvideo/evaluation/kitti_frames.h"

#include <algorithm>
#include <cmath>

#include "common/tokens.h"

namespace trackvideo {
namespace evaluation {

namespace {

constexpr double kMaxOccluded = 2, kMaxTruncated = 0;

bool is_distractor(const std::string& cls, const std::string& type) {
  return cls == "car" ? type == "van" : type == "person" || type == "person_sitting";
}

// Whether ground truth of the class is left out of the scores (and is a
// distractor to what it matches).
bool hidden(const kitti_row& r) {
  return std::trunc(r.occluded) > kMaxOccluded || std::trunc(r.truncated) > kMaxTruncated;
}

box corners(const kitti_row& r) {
  return box{r.left, r.top, r.right, r.bottom};
}

// The share of `b`'s area inside `region` (0 for a box of area <= ε).
double inside_share(const box& b, const box& region) {
  const double w = std::max(std::min(b.x2, region.x2) - std::max(b.x1, region.x1), 0.0);
  const double h = std::max(std::min(b.y2, region.y2) - std::max(b.y1, region.y1), 0.0);
  const double area = (b.x2 - b.x1) * (b.y2 - b.y1);
  return area > kEpsilon ? w * h / area : 0;
}

// Rows grouped by frame, file order kept: frame f's are index[start[f] ..
// start[f + 1]).
void by_frame(const std::vector<kitti_row>& rows, int seq_length, std::vector<int>& start,
              std::vector<int>& index) {
  start.assign(static_cast<std::size_t>(seq_length) + 2, 0);
  for (const kitti_row& r : rows) ++start[r.frame + 1];
  for (int f = 1; f <= seq_length + 1; ++f) start[f] += start[f - 1];
  index.resize(rows.size());
  std::vector<int> next(start.begin(), start.end());
  for (std::size_t i = 0; i < rows.size(); ++i) index[next[rows[i].frame]++] = static_cast<int>(i);
}

// "" or the message of an id twice among `kept` (rows of one frame).
std::string unique_ids(std::vector<const kitti_row*> kept, const kitti_file& file) {
  std::sort(kept.begin(), kept.end(), [](const kitti_row* a, const kitti_row* b) {
    return a->id != b->id ? a->id < b->id : a->line < b->line;
  });
  const auto twice =
      std::adjacent_find(kept.begin(), kept.end(),
                         [](const kitti_row* a, const kitti_row* b) { return a->id == b->id; });
  if (twice == kept.end()) return "";
  const kitti_row& r = *twice[1];
  return common::shown_name(file.name) + ":" + std::to_string(r.line) + ": id " +
         std::to_string(r.id) + " is in frame " + std::to_string(r.frame - 1) +
         " twice (also on line " + std::to_string(twice[0]->line) + ")";
}

}  // namespace

std::string prepare_kitti_frames(const kitti_file& gt, const kitti_file& tracker, int seq_length,
                                 const std::string& cls, prepared& out) {
  out = prepared{};
  std::vector<int> gt_start, gt_index, tr_start, tr_index;
  by_frame(gt.rows, seq_length, gt_start, gt_index);
  by_frame(tracker.rows, seq_length, tr_start, tr_index);
  std::vector<const kitti_row*> g_rows, t_rows, kept;
  std::vector<box> gt_boxes, tr_boxes, regions;
  std::vector<scored_pair> raw, pre;
  std::vector<int> matched, gt_local, tr_local;  // row -> index among those kept, or -1
  std::vector<indexed_box> by_left;
  max_matching solver;
  out.frames.resize(static_cast<std::size_t>(seq_length));
  for (int f = 1; f <= seq_length; ++f) {
    g_rows.clear();
    t_rows.clear();
    gt_boxes.clear();
    tr_boxes.clear();
    regions.clear();
    for (int k = gt_start[f]; k < gt_start[f + 1]; ++k) {
      const kitti_row& r = gt.rows[gt_index[k]];
      if (r.type == "dontcare") {
        regions.push_back(corners(r));
      } else if (r.type == cls || is_distractor(cls, r.type)) {
        g_rows.push_back(&r);
        gt_boxes.push_back(corners(r));
      }
    }
    for (int k = tr_start[f]; k < tr_start[f + 1]; ++k) {
      const kitti_row& r = tracker.rows[tr_index[k]];
      if (r.type != cls) continue;
      t_rows.push_back(&r);
      tr_boxes.push_back(corners(r));
    }
    const int ng = static_cast<int>(g_rows.size()), nt = static_cast<int>(t_rows.size());
    overlapping_pairs(gt_boxes, tr_boxes, by_left, raw);
    // tr_local: 0 to keep, 1 matched (kept), -1 removed.
    tr_local.assign(static_cast<std::size_t>(nt), 0);
    if (ng > 0 && nt > 0) {
      pre.clear();
      for (const scored_pair& p : raw)
        if (p.score >= kOverlapThreshold - kEpsilon && p.score > kEpsilon) pre.push_back(p);
      solver.solve(pre, ng, nt, matched);
      for (int k : matched) {
        const kitti_row& g = *g_rows[pre[k].row];
        tr_local[pre[k].col] = is_distractor(cls, g.type) || hidden(g) ? -1 : 1;
      }
    }
    for (int j = 0; j < nt; ++j) {
      if (tr_local[j] != 0) continue;
      const box& b = tr_boxes[j];
      bool drop = b.y2 - b.y1 <= kKittiMinHeight + kEpsilon;
      for (std::size_t k = 0; !drop && k < regions.size(); ++k)
        drop = inside_share(b, regions[k]) > 0.5 + kEpsilon;
      if (drop) tr_local[j] = -1;
    }
    frame_span& span = out.frames[f - 1];
    span.gt_begin = static_cast<int>(out.gt.size());
    span.tr_begin = static_cast<int>(out.tr.size());
    span.pair_begin = static_cast<int>(out.pairs.size());
    gt_local.assign(static_cast<std::size_t>(ng), -1);
    kept.clear();
    for (int i = 0; i < ng; ++i)
      if (g_rows[i]->type == cls && !hidden(*g_rows[i])) {
        gt_local[i] = static_cast<int>(out.gt.size()) - span.gt_begin;
        out.gt.push_back(g_rows[i]->id);
        kept.push_back(g_rows[i]);
      }
    std::string why = unique_ids(kept, gt);
    kept.clear();
    for (int j = 0; j < nt; ++j)
      if (tr_local[j] >= 0) {
        tr_local[j] = static_cast<int>(out.tr.size()) - span.tr_begin;
        out.tr.push_back(t_rows[j]->id);
        kept.push_back(t_rows[j]);
      }
    if (why.empty()) why = unique_ids(kept, tracker);
    if (!why.empty()) return why;
    close_frame(raw, gt_local, tr_local, out, span);
  }
  number_pairs(out);
  return "";
}

std::string evaluate_kitti_sequence(const kitti_file& gt, const kitti_file& tracker, int seq_length,
                                    const std::string& cls, sequence_result& out) {
  prepared d;
  const std::string why = prepare_kitti_frames(gt, tracker, seq_length, cls, d);
  if (!why.empty()) return why;
  score_frames(d, out);
  return "";
}

}  // namespace evaluation
}  // namespace trackvideo
