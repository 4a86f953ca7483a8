// Tests of trackvideo's encounters: runs of frames on hand-made pairs (gaps,
// a pair that meets twice, ties, order), the starts and ends of tracks near
// them, and --encounters end to end against the --csv table of the same run.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <filesystem>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "tests/child.h"
#include "trackvideo/sinks/encounters.h"

namespace fs = std::filesystem;
using namespace trackvideo;

namespace {

// Objects 0..3 with ids 3, 4, 5, 9, present in frames [1, 20], [1, 30],
// [5, 12] and [15, 30].
tracks four_tracks() {
  tracks t;
  t.ids = {3, 4, 5, 9};
  const int span[4][2] = {{1, 20}, {1, 30}, {5, 12}, {15, 30}};
  for (int f = 1; f <= 30; ++f)
    for (int q = 0; q < 4; ++q)
      if (f >= span[q][0] && f <= span[q][1]) t.boxes.push_back({f, q, 0, 0, 0, 0, 9, 9});
  t.last_frame = 30;
  return t;
}

track_box box(int frame, int object) {
  return {frame, object, 0, 0, 0, 0, 9, 9};
}

std::string table(const std::vector<encounter>& encounters) {
  std::string out;
  for (const encounter& e : encounters) append_encounter_row(out, e);
  return out;
}

TEST(Encounters, RunsOfFramesWithinTheGapTheirClosestMeasuresAndOrder) {
  const tracks t = four_tracks();
  // Objects 0 and 2 meet in frames 5-7, 9 and 12; objects 1 and 2 in frame 5
  // (fed first: the order comes from the finder); 0 and 3 in 15-16.
  const auto feed = [&t](int gap) {
    encounter_finder finder(t, gap, 2);
    finder.add(5, box(5, 1), box(5, 2), 70, 0.1, 0.5, 0.4);
    const struct {
      int frame;
      long long l1;
      double iou, hist_l1, hellinger;
    } pairs[] = {{5, 40, 0.2, 0.9, 0.3}, {5, 30, 0.1, 0.8, 0.5}, {6, 30, 0.6, 0.7, 0.6},
                 {7, 50, 0.3, 0.2, 0.2}, {9, 20, 0.1, 0.3, 0.1}, {12, 60, 0.0, 0.4, 0.7}};
    for (const auto& p : pairs)
      finder.add(p.frame, box(p.frame, 0), box(p.frame, 2), p.l1, p.iou, p.hist_l1, p.hellinger);
    finder.add(15, box(15, 0), box(15, 3), 10, 0.9, 0.1, 0.1);
    finder.add(16, box(16, 0), box(16, 3), 10, 0.8, 0.1, 0.1);
    return table(finder.finish());
  };
  EXPECT_EQ(feed(0),
            "3,5,5,7,3,30,5,0.600000,0.200000,0.200000,0,0,1,0,0\n"
            "4,5,5,5,1,70,5,0.100000,0.500000,0.400000,0,0,1,0,0\n"
            "3,5,9,9,1,20,9,0.100000,0.300000,0.100000,0,0,0,0,0\n"
            "3,5,12,12,1,60,12,0.000000,0.400000,0.700000,0,0,0,1,0\n"
            "3,9,15,16,2,10,15,0.900000,0.100000,0.100000,0,0,1,0,0\n");
  EXPECT_EQ(feed(1),
            "3,5,5,9,4,20,9,0.600000,0.200000,0.100000,0,0,1,0,0\n"
            "4,5,5,5,1,70,5,0.100000,0.500000,0.400000,0,0,1,0,0\n"
            "3,5,12,12,1,60,12,0.000000,0.400000,0.700000,0,0,0,1,0\n"
            "3,9,15,16,2,10,15,0.900000,0.100000,0.100000,0,0,1,0,0\n");
  EXPECT_EQ(feed(2).substr(0, feed(2).find('\n')),
            "3,5,5,12,5,20,9,0.600000,0.200000,0.100000,0,0,1,1,0");
}

TEST(Encounters, StartsAndEndsWithinNearOfTheRunAndTheBoxesOfTheClosestPair) {
  const tracks t = four_tracks();
  const struct {
    int near;
    const char* flags;  // a_starts, a_ends, b_starts, b_ends of 0 and 2 in 8-10
  } cases[] = {{0, "0000"}, {1, "0000"}, {2, "0001"}, {3, "0011"}, {7, "1011"}, {10, "1111"}};
  for (const auto& c : cases) {
    encounter_finder finder(t, 0, c.near);
    track_box a = box(8, 0), b = box(8, 2);
    finder.add(8, a, b, 50, 0, 0, 0);
    a.x2 = 5;
    finder.add(9, a, box(9, 2), 20, 0, 0, 0);
    finder.add(10, box(10, 0), box(10, 2), 20, 0, 0, 0);  // a tie: the first frame stays
    const std::vector<encounter> e = finder.finish();
    ASSERT_EQ(e.size(), 1u);
    const std::string flags = {char('0' + e[0].a_starts), char('0' + e[0].a_ends),
                               char('0' + e[0].b_starts), char('0' + e[0].b_ends)};
    // Object 0: frames 1-20 (starts 7 before, ends 10 after); object 2: 5-12
    // (starts 3 before, ends 2 after).
    EXPECT_EQ(flags, c.flags) << "near " << c.near;
    EXPECT_EQ(e[0].min_l1_frame, 9);
    EXPECT_EQ(e[0].box_a.x2, 5);
    EXPECT_EQ(e[0].at_risk(), flags != "0000");
  }
}

// The drawing's risky runs are exactly the at-risk encounters' runs, with the
// other runs forgotten as they close (random pairs, gaps 0 to 3, near 0 to 5).
TEST(Encounters, RiskyRunsAreTheAtRiskEncountersOfTheFinder) {
  const tracks t = four_tracks();
  std::mt19937 random(5);
  for (int round = 0; round < 40; ++round) {
    const int gap = int(random() % 4), near = int(random() % 6);
    encounter_finder finder(t, gap, near);
    risky_runs risky(t, gap, near);
    for (int f = 1; f <= 30; ++f)
      for (int a = 0; a < 4; ++a)
        for (int b = a + 1; b < 4; ++b)
          if (random() % 3 == 0) {
            finder.add(f, box(f, a), box(f, b), 1, 0, 0, 0);
            risky.add(f, a, b);
          }
    risky.finish();
    const std::vector<encounter> all = finder.finish();
    std::size_t at_risk = 0;
    for (int f = 1; f <= 30; ++f)
      for (int a = 0; a < 4; ++a)
        for (int b = a + 1; b < 4; ++b) {
          bool expected = false;
          for (const encounter& e : all)
            expected = expected || (e.object_a == a && e.object_b == b && e.at_risk() &&
                                    f >= e.first_frame && f <= e.last_frame);
          EXPECT_EQ(risky.contains(f, a, b), expected)
              << "round " << round << " frame " << f << " objects " << a << "," << b;
        }
    for (const encounter& e : all) at_risk += e.at_risk();
    EXPECT_EQ(risky.size(), at_risk) << "round " << round;
  }
}

std::vector<std::vector<std::string>> csv_rows(const std::string& text) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream lines(text);
  std::string line;
  std::getline(lines, line);  // the header
  while (std::getline(lines, line)) {
    rows.emplace_back();
    std::istringstream fields(line);
    for (std::string f; std::getline(fields, f, ',');) rows.back().push_back(f);
  }
  return rows;
}

// Every pair of the table lies in exactly one encounter of its two tracks,
// whose figures are those of its pairs.
TEST(EndToEndTrackvideoEncounters, EveryPairOfTheTableInOneEncounterWithItsFigures) {
  const tavo_test::scratch_dir tmp;
  const fs::path footage = fs::path(TAVO_EXAMPLES_DIR) / "footage";
  const fs::path csv = tmp.path() / "pairs.csv", enc = tmp.path() / "enc.csv";
  const auto r = tavo_test::run_child({TRACKVIDEO_EXE, "--tracks", (footage / "tracks.txt").string(),
                                       "--frames", footage.string(), "--csv", csv.string(),
                                       "--encounters", enc.string(), "--gap", "2", "--radius",
                                       "60", "--html", (tmp.path() / "page").string()});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string text = tavo_test::file_text(enc);
  ASSERT_EQ(text.substr(0, text.find('\n') + 1), kEncountersHeader);
  const auto encounters = csv_rows(text);
  ASSERT_GE(encounters.size(), 2u);
  std::map<std::tuple<std::string, std::string, int>, int> owner;  // (id_a, id_b, frame) -> row
  for (std::size_t k = 0; k < encounters.size(); ++k) {
    const auto& e = encounters[k];
    ASSERT_EQ(e.size(), 15u);
    EXPECT_EQ(e[14], "0");  // switches: no ground truth
    long long min_l1 = LLONG_MAX;
    int min_frame = 0, frames = 0, last_seen = 0;
    double max_iou = -1, min_hist = 1e9, min_hellinger = 1e9;
    for (const auto& p : csv_rows(tavo_test::file_text(csv))) {
      const int f = std::stoi(p[0]);
      if (p[1] != e[0] || p[3] != e[1] || f < std::stoi(e[2]) || f > std::stoi(e[3])) continue;
      EXPECT_TRUE(owner.emplace(std::make_tuple(p[1], p[3], f), int(k)).second ||
                  owner[std::make_tuple(p[1], p[3], f)] == int(k));
      if (f != last_seen) ++frames;
      last_seen = f;
      if (std::stoll(p[5]) < min_l1) {
        min_l1 = std::stoll(p[5]);
        min_frame = f;
      }
      max_iou = std::max(max_iou, std::stod(p[15]));
      min_hist = std::min(min_hist, std::stod(p[6]));
      min_hellinger = std::min(min_hellinger, std::stod(p[16]));
    }
    EXPECT_EQ(std::stoi(e[4]), frames) << k;
    EXPECT_EQ(std::stoll(e[5]), min_l1) << k;
    EXPECT_EQ(std::stoi(e[6]), min_frame) << k;
    EXPECT_DOUBLE_EQ(std::stod(e[7]), max_iou) << k;
    EXPECT_DOUBLE_EQ(std::stod(e[8]), min_hist) << k;
    EXPECT_DOUBLE_EQ(std::stod(e[9]), min_hellinger) << k;
    if (k > 0) {
      EXPECT_LE(std::stoi(encounters[k - 1][2]), std::stoi(e[2]));
    }
  }
  std::map<std::tuple<std::string, std::string, int>, int> all;
  for (const auto& p : csv_rows(tavo_test::file_text(csv)))
    all.emplace(std::make_tuple(p[1], p[3], std::stoi(p[0])), 0);
  EXPECT_EQ(owner.size(), all.size());

  // The page: a thumbnail per encounter, each one there, and nothing else.
  const std::string page = tavo_test::file_text(tmp.path() / "page" / "index.html");
  std::size_t images = 0;
  for (const auto& e : encounters) {
    const std::string name = "enc_" + e[0] + "_" + e[1] + "_" + e[2] + ".png";
    EXPECT_NE(page.find("src=\"" + name + "\""), std::string::npos) << name;
    EXPECT_GT(fs::file_size(tmp.path() / "page" / name), 0u) << name;
  }
  for (const auto& entry : fs::directory_iterator(tmp.path() / "page"))
    images += entry.path().extension() == ".png";
  EXPECT_EQ(images, encounters.size());

  // With at most one thumbnail: the riskiest encounter's alone, and the page
  // says how many rows have none.
  const fs::path capped = tmp.path() / "capped";
  const auto one = tavo_test::run_child({TRACKVIDEO_EXE, "--tracks",
                                         (footage / "tracks.txt").string(), "--frames",
                                         footage.string(), "--gap", "2", "--radius", "60",
                                         "--html", capped.string(), "--thumbnails", "1"});
  ASSERT_EQ(one.status, 0) << one.err;
  std::vector<fs::path> pictures;
  for (const auto& entry : fs::directory_iterator(capped))
    if (entry.path().extension() == ".png") pictures.push_back(entry.path().filename());
  ASSERT_EQ(pictures.size(), 1u);
  const std::string short_page = tavo_test::file_text(capped / "index.html");
  EXPECT_NE(short_page.find("src=\"" + pictures[0].string() + "\""), std::string::npos);
  const std::size_t left = encounters.size() - 1;
  EXPECT_NE(short_page.find(std::to_string(left) + (left == 1 ? " encounter has" : " encounters have") +
                            " no picture"),
            std::string::npos);

  // Its video beside it, unless --html-no-video.
  EXPECT_GT(fs::file_size(tmp.path() / "page" / "overlay.mp4"), 0u);
  EXPECT_NE(page.find("<video id=\"overlay\" src=\"overlay.mp4\""), std::string::npos);
  const fs::path bare = tmp.path() / "bare";
  ASSERT_EQ(tavo_test::run_child({TRACKVIDEO_EXE, "--tracks", (footage / "tracks.txt").string(),
                                  "--frames", footage.string(), "--html", bare.string(),
                                  "--html-no-video"})
                .status,
            0);
  EXPECT_FALSE(fs::exists(bare / "overlay.mp4"));
  EXPECT_EQ(tavo_test::file_text(bare / "index.html").find("<video"), std::string::npos);
}

}  // namespace
