// trackvideo's command line: parse_options on good and bad argument lists.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "trackvideo/options.h"

using namespace trackvideo;

TEST(TrackvideoCommandLine, ValuesInBothFormsAndTheDefaults) {
  options o;
  const char* a[] = {"trackvideo", "--tracks",     "t",      "--frames=d", "--csv",
                     "c",          "--radius=200", "--quiet"};
  ASSERT_EQ(parse_options(8, a, o), "");
  EXPECT_EQ(o.tracks, "t");
  EXPECT_EQ(o.frames, "d");
  EXPECT_EQ(o.csv, "c");
  EXPECT_EQ(o.radius, 200);
  EXPECT_EQ(o.progress, progress_mode::never);
  const char* b[] = {"trackvideo", "--video", "v", "--tracks", "t"};
  ASSERT_EQ(parse_options(5, b, o), "");
  EXPECT_EQ(o.radius, kDefaultRadius);
  EXPECT_EQ(o.progress, progress_mode::automatic);
  EXPECT_TRUE(o.overlay.empty() && o.overlay_video.empty() && o.detections.empty());
}

TEST(TrackvideoCommandLine, MisuseIsAUsageError) {
  const std::vector<std::vector<const char*>> cases = {
      {"--video", "v"},
      {"--tracks", "t"},
      {"--tracks", "t", "--video", "v", "--frames", "d"},
      {"--tracks", "t", "--video"},
      {"--tracks", "t", "--video", "v", "--tracks", "u"},
      {"--tracks", "t", "--video", "v", "--radius", "0"},
      {"--tracks", "t", "--video", "v", "--radius", "-5"},
      {"--tracks", "t", "--video", "v", "--radius", "8x"},
      {"--tracks", "t", "--video", "v", "--radius", "99999999999999999999"},
      {"--tracks", "t", "--video", "v", "--progress", "--quiet"},
      {"--tracks", "t", "--video", "v", "--colour"},
      {"--tracks", "t", "--video", "v", "extra"},
      {"--tracks=", "--video", "v"},
  };
  for (const auto& c : cases) {
    std::vector<const char*> argv{"trackvideo"};
    argv.insert(argv.end(), c.begin(), c.end());
    options o;
    EXPECT_NE(parse_options(static_cast<int>(argv.size()), argv.data(), o), "")
        << ::testing::PrintToString(c);
  }
}
