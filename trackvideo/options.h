// trackvideo/options.h - the command line of trackvideo.
//
//   trackvideo --tracks FILE (--video FILE | --frames DIR) [--csv FILE]
//              [--overlay DIR] [--overlay-video FILE] [--detections DIR]
//              [--radius N] [--progress | --quiet]
//   trackvideo --help | --version
//
// Every option taking a value accepts "--name VALUE" and "--name=VALUE". No
// state; parse_options is O(argc).
#ifndef TRACKVIDEO_OPTIONS_H
#define TRACKVIDEO_OPTIONS_H

#include <string>

#include "trackpair/trackpair_core.h"

namespace trackvideo {

// The L1 limit of a candidate pair unless --radius says otherwise.
constexpr long long kDefaultRadius = trackpair::candidate_distance;

enum class progress_mode { automatic, always, never };  // default, --progress, --quiet

struct options {
  bool help = false, version = false;                   // the run is then only the text asked for
  std::string tracks, video, frames;                    // exactly one of video and frames is set
  std::string csv, overlay, overlay_video, detections;  // "" when not asked for
  long long radius = kDefaultRadius;                    // >= 1
  progress_mode progress = progress_mode::automatic;
};

// Fills `out` from argv[1 .. argc-1]. Returns "" or what is wrong (a usage
// error: unknown option, missing value, --tracks or the frame source missing
// or given twice, --radius not a whole number >= 1, --progress with --quiet).
std::string parse_options(int argc, const char* const* argv, options& out);

// The usage text (--help prints it on standard output; usage errors on
// standard error after the message).
std::string usage();

}  // namespace trackvideo

#endif  // TRACKVIDEO_OPTIONS_H
