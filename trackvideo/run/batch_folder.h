// trackvideo/run/batch_folder.h - a benchmark's folder as a batch:
// trackvideo --batch ROOT --out DIR [--results RDIR] [--seqmap FILE], ROOT a
// folder (a LIST is a regular file, or "-").
//
// ROOT's sequences are its entries holding a regular file seqinfo.ini (links
// followed), in byte order of their names; with --seqmap, the names FILE
// lists, in its order: a first line "name", then one name per line (blank
// lines skipped; a CR before the line break and one UTF-8 byte-order mark at
// the start dropped; at most 16 MiB). Sequence S runs as a LIST line
// "ROOT/S" would, or "ROOT/S RDIR/S.txt" with --results: the two batches'
// outputs and markers are the same, and one skips what the other did.
//
// Failures, each one line before anything runs: ROOT unreadable or holding
// no sequence; a seqmap that cannot be read, lacks its "name" line, or whose
// line N has more than one field, names a sequence twice or one ROOT lacks
// ("SEQMAP:N: NAME: ..."). A missing results file is its sequence's failure
// only, found as a LIST line's missing tracks file is.
//
// Cost: one listing of ROOT (none with --seqmap) and one stat per entry or
// name; O(sequences) memory.
#ifndef TRACKVIDEO_RUN_BATCH_FOLDER_H
#define TRACKVIDEO_RUN_BATCH_FOLDER_H

#include <string>
#include <utility>
#include <vector>

#include "trackvideo/run/batch_list.h"
#include "trackvideo/run/options.h"

namespace trackvideo {

// Whether --batch names a folder of sequences: not "-", and a folder, or
// --results or --seqmap given (a ROOT that then cannot be read fails as one).
bool is_folder_batch(const options& o);

// Splits a seqmap's text into its names with their line numbers; "" or what
// is wrong, naming the line as "<shown>:N".
std::string parse_seqmap(const std::string& text, const std::string& shown,
                         std::vector<std::pair<int, std::string>>& names);

// The sequences of the folder batch `o` describes, as batch lines (`folder`
// set, `line` the place from 1). "" or what is wrong (one line).
std::string read_batch_folder(const options& o, std::vector<batch_line>& lines);

}  // namespace trackvideo

#endif  // TRACKVIDEO_RUN_BATCH_FOLDER_H
