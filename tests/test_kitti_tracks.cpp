// Tests of KITTI tracking files: rows as boxes of the next frame, and
// --format kitti end to end against the same boxes as MOT rows, and its
// refusals.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "tests/child.h"
#include "trackvideo/input/kitti_tracks.h"

namespace fs = std::filesystem;
using namespace trackvideo;
using tavo_test::file_text;

namespace {

const fs::path kExamples = TAVO_EXAMPLES_DIR;
const std::string kMid = " 0 0 -10 ", k3d = " -1 -1 -1 -1000 -1000 -1000 -10";

TEST(KittiTracks, RowsAreBoxesOfTheNextFrameWithoutDontCareOrOtherTypes) {
  gt_rules rules;
  EXPECT_NE(parse_kitti_types("Car,Bus", rules).find("'Car,Bus': expected \"all\" or KITTI"),
            std::string::npos);
  ASSERT_EQ(parse_kitti_types("car,PEDESTRIAN", rules), "");
  tracks t;
  ASSERT_EQ(parse_kitti_tracks("0 7 Car" + kMid + "10.4 20 30.6 41" + k3d + "\r\n\n2 -1 DontCare" +
                                   kMid + "0 0 5 5" + k3d + "\n2 3 cyclist" + kMid + "0 0 5 5" +
                                   k3d + " 0.9\n2 3 pedestrian" + kMid + "1 2 3 4" + k3d + " 0.9\n",
                               "k.txt", rules, t),
            "");
  EXPECT_EQ(t.verify(), "");
  EXPECT_EQ(t.shown_frame(1), 0);
  EXPECT_EQ(t.ids, (std::vector<int>{3, 7}));
  ASSERT_EQ(t.boxes.size(), 2u);
  // Edges 10.4 to 30.6 exclusive: x1 = round(10.4), x2 = round(30.6) - 1.
  const track_box& car = t.boxes[0];
  EXPECT_EQ((std::vector<int>{car.frame, car.object, car.x1, car.y1, car.x2, car.y2, car.line}),
            (std::vector<int>{1, 1, 10, 20, 30, 40, 1}));
  EXPECT_EQ((std::vector<int>{t.boxes[1].frame, t.boxes[1].line}), (std::vector<int>{3, 5}));
  EXPECT_EQ(kitti_ignored_message(t), "k.txt: 2 rows ignored (1 DontCare, 1 of other types)");
}

tavo_test::child_result trackvideo_run(std::vector<std::string> args) {
  args.insert(args.begin(), TRACKVIDEO_EXE);
  return tavo_test::run_child(args);
}

// `text`'s lines after the header with 1 taken from each column of `columns`.
std::string earlier(const std::string& text, std::vector<int> columns) {
  std::istringstream in(text);
  std::string out, line;
  for (bool header = true; std::getline(in, line); header = false) {
    std::vector<std::string> f;
    for (std::istringstream cells(line); std::getline(cells, f.emplace_back(), ',');) {
    }
    f.pop_back();
    for (const int c : columns)
      if (!header) f[c] = std::to_string(std::stoi(f[c]) - 1);
    for (std::size_t k = 0; k < f.size(); ++k) out += (k ? "," : "") + f[k];
    out += "\n";
  }
  return out;
}

TEST(EndToEndKitti, TheBundledKittiSequenceGivesTheFootagesOutputsNumberedFromZero) {
  const tavo_test::scratch_dir scratch;
  const fs::path m = scratch.path() / "m", k = scratch.path() / "k";
  const std::string kitti = (kExamples / "dataset/kitti").string();
  tavo_test::child_result r[2];
  for (const fs::path& d : {m, k}) {
    fs::create_directories(d);
    std::vector<std::string> args = {
        "--csv",        (d / "t.csv").string(), "--encounters", (d / "e.csv").string(),
        "--detections", (d / "det").string(),   "--overlay",    (d / "o").string(),
        "--quiet"};
    const std::vector<std::string> in =
        d == m ? std::vector<std::string>{"--tracks", (kExamples / "footage/tracks.txt").string(),
                                          "--frames", (kExamples / "footage").string()}
               : std::vector<std::string>{"--format", "kitti",
                                          "--tracks", kitti + "/label_02/0000.txt",
                                          "--frames", kitti + "/image_02/0000"};
    args.insert(args.begin(), in.begin(), in.end());
    r[d == k] = trackvideo_run(args);
    ASSERT_EQ(r[d == k].status, 0) << r[d == k].err;
  }
  EXPECT_EQ(r[1].out, r[0].out);  // the report numbers frames from 0 in both
  EXPECT_EQ(file_text(k / "t.csv"), earlier(file_text(m / "t.csv"), {0}));
  EXPECT_EQ(file_text(k / "e.csv"), earlier(file_text(m / "e.csv"), {2, 3, 6}));
  EXPECT_EQ(file_text(k / "det/objects_info_h2_0.txt"), file_text(m / "det/objects_info_h2_1.txt"));
  EXPECT_TRUE(fs::exists(k / "det/objects_info_h4_29.txt"));
  EXPECT_FALSE(fs::exists(k / "det/objects_info_h4_30.txt"));
  EXPECT_TRUE(fs::exists(k / "o/frame_000000.png"));
  EXPECT_FALSE(fs::exists(k / "o/frame_000030.png"));
}

TEST(EndToEndKitti, BadRowsAndOptionsFailInOneLineAndWriteNothing) {
  const tavo_test::scratch_dir scratch;
  const std::string good = "0 1 Car" + kMid + "1 1 9 9" + k3d + "\n", file = "k.txt";
  const struct {
    std::string second_row, error;
  } cases[] = {
      {"1 1 Car" + kMid + "1 1 9" + k3d,
       "k.txt:2: a KITTI row has 17 fields (18 with a score), found 16"},
      {"1 1 Bus" + kMid + "1 1 9 9" + k3d, "k.txt:2: type 'Bus' is not a KITTI type (Car, Van,"},
      {"-1 1 Car" + kMid + "1 1 9 9" + k3d, "k.txt:2: frame '-1' is not a frame number"},
      {"30 1 Car" + kMid + "1 1 9 9" + k3d, "k.txt:2: frame 30 is beyond the 30 images of "},
      {"1 1 Car" + kMid + "9 1 1 9" + k3d, "k.txt:2: the box's right or bottom edge lies before"},
      {"1 -1 Car" + kMid + "1 1 9 9" + k3d, "k.txt:2: id -1: trackvideo needs track ids"},
  };
  for (const auto& c : cases) {
    tavo_test::write_file(scratch.path() / file, good + c.second_row + "\n");
    tavo_test::child_options in;
    in.dir = scratch.path().string();
    const auto r =
        tavo_test::run_child({TRACKVIDEO_EXE, "--format", "kitti", "--tracks", file, "--frames",
                              (kExamples / "footage").string(), "--csv", "t.csv"},
                             in);
    EXPECT_EQ(r.status, 1) << c.second_row;
    EXPECT_EQ(r.err.rfind("trackvideo: " + c.error, 0), 0u) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_FALSE(fs::exists(scratch.path() / "t.csv"));
  }
  for (const char* other : {"--sequence", "--video"})
    EXPECT_EQ(trackvideo_run({"--format", "kitti", "--tracks", file, other, "x"}).status, 2);
  EXPECT_EQ(trackvideo_run({"--format", "kit", "--tracks", file, "--frames", "x"}).status, 2);
}

}  // namespace
