// tests/test_evaluation_run.cpp - a run's evaluation end to end, with and
// without frames; its usage errors and refused input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/child.h"

namespace fs = std::filesystem;
using tavo_test::file_text;
using tavo_test::run_child;

namespace {

const fs::path kDataset = fs::path(TAVO_EXAMPLES_DIR) / "dataset" / "footage-01";

std::vector<std::string> fields(const std::string& line) {
  std::vector<std::string> out;
  std::stringstream in(line);
  for (std::string f; std::getline(in, f, ',');) out.push_back(f);
  return out;
}

// The column `name` of row k (0 the header) of a table's text.
std::string cell(const std::string& table, std::size_t k, const std::string& name) {
  std::vector<std::vector<std::string>> t;
  std::stringstream in(table);
  for (std::string line; std::getline(in, line);) t.push_back(fields(line));
  for (std::size_t c = 0; c < t[0].size(); ++c)
    if (t[0][c] == name && k < t.size()) return t[k][c];
  return "?";
}

// The bundled sequence with ground truth the official evaluation accepts
// (its gt.txt has several rows per id and frame: only the first is kept),
// and a tracker's results: the pedestrians of that ground truth with ids 2
// and 3 swapped from frame 15 on.
struct swapped_sequence {
  tavo_test::scratch_dir tmp;
  fs::path seq = tmp.path() / "seq", results = tmp.path() / "results.txt";

  swapped_sequence() {
    fs::create_directories(seq / "gt");
    fs::copy(kDataset / "img1", seq / "img1");  // the frames themselves, not their links
    fs::copy_file(kDataset / "seqinfo.ini", seq / "seqinfo.ini");
    std::set<std::pair<int, int>> seen;
    std::string gt, tracker;
    std::stringstream in(file_text(kDataset / "gt" / "gt.txt"));
    for (std::string line; std::getline(in, line);) {
      const std::vector<std::string> f = fields(line);
      const int frame = std::stoi(f[0]), id = std::stoi(f[1]);
      if (!seen.emplace(frame, id).second) continue;
      gt += line + "\n";
      if (f[6] == "0" || f[7] != "1") continue;
      const int swapped = frame < 15 ? id : id == 2 ? 3 : id == 3 ? 2 : id;
      tracker += f[0] + "," + std::to_string(swapped) + "," + f[2] + "," + f[3] + "," + f[4] + "," +
                 f[5] + ",1,-1,-1,-1\n";
    }
    tavo_test::write_file(seq / "gt" / "gt.txt", gt);
    tavo_test::write_file(results, tracker);
  }
};

tavo_test::child_result trackvideo(std::vector<std::string> args) {
  args.insert(args.begin(), TRACKVIDEO_EXE);
  return run_child(args);
}

}  // namespace

TEST(EndToEndEvaluation, TwoSwappedIdsScoredWithTheirMeetingWithOrWithoutFrames) {
  swapped_sequence s;
  const std::string results = s.results.string();
  const fs::path m = s.tmp.path() / "m", e = s.tmp.path() / "e", enc = s.tmp.path() / "enc";
  const auto r = trackvideo({"--sequence", s.seq.string(), "--tracks", results, "--metrics",
                             m.string(), "--events", e.string(), "--encounters", enc.string()});
  ASSERT_EQ(r.status, 0) << r.err;
  // The four pedestrians' 120 boxes (30 frames each) all matched, two switches;
  // ids 1 and 4 whole, 2 and 3 each 16 of 30 frames under one id. HOTA's
  // association: 1 for 1 and 4, 14 / (60 - 14) and 16 / (60 - 16) swapped.
  const double mota = (120.0 - 2) / 120, idf1 = (60.0 + 32) / 120;
  const double ass_a = (60 + 2 * (14 * 14 / 46.0 + 16 * 16 / 44.0)) / 120;
  const std::string t = file_text(m);
  for (const auto& [name, v] :
       {std::pair{"MOTA", mota}, {"IDF1", idf1}, {"HOTA", std::sqrt(ass_a)}})
    EXPECT_NEAR(std::stod(cell(t, 1, name)), v, 1e-12) << name;
  EXPECT_EQ(cell(t, 1, "sequence") + "," + cell(t, 1, "IDSW") + "," + cell(t, 1, "CLR_TP") + "," +
                cell(t, 1, "GT_IDs"),
            "footage-01,2,120,4");
  // Both switches at frame 15, where the two tracks had met since frame 1.
  const std::string events = file_text(e);
  EXPECT_EQ(events.substr(events.find('\n') + 1),
            "15,switch,2,3,2,14,1,meeting,2_3_1\n15,switch,3,2,3,14,1,meeting,2_3_1\n");
  // The encounter named (first in the table) counts both switches.
  const std::string en = file_text(enc);
  EXPECT_EQ(cell(en, 1, "id_a") + cell(en, 1, "id_b") + cell(en, 1, "switches"), "232");
  EXPECT_EQ(cell(en, 2, "switches"), "0");
  // 100 sqrt(AssA) = 81.73, 100 x 118 / 120 = 98.33, 100 x 92 / 120 = 76.67.
  EXPECT_EQ(r.err,
            "trackvideo: HOTA 81.7 %, MOTA 98.3 %, IDF1 76.7 %, 2 identity switches (2 "
            "meeting)\n");
  // The report is the run's without evaluation; without frames (--ground-truth
  // and no frame source, or a sequence without its images) the same, and the
  // same figures, under the results' name.
  const auto plain = trackvideo({"--sequence", s.seq.string(), "--tracks", results});
  EXPECT_EQ(r.out, plain.out);
  const std::string gt = (s.seq / "gt" / "gt.txt").string(), m2 = m.string() + "2";
  const auto bare =
      trackvideo({"--tracks", results, "--ground-truth", gt, "--metrics", m2, "--quiet"});
  EXPECT_EQ(bare.err, "");  // --quiet: no summary
  EXPECT_EQ(bare.out, plain.out);
  const std::string a = file_text(m), b = file_text(m2);
  EXPECT_EQ(b.substr(b.find('\n') + 1, 8), "results,");
  EXPECT_EQ(a.substr(a.find(',', a.find('\n'))), b.substr(b.find(',', b.find('\n'))));
  fs::remove_all(s.seq / "img1");
  const auto imageless =
      trackvideo({"--sequence", s.seq.string(), "--tracks", results, "--metrics", m2, "--quiet"});
  EXPECT_EQ(imageless.out, plain.out);
  EXPECT_EQ(file_text(m2), a);
  // Usage errors, then ground truth the official evaluation refuses.
  const std::string q = s.seq.string(), m3 = m.string() + "3";
  for (const auto& [args, message] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"--sequence", q, "--metrics", m3}, "--metrics scores a tracker's results"},
           {{"--tracks", results, "--events", m3}, "--events needs ground truth"},
           {{"--tracks", results, "--ground-truth", gt, "--metrics", m3, "--csv", m3},
            "--csv needs the"},
           {{"--tracks", results, "--ground-truth", gt, "--frames", q}, "--ground-truth goes with"},
           {{"--sequence", q, "--tracks", results, "--metrics", m3, "--benchmark", "MOT16"},
            "--benchmark 'MOT16'"},
           {{"--sequence", q, "--tracks", results, "--metrics", m3, "--gt"},
            "--metrics scores a tracker's results: --gt"}}) {
    const auto u = trackvideo(args);
    EXPECT_EQ(u.status, 2) << message;
    EXPECT_EQ(u.err.find("trackvideo: " + message), 0u) << u.err;
  }
  // The bundled ground truth repeats ids within a frame, which the official
  // evaluation refuses: one line naming file and line, nothing written.
  const auto refused =
      trackvideo({"--sequence", kDataset.string(), "--tracks", results, "--metrics", m3});
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.err.find('\n'), refused.err.size() - 1) << refused.err;
  EXPECT_NE(refused.err.find("gt.txt:2: "), std::string::npos) << refused.err;
  EXPECT_FALSE(fs::exists(m3));
  // The results wrong too (read while the evaluation works on a thread of
  // its own): their line, as when the two were read in turn.
  const fs::path bad = s.tmp.path() / "bad.txt";
  tavo_test::write_file(bad, "1,1,10,10,5,5,1,-1,-1,-1\n1,x,10,10,5,5,1,-1,-1,-1\n");
  const auto both = trackvideo({"--sequence", kDataset.string(), "--tracks", bad.string(),
                                "--metrics", m3, "--threads", "2"});
  EXPECT_EQ(both.err.find("trackvideo: " + bad.string() + ":2: id 'x'"), 0u) << both.err;
}

TEST(EndToEndEvaluation, KittiClassesScoredApartWithTheirDistractorsAndRefusedRows) {
  // Three frames (images 0, 1, 2). Ground truth: car 1 in every frame; van 2
  // in 0 and 1; pedestrian 3 in 0 and 2 visible, in 1 occluded 3 (hidden);
  // a DontCare area in 0 and 1. Results: car 10 on car 1 in 0 and 1, car 14
  // on it in 2 (a switch); car 11 on the van (removed); car 12 inside the
  // DontCare area (removed); car 13 20 pixels high (removed), car 15 60 high
  // (a false positive); pedestrian 20 on pedestrian 3 (removed in 1).
  // Car: 3 TP, 1 FP, 1 IDSW, MOTA (3 - 1 - 1) / 3; IDF1 2·2 / (3 + 4), car 1
  // and 10 sharing 2 frames; DetA 3/4, AssA (2·2/3 + 1·1/3) / 3 = 5/9 (every
  // overlap 1). Pedestrian: 2 TP, nothing else, every score 1.
  tavo_test::scratch_dir tmp;
  const fs::path images = tmp.path() / "image_02", gt = tmp.path() / "gt.txt",
                 res = tmp.path() / "0000.txt", m = tmp.path() / "m", e = tmp.path() / "e";
  fs::create_directories(images);
  for (const char* name : {"000000.png", "000001.png", "000002.png"})
    tavo_test::write_file(images / name, "");  // an evaluation alone reads no pixel
  const auto rows = [](const std::string& text, const std::string& score) {
    std::string out, line;
    std::stringstream in(text);
    while (std::getline(in, line)) out += line + " 1.5 1.6 3.9 1 1 10 0.1" + score + "\n";
    return out;
  };
  const std::string truth = rows(
      "0 1 Car 0 0 0 100 100 200 200\n0 2 Van 0 0 0 300 100 400 200\n"
      "0 3 Pedestrian 0 0 0 500 100 540 200\n0 -1 DontCare -1 -1 -10 0 300 200 400\n"
      "1 1 Car 0 0 0 100 100 200 200\n1 2 Van 0 0 0 300 100 400 200\n"
      "1 3 Pedestrian 0 3 0 500 100 540 200\n1 -1 DontCare -1 -1 -10 0 300 200 400\n"
      "2 1 Car 0 0 0 100 100 200 200\n2 3 Pedestrian 0 0 0 500 100 540 200",
      "");
  const std::string results = rows(
      "0 10 Car 0 0 0 100 100 200 200\n0 11 Car 0 0 0 300 100 400 200\n"
      "0 12 Car 0 0 0 50 310 150 390\n0 20 Pedestrian 0 0 0 500 100 540 200\n"
      "1 10 Car 0 0 0 100 100 200 200\n1 13 Car 0 0 0 600 100 700 120\n"
      "1 20 Pedestrian 0 0 0 500 100 540 200\n2 14 Car 0 0 0 100 100 200 200\n"
      "2 15 Car 0 0 0 600 100 700 160\n2 20 Pedestrian 0 0 0 500 100 540 200",
      " 0.9");
  tavo_test::write_file(gt, truth);
  tavo_test::write_file(res, results);
  const std::vector<std::string> args = {
      "--format",  "kitti",    "--tracks",       res.string(), "--frames", images.string(),
      "--metrics", m.string(), "--ground-truth", gt.string(),  "--events", e.string()};
  const auto r = trackvideo(args);
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string t = file_text(m);
  EXPECT_EQ(cell(t, 1, "sequence") + " " + cell(t, 2, "sequence"), "0000/car 0000/pedestrian");
  for (const auto& [name, v] :
       {std::pair{"MOTA", 1.0 / 3}, {"IDF1", 4.0 / 7}, {"HOTA", std::sqrt(3.0 / 4 * 5 / 9)}})
    EXPECT_NEAR(std::stod(cell(t, 1, name)), v, 1e-12) << name;
  std::string counts;
  for (const char* name : {"CLR_TP", "CLR_FP", "IDSW", "Dets", "IDs"})
    counts += cell(t, 1, name) + "," + cell(t, 2, name) + " ";
  EXPECT_EQ(counts, "3,2 1,0 1,0 4,2 3,1 ");
  EXPECT_EQ(cell(t, 2, "HOTA") + cell(t, 2, "MOTA"), "11");
  const std::string events = file_text(e);
  EXPECT_EQ(events.substr(0, events.find(',')), "class");
  EXPECT_EQ(events.substr(events.find('\n') + 1, 22), "car,2,switch,1,14,10,1");
  // Refused rows, in either file: one line, status 1, nothing written.
  fs::remove(m);
  fs::remove(e);
  const std::pair<fs::path, std::string> bad[] = {
      {gt, truth + "3 1 Car 0 0 0 1 1 9 9 0 0 0 0 0 0 0\n"},
      {gt, truth + "2 4 Car 0 0 0 1 1 9 9 0 0 0 0 0 0\n"},
      {res, results + "2 30 Car 0 0 0 9 1 1 9 0 0 0 0 0 0 0\n"},
      {res, "0 7 Car 0 0 0 1 1 9 99 0 0 0 0 0 0 0\n" + results +
                "0 7 Car 0 0 0 1 1 9 99 0 0 0 0 0 0 0\n"}};
  const char* const said[] = {":11: frame 3 is beyond the 3 images of", ":11: a KITTI row has 17",
                              ":11: the box's right",
                              ":12: id 7 is in frame 0 twice (also on line 1)"};
  for (std::size_t k = 0; k < std::size(bad); ++k) {
    tavo_test::write_file(bad[k].first, bad[k].second);
    const auto f = trackvideo(args);
    EXPECT_EQ(f.status, 1);
    EXPECT_NE(f.err.find(bad[k].first.string() + said[k]), std::string::npos) << f.err;
    EXPECT_EQ(std::count(f.err.begin(), f.err.end(), '\n'), 1) << f.err;
    EXPECT_FALSE(fs::exists(m) || fs::exists(e));
    tavo_test::write_file(gt, truth);
    tavo_test::write_file(res, results);
  }
}
