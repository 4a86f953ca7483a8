// trackvideo/run.h - the program: a tracks file and frames in; the candidate
// report, the table, the pictures and the detection files out.
//
// run() is a sequence of stages: read and check the tracks file; open the
// frames (and refuse a standard output that is one of the inputs or
// outputs); prepare the outputs; the frame loop over frames 1 .. F (F the
// last frame of the tracks), where a frame_reader decodes them and makes their
// records ahead on --threads workers (or, with one, on this thread before it
// works on the frame), while this thread finds the pairs, writes the rows,
// detection files and pictures of earlier frames, in frame order; finish the outputs; write the report; commit. Every output file is
// written as a temporary and committed only when every frame has been
// processed. The report is made from each frame's pairs as the frames go by
// (report_runs: per-object runs, spilled to an anonymous temporary file) and
// written to standard output and flushed before the commit: a run that cannot
// print its report commits nothing. Should the commit itself then fail, the
// report has been printed and the message says so.
//
// Memory: two decoded frames per thread (one with a single thread), the boxes (O(rows)), one frame's pairs, at most
// one block of pending table rows and a few MiB of the report's runs (the rest
// is on disk); with pictures, the encounters' risky runs; with --encounters
// or --html, every encounter. Cost per frame: one decode plus the records'
// and pairs' costs; pictures add one pass over the boxes' pairs before the
// loop.
#ifndef TRACKVIDEO_RUN_H
#define TRACKVIDEO_RUN_H

#include <cstdio>
#include <functional>
#include <string>

#include "trackvideo/options.h"

namespace trackvideo {

// Frames larger than this, in either direction, with no pair found anywhere,
// earn the hint that the radius is in pixels.
constexpr int kHintWidth = 320, kHintHeight = 240;

// What a run found: the last frame, the tracks, their boxes, the rows the
// ground-truth rules ignored, the candidate pairs of every frame.
struct run_figures {
  int frames = 0, tracks = 0;
  long long boxes = 0, ignored_rows = 0, pairs = 0;
};

// The files of one sequence of a batch: the run writes its report into
// `report` instead of on standard output and, once everything else is ready,
// `marker` with the text `marker_text` gives for the run's figures; these two
// and the run's other outputs are committed together (the marker last).
// `folder`, which holds them, is made when missing and removed again when the
// run fails.
struct sequence_files {
  std::string folder, report, marker;
  std::function<std::string(const run_figures&)> marker_text;
};

// The whole run for parsed options. Writes the report on `out` (or, given
// `files`, into files->report) and progress and the hint on `err`. "" or what
// is wrong (the text after "trackvideo: ").
std::string run(const options& o, std::FILE* out, std::FILE* err,
                const sequence_files* files = nullptr);

// run() with the library's fatal reports and every exception turned into the
// returned line (see trackvideo_main).
std::string guarded_run(const options& o, std::FILE* out, std::FILE* err,
                        const sequence_files* files = nullptr);

// The command line: usage errors give one line "trackvideo: ...", the usage
// on `err` and status 2; --help (usage on `out`) and --version give 0; a
// failed run one line "trackvideo: ..." on `err` and 1; success 0. A failed
// write to `out` is "cannot write to standard output: <reason>" and 1;
// out_error != 0 (errno's value) says `out` cannot be written at all, and the
// run then stops before writing anything. For the length of a run the
// library's error handler turns its fatal reports into exceptions (running out
// of memory into std::bad_alloc), which end the run as above; while the
// report is made, descriptor 2 is on /dev/null (the library prints its memory
// tables there before it reports).
int trackvideo_main(int argc, const char* const* argv, std::FILE* out, std::FILE* err,
                    int out_error = 0);

// The process: SIGPIPE ignored, a closed descriptor 0, 1 or 2 given
// /dev/null (a closed standard output is reported as such), then
// trackvideo_main on stdout and stderr.
int program_main(int argc, const char* const* argv);

}  // namespace trackvideo

#endif  // TRACKVIDEO_RUN_H
