// Fuzz target: the evaluation's reader of MOT rows and the scoring behind it.
//
// The input is split in two at its first NUL byte (all of it ground truth
// when there is none): the ground truth and a tracker's results, read with a
// sequence length and the mot20 switch taken from the first byte; when both
// read, the tracker is scored against the ground truth. Checks beyond "no
// crash": a failure is one line of printable ASCII naming the file as quoted
// (its name holds an escape byte); read rows lie in the sequence's frames
// with ids >= 0; a score obeys its identities (TP + FN = ground-truth rows,
// TP + FP = tracker rows, for CLEAR and per α for HOTA; IDTP at most either;
// MT + PT + ML = gt ids; one switch event per IDSW, one fragment event per
// Frag, in order) and every fraction is finite and in its range.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz/fuzz_bytes.h"
#include "trackvideo/evaluation/mot_metrics.h"
#include "trackvideo/evaluation/mot_rows.h"

namespace ev = trackvideo::evaluation;

namespace {

const char kGtName[] = "g\x1bt.txt";
const char kTrackerName[] = "t\x1br.txt";

bool in_unit(double v) {
  return std::isfinite(v) && v >= 0 && v <= 1;
}

bool at_most_one(double v) {
  return std::isfinite(v) && v <= 1;
}

void check_rows(const std::string& why, const std::string& shown, const ev::mot_rows& rows,
                int seq_length) {
  if (!why.empty()) {
    fuzz_require_message_naming(why, shown);
    return;
  }
  int last_line = 0;
  for (const ev::mot_row& r : rows.rows) {
    fuzz_require(r.frame >= 1 && r.frame <= seq_length && r.id >= 0 && r.line > last_line);
    fuzz_require(std::isfinite(r.left) && std::isfinite(r.top) && std::isfinite(r.width) &&
                 std::isfinite(r.height));
    last_line = r.line;
  }
}

void check_scores(const ev::sequence_result& result, const ev::mot_rows& gt,
                  const ev::mot_rows& tracker) {
  const ev::mot_scores& s = result.scores;
  fuzz_require(s.dets >= 0 && s.gt_dets >= 0 && s.ids >= 0 && s.gt_ids >= 0);
  fuzz_require(s.dets <= static_cast<long long>(tracker.rows.size()) &&
               s.gt_dets <= static_cast<long long>(gt.rows.size()));
  fuzz_require(s.ids <= s.dets && s.gt_ids <= s.gt_dets);
  fuzz_require(s.clr_tp >= 0 && s.clr_fn >= 0 && s.clr_fp >= 0);
  fuzz_require(s.clr_tp + s.clr_fn == s.gt_dets && s.clr_tp + s.clr_fp == s.dets);
  fuzz_require(s.idtp >= 0 && s.idtp <= s.dets && s.idtp <= s.gt_dets);
  fuzz_require(s.idtp + s.idfn == s.gt_dets && s.idtp + s.idfp == s.dets);
  fuzz_require(s.mt >= 0 && s.pt >= 0 && s.ml >= 0 && s.mt + s.pt + s.ml == s.gt_ids);
  fuzz_require(s.idsw >= 0 && s.idsw <= s.clr_tp && s.frag >= 0 && s.frag <= s.clr_tp);
  long long switches = 0, fragments = 0;
  int last_frame = 0;
  for (const ev::identity_event& e : result.events) {
    fuzz_require(e.frame >= last_frame && e.frame >= 1 && in_unit(e.iou) && e.iou >= 0.5 - 1e-15);
    fuzz_require(e.previous_frame >= 1 && e.previous_frame < e.frame);
    last_frame = e.frame;
    if (e.type == ev::event_type::identity_switch) {
      ++switches;
      fuzz_require(e.previous_tracker_id != e.tracker_id);
    } else {
      ++fragments;
    }
  }
  fuzz_require(switches == s.idsw && fragments == s.frag);
  for (const double v : {s.motp, s.clr_re, s.clr_pr, s.mtr, s.ptr, s.mlr, s.idf1, s.idr, s.idp})
    fuzz_require(in_unit(v));
  for (const double v : {s.mota, s.moda, s.smota}) fuzz_require(at_most_one(v));
  fuzz_require(s.motp_sum >= 0 && s.motp_sum <= static_cast<double>(s.clr_tp) + 1e-9);
  for (int a = 0; a < ev::kAlphas; ++a) {
    fuzz_require(s.hota_tp[a] + s.hota_fn[a] == static_cast<double>(s.gt_dets));
    fuzz_require(s.hota_tp[a] + s.hota_fp[a] == static_cast<double>(s.dets));
    fuzz_require(s.hota_tp[a] >= 0 && s.hota_fn[a] >= 0 && s.hota_fp[a] >= 0);
    if (a > 0) fuzz_require(s.hota_tp[a] <= s.hota_tp[a - 1]);
    for (const double v : {s.hota[a], s.det_a[a], s.ass_a[a], s.det_re[a], s.det_pr[a], s.ass_re[a],
                           s.ass_pr[a], s.loc_a[a]})
      fuzz_require(in_unit(v));
  }
  for (const ev::per_alpha* field : {&s.hota, &s.det_a, &s.ass_a, &s.loc_a})
    fuzz_require(in_unit(ev::alpha_mean(*field)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  // Byte 0: the sequence's length (1..64) and the mot20 switch.
  const int seq_length = 1 + (data[0] & 63);
  ev::evaluation_options options;
  options.mot20 = (data[0] & 64) != 0;
  const char* const text = reinterpret_cast<const char*>(data) + 1;
  const std::size_t n = size - 1;
  const char* const nul = static_cast<const char*>(std::memchr(text, '\0', n));
  const std::string gt_text(text, nul == nullptr ? n : static_cast<std::size_t>(nul - text));
  const std::string tracker_text = nul == nullptr ? std::string() : std::string(nul + 1, text + n);

  ev::mot_rows gt, tracker;
  const std::string gt_why =
      ev::parse_mot_rows(gt_text, kGtName, ev::mot_kind::ground_truth, seq_length, gt);
  check_rows(gt_why, "'g?t.txt'", gt, seq_length);
  const std::string tracker_why =
      ev::parse_mot_rows(tracker_text, kTrackerName, ev::mot_kind::tracker, seq_length, tracker);
  check_rows(tracker_why, "'t?r.txt'", tracker, seq_length);
  if (!gt_why.empty() || !tracker_why.empty()) return 0;
  for (const ev::mot_row& r : tracker.rows) fuzz_require(r.cls <= 1 && !r.zero_marked);

  ev::sequence_result result;
  const std::string why = ev::evaluate_sequence(gt, tracker, seq_length, options, result);
  if (!why.empty()) {
    // Only a ground-truth class outside 1..13 is refused.
    fuzz_require_message_naming(why, "'g?t.txt'");
    fuzz_require(why.find("is not a class of the benchmark") != std::string::npos);
    return 0;
  }
  check_scores(result, gt, tracker);
  return 0;
}
