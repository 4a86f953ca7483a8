// trackvideo/run/options.cpp - the command line (see options.h).
#include "trackvideo/run/options.h"

#include <sys/stat.h>

#include <algorithm>
#include <climits>

#include "common/tokens.h"
#include "trackvideo/sinks/overlay.h"
#include "trackvideo/input/kitti_tracks.h"
#include "trackvideo/input/sequence.h"

namespace trackvideo {

namespace {

// A value as messages quote it, as tokens are.
std::string quoted(const std::string& value) {
  return common::quote_token(value);
}

// Reads the value of `name`: an integer of the one grammar (common/tokens.h)
// from `least` to `most`. "" or what is wrong: below `least` (a negative value
// included) is "not a whole number >= least", above `most` "too large".
std::string parse_count(const std::string& name, const std::string& text, long long least,
                        long long most, const char* why_most, long long& value) {
  long long v = 0;
  const common::integer_read read = common::parse_integer(text, least, most, v);
  if (read == common::integer_read::ok) {
    value = v;
    return "";
  }
  // Out of the range: above it by its value, or by its sign when it is beyond
  // long long.
  const bool above =
      read == common::integer_read::out_of_range &&
      (common::parse_integer(text, LLONG_MIN, LLONG_MAX, v) == common::integer_read::ok
           ? v > most
           : text[0] != '-');
  if (above)
    return name + " " + quoted(text) + " is too large (at most " + std::to_string(most) + why_most +
           ")";
  return name + " " + quoted(text) + " is not a whole number >= " + std::to_string(least);
}

// The --batch options: "" or what is wrong.
std::string check_batch(options& out, const std::string& jobs, const std::string& shard,
                        const std::string& with) {
  const struct {
    const char* name;
    const std::string& value;
  } one_run[] = {{"--tracks", out.tracks},
                 {"--video", out.video},
                 {"--frames", out.frames},
                 {"--sequence", out.sequence},
                 {"--csv", out.csv},
                 {"--overlay", out.overlay},
                 {"--overlay-video", out.overlay_video},
                 {"--detections", out.detections},
                 {"--encounters", out.encounters},
                 {"--html", out.html},
                 {"--ground-truth", out.ground_truth_file},
                 {"--metrics", out.metrics},
                 {"--events", out.events}};
  for (const auto& o : one_run)
    if (!o.value.empty())
      return std::string(o.name) +
             " does not go with --batch (LIST names each sequence's inputs; --with adds outputs)";
  if (out.out.empty()) return "--batch needs --out DIR";
  // A missing ROOT is the run's failure, named then; a LIST names each
  // sequence's tracks itself.
  struct stat st;
  const char* folder_only = !out.results.empty()  ? "--results"
                            : !out.seqmap.empty() ? "--seqmap"
                            : out.kitti           ? "--format kitti"
                                                  : nullptr;
  if (folder_only &&
      (out.batch == "-" || (::stat(out.batch.c_str(), &st) == 0 && !S_ISDIR(st.st_mode))))
    return std::string(folder_only) + " goes with --batch ROOT, a folder of sequences (not a LIST)";
  if (!jobs.empty()) {
    long long n = 0;
    const std::string why = parse_count("--jobs", jobs, 1, kMaxJobs, "", n);
    if (!why.empty()) return why;
    out.jobs = static_cast<int>(n);
  }
  if (!shard.empty()) {
    const std::size_t slash = shard.find('/');
    int k = -1, n = 0;
    if (slash == std::string::npos || !common::parse_int_token(shard.substr(0, slash), k) ||
        !common::parse_int_token(shard.substr(slash + 1), n) || n < 1 || k < 0 || k >= n)
      return "--shard " + quoted(shard) + " is not K/N with 0 <= K < N";
    out.shard = k;
    out.shards = n;
  }
  std::size_t start = 0;
  while (!with.empty() && start <= with.size()) {
    const std::size_t comma = std::min(with.find(',', start), with.size());
    const std::string item = with.substr(start, comma - start);
    bool* const chosen = item == "overlay-video" ? &out.with_overlay_video
                         : item == "overlay"     ? &out.with_overlay
                         : item == "detections"  ? &out.with_detections
                         : item == "metrics"     ? &out.with_metrics
                         : item == "events"      ? &out.with_events
                         : item == "html"        ? &out.with_html
                                                 : nullptr;
    if (!chosen)
      return "--with " + quoted(with) +
             ": expected a comma-separated choice of overlay-video, overlay, detections, "
             "metrics, events, html";
    *chosen = true;
    start = comma + 1;
  }
  return "";
}

}  // namespace

std::string options::with_text() const {
  std::string text;
  const auto add = [&text](bool on, const char* name) {
    if (on) text += (text.empty() ? "" : ",") + std::string(name);
  };
  add(with_overlay_video, "overlay-video");
  add(with_overlay, "overlay");
  add(with_detections, "detections");
  add(with_metrics, "metrics");
  add(with_events, "events");
  add(with_html, "html");
  return text;
}

bool options::needs_pixels() const {
  return !csv.empty() || !overlay.empty() || !overlay_video.empty() || !detections.empty() ||
         !html.empty() || !encounters.empty();
}

namespace {

// The evaluation's options and the frames they spare: "" or what is wrong.
std::string check_evaluation(const options& o, const std::string& benchmark) {
  if (!o.evaluating()) {
    if (!o.ground_truth_file.empty() || !benchmark.empty())
      return std::string(o.ground_truth_file.empty() ? "--benchmark" : "--ground-truth") +
             " goes with --metrics FILE or --events FILE";
    if (o.sequence.empty() && o.video.empty() && o.frames.empty())
      return "--video FILE, --frames DIR or --sequence DIR is required";
    return "";
  }
  const char* what = !o.metrics.empty() ? "--metrics" : "--events";
  if (o.tracks.empty())
    return std::string(what) + " scores a tracker's results: give them with --tracks FILE";
  if (o.gt) return std::string(what) + " scores a tracker's results: --gt does not go with it";
  if (!o.sequence.empty() && !o.ground_truth_file.empty())
    return "--ground-truth does not go with --sequence (its ground truth is DIR/gt/gt.txt)";
  if (o.sequence.empty() && o.ground_truth_file.empty())
    return std::string(what) + " needs ground truth: --ground-truth FILE or --sequence DIR";
  if (o.kitti && o.frames.empty()) return std::string(what) + " with --format kitti needs --frames";
  if (o.sequence.empty() && o.video.empty() && o.frames.empty() && o.needs_pixels()) {
    const char* pixels = !o.csv.empty()             ? "--csv"
                         : !o.overlay.empty()       ? "--overlay"
                         : !o.overlay_video.empty() ? "--overlay-video"
                         : !o.detections.empty()    ? "--detections"
                         : !o.html.empty()          ? "--html"
                                                    : "--encounters";
    return std::string(pixels) + " needs the frames: --video FILE or --frames DIR";
  }
  return "";
}

}  // namespace

std::string usage() {
  return "usage: trackvideo --tracks FILE (--video FILE | --frames DIR) [--gt]\n"
         "                  [--classes LIST] [--csv FILE] [--overlay DIR]\n"
         "                  [--overlay-video FILE] [--detections DIR] [--radius N]\n"
         "                  [--max-pixels N] [--encounters FILE] [--gap N] [--near N]\n"
         "                  [--trail N] [--html DIR [--html-no-video]] [--thumbnails N]\n"
         "                  [--threads N] [--progress | --quiet] [--ground-truth FILE]\n"
         "                  [--benchmark MOT17|MOT20] [--metrics FILE] [--events FILE]\n"
         "       trackvideo --format kitti --tracks FILE --frames DIR [the options above]\n"
         "       trackvideo --sequence DIR [--tracks FILE] [the options above]\n"
         "       trackvideo --tracks FILE --ground-truth FILE --metrics FILE [--events FILE]\n"
         "       trackvideo --batch LIST --out DIR [--jobs N] [--shard K/N] [--force]\n"
         "                  [--with WHAT] [--gt] [--classes LIST] [--radius N]\n"
         "                  [--max-pixels N] [--threads N] [--benchmark MOT17|MOT20]\n"
         "                  [--progress | --quiet]\n"
         "       trackvideo --batch ROOT --out DIR [--results DIR] [--seqmap FILE]\n"
         "                  [--format kitti] [the options of --batch LIST]\n"
         "       trackvideo --help | --version\n"
         "\n"
         "Reads a tracks file (rows frame,id,left,top,width,height[,...]) and a video\n"
         "or a folder of images, prints on standard output the candidate report of the\n"
         "boxes (per detection, the detections of other tracks of its frame at an L1\n"
         "distance below N pixels; frames after the first), and writes on request:\n"
         "  --sequence DIR       a sequence folder: DIR/seqinfo.ini, its frames, and\n"
         "                       DIR/gt/gt.txt as the tracks unless --tracks is given\n"
         "  --gt                 the --tracks file is ground truth: rows with a 7th\n"
         "                       column of 0 or an 8th (class) not in LIST are ignored\n"
         "  --classes LIST       the classes ground truth keeps: 1,2,... or all\n"
         "                       (default 1); with kitti, types (default Car,Pedestrian)\n"
         "  --format kitti       the tracks in KITTI's tracking layout (17 or 18\n"
         "                       fields, frames from 0); default mot\n"
         "  --csv FILE           one row per candidate pair of every frame\n"
         "  --overlay DIR        frame_NNNNNN.png per frame with boxes, tracks and pairs\n"
         "                       drawn\n"
         "  --overlay-video FILE the same drawing for every frame in one video: FILE.avi\n"
         "                       Motion-JPEG, FILE.mp4 H.264\n"
         "  --detections DIR     objects_info_h<q+1>_<f>.txt per object and frame\n"
         "  --encounters FILE    one row per encounter: two tracks' run of frames with\n"
         "                       candidate pairs, with the run's closest measures\n"
         "  --gap N              frames without pairs an encounter spans (default 0)\n"
         "  --near N             a track starting or ending this close to an encounter\n"
         "                       is flagged (default 10 frames)\n"
         "  --trail N            overlays draw each track's last N centres (default 30)\n"
         "  --html DIR           DIR/index.html: the encounters with a picture of each,\n"
         "                       a timeline, and the overlay of every frame in\n"
         "                       DIR/overlay.mp4 (H.264), shown on the page\n"
         "  --html-no-video      the page without its video\n"
         "  --thumbnails N       pictures on the page for the N riskiest encounters at\n"
         "                       most (default " +
         std::to_string(kDefaultThumbnails) +
         ")\n"
         "  --metrics FILE       score the --tracks results against ground truth (the\n"
         "                       sequence's gt/gt.txt or --ground-truth FILE): one CSV\n"
         "                       row of HOTA, CLEAR and Identity figures\n"
         "  --events FILE        every identity switch and fragmentation, each switch\n"
         "                       with its likely cause (reappearance, meeting, crowd,\n"
         "                       restart, other) and encounter\n"
         "  --ground-truth FILE  ground truth rows frame,id,left,top,width,height,flag,\n"
         "                       class,visibility; evaluating needs no frames unless an\n"
         "                       output needs pixels (--csv, --overlay, --overlay-video,\n"
         "                       --detections, --encounters, --html)\n"
         "  --benchmark NAME     MOT17 (default) or MOT20 (class 6 is a distractor too)\n"
         "  --radius N           the L1 limit in pixels (default 80)\n"
         "  --max-pixels N       refuse frames of more than N pixels (default " +
         std::to_string(histfeat::kDefaultMaxPixels) +
         ")\n"
         "  --threads N          frames decoded at once (default: one per processor;\n"
         "                       with --batch, the processors shared by the jobs)\n"
         "  --progress, --quiet  progress on standard error always, or never (default:\n"
         "                       when standard error is a terminal)\n"
         "  --batch LIST         every sequence of LIST (lines SEQDIR [TRACKS]) into\n"
         "                       DIR/<name>/: report.txt, pairs.csv, a done marker;\n"
         "                       DIR/summary.csv; sequences done before are skipped\n"
         "  --jobs N             sequences at once, each in its own process (default:\n"
         "                       one per core)\n"
         "  --shard K/N          only the sequences whose index i has i mod N = K\n"
         "  --force              redo sequences done before\n"
         "  --with WHAT          also overlay-video, overlay, detections, metrics,\n"
         "                       events, html (comma-separated; metrics and events score\n"
         "                       the sequences whose line names TRACKS against gt/gt.txt,\n"
         "                       and DIR/metrics.csv adds a COMBINED row; html writes\n"
         "                       <name>/page/ and DIR/index.html, the dataset's page)\n"
         "  --batch ROOT         every subfolder of ROOT holding a seqinfo.ini, in name\n"
         "                       order, as --batch LIST would run it\n"
         "  --results DIR        with --batch ROOT: DIR/<folder>.txt as each one's tracks\n"
         "  --seqmap FILE        with --batch ROOT: the sequences FILE names (a line\n"
         "                       \"name\", then one folder name per line), in its order\n"
         "Outputs are written only when the whole run succeeds.\n";
}

std::string parse_options(int argc, const char* const* argv, options& out) {
  out = options{};
  struct valued {
    const char* name;
    std::string* target;
  };
  std::string radius, max_pixels, classes, jobs, shard, with, gap, near, trail, threads, thumbnails,
      format, benchmark;
  const valued with_value[] = {{"--tracks", &out.tracks},
                               {"--video", &out.video},
                               {"--frames", &out.frames},
                               {"--csv", &out.csv},
                               {"--overlay", &out.overlay},
                               {"--overlay-video", &out.overlay_video},
                               {"--detections", &out.detections},
                               {"--radius", &radius},
                               {"--max-pixels", &max_pixels},
                               {"--sequence", &out.sequence},
                               {"--classes", &classes},
                               {"--batch", &out.batch},
                               {"--out", &out.out},
                               {"--jobs", &jobs},
                               {"--shard", &shard},
                               {"--with", &with},
                               {"--results", &out.results},
                               {"--seqmap", &out.seqmap},
                               {"--encounters", &out.encounters},
                               {"--gap", &gap},
                               {"--near", &near},
                               {"--trail", &trail},
                               {"--thumbnails", &thumbnails},
                               {"--html", &out.html},
                               {"--threads", &threads},
                               {"--format", &format},
                               {"--ground-truth", &out.ground_truth_file},
                               {"--benchmark", &benchmark},
                               {"--metrics", &out.metrics},
                               {"--events", &out.events}};
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
    if (arg == "--gt") {
      out.gt = true;
      continue;
    }
    if (arg == "--force") {
      out.force = true;
      continue;
    }
    if (arg == "--html-no-video") {
      out.html_no_video = true;
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
        // "--csv --quiet": the value is missing, not "--quiet".
        if (i + 1 >= argc || std::string(argv[i + 1]).rfind("--", 0) == 0)
          return name + " needs a value";
        *with_value[k].target = argv[++i];
      }
      if (with_value[k].target->empty()) return name + " needs a value";
    }
    if (!known) {
      if (arg.size() > 1 && arg[0] == '-') return "unknown option " + quoted(arg);
      return "unexpected argument " + quoted(arg);
    }
  }
  if (!format.empty() && format != "mot" && format != "kitti")
    return "--format " + quoted(format) + ": expected mot or kitti";
  out.kitti = format == "kitti";
  const char* not_kitti = out.gt                  ? "--gt"
                          : !out.sequence.empty() ? "--sequence"
                          : !out.video.empty()    ? "--video"
                                                  : nullptr;
  if (out.kitti && not_kitti)
    return std::string(not_kitti) +
           " does not go with --format kitti (--tracks FILE with the images of --frames DIR)";
  if (!out.batch.empty()) {
    const std::string why = check_batch(out, jobs, shard, with);
    if (!why.empty()) return why;
    if (!benchmark.empty() && !out.with_metrics && !out.with_events)
      return "--benchmark goes with --with metrics or events";
  } else {
    const char* batch_only = !out.out.empty() ? "--out"
                             : !jobs.empty()  ? "--jobs"
                             : !shard.empty() ? "--shard"
                             : out.force      ? "--force"
                             : !with.empty()  ? "--with"
                                              : nullptr;
    if (batch_only) return std::string(batch_only) + " goes with --batch LIST";
    if (!out.results.empty() || !out.seqmap.empty())
      return std::string(!out.results.empty() ? "--results" : "--seqmap") +
             " goes with --batch ROOT, a folder of sequences";
    if (!out.sequence.empty() && (!out.video.empty() || !out.frames.empty()))
      return "--sequence excludes --video and --frames (the sequence holds its frames)";
    if (out.tracks.empty() && out.sequence.empty()) return "--tracks FILE is required";
    if (!out.video.empty() && !out.frames.empty()) return "--video and --frames exclude each other";
    const std::string why = check_evaluation(out, benchmark);
    if (!why.empty()) return why;
  }
  if (!benchmark.empty()) {
    if (benchmark != "MOT17" && benchmark != "MOT20")
      return "--benchmark " + quoted(benchmark) + " is not MOT17 or MOT20";
    out.mot20 = benchmark == "MOT20";
    if (out.kitti) return "--benchmark does not go with --format kitti (KITTI's rules are its own)";
  }
  if (!radius.empty()) {
    const std::string why = parse_count("--radius", radius, 1, kMaxRadius,
                                        ", beyond the distance of any two boxes", out.radius);
    if (!why.empty()) return why;
  }
  if (out.kitti) {
    const std::string why =
        parse_kitti_types(classes.empty() ? kKittiDefaultTypes : classes, out.rules);
    if (!why.empty()) return why;
  } else if (!classes.empty()) {
    if (!out.ground_truth() && out.batch.empty())
      return "--classes applies to ground truth: give --gt with --tracks FILE";
    const std::string why = parse_classes(classes, out.rules);
    if (!why.empty()) return why;
  }
  const struct {
    const char* name;
    const std::string& text;
    int& value;
  } counts[] = {{"--gap", gap, out.gap}, {"--near", near, out.near}, {"--trail", trail, out.trail}};
  for (const auto& c : counts) {
    if (c.text.empty()) continue;
    long long v = 0;
    const std::string why = parse_count(c.name, c.text, 0, kMaxFrameCount, "", v);
    if (!why.empty()) return why;
    c.value = static_cast<int>(v);
  }
  if (!max_pixels.empty()) {
    const std::string why =
        parse_count("--max-pixels", max_pixels, 1, LLONG_MAX, "", out.max_pixels);
    if (!why.empty()) return why;
  }
  if (!threads.empty()) {
    long long n = 0;
    const std::string why = parse_count("--threads", threads, 1, kMaxThreads, "", n);
    if (!why.empty()) return why;
    out.threads = static_cast<int>(n);
  }
  if (!thumbnails.empty()) {
    if (out.html.empty()) return "--thumbnails goes with --html DIR";
    const std::string why =
        parse_count("--thumbnails", thumbnails, 0, kMaxThumbnails, "", out.thumbnails);
    if (!why.empty()) return why;
  }
  if (!out.overlay_video.empty() && video_extension(out.overlay_video).empty())
    return "--overlay-video " + quoted(out.overlay_video) +
           ": give a name ending in .avi (Motion-JPEG) or .mp4 (H.264)";
  if (out.html_no_video && out.html.empty()) return "--html-no-video goes with --html DIR";
  if (progress && quiet) return "--progress and --quiet exclude each other";
  out.progress = progress ? progress_mode::always
                 : quiet  ? progress_mode::never
                          : progress_mode::automatic;
  return "";
}

}  // namespace trackvideo
