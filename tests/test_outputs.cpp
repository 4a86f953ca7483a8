// trackvideo's output set: what it refuses before anything is written (two
// outputs naming one file, output folders in or around the frames folder),
// commits that are all or none (a rename the kernel refuses, a rename that
// fails after the checks, a signal in the middle) and the clean-up of the
// folders it made when a signal ends the process.

#include "trackvideo/run/outputs.h"

#include "tests/child.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <set>
#include <string>

namespace fs = std::filesystem;
using trackvideo::output_set;

namespace {

struct scratch : tavo_test::scratch_dir {
  const fs::path root = path();
  // Every path under the root, relative to it.
  std::set<std::string> tree() const {
    std::set<std::string> names;
    for (const auto& e : fs::recursive_directory_iterator(root))
      names.insert(fs::relative(e.path(), root).string());
    return names;
  }
};

trackvideo::name_filter only(const std::string& name) {
  return [name](const std::string& n) { return n == name; };
}

}  // namespace

TEST(OutputSet, TwoOutputsNamingOneFileAreRefusedBeforeAnythingIsWritten) {
  struct clash {
    std::string folder;  // prepared first (holding "objects_info_h1_1.txt"), when given
    std::string first, second, expected;
  };
  const clash cases[] = {
      {"", "x.csv", "x.csv", "it is also the table"},
      {"", "x.csv", "d/../x.csv", "it is also the table"},
      {"", "old", "hard", "it is also the table"},         // a hard link to it
      {"", "link", "old", "it is also the table"},         // a symbolic link to it
      {"", "d/new", "dlink/new", "it is also the table"},  // through a linked folder
      {"d", "", "d/objects_info_h1_1.txt", "it is also one of the detection files"},
      {"d/", "", "dlink/objects_info_h1_1.txt", "it is also one of the detection files"},
  };
  for (const clash& c : cases) {
    scratch s;
    fs::create_directory(s.root / "d");
    s.write("old", "old");
    fs::create_hard_link(s.root / "old", s.root / "hard");
    fs::create_symlink(s.root / "old", s.root / "link");
    fs::create_directory_symlink(s.root / "d", s.root / "dlink");
    const auto before = s.tree();
    const std::string what = c.first + " / " + c.second;
    {
      output_set outputs({});
      common::atomic_file* file = nullptr;
      if (!c.folder.empty()) {
        ASSERT_EQ(outputs.prepare_folder((s.root / c.folder).string(), "the detection files",
                                         only("objects_info_h1_1.txt")),
                  "")
            << what;
      }
      if (!c.first.empty()) {
        ASSERT_EQ(outputs.open((s.root / c.first).string(), "the table", file), "");
      }
      const std::string second = (s.root / c.second).string();
      EXPECT_EQ(outputs.open(second, "the overlay video", file),
                "cannot write " + second + ": " + c.expected)
          << what;
    }
    EXPECT_EQ(s.tree(), before) << what << ": no temporary left";
    EXPECT_EQ(tavo_test::file_text(s.root / "old"), "old");
  }
}

TEST(OutputSet, AnOutputFolderInOrHoldingTheFramesFolderIsRefused) {
  scratch s;
  fs::create_directories(s.root / "frames" / "sub");
  fs::create_directory_symlink(s.root / "frames", s.root / "alias");
  const std::string frames = (s.root / "frames").string();
  const std::pair<std::string, std::string> cases[] = {
      {"frames", "it is the input folder " + frames},
      {"alias", "it is the input folder " + frames},
      {"alias/", "it is the input folder " + frames},
      {"frames/new", "it is inside the input folder " + frames},
      {"alias/sub", "it is inside the input folder " + frames},
      {"frames/sub/..", "it is the input folder " + frames},
      {".", "the input folder " + frames + " is inside it"},
  };
  const auto before = s.tree();
  for (const auto& [dir, expected] : cases) {
    output_set outputs({}, {frames});
    const std::string path = (s.root / dir).string();
    EXPECT_EQ(outputs.prepare_folder(path, "the overlay pictures", only("x")),
              "cannot write into " + path + ": " + expected)
        << dir;
  }
  EXPECT_EQ(s.tree(), before) << "no folder made";
  output_set outputs({}, {frames});
  EXPECT_EQ(outputs.prepare_folder((s.root / "beside").string(), "the overlay pictures", only("x")),
            "");
  // A folder inside another output folder, named as one of its files.
  EXPECT_EQ(
      outputs.prepare_folder((s.root / "beside" / "x").string(), "the detection files", only("y")),
      "cannot write into " + (s.root / "beside" / "x").string() +
          ": it is also one of the overlay pictures");
}

// Three files, the last a new one in another folder: a rename that fails after
// the checks (its folder moved away) puts back the files already in place.
TEST(OutputSet, ARenameFailingMidCommitIsRolledBack) {
  scratch s;
  fs::create_directory(s.root / "a");
  fs::create_directory(s.root / "b");
  s.write("a/x", "old x");
  s.write("b/y", "old y");
  const std::string y = (s.root / "b" / "y").string();
  {
    output_set outputs({});
    for (const char* name : {"a/x", "a/fresh", "b/y"})
      ASSERT_EQ(outputs.write_closed((s.root / name).string(), "new"), "") << name;
    const std::string why = outputs.commit_all([&](std::size_t k) {
      if (k == 2) fs::rename(s.root / "b", s.root / "moved");
    });
    EXPECT_EQ(why, "cannot write " + y + ": No such file or directory");
    EXPECT_EQ(tavo_test::file_text(s.root / "a" / "x"), "old x");
    EXPECT_FALSE(fs::exists(s.root / "a" / "fresh"));
  }
  EXPECT_EQ(tavo_test::file_text(s.root / "moved" / "y"), "old y");
  EXPECT_EQ(s.tree().count("a/fresh"), 0u);
  std::set<std::string> in_a;
  for (const auto& e : fs::directory_iterator(s.root / "a")) in_a.insert(e.path().filename());
  EXPECT_EQ(in_a, std::set<std::string>{"x"}) << "no temporary or kept old file left";
}

// The kernel refuses to replace another user's file in a sticky folder: the
// commit must see it before it renames anything. Root is exempt, so the commit
// runs as a third user.
TEST(OutputSet, ARenameTheStickyBitForbidsIsRefusedBeforeAnyOther) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to make another user's file";
  scratch s;
  fs::create_directory(s.root / "mine");
  fs::create_directory(s.root / "shared");
  ::chmod(s.root.c_str(), 0755);
  ::chmod((s.root / "mine").c_str(), 0777);
  ::chmod((s.root / "shared").c_str(), 01777);
  const fs::path x = s.write("mine/x", "old x"), taken = s.write("shared/taken", "theirs");
  ::chmod(x.c_str(), 0666);
  ::chmod(taken.c_str(), 0666);
  ASSERT_EQ(::chown(taken.c_str(), 65534, 65534), 0);
  EXPECT_EXIT(
      {
        if (::setgid(65533) != 0 || ::setuid(65533) != 0) ::_exit(3);
        output_set outputs({});
        if (outputs.write_closed(x.string(), "new") != "" ||
            outputs.write_closed(taken.string(), "new") != "")
          ::_exit(4);
        const bool refused =
            outputs.commit_all() == "cannot write " + taken.string() + ": Operation not permitted";
        outputs.discard_all();
        ::_exit(refused ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
  EXPECT_EQ(tavo_test::file_text(x), "old x");
  EXPECT_EQ(tavo_test::file_text(taken), "theirs");
  EXPECT_EQ(s.tree(), (std::set<std::string>{"mine", "mine/x", "shared", "shared/taken"}));
}

// A signal arriving between two renames acts only once the set is complete.
TEST(OutputSet, ASignalDuringTheCommitWaitsForItsEnd) {
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    scratch s;
    s.write("x", "old");
    s.write("y", "old");
    EXPECT_EXIT(
        {
          output_set outputs({});
          for (const char* name : {"x", "y", "z"})
            if (outputs.write_closed((s.root / name).string(), "new") != "") ::_exit(1);
          outputs.commit_all([sig](std::size_t k) {
            if (k == 1) ::raise(sig);
          });
          ::_exit(2);  // the signal should have ended the process
        },
        ::testing::KilledBySignal(sig), "")
        << sig;
    for (const char* name : {"x", "y", "z"})
      EXPECT_EQ(tavo_test::file_text(s.root / name), "new") << sig << " " << name;
    EXPECT_EQ(s.tree(), (std::set<std::string>{"x", "y", "z"})) << sig;
  }
}

TEST(OutputSet, AnEndingSignalRemovesTheFoldersItMadeAndTheirTemporaries) {
  scratch s;
  s.write("kept", "old");
  EXPECT_EXIT(
      {
        output_set outputs({});
        common::atomic_file* video = nullptr;
        if (outputs.prepare_folder((s.root / "det").string(), "the detection files", only("f")) !=
                "" ||
            outputs.prepare_folder((s.root / "det" / "inner").string(), "the overlay pictures",
                                   only("g")) != "" ||
            outputs.write_closed((s.root / "det" / "inner" / "g").string(), "new") != "" ||
            outputs.write_closed((s.root / "kept").string(), "new") != "" ||
            outputs.open((s.root / "det" / "v.avi").string(), "the overlay video", video,
                         "overlay.avi") != "")
          ::_exit(1);
        if (s.tree().size() < 6) ::_exit(2);
        ::raise(SIGTERM);
        ::_exit(0);
      },
      ::testing::KilledBySignal(SIGTERM), "");
  EXPECT_EQ(s.tree(), std::set<std::string>{"kept"});
  EXPECT_EQ(tavo_test::file_text(s.root / "kept"), "old");
}

// A killed run's leftovers go with the next run that writes into the folder:
// only names of the exact temporary forms, only of processes that are gone
// (here a zombie: ended, not reaped).
TEST(OutputSet, TemporariesOfProcessesThatAreGoneAreRemovedWhereItWrites) {
  scratch s;
  const pid_t gone = ::fork();
  if (gone == 0) ::_exit(0);
  siginfo_t ended;  // a zombie until the end of the test: ended, not yet reaped
  ASSERT_EQ(::waitid(P_PID, static_cast<id_t>(gone), &ended, WEXITED | WNOWAIT), 0);
  const std::string dead = ".tmp-" + std::to_string(gone) + "-", id = dead.substr(5);
  fs::create_directories(s.root / "pics" / (dead + "Ab3dE9"));
  for (const std::string name : {"0", "17.csv", "2.", "Ab3dE9/overlay.avi"})
    s.write("pics/" + dead + name, "left");
  s.write(dead + "4.png", "left");
  const std::set<std::string> kept = {".tmp-" + std::to_string(::getppid()) + "-3.csv",
                                      dead + "03.csv", dead + "x", dead + "5.a.b",
                                      dead + "1.12345678901234567", ".tmp-0" + id + "1",
                                      ".tmp-+" + id + "1", "keep.csv"};
  for (const std::string& name : kept) s.write(name, "left");
  output_set set({});
  ASSERT_EQ(set.prepare_folder((s.root / "pics").string(), "the pictures", only("a.png")), "");
  common::atomic_file* table = nullptr;
  ASSERT_EQ(set.open((s.root / "table.csv").string(), "the table", table), "");
  set.discard_all();
  std::set<std::string> expected = kept;
  expected.insert("pics");
  EXPECT_EQ(s.tree(), expected);
  ::waitpid(gone, nullptr, 0);
}
