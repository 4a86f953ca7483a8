// trackvideo/run/batch_metrics.cpp - DIR/metrics.csv (see batch_metrics.h).
#include "trackvideo/run/batch_metrics.h"

#include "common/tokens.h"
#include "trackvideo/evaluation/score_tables.h"
#include "trackvideo/input/sequence.h"
#include "trackvideo/run/batch_marker.h"
#include "trackvideo/run/run_evaluation.h"

namespace trackvideo {

std::string batch_metrics_text(const std::vector<batch_line>& lines, const options& o) {
  std::string text = evaluation::kScoresHeader;
  std::vector<evaluation::mot_scores> scores;
  for (const batch_line& l : lines) {
    std::string identity, had, with;
    run_figures f;
    double seconds = 0;
    if (!l.why.empty() || !evaluated(l, o) || !marker_identity(l, o, identity).empty() ||
        !read_marker(common::in_folder(o.out, l.name), had, with, f, seconds) || had != identity)
      continue;
    options one;
    one.sequence = l.seqdir;
    one.tracks = l.tracks;
    one.mot20 = o.mot20;
    run_inputs in(o.max_pixels);
    in.tracks_path = l.tracks;
    in.ground_truth_path = ground_truth_path(l.seqdir);
    run_evaluation scored;
    if (!read_seqinfo(l.seqdir, in.seq).empty() || !evaluate_run(one, in, 1, scored).empty()) continue;
    evaluation::append_scores_row(text, l.name, scored.result.scores);
    scores.push_back(scored.result.scores);
  }
  if (!scores.empty())
    evaluation::append_scores_row(text, "COMBINED", evaluation::combine_sequences(scores));
  return text;
}

}  // namespace trackvideo
