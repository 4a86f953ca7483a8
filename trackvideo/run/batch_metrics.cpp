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

std::vector<sequence_scores> batch_scores(const std::vector<batch_line>& lines, const options& o) {
  std::vector<sequence_scores> scored;
  for (const batch_line& l : lines) {
    run_figures f;
    double seconds = 0;
    if (!evaluated(l, o) || !marker_matches(l, o, f, seconds)) continue;
    options one;
    one.tracks = l.tracks;
    one.mot20 = o.mot20;
    one.kitti = o.kitti;
    run_inputs in(o.max_pixels);
    in.tracks_path = l.tracks;
    run_evaluation e;
    if (o.kitti) {
      one.frames = l.seqdir;
      in.ground_truth_path = l.labels;
      if (!in.source.open_folder(l.seqdir).empty() || !evaluate_files(one, in, e).empty()) continue;
      for (std::size_t c = 0; c < e.classes.size(); ++c)
        scored.push_back({&l, c, e.classes[c].scores});
    } else {
      one.sequence = l.seqdir;
      in.ground_truth_path = ground_truth_path(l.seqdir);
      if (!read_seqinfo(l.seqdir, in.seq).empty() || !evaluate_files(one, in, e).empty()) continue;
      scored.push_back({&l, 0, e.result.scores});
    }
  }
  return scored;
}

std::string batch_metrics_text(const std::vector<sequence_scores>& scored, const options& o) {
  std::string text = evaluation::kScoresHeader;
  // The rows' scores per class (one class but with --format kitti).
  const std::size_t classes = o.kitti ? std::size(evaluation::kKittiClasses) : 1;
  std::vector<std::vector<evaluation::mot_scores>> scores(classes);
  for (const sequence_scores& s : scored) {
    evaluation::append_scores_row(
        text, o.kitti ? s.line->name + "/" + evaluation::kKittiClasses[s.cls] : s.line->name,
        s.scores);
    scores[s.cls].push_back(s.scores);
  }
  for (std::size_t c = 0; c < classes; ++c)
    if (!scores[c].empty())
      evaluation::append_scores_row(
          text, o.kitti ? std::string("COMBINED/") + evaluation::kKittiClasses[c] : "COMBINED",
          evaluation::combine_sequences(scores[c]));
  return text;
}

}  // namespace trackvideo
