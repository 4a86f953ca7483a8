// trackvideo/run/batch_list.h - the sequences of a --batch run, as LIST names
// them: LIST's text read whole and split into sequence lines, and the names a
// sequence may have in DIR.
//
// LIST: one sequence per line, "SEQDIR" or "SEQDIR TRACKS" (blank- or
// tab-separated; blank lines and lines whose first non-blank byte is '#'
// skipped; a CR before the line break and one UTF-8 byte-order mark at the
// start dropped), paths relative to the current folder; at most 16 MiB
// (larger is refused before it is held).
//
// Cost: reading and splitting are one pass over the text, O(bytes) memory.
#ifndef TRACKVIDEO_RUN_BATCH_LIST_H
#define TRACKVIDEO_RUN_BATCH_LIST_H

#include <cstddef>
#include <string>
#include <vector>

namespace trackvideo {

// The batch's own file in DIR; no sequence may have its name.
inline constexpr char kSummaryName[] = "summary.csv";
// DIR's scores of the evaluated sequences (--with metrics).
inline constexpr char kMetricsName[] = "metrics.csv";
// DIR's page of the whole dataset (--with html), and where in a sequence's
// folder its own page goes.
inline constexpr char kIndexName[] = "index.html";
inline constexpr char kPageFolder[] = "page";
// A list of a million sequences is some 50 MiB of memory; a larger "list" is
// a mistake (a device, the wrong file), refused before it is held.
inline constexpr std::size_t kListLimit = std::size_t{16} << 20;

// A sequence line of LIST, or a sequence of a folder batch (batch_folder.h).
struct batch_line {
  int line = 0;                // in LIST, from 1 (a folder batch: its place, from 1)
  std::string folder;          // a folder batch: the sequence's folder in ROOT; LIST: ""
  std::string seqdir, tracks;  // tracks "" for the sequence's own gt/gt.txt
  // --format kitti: seqdir is ROOT/image_02/NNNN, and this ROOT/label_02/NNNN.txt
  // (the ground truth, and the tracks when there are no results).
  std::string labels;
  std::string name;            // the sequence's name ("" until known)
  std::string why;             // what is wrong with the line, found before any run
};

// Reads LIST (a file, or "-" for standard input) whole, up to kListLimit
// bytes. "" or why not.
std::string read_list(const std::string& list, std::string& text);

// Splits LIST's text into its sequence lines (a line with no field or more
// than two fails in its `why`). Names are not looked up.
std::vector<batch_line> parse_batch_list(const std::string& text);

// Whether `name` may be a folder of DIR: not empty, ".", "..", "summary.csv",
// "metrics.csv", "index.html", and no '/'.
bool usable_name(const std::string& name);

// How messages name the line: "LIST:N", or "ROOT:FOLDER" for a sequence of a
// folder batch (`list` is LIST or ROOT as messages name it).
std::string line_place(const std::string& list, const batch_line& l);

// The blank-separated fields of `line` (blanks and tabs), as LIST, markers and
// the children's messages separate them.
std::vector<std::string> fields_of(const std::string& line);

}  // namespace trackvideo

#endif  // TRACKVIDEO_RUN_BATCH_LIST_H
