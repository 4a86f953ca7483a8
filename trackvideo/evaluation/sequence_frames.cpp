// trackvideo/evaluation/sequence_frames.cpp - the rows per frame after the
// preprocessing (see sequence_frames.h).
#include "trackvideo/evaluation/sequence_frames.h"

#include "trackvideo/evaluation/assignment.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>

namespace trackvideo {
namespace evaluation {

namespace {

constexpr int kPedestrian = 1;
constexpr int kLastClass = 13;

bool is_distractor(int cls, bool mot20) {
  return cls == 2 || cls == 7 || cls == 8 || cls == 12 || (mot20 && cls == 6);
}

box corners(const mot_row& r) {
  return box{r.left, r.top, r.left + r.width, r.top + r.height};
}

double overlap(const box& a, const box& b) {
  const double w = std::min(a.x2, b.x2) - std::max(a.x1, b.x1);
  const double h = std::min(a.y2, b.y2) - std::max(a.y1, b.y1);
  if (!(w > 0 && h > 0)) return 0;  // what the division below gives then
  double inter = w * h;
  const double area_a = (a.x2 - a.x1) * (a.y2 - a.y1);
  const double area_b = (b.x2 - b.x1) * (b.y2 - b.y1);
  double uni = area_a + area_b - inter;
  if (area_a <= kEpsilon || area_b <= kEpsilon || uni <= kEpsilon) inter = 0;
  if (uni <= kEpsilon) uni = 1;
  return inter / uni;
}

// Rows grouped by frame (counting sort, file order kept within a frame):
// frame f's rows are index[start[f] .. start[f + 1]).
void by_frame(const mot_rows& rows, int seq_length, std::vector<int>& start,
              std::vector<int>& index) {
  start.assign(static_cast<std::size_t>(seq_length) + 2, 0);
  for (const mot_row& r : rows.rows) ++start[r.frame + 1];
  for (int f = 1; f <= seq_length + 1; ++f) start[f] += start[f - 1];
  index.resize(rows.rows.size());
  std::vector<int> next(start.begin(), start.end());
  for (std::size_t i = 0; i < rows.rows.size(); ++i)
    index[next[rows.rows[i].frame]++] = static_cast<int>(i);
}

// Dense indices of ids: `ids` sorted and distinct, `dense` rewritten in place.
// Ids within a span of a few times their count (trackers number them from
// 0 or 1 up) are ranked through a table, O(n + span); others are sorted.
void densify(std::vector<int>& dense, std::vector<int>& ids) {
  ids.clear();
  if (dense.empty()) return;
  const auto [low, high] = std::minmax_element(dense.begin(), dense.end());
  const long long lo = *low, span = static_cast<long long>(*high) - lo + 1;
  if (span <= 4 * static_cast<long long>(dense.size()) + 4096) {
    std::vector<int> rank(static_cast<std::size_t>(span), -1);
    for (const int id : dense) rank[static_cast<std::size_t>(id - lo)] = 0;
    for (long long v = 0; v < span; ++v)
      if (rank[static_cast<std::size_t>(v)] == 0) {
        rank[static_cast<std::size_t>(v)] = static_cast<int>(ids.size());
        ids.push_back(static_cast<int>(lo + v));
      }
    for (int& id : dense) id = rank[static_cast<std::size_t>(id - lo)];
    return;
  }
  ids = dense;
  std::sort(ids.begin(), ids.end());
  ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
  for (int& id : dense)
    id = static_cast<int>(std::lower_bound(ids.begin(), ids.end(), id) - ids.begin());
}

}  // namespace

// A sweep over the tracker boxes sorted by left edge: gt box g meets only
// boxes whose left edge lies before its right edge and after its left edge
// less the widest box (less a margin far above the rounding of the edges, so
// that none is missed); the overlap of each is then computed as always.
void overlapping_pairs(const std::vector<box>& gts, const std::vector<box>& trs,
                       std::vector<indexed_box>& by_left, std::vector<scored_pair>& out) {
  out.clear();
  by_left.clear();
  double widest = 0;
  for (int j = 0; j < static_cast<int>(trs.size()); ++j) {
    const box& b = trs[j];
    if ((b.x2 - b.x1) * (b.y2 - b.y1) <= kEpsilon) continue;
    by_left.push_back(indexed_box{b, j});
    widest = std::max(widest, b.x2 - b.x1);
  }
  // Contiguous, for the scan below; ties by index, so that the order is the
  // same on every run.
  std::sort(by_left.begin(), by_left.end(), [](const indexed_box& a, const indexed_box& b) {
    return a.b.x1 != b.b.x1 ? a.b.x1 < b.b.x1 : a.index < b.index;
  });
  for (int i = 0; i < static_cast<int>(gts.size()); ++i) {
    const box& g = gts[i];
    const double from = g.x1 - widest - (1 + (std::fabs(g.x1) + widest) * 1e-12);
    auto k = std::partition_point(by_left.begin(), by_left.end(),
                                  [from](const indexed_box& t) { return t.b.x1 <= from; });
    const auto begin = out.size();
    for (; k != by_left.end() && k->b.x1 < g.x2; ++k) {
      const double v = overlap(g, k->b);
      if (v > 0) out.push_back(scored_pair{i, k->index, v});
    }
    std::sort(out.begin() + static_cast<std::ptrdiff_t>(begin), out.end(),
              [](const scored_pair& a, const scored_pair& b) { return a.col < b.col; });
  }
}

std::string prepare_frames(const mot_rows& gt, const mot_rows& tracker, int seq_length, bool mot20,
                           prepared& out) {
  std::vector<int> gt_start, gt_index, tr_start, tr_index;
  by_frame(gt, seq_length, gt_start, gt_index);
  by_frame(tracker, seq_length, tr_start, tr_index);
  std::vector<box> gt_boxes, tr_boxes;
  std::vector<scored_pair> raw,
      pre;  // the frame's overlapping pairs; those of the distractor matching
  std::vector<int> matched, gt_local, tr_local;  // row -> index among those kept, or -1
  std::vector<indexed_box> by_left;
  max_matching solver;
  out.frames.resize(static_cast<std::size_t>(seq_length));
  for (int f = 1; f <= seq_length; ++f) {
    const int* const g_rows = gt_index.data() + gt_start[f];
    const int* const t_rows = tr_index.data() + tr_start[f];
    const int ng = gt_start[f + 1] - gt_start[f], nt = tr_start[f + 1] - tr_start[f];
    gt_boxes.clear();
    tr_boxes.clear();
    for (int i = 0; i < ng; ++i) gt_boxes.push_back(corners(gt.rows[g_rows[i]]));
    for (int j = 0; j < nt; ++j) tr_boxes.push_back(corners(tracker.rows[t_rows[j]]));
    overlapping_pairs(gt_boxes, tr_boxes, by_left, raw);
    tr_local.assign(static_cast<std::size_t>(nt), 0);
    if (ng > 0 && nt > 0) {
      for (int i = 0; i < ng; ++i) {
        const mot_row& r = gt.rows[g_rows[i]];
        if (r.cls < 1 || r.cls > kLastClass)
          return row_place(gt, r.line) + "class " + std::to_string(r.cls) +
                 " is not a class of the benchmark (1 to 13)";
      }
      pre.clear();
      for (const scored_pair& p : raw)
        if (p.score >= kOverlapThreshold - kEpsilon && p.score > kEpsilon) pre.push_back(p);
      solver.solve(pre, ng, nt, matched);
      for (int k : matched)
        if (is_distractor(gt.rows[g_rows[pre[k].row]].cls, mot20)) tr_local[pre[k].col] = -1;
    }
    frame_span& span = out.frames[f - 1];
    span.gt_begin = static_cast<int>(out.gt.size());
    span.tr_begin = static_cast<int>(out.tr.size());
    span.pair_begin = static_cast<int>(out.pairs.size());
    gt_local.assign(static_cast<std::size_t>(ng), -1);
    for (int i = 0; i < ng; ++i) {
      const mot_row& r = gt.rows[g_rows[i]];
      if (!r.zero_marked && r.cls == kPedestrian) {
        gt_local[i] = static_cast<int>(out.gt.size()) - span.gt_begin;
        out.gt.push_back(r.id);
      }
    }
    for (int j = 0; j < nt; ++j)
      if (tr_local[j] == 0) {
        tr_local[j] = static_cast<int>(out.tr.size()) - span.tr_begin;
        out.tr.push_back(tracker.rows[t_rows[j]].id);
      }
    close_frame(raw, gt_local, tr_local, out, span);
  }
  number_pairs(out);
  return "";
}

void close_frame(const std::vector<scored_pair>& raw, const std::vector<int>& gt_local,
                 const std::vector<int>& tr_local, prepared& out, frame_span& span) {
  for (const scored_pair& p : raw)
    if (gt_local[p.row] >= 0 && tr_local[p.col] >= 0)
      out.pairs.push_back(frame_pair{gt_local[p.row], tr_local[p.col], p.score, 0});
  span.gt_end = static_cast<int>(out.gt.size());
  span.tr_end = static_cast<int>(out.tr.size());
  span.pair_end = static_cast<int>(out.pairs.size());
}

void number_pairs(prepared& out) {
  densify(out.gt, out.gt_ids);
  densify(out.tr, out.tr_ids);
  // Pair keys, numbered in order of first appearance.
  std::unordered_map<std::uint64_t, int> key_of;
  key_of.reserve(out.pairs.size() / 4 + 16);  // pairs recur over frames
  for (const frame_span& span : out.frames)
    for (int k = span.pair_begin; k < span.pair_end; ++k) {
      frame_pair& p = out.pairs[k];
      const std::uint64_t key = static_cast<std::uint64_t>(out.gt[span.gt_begin + p.g]) << 32 |
                                static_cast<std::uint32_t>(out.tr[span.tr_begin + p.t]);
      const auto it = key_of.try_emplace(key, static_cast<int>(out.keys.size()));
      if (it.second) out.keys.push_back(key);
      p.key = it.first->second;
    }
}

}  // namespace evaluation
}  // namespace trackvideo
