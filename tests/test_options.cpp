// trackvideo's command line: parse_options on good and bad argument lists.

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "histfeat/decode.h"
#include "trackvideo/run/options.h"

using namespace trackvideo;

namespace {

// The arguments as one line, for messages.
std::string joined(const std::vector<const char*>& args) {
  std::string line;
  for (const char* a : args) line += std::string(line.empty() ? "" : " ") + a;
  return line;
}

// parse_options on "trackvideo" followed by `args`.
std::string parse(const std::vector<const char*>& args, options& o) {
  std::vector<const char*> argv{"trackvideo"};
  argv.insert(argv.end(), args.begin(), args.end());
  return parse_options(static_cast<int>(argv.size()), argv.data(), o);
}

}  // namespace

TEST(TrackvideoCommandLine, ValuesInBothFormsAndTheDefaults) {
  options o;
  ASSERT_EQ(parse({"--tracks", "t", "--frames=d", "--csv", "c", "--radius=200", "--quiet",
                   "--overlay-video", "o.AVI", "--max-pixels", "1000"},
                  o),
            "");
  EXPECT_EQ(o.tracks, "t");
  EXPECT_EQ(o.frames, "d");
  EXPECT_EQ(o.csv, "c");
  EXPECT_EQ(o.overlay_video, "o.AVI");
  EXPECT_EQ(o.radius, 200);
  EXPECT_EQ(o.max_pixels, 1000);
  EXPECT_EQ(o.progress, progress_mode::never);
  EXPECT_EQ(parse({"--tracks", "t", "--frames", "d", "--overlay-video", "x.avi/o.Mp4"}, o), "");
  EXPECT_EQ(o.overlay_video, "x.avi/o.Mp4");
  ASSERT_EQ(parse({"--video", "v", "--tracks", "t"}, o), "");
  EXPECT_EQ(o.radius, kDefaultRadius);
  EXPECT_EQ(o.max_pixels, histfeat::kDefaultMaxPixels);
  EXPECT_EQ(o.progress, progress_mode::automatic);
  EXPECT_EQ(o.threads, 0);  // one per usable processor
  EXPECT_TRUE(o.overlay.empty() && o.overlay_video.empty() && o.detections.empty());
  ASSERT_EQ(parse({"--tracks", "t", "--frames", "d", "--threads", "3"}, o), "");
  EXPECT_EQ(o.threads, 3);
  // A value that looks like an option is taken only after "=".
  ASSERT_EQ(parse({"--tracks=--t", "--video", "-", "--csv=--quiet", "--radius", "68719476736"}, o),
            "");
  EXPECT_EQ(o.tracks, "--t");
  EXPECT_EQ(o.video, "-");
  EXPECT_EQ(o.csv, "--quiet");
  EXPECT_EQ(o.radius, kMaxRadius);
  EXPECT_EQ(o.progress, progress_mode::automatic);
  // A batch: --classes goes without --gt (the sequences' gt.txt files).
  ASSERT_EQ(parse({"--batch", "-", "--out=o", "--jobs", "3", "--shard", "1/4", "--force",
                   "--with", "detections,overlay-video", "--classes", "1,7", "--threads=256"},
                  o),
            "");
  EXPECT_EQ(o.threads, kMaxThreads);
  EXPECT_EQ(o.batch, "-");
  EXPECT_EQ(o.jobs, 3);
  EXPECT_EQ(o.shard, 1);
  EXPECT_EQ(o.shards, 4);
  EXPECT_TRUE(o.force);
  EXPECT_EQ(o.with_text(), "overlay-video,detections");
  // The one integer grammar: a sign and leading zeros wherever a number is.
  ASSERT_EQ(parse({"--tracks", "t", "--video", "v", "--gap", "00", "--near=+5", "--trail", "-0",
                   "--radius", "+08", "--threads", "007"},
                  o),
            "");
  EXPECT_EQ(std::vector<long long>({o.gap, o.near, o.trail, o.radius, o.threads}),
            std::vector<long long>({0, 5, 0, 8, 7}));
  for (const char* shard : {"+0/2", "0/+2"})
    EXPECT_EQ(parse({"--batch", "L", "--out", "o", "--shard", shard}, o), "") << shard;
}

TEST(TrackvideoCommandLine, MisuseIsAUsageError) {
  const std::pair<std::vector<const char*>, const char*> cases[] = {
      {{"--video", "v"}, "--tracks FILE is required"},
      {{"--tracks", "t"}, "--video FILE, --frames DIR or --sequence DIR is required"},
      {{"--tracks", "t", "--video", "v", "--frames", "d"}, "exclude each other"},
      {{"--tracks", "t", "--video"}, "--video needs a value"},
      {{"--tracks", "t", "--video", "v", "--tracks", "u"}, "--tracks is given twice"},
      {{"--tracks", "t", "--video", "v", "--radius", "0"}, "--radius '0' is not a whole number"},
      {{"--tracks", "t", "--video", "v", "--radius", "-5"}, "--radius '-5' is not a whole number"},
      {{"--tracks", "t", "--video", "v", "--radius", "8x"}, "--radius '8x' is not a whole number"},
      {{"--tracks", "t", "--video", "v", "--radius", "-0"}, "--radius '-0' is not a whole number"},
      {{"--tracks", "t", "--video", "v", "--gap", "-1"}, "--gap '-1' is not a whole number >= 0"},
      {{"--tracks", "t", "--video", "v", "--near", "-99999999999999999999"},
       "is not a whole number >= 0"},
      {{"--tracks", "t", "--video", "v", "--trail", "+1073741825"},
       "is too large (at most 1073741824)"},
      {{"--tracks", "t", "--video", "v", "--gap", " 5"}, "--gap ' 5' is not a whole number >= 0"},
      {{"--batch", "L", "--out", "o", "--shard", "0/-2"}, "is not K/N"},
      {{"--batch", "L", "--out", "o", "--shard", "+/2"}, "is not K/N"},
      {{"--tracks", "t", "--video", "v", "--radius", "68719476737"},
       "--radius '68719476737' is too large (at most 68719476736"},
      {{"--tracks", "t", "--video", "v", "--radius", "99999999999999999999"},
       "--radius '99999999999999999999' is too large"},
      {{"--tracks", "t", "--video", "v", "--progress", "--quiet"}, "exclude each other"},
      {{"--tracks", "t", "--video", "v", "--colour"}, "unknown option '--colour'"},
      {{"--tracks", "t", "--video", "v", "--\x1b[2J"}, "unknown option '--?[2J'"},
      {{"--tracks", "t", "--video", "v", "extra"}, "unexpected argument 'extra'"},
      {{"--tracks=", "--video", "v"}, "--tracks needs a value"},
      // A value that looks like an option is the next option, not the value.
      {{"--tracks", "t", "--video", "v", "--csv", "--quiet"}, "--csv needs a value"},
      {{"--tracks", "--video", "v"}, "--tracks needs a value"},
      {{"--tracks", "t", "--video", "v", "--overlay", "--detections", "d"},
       "--overlay needs a value"},
      // Only AVI and MP4 are written.
      {{"--tracks", "t", "--video", "v", "--overlay-video", "x.mkv"},
       "--overlay-video 'x.mkv': give a name ending in .avi (Motion-JPEG) or .mp4 (H.264)"},
      {{"--tracks", "t", "--video", "v", "--overlay-video", "avi"}, "or .mp4"},
      {{"--tracks", "t", "--video", "v", "--overlay-video", ".mp4"}, "or .mp4"},
      {{"--tracks", "t", "--video", "v", "--overlay-video", "x.avi.mkv"}, "or .mp4"},
      {{"--tracks", "t", "--video", "v", "--overlay-video", "x.mp4v"}, "or .mp4"},
      {{"--tracks", "t", "--video", "v", "--overlay-video=d/.mp4/x"}, "or .mp4"},
      {{"--tracks", "t", "--video", "v", "--max-pixels", "0"},
       "--max-pixels '0' is not a whole number >= 1"},
      {{"--tracks", "t", "--video", "v", "--max-pixels", "1e6"},
       "--max-pixels '1e6' is not a whole number >= 1"},
      {{"--tracks", "t", "--video", "v", "--max-pixels", "99999999999999999999"},
       "--max-pixels '99999999999999999999' is too large"},
      {{"--tracks", "t", "--video", "v", "--threads", "0"},
       "--threads '0' is not a whole number >= 1"},
      {{"--tracks", "t", "--video", "v", "--threads", "-2"},
       "--threads '-2' is not a whole number >= 1"},
      {{"--tracks", "t", "--video", "v", "--threads", "257"},
       "--threads '257' is too large (at most 256)"},
      {{"--tracks", "t", "--video", "v", "--threads"}, "--threads needs a value"},
      {{"--batch", "L", "--out", "o", "--threads", "two"}, "--threads 'two' is not a whole number"},
      {{"--batch", "L"}, "--batch needs --out DIR"},
      {{"--batch", "L", "--out", "o", "--csv", "c"}, "--csv does not go with --batch"},
      {{"--batch", "L", "--out", "o", "--sequence", "s"}, "--sequence does not go with --batch"},
      {{"--tracks", "t", "--video", "v", "--out", "o"}, "--out goes with --batch LIST"},
      {{"--tracks", "t", "--video", "v", "--force"}, "--force goes with --batch LIST"},
      {{"--batch", "L", "--out", "o", "--jobs", "0"}, "--jobs '0' is not a whole number >= 1"},
      {{"--batch", "L", "--out", "o", "--jobs", "1025"}, "--jobs '1025' is too large"},
      {{"--batch", "L", "--out", "o", "--shard", "2/2"}, "--shard '2/2' is not K/N"},
      {{"--batch", "L", "--out", "o", "--shard", "-1/2"}, "is not K/N"},
      {{"--batch", "L", "--out", "o", "--shard", "1"}, "is not K/N"},
      {{"--batch", "L", "--out", "o", "--shard", "0/0"}, "is not K/N"},
      {{"--batch", "L", "--out", "o", "--with", "overlay,,csv"}, "--with 'overlay,,csv': expected"},
      {{"--batch", "-", "--out", "o", "--results", "r"}, "--results goes with --batch ROOT"},
      {{"--sequence", "s", "--seqmap", "m"}, "--seqmap goes with --batch ROOT"},
  };
  for (const auto& [args, expected] : cases) {
    options o;
    const std::string why = parse(args, o);
    EXPECT_NE(why.find(expected), std::string::npos) << joined(args) << " -> " << why;
    EXPECT_EQ(why.find('\x1b'), std::string::npos) << why;
  }
}
