// Tests of trackvideo --batch: the LIST and marker parsers, and whole runs
// over small sequences made of the bundled footage: failing lines among good
// ones, skipping and redoing, shards against one run, duplicate names, and a
// sequence killed while it writes.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <sstream>
#include <map>
#include <string>
#include <vector>

#include "tests/child.h"
#include "trackvideo/run/batch.h"

namespace fs = std::filesystem;
using namespace trackvideo;
using tavo_test::file_text;
using tavo_test::run_child;

namespace {

const fs::path kFootage = fs::path(TAVO_EXAMPLES_DIR) / "footage";

TEST(BatchList, SequenceLinesWithCommentsBlanksCrlfAndBadFieldCounts) {
  const std::vector<batch_line> lines =
      parse_batch_list("# header\r\n\r\nseq/a\r\n  seq/b\tmine.txt  \n   # x\nc d e\n\nlast");
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0].line, 3);
  EXPECT_EQ(lines[0].seqdir, "seq/a");
  EXPECT_EQ(lines[0].tracks, "");
  EXPECT_EQ(lines[0].why, "");
  EXPECT_EQ(lines[1].seqdir, "seq/b");
  EXPECT_EQ(lines[1].tracks, "mine.txt");
  EXPECT_EQ(lines[2].line, 6);
  EXPECT_EQ(lines[2].why, "expected SEQDIR or SEQDIR TRACKS, found 3 fields");
  EXPECT_EQ(lines[3].line, 8);
  EXPECT_EQ(lines[3].seqdir, "last");
}

TEST(BatchMarker, RoundTripsAndRefusesWhatIsCutOrForeign) {
  const std::string identity = "trackvideo done 1\nsettings radius=80 rules=1\n";
  const run_figures f{30, 4, 360, 12, 362};
  const std::string text = marker_text(identity, "overlay", f, 1.25);
  std::string id, with;
  run_figures g;
  double seconds = 0;
  ASSERT_TRUE(parse_marker(text, id, with, g, seconds));
  EXPECT_EQ(id, identity);
  EXPECT_EQ(with, "overlay");
  EXPECT_EQ(g.frames, 30);
  EXPECT_EQ(g.boxes, 360);
  EXPECT_EQ(g.ignored_rows, 12);
  EXPECT_EQ(g.pairs, 362);
  EXPECT_DOUBLE_EQ(seconds, 1.25);
  EXPECT_TRUE(parse_marker(marker_text(identity, "", f, 0), id, with, g, seconds));
  EXPECT_EQ(with, "");
  for (std::size_t cut = 0; cut < text.size(); cut += 7)
    EXPECT_FALSE(parse_marker(text.substr(0, cut), id, with, g, seconds)) << cut;
  EXPECT_FALSE(parse_marker("something else\n" + text, id, with, g, seconds));
  for (const char* bad : {"", ".", "..", "summary.csv", "a/b"}) EXPECT_FALSE(usable_name(bad));
  EXPECT_TRUE(usable_name("MOT17-02-FRCNN"));
}

// Sequence folders made of the first frames of the bundled footage (links to
// its images), their ground truth its tracks.
class dataset {
 public:
  fs::path root() const { return tmp_.path(); }
  fs::path out() const { return tmp_.path() / "out"; }
  fs::path add(const std::string& folder, const std::string& name, int frames) const {
    const fs::path dir = root() / folder;
    fs::create_directories(dir / "img1");
    fs::create_directories(dir / "gt");
    for (int f = 1; f <= frames; ++f) {
      char image[32], link[32];
      std::snprintf(image, sizeof image, "frame_%02d.jpg", f);
      std::snprintf(link, sizeof link, "%06d.jpg", f);
      fs::create_symlink(kFootage / image, dir / "img1" / link);
    }
    std::string gt, line;
    std::istringstream rows(file_text(kFootage / "tracks.txt"));
    while (std::getline(rows, line))
      if (std::stoi(line) <= frames) gt += line.substr(0, line.find(",1,-1")) + ",1,1,1\n";
    tavo_test::write_file(dir / "gt" / "gt.txt", gt);
    tavo_test::write_file(dir / "seqinfo.ini", "[Sequence]\nname=" + name +
                                                   "\nimDir=img1\nimExt=.jpg\nseqLength=" +
                                                   std::to_string(frames) + "\n");
    return dir;
  }
  fs::path list(const std::string& text) const { return tmp_.write("LIST", text); }
  tavo_test::child_result batch(std::vector<std::string> args,
                                const tavo_test::child_options& o = {}) const {
    args.insert(args.begin(), {TRACKVIDEO_EXE, "--batch", "LIST", "--out", "out"});
    tavo_test::child_options in_root = o;
    in_root.dir = root().string();
    return run_child(args, in_root);
  }

 private:
  tavo_test::scratch_dir tmp_;
};

// Every file under `dir` and its bytes; summary.csv without its seconds.
std::map<std::string, std::string> tree(const fs::path& dir) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(dir)) {
    if (!e.is_regular_file()) continue;
    std::string text = file_text(e.path());
    if (e.path().filename() == "summary.csv" || e.path().filename() == "done") {
      std::string kept, line;
      std::istringstream lines(text);
      while (std::getline(lines, line))
        if (line.rfind("seconds", 0) != 0) kept += line.substr(0, line.rfind(',')) + "\n";
      text = kept;
    }
    files[fs::relative(e.path(), dir).string()] = text;
  }
  return files;
}

TEST(EndToEndTrackvideoBatch, RunsEveryLineSkipsWhatIsDoneRedoesWhatChanged) {
  dataset d;
  d.add("s1", "alpha", 30);
  d.add("s2", "beta", 6);
  d.list("# two sequences and a broken line\ns1\nmissing\ns2\n");
  const auto first = d.batch({"--jobs", "2"});
  EXPECT_EQ(first.status, 1);
  EXPECT_NE(first.err.find("trackvideo: LIST:3: missing: cannot open missing/seqinfo.ini: "),
            std::string::npos)
      << first.err;
  EXPECT_NE(first.err.find("trackvideo: alpha: 30 frames, 362 pairs, "), std::string::npos);
  const auto single = run_child({TRACKVIDEO_EXE, "--sequence", (d.root() / "s1").string()});
  ASSERT_EQ(single.status, 0);
  EXPECT_EQ(file_text(d.out() / "alpha" / "report.txt"), single.out);
  EXPECT_FALSE(fs::exists(d.out() / "missing"));
  EXPECT_EQ(tree(d.out())["summary.csv"],
            "sequence,frames,tracks,boxes,ignored_rows,pairs\nalpha,30,4,360,0,362\n"
            "beta,6,4,72,0,54\n");

  // Done before: skipped, nothing rewritten; a changed input, --with and
  // --force redo.
  d.list("s1\ns2\n");
  const auto report_inode = fs::status(d.out() / "alpha" / "report.txt");
  const auto before = tree(d.out());
  const auto again = d.batch({});
  EXPECT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(again.err, "trackvideo: alpha: done before, skipped\n"
                       "trackvideo: beta: done before, skipped\n");
  EXPECT_EQ(tree(d.out()), before);
  fs::last_write_time(d.root() / "s2" / "gt" / "gt.txt",
                      fs::last_write_time(d.root() / "s2" / "gt" / "gt.txt") + std::chrono::seconds(5));
  const auto changed = d.batch({"--quiet"});
  EXPECT_EQ(changed.status, 0);
  EXPECT_EQ(changed.err, "");
  const auto with = d.batch({"--with", "overlay,detections"});
  EXPECT_NE(with.err.find("alpha: 30 frames"), std::string::npos) << with.err;
  EXPECT_TRUE(fs::exists(d.out() / "beta" / "overlay" / "frame_000006.png"));
  EXPECT_TRUE(fs::exists(d.out() / "beta" / "detections" / "objects_info_h4_6.txt"));
  EXPECT_EQ(d.batch({"--with", "overlay"}).err,
            "trackvideo: alpha: done before, skipped\ntrackvideo: beta: done before, skipped\n");
  const auto forced = d.batch({"--force", "--radius", "40"});
  EXPECT_EQ(forced.status, 0);
  EXPECT_EQ(forced.err.find("skipped"), std::string::npos) << forced.err;
  EXPECT_NE(tree(d.out())["alpha/report.txt"], before.at("alpha/report.txt"));
}

TEST(EndToEndTrackvideoBatch, ShardsTogetherWriteWhatOneRunWrites) {
  dataset d;
  for (int k = 0; k < 5; ++k)
    d.add("s" + std::to_string(k), "seq" + std::to_string(k), 3 + 2 * k);
  d.list("s0\ns1\ns2 s2/gt/gt.txt\ns3\ns4\n");
  const auto one = d.batch({"--jobs", "2", "--with", "overlay-video"});
  ASSERT_EQ(one.status, 0) << one.err;
  const auto whole = tree(d.out());
  fs::remove_all(d.out());
  for (const char* shard : {"2/3", "0/3", "1/3"}) {
    const auto r = d.batch({"--shard", shard, "--jobs", "1", "--with", "overlay-video"});
    ASSERT_EQ(r.status, 0) << r.err;
  }
  const auto summary = d.batch({});
  EXPECT_EQ(summary.err.find("frames"), std::string::npos) << "everything was done";
  EXPECT_EQ(tree(d.out()), whole);
  EXPECT_EQ(whole.size(), 5u * 5 + 1);
}

TEST(EndToEndTrackvideoBatch, TwoSequencesOfOneNameOrAnOutputThatIsAFileFailBeforeAnythingRuns) {
  dataset d;
  d.add("a", "same", 3);
  d.add("b", "same", 3);
  d.list("a\nb\n");
  const auto r = d.batch({});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "trackvideo: LIST:2: same: the name of line 1's sequence as well\n");
  EXPECT_FALSE(fs::exists(d.out()));
  d.list("a\n");
  tavo_test::write_file(d.out(), "a file");
  const auto not_folder = d.batch({});
  EXPECT_EQ(not_folder.status, 1);
  EXPECT_EQ(not_folder.err, "trackvideo: out is not a folder\n");
}

// A sequence killed while it writes (its table runs past the file size limit)
// leaves its folder as it was; the other sequence is done all the same.
TEST(EndToEndTrackvideoBatch, ASequenceFailingMidWriteLeavesItsFolderAsItWasAndLosesNothingElse) {
  dataset d;
  d.add("big", "big", 30);
  d.add("small", "small", 2);
  d.list("big\nsmall\n");
  ASSERT_EQ(d.batch({"--radius", "30", "--quiet"}).status, 0);  // big's folder as it was
  fs::remove_all(d.out() / "small");
  const auto before = tree(d.out() / "big");
  tavo_test::child_options limited;
  limited.file_size_bytes = 8192;
  limited.file_size_kills = true;
  const auto r = d.batch({"--jobs", "1", "--with", "detections"}, limited);
  EXPECT_EQ(r.status, 1);
  // The file-size limit is a write error like any other, not the end of the
  // process: the sequence fails with its line.
  EXPECT_NE(r.err.find("trackvideo: LIST:1: big: cannot write "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(": File too large\n"), std::string::npos) << r.err;
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(d.out() / "big")) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"done", "encounters.csv", "pairs.csv", "report.txt"}));
  EXPECT_EQ(tree(d.out() / "big"), before);
  EXPECT_TRUE(fs::exists(d.out() / "small" / "detections" / "objects_info_h4_2.txt"));
  const std::string summary = file_text(d.out() / "summary.csv");
  EXPECT_NE(summary.find("\nsmall,2,"), std::string::npos) << summary;
  EXPECT_EQ(summary.find("big"), std::string::npos) << "big's marker is of other settings";
}

}  // namespace
