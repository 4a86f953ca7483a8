// trackvideo/run/options.h - the command line of trackvideo.
//
//   trackvideo --tracks FILE (--video FILE | --frames DIR) [--gt]
//              [--classes LIST] [--csv FILE] [--overlay DIR]
//              [--overlay-video FILE] [--detections DIR] [--radius N]
//              [--max-pixels N] [--encounters FILE] [--gap N] [--near N]
//              [--trail N] [--html DIR [--html-no-video]] [--thumbnails N]
//              [--threads N] [--progress | --quiet] [--ground-truth FILE]
//              [--benchmark MOT17|MOT20] [--metrics FILE] [--events FILE]
//   trackvideo --format kitti --tracks FILE --frames DIR ... (the same options)
//   trackvideo --sequence DIR [--tracks FILE] ... (the same options)
//   trackvideo --tracks FILE --ground-truth FILE (--metrics FILE | --events FILE)
//              ... (no frames: only outputs that need no pixels)
//   trackvideo --batch LIST --out DIR [--jobs N] [--shard K/N] [--force]
//              [--with WHAT] [--gt] [--classes LIST] [--radius N]
//              [--max-pixels N] [--threads N] [--benchmark MOT17|MOT20]
//              [--progress | --quiet]
//   trackvideo --batch ROOT --out DIR [--results DIR] [--seqmap FILE] ...
//              (the options of --batch LIST)
//   trackvideo --help | --version
//
// Every option taking a value accepts "--name VALUE" and "--name=VALUE"; in
// the first form a VALUE starting with "--" is taken for the next option (the
// value is then missing), so that "--csv --quiet" names no file "--quiet".
// Every number (--radius, --max-pixels, --threads, --jobs, --gap, --near,
// --trail, the K and N of --shard, the classes of --classes) is read by the one
// integer grammar of common/tokens.h: "+7", "007" and "-0" are integers.
// No state; parse_options is O(argc).
#ifndef TRACKVIDEO_RUN_OPTIONS_H
#define TRACKVIDEO_RUN_OPTIONS_H

#include <string>

#include "histfeat/decode.h"
#include "trackpair/trackpair_core.h"
#include "trackvideo/input/tracks.h"
#include "trackvideo/sinks/html_page.h"

namespace trackvideo {

// The L1 limit of a candidate pair unless --radius says otherwise.
constexpr long long kDefaultRadius = trackpair::candidate_distance;
// The largest --radius: 2^36, beyond the L1 distance of any two boxes of int
// corners (at most 4 * (2^32 - 1)), so it finds every pair. Larger values are
// refused as too large rather than clamped: nothing larger finds more.
constexpr long long kMaxRadius = 1LL << 36;
// The most processes --batch runs at once.
constexpr int kMaxJobs = 1024;
// The most threads --threads asks for (each holds two frames at a time).
constexpr int kMaxThreads = 256;
// The largest --thumbnails: more pictures than any page can show.
constexpr long long kMaxThumbnails = 10000000;
// The largest --gap, --near and --trail: no tracks file has more frames.
constexpr int kMaxFrameCount = 1 << 30;

enum class progress_mode { automatic, always, never };  // default, --progress, --quiet

struct options {
  bool help = false, version = false;                   // the run is then only the text asked for
  std::string tracks, video, frames;                    // one of video, frames and sequence is set
  std::string sequence;                                 // a sequence folder; tracks may then be ""
  bool gt = false;                                      // --gt: the tracks file is ground truth
  gt_rules rules;                                       // --classes (default class 1)
  bool kitti = false;  // --format kitti: KITTI's tracking rows (kitti_tracks.h); else mot
  std::string csv, overlay, overlay_video, detections;  // "" when not asked for
  long long radius = kDefaultRadius;                    // 1 .. kMaxRadius
  long long max_pixels = histfeat::kDefaultMaxPixels;   // >= 1: larger frames are refused
  std::string encounters, html;                         // --encounters FILE, --html DIR
  bool html_no_video = false;  // --html-no-video: the page without DIR/overlay.mp4
  // The evaluation: --ground-truth FILE (with --sequence: DIR/gt/gt.txt),
  // --benchmark MOT20, --metrics FILE, --events FILE.
  std::string ground_truth_file, metrics, events;
  bool mot20 = false;
  int gap = 0, near = 10;                               // the encounters' --gap and --near, >= 0
  int trail = 30;                                       // --trail: frames of each trail, >= 0
  long long thumbnails = kDefaultThumbnails;  // --thumbnails: the page's pictures, at most
  int threads = 0;  // --threads: 1 .. kMaxThreads; 0: one per usable processor (a batch: shared)
  progress_mode progress = progress_mode::automatic;

  // --batch (see batch.h): the LIST, the output folder, the processes at once
  // (0: one per core), the shard K of N, --force, and what --with adds.
  std::string batch, out;
  // --batch ROOT (a folder of sequences, see batch_folder.h): the tracker's
  // results folder (RDIR/<sequence>.txt) and the seqmap; "" when not given.
  std::string results, seqmap;
  int jobs = 0;
  int shard = 0, shards = 1;  // 0 <= shard < shards
  bool force = false;
  bool with_overlay_video = false, with_overlay = false, with_detections = false;
  bool with_metrics = false, with_events = false, with_html = false;

  // Whether the tracks are ground truth, filtered by `rules`: --gt, or a
  // sequence's own gt/gt.txt.
  bool ground_truth() const { return gt || (!sequence.empty() && tracks.empty()); }
  // Whether the tracker's results are scored: --metrics or --events.
  bool evaluating() const { return !metrics.empty() || !events.empty(); }
  // Whether an output needs the frames' pixels: --csv, --overlay,
  // --overlay-video, --detections, --html, and --encounters (its histogram
  // columns).
  bool needs_pixels() const;
  // Whether the run reads its frames: not when it evaluates and no output
  // needs pixels (the report comes from the boxes alone).
  bool reads_frames() const { return !evaluating() || needs_pixels(); }
  // The --with choice as given back by with_text(): "" or a comma-separated
  // subset of "overlay-video,overlay,detections,metrics,events,html", in
  // that order.
  std::string with_text() const;
};

// Fills `out` from argv[1 .. argc-1]. Returns "" or what is wrong (a usage
// error: unknown option, missing value, --tracks (without --sequence) or the
// frame source missing or given twice, --sequence with --video or --frames,
// --classes not "all" or class numbers, --classes where the tracks are not
// ground truth (neither --gt nor a sequence's gt.txt), --radius not a whole number from 1 to
// kMaxRadius,
// --max-pixels not a whole number >= 1, --threads not 1 .. kMaxThreads, an --overlay-video name not
// ending in .avi or .mp4 (in any case), --gap, --near or --trail not a whole number from 0 to
// kMaxFrameCount, --progress with --quiet; --metrics or --events without a
// tracker's results (--tracks) or without ground truth (--sequence or
// --ground-truth), or with --gt; --ground-truth or --benchmark without
// --metrics or --events, --ground-truth with --sequence, --benchmark not MOT17
// or MOT20; no frames (--video, --frames, --sequence) for an output that
// needs pixels, or for a run that does not evaluate; with --batch: --out missing,
// an option of one run's inputs or outputs, --jobs not 1 .. kMaxJobs, --shard
// not K/N with 0 <= K < N, --with not a list of overlay-video, overlay,
// detections, metrics, events and html, --benchmark without metrics or events;
// --results or --seqmap with --batch - or a --batch naming something
// other than a folder; --out, --jobs, --shard, --force, --with, --results or
// --seqmap without --batch);
// --format not mot or kitti; kitti with --sequence, --video, --gt, a
// --batch LIST or --benchmark, or evaluating without --frames; --classes
// with kitti not "all" or KITTI types.
// Values are quoted in messages as tokens are.
std::string parse_options(int argc, const char* const* argv, options& out);

// The usage text (--help prints it on standard output; usage errors on
// standard error after the message).
std::string usage();

}  // namespace trackvideo

#endif  // TRACKVIDEO_RUN_OPTIONS_H
