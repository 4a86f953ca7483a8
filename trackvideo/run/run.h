// trackvideo/run/run.h - one run: a tracks file and frames in; the candidate
// report, the table, the encounters and their page, the pictures, the
// detection files and the evaluation's tables out.
//
// run() composes the stages, each of its own unit:
//   inputs   read and check the tracks (run_inputs.h), open the frames
//            (unless the run evaluates and no output needs pixels: then no
//            frame is read, and the pipeline walks the boxes alone);
//   evaluation  the tracks, a tracker's results, scored against ground
//            truth (run_evaluation.h), before anything is written;
//   outputs  the output set, its folders and files (run_outputs.h);
//   sinks    one per output (sinks/), in the order they are fed and finished:
//            table, encounters (and page), detection files, pictures,
//            figures, progress, report;
//   pipeline every frame's job done once on --threads workers
//            (pipeline/frame_pipeline.h), each piece handed to every sink in
//            frame order; the pictures' plan and the encounters that tell
//            the evaluation's switch causes come first, from one pass over
//            the boxes alone; the evaluation's tables are then written;
//   commit   every output at once, and in a batch the marker last.
// The report is written on standard output and flushed before the commit (a
// run that cannot print its report commits nothing); should the commit
// itself then fail, the report has been printed and the line says so.
//
// Memory: the pipeline's slots (frame_pipeline.h), the boxes (O(rows)), one
// frame's pairs for the pictures, a few MiB of the report's runs (the rest
// on disk); with pictures, the encounters' risky runs; with --encounters or
// --html, every encounter.
//
// Failure: every failure of a run is one line (base/failure.h), returned by
// run(); guarded_run() turns whatever is thrown into that line too.
#ifndef TRACKVIDEO_RUN_RUN_H
#define TRACKVIDEO_RUN_RUN_H

#include <cstdio>
#include <functional>
#include <string>

#include "trackvideo/run/options.h"

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

// Whether progress is shown: as `mode` says, or (automatic) when `fd` is a
// terminal.
bool progress_wanted(progress_mode mode, int fd);

// The whole run for parsed options. Writes the report on `out` (or, given
// `files`, into files->report) and progress, notes and the hint on `err`. ""
// or what is wrong (the text after "trackvideo: "); may throw.
std::string run(const options& o, std::FILE* out, std::FILE* err,
                const sequence_files* files = nullptr);

// run() with the library's fatal reports and every exception turned into the
// returned line. Never throws.
std::string guarded_run(const options& o, std::FILE* out, std::FILE* err,
                        const sequence_files* files = nullptr) noexcept;

}  // namespace trackvideo

#endif  // TRACKVIDEO_RUN_RUN_H
