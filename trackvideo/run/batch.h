// trackvideo/run/batch.h - a whole dataset in one run: trackvideo --batch LIST
// --out DIR runs every sequence LIST names, each as `trackvideo --sequence`
// would, into a folder of its own, and writes a summary.
// trackvideo --batch ROOT, ROOT a folder of sequences, runs them as the LIST
// of its subfolders would (batch_folder.h); its messages say ROOT:FOLDER
// where LIST's say LIST:N.
//
// LIST: one sequence per line, "SEQDIR" or "SEQDIR TRACKS" (blank- or
// tab-separated; blank lines and lines whose first non-blank byte is '#'
// skipped; a CR before the line break and one UTF-8 byte-order mark at the
// start dropped), paths relative to the current folder; at most 16 MiB
// (larger is refused). A sequence's name is seqinfo.ini's `name`, else its
// folder's name.
//
// Before anything runs or is written, every output of the whole batch
// (summary.csv, metrics.csv, index.html, and of each sequence its folder,
// report.txt, pairs.csv, encounters.csv, done and what --with asks for) is
// checked by device and inode against every input (LIST, each seqinfo.ini and tracks file), and
// against the folders nothing is written into (each sequence folder, its gt/
// and its frame folder); an output still to be made, by its folder. A clash
// fails the run with one line naming both.
//
// Per sequence, into DIR/<name>/: report.txt (the report), pairs.csv (the
// table), encounters.csv (the encounters), with --with overlay.avi, overlay/,
// detections/, page/ (its page, as --html writes it), metrics.csv and
// events.csv (the evaluation, for a sequence
// whose line names a tracker's results, against its gt/gt.txt; the marker
// then also names the ground truth and the benchmark), and the marker
// "done", all committed together (the marker last) when the sequence
// succeeds. The marker names the sequence's inputs
// (path, size and modification time of seqinfo.ini, of the tracks file and of
// the frames' folder, and a digest of every frame: the 64-bit FNV-1a hash of "<size>
// <mtime> <name>" of frames 1, 2, ... up to seqLength or the first missing
// one, links followed), the settings that change the outputs (--radius, --gt,
// --classes, --gap, --near, --trail), what --with wrote, and the run's
// figures. A sequence whose marker names its inputs as they are now, the same
// settings, at least the outputs asked for, and whose report and table
// exist, is skipped unless --force.
//
// Each sequence runs in a process of its own (fork), up to --jobs at once:
// a sequence that fails, crashes or is killed loses nothing of the others;
// what a killed one left in its folder (temporaries, folders it made) is
// removed. The child holds an exclusive flock on DIR/<name> (made when
// missing) for its whole run, waiting while another run holds it and then
// skipping the sequence if that run did it with these settings: one run at a
// time works on a folder, and its marker describes the files beside it. A
// child whose parent dies gets SIGTERM. A failed sequence gives
// "trackvideo: LIST:N: <name>: <what is wrong>" on standard error (the
// child's line, cut at 3000 bytes on a character boundary), its folder as it
// was. With --shard K/N only the sequence lines whose 0-based index i has i
// mod N = K run; everything else (names, duplicates, the summary) is over the
// whole LIST, so the shards' runs together do what one run does.
//
// SIGINT, SIGTERM and SIGHUP (those not ignored) are read by the parent
// between the children's messages: it starts nothing more, passes the signal
// on to its children, waits for them (each removes its temporaries),
// removes DIR when it made it and nothing is left in it, and ends by the same
// signal. Sequences finished before stay.
//
// DIR/summary.csv is replaced at the end of every run (under a flock of DIR,
// which every run's summary takes; what dead processes left in DIR goes
// then, as what they left in a skipped sequence's folders): the header
// "sequence,frames,tracks,boxes,ignored_rows,pairs,seconds" and a row per
// sequence of LIST, in LIST order, whose marker matches its inputs and
// settings (sequences not done yet are left out). With --with metrics,
// DIR/metrics.csv likewise (batch_metrics.h): a row per evaluated sequence,
// then COMBINED. With --with html, DIR/index.html likewise (batch_index.h):
// the dataset's page, a row per sequence of LIST linking to its page when
// done, COMBINED on top. Each shard's run writes these tables of what is done
// by then, so the last run's are whole.
//
// The parts: batch_list.h (LIST, names), batch_folder.h (ROOT, a seqmap),
// batch_marker.h (the marker), batch_metrics.h (DIR/metrics.csv),
// batch_index.h (DIR/index.html),
// batch_checks.h (outputs against inputs, the folder locks), batch_runner.h
// (the children and the stop signals); this unit puts them together and
// writes the summary.
//
// Cost: the parent reads LIST and every seqinfo.ini once, stats each
// sequence's inputs and frames twice and reads its marker twice; it is
// single-threaded and holds O(lines) memory; each child costs what one run
// costs.
#ifndef TRACKVIDEO_RUN_BATCH_H
#define TRACKVIDEO_RUN_BATCH_H

#include <cstdio>
#include <string>
#include <vector>

#include "trackvideo/run/batch_list.h"
#include "trackvideo/run/batch_marker.h"
#include "trackvideo/run/options.h"

namespace trackvideo {

// The whole --batch run; messages and progress on `err`. Returns the exit
// status: 0, or 1 when a sequence failed, LIST could not be read, two
// sequences share a name, an output clashes with an input, memory ran out
// (one line, "out of memory") or DIR or the summary could not be written;
// a stop signal ends the process instead (see above).
int run_batch(const options& o, std::FILE* err);

}  // namespace trackvideo

#endif  // TRACKVIDEO_RUN_BATCH_H
