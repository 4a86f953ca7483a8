// trackvideo/evaluation/score_tables.h - the two CSV tables of an
// evaluation: the scores, one row per sequence (and COMBINED), and the
// identity events.
//
// Fractions are written in the shortest form that reads back to the same
// double (as the official evaluation's are fractions, not percentages), the
// HOTA fields as their means over α (alpha_mean); counts as integers. A
// sequence name holding a comma, a quote or a line break is quoted as CSV
// quotes it. Appending a row costs O(its length).
#ifndef TRACKVIDEO_EVALUATION_SCORE_TABLES_H
#define TRACKVIDEO_EVALUATION_SCORE_TABLES_H

#include <string>

#include "trackvideo/evaluation/mot_metrics.h"

namespace trackvideo {
namespace evaluation {

// The scores table's header (newline included) and the row of one sequence.
extern const char kScoresHeader[];
void append_scores_row(std::string& out, const std::string& sequence, const mot_scores& s);

// The events table's header and one row per event ("switch" or "fragment";
// cause and encounter empty until switch_causes.h gives them).
extern const char kEventsHeader[];
void append_event_row(std::string& out, const identity_event& e);
// A cause as the events table writes it ("" for none).
const char* cause_name(switch_cause c);

}  // namespace evaluation
}  // namespace trackvideo

#endif  // TRACKVIDEO_EVALUATION_SCORE_TABLES_H
