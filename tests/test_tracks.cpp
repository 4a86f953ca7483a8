// trackvideo's tracks file: the reader called on texts, good and bad.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "tests/child.h"
#include "trackvideo/input/tracks.h"

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
}

// What comes before the first row: one byte-order mark and one header line
// (a first line whose first field does not start like a number) are skipped;
// a file without rows is refused.
TEST(TrackvideoTracksFile, ByteOrderMarkHeaderLineAndNoRows) {
  const std::string bom = "\xEF\xBB\xBF";
  struct text_case {
    std::string text;
    const char* expected;  // the message, or "" for one row (frame 7) on `line`
    int line, header;      // and the header on line `header` (0: none)
  };
  const text_case cases[] = {
      {bom + "7,1,0,0,5,5\n", "", 1, 0},
      {bom + "frame,id,left,top,width,height\r\n7,1,0,0,5,5\n", "", 2, 1},
      {"\n \t\nframe id left top width height extra\n\n7 1 0 0 5 5\n", "", 5, 3},
      {"#frame,id\n7,1,0,0,5,5\n", "", 2, 1},
      {"", "t.txt: no rows", 0, 0},
      {"\n\n \t\r\n", "t.txt: no rows", 0, 0},
      {bom, "t.txt: no rows", 0, 0},
      {"frame,id,left,top,width,height\n\n", "t.txt: no rows", 0, 0},
      // Only one of each.
      {"7,1,0,0,5,5\n" + bom + "8,1,0,0,5,5\n", "t.txt:2: frame '???8' is not a number", 0, 0},
      {"frame,id\nframe,id,left,top,width,height\n7,1,0,0,5,5\n",
       "t.txt:2: frame 'frame' is not a number", 0, 0},
      // A mistyped first row is reported, not taken for a header.
      {"7x,1,0,0,5,5\n", "t.txt:1: frame '7x' is not a number", 0, 0},
      {"-,1,0,0,5,5\n", "t.txt:1: frame '-' is not a number", 0, 0},
      {",1,0,0,5,5\n", "t.txt:1: column 1 (frame) is empty", 0, 0},
  };
  for (const text_case& c : cases) {
    const std::string what = ::testing::PrintToString(c.text);
    tracks t;
    const std::string why = parse_tracks(c.text, "t.txt", t);
    EXPECT_EQ(why, c.expected) << what;
    if (!why.empty()) continue;
    EXPECT_EQ(t.verify(), "") << what;
    ASSERT_EQ(t.boxes.size(), 1u) << what;
    EXPECT_EQ(t.boxes[0].frame, 7) << what;
    EXPECT_EQ(t.boxes[0].line, c.line) << what;
    EXPECT_EQ(t.header_line, c.header) << what;
    EXPECT_EQ(header_message(t),
              c.header ? "t.txt:" + std::to_string(c.header) + ": skipped the header line" : "")
        << what;
  }
}

// Fields are plain decimals: an optional sign, digits with an optional
// fraction, an optional exponent; nothing strtod would also take.
TEST(TrackvideoTracksFile, PlainDecimalsOnly) {
  // Integers of 15 digits and fewer are read apart from the others.
  const tracks t = parsed(
      "+1,+2,.5,-.5e+1,3.,2E0\n1e1,20e-1,0,0,1,1\n"
      "000000000000002,-000000000000000,000000000000010,-0000000000000010,5,5\n");
  ASSERT_EQ(t.boxes.size(), 3u);
  EXPECT_EQ(box_fields(t.boxes[0]), (std::vector<int>{1, 1, 0, 1, 1, -5, 3, -4}));
  EXPECT_EQ(box_fields(t.boxes[1]), (std::vector<int>{2, 0, 0, 3, 10, -10, 14, -6}));
  EXPECT_EQ(t.boxes[2].frame, 10);
  EXPECT_EQ(t.ids, (std::vector<int>{0, 2}));
}

TEST(TrackvideoTracksFile, EveryBadRowNamesTheFileAndItsLine) {
  using namespace std::string_literals;
  const std::pair<std::string, const char*> cases[] = {
      {"1,1,0,0,5", "expected at least 6 columns"},
      {"1,,0,0,5,5", "column 2 (id) is empty"},
      {"1,1,0,0,5,", "column 6 (height) is empty"},
      {"0,1,0,0,5,5", "frame '0' is not a frame number"},
      {"-0.0,1,0,0,5,5", "frame '-0.0' is not a frame number"},
      {"1.5,1,0,0,5,5", "frame '1.5' is not a whole number"},
      {"x,1,0,0,5,5", "frame 'x' is not a number"},
      {"1\0junk,1,0,0,5,5"s, "frame '1?junk' is not a number"},
      {"0x1,1,0,0,5,5", "frame '0x1' is not a number"},
      {"1e,1,0,0,5,5", "frame '1e' is not a number"},
      {"1e999,1,0,0,5,5", "frame '1e999' is out of range"},
      {"1,-1,0,0,5,5", "needs track ids"},
      {"1,-2,0,0,5,5", "id '-2' is negative"},
      {"1,2.5,0,0,5,5", "id '2.5' is not a whole number"},
      {"1,3000000000,0,0,5,5", "id '3000000000' is out of range"},
      {"1,0X10,0,0,5,5", "id '0X10' is not a number"},
      {"1,1,nan,0,5,5", "left 'nan' is not a number"},
      {"1,1,0x1p3,0,5,5", "left '0x1p3' is not a number"},
      {"1,1,0,.,5,5", "top '.' is not a number"},
      {"1,1,0,1.2.3,5,5", "top '1.2.3' is not a number"},
      {"1,1,0,0,inf,5", "width 'inf' is not a number"},
      {"1,1,0,0,-Infinity,5", "width '-Infinity' is not a number"},
      {"1,1,0,0,5,5x", "height '5x' is not a number"},
      {"1,1,0,0,5,5\0"s, "height '5?' is not a number"},
      {"1,1,0,0,5,1e400", "height '1e400' is out of range"},
      {"1,1,0,0,5,\xd9\xa3",
       "height '?"
       "?' is not a number"},
      {"1,1,\x1b[2J,0,5,5", "left '?[2J' is not a number"},
      {"1,1,3e9,0,5,5", "does not fit"},
      {"1,1,2147483647,0,5,5", "does not fit"},
      {"1,1,0,0,0.4,5", "empty after rounding to pixels (width '0.4', height '5')"},
      {"1,1,0,0,5,-3", "empty after rounding"},
  };
  for (const auto& [row, expected] : cases) {
    const std::string what = ::testing::PrintToString(row);
    tracks t;
    const std::string why = parse_tracks("1,1,0,0,5,5\n" + row + "\n", "t.txt", t);
    EXPECT_EQ(why.rfind("t.txt:2: ", 0), 0u) << what << " -> " << why;
    EXPECT_NE(why.find(expected), std::string::npos) << what << " -> " << why;
  }
  // A file name with bytes a terminal would act on is quoted as tokens are;
  // a printable one is given whole, however long.
  tracks t;
  EXPECT_EQ(parse_tracks("1,1,0,0,5\n", "a\nb\x1b[2J.txt", t),
            "'a?b?[2J.txt':1: expected at least 6 columns (frame,id,left,top,width,height), "
            "found 5");
  const std::string long_name = std::string(60, 'n') + ".txt";
  EXPECT_EQ(parse_tracks("", long_name, t), long_name + ": no rows");
  EXPECT_EQ(parse_tracks("", "\t", t), "'?': no rows");
  scratch s;
  EXPECT_NE(read_tracks((s.root / "missing").string(), t).find("No such file"), std::string::npos);
  EXPECT_NE(read_tracks(s.root.string(), t).find("Is a directory"), std::string::npos);
  const std::string why = read_tracks((s.root / "x\x1b]0;y").string(), t);
  EXPECT_NE(why.find("/x?]0;y': No such file"), std::string::npos) << why;
  EXPECT_EQ(why.find('\x1b'), std::string::npos) << why;
}

// verify() finds each broken invariant of a parsed file.
TEST(TrackvideoTracksFile, VerifyFindsEachBrokenInvariant) {
  const tracks good = parsed("h\n2,5,0,0,2,2\n1,9,0,0,2,2\n1,9,1,1,2,2\n");
  const std::vector<std::pair<const char*, void (*)(tracks&)>> breaks = {
      {"ids",
       [](tracks& t) {
         t.ids = {9, 5};
       }},
      {"object", [](tracks& t) { t.boxes[0].object = 2; }},
      {"order", [](tracks& t) { std::swap(t.boxes[0], t.boxes[2]); }},
      {"det", [](tracks& t) { t.boxes[1].det = 0; }},
      {"corners", [](tracks& t) { t.boxes[2].x2 = t.boxes[2].x1 - 1; }},
      {"last frame", [](tracks& t) { t.last_frame = 3; }},
      {"header", [](tracks& t) { t.header_line = 2; }},
      {"no boxes", [](tracks& t) { t.boxes.clear(); }},
  };
  for (const auto& [what, corrupt] : breaks) {
    tracks t = good;
    corrupt(t);
    EXPECT_NE(t.verify(), "") << what;
  }
}

// Plain integer rows are read by a shorter path than rows with blanks or
// reals. Both must agree on every row: each text is read as it is and with a
// blank after every comma (which takes the general path), with and without the
// ground-truth rules, and must give the same boxes, counts and messages.
TEST(TrackvideoTracksFile, IntegerRowsReadAsTheGeneralPathReadsThem) {
  const char* const texts[] = {
      "1,2,10,20,5,6\n3,1,0,0,1,1,1,1\n2,2,-3,-4,7,8,0,2,x\n2,2,1,1,2,2,1,7\n",
      "1,1,999999999,999999999,999999999,999999999,1,1\n",  // nine digits: still exact
      "1,1,1000000000,0,5,5,1,1\n",
      "1,1,00000000000000000000000000009,0,5,5,1,1\n",  // many digits, a small value
      "0,1,0,0,5,5,0,1\n1,1,0,0,5,5,1,1\n",  // frame 0 refused, though flag 0
      "1,1,0,0,5,5,1,1\n1,2,0,0,0,5,0,1\n",  // an empty box, though flag 0
      "1,-1,0,0,5,5,1,1\n",                  // a bare detection
      "1,-2,0,0,5,5,1,1\n",                  // a negative id
      "1,1,0,0,0,5,1,1\n",                   // an empty box
      "1,1,0,0,5,-5,1,1\n",
      "1,1,0,0,5\n",         // too few columns
      "1,1,0,0,5,5,1\n",     // too few for ground truth
      "1,1,0,0,5,5,,1\n",    // an empty column
      "1,1,0,0,5,5x,1,1\n",  // not a number
      "1,1,-0,0,5,5,1,1\r\n2,1,0,0,5,5,1,1\t# note\n",
      "2,5,0,0,5,5,1,1\n1,5,0,0,5,5,1,1\n1,4,0,0,5,5,1,1\n1,5,1,1,5,5,1,3\n",  // unsorted
      // Signs and leading zeros, as the integer grammar takes them.
      "+1,+2,-0,+10,+5,05,+1,+1\n0000000001,-0,0,0,1,1,1,1\n",
  };
  const gt_rules pedestrians, all{true, {}};
  for (const char* text : texts) {
    std::string spaced;
    for (const char* c = text; *c; ++c)
      spaced += *c == ',' ? std::string(", ") : std::string(1, *c);
    for (const gt_rules* rules : {static_cast<const gt_rules*>(nullptr), &pedestrians, &all}) {
      tracks fast, general;
      const std::string why_fast = parse_tracks(text, "t.txt", fast, rules);
      const std::string why_general = parse_tracks(spaced, "t.txt", general, rules);
      SCOPED_TRACE(std::string(text) + (rules ? " (ground truth)" : ""));
      EXPECT_EQ(why_fast, why_general);
      if (!why_fast.empty()) continue;
      EXPECT_EQ(fast.verify(), "");
      EXPECT_EQ(fast.ids, general.ids);
      EXPECT_EQ(fast.last_frame, general.last_frame);
      EXPECT_EQ(fast.ignored_flag, general.ignored_flag);
      EXPECT_EQ(fast.ignored_class, general.ignored_class);
      ASSERT_EQ(fast.boxes.size(), general.boxes.size());
      for (std::size_t k = 0; k < fast.boxes.size(); ++k)
        EXPECT_EQ(box_fields(fast.boxes[k]), box_fields(general.boxes[k]));
    }
  }
}
