// Tests of trackvideo's sequence folders: seqinfo.ini, the ground-truth rules
// of the tracks reader, --classes, and --sequence end to end against the same
// run given as --tracks and --frames.
#include <gtest/gtest.h>
#include <opencv2/videoio.hpp>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/child.h"
#include "trackvideo/input/sequence.h"
#include "trackvideo/input/tracks.h"

namespace fs = std::filesystem;
using namespace trackvideo;
using tavo_test::file_text;
using tavo_test::run_child;

namespace {

const fs::path kFootage = fs::path(TAVO_EXAMPLES_DIR) / "footage";

TEST(Seqinfo, ReadsEveryKeyWithCrlfCommentsBlanksAndAnyCase) {
  const std::string text =
      "\xEF\xBB\xBF; a comment\r\n[Other]\r\nimDir=wrong\r\n\r\n[SEQUENCE]\r\n# another\r\n"
      "NAME = MOT17-02\r\n  imdir\t=  img1 \r\nframeRate=30\r\nseqLength = 600\r\n"
      "imWidth=1920\r\nimHeight=1080\r\nimExt=.jpg\r\nunknownKey=x\r\n";
  seqinfo s;
  ASSERT_EQ(parse_seqinfo(text, "seqinfo.ini", "folder", s), "");
  EXPECT_EQ(s.name, "MOT17-02");
  EXPECT_EQ(s.im_dir, "img1");
  EXPECT_EQ(s.im_ext, ".jpg");
  EXPECT_EQ(s.seq_length, 600);
  EXPECT_EQ(s.frame_rate, 30.0);
  EXPECT_EQ(s.im_width, 1920);
  EXPECT_EQ(s.im_height, 1080);
  EXPECT_EQ(frame_path("seq", s, 7), "seq/img1/000007.jpg");
  EXPECT_EQ(frame_path("seq/", s, 1234567), "seq/img1/1234567.jpg");

  // The optional keys absent: the folder's name, 10 frames a second, no size.
  ASSERT_EQ(parse_seqinfo("[Sequence]\nimDir=i\nimExt=.PNG\nseqLength=3\n", "f", "dir", s), "");
  EXPECT_EQ(s.name, "dir");
  EXPECT_EQ(s.frame_rate, 10.0);
  EXPECT_EQ(s.im_width, 0);
  EXPECT_EQ(s.im_height, 0);
  // Integers of the one grammar; frame rates plain decimals; imDir inside.
  ASSERT_EQ(parse_seqinfo("[Sequence]\nimDir=a/../i\nimExt=.png\nseqLength=+03\nframeRate=.5\n",
                          "f", "dir", s),
            "");
  EXPECT_TRUE(s.seq_length == 3 && s.frame_rate == 0.5);
}

TEST(Seqinfo, RefusesMissingKeysAndMalformedLines) {
  const std::string ok = "imDir=img1\nimExt=.jpg\nseqLength=5\n";
  const struct {
    std::string text, error;
  } cases[] = {
      {ok, "s.ini: no [Sequence] section"},
      {"[Sequence]\nimExt=.jpg\nseqLength=5\n", "s.ini: [Sequence] has no imDir"},
      {"[Sequence]\nimDir=img1\nseqLength=5\n", "s.ini: [Sequence] has no imExt"},
      {"[Sequence]\nimDir=img1\nimExt=.jpg\n", "s.ini: [Sequence] has no seqLength"},
      {"[Sequence]\nimDir=\nimExt=.jpg\nseqLength=5\n", "s.ini: [Sequence] has no imDir value"},
      {"[Other]\n" + ok, "s.ini: no [Sequence] section"},
      {"[Sequence]\n" + ok + "seqlength=6\n", "s.ini:5: seqlength is given twice"},
      {"[Sequence]\r\nimDir img1\r\n", "s.ini:2: expected key=value, found 'imDir img1'"},
      {"[Sequence\n" + ok, "s.ini:1: a section name without its ']'"},
      {"[Sequence]\nimDir=img1\nimExt=.jpg\nseqLength=0\n",
       "s.ini: seqLength '0' is not a whole number >= 1"},
      {"[Sequence]\nimDir=img1\nimExt=.txt\nseqLength=5\n",
       "s.ini: imExt '.txt' is not an image extension trackvideo reads"},
      {"[Sequence]\n" + ok + "frameRate=-25\n", "s.ini: frameRate '-25' is not a number > 0"},
      {"[Sequence]\n" + ok + "imWidth=1.5\n", "s.ini: imWidth '1.5' is not a whole number >= 1"},
      {"[Sequence]\n" + ok + "imHeight=2\n",
       "s.ini: imHeight is given without imWidth (the frames' size needs both)"},
      {"[Sequence]\n" + ok + "frameRate=1e-5\n", "s.ini: frameRate '1e-5' is not a number > 0"},
      {"[Sequence]\n" + ok + "frameRate=1000.01\n",
       "s.ini: frameRate '1000.01' is out of range (0.01 to 1000 frames per second)"},
      {"[Sequence]\nimDir=i/../..\nimExt=.jpg\nseqLength=5\n",
       "s.ini: imDir 'i/../..' is not a folder inside the sequence"},
  };
  for (const auto& c : cases) {
    seqinfo s;
    EXPECT_EQ(parse_seqinfo(c.text, "s.ini", "d", s), c.error) << c.text;
  }
}

TEST(Seqinfo, ReadingRefusesAHugeFileAndFramesLinkedFromOutside) {
  const tavo_test::scratch_dir scratch;
  const fs::path dir = scratch.path() / "S", ini = dir / "seqinfo.ini";
  fs::create_directories(dir / "img1");
  fs::create_directory_symlink("..", dir / "up");
  seqinfo s;
  // A missing imDir fails at its first frame, as before.
  for (const std::string im_dir : {"img1", "up/S/img1", "missing", "up"}) {
    tavo_test::write_file(ini, "[Sequence]\nimExt=.jpg\nseqLength=3\nimDir=" + im_dir + "\n");
    EXPECT_EQ(
        read_seqinfo(dir.string(), s),
        im_dir != "up" ? "" : ini.string() + ": imDir 'up' is not a folder inside the sequence");
  }
  std::string largest = "[Sequence]\nimDir=img1\nimExt=.jpg\nseqLength=3\n;";
  largest.resize(kMaxSeqinfoBytes, 'x');  // one comment line to the limit
  tavo_test::write_file(ini, largest);
  EXPECT_EQ(read_seqinfo(dir.string(), s), "");
  std::ofstream(ini, std::ios::app) << ' ';
  EXPECT_EQ(read_seqinfo(dir.string(), s),
            ini.string() + ": larger than 1048576 bytes, more than a seqinfo.ini holds");
}

TEST(Seqinfo, FrameNamesOfAnyWidthFoundFromFrameOneAndRefusedWhenMixed) {
  const tavo_test::scratch_dir scratch;
  const fs::path dir = scratch.path() / "S", img = dir / "img1";
  fs::create_directories(dir);
  tavo_test::write_file(dir / "seqinfo.ini", "[Sequence]\nimDir=img1\nimExt=.jpg\nseqLength=3\n");
  const struct {
    std::vector<std::string> files;
    std::string frame_3, error;
  } cases[] = {
      {{}, "000003.jpg", ""},  // no frame 1: it fails to open later
      {{"00000001.jpg", "00000002.jpg", "x.jpg", "1.png"}, "00000003.jpg", ""},
      {{"1.jpg", "2.jpg", "000010.jpg"}, "3.jpg", ""},  // 10 beyond seqLength
      // Frame 1 in several widths: six, then eight, then the narrowest.
      {{"1.jpg", "000001.jpg", "00000001.jpg"}, "000003.jpg", ""},
      {{"01.jpg", "00000001.jpg"}, "00000003.jpg", ""},
      {{"001.jpg", "01.jpg"}, "03.jpg", ""},
      {{"000001.jpg", "00000001.jpg", "00000002.jpg"},
       "000003.jpg",
       "S/img1/000001.jpg and S/img1/00000002.jpg: frame names of different widths (6 and 8 "
       "digits)"},
      // Frame 2 named in both widths is named in frame 1's; frame 4 is beyond seqLength.
      {{"00000001.jpg", "00000002.jpg", "002.jpg", "004.jpg"}, "00000003.jpg", ""},
  };
  for (const auto& c : cases) {
    fs::remove_all(img);
    fs::create_directories(img);
    for (const std::string& f : c.files) tavo_test::write_file(img / f, "");
    seqinfo s;
    std::string why = read_seqinfo(dir.string(), s);
    for (std::size_t at; (at = why.find(scratch.path().string() + "/")) != std::string::npos;)
      why.erase(at, scratch.path().string().size() + 1);
    EXPECT_EQ(why, c.error) << c.files.size();
    if (c.error.empty()) {
      EXPECT_EQ(frame_path("S", s, 3), "S/img1/" + c.frame_3);
    }
  }
}

// The rows the tests below give the reader: line 1 a header.
const std::string kGt =
    "frame,id,left,top,width,height,flag,class,visibility\n"
    "1,1,10,10,5,5,1,1,1\n"    // 2 kept
    "1,2,20,10,5,5,0,1,1\n"    // 3 flag 0
    "1,3,30,10,5,5,1,7,0.5\n"  // 4 class 7
    "2,1,11,10,5,5,1,1,1\n"    // 5 kept
    "2,4,40,10,5,5,0.0,2,1\n"  // 6 flag 0 (as a real), class 2
    "2,5,50,10,5,5,1,2,1\n";   // 7 class 2

std::vector<int> kept_lines(const tracks& t) {
  std::vector<int> lines;
  for (const track_box& b : t.boxes) lines.push_back(b.line);
  std::sort(lines.begin(), lines.end());
  return lines;
}

TEST(GroundTruthRules, FlagZeroIgnoredThenOnlyTheListedClassesKept) {
  gt_rules pedestrians, two, all;
  ASSERT_EQ(parse_classes("2,1", two), "");
  ASSERT_EQ(parse_classes("all", all), "");
  const struct {
    const gt_rules* rules;
    std::vector<int> lines;
    int flag, cls;
  } cases[] = {
      {&pedestrians, {2, 5}, 2, 2},
      {&two, {2, 5, 7}, 2, 1},
      {&all, {2, 4, 5, 7}, 2, 0},
  };
  for (const auto& c : cases) {
    tracks t;
    ASSERT_EQ(parse_tracks(kGt, "gt.txt", t, c.rules), "");
    EXPECT_EQ(t.verify(), "");
    EXPECT_EQ(kept_lines(t), c.lines);
    EXPECT_EQ(t.ignored_flag, c.flag);
    EXPECT_EQ(t.ignored_class, c.cls);
  }
  tracks t;
  ASSERT_EQ(parse_tracks(kGt, "gt.txt", t, &pedestrians), "");
  EXPECT_EQ(ignored_message(t), "gt.txt: 4 rows ignored (2 with 7th column 0, 2 of other classes)");

  // A tracker's file is taken whole: its 7th and 8th columns mean nothing.
  ASSERT_EQ(parse_tracks(kGt, "res.txt", t), "");
  EXPECT_EQ(t.boxes.size(), 6u);
}

TEST(GroundTruthRules, RefusesShortRowsAndBadFlagsWithTheirLine) {
  const gt_rules rules;
  const struct {
    std::string text, error;
  } cases[] = {
      {"1,1,10,10,5,5,1,1\n1,2,10,10,5,5,1\n",
       "gt.txt:2: ground truth needs 8 columns (frame,id,left,top,width,height,flag,class), "
       "found 7"},
      {"1,1,10,10,5,5,x,1\n", "gt.txt:1: flag 'x' is not a number"},
      {"1,1,10,10,5,5,1,1.5\n", "gt.txt:1: class '1.5' is not a whole number"},
      {"1,1,10,10,5,5,1,,\n", "gt.txt:1: column 8 (class) is empty"},
      // Rows the rules ignore are checked as kept ones are, box included.
      {"0,1,10,10,5,5,0,1\n", "gt.txt:1: frame '0' is not a frame number (frames count from 1)"},
      {"1,2,10,10,0,5,1,3\n",
       "gt.txt:1: the box is empty after rounding to pixels (width '0', height '5')"},
      {"1,1,10,10,5,5,0,1\n1,2,10,10,5,5,1,3\n",
       "gt.txt: no rows kept (1 with 7th column 0, 1 of other classes)"},
      // --gt on a tracker's file: its 8th column (-1) is no class kept.
      {"1,1,10,10,5,5,0.9,-1,-1,-1\n2,1,10,10,5,5,0.8,-1,-1,-1\n",
       "gt.txt: no rows kept (0 with 7th column 0, 2 of other classes)"},
  };
  for (const auto& c : cases) {
    tracks t;
    EXPECT_EQ(parse_tracks(c.text, "gt.txt", t, &rules), c.error) << c.text;
  }
}

TEST(GroundTruthRules, ClassesList) {
  gt_rules r;
  ASSERT_EQ(parse_classes("1,0,12", r), "");
  EXPECT_FALSE(r.all_classes);
  EXPECT_EQ(r.classes, (std::vector<int>{1, 0, 12}));
  for (const char* bad : {"", "1,,2", "1,", "x", "-1", "ALL", "1 2"})
    EXPECT_NE(parse_classes(bad, r), "") << bad;
}

// A sequence folder made of the footage's 30 frames: S/img1/000001.jpg ...,
// S/seqinfo.ini and S/gt/gt.txt, the footage's tracks with a flag and a class
// each, plus rows the rules ignore.
struct sequence_folder : tavo_test::scratch_dir {
  const fs::path dir = path() / "S", img = dir / "img1";
  std::string kept;  // the rows the rules keep, as a tracks file

  sequence_folder() {
    fs::create_directories(img);
    fs::create_directories(dir / "gt");
    for (int f = 1; f <= 30; ++f) {
      char name[32];
      std::snprintf(name, sizeof name, "%06d.jpg", f);
      fs::copy_file(
          kFootage / ("frame_" + std::string(f < 10 ? "0" : "") + std::to_string(f) + ".jpg"),
          img / name);
    }
    seqinfo(
        "[Sequence]\r\nname=S\r\nimDir=img1\r\nframeRate=25\r\nseqLength=30\r\n"
        "imWidth=320\r\nimHeight=240\r\nimExt=.jpg\r\n");
    std::istringstream in(file_text(kFootage / "tracks.txt"));
    std::string gt, line;
    for (int n = 0; std::getline(in, line); ++n) {
      std::istringstream fields(line);
      std::string six, field;
      for (int k = 0; k < 6 && std::getline(fields, field, ','); ++k) six += (k ? "," : "") + field;
      kept += six + "\n";
      gt += six + ",1,1,1\n";
      // Near every fifth row, a box the rules drop: flag 0, or a class not 1.
      if (n % 5 == 0)
        gt += six.substr(0, six.find(',')) + ",90,1,1,30,30," + (n % 10 == 0 ? "0,1" : "1,7") +
              ",0.3\n";
    }
    tavo_test::write_file(dir / "gt" / "gt.txt", gt);
  }
  void seqinfo(const std::string& text) const { tavo_test::write_file(dir / "seqinfo.ini", text); }
};

tavo_test::child_result trackvideo_run(std::vector<std::string> args) {
  args.insert(args.begin(), TRACKVIDEO_EXE);
  return run_child(args);
}

TEST(EndToEndTrackvideoSequence, OutputsAreThoseOfTheKeptRowsAndTheFramesFolder) {
  sequence_folder s;
  const fs::path kept = s.write("kept.txt", s.kept);
  const auto a =
      trackvideo_run({"--sequence", s.dir.string(), "--csv", (s.path() / "a.csv").string(),
                      "--detections", (s.path() / "da").string()});
  const auto b =
      trackvideo_run({"--tracks", kept.string(), "--frames", s.img.string(), "--csv",
                      (s.path() / "b.csv").string(), "--detections", (s.path() / "db").string()});
  ASSERT_EQ(a.status, 0) << a.err;
  ASSERT_EQ(b.status, 0) << b.err;
  ASSERT_FALSE(a.out.empty());
  EXPECT_EQ(a.out, b.out);
  EXPECT_EQ(a.err, "trackvideo: " + (s.dir / "gt" / "gt.txt").string() +
                       ": 72 rows ignored (36 with 7th column 0, 36 of other classes)\n");
  EXPECT_EQ(file_text(s.path() / "a.csv"), file_text(s.path() / "b.csv"));
  int files = 0;
  for (const auto& e : fs::directory_iterator(s.path() / "db")) {
    ++files;
    EXPECT_EQ(file_text(e.path()), file_text(s.path() / "da" / e.path().filename()));
  }
  EXPECT_EQ(files, 4 * 30);

  // --tracks on the sequence: a tracker's file is taken whole, ground truth
  // given with --gt is filtered; --classes all keeps the class-7 rows.
  const auto whole = trackvideo_run({"--sequence", s.dir.string(), "--tracks", kept.string()});
  EXPECT_EQ(whole.status, 0) << whole.err;
  EXPECT_EQ(whole.out, b.out);
  const std::string gt = (s.dir / "gt" / "gt.txt").string();
  const auto as_gt =
      trackvideo_run({"--sequence", s.dir.string(), "--tracks", gt, "--gt", "--quiet"});
  EXPECT_EQ(as_gt.status, 0) << as_gt.err;
  EXPECT_EQ(as_gt.out, b.out);
  EXPECT_EQ(as_gt.err, "");
  const auto unfiltered = trackvideo_run({"--sequence", s.dir.string(), "--tracks", gt});
  EXPECT_NE(unfiltered.out, b.out);
  const auto all = trackvideo_run({"--sequence", s.dir.string(), "--classes", "all", "--quiet"});
  EXPECT_EQ(all.status, 0) << all.err;
  EXPECT_NE(all.out, b.out);
  EXPECT_NE(all.out, unfiltered.out);
}

TEST(EndToEndTrackvideoSequence, TheOverlayVideoHasTheSequencesFrameRate) {
  sequence_folder s;  // frameRate=25, not the 10 of a folder of images
  const fs::path avi = s.path() / "o.avi";
  const auto r = trackvideo_run({"--sequence", s.dir.string(), "--overlay-video", avi.string()});
  ASSERT_EQ(r.status, 0) << r.err;
  cv::VideoCapture video(avi.string());
  ASSERT_TRUE(video.isOpened());
  EXPECT_EQ(video.get(cv::CAP_PROP_FPS), 25.0);
  EXPECT_EQ(video.get(cv::CAP_PROP_FRAME_COUNT), 30.0);
}

// The bundled dataset (examples/dataset, made by its make.py), run from the
// repository root as the README's commands are.
const fs::path kRoot = fs::path(TAVO_EXAMPLES_DIR).parent_path();

tavo_test::child_result run_at_root(std::vector<std::string> args) {
  args.insert(args.begin(), TRACKVIDEO_EXE);
  tavo_test::child_options in;
  in.dir = kRoot.string();
  return run_child(args, in);
}

// The candidate pairs of a report: the "a b" couples after each line's "q r s".
std::size_t report_pairs(const std::string& report) {
  std::istringstream in(report);
  std::size_t pairs = 0;
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    std::size_t n = 0;
    for (std::string f; fields >> f;) ++n;
    pairs += n > 3 ? (n - 3) / 2 : 0;
  }
  return pairs;
}

TEST(EndToEndTrackvideoSequence, TheBundledDatasetIsTheFootageWithItsDroppedRowsIgnored) {
  // Each sequence's frames are the footage's, byte for byte, from its first frame.
  const struct {
    const char* name;
    int first, length;
  } sequences[] = {{"footage-01", 1, 30}, {"footage-02", 11, 10}};
  for (const auto& q : sequences) {
    const fs::path img = kRoot / "examples/dataset" / q.name / "img1";
    int frames = 0;
    for (const auto& e : fs::directory_iterator(img)) frames += e.path().extension() == ".jpg";
    EXPECT_EQ(frames, q.length) << q.name;
    for (int i = 1; i <= q.length; ++i) {
      char name[16], footage[32];
      std::snprintf(name, sizeof name, "%06d.jpg", i);
      std::snprintf(footage, sizeof footage, "frame_%02d.jpg", q.first + i - 1);
      EXPECT_EQ(file_text(img / name), file_text(kFootage / footage)) << q.name << "/" << name;
    }
  }

  const auto footage = run_at_root(
      {"--tracks", "examples/footage/tracks.txt", "--frames", "examples/footage", "--quiet"});
  const auto sequence = run_at_root({"--sequence", "examples/dataset/footage-01"});
  const auto all =
      run_at_root({"--sequence", "examples/dataset/footage-01", "--classes", "all", "--quiet"});
  ASSERT_EQ(footage.status, 0) << footage.err;
  ASSERT_EQ(sequence.status, 0) << sequence.err;
  ASSERT_EQ(all.status, 0) << all.err;
  ASSERT_GT(report_pairs(footage.out), 0u);
  EXPECT_EQ(sequence.out, footage.out);
  EXPECT_EQ(sequence.err,
            "trackvideo: examples/dataset/footage-01/gt/gt.txt: 30 rows ignored "
            "(8 with 7th column 0, 22 of other classes)\n");
  // Kept, the other classes' rows stand next to people: more pairs.
  EXPECT_GT(report_pairs(all.out), report_pairs(footage.out));
}

TEST(EndToEndTrackvideoSequence, TheBundledListRunsAsABatchWithOneSummaryRowPerSequence) {
  const tavo_test::scratch_dir out;
  const fs::path results = out.path() / "results";
  const auto batch =
      run_at_root({"--batch", "examples/dataset/LIST", "--out", results.string(), "--quiet"});
  const auto footage = run_at_root(
      {"--tracks", "examples/footage/tracks.txt", "--frames", "examples/footage", "--quiet"});
  ASSERT_EQ(batch.status, 0) << batch.err;
  ASSERT_EQ(footage.status, 0) << footage.err;
  EXPECT_EQ(file_text(results / "footage-01" / "report.txt"), footage.out);

  // LIST order; the figures make.py gave each sequence, and as many pairs as
  // its table has rows. The seconds column is left out.
  std::vector<std::string> rows;
  std::istringstream summary(file_text(results / "summary.csv"));
  for (std::string line; std::getline(summary, line);)
    rows.push_back(line.substr(0, line.rfind(',')));
  const auto pairs = [&](const char* name) {
    const std::string csv = file_text(results / name / "pairs.csv");
    return std::to_string(std::count(csv.begin(), csv.end(), '\n') - 1);
  };
  EXPECT_EQ(rows, (std::vector<std::string>{"sequence,frames,tracks,boxes,ignored_rows,pairs",
                                            "footage-01,30,4,360,30," + pairs("footage-01"),
                                            "footage-02,10,4,120,10," + pairs("footage-02")}));
}

TEST(EndToEndTrackvideoSequence, EightDigitFrameNamesGiveTheSixDigitOutputs) {
  // footage-01 as it comes (img1/000001.jpg ...) and with eight-digit names.
  const tavo_test::scratch_dir scratch;
  const fs::path six = kRoot / "examples/dataset/footage-01", eight = six.string() + "-dance";
  std::string out[2];
  for (const fs::path& dir : {six, eight}) {
    const fs::path o = scratch.path() / dir.filename();
    fs::create_directories(o);
    const auto r =
        trackvideo_run({"--sequence", dir.string(), "--quiet", "--csv", (o / "o.csv").string(),
                        "--encounters", (o / "o.enc").string(), "--overlay", (o / "o").string()});
    ASSERT_EQ(r.status, 0) << r.err;
    out[dir == eight] = r.out;
  }
  EXPECT_EQ(out[0], out[1]);
  EXPECT_FALSE(out[0].empty());
  const fs::path a = scratch.path() / six.filename(), b = scratch.path() / eight.filename();
  int files = 0;
  for (const auto& e : fs::recursive_directory_iterator(a))
    if (e.is_regular_file() && ++files) {
      EXPECT_EQ(file_text(e.path()), file_text(b / fs::relative(e.path(), a)));
    }
  EXPECT_EQ(files, 32);  // the table, the encounters and 30 pictures
}

TEST(EndToEndTrackvideoSequence, BadSequencesFailInOneLineAndWriteNothing) {
  const std::string ini = "[Sequence]\nimDir=img1\nimExt=.jpg\nseqLength=30\n";
  const struct {
    std::string what, seqinfo, error;
    void (*change)(const sequence_folder&);
  } cases[] = {
      {"no seqinfo.ini", "", "cannot open S/seqinfo.ini:", nullptr},
      {"a missing key", "[Sequence]\nimDir=img1\nseqLength=30\n",
       "S/seqinfo.ini: [Sequence] has no imExt", nullptr},
      {"a row beyond seqLength", "[Sequence]\nimDir=img1\nimExt=.jpg\nseqLength=29\n",
       ": frame 30 is beyond the sequence's 29 frames (seqLength in S/seqinfo.ini)", nullptr},
      {"a frame of another size", ini + "imWidth=640\nimHeight=240\n",
       "S/img1/000001.jpg: 320 x 240 pixels, not the 640 x 240 of ", nullptr},
      {"a frame missing", ini, "frame 17: cannot open S/img1/000017.jpg: ",
       [](const sequence_folder& s) { fs::remove(s.img / "000017.jpg"); }},
      {"a frame named in another width", ini,
       "S/img1/000001.jpg and S/img1/00000017.jpg: frame names of different widths (6 and 8",
       [](const sequence_folder& s) { fs::rename(s.img / "000017.jpg", s.img / "00000017.jpg"); }},
      {"a short ground-truth row", ini, "S/gt/gt.txt:3: ground truth needs 8 columns",
       [](const sequence_folder& s) {
         std::string gt = file_text(s.dir / "gt" / "gt.txt");
         const std::size_t third = gt.find('\n', gt.find('\n') + 1) + 1;
         gt.insert(third, "1,9,1,1,5,5,1\n");
         tavo_test::write_file(s.dir / "gt" / "gt.txt", gt);
       }},
  };
  for (const auto& c : cases) {
    sequence_folder s;
    if (c.seqinfo.empty())
      fs::remove(s.dir / "seqinfo.ini");
    else
      s.seqinfo(c.seqinfo);
    if (c.change) c.change(s);
    tavo_test::child_options in;
    in.dir = s.path().string();
    const auto r =
        run_child({TRACKVIDEO_EXE, "--sequence", "S", "--csv", "out.csv", "--quiet"}, in);
    EXPECT_EQ(r.status, 1) << c.what;
    EXPECT_EQ(r.out, "") << c.what;
    EXPECT_EQ(r.err.rfind("trackvideo: ", 0), 0u) << c.what << ": " << r.err;
    EXPECT_NE(r.err.find(c.error), std::string::npos) << c.what << ": " << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << c.what << ": " << r.err;
    EXPECT_FALSE(fs::exists(s.path() / "out.csv")) << c.what;
  }
  const auto both = trackvideo_run({"--sequence", "S", "--frames", "F"});
  EXPECT_EQ(both.status, 2);
  EXPECT_EQ(both.err.rfind("trackvideo: --sequence excludes --video and --frames", 0), 0u);
  const auto classes = trackvideo_run({"--tracks", "t", "--frames", "F", "--classes", "2"});
  EXPECT_EQ(classes.status, 2);
}

}  // namespace
