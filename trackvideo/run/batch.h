// trackvideo/run/batch.h - a whole dataset in one run: trackvideo --batch LIST
// --out DIR runs every sequence LIST names, each as `trackvideo --sequence`
// would, into a folder of its own, and writes a summary.
//
// LIST: one sequence per line, "SEQDIR" or "SEQDIR TRACKS" (blank- or
// tab-separated; blank lines and lines whose first non-blank byte is '#'
// skipped; a CR before the line break dropped), paths relative to the current
// folder. A sequence's name is seqinfo.ini's `name`, else its folder's name.
//
// Per sequence, into DIR/<name>/: report.txt (the report), pairs.csv (the
// table), encounters.csv (the encounters), with --with overlay.avi, overlay/,
// detections/, and the marker
// "done", all committed together (the marker last) when the sequence
// succeeds. The marker names the sequence's inputs (path, size and
// modification time of seqinfo.ini, of the tracks file and of the frames'
// folder), the settings that change the outputs (--radius, --gt, --classes,
// --gap, --near, --trail),
// what --with wrote, and the run's figures. A sequence whose marker names its
// inputs as they are now, the same settings, at least the outputs asked for,
// and whose report and table exist, is skipped unless --force.
//
// Each sequence runs in a process of its own (fork), up to --jobs at once:
// a sequence that fails, crashes or is killed loses nothing of the others;
// what a killed one left in its folder (temporaries, folders it made) is
// removed. A failed sequence gives "trackvideo: LIST:N: <name>: <what is
// wrong>" on standard error, its folder as it was. With --shard K/N only the
// sequence lines whose 0-based index i has i mod N = K run; everything else
// (names, duplicates, the summary) is over the whole LIST, so the shards'
// runs together do what one run does.
//
// DIR/summary.csv is replaced at the end of every run: the header
// "sequence,frames,tracks,boxes,ignored_rows,pairs,seconds" and a row per
// sequence of LIST, in LIST order, whose marker matches its inputs and
// settings (sequences not done yet are left out).
//
// Cost: the parent reads LIST and every seqinfo.ini once, stats each
// sequence's inputs twice and reads its marker twice; it is single-threaded
// and holds O(lines) memory; each child costs what one run costs.
#ifndef TRACKVIDEO_RUN_BATCH_H
#define TRACKVIDEO_RUN_BATCH_H

#include <cstdio>
#include <string>
#include <vector>

#include "trackvideo/run/options.h"
#include "trackvideo/run/run.h"

namespace trackvideo {

// A sequence line of LIST.
struct batch_line {
  int line = 0;                // in LIST, from 1
  std::string seqdir, tracks;  // tracks "" for the sequence's own gt/gt.txt
  std::string name;            // the sequence's name ("" until known)
  std::string why;             // what is wrong with the line, found before any run
};

// Splits LIST's text into its sequence lines (a line with no field or more
// than two fails in its `why`). Names are not looked up.
std::vector<batch_line> parse_batch_list(const std::string& text);

// The part of a marker that must match for a sequence to be skipped: the
// inputs (each "<what> <size> <mtime> <path>") and the settings. "" with
// `identity` set, or why an input cannot be stat'ed.
std::string marker_identity(const batch_line& l, const options& o, std::string& identity);
// A whole marker: identity, the --with outputs, the figures and the seconds.
std::string marker_text(const std::string& identity, const std::string& with,
                        const run_figures& f, double seconds);
// Reads a marker: true when it is whole and well-formed, with its identity,
// --with outputs, figures and seconds.
bool parse_marker(const std::string& text, std::string& identity, std::string& with,
                  run_figures& f, double& seconds);

// Whether `name` may be a folder of DIR: not empty, ".", "..", "summary.csv",
// and no '/'.
bool usable_name(const std::string& name);

// The whole --batch run; messages and progress on `err`. Returns the exit
// status: 0, or 1 when a sequence failed, LIST could not be read, two
// sequences share a name, or DIR or the summary could not be written.
int run_batch(const options& o, std::FILE* err);

}  // namespace trackvideo

#endif  // TRACKVIDEO_RUN_BATCH_H
