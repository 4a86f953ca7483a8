// trackvideo/evaluation/mot_metrics.cpp - scores and identity events (see
// mot_metrics.h).
//
// The arithmetic follows the official evaluation's order wherever it decides
// the last bit of a score: overlaps from the same corner sums, each frame's
// overlap sum taken over its matches in row order and then added to the
// total, the association sums in the order of the dense id matrix
// (dense_sum), the ratios divided as written there; so the scores read back
// the same doubles. The ids' similarity in HOTA is summed in another order:
// it only ranks candidate pairs, and a last-bit difference changes a match
// only between pairs tied to the last bit.
#include "trackvideo/evaluation/mot_metrics.h"

#include "trackvideo/evaluation/assignment.h"
#include "trackvideo/evaluation/sequence_frames.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>

namespace trackvideo {
namespace evaluation {

namespace {

constexpr double kContinuation = 1000;  // CLEAR's bonus for keeping last frame's match

void derive_clear(mot_scores& s) {
  const double gt_ids = static_cast<double>(s.mt + s.ml + s.pt);
  const double tp = static_cast<double>(s.clr_tp);
  s.mtr = static_cast<double>(s.mt) / std::max(1.0, gt_ids);
  s.mlr = static_cast<double>(s.ml) / std::max(1.0, gt_ids);
  s.ptr = static_cast<double>(s.pt) / std::max(1.0, gt_ids);
  const double gt_dets = std::max(1.0, static_cast<double>(s.clr_tp + s.clr_fn));
  s.clr_re = tp / gt_dets;
  s.clr_pr = tp / std::max(1.0, static_cast<double>(s.clr_tp + s.clr_fp));
  s.moda = static_cast<double>(s.clr_tp - s.clr_fp) / gt_dets;
  s.mota = static_cast<double>(s.clr_tp - s.clr_fp - s.idsw) / gt_dets;
  s.motp = s.motp_sum / std::max(1.0, tp);
  s.smota = (s.motp_sum - static_cast<double>(s.clr_fp) - static_cast<double>(s.idsw)) / gt_dets;
}

void derive_identity(mot_scores& s) {
  const double tp = static_cast<double>(s.idtp), fn = static_cast<double>(s.idfn),
               fp = static_cast<double>(s.idfp);
  s.idr = tp / std::max(1.0, tp + fn);
  s.idp = tp / std::max(1.0, tp + fp);
  s.idf1 = tp / std::max(1.0, tp + 0.5 * fp + 0.5 * fn);
}

void derive_hota(mot_scores& s) {
  for (int a = 0; a < kAlphas; ++a) {
    const double tp = s.hota_tp[a], fn = s.hota_fn[a], fp = s.hota_fp[a];
    s.det_re[a] = tp / std::max(1.0, tp + fn);
    s.det_pr[a] = tp / std::max(1.0, tp + fp);
    s.det_a[a] = tp / std::max(1.0, tp + fn + fp);
    s.hota[a] = std::sqrt(s.det_a[a] * s.ass_a[a]);
  }
}

// Σ of cells [lo, lo + n) of a matrix whose nonzero cells are `index` (sorted)
// with `value`: summed pairwise as the official evaluation's sums are, below
// 8 cells one after another, up to 128 in eight interleaved partial sums
// (then the remainder), above that as two halves (the first a multiple of 8
// cells). A zero cell leaves every partial sum as it is, so only the nonzero
// cells of the range are visited: O(their count x depth).
double pairwise_sum(const std::uint64_t* index, const double* value, std::size_t count,
                    std::uint64_t lo, std::uint64_t n) {
  if (count == 0) return 0;
  if (n < 8) {
    double sum = 0;
    for (std::size_t k = 0; k < count; ++k) sum += value[k];
    return sum;
  }
  if (n <= 128) {
    double lane[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    const std::uint64_t blocks_end = lo + n - n % 8;
    std::size_t k = 0;
    for (; k < count && index[k] < blocks_end; ++k) lane[(index[k] - lo) % 8] += value[k];
    double sum =
        ((lane[0] + lane[1]) + (lane[2] + lane[3])) + ((lane[4] + lane[5]) + (lane[6] + lane[7]));
    for (; k < count; ++k) sum += value[k];
    return sum;
  }
  std::uint64_t half = n / 2;
  half -= half % 8;
  const std::size_t left =
      static_cast<std::size_t>(std::lower_bound(index, index + count, lo + half) - index);
  return pairwise_sum(index, value, left, lo, half) +
         pairwise_sum(index + left, value + left, count - left, lo + half, n - half);
}

// Σ over a matrix of `cells` cells, as the official evaluation sums a whole
// matrix: blocks of 8192 cells summed pairwise, added one after another.
double dense_sum(const std::vector<std::uint64_t>& index, const std::vector<double>& value,
                 std::uint64_t cells) {
  constexpr std::uint64_t kBlock = 8192;
  double sum = 0;
  std::size_t k = 0;
  for (std::uint64_t lo = 0; lo < cells && k < index.size(); lo += kBlock) {
    const std::uint64_t n = std::min(kBlock, cells - lo);
    std::size_t end = k;
    while (end < index.size() && index[end] < lo + n) ++end;
    sum += pairwise_sum(index.data() + k, value.data() + k, end - k, lo, n);
    k = end;
  }
  return sum;
}

void score_clear(const prepared& d, mot_scores& s, std::vector<identity_event>& events) {
  const int n_gt = static_cast<int>(d.gt_ids.size());
  std::vector<int> last_tr(n_gt, -1), last_frame(n_gt, 0);  // last match, any frame before
  std::vector<int> step_tr(n_gt, -1);  // match in the last frame with rows on both sides
  std::vector<int> step_matched;       // the gt ids set in step_tr
  std::vector<long long> present(n_gt, 0), tracked(n_gt, 0), became_tracked(n_gt, 0);
  std::vector<scored_pair> candidates;
  std::vector<int> cand_pair, matched;
  max_matching solver;
  for (std::size_t fi = 0; fi < d.frames.size(); ++fi) {
    const frame_span& span = d.frames[fi];
    const int frame = static_cast<int>(fi) + 1;
    const int ng = span.gt_end - span.gt_begin, nt = span.tr_end - span.tr_begin;
    if (ng == 0) {
      s.clr_fp += nt;
      continue;
    }
    if (nt == 0) {
      s.clr_fn += ng;
      for (int i = span.gt_begin; i < span.gt_end; ++i) ++present[d.gt[i]];
      continue;
    }
    candidates.clear();
    cand_pair.clear();
    for (int k = span.pair_begin; k < span.pair_end; ++k) {
      const frame_pair& p = d.pairs[k];
      if (p.iou < kOverlapThreshold - kEpsilon) continue;
      const int g = d.gt[span.gt_begin + p.g], t = d.tr[span.tr_begin + p.t];
      candidates.push_back(scored_pair{p.g, p.t, (step_tr[g] == t ? kContinuation : 0) + p.iou});
      cand_pair.push_back(k);
    }
    solver.solve(candidates, ng, nt, matched);
    for (int i = span.gt_begin; i < span.gt_end; ++i) ++present[d.gt[i]];
    double frame_sum = 0;
    for (int m : matched) {
      const frame_pair& p = d.pairs[cand_pair[m]];
      const int g = d.gt[span.gt_begin + p.g], t = d.tr[span.tr_begin + p.t];
      identity_event e;
      e.frame = frame;
      e.gt_id = d.gt_ids[g];
      e.tracker_id = d.tr_ids[t];
      e.iou = p.iou;
      if (last_tr[g] >= 0) {
        e.previous_tracker_id = d.tr_ids[last_tr[g]];
        e.previous_frame = last_frame[g];
      }
      if (step_tr[g] < 0 && ++became_tracked[g] > 1) {
        e.type = event_type::fragment;
        events.push_back(e);
      }
      if (last_tr[g] >= 0 && last_tr[g] != t) {
        ++s.idsw;
        e.type = event_type::identity_switch;
        events.push_back(e);
      }
      ++tracked[g];
      frame_sum += p.iou;
    }
    for (int g : step_matched) step_tr[g] = -1;
    step_matched.clear();
    for (int m : matched) {
      const frame_pair& p = d.pairs[cand_pair[m]];
      const int g = d.gt[span.gt_begin + p.g], t = d.tr[span.tr_begin + p.t];
      last_tr[g] = t;
      last_frame[g] = frame;
      step_tr[g] = t;
      step_matched.push_back(g);
    }
    const int n = static_cast<int>(matched.size());
    s.clr_tp += n;
    s.clr_fn += ng - n;
    s.clr_fp += nt - n;
    if (n > 0) s.motp_sum += frame_sum;
  }
  for (int g = 0; g < n_gt; ++g) {
    if (present[g] == 0) continue;
    const double ratio = static_cast<double>(tracked[g]) / static_cast<double>(present[g]);
    if (ratio > 0.8)
      ++s.mt;
    else if (ratio >= 0.2)
      ++s.pt;
    if (became_tracked[g] > 0) s.frag += became_tracked[g] - 1;
  }
  s.ml = n_gt - s.mt - s.pt;
  derive_clear(s);
}

void score_identity(const prepared& d, mot_scores& s) {
  std::vector<int> shared(d.keys.size(), 0);  // frames of overlap >= 0.5
  for (const frame_pair& p : d.pairs)
    if (p.iou >= kOverlapThreshold) ++shared[p.key];
  std::vector<scored_pair> pairs;
  for (std::size_t k = 0; k < d.keys.size(); ++k)
    if (shared[k] > 0)
      pairs.push_back(scored_pair{static_cast<int>(d.keys[k] >> 32),
                                  static_cast<int>(d.keys[k] & 0xffffffffu),
                                  static_cast<double>(shared[k])});
  std::vector<int> matched;
  max_matching().solve(pairs, static_cast<int>(d.gt_ids.size()), static_cast<int>(d.tr_ids.size()),
                       matched);
  for (int m : matched) s.idtp += static_cast<long long>(pairs[m].score);
  s.idfn = s.gt_dets - s.idtp;
  s.idfp = s.dets - s.idtp;
  derive_identity(s);
}

void score_hota(const prepared& d, mot_scores& s) {
  const std::size_t n_keys = d.keys.size();
  std::vector<double> gt_count(d.gt_ids.size(), 0), tr_count(d.tr_ids.size(), 0);
  for (int g : d.gt) ++gt_count[g];
  for (int t : d.tr) ++tr_count[t];
  // The ids' similarity: per-frame overlap shares summed, over the union.
  std::vector<double> share(n_keys, 0.0), row_sum, col_sum;
  for (const frame_span& span : d.frames) {
    row_sum.assign(static_cast<std::size_t>(span.gt_end - span.gt_begin), 0.0);
    col_sum.assign(static_cast<std::size_t>(span.tr_end - span.tr_begin), 0.0);
    for (int k = span.pair_begin; k < span.pair_end; ++k) {
      row_sum[d.pairs[k].g] += d.pairs[k].iou;
      col_sum[d.pairs[k].t] += d.pairs[k].iou;
    }
    for (int k = span.pair_begin; k < span.pair_end; ++k) {
      const frame_pair& p = d.pairs[k];
      const double denominator = col_sum[p.t] + row_sum[p.g] - p.iou;
      if (denominator > kEpsilon) share[p.key] += p.iou / denominator;
    }
  }
  std::vector<double> similarity(n_keys);
  for (std::size_t k = 0; k < n_keys; ++k)
    similarity[k] =
        share[k] / (gt_count[d.keys[k] >> 32] + tr_count[d.keys[k] & 0xffffffffu] - share[k]);

  // TPs per α of the pairs matched at least once: pair `slot_key[q]` at
  // matches[q * kAlphas + a].
  std::vector<int> slot(n_keys, -1), slot_key, matches;
  std::vector<double> loc_sum(kAlphas, 0.0);
  double at_least[kAlphas];  // the overlap a match needs to count for α
  for (int a = 0; a < kAlphas; ++a) at_least[a] = alpha(a) - kEpsilon;
  std::vector<scored_pair> candidates;
  std::vector<int> cand_pair, matched;
  max_matching solver;
  for (const frame_span& span : d.frames) {
    const int ng = span.gt_end - span.gt_begin, nt = span.tr_end - span.tr_begin;
    if (ng == 0 || nt == 0) {
      for (int a = 0; a < kAlphas; ++a) {
        s.hota_fp[a] += ng == 0 ? nt : 0;
        s.hota_fn[a] += ng == 0 ? 0 : ng;
      }
      continue;
    }
    candidates.clear();
    cand_pair.clear();
    for (int k = span.pair_begin; k < span.pair_end; ++k) {
      const frame_pair& p = d.pairs[k];
      const double score = similarity[p.key] * p.iou;
      if (score > 0) {
        candidates.push_back(scored_pair{p.g, p.t, score});
        cand_pair.push_back(k);
      }
    }
    solver.solve(candidates, ng, nt, matched);
    // A matched pair counts for the α up to the last its overlap reaches
    // (the thresholds rise with α): each pair is looked at once, and each
    // α's sum still adds the pairs in matching order.
    int n[kAlphas] = {};
    double frame_sum[kAlphas] = {};
    for (int m : matched) {
      const frame_pair& p = d.pairs[cand_pair[m]];
      int reached = 0;
      while (reached < kAlphas && p.iou >= at_least[reached]) ++reached;
      if (reached == 0) continue;
      if (slot[p.key] < 0) {
        slot[p.key] = static_cast<int>(slot_key.size());
        slot_key.push_back(p.key);
        matches.resize(matches.size() + kAlphas, 0);
      }
      int* const counts = &matches[static_cast<std::size_t>(slot[p.key]) * kAlphas];
      for (int a = 0; a < reached; ++a) {
        ++n[a];
        frame_sum[a] += p.iou;
        ++counts[a];
      }
    }
    for (int a = 0; a < kAlphas; ++a) {
      s.hota_tp[a] += n[a];
      s.hota_fn[a] += ng - n[a];
      s.hota_fp[a] += nt - n[a];
      if (n[a] > 0) loc_sum[a] += frame_sum[a];
    }
  }
  // The matched pairs in the order of the dense gt id x tracker id matrix
  // their terms are summed over.
  const std::uint64_t n_tr = d.tr_ids.size();
  const std::uint64_t cells = d.gt_ids.size() * n_tr;
  std::vector<std::pair<std::uint64_t, int>> cell_of;  // (cell, slot)
  for (std::size_t q = 0; q < slot_key.size(); ++q) {
    const std::uint64_t key = d.keys[static_cast<std::size_t>(slot_key[q])];
    cell_of.emplace_back((key >> 32) * n_tr + (key & 0xffffffffu), static_cast<int>(q));
  }
  std::sort(cell_of.begin(), cell_of.end());
  std::vector<std::uint64_t> index;
  for (const auto& c : cell_of) index.push_back(c.first);
  std::vector<double> term_a(cell_of.size()), term_re(cell_of.size()), term_pr(cell_of.size());
  for (int a = 0; a < kAlphas; ++a) {
    for (std::size_t c = 0; c < cell_of.size(); ++c) {
      const int q = cell_of[c].second;
      const double m = matches[static_cast<std::size_t>(q) * kAlphas + a];
      const std::uint64_t key = d.keys[static_cast<std::size_t>(slot_key[q])];
      const double gc = gt_count[key >> 32], tc = tr_count[key & 0xffffffffu];
      term_a[c] = m * (m / std::max(1.0, gc + tc - m));
      term_re[c] = m * (m / std::max(1.0, gc));
      term_pr[c] = m * (m / std::max(1.0, tc));
    }
    const double tp = std::max(1.0, s.hota_tp[a]);
    s.ass_a[a] = dense_sum(index, term_a, cells) / tp;
    s.ass_re[a] = dense_sum(index, term_re, cells) / tp;
    s.ass_pr[a] = dense_sum(index, term_pr, cells) / tp;
    s.loc_a[a] = std::max(1e-10, loc_sum[a]) / std::max(1e-10, s.hota_tp[a]);
  }
  derive_hota(s);
}

}  // namespace

double alpha(int a) {
  return 0.05 + a * 0.05;
}

double alpha_mean(const per_alpha& v) {
  std::uint64_t cells[kAlphas];
  for (int a = 0; a < kAlphas; ++a) cells[a] = static_cast<std::uint64_t>(a);
  return pairwise_sum(cells, v.data(), kAlphas, 0, kAlphas) / kAlphas;
}

std::string evaluate_sequence(const mot_rows& gt, const mot_rows& tracker, int seq_length,
                              const evaluation_options& options, sequence_result& out) {
  prepared d;
  const std::string why = prepare_frames(gt, tracker, seq_length, options.mot20, d);
  if (!why.empty()) return why;
  score_frames(d, out);
  return "";
}

void score_frames(const prepared& d, sequence_result& out) {
  out = sequence_result{};
  mot_scores& s = out.scores;
  s.dets = static_cast<long long>(d.tr.size());
  s.gt_dets = static_cast<long long>(d.gt.size());
  s.ids = static_cast<long long>(d.tr_ids.size());
  s.gt_ids = static_cast<long long>(d.gt_ids.size());
  if (s.dets == 0 || s.gt_dets == 0) {
    // Nothing to match: only what is missed (or extra) is counted.
    s.clr_fn = s.idfn = s.gt_dets;
    s.clr_fp = s.idfp = s.dets;
    s.ml = s.dets == 0 ? s.gt_ids : 0;
    s.mlr = 1.0;
    for (int a = 0; a < kAlphas; ++a) {
      s.hota_fn[a] = static_cast<double>(s.gt_dets);
      s.hota_fp[a] = static_cast<double>(s.dets);
      s.loc_a[a] = 1.0;
    }
    return;
  }
  score_clear(d, s, out.events);
  score_identity(d, s);
  score_hota(d, s);
  std::sort(out.events.begin(), out.events.end(),
            [](const identity_event& a, const identity_event& b) {
              if (a.frame != b.frame) return a.frame < b.frame;
              if (a.gt_id != b.gt_id) return a.gt_id < b.gt_id;
              return a.type == event_type::fragment && b.type != event_type::fragment;
            });
}

mot_scores combine_sequences(const std::vector<mot_scores>& sequences) {
  mot_scores c;
  per_alpha ass_a{}, ass_re{}, ass_pr{}, loc{};
  for (const mot_scores& s : sequences) {
    c.clr_tp += s.clr_tp;
    c.clr_fn += s.clr_fn;
    c.clr_fp += s.clr_fp;
    c.idsw += s.idsw;
    c.mt += s.mt;
    c.pt += s.pt;
    c.ml += s.ml;
    c.frag += s.frag;
    c.motp_sum += s.motp_sum;
    c.idtp += s.idtp;
    c.idfn += s.idfn;
    c.idfp += s.idfp;
    c.dets += s.dets;
    c.gt_dets += s.gt_dets;
    c.ids += s.ids;
    c.gt_ids += s.gt_ids;
    for (int a = 0; a < kAlphas; ++a) {
      c.hota_tp[a] += s.hota_tp[a];
      c.hota_fn[a] += s.hota_fn[a];
      c.hota_fp[a] += s.hota_fp[a];
      ass_a[a] += s.ass_a[a] * s.hota_tp[a];
      ass_re[a] += s.ass_re[a] * s.hota_tp[a];
      ass_pr[a] += s.ass_pr[a] * s.hota_tp[a];
      loc[a] += s.loc_a[a] * s.hota_tp[a];
    }
  }
  for (int a = 0; a < kAlphas; ++a) {
    c.ass_a[a] = ass_a[a] / std::max(1.0, c.hota_tp[a]);
    c.ass_re[a] = ass_re[a] / std::max(1.0, c.hota_tp[a]);
    c.ass_pr[a] = ass_pr[a] / std::max(1.0, c.hota_tp[a]);
    c.loc_a[a] = std::max(1e-10, loc[a]) / std::max(1e-10, c.hota_tp[a]);
  }
  derive_clear(c);
  derive_identity(c);
  derive_hota(c);
  return c;
}

}  // namespace evaluation
}  // namespace trackvideo
