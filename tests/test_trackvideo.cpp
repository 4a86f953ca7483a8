// trackvideo: frame order, table rows, progress and histogram distances called
// directly (the tracks file and the command line have test_tracks and
// test_options); the program end to end on the bundled footage
// against the project's own histfeat and trackpair run on the same boxes, its
// pictures reopened with OpenCV, and every kind of bad input.

#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <climits>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <tuple>

#include "tests/child.h"
#include "trackvideo/base/failure.h"
#include "trackvideo/input/frame_source.h"
#include "trackvideo/pipeline/measures.h"
#include "trackvideo/run/options.h"
#include "trackvideo/run/run.h"
#include "trackvideo/sinks/progress.h"
#include "trackvideo/pipeline/table.h"
#include "histfeat/record.h"
#include "trackpair/trackpair_core.h"

namespace fs = std::filesystem;
using namespace trackvideo;
using tavo_test::child_options;
using tavo_test::file_text;
using tavo_test::run_child;

namespace {

const fs::path kFootage = fs::path(TAVO_EXAMPLES_DIR) / "footage";
const fs::path kTracks = kFootage / "tracks.txt";

struct scratch : tavo_test::scratch_dir {
  const fs::path root = path();
};

std::vector<std::string> words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> w;
  for (std::string s; in >> s;) w.push_back(s);
  return w;
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

}  // namespace

// ---- table and progress ---------------------------------------------------------

TEST(TrackvideoTable, RowFromCornersDetsFromOneAndSixDecimals) {
  std::string out;
  append_pair_row(out, 3, 4, track_box{3, 0, 0, 1, 10, 20, 29, 59}, 12,
                  track_box{3, 1, 2, 1, -3, -4, -3, -4}, 77, 0.1234567f, 0.0, 0.9999996);
  EXPECT_EQ(out, "3,4,1,12,3,77,0.123457,10,20,20,40,-3,-4,1,1,0.000000,1.000000\n");
  out.clear();
  append_pair_row(out, 1, 0, track_box{1, 0, 0, 1, INT_MIN, INT_MIN, INT_MAX, INT_MAX}, 1,
                  track_box{1, 1, 0, 1, 0, 0, 0, 0}, 0, 0.0f, 0.25, 0.1234564);
  EXPECT_EQ(out,
            "1,0,1,1,1,0,0.000000,-2147483648,-2147483648,4294967296,4294967296,0,0,1,1,0.250000,"
            "0.123456\n");
  EXPECT_EQ(std::string(kCsvHeader),
            "frame,id_a,det_a,id_b,det_b,l1,hist_l1,left_a,top_a,width_a,height_a,left_b,top_b,"
            "width_b,height_b,iou,hist_hellinger\n");
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

TEST(TrackvideoHistDistance, FourChainsAtOnceGiveCompareHistExactly) {
  // Values as records hold them (multiples of small fractions) and arbitrary
  // floats, where a different order of additions would show in the last bits.
  std::mt19937 random(7);
  std::uniform_real_distribution<float> any(0.0f, 0.333f);
  std::vector<float> values(12 * kRecordValues);
  for (std::size_t i = 0; i < values.size(); ++i)
    values[i] = i % 3 == 0 ? float(int(i % 17)) * (0.333f / 17) : any(random);
  for (std::size_t n = 0; n <= 9; ++n) {  // every remainder of four, and none
    std::vector<std::pair<int, int>> pairs;
    for (std::size_t k = 0; k < n; ++k) pairs.emplace_back(int(random() % 12), int(random() % 12));
    std::vector<float> out;
    hist_l1_distances(values.data(), pairs, out);
    ASSERT_EQ(out.size(), n);
    for (std::size_t k = 0; k < n; ++k) {
      const float expected =
          compare_hist(&values[std::size_t(pairs[k].first) * kRecordValues],
                       &values[std::size_t(pairs[k].second) * kRecordValues], kRecordValues);
      EXPECT_EQ(out[k], expected) << n << " pairs, pair " << k;
    }
  }
}

TEST(TrackvideoFailure, AnExceptionIsOneLineAndRunningOutOfMemoryAlwaysTheSame) {
  const cv::Exception no_memory(cv::Error::StsNoMem, "Failed to allocate 8 bytes", "f", "x.cpp", 1);
  const cv::Exception cv_error(cv::Error::StsBadArg, "bad size", "f", "x.cpp", 2);
  EXPECT_EQ(failure_text(std::bad_alloc()), "out of memory");
  EXPECT_EQ(failure_text(no_memory), "out of memory");
  EXPECT_EQ(failure_text(cv_error), "bad size");  // not what()'s version, file and line
  EXPECT_EQ(failure_text(std::runtime_error("a\nb\n")), "a b");
}

// ---- end to end -------------------------------------------------------------------

namespace {

tavo_test::child_result run_trackvideo(std::vector<std::string> args, const child_options& o = {}) {
  args.insert(args.begin(), TRACKVIDEO_EXE);
  return run_child(args, o);
}

// The 64 values of record `det` (0-based) of a detection file.
std::vector<double> record_values(const fs::path& file, int det) {
  const std::vector<std::string> l = lines(file_text(file));
  const std::vector<std::string> w = words(l.at(static_cast<std::size_t>(det) + 1));
  std::vector<double> v;
  for (std::size_t i = 4; i < w.size(); ++i) v.push_back(std::stod(w[i]));
  return v;
}

// Every line of the report as (q, r, s) -> its candidates (a, b).
using candidates = std::map<std::tuple<int, int, int>, std::vector<std::pair<int, int>>>;
candidates parse_report(const std::string& report) {
  candidates c;
  for (const std::string& line : lines(report)) {
    const std::vector<std::string> w = words(line);
    auto& list = c[{std::stoi(w.at(0)), std::stoi(w.at(1)), std::stoi(w.at(2))}];
    for (std::size_t i = 3; i + 1 < w.size(); i += 2)
      list.emplace_back(std::stoi(w[i]), std::stoi(w[i + 1]));
  }
  return c;
}

void expect_one_error_line(const tavo_test::child_result& r, const std::string& what) {
  EXPECT_EQ(r.out, "") << what;
  EXPECT_EQ(r.err.rfind("trackvideo: ", 0), 0u) << what << ": " << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << what << ": " << r.err;
}

}  // namespace

TEST(EndToEndTrackvideoFootage, ReportRecordsAndTableMatchHistfeatAndTrackpair) {
  scratch s;
  const fs::path route = s.root / "route", det = s.root / "det", csv = s.root / "pairs.csv";
  const auto file_route =
      run_child({"/bin/bash", PIPELINE_SCRIPT, HISTFEAT_EXE, TRACKPAIR_EXE, route.string()});
  ASSERT_EQ(file_route.status, 0) << file_route.err;
  const auto r = run_trackvideo({"--tracks", kTracks.string(), "--frames", kFootage.string(),
                                 "--detections", det.string(), "--csv", csv.string()});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");  // not a terminal: no progress
  ASSERT_FALSE(file_route.out.empty());
  EXPECT_EQ(r.out, file_route.out);

  // Every detection file is histfeat's, byte for byte, and trackpair reads them
  // into the same report.
  int files = 0;
  for (const auto& entry : fs::directory_iterator(det)) {
    ++files;
    EXPECT_EQ(file_text(entry.path()), file_text(route / entry.path().filename()))
        << entry.path().filename();
  }
  EXPECT_EQ(files, 4 * 30);
  child_options in_det;
  in_det.dir = det.string();
  EXPECT_EQ(run_child({TRACKPAIR_EXE, "4", "30"}, in_det).out, r.out);

  // Without detection files the records' text is never made: the same table.
  const fs::path csv_alone = s.root / "alone.csv";
  ASSERT_EQ(run_trackvideo({"--tracks", kTracks.string(), "--frames", kFootage.string(), "--csv",
                            csv_alone.string()})
                .status,
            0);
  EXPECT_EQ(file_text(csv_alone), file_text(csv));

  // The table: the report's pairs (each once) from the second frame on, plus
  // those of the first; l1 from the boxes; hist_l1 from the records.
  const std::vector<std::string> rows = lines(file_text(csv));
  ASSERT_GT(rows.size(), 1u);
  EXPECT_EQ(rows[0] + "\n", kCsvHeader);
  std::set<std::tuple<int, int, int, int, int>> table_pairs, report_pairs;
  std::tuple<int, int, int, int, int> previous{0, 0, 0, 0, 0};
  int first_frame_rows = 0;
  for (std::size_t i = 1; i < rows.size(); ++i) {
    std::vector<long long> v;
    std::stringstream in(rows[i]);
    for (std::string field; std::getline(in, field, ',');)
      v.push_back(field.find('.') == std::string::npos ? std::stoll(field) : 0);
    ASSERT_EQ(v.size(), 17u) << rows[i];
    const auto key = std::make_tuple(int(v[0]), int(v[1]), int(v[2]), int(v[3]), int(v[4]));
    EXPECT_LT(previous, key) << rows[i];
    EXPECT_LT(v[1], v[3]);
    previous = key;
    long long l1 = 0;
    for (int k = 0; k < 2; ++k)  // left/top, then right/bottom from the widths
      l1 += std::llabs(v[7 + k] - v[11 + k]) +
            std::llabs(v[7 + k] + v[9 + k] - v[11 + k] - v[13 + k]);
    EXPECT_EQ(v[5], l1) << rows[i];
    EXPECT_LT(l1, 80);
    const auto name = [&](long long id) {
      return det / ("objects_info_h" + std::to_string(id) + "_" + std::to_string(v[0]) + ".txt");
    };
    const std::vector<double> a = record_values(name(v[1]), int(v[2]) - 1),
                              b = record_values(name(v[3]), int(v[4]) - 1);
    double hist_l1 = 0;
    for (std::size_t k = 0; k < 64; ++k) hist_l1 += std::fabs(a.at(k) - b.at(k));
    EXPECT_NEAR(std::stod(rows[i].substr(rows[i].find('.') - 1)), hist_l1, 2e-5) << rows[i];
    if (v[0] == 1)
      ++first_frame_rows;
    else
      table_pairs.insert(key);
  }
  for (const auto& [k, list] : parse_report(r.out))
    for (const auto& [a, b] : list)
      if (std::get<0>(k) < a)  // ids are q + 1 here
        report_pairs.insert(std::make_tuple(std::get<1>(k) + 1, std::get<0>(k) + 1,
                                            std::get<2>(k) + 1, a + 1, b + 1));
  EXPECT_FALSE(report_pairs.empty());
  EXPECT_EQ(table_pairs, report_pairs);
  EXPECT_GT(first_frame_rows, 0);
}

TEST(EndToEndTrackvideoFootage, WiderRadiusOverlayVideoAndTheVideoAsInput) {
  scratch s;
  const auto base = run_trackvideo({"--tracks", kTracks.string(), "--frames", kFootage.string()});
  ASSERT_EQ(base.status, 0) << base.err;
  const auto wide = run_trackvideo(
      {"--tracks", kTracks.string(), "--frames", kFootage.string(), "--radius", "300"});
  ASSERT_EQ(wide.status, 0) << wide.err;
  const candidates narrow_c = parse_report(base.out), wide_c = parse_report(wide.out);
  std::size_t narrow_n = 0, wide_n = 0;
  for (const auto& [k, list] : narrow_c) {
    const auto& w = wide_c.at(k);
    for (const auto& p : list) EXPECT_NE(std::find(w.begin(), w.end(), p), w.end());
    narrow_n += list.size();
    wide_n += w.size();
  }
  EXPECT_GT(wide_n, narrow_n);

  const fs::path avi = s.root / "overlay.avi", pngs = s.root / "png";
  const auto drawn = run_trackvideo({"--tracks", kTracks.string(), "--frames", kFootage.string(),
                                     "--overlay-video", avi.string(), "--overlay", pngs.string()});
  ASSERT_EQ(drawn.status, 0) << drawn.err;
  EXPECT_EQ(drawn.out, base.out);
  cv::VideoCapture video(avi.string());
  ASSERT_TRUE(video.isOpened());
  EXPECT_DOUBLE_EQ(video.get(cv::CAP_PROP_FPS), kFolderFramesPerSecond);
  int frames = 0;
  for (cv::Mat f; video.read(f); ++frames) EXPECT_EQ(f.size(), cv::Size(320, 240));
  EXPECT_EQ(frames, 30);
  for (int f = 1; f <= 30; ++f) {
    char name[32];
    std::snprintf(name, sizeof name, "frame_%06d.png", f);
    EXPECT_EQ(cv::imread((pngs / name).string()).size(), cv::Size(320, 240)) << name;
  }

  // The report depends on the boxes alone: the same from the video. A frame
  // the video lacks fails the run.
  const auto from_video = run_trackvideo({"--tracks", kTracks.string(), "--video", avi.string()});
  ASSERT_EQ(from_video.status, 0) << from_video.err;
  EXPECT_EQ(from_video.out, base.out);
  const fs::path longer = s.write("longer.txt", file_text(kTracks) + "31,1,5,5,10,10\n");
  const auto short_video = run_trackvideo({"--tracks", longer.string(), "--video", avi.string()});
  EXPECT_EQ(short_video.status, 1);
  EXPECT_NE(short_video.err.find("no frame 31"), std::string::npos) << short_video.err;
  expect_one_error_line(short_video, "video too short");
  // Memory follows the boxes, not the last frame's number: a row of the last
  // frame an int holds fails the same way within 1.5 GB of address space.
  const fs::path far = s.write("far.txt", file_text(kTracks) + "2147483647,1,5,5,10,10\n");
  child_options small;
  small.address_space_mb = 1500;
  const auto far_video = run_trackvideo(
      {"--tracks", far.string(), "--video", avi.string(), "--csv", (s.root / "far.csv").string(),
       "--overlay-video", (s.root / "far.mp4").string(), "--threads", "4"},
      small);
  EXPECT_EQ(far_video.status, 1);
  EXPECT_NE(far_video.err.find("no frame 31"), std::string::npos) << far_video.err;
}

namespace {

// Every file under `dir`, by its path from there, with its bytes.
std::map<std::string, std::string> files_under(const fs::path& dir) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(dir))
    if (e.is_regular_file()) files[fs::relative(e.path(), dir).string()] = file_text(e.path());
  return files;
}

}  // namespace

// The workers change when a frame is read, never what is written: every
// output, and a failure's line, are those of one thread.
TEST(EndToEndTrackvideoFootage, EveryOutputAndFailureTheSameWhateverTheThreads) {
  scratch s;
  const fs::path broken = s.root / "broken";
  fs::copy(kFootage, broken);
  for (const char* cut : {"frame_12.jpg", "frame_20.jpg"})
    fs::resize_file(broken / cut, fs::file_size(broken / cut) / 2);
  std::map<std::string, std::string> first;
  std::string first_report, first_video_report, first_failure;
  for (const char* threads : {"1", "2", "3", "8"}) {
    SCOPED_TRACE(std::string("--threads ") + threads);
    const fs::path out = s.root / threads;
    fs::create_directory(out);
    const auto r = run_trackvideo(
        {"--tracks", kTracks.string(), "--frames", kFootage.string(), "--threads", threads,
         "--csv", (out / "pairs.csv").string(), "--encounters", (out / "enc.csv").string(),
         "--detections", (out / "det").string(), "--overlay", (out / "png").string(),
         "--overlay-video", (out / "overlay.avi").string(), "--html", (out / "html").string()});
    ASSERT_EQ(r.status, 0) << r.err;
    // The drawn video as the input, every frame decoded for its own overlay.
    const auto v = run_trackvideo({"--tracks", kTracks.string(), "--video",
                                   (s.root / "1" / "overlay.avi").string(), "--threads", threads,
                                   "--overlay-video", (out / "again.avi").string()});
    ASSERT_EQ(v.status, 0) << v.err;
    const auto failed = run_trackvideo(
        {"--tracks", kTracks.string(), "--frames", broken.string(), "--threads", threads});
    EXPECT_EQ(failed.status, 1);
    const std::map<std::string, std::string> files = files_under(out);
    if (first.empty()) {
      ASSERT_GE(files.size(), 4u + 30 + 4 * 30 + 1) << "tables, videos, pictures, page";
      EXPECT_NE(failed.err.find("frame_12.jpg"), std::string::npos) << failed.err;
      first = files;
      first_report = r.out;
      first_video_report = v.out;
      first_failure = failed.err;
      continue;
    }
    EXPECT_EQ(r.out, first_report);
    EXPECT_EQ(v.out, first_video_report);
    EXPECT_EQ(failed.err, first_failure);
    ASSERT_EQ(files.size(), first.size());
    for (const auto& [name, bytes] : files) EXPECT_TRUE(bytes == first[name]) << name;
  }
}

TEST(EndToEndTrackvideo, BadInputChangesNoOutputAndPrintsNothing) {
  scratch s;
  const std::string tracks_text = file_text(kTracks);
  const fs::path bad_row = s.write("bad_row.txt", "1,1,0,0,5,5\n\n1,2,0,0,x,5\n");
  const fs::path outside = s.write("outside.txt", tracks_text + "2,9,400,10,5,5\n");
  const fs::path longer = s.write("longer.txt", tracks_text + "31,1,5,5,10,10\n");
  const fs::path not_video = s.write("video.avi", "not a video\n");
  const fs::path plain_file = s.write("plain", "x");
  const fs::path copy = s.write("copy.txt", tracks_text);
  const fs::path old_csv = s.write("old.csv", "old\n");
  const fs::path no_rows = s.write("no_rows.txt", "frame,id,left,top,width,height\n\n");
  const fs::path folder_avi = s.root / "folder.avi";
  fs::create_directory(folder_avi);
  const std::string frames = kFootage.string(), good = kTracks.string();
  struct bad_case {
    std::vector<std::string> args;
    const char* expected;
  };
  const bad_case cases[] = {
      {{"--tracks", bad_row.string(), "--frames", frames}, "bad_row.txt:3: width 'x'"},
      {{"--tracks", outside.string(), "--frames", frames}, "outside.txt:361: "},
      {{"--tracks", longer.string(), "--frames", frames}, "no frame 31"},
      {{"--tracks", (s.root / "none.txt").string(), "--frames", frames}, "No such file"},
      {{"--tracks", good, "--video", not_video.string()}, "cannot open"},
      {{"--tracks", good, "--video", (s.root / "none.avi").string()}, "No such file"},
      {{"--tracks", good, "--video", copy.string()}, "as a video"},  // text, not a video
      {{"--tracks", good, "--frames", (s.root / "none").string()}, "cannot open"},
      {{"--tracks", good, "--frames", frames, "--overlay", plain_file.string()}, "not a folder"},
      {{"--tracks", good, "--frames", frames, "--csv", (s.root / "no/x.csv").string()}, ""},
      {{"--tracks", copy.string(), "--frames", frames, "--csv", copy.string()}, ""},
      {{"--tracks", good, "--frames", frames, "--overlay-video", folder_avi.string()}, ""},
      {{"--tracks", no_rows.string(), "--frames", frames}, "no_rows.txt: no rows"},
  };
  std::set<fs::path> before;
  for (const auto& e : fs::directory_iterator(s.root)) before.insert(e.path());
  for (const bad_case& c : cases) {
    std::vector<std::string> args = c.args;
    for (const char* extra : {"--csv", "--detections", "--overlay-video"}) {
      if (std::find(args.begin(), args.end(), extra) != args.end()) continue;
      args.push_back(extra);
      args.push_back(extra == std::string("--csv")          ? old_csv.string()
                     : extra == std::string("--detections") ? (s.root / "detections").string()
                                                            : (s.root / "overlay.avi").string());
    }
    const auto r = run_trackvideo(args);
    const std::string what = ::testing::PrintToString(c.args);
    EXPECT_EQ(r.status, 1) << what;
    expect_one_error_line(r, what);
    EXPECT_NE(r.err.find(c.expected), std::string::npos) << what << ": " << r.err;
    EXPECT_EQ(file_text(old_csv), "old\n") << what;
    EXPECT_EQ(file_text(plain_file), "x") << what;
    EXPECT_EQ(file_text(copy), tracks_text) << what;
    std::set<fs::path> after;
    for (const auto& e : fs::directory_iterator(s.root)) after.insert(e.path());
    EXPECT_EQ(after, before) << what;  // no folder created, no temporary left
  }

  const auto misuse = run_trackvideo({"--tracks", good, "--frames", frames, "--radius", "0"});
  EXPECT_EQ(misuse.status, 2);
  EXPECT_EQ(misuse.out, "");
  EXPECT_EQ(misuse.err.rfind("trackvideo: --radius '0'", 0), 0u) << misuse.err;
  EXPECT_NE(misuse.err.find("usage: trackvideo"), std::string::npos);
  const auto help = run_trackvideo({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("usage: trackvideo", 0), 0u);
  EXPECT_EQ(run_trackvideo({"--version"}).out, "trackvideo " TRACKVIDEO_VERSION "\n");
}

TEST(EndToEndTrackvideo, HintOnLargeFramesWithoutPairsUnlessQuiet) {
  scratch s;
  fs::create_directory(s.root / "frames");
  cv::imwrite((s.root / "frames" / "1.png").string(),
              cv::Mat(300, 400, CV_8UC3, cv::Scalar(9, 99, 199)));
  const fs::path t = s.write("t.txt", "1,1,0,0,50,50\n1,2,200,200,50,50\n");
  const fs::path csv = s.root / "pairs.csv";
  const std::vector<std::string> args = {
      "--tracks", t.string(), "--frames", (s.root / "frames").string(), "--csv", csv.string()};
  const auto r = run_trackvideo(args);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");  // one frame: the report starts at the second
  EXPECT_EQ(file_text(csv), kCsvHeader);
  EXPECT_EQ(r.err.rfind("trackvideo: ", 0), 0u) << r.err;
  EXPECT_NE(r.err.find("--radius"), std::string::npos) << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1);
  std::vector<std::string> quiet = args;
  quiet.push_back("--quiet");
  EXPECT_EQ(run_trackvideo(quiet).err, "");
  std::vector<std::string> wide = args;
  wide.insert(wide.end(), {"--radius", "1000"});
  const auto found = run_trackvideo(wide);
  EXPECT_EQ(found.err, "");
  EXPECT_EQ(lines(file_text(csv)).size(), 2u);  // the pair, found with the wider radius
}

TEST(EndToEndTrackvideo, AbsentObjectsGiveZeroFilesThatTrackpairReadsIntoTheSameReport) {
  // Ids 5 and 70 (objects 0 and 1): 70 is absent from frame 2 and 5 from
  // frame 3; each has two detections in the frame it holds alone.
  scratch s;
  const fs::path t = s.write("t.txt",
                             "1,5,100,100,20,40\n1,70,110,105,20,40\n2,5,120,100,20,40\n"
                             "2,5,121,101,20,40\n3,70,130,100,20,40\n3,70,10,10,20,40\n");
  const fs::path det = s.root / "det";
  const auto r = run_trackvideo(
      {"--tracks", t.string(), "--frames", kFootage.string(), "--detections", det.string()});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "0 1 0 \n0 1 1 \n1 2 0 \n1 2 1 \n");  // no other object in frames 2, 3
  EXPECT_EQ(file_text(det / "objects_info_h2_2.txt"), "0\n");
  EXPECT_EQ(file_text(det / "objects_info_h1_3.txt"), "0\n");
  EXPECT_EQ(lines(file_text(det / "objects_info_h1_2.txt")).size(), 3u);  // count, two records
  child_options in_det;
  in_det.dir = det.string();
  const auto tp = run_child({TRACKPAIR_EXE, "2", "3"}, in_det);
  EXPECT_EQ(tp.status, 0) << tp.err;
  EXPECT_EQ(tp.out, r.out);
}

TEST(EndToEndTrackvideo, AnOutputTheCallerMayNotWriteIsRefusedAndKept) {
  // Root may write a file of mode 0444: as root, trackvideo runs as nobody.
  std::vector<std::string> command = tavo_test::unprivileged({TRACKVIDEO_EXE});
  if (command.empty()) GTEST_SKIP() << "root, and no setpriv to drop privileges";
  scratch s;
  fs::permissions(s.root, fs::perms(0777));
  fs::create_directory(s.root / "frames");
  fs::copy_file(kFootage / "frame_01.jpg", s.root / "frames" / "1.jpg");
  const fs::path t = s.write("t.txt", "1,1,10,10,20,20\n1,2,15,12,20,20\n");
  const fs::path csv = s.write("old.csv", "previous\n");
  fs::permissions(csv, fs::perms(0444));
  command.insert(command.end(), {"--tracks", t.string(), "--frames", (s.root / "frames").string(),
                                 "--csv", csv.string(), "--detections", (s.root / "det").string()});
  const auto r = run_child(command);
  EXPECT_EQ(r.status, 1);
  expect_one_error_line(r, "read-only output");
  EXPECT_NE(r.err.find("Permission denied"), std::string::npos) << r.err;
  EXPECT_EQ(file_text(csv), "previous\n");
  EXPECT_FALSE(fs::exists(s.root / "det"));
}

// ---- hostile outputs ----------------------------------------------------------------

namespace {

// A folder of two frames and a tracks file of two ids over them.
struct small_run : scratch {
  const fs::path frames = root / "frames";
  fs::path tracks;
  small_run() {
    fs::create_directory(frames);
    fs::copy_file(kFootage / "frame_01.jpg", frames / "1.jpg");
    fs::copy_file(kFootage / "frame_02.jpg", frames / "2.jpg");
    tracks = write("t.txt", "1,1,10,10,20,20\n1,2,15,12,20,20\n2,1,11,10,20,20\n2,2,16,12,20,20\n");
  }
  std::vector<std::string> args(std::vector<std::string> outputs) const {
    outputs.insert(outputs.begin(),
                   {"--tracks", tracks.string(), "--frames", frames.string(), "--quiet"});
    return outputs;
  }
  std::set<std::string> tree() const {
    std::set<std::string> names;
    for (const auto& e : fs::recursive_directory_iterator(root))
      names.insert(fs::relative(e.path(), root).string());
    return names;
  }
};

}  // namespace

// Also when SIGXFSZ has its default action (the program ignores it itself,
// so the write fails instead of the process ending with temporaries left):
// the other outputs and the new overlay folder are left out too.
// Frames of different sizes: each <img> of the page states the size of its
// own thumbnail, not one made up from the last frame's size; so do the two
// pictures of an identity switch (ground truth 1 on track 1, then on 2), one
// from each frame, and the page has a row per switch of the events table. Its
// video takes both frames.
TEST(HostileInputs, ThePagesImageSizesAreThoseOfItsThumbnailsWhateverTheFrameSizes) {
  scratch s;
  fs::create_directory(s.root / "img");
  cv::imwrite((s.root / "img" / "1.png").string(), cv::Mat(300, 300, CV_8UC3, cv::Scalar(40, 90, 160)));
  cv::imwrite((s.root / "img" / "2.png").string(), cv::Mat(17, 33, CV_8UC3, cv::Scalar(10, 20, 30)));
  const fs::path t = s.write("t.txt", "1,1,100,100,60,60\n1,2,110,105,60,60\n2,1,1,1,8,8\n2,2,20,5,8,8\n");
  const fs::path gt = s.write("gt.txt", "1,1,100,100,60,60,1,1\n2,1,20,5,8,8,1,1\n");
  const fs::path page = s.root / "page", events = s.root / "events.csv";
  const auto r = run_trackvideo({"--tracks", t.string(), "--frames", (s.root / "img").string(),
                                 "--html", page.string(), "--radius", "200",
                                 "--ground-truth", gt.string(), "--events", events.string()});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string html = file_text(page / "index.html");
  int images = 0;
  for (const auto& e : fs::directory_iterator(page)) {
    if (e.path().extension() != ".png") continue;
    ++images;
    const cv::Mat thumbnail = cv::imread(e.path().string());
    const std::string img = "src=\"" + e.path().filename().string() + "\"";
    const std::size_t at = html.find(img);
    ASSERT_NE(at, std::string::npos) << img;
    const std::string tag = html.substr(at, html.find('>', at) - at);
    EXPECT_NE(tag.find("width=\"" + std::to_string(thumbnail.cols) + "\" height=\"" +
                       std::to_string(thumbnail.rows) + "\""),
              std::string::npos)
        << tag << " for " << thumbnail.cols << " x " << thumbnail.rows;
  }
  EXPECT_EQ(images, 3);
  const std::string table = file_text(events);
  std::size_t switches = 0;
  for (std::size_t at = table.find(",switch,"); at != std::string::npos;
       at = table.find(",switch,", at + 1))
    ++switches;
  std::size_t rows = 0;
  for (std::size_t at = html.find("<tr data-switch-frame="); at != std::string::npos;
       at = html.find("<tr data-switch-frame=", at + 1))
    ++rows;
  EXPECT_EQ(switches, 1u);
  EXPECT_EQ(rows, switches);
  EXPECT_GT(fs::file_size(page / "overlay.mp4"), 0u);  // the second frame fitted into the first's
}

TEST(HostileOutputs, AFullDiskWhileWritingTheVideoFailsTheRunAndKeepsTheOldVideo) {
  for (const bool signal_kills : {false, true}) {
    scratch s;
    const fs::path avi = s.write("o.avi", "old");
    child_options limited;
    limited.file_size_bytes = 200000;  // a tenth of the video
    limited.file_size_kills = signal_kills;
    const auto r = run_trackvideo({"--tracks", kTracks.string(), "--frames", kFootage.string(),
                                   "--overlay-video", avi.string(), "--csv",
                                   (s.root / "p.csv").string(), "--overlay",
                                   (s.root / "ov").string()},
                                  limited);
    EXPECT_EQ(r.status, 1);
    expect_one_error_line(r, "full disk");
    // The writer sees its write fail, at the frame whose bytes no longer fit.
    const std::string why = "cannot write " + avi.string() + ": File too large\n";
    EXPECT_EQ(r.err.rfind("trackvideo: frame ", 0), 0u) << r.err;
    EXPECT_EQ(r.err.size() - r.err.rfind(why), why.size()) << r.err;
    EXPECT_EQ(file_text(avi), "old");
    EXPECT_EQ(std::distance(fs::directory_iterator(s.root), {}), 1) << "no temporary left";
  }
}

// SIGTERM or SIGINT while a run waits to print its report (standard output a
// full pipe nobody reads, every other output pending): the process ends by
// that signal, leaving none of its temporaries and no folder it made.
TEST(HostileSignals, ASignalToARunningRunEndsItAndLeavesNothing) {
  for (const int signal : {SIGTERM, SIGINT}) {
    scratch s;
    s.write("kept.txt", "kept");
    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    ::fcntl(out[1], F_SETPIPE_SZ, 4096);  // the footage's report is larger
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::dup2(out[1], 1);
      ::close(out[0]);
      ::close(out[1]);
      ::execl(TRACKVIDEO_EXE, TRACKVIDEO_EXE, "--tracks", kTracks.c_str(), "--frames",
              kFootage.c_str(), "--csv", (s.root / "p.csv").c_str(), "--overlay",
              (s.root / "ov").c_str(), "--quiet", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(out[1]);
    int capacity = ::fcntl(out[0], F_GETPIPE_SZ), waiting = 0;
    for (int k = 0; k < 12000 && waiting < capacity; ++k) {  // up to two minutes
      ::ioctl(out[0], FIONREAD, &waiting);
      if (waiting < capacity) ::usleep(10000);
    }
    ASSERT_EQ(waiting, capacity) << "the run never filled its standard output";
    ASSERT_EQ(::kill(pid, signal), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ::close(out[0]);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
    std::vector<std::string> left;
    for (const auto& e : fs::directory_iterator(s.root)) left.push_back(e.path().filename());
    EXPECT_EQ(left, std::vector<std::string>{"kept.txt"}) << strsignal(signal);
  }
}

// The same limit on an MP4: a write of the muxer fails, and says why.
TEST(HostileOutputs, AFullDiskWhileWritingAnMp4FailsTheRunWithOneLine) {
  scratch s;
  const fs::path mp4 = s.write("o.mp4", "old");
  child_options limited;
  limited.file_size_bytes = 8000;  // a third of the video
  const auto r = run_trackvideo({"--tracks", kTracks.string(), "--frames", kFootage.string(),
                                 "--overlay-video", mp4.string()},
                                limited);
  EXPECT_EQ(r.status, 1);
  expect_one_error_line(r, "full disk");
  EXPECT_EQ(r.err, "trackvideo: cannot write " + mp4.string() + ": File too large\n");
  EXPECT_EQ(file_text(mp4), "old");
  EXPECT_EQ(std::distance(fs::directory_iterator(s.root), {}), 1) << "no temporary left";
}

// --overlay-video NAME.mp4 (any case): H.264 a browser plays, each frame close
// to the PNG drawn for it, at the frames' rate.
TEST(EndToEndTrackvideoFootage, TheOverlayVideoAsMp4HoldsTheDrawnFrames) {
  scratch s;
  const fs::path mp4 = s.root / "overlay.MP4", pngs = s.root / "png";
  const auto r = run_trackvideo({"--tracks", kTracks.string(), "--frames", kFootage.string(),
                                 "--overlay-video", mp4.string(), "--overlay", pngs.string()});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(file_text(mp4).substr(4, 4), "ftyp");
  cv::VideoCapture video(mp4.string());
  ASSERT_TRUE(video.isOpened());
  EXPECT_DOUBLE_EQ(video.get(cv::CAP_PROP_FPS), kFolderFramesPerSecond);
  // Mean absolute difference per channel to the PNG of frame `f`.
  auto off = [&pngs](const cv::Mat& frame, int f) {
    char name[32];
    std::snprintf(name, sizeof name, "frame_%06d.png", f);
    const cv::Mat drawn = cv::imread((pngs / name).string());
    if (drawn.size() != frame.size()) return 255.0;
    cv::Mat d;
    cv::absdiff(frame, drawn, d);
    const cv::Scalar m = cv::mean(d);
    return (m[0] + m[1] + m[2]) / 3;
  };
  int frames = 0;
  for (cv::Mat f; video.read(f); ++frames) {
    ASSERT_EQ(f.size(), cv::Size(320, 240));
    // Lossy coding of this footage: about 3.6 (swapped channels: over 30);
    // a neighbouring frame is farther off.
    const double own = off(f, frames + 1);
    EXPECT_LT(own, 5) << frames + 1;
    EXPECT_LT(own, off(f, frames == 0 ? 2 : frames)) << frames + 1;
  }
  EXPECT_EQ(frames, 30);
}

TEST(HostileOutputs, OutputsNamingOneFileOrTheFramesFolderAreRefusedBeforeAnythingIsWritten) {
  small_run s;
  const std::string root = s.root.string() + "/", frames = s.frames.string();
  struct refused {
    std::vector<std::string> outputs;
    std::string expected;
  };
  const refused cases[] = {
      {{"--csv", root + "x.avi", "--overlay-video", root + "x.avi"},
       "cannot write " + root + "x.avi: it is also the table"},
      {{"--csv", root + "d/objects_info_h1_1.txt", "--detections", root + "d"},
       "cannot write " + root + "d/objects_info_h1_1.txt: it is also one of the detection files"},
      {{"--overlay", root + "d", "--csv", root + "d/frame_000002.png"},
       "cannot write " + root + "d/frame_000002.png: it is also one of the overlay pictures"},
      {{"--overlay", frames}, "cannot write into " + frames + ": it is the input folder " + frames},
      {{"--overlay", frames + "/ov"},
       "cannot write into " + frames + "/ov: it is inside the input folder " + frames},
      {{"--detections", s.root.string()},
       "cannot write into " + s.root.string() + ": the input folder " + frames + " is inside it"},
  };
  const auto before = s.tree();
  for (const refused& c : cases) {
    const std::string what = ::testing::PrintToString(c.outputs);
    const auto r = run_trackvideo(s.args(c.outputs));
    EXPECT_EQ(r.status, 1) << what;
    expect_one_error_line(r, what);
    EXPECT_EQ(r.err, "trackvideo: " + c.expected + "\n") << what;
    EXPECT_EQ(s.tree(), before) << what << ": nothing written, no folder made";
  }
}

TEST(HostileOutputs, AnOutputFolderInsideAnotherWorksInEitherOrder) {
  const std::vector<std::string> orders[] = {{"--overlay", "d/ov", "--detections", "d"},
                                             {"--detections", "d", "--overlay", "d/ov"},
                                             {"--overlay", "d", "--detections", "d/det"}};
  for (const auto& order : orders) {
    small_run s;
    std::vector<std::string> outputs = order;
    outputs[1] = (s.root / outputs[1]).string();
    outputs[3] = (s.root / outputs[3]).string();
    const auto r = run_trackvideo(s.args(outputs));
    EXPECT_EQ(r.status, 0) << r.err;
    const fs::path pictures = order[0] == "--overlay" ? outputs[1] : outputs[3];
    const fs::path detections = order[0] == "--overlay" ? outputs[3] : outputs[1];
    EXPECT_TRUE(fs::exists(pictures / "frame_000002.png")) << ::testing::PrintToString(order);
    EXPECT_EQ(lines(file_text(detections / "objects_info_h2_2.txt")).size(), 2u);
  }
}

TEST(HostileOutputs, ALinkToNothingAsAnOutputIsRefusedAndKept) {
  small_run s;
  fs::create_symlink(s.root / "nowhere.csv", s.root / "link.csv");
  const std::string link = (s.root / "link.csv").string();
  const auto r = run_trackvideo(s.args({"--csv", link}));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "trackvideo: cannot write " + link +
                       ": a symbolic link to a file that does not exist\n");
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_FALSE(fs::exists(s.root / "nowhere.csv"));
}

TEST(EndToEndTrackvideo, StandardOutputUnwritableClosedOrAnInputOrOutput) {
  scratch s;
  const fs::path t = s.write("t.txt", "1,1,10,10,20,20\n2,1,12,10,20,20\n2,2,15,12,20,20\n");
  const fs::path csv = s.root / "pairs.csv", det = s.root / "det";
  const std::vector<std::string> run = {"--tracks",        t.string(),   "--frames",
                                        kFootage.string(), "--csv",      csv.string(),
                                        "--detections",    det.string(), "--quiet"};
  child_options full;
  full.stdout_path = "/dev/full";
  child_options closed;
  closed.close_stdout = true;
  struct out_case {
    std::vector<std::string> args;
    child_options o;
    const char* expected;
  };
  const out_case cases[] = {
      {{"--help"}, full, "trackvideo: cannot write to standard output: No space left on device\n"},
      {{"--version"}, closed, "trackvideo: cannot write to standard output: Bad file descriptor\n"},
      {run, full, "trackvideo: cannot write to standard output: No space left on device\n"},
      {run, closed, "trackvideo: cannot write to standard output: Bad file descriptor\n"},
  };
  for (const out_case& c : cases) {
    const auto r = run_trackvideo(c.args, c.o);
    const std::string what = ::testing::PrintToString(c.args);
    EXPECT_EQ(r.status, 1) << what;
    EXPECT_EQ(r.err, c.expected) << what;
    EXPECT_FALSE(fs::exists(csv)) << what;  // the report not printed: nothing committed
    EXPECT_FALSE(fs::exists(det)) << what;
  }
  // Standard output appended to an input or an output: refused before
  // anything is written.
  const std::string tracks_text = file_text(t);
  s.write("pairs.csv", "old\n");
  fs::create_directory(det);
  const fs::path det_file = s.write("det/objects_info_h2_2.txt", "old\n");
  for (const auto& [target, expected] :
       {std::pair<fs::path, std::string>{t, "standard output is the tracks file " + t.string()},
        {csv, "standard output is the table " + csv.string()},
        {det_file, "standard output is the detection file " + det_file.string()}}) {
    std::string command = "exec '" TRACKVIDEO_EXE "'";
    for (const std::string& a : run) command += " '" + a + "'";
    const auto r = run_child({"/bin/sh", "-c", command + " >> '" + target.string() + "'"});
    EXPECT_EQ(r.status, 1) << target;
    EXPECT_EQ(r.err, "trackvideo: " + expected + "\n");
  }
  EXPECT_EQ(file_text(t), tracks_text);
  EXPECT_EQ(file_text(csv), "old\n");
  EXPECT_EQ(file_text(det_file), "old\n");
}

namespace {

// Random boxes of the 320 x 240 footage: `per_frame` tracks in each of `frames` frames.
std::string many_boxes(int frames, int per_frame, unsigned seed) {
  std::mt19937 random(seed);
  std::string text;
  for (int f = 1; f <= frames; ++f)
    for (int id = 0; id < per_frame; ++id)
      text += std::to_string(f) + "," + std::to_string(id) + "," + std::to_string(random() % 300) +
              "," + std::to_string(random() % 220) + "," + std::to_string(1 + random() % 20) + "," +
              std::to_string(1 + random() % 20) + "\n";
  return text;
}

std::set<std::string> names_in(const fs::path& dir) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
  return names;
}

}  // namespace

TEST(StressTrackvideo, RunningOutOfMemoryAnywhereIsOneLineAndLeavesNothing) {
  if (!tavo_test::address_space_limits_apply()) GTEST_SKIP() << "no address-space limit here";
  // 60,000 boxes: reading them, the frames, the pairs, the report's runs and
  // the drawing's risky encounters each need their share, so a sweep of
  // limits runs out in each of them. --near 0: with the default, every
  // encounter of this crowd of 3,000 tracks over 20 frames is risky (70 MB of
  // runs, the drawing's documented cost), beyond the sweep's 64 MiB.
  scratch s;
  const fs::path tiny = s.write("tiny.txt", "1,1,10,10,5,5\n");
  const fs::path t = s.write("t.txt", many_boxes(20, 3000, 11));
  const fs::path out = s.root / "out";
  fs::create_directory(out);
  const auto args = [&](const fs::path& tracks) {
    return std::vector<std::string>{"--tracks",        tracks.string(),
                                    "--frames",        kFootage.string(),
                                    "--overlay",       (out / "overlay").string(),
                                    "--near",          "0"};
  };
  const auto reference = run_trackvideo(args(t));
  ASSERT_EQ(reference.status, 0) << reference.err;
  fs::remove_all(out / "overlay");
  // The least address space (in MiB) a run on one box gets through: the
  // program's libraries, the reader's thread and OpenCV's codecs.
  long low = 16, high = 8192;
  while (high - low > 1) {
    child_options o;
    o.address_space_mb = (low + high) / 2;
    const bool ok = run_trackvideo(args(tiny), o).status == 0;
    (ok ? high : low) = o.address_space_mb;
    fs::remove_all(out / "overlay");
  }
  // From there up, MiB by MiB, the large run fails at some stage until it
  // succeeds: each time one line, status 1 and no file left behind.
  int failures = 0, successes = 0;
  for (long mb = high; mb <= high + 64 && successes < 3; ++mb) {
    child_options o;
    o.address_space_mb = mb;
    const auto r = run_trackvideo(args(t), o);
    const std::string what = std::to_string(mb) + " MiB";
    if (r.status == 0) {
      ++successes;
      EXPECT_EQ(r.out, reference.out) << what;
      EXPECT_EQ(names_in(out / "overlay").size(), 20u) << what;
      fs::remove_all(out / "overlay");
    } else {
      ++failures;
      EXPECT_EQ(r.status, 1) << what << ": " << r.err;
      expect_one_error_line(r, what);
      EXPECT_TRUE(names_in(out).empty()) << what;  // no temporary, no folder
    }
  }
  EXPECT_GT(failures, 0) << "no limit between " << high << " and " << high + 64 << " MiB failed";
  EXPECT_GT(successes, 0);
}

TEST(StressTrackvideo, ATableOfMillionsOfPairsIsWrittenInBoundedMemory) {
  // 3,000 boxes in one frame, every pair a candidate: 4,498,500 rows, about
  // 240 MB of text, written as it is made.
  scratch s;
  const fs::path t = s.write("t.txt", many_boxes(1, 3000, 12));
  const fs::path csv = s.root / "pairs.csv";
  const auto r = run_trackvideo({"--tracks", t.string(), "--frames", kFootage.string(), "--csv",
                                 csv.string(), "--radius", "100000"});
  ASSERT_EQ(r.status, 0) << r.err;
  // About 80 MB; AddressSanitizer's shadow and quarantine add about as much
  // again. Either way well below the 240 MB that one frame's rows held.
  const long bound_mb = tavo_test::address_space_limits_apply() ? 150 : 230;
  EXPECT_LT(r.max_rss_kb, bound_mb * 1024);
  std::ifstream in(csv, std::ios::binary);
  long long rows = -1;  // the header
  for (std::string line; std::getline(in, line);) ++rows;
  EXPECT_EQ(rows, 3000LL * 2999 / 2);
}
