// Tests of trackvideo --batch: the LIST and marker parsers, and whole runs
// over small sequences made of the bundled footage: failing lines among good
// ones, skipping and redoing, shards against one run, duplicate names, a
// sequence killed while it writes, outputs that are inputs, a locked sequence
// folder, stop signals, lists too large and memory running out.
#include <gtest/gtest.h>

#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <sstream>
#include <map>
#include <set>
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
  const std::vector<batch_line> lines = parse_batch_list(
      "\xEF\xBB\xBF# header\r\n\r\nseq/a\r\n  seq/b\tmine.txt  \n   # x\nc d e\n\nlast");
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
  EXPECT_EQ(parse_batch_list("\xEF\xBB\xBF\xEF\xBB\xBFs1")[0].seqdir, "\xEF\xBB\xBFs1");
}

TEST(BatchMarker, RoundTripsAndRefusesWhatIsCutOrForeign) {
  const std::string identity = "trackvideo done 2\nsettings radius=80 rules=1\n";
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
  // Figures of the one integer grammar, in range; nothing after "end".
  const char* const edits[][2] = {{" 4 ", " 4x "},        {" 4 ", " -4 "},      {" 362\n", " 1e3\n"},
                                  {"1.250", "1.2e0"},     {"1.250", "+1.250"},  {"end\n", "end\nx\n"},
                                  {" 12 ", " 9223372036854775808 "}};
  for (const auto& [from, to] : edits) {
    std::string bad = text;
    bad.replace(bad.find(from, identity.size()), std::strlen(from), to);
    EXPECT_FALSE(parse_marker(bad, id, with, g, seconds)) << bad;
  }
  for (const char* bad : {"", ".", "..", "summary.csv", "index.html", "a/b"})
    EXPECT_FALSE(usable_name(bad));
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

// The batch's outputs against all of its inputs, before anything is written:
// one line, status 1, every file as it was.
TEST(EndToEndTrackvideoBatch, AnOutputThatIsAnInputOrInAnInputFolderIsRefusedWritingNothing) {
  dataset d;
  d.add("sx", "sx", 5);
  fs::create_directories(d.root() / "o" / "sx");
  tavo_test::write_file(d.root() / "o" / "sx" / "report.txt", "sx\n");
  tavo_test::write_file(d.root() / "o" / "summary.csv", "sx\n");
  d.list("sx o/summary.csv\n");
  const std::vector<std::vector<std::string>> cases = {  // LIST, DIR, the line
      {"LIST", "o", "cannot write o/summary.csv: it is LIST:1's tracks file o/summary.csv"},
      {"o/summary.csv", "o", "cannot write o/summary.csv: it is the list o/summary.csv"},
      {"o/sx/report.txt", "o", "cannot write o/sx/report.txt: it is the list o/sx/report.txt"},
      {"o/sx/report.txt", "sx/img1", "cannot write into sx/img1: it is o/sx/report.txt:1's "
                                     "frame folder sx/img1"},
      {"o/sx/report.txt", "sx/new", "cannot write into sx/new: it would be in o/sx/report.txt:1's "
                                    "sequence folder sx"}};
  tavo_test::child_options in_root;
  in_root.dir = d.root().string();
  for (const auto& c : cases) {
    const auto before = tree(d.root());
    const auto r = run_child({TRACKVIDEO_EXE, "--batch", c[0], "--out", c[1]}, in_root);
    EXPECT_EQ(r.status, 1) << c[0];
    EXPECT_EQ(r.err, "trackvideo: " + c[2] + "\n");
    EXPECT_EQ(tree(d.root()), before) << c[0];
  }
}

// A batch started in the background, and its status once it ends (as
// child_result counts it).
struct background {
  pid_t pid = -1;
  background(const fs::path& dir, std::vector<std::string> args) {
    args.insert(args.begin(), {TRACKVIDEO_EXE, "--quiet", "--batch", "LIST", "--out", "out"});
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
    posix_spawn_file_actions_addopen(&actions, 2, (dir / "err").c_str(), O_WRONLY | O_CREAT, 0644);
    if (::posix_spawn(&pid, TRACKVIDEO_EXE, &actions, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  int wait() {
    int status = 0;
    for (int tries = 0; ::waitpid(pid, &status, WNOHANG) != pid; ::usleep(10000))
      if (++tries == 6000) ::kill(pid, SIGKILL);  // a minute: it would never end
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
  }
};

// Polls (with a generous bound) until `found` gives a pid, or -1.
template <typename F>
pid_t poll_for(F found) {
  for (int tries = 0; tries < 6000; ++tries, ::usleep(10000))
    if (const pid_t pid = found(); pid != 0) return pid;
  return -1;
}

// The pid of a process waiting for the flock on `dir` (/proc/locks), once one does.
pid_t waiting_for_lock(const fs::path& dir) {
  struct stat st {};
  ::stat(dir.c_str(), &st);
  const std::string inode = ":" + std::to_string(st.st_ino);
  return poll_for([&] {
    std::ifstream locks("/proc/locks");
    for (std::string line; std::getline(locks, line);) {
      std::istringstream fields(line);
      std::string number, arrow, kind, advisory, mode, pid, id;
      if (fields >> number >> arrow >> kind >> advisory >> mode >> pid >> id && arrow == "->" &&
          kind == "FLOCK" && id.size() > inode.size() &&
          id.compare(id.size() - inode.size(), inode.size(), inode) == 0)
        return std::stoi(pid);
    }
    return 0;
  });
}

// A run on a sequence folder another holds waits for it, writing nothing, and
// its marker then describes its own files. A stop signal to the parent alone
// reaches its children, leaves nothing behind and ends the parent by it; a
// parent killed outright takes its children with it.
TEST(EndToEndTrackvideoBatch, ASequenceFolderIsWorkedOnByOneRunAtATimeAndStopSignalsReachChildren) {
  dataset d;
  d.add("s1", "alpha", 8);
  d.add("s2", "beta", 3);
  d.list("s1\n");
  ASSERT_EQ(d.batch({"--quiet", "--with", "detections"}).status, 0);
  const fs::path folder = d.out() / "alpha";
  const auto before = tree(d.out());
  int held = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  background run(d.root(), {"--force", "--radius", "30", "--with", "detections", "--jobs", "1"});
  EXPECT_GT(waiting_for_lock(folder), 0);
  EXPECT_EQ(tree(d.out()), before);
  ::close(held);
  EXPECT_EQ(run.wait(), 0) << file_text(d.root() / "err");
  EXPECT_NE(file_text(folder / "done").find(" radius=30 "), std::string::npos);
  const fs::path near = d.root() / "near.csv";  // the default radius gives another table
  ASSERT_EQ(run_child({TRACKVIDEO_EXE, "--sequence", (d.root() / "s1").string(), "--radius", "30",
                       "--encounters", near.string()})
                .status,
            0);
  EXPECT_EQ(file_text(folder / "encounters.csv"), file_text(near));

  fs::remove_all(d.out());
  fs::create_directories(folder);
  held = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);
  d.list("s1\ns2\n");
  for (const int sig : {SIGTERM, SIGINT, SIGKILL}) {
    background stopped(d.root(), {"--jobs", "1", "--with", "overlay-video"});
    const pid_t child = waiting_for_lock(folder);
    ASSERT_GT(child, 0) << sig;
    ::kill(stopped.pid, sig);
    EXPECT_EQ(stopped.wait(), 128 + sig);
    EXPECT_GT(poll_for([&] {  // gone, or a zombie nobody reaped yet
                const std::string stat = file_text("/proc/" + std::to_string(child) + "/stat");
                return stat.empty() || stat.find(") Z ") != std::string::npos ? child : 0;
              }), 0);
    EXPECT_EQ(file_text(d.root() / "err"), "") << sig;
    EXPECT_EQ(std::distance(fs::recursive_directory_iterator(d.out()), {}), 1) << sig;
  }
  ::close(held);
}

// LIST no larger than 16 MiB, whatever it is; memory running out in the
// parent is one line, as in a single run.
TEST(EndToEndTrackvideoBatch, ATooLargeListOrMemoryRunningOutIsOneLine) {
  dataset d;
  tavo_test::child_options zeros;
  zeros.stdin_path = "/dev/zero";
  EXPECT_EQ(run_child({TRACKVIDEO_EXE, "--batch", "-", "--out", "o"}, zeros).err,
            "trackvideo: cannot read -: larger than 16 MiB\n");
  fs::resize_file(d.list(""), (std::uintmax_t{16} << 20) + 1);
  EXPECT_EQ(d.batch({}).err, "trackvideo: cannot read LIST: larger than 16 MiB\n");
  if (!tavo_test::address_space_limits_apply()) return;
  std::string lines;
  for (int k = 0; k < 4000000; ++k) lines += "s\n";
  d.list(lines);
  tavo_test::child_options small;
  small.address_space_mb = 400;
  const auto r = d.batch({}, small);
  EXPECT_EQ(r.err, "trackvideo: out of memory\n");
  EXPECT_FALSE(fs::exists(d.out()));
}

// A frame edited in place, or a link's target edited, redoes the sequence;
// what dead runs left goes even where everything is skipped.
TEST(EndToEndTrackvideoBatch, AnEditedFrameRedoesTheSequenceAndDeadRunsLeftoversGo) {
  dataset d;
  const fs::path img = d.add("s1", "alpha", 5) / "img1";
  fs::remove(img / "000003.jpg");
  fs::remove(img / "000002.jpg");
  fs::copy_file(kFootage / "frame_03.jpg", img / "000003.jpg");
  fs::copy_file(kFootage / "frame_02.jpg", d.root() / "target.jpg");
  fs::create_symlink(d.root() / "target.jpg", img / "000002.jpg");
  d.list("s1\n");
  ASSERT_EQ(d.batch({"--quiet"}).status, 0);
  const pid_t gone = ::fork();
  if (gone == 0) ::_exit(0);
  ASSERT_EQ(::waitpid(gone, nullptr, 0), gone);
  const std::string left = ".tmp-" + std::to_string(gone) + "-0.csv";
  for (const fs::path& edited : {img / "000003.jpg", d.root() / "target.jpg"}) {
    tavo_test::write_file(d.out() / left, "left");
    tavo_test::write_file(d.out() / "alpha" / left, "left");
    EXPECT_EQ(d.batch({}).err, "trackvideo: alpha: done before, skipped\n");
    EXPECT_FALSE(fs::exists(d.out() / left) || fs::exists(d.out() / "alpha" / left));
    std::fstream(edited, std::ios::in | std::ios::out | std::ios::binary).seekp(100).put('\x55');
    EXPECT_EQ(d.batch({}).err.find("skipped"), std::string::npos) << edited;  // same size
  }
}

// A folder of sequences runs as the list of its subfolders would: the same
// outputs and markers (one run skips what the other did), shards included.
TEST(EndToEndTrackvideoBatch, AFolderBatchWritesWhatTheListOfItsSequencesWrites) {
  tavo_test::scratch_dir tmp;
  const std::string root = (fs::path(TAVO_EXAMPLES_DIR) / "dataset").string();
  // Its sequences in name order: the footage, its DanceTrack-named copy, the
  // second footage (kitti/ holds no seqinfo.ini).
  tmp.write("LIST", root + "/footage-01\n" + root + "/footage-01-dance\n" + root + "/footage-02\n");
  const auto run = [&tmp](std::vector<std::string> args) {
    args.insert(args.begin(), TRACKVIDEO_EXE);
    tavo_test::child_options in_tmp;
    in_tmp.dir = tmp.path().string();
    return run_child(args, in_tmp);
  };
  ASSERT_EQ(run({"--batch", "LIST", "--out", "by-list", "--quiet"}).status, 0);
  ASSERT_EQ(run({"--batch", root, "--out", "by-folder", "--quiet"}).status, 0);
  for (const char* shard : {"1/2", "0/2"})
    ASSERT_EQ(run({"--batch", root, "--out", "sharded", "--shard", shard}).status, 0);
  const auto whole = tree(tmp.path() / "by-list");
  EXPECT_EQ(whole.size(), 3u * 4 + 1);
  EXPECT_EQ(tree(tmp.path() / "by-folder"), whole);
  EXPECT_EQ(tree(tmp.path() / "sharded"), whole);
  EXPECT_EQ(run({"--batch", root, "--out", "by-list"}).err,
            "trackvideo: footage-01: done before, skipped\n"
            "trackvideo: footage-01-dance: done before, skipped\n"
            "trackvideo: footage-02: done before, skipped\n");
}

// --seqmap picks and orders the sequences, and is refused whole when it is
// not one; --results gives each its tracks, a missing one failing only its own.
TEST(EndToEndTrackvideoBatch, ASeqmapOrdersTheSequencesAndAMissingResultsFileFailsOnlyItsOwn) {
  dataset d;
  d.add("seqs/a", "zulu", 4);
  d.add("seqs/b", "beta", 3);
  d.add("seqs/c", "alpha", 3);
  fs::create_directories(d.root() / "seqs" / "no-sequence");
  fs::create_directories(d.root() / "results");
  tavo_test::write_file(d.root() / "results" / "a.txt", file_text(d.root() / "seqs/a/gt/gt.txt"));
  d.list("seqs/a\n");
  const auto run = [&d](std::vector<std::string> args) {
    args.insert(args.begin(), {TRACKVIDEO_EXE, "--batch", "seqs", "--out", "out"});
    tavo_test::child_options in_root;
    in_root.dir = d.root().string();
    return run_child(args, in_root);
  };
  const auto names = [&d] {
    std::string text, line;
    std::istringstream rows(file_text(d.out() / "summary.csv"));
    while (std::getline(rows, line)) text += line.substr(0, line.find(',')) + " ";
    return text;
  };
  ASSERT_EQ(run({}).status, 0);
  EXPECT_EQ(names(), "sequence zulu beta alpha ");
  tavo_test::write_file(d.root() / "map", "\xEF\xBB\xBFname\r\nb\n\na\n");
  ASSERT_EQ(run({"--seqmap", "map"}).status, 0);
  EXPECT_EQ(names(), "sequence beta zulu ");
  const auto results = run({"--seqmap", "map", "--results", "results", "--quiet"});
  EXPECT_EQ(results.status, 1);
  EXPECT_EQ(results.err.rfind("trackvideo: seqs:b: beta: cannot open results/b.txt: ", 0), 0u)
      << results.err;
  EXPECT_EQ(names(), "sequence zulu ");
  EXPECT_NE(file_text(d.out() / "zulu" / "done").find(" results/a.txt\n"), std::string::npos);

  fs::remove_all(d.out());
  const char* const refused[][2] = {
      {"b\n", "map:1: expected the header line \"name\" (a seqmap lists sequence names under it)"},
      {"name\nb\nno-sequence\n",
       "map:3: no-sequence: seqs holds no such sequence (no "
       "seqs/no-sequence/seqinfo.ini)"},
      {"name\na\nb\na\n", "map:4: a: named on line 2 as well"},
      {"name\na b\n", "map:2: expected one sequence name, found 'a b'"}};
  for (const auto& [text, why] : refused) {
    tavo_test::write_file(d.root() / "map", text);
    const auto r = run({"--seqmap", "map"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "trackvideo: " + std::string(why) + "\n");
    EXPECT_FALSE(fs::exists(d.out()));
  }
  EXPECT_EQ(run({"--out", "out", "--seqmap", "map", "--batch", "LIST"}).status, 2);  // a file
}

TEST(EndToEndTrackvideoBatch, WithMetricsEachSequenceWithResultsScoredAndAllCombined) {
  // Ground truth of one row per id and frame (12 frames of 4 tracks); a's
  // results are its ground truth, b's lack track 4: 12 misses; c names none.
  dataset d;
  for (const char* name : {"a", "b", "c"}) d.add(name, std::string("S") + name, 12);
  std::string all, without_4, line;
  std::istringstream rows(file_text(d.root() / "a" / "gt" / "gt.txt"));
  for (std::set<std::string> seen; std::getline(rows, line);)
    if (seen.insert(line.substr(0, line.find(',', line.find(',') + 1))).second) {
      all += line + "\n";
      if (line.find(",4,") != line.find(',')) without_4 += line + "\n";
    }
  for (const char* name : {"a", "b", "c"})
    tavo_test::write_file(d.root() / name / "gt/gt.txt", all);
  tavo_test::write_file(d.root() / "a.txt", all);
  tavo_test::write_file(d.root() / "b.txt", without_4);
  d.list("a a.txt\nb b.txt\nc\n");
  const auto r = d.batch({"--with", "metrics,events", "--quiet"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string table = file_text(d.out() / "metrics.csv");
  EXPECT_LT(table.find("\nSa,"), table.find("\nSb,"));  // in LIST order, c not scored
  EXPECT_LT(table.find("\nSb,"), table.find("\nCOMBINED,"));
  EXPECT_EQ(table.find("\nSc,"), std::string::npos);
  // MOTA 84 / 96; CLR_TP, CLR_FN, CLR_FP, IDSW.
  const std::string combined = table.substr(table.find("COMBINED,"));
  EXPECT_NE(combined.find(",0.875,"), std::string::npos) << combined;
  EXPECT_NE(combined.find(",84,12,0,0,"), std::string::npos) << combined;
  EXPECT_TRUE(fs::exists(d.out() / "Sb" / "events.csv"));
  const std::string marker = file_text(d.out() / "Sa" / "done");
  EXPECT_NE(marker.find("\nevaluation benchmark=MOT17\nground-truth "), std::string::npos);
}

}  // namespace

// A KITTI split folder (image_02/, label_02/) runs as a batch, each sequence
// as its own run would: the same tables, and its metrics rows (a row per
// class) in the batch's metrics.csv before the classes' COMBINED rows.
TEST(EndToEndTrackvideoBatch, AKittiSplitRunsEachSequenceAsItsOwnRunWould) {
  tavo_test::scratch_dir tmp;
  const fs::path kitti = fs::path(TAVO_EXAMPLES_DIR) / "dataset" / "kitti";
  const fs::path split = tmp.path() / "split", results = tmp.path() / "results";
  // The bundled labels with one row per id and frame; results 0000 are them,
  // 0001 has pedestrians 1 and 2 swapped from frame 15 on.
  std::string labels, swapped, line;
  std::istringstream rows(file_text(kitti / "label_02/0000.txt"));
  for (std::set<std::pair<int, int>> seen; std::getline(rows, line);) {
    int frame = 0, id = 0;
    std::istringstream(line) >> frame >> id;
    if (id >= 0 && !seen.emplace(frame, id).second) continue;
    labels += line + "\n";
    const int to = frame >= 15 && (id == 1 || id == 2) ? 3 - id : id;
    swapped += std::to_string(frame) + " " + std::to_string(to) +
               line.substr(line.find(' ', line.find(' ') + 1)) + "\n";
  }
  for (const char* s : {"0000", "0001"}) {
    fs::create_directories(split / "image_02");
    fs::create_directories(split / "label_02");
    fs::copy(kitti / "image_02/0000", split / "image_02" / s);
    tmp.write("split/label_02/" + std::string(s) + ".txt", labels);
  }
  fs::create_directories(results);
  tmp.write("results/0000.txt", labels);
  tmp.write("results/0001.txt", swapped);
  const fs::path out = tmp.path() / "out";
  const auto r =
      run_child({TRACKVIDEO_EXE, "--batch", split.string(), "--format", "kitti", "--results",
                 results.string(), "--out", out.string(), "--with", "metrics,events", "--quiet"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string table = file_text(out / "metrics.csv");
  std::size_t at = table.find('\n') + 1;
  for (const char* s : {"0000", "0001"}) {
    const fs::path one = tmp.path() / s;
    fs::create_directories(one);
    const auto single = run_child(
        {TRACKVIDEO_EXE, "--format", "kitti", "--tracks", (results / s).string() + ".txt",
         "--frames", (split / "image_02" / s).string(), "--ground-truth",
         (split / "label_02" / s).string() + ".txt", "--metrics", (one / "metrics.csv").string(),
         "--events", (one / "events.csv").string(), "--csv", (one / "pairs.csv").string(),
         "--encounters", (one / "encounters.csv").string(), "--quiet"});
    ASSERT_EQ(single.status, 0) << single.err;
    for (const char* name : {"metrics.csv", "events.csv", "pairs.csv", "encounters.csv"})
      EXPECT_EQ(file_text(out / s / name), file_text(one / name)) << s << " " << name;
    const std::string own = file_text(one / "metrics.csv");
    const std::string body = own.substr(own.find('\n') + 1);
    EXPECT_EQ(table.substr(at, body.size()), body);
    at += body.size();
  }
  EXPECT_EQ(table.substr(at, 22), "COMBINED/car,0,0,0,0,0");
  EXPECT_NE(table.find("\nCOMBINED/pedestrian,"), std::string::npos);
  // The swap shows: 0001's pedestrians have switches, 0000's none.
  EXPECT_EQ(file_text(out / "0000/events.csv").find(",switch,"), std::string::npos);
  EXPECT_NE(file_text(out / "0001/events.csv").find("pedestrian,15,switch,"), std::string::npos);
}

namespace {

TEST(EndToEndTrackvideoBatch, WithHtmlTheDatasetPageLinksEachSequenceDoneToItsPage) {
  // A name with bytes an address and an attribute must not take as they are.
  dataset d;
  d.add("s1", "a&b #two", 4);
  d.add("s2", "beta", 3);
  d.list("s1\nmissing\ns2\n");
  const auto r = d.batch({"--with", "html", "--quiet"});
  EXPECT_EQ(r.status, 1) << r.err;
  const std::string index = file_text(d.out() / "index.html");
  const std::string links[][2] = {{"a&amp;b #two", "a%26b%20%23two/page/index.html"},
                                  {"beta", "beta/page/index.html"}};
  for (const auto& [name, address] : links)
    EXPECT_NE(index.find("<a data-sequence=\"" + name + "\" href=\"" + address + "\">"),
              std::string::npos)
        << index;
  EXPECT_TRUE(fs::is_regular_file(d.out() / "a&b #two" / "page" / "index.html"));
  EXPECT_TRUE(fs::is_regular_file(d.out() / "beta" / "page" / "index.html"));
  // COMBINED first (the figures summed), the failed line without a link.
  std::size_t links_found = 0;
  for (std::size_t at = 0; (at = index.find("data-sequence=", at)) != std::string::npos; ++at)
    ++links_found;
  EXPECT_EQ(links_found, 2u);
  EXPECT_LT(index.find("COMBINED</td><td>7</td><td>8</td>"), index.find("data-sequence="));
  EXPECT_NE(index.find(">missing <span class=\"state\">(failed)</span></td><td></td>"),
            std::string::npos);
}

}  // namespace
