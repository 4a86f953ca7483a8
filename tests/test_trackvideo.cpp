// trackvideo: the tracks file, the command line, frame order, table rows and
// progress called directly; the program end to end on the bundled footage
// against the project's own histfeat and trackpair run on the same boxes, its
// pictures reopened with OpenCV, and every kind of bad input.

#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <tuple>

#include "frame_source.h"
#include "options.h"
#include "progress.h"
#include "table.h"
#include "tracks.h"

namespace fs = std::filesystem;
using namespace trackvideo;

namespace {

const fs::path kFootage = fs::path(TAVO_EXAMPLES_DIR) / "footage";
const fs::path kTracks = kFootage / "tracks.txt";

struct scratch {
  fs::path root;
  scratch() {
    std::string name = (fs::temp_directory_path() / "trackvideo-test.XXXXXX").string();
    if (!::mkdtemp(name.data())) throw std::runtime_error("mkdtemp failed");
    root = name;
  }
  ~scratch() {
    std::error_code ignored;
    fs::remove_all(root, ignored);
  }
  fs::path write(const std::string& name, const std::string& text) const {
    std::ofstream(root / name, std::ios::binary) << text;
    return root / name;
  }
};

tracks parsed(const std::string& text) {
  tracks t;
  const std::string why = parse_tracks(text, "t.txt", t);
  EXPECT_EQ(why, "");
  EXPECT_EQ(t.verify(), "");
  return t;
}

std::vector<int> box_fields(const track_box& b) {
  return {b.frame, b.object, b.det, b.line, b.x1, b.y1, b.x2, b.y2};
}

}  // namespace

// ---- tracks -------------------------------------------------------------------

TEST(TrackvideoTracksFile, SeparatorsExtraColumnsCrlfAndRoundingHalfAwayFromZero) {
  const tracks t = parsed(
      "2 3 -4.5 0 10 3\n"  // blanks; -4.5 rounds to -5, 5.5 to 6
      "1,7,10.4,20.5,5,5,1,-1,-1,-1\r\n"
      "\n"
      "  \t\r\n"
      "2 , 7, 1 ,2,3,4\n"
      "2,7,0,0,1,1");  // no final newline
  EXPECT_EQ(t.ids, (std::vector<int>{3, 7}));
  EXPECT_EQ(t.last_frame, 2);
  ASSERT_EQ(t.boxes.size(), 4u);
  // Sorted by (frame, object), file order within: det counts per (object, frame).
  EXPECT_EQ(box_fields(t.boxes[0]), (std::vector<int>{1, 1, 0, 2, 10, 21, 14, 25}));
  EXPECT_EQ(box_fields(t.boxes[1]), (std::vector<int>{2, 0, 0, 1, -5, 0, 5, 2}));
  EXPECT_EQ(box_fields(t.boxes[2]), (std::vector<int>{2, 1, 0, 5, 1, 2, 3, 5}));
  EXPECT_EQ(box_fields(t.boxes[3]), (std::vector<int>{2, 1, 1, 6, 0, 0, 0, 0}));
}

TEST(TrackvideoTracksFile, IdsAsIntegralRealsNotContiguousAndFramesWithoutRows) {
  const tracks t = parsed("5.0,10,0,0,2,2\n5,2.0,0,0,2,2\n5,10,1,1,2,2\n");
  EXPECT_EQ(t.ids, (std::vector<int>{2, 10}));
  EXPECT_EQ(t.last_frame, 5);
  ASSERT_EQ(t.boxes.size(), 3u);
  EXPECT_EQ(t.boxes[0].object, 0);
  EXPECT_EQ(t.boxes[2].det, 1);
  tracks empty;
  EXPECT_EQ(parse_tracks("\n\n", "e", empty), "");
  EXPECT_EQ(empty.last_frame, 0);
}

TEST(TrackvideoTracksFile, EveryBadRowNamesTheFileAndItsLine) {
  const std::pair<const char*, const char*> cases[] = {
      {"1,1,0,0,5", "expected at least 6 columns"},
      {"1,,0,0,5,5", "column 2 (id) is empty"},
      {"1,1,0,0,5,", "column 6 (height) is empty"},
      {"0,1,0,0,5,5", "frame 0"},
      {"1.5,1,0,0,5,5", "frame '1.5' is not a whole number"},
      {"x,1,0,0,5,5", "frame 'x' is not a number"},
      {"1,-1,0,0,5,5", "needs track ids"},
      {"1,-2,0,0,5,5", "id -2 is negative"},
      {"1,2.5,0,0,5,5", "id '2.5' is not a whole number"},
      {"1,3000000000,0,0,5,5", "id '3000000000' is out of range"},
      {"1,1,nan,0,5,5", "left 'nan' is not a finite number"},
      {"1,1,0,0,inf,5", "width 'inf' is not a finite number"},
      {"1,1,0,0,5,5x", "height '5x' is not a finite number"},
      {"1,1,3e9,0,5,5", "does not fit"},
      {"1,1,2147483647,0,5,5", "does not fit"},
      {"1,1,0,0,0.4,5", "empty after rounding"},
      {"1,1,0,0,5,-3", "empty after rounding"},
  };
  for (const auto& [row, expected] : cases) {
    tracks t;
    const std::string why = parse_tracks("1,1,0,0,5,5\n" + std::string(row) + "\n", "t.txt", t);
    EXPECT_EQ(why.rfind("t.txt:2: ", 0), 0u) << row << " -> " << why;
    EXPECT_NE(why.find(expected), std::string::npos) << row << " -> " << why;
  }
  scratch s;
  tracks t;
  EXPECT_NE(read_tracks((s.root / "missing").string(), t).find("No such file"), std::string::npos);
  EXPECT_NE(read_tracks(s.root.string(), t).find("Is a directory"), std::string::npos);
}

// ---- command line ---------------------------------------------------------------

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

// ---- frames ---------------------------------------------------------------------

TEST(TrackvideoFrameSource, NaturalOrderImagesOnlyAnyCase) {
  std::vector<std::string> names = {"f10.png", "f2.png", "f02.png", "f1b.png", "a", "f1.png", "f"};
  std::sort(names.begin(), names.end(), natural_less);
  EXPECT_EQ(names, (std::vector<std::string>{"a", "f", "f1.png", "f1b.png", "f02.png", "f2.png",
                                             "f10.png"}));
  for (const char* yes : {"a.JPG", "b.jpeg", "c.Png", "d.bmp", "e.tif", "f.TIFF", "g.webp", "h.ppm",
                          "i.pgm", "j.pnm"})
    EXPECT_TRUE(has_image_extension(yes)) << yes;
  for (const char* no : {"tracks.txt", "png", ".png", "x.png.bak", "y.gif"})
    EXPECT_FALSE(has_image_extension(no)) << no;

  scratch s;
  const cv::Mat grey(4, 6, CV_8UC1, cv::Scalar(7));
  cv::imwrite((s.root / "10.png").string(), grey);
  cv::imwrite((s.root / "2.PNG").string(), cv::Mat(5, 3, CV_8UC3, cv::Scalar(1, 2, 3)));
  s.write("notes.txt", "not a frame");
  fs::create_directory(s.root / "sub.png");
  frame_source src;
  ASSERT_EQ(src.open_folder(s.root.string()), "");
  ASSERT_EQ(src.images().size(), 2u);
  cv::Mat frame;
  ASSERT_EQ(src.next(frame), "");
  EXPECT_EQ(frame.cols, 3);  // 2.PNG before 10.png
  EXPECT_EQ(frame.at<cv::Vec3b>(0, 0), cv::Vec3b(1, 2, 3));
  ASSERT_EQ(src.next(frame), "");
  EXPECT_EQ(frame.type(), CV_8UC3);  // a grey image comes as three channels
  EXPECT_EQ(frame.at<cv::Vec3b>(3, 5), cv::Vec3b(7, 7, 7));
  EXPECT_NE(src.skip().find("no frame 3 (the folder holds 2 images)"), std::string::npos);
  EXPECT_NE(src.open_folder((s.root / "none").string()), "");
}

// ---- table and progress ---------------------------------------------------------

TEST(TrackvideoTable, RowFromCornersDetsFromOneAndSixDecimals) {
  std::string out;
  append_pair_row(out, 3, pair_side{4, 0, 10, 20, 29, 59}, pair_side{12, 2, -3, -4, -3, -4}, 77,
                  0.1234567f);
  EXPECT_EQ(out, "3,4,1,12,3,77,0.123457,10,20,20,40,-3,-4,1,1\n");
  out.clear();
  append_pair_row(out, 1, pair_side{0, 0, INT_MIN, INT_MIN, INT_MAX, INT_MAX},
                  pair_side{1, 0, 0, 0, 0, 0}, 0, 0.0f);
  EXPECT_EQ(out, "1,0,1,1,1,0,0.000000,-2147483648,-2147483648,4294967296,4294967296,0,0,1,1\n");
  EXPECT_EQ(std::string(kCsvHeader),
            "frame,id_a,det_a,id_b,det_b,l1,hist_l1,left_a,top_a,width_a,height_a,left_b,top_b,"
            "width_b,height_b\n");
}

TEST(TrackvideoProgress, ThrottledLastFrameAlwaysShownAndLineEndedOnlyWhenEnabled) {
  for (bool enabled : {true, false}) {
    std::FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    {
      progress p(enabled, 1000, f);
      for (int n = 1; n <= 1000; ++n) p.update(n);
    }  // the destructor ends the line
    std::rewind(f);
    std::string text;
    for (int c; (c = std::fgetc(f)) != EOF;) text += static_cast<char>(c);
    std::fclose(f);
    if (!enabled) {
      EXPECT_EQ(text, "");
      continue;
    }
    EXPECT_EQ(text.rfind("\rtrackvideo: frame 1 of 1000 (0%), ", 0), 0u) << text;
    EXPECT_NE(text.find("\rtrackvideo: frame 1000 of 1000 (100%), "), std::string::npos) << text;
    EXPECT_EQ(text.back(), '\n');
    EXPECT_LT(std::count(text.begin(), text.end(), '\r'), 100);  // not one line per frame
  }
  EXPECT_TRUE(progress_wanted(progress_mode::always, -1));
  EXPECT_FALSE(progress_wanted(progress_mode::never, 2));
  EXPECT_FALSE(progress_wanted(progress_mode::automatic, -1));
}

