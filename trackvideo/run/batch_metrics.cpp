// trackvideo/run/batch_metrics.cpp - DIR/metrics.csv (see batch_metrics.h).
#include "trackvideo/run/batch_metrics.h"

#include "trackvideo/evaluation/score_tables.h"
#include "trackvideo/input/sequence.h"
#include "trackvideo/run/batch_marker.h"
#include "trackvideo/run/run_evaluation.h"

namespace trackvideo {

std::vector<sequence_scores> batch_scores(const std::vector<batch_line>& lines, const options& o) {
  std::vector<sequence_scores> scored;
  for (const batch_line& l : lines) {
    run_figures f;
    double seconds = 0;
    if (!evaluated(l, o) || !marker_matches(l, o, f, seconds)) continue;
    options one;
    one.sequence = l.seqdir;
    one.tracks = l.tracks;
    one.mot20 = o.mot20;
    run_inputs in(o.max_pixels);
    in.tracks_path = l.tracks;
    in.ground_truth_path = ground_truth_path(l.seqdir);
    run_evaluation e;
    if (!read_seqinfo(l.seqdir, in.seq).empty() || !evaluate_run(one, in, e).empty()) continue;
    scored.push_back({&l, e.result.scores});
  }
  return scored;
}

std::string batch_metrics_text(const std::vector<sequence_scores>& scored) {
  std::string text = evaluation::kScoresHeader;
  std::vector<evaluation::mot_scores> scores;
  for (const sequence_scores& s : scored) {
    evaluation::append_scores_row(text, s.line->name, s.scores);
    scores.push_back(s.scores);
  }
  if (!scores.empty())
    evaluation::append_scores_row(text, "COMBINED", evaluation::combine_sequences(scores));
  return text;
}

}  // namespace trackvideo
