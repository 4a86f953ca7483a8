// trackvideo/run/batch_metrics.h - DIR/metrics.csv of a --batch run with
// --with metrics: the scores of every evaluated sequence, and of them all.
//
// A row per sequence of LIST (in LIST order, over every shard) that is
// evaluated (batch_marker.h's evaluated()) and whose marker matches its
// inputs and settings, as summary.csv takes them; then the row COMBINED,
// the sequences' scores combined as the official evaluation combines them
// (combine_sequences). The table only has the fractions' means, not what
// combining needs, so each sequence's scores are computed again from its
// ground truth and results (no frame is read); a sequence that cannot be is
// left out.
//
// Cost: reading and scoring each evaluated sequence's two files once.
#ifndef TRACKVIDEO_RUN_BATCH_METRICS_H
#define TRACKVIDEO_RUN_BATCH_METRICS_H

#include <string>
#include <vector>

#include "trackvideo/evaluation/mot_metrics.h"
#include "trackvideo/run/batch_list.h"
#include "trackvideo/run/options.h"

namespace trackvideo {

// An evaluated sequence that is done, with its scores (with --format kitti,
// one for each class, in kKittiClasses' order).
struct sequence_scores {
  const batch_line* line = nullptr;
  std::size_t cls = 0;  // the class's index (0 but with --format kitti)
  evaluation::mot_scores scores;
};

// The scores of every sequence the table has a row for, in LIST order.
std::vector<sequence_scores> batch_scores(const std::vector<batch_line>& lines, const options& o);

// The table's text (the header alone when no sequence is evaluated yet).
std::string batch_metrics_text(const std::vector<sequence_scores>& scored, const options& o);

}  // namespace trackvideo

#endif  // TRACKVIDEO_RUN_BATCH_METRICS_H
