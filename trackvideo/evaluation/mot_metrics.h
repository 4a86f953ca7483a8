// trackvideo/evaluation/mot_metrics.h - a tracker's results scored against
// ground truth with the benchmark's official 2D-box definitions (CLEAR,
// Identity, HOTA and the counts), and every identity event behind them.
//
// What it is
//   One pure function per step: a sequence's rows (mot_rows.h) in, its
//   scores and events out; scores of several sequences combined (their CSV
//   tables: score_tables.h). Nothing is kept between calls.
//
// Per frame, before scoring
//   Overlap is the intersection over union of boxes [left, left + width) x
//   [top, top + height), in doubles as written; a box of area <= ε (the
//   double's epsilon), or a pair whose union is, overlaps nothing.
//   When the frame has rows on both sides: every ground-truth class must lie
//   in 1..13; the tracker's boxes are matched one to one against all its
//   ground-truth boxes (zero-marked ones and every class included), largest
//   total overlap, pairs of overlap >= 0.5 - ε only; a tracker box matched to
//   a distractor (classes 2, 7, 8, 12; with `mot20` also 6) is removed. Then
//   only ground truth of class 1 that is not zero-marked stays.
//   Ids are what they are in the files; the sequence's gt ids and tracker ids
//   are those of the rows that stay.
//
// CLEAR (threshold 0.5). In a frame with rows on both sides, a pair of
//   overlap >= 0.5 - ε scores its overlap, plus 1000 when the tracker id is
//   the one matched to that gt id in the last such frame; the matching of
//   largest total score gives the TPs, the other rows FNs and FPs. A frame
//   with one side empty counts its rows as FNs or FPs and changes no state
//   (a match before it still counts as "the last frame's"). IDSW: a gt id
//   matched to a tracker id other than the one it was last matched to, in any
//   earlier frame. Frag: per gt id, the times it became tracked after a
//   scored frame in which it was not, less one. MT/PT/ML: tracked in > 80 %,
//   >= 20 % (not MT), fewer of its frames. MOTP is the mean overlap of TPs,
//   sMOTA (Σ overlap - FP - IDSW) / GT_Dets. A sequence without tracker rows
//   (or without ground truth) only counts its FNs, ML (or FPs) with MLR 1,
//   every other fraction 0.
// Identity: the gt ids matched one to one to tracker ids to share the most
//   frames of overlap >= 0.5 (IDTP); IDFN = GT_Dets - IDTP, IDFP = Dets - IDTP.
// HOTA, for α = 0.05, 0.10, ..., 0.95: the similarity of two ids is their
//   summed per-frame overlap share (overlap / (row sum + column sum -
//   overlap)) over their frame counts; per frame, pairs score overlap x that
//   similarity, the best matching's pairs of overlap >= α - ε are TPs.
//   AssA, AssRe, AssPr weigh each (gt id, tracker id) by its TPs; LocA is
//   the mean overlap of TPs (1 without TPs). The table gives each field's
//   mean over the 19 values of α.
//
// Events (the matching of CLEAR above, one per count): a `switch` per IDSW,
//   with the tracker id it was last matched to and that match's frame; a
//   `fragment` per Frag, from the gt id's last match. Ordered by frame, gt
//   id, then fragment before switch (a gt id lost and found again under
//   another id has both). Events are only made where CLEAR matches, so none
//   in a sequence without rows on one side.
//
// Ties: matchings of exactly equal total are broken by the order of rows
//   (assignment.h); the official evaluation may break them otherwise.
//
// Cost: per frame of g gt and t tracker rows, O((g + t) log t + pairs
//   met) for the overlaps (a sweep over left edges), then the matchings per
//   group of overlapping boxes (assignment.h); memory O(rows + overlapping
//   pairs + matched id pairs x 19). Failure: "" or "FILE:LINE: what is
//   wrong" for a row the official evaluation refuses (a ground-truth class
//   outside 1..13 in a frame with tracker rows); `out` is then unspecified.
#ifndef TRACKVIDEO_EVALUATION_MOT_METRICS_H
#define TRACKVIDEO_EVALUATION_MOT_METRICS_H

#include <array>
#include <string>
#include <vector>

#include "trackvideo/evaluation/mot_rows.h"

namespace trackvideo {
namespace evaluation {

// The α values of HOTA: alpha(a) = 0.05 + a * 0.05, a = 0..18.
constexpr int kAlphas = 19;
double alpha(int a);

struct evaluation_options {
  bool mot20 = false;  // class 6 (non-motorised vehicle) is a distractor too
};

using per_alpha = std::array<double, kAlphas>;

// Every score of one sequence, or of sequences combined. The fields under
// "kept to combine" are what combine_sequences needs besides the counts.
struct mot_scores {
  // HOTA, per α
  per_alpha hota{}, det_a{}, ass_a{}, det_re{}, det_pr{}, ass_re{}, ass_pr{}, loc_a{};
  per_alpha hota_tp{}, hota_fn{}, hota_fp{};  // counts, kept to combine
  // CLEAR
  double mota = 0, motp = 0, moda = 0, clr_re = 0, clr_pr = 0, mtr = 0, ptr = 0, mlr = 0, smota = 0;
  long long clr_tp = 0, clr_fn = 0, clr_fp = 0, idsw = 0, mt = 0, pt = 0, ml = 0, frag = 0;
  double motp_sum = 0;  // Σ overlap of TPs, kept to combine
  // Identity
  double idf1 = 0, idr = 0, idp = 0;
  long long idtp = 0, idfn = 0, idfp = 0;
  // Counts (after the preprocessing)
  long long dets = 0, gt_dets = 0, ids = 0, gt_ids = 0;
};

// The mean over α of one HOTA field, summed as the official evaluation sums
// it (eight interleaved partial sums), so that it reads back the same double.
double alpha_mean(const per_alpha& values);

enum class event_type { fragment, identity_switch };
// Why a switch happened (switch_causes.h); `none` until given one.
enum class switch_cause { none, reappearance, meeting, crowd, restart, other };

struct identity_event {
  int frame = 0;
  event_type type = event_type::identity_switch;
  int gt_id = 0, tracker_id = 0;  // the match at `frame`
  int previous_tracker_id = 0;    // the gt id's last match before
  int previous_frame = 0;         // and its frame
  double iou = 0;                 // of the match at `frame`
  switch_cause cause = switch_cause::none;
  std::string encounter;  // "A_B_FIRST" for meeting and crowd
};

struct sequence_result {
  mot_scores scores;
  std::vector<identity_event> events;  // see above for the order
};

// Scores `tracker` against `gt` over frames 1..seq_length (the rows were
// read with that length).
std::string evaluate_sequence(const mot_rows& gt, const mot_rows& tracker, int seq_length,
                              const evaluation_options& options, sequence_result& out);

// Scores a sequence already through its preprocessing (sequence_frames.h:
// the benchmark's, or KITTI's in kitti_frames.h).
struct prepared;
void score_frames(const prepared& d, sequence_result& out);

// The sequences' scores combined as the official evaluation combines them:
// counts and Σ overlap summed, AssA, AssRe and AssPr averaged per α weighted
// by TPs, LocA from the weighted sum, every other fraction computed again
// from the sums. Sums are taken in the order given (the official evaluation
// takes sequences in name order). O(sequences).
mot_scores combine_sequences(const std::vector<mot_scores>& sequences);

}  // namespace evaluation
}  // namespace trackvideo

#endif  // TRACKVIDEO_EVALUATION_MOT_METRICS_H
