// trackvideo's tracks file: the reader called on texts, good and bad.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "tests/child.h"
#include "trackvideo/tracks.h"

namespace fs = std::filesystem;
using namespace trackvideo;

namespace {

struct scratch : tavo_test::scratch_dir {
  const fs::path root = path();
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
