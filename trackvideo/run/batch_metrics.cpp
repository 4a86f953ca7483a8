// trackvideo/run/batch_metrics.cpp - DIR/metrics.csv (see batch_metrics.h).
#include "trackvideo/run/batch_metrics.h"

#include <iterator>

#include "common/tokens.h"
#include "trackvideo/evaluation/kitti_frames.h"
#include "trackvideo/evaluation/score_tables.h"
#include "trackvideo/input/sequence.h"
#include "trackvideo/run/batch_marker.h"
#include "trackvideo/run/run_evaluation.h"

namespace trackvideo {

std::string batch_metrics_text(const std::vector<batch_line>& lines, const options& o) {
  std::string text = evaluation::kScoresHeader;
  // The rows' scores per class (one class but with --format kitti).
  const std::size_t classes = o.kitti ? std::size(evaluation::kKittiClasses) : 1;
  std::vector<std::vector<evaluation::mot_scores>> scores(classes);
  for (const batch_line& l : lines) {
    std::string identity, had, with;
    run_figures f;
    double seconds = 0;
    if (!l.why.empty() || !evaluated(l, o) || !marker_identity(l, o, identity).empty() ||
        !read_marker(common::in_folder(o.out, l.name), had, with, f, seconds) || had != identity)
      continue;
    options one;
    one.tracks = l.tracks;
    one.mot20 = o.mot20;
    one.kitti = o.kitti;
    run_inputs in(o.max_pixels);
    in.tracks_path = l.tracks;
    run_evaluation scored;
    if (o.kitti) {
      one.frames = l.seqdir;
      in.ground_truth_path = l.labels;
      if (!in.source.open_folder(l.seqdir).empty() || !evaluate_run(one, in, 1, scored).empty())
        continue;
    } else {
      one.sequence = l.seqdir;
      in.ground_truth_path = ground_truth_path(l.seqdir);
      if (!read_seqinfo(l.seqdir, in.seq).empty() || !evaluate_run(one, in, 1, scored).empty())
        continue;
    }
    for (std::size_t c = 0; c < classes; ++c) {
      const evaluation::sequence_result& r = o.kitti ? scored.classes[c] : scored.result;
      evaluation::append_scores_row(
          text, o.kitti ? l.name + "/" + evaluation::kKittiClasses[c] : l.name, r.scores);
      scores[c].push_back(r.scores);
    }
  }
  for (std::size_t c = 0; c < classes; ++c)
    if (!scores[c].empty())
      evaluation::append_scores_row(
          text, o.kitti ? std::string("COMBINED/") + evaluation::kKittiClasses[c] : "COMBINED",
          evaluation::combine_sequences(scores[c]));
  return text;
}

}  // namespace trackvideo
