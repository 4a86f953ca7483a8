// Tests of KITTI tracking files: --format kitti end to end against the same
// boxes as MOT rows, and its refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "tests/child.h"

namespace fs = std::filesystem;
using tavo_test::file_text;

namespace {

const fs::path kExamples = TAVO_EXAMPLES_DIR;
const std::string kMid = " 0 0 -10 ", k3d = " -1 -1 -1 -1000 -1000 -1000 -10";

tavo_test::child_result trackvideo_run(std::vector<std::string> args) {
  args.insert(args.begin(), TRACKVIDEO_EXE);
  return tavo_test::run_child(args);
}

// `text`'s lines after the header with 1 taken from each column of `columns`.
std::string earlier(const std::string& text, std::vector<int> columns) {
  std::istringstream in(text);
  std::string out, line;
  for (bool header = true; std::getline(in, line); header = false) {
    std::istringstream cells(line);
    std::string cell;
    for (int c = 0; std::getline(cells, cell, ','); ++c) {
      const bool shift = !header && std::count(columns.begin(), columns.end(), c);
      out += (c ? "," : "") + (shift ? std::to_string(std::stoi(cell) - 1) : cell);
    }
    out += "\n";
  }
  return out;
}

TEST(EndToEndKitti, TheBundledKittiSequenceGivesTheFootagesOutputsNumberedFromZero) {
  const tavo_test::scratch_dir scratch;
  const fs::path m = scratch.path() / "m", k = scratch.path() / "k";
  const std::string kitti = (kExamples / "dataset/kitti").string();
  tavo_test::child_result r[2];
  const std::vector<std::string> in[2] = {
      {"--tracks", (kExamples / "footage/tracks.txt").string(), "--frames",
       (kExamples / "footage").string()},
      {"--format", "kitti", "--tracks", kitti + "/label_02/0000.txt", "--frames",
       kitti + "/image_02/0000"}};
  for (const fs::path& d : {m, k}) {
    fs::create_directories(d);
    std::vector<std::string> args = in[d == k];
    for (const std::string o :
         {"--csv=t.csv", "--encounters=e.csv", "--detections=det", "--overlay=o", "--html=p"})
      args.push_back(o.substr(0, o.find('=') + 1) + (d / o.substr(o.find('=') + 1)).string());
    args.push_back("--html-no-video");
    r[d == k] = trackvideo_run(args);
    ASSERT_EQ(r[d == k].status, 0) << r[d == k].err;
  }
  EXPECT_EQ(r[1].out, r[0].out);  // the report numbers frames from 0 in both
  EXPECT_EQ(r[1].err, "trackvideo: " + kitti +
                          "/label_02/0000.txt: 12 rows ignored (6 DontCare, 6 of other types)\n");
  EXPECT_EQ(file_text(k / "t.csv"), earlier(file_text(m / "t.csv"), {0}));
  EXPECT_EQ(file_text(k / "e.csv"), earlier(file_text(m / "e.csv"), {2, 3, 6}));
  EXPECT_EQ(file_text(k / "det/objects_info_h2_0.txt"), file_text(m / "det/objects_info_h2_1.txt"));
  EXPECT_TRUE(fs::exists(k / "det/objects_info_h4_29.txt") &&
              !fs::exists(k / "det/objects_info_h4_30.txt"));
  EXPECT_TRUE(fs::exists(k / "o/frame_000000.png") && !fs::exists(k / "o/frame_000030.png"));
  // The page's viewer and timeline number frames as its table does.
  EXPECT_NE(file_text(k / "p/index.html").find("data-first=\"0\" data-last=\"29\">"),
            std::string::npos);
  EXPECT_NE(file_text(m / "p/index.html").find("data-first=\"1\" data-last=\"30\">"),
            std::string::npos);
}

TEST(EndToEndKitti, BadRowsAndOptionsFailInOneLineAndWriteNothing) {
  const tavo_test::scratch_dir scratch;
  // Types in any case, a score, CRLF and blank lines: the bad row is line 3.
  const std::string good = "0 1 car" + kMid + "1.4 1 9.6 9" + k3d + " 0.5\r\n\n", file = "k.txt";
  const struct {
    std::string second_row, error;
  } cases[] = {
      {"1 1 Car" + kMid + "1 1 9" + k3d,
       "k.txt:3: a KITTI row has 17 fields (18 with a score), found 16"},
      {"1 1 Bus" + kMid + "1 1 9 9" + k3d, "k.txt:3: type 'Bus' is not a KITTI type (Car, Van,"},
      {"-1 1 Car" + kMid + "1 1 9 9" + k3d, "k.txt:3: frame '-1' is not a frame number"},
      {"30 1 Car" + kMid + "1 1 9 9" + k3d, "k.txt:3: frame 30 is beyond the 30 images of "},
      {"1 1 Car" + kMid + "9 1 1 9" + k3d, "k.txt:3: the box's right or bottom edge lies before"},
      {"1 -1 Car" + kMid + "1 1 9 9" + k3d, "k.txt:3: id -1: trackvideo needs track ids"},
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
