// trackvideo/options.cpp - the command line (see options.h).
#include "trackvideo/options.h"

#include <cerrno>
#include <cstdlib>

namespace trackvideo {

namespace {

// A whole decimal number >= 1 that fits long long, nothing else.
bool parse_radius(const std::string& text, long long& value) {
  if (text.empty() || text[0] < '0' || text[0] > '9') return false;
  char* stop = nullptr;
  errno = 0;
  const long long v = std::strtoll(text.c_str(), &stop, 10);
  if (errno != 0 || *stop != '\0' || v < 1) return false;
  value = v;
  return true;
}

}  // namespace

std::string usage() {
  return "usage: trackvideo --tracks FILE (--video FILE | --frames DIR) [--csv FILE]\n"
         "                  [--overlay DIR] [--overlay-video FILE] [--detections DIR]\n"
         "                  [--radius N] [--progress | --quiet]\n"
         "       trackvideo --help | --version\n"
         "\n"
         "Reads a tracks file (rows frame,id,left,top,width,height[,...]) and a video\n"
         "or a folder of images, prints on standard output the candidate report of the\n"
         "boxes (per detection, the detections of other tracks of its frame at an L1\n"
         "distance below N pixels; frames after the first), and writes on request:\n"
         "  --csv FILE           one row per candidate pair of every frame\n"
         "  --overlay DIR        frame_NNNNNN.png per frame with boxes, tracks and pairs\n"
         "                       drawn\n"
         "  --overlay-video FILE the same drawing for every frame, a Motion-JPEG AVI\n"
         "  --detections DIR     objects_info_h<q+1>_<f>.txt per object and frame\n"
         "  --radius N           the L1 limit in pixels (default 80)\n"
         "  --progress, --quiet  progress on standard error always, or never (default:\n"
         "                       when standard error is a terminal)\n"
         "Outputs are written only when the whole run succeeds.\n";
}

std::string parse_options(int argc, const char* const* argv, options& out) {
  out = options{};
  struct valued {
    const char* name;
    std::string* target;
  };
  std::string radius;
  const valued with_value[] = {
      {"--tracks", &out.tracks},         {"--video", &out.video},
      {"--frames", &out.frames},         {"--csv", &out.csv},
      {"--overlay", &out.overlay},       {"--overlay-video", &out.overlay_video},
      {"--detections", &out.detections}, {"--radius", &radius}};
  bool seen[sizeof with_value / sizeof with_value[0]] = {};
  bool progress = false, quiet = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help") {
      out.help = true;
      return "";
    }
    if (arg == "--version") {
      out.version = true;
      return "";
    }
    if (arg == "--progress") {
      progress = true;
      continue;
    }
    if (arg == "--quiet") {
      quiet = true;
      continue;
    }
    const std::size_t eq = arg.find('=');
    const std::string name = arg.substr(0, eq);
    bool known = false;
    for (std::size_t k = 0; k < sizeof with_value / sizeof with_value[0]; ++k) {
      if (name != with_value[k].name) continue;
      known = true;
      if (seen[k]) return name + " is given twice";
      seen[k] = true;
      if (eq != std::string::npos) {
        *with_value[k].target = arg.substr(eq + 1);
      } else {
        if (i + 1 >= argc) return name + " needs a value";
        *with_value[k].target = argv[++i];
      }
      if (with_value[k].target->empty()) return name + " needs a value";
    }
    if (!known) {
      if (arg.size() > 1 && arg[0] == '-') return "unknown option '" + arg + "'";
      return "unexpected argument '" + arg + "'";
    }
  }
  if (out.tracks.empty()) return "--tracks FILE is required";
  if (out.video.empty() == out.frames.empty())
    return out.video.empty() ? "--video FILE or --frames DIR is required"
                             : "--video and --frames exclude each other";
  if (!radius.empty() && !parse_radius(radius, out.radius))
    return "--radius '" + radius + "' is not a whole number >= 1";
  if (progress && quiet) return "--progress and --quiet exclude each other";
  out.progress = progress ? progress_mode::always
                 : quiet  ? progress_mode::never
                          : progress_mode::automatic;
  return "";
}

}  // namespace trackvideo
