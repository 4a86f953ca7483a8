// trackvideo/run/batch_index.h - DIR/index.html of a --batch run with --with
// html: the dataset's page, a row per sequence linking to the sequence's own
// page (DIR/<name>/page/index.html, as --html writes it).
//
// What it is
//   One self-contained HTML5 file in UTF-8, its style and sorting script
//   those of the sequence's page (sinks/html_page.h), inline; it loads
//   nothing (its content security policy allows no request at all) and only
//   links to the pages beside it, by relative names, so DIR can be moved,
//   copied or opened from disk. A table of id "sequences": first the row
//   COMBINED (in the table's head, so sorting leaves it on top), then a row
//   per sequence of LIST in LIST order, over every shard as summary.csv is.
//   Columns: sequence, frames, tracks, encounters, at-risk encounters (a
//   track starts or ends there) and, with --with metrics, HOTA, MOTA, IDF1
//   (per cent), IDSW and the switches tied to encounters (those whose cause
//   is meeting or crowd: the switches column of encounters.csv summed).
//   Clicking a numeric column's header sorts the sequences' rows by it.
//
//   A sequence that is done (its marker matches, as summary.csv takes it)
//   links to its page with <a data-sequence="NAME" href="NAME/page/index.html">
//   (the name escaped in the attribute, percent-encoded in the address); its
//   figures are its marker's (summary.csv's) and its encounters.csv's, its
//   scores metrics.csv's. A sequence this run failed says "failed", one not
//   done yet (another shard's, or failed before) "not done"; neither links.
//   COMBINED sums the figures of the sequences done, and its scores are
//   metrics.csv's COMBINED row.
//
// Cost: reading each done sequence's encounters.csv once; the page is
// O(sequences) bytes. Failure: none; an encounters.csv that cannot be read or
// is not one leaves that sequence's encounter cells empty.
#ifndef TRACKVIDEO_RUN_BATCH_INDEX_H
#define TRACKVIDEO_RUN_BATCH_INDEX_H

#include <string>
#include <vector>

#include "trackvideo/evaluation/mot_metrics.h"
#include "trackvideo/run/batch_list.h"
#include "trackvideo/run/batch_metrics.h"
#include "trackvideo/run/options.h"
#include "trackvideo/run/run.h"

namespace trackvideo {

// One sequence as the dataset's page shows it.
struct index_row {
  std::string name;  // any bytes: escaped
  enum class state { done, failed, not_done } state = state::not_done;
  run_figures figures;                             // done
  bool counted = false;                            // its encounters.csv was read
  long long encounters = 0, at_risk = 0;           // counted
  long long tied_switches = 0;                     // counted
  const evaluation::mot_scores* scores = nullptr;  // scored (--with metrics)
};

// Counts the rows of encounters table `text` (kEncountersHeader first), those
// where a track starts or ends, and the sum of their switches into `row`.
// False, `row` unchanged, when the text is not such a table.
bool count_encounters(const std::string& text, index_row& row);

// The address of a sequence's page relative to DIR: "NAME/page/index.html",
// every byte of NAME but letters, digits and -._~ percent-encoded.
std::string page_address(const std::string& name);

// The page, given the rows in LIST order and, with --with metrics
// (`scored`), the combined scores (nullptr when no sequence is scored).
std::string dataset_page(const std::string& title, const std::vector<index_row>& rows, bool scored,
                         const evaluation::mot_scores* combined);

// The rows of `lines` (`failed[k]`: this run failed lines[k]) with their
// figures, counts and scores, and the page; `scored` as batch_scores gave it.
std::string batch_index_text(const std::vector<batch_line>& lines, const options& o,
                             const std::vector<bool>& failed,
                             const std::vector<sequence_scores>& scored);

}  // namespace trackvideo

#endif  // TRACKVIDEO_RUN_BATCH_INDEX_H
