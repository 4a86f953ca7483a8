// The atomic output writer: what it refuses (links to nothing too), short and private temporaries,
// many closed files at once, moves, and the clean-up when a signal ends the process. What histfeat
// itself refuses and keeps (inputs named as the output, links, modes) is checked end to end in
// test_histfeat.cpp.

#include "common/atomic_file.h"

#include "tests/child.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using common::atomic_file;
using common::write_file_replacing;

namespace {

struct scratch : tavo_test::scratch_dir {
  const fs::path dir = path();
  std::set<std::string> names() const {
    std::set<std::string> n;
    for (const auto& e : fs::directory_iterator(dir)) n.insert(e.path().filename().string());
    return n;
  }
};

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}
void spit(const fs::path& p, const std::string& text) {
  tavo_test::write_file(p, text);
}
int open_descriptors() {
  return static_cast<int>(std::distance(fs::directory_iterator("/proc/self/fd"), {}));
}

}  // namespace

TEST(AtomicFile, RefusesWhatIsNotARegularFileAndLeavesTheNode) {
  scratch s;
  ASSERT_EQ(::mkfifo((s.dir / "fifo").c_str(), 0644), 0);
  fs::create_directory(s.dir / "dir");
  const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string socket_path = (s.dir / "sock").string();
  ASSERT_LT(socket_path.size(), sizeof address.sun_path);
  socket_path.copy(address.sun_path, socket_path.size());
  ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  const std::pair<fs::path, std::string> nodes[] = {{s.dir / "fifo", "not a regular file"},
                                                    {s.dir / "sock", "not a regular file"},
                                                    {s.dir / "dir", "Is a directory"},
                                                    {"/dev/null", "not a regular file"}};
  const auto before = s.names();
  for (const auto& [node, why] : nodes) {
    const fs::file_type type = fs::status(node).type();
    EXPECT_EQ(write_file_replacing(node.string(), "text"),
              "cannot write " + node.string() + ": " + why);
    EXPECT_EQ(fs::status(node).type(), type) << node;
  }
  EXPECT_EQ(s.names(), before);
  ::close(sock);
}

TEST(AtomicFile, AFileTheCallerMayNotWriteIsRefused) {
  scratch s;
  fs::permissions(s.dir, fs::perms(0777));
  const fs::path locked = s.dir / "locked";
  spit(locked, "keep");
  fs::permissions(locked, fs::perms(0444));
  // Root may write anything: the check runs as nobody in a child.
  EXPECT_EXIT(
      {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(3);
        atomic_file f;
        const bool refused =
            f.open(locked.string()) == "cannot write " + locked.string() + ": Permission denied";
        ::_exit(refused && f.temp_path().empty() ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
  EXPECT_EQ(slurp(locked), "keep");
  EXPECT_EQ(s.names(), std::set<std::string>{"locked"});
}

TEST(AtomicFile, TheTemporaryNameIsShortWhateverTheFinalNameAndKeepsItsExtension) {
  scratch s;
  const fs::path longest = s.dir / std::string(250, 'n');
  EXPECT_EQ(write_file_replacing(longest.string(), "a"), "");
  EXPECT_EQ(write_file_replacing(longest.string(), "b"), "");
  EXPECT_EQ(slurp(longest), "b");
  EXPECT_EQ(s.names().size(), 1u);
  // An encoder that picks its format by the name sees the final name's extension.
  const std::pair<std::string, std::string> extensions[] = {
      {"run.avi", ".avi"},
      {"archive.tar.gz", ".gz"},
      {".hidden", ""},
      {"none", ""},
      {std::string(200, 'x') + "." + std::string(40, 'e'), ""}};
  for (const auto& [name, extension] : extensions) {
    atomic_file f;
    ASSERT_EQ(f.open((s.dir / name).string()), "") << name;
    const std::string temp = fs::path(f.temp_path()).filename().string();
    EXPECT_LE(temp.size(), 40u) << name;
    EXPECT_EQ(temp.substr(temp.size() - extension.size()), extension) << name;
    EXPECT_EQ(fs::path(f.temp_path()).parent_path(), s.dir) << name;
  }
}

TEST(AtomicFile, ThousandsOfClosedFilesWaitForCommitHoldingNoDescriptor) {
  scratch s;
  rlimit files{};
  ::getrlimit(RLIMIT_NOFILE, &files);
  const int count = 3000, descriptors = open_descriptors();
  std::vector<atomic_file> outputs(count);
  for (int i = 0; i < count; ++i) {
    const std::string name = (s.dir / std::to_string(i)).string();
    ASSERT_EQ(outputs[i].open(name), "") << i << " of a limit of " << files.rlim_cur;
    ASSERT_EQ(outputs[i].write(name.data(), name.size()), "");
    ASSERT_EQ(outputs[i].close(), "");
  }
  EXPECT_EQ(open_descriptors(), descriptors);
  EXPECT_EQ(outputs[7].write("!", 1), "") << "a write after close reopens";
  EXPECT_EQ(s.names().size(), static_cast<std::size_t>(count)) << "only temporaries so far";
  EXPECT_FALSE(fs::exists(s.dir / "0"));
  for (int i = 0; i < count; ++i) ASSERT_EQ(outputs[i].commit(), "");
  for (int i : {0, 7, count - 1})
    EXPECT_EQ(slurp(s.dir / std::to_string(i)),
              (s.dir / std::to_string(i)).string() + (i == 7 ? "!" : ""));
  EXPECT_EQ(s.names().size(), static_cast<std::size_t>(count)) << "no temporary left";
}

TEST(AtomicFile, DiscardDestructorAndMoveRemoveTheTemporaryOnce) {
  scratch s;
  spit(s.dir / "out", "old");
  {
    atomic_file a;
    ASSERT_EQ(a.open((s.dir / "out").string()), "");
    ASSERT_TRUE(fs::exists(a.temp_path()));
    atomic_file b(std::move(a));
    EXPECT_EQ(a.temp_path(), "");
    EXPECT_EQ(s.names().size(), 2u);
    a = std::move(b);
    EXPECT_EQ(a.commit(), "");
    EXPECT_EQ(b.commit(), "cannot write : not open");
  }
  EXPECT_EQ(slurp(s.dir / "out"), "");
  {
    atomic_file c;
    ASSERT_EQ(c.open((s.dir / "out").string()), "");
    c.write("x", 1);
  }
  EXPECT_EQ(s.names(), std::set<std::string>{"out"});
  EXPECT_EQ(slurp(s.dir / "out"), "");
}

TEST(AtomicFile, AnEndingSignalRemovesEveryUncommittedTemporary) {
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    scratch s;
    spit(s.dir / "kept", "old");
    EXPECT_EXIT(
        {
          std::vector<atomic_file> files(3);
          for (int i = 0; i < 3; ++i) {
            if (!files[i]
                     .open((s.dir / (i == 0 ? "kept" : "new" + std::to_string(i))).string())
                     .empty())
              ::_exit(1);
            files[i].write("partial", 7);
            if (i < 2) files[i].close();
          }
          if (s.names().size() != 4) ::_exit(2);
          ::raise(sig);
          ::_exit(0);
        },
        ::testing::KilledBySignal(sig), "")
        << sig;
    EXPECT_EQ(s.names(), std::set<std::string>{"kept"}) << sig;
    EXPECT_EQ(slurp(s.dir / "kept"), "old");
  }
}

TEST(AtomicFile, ALinkToNothingIsRefusedAndStaysALink) {
  scratch s;
  fs::create_symlink(s.dir / "missing", s.dir / "dangling");
  fs::create_symlink(s.dir / "loop", s.dir / "loop");
  const std::pair<std::string, std::string> cases[] = {
      {"dangling", "a symbolic link to a file that does not exist"},
      {"loop", "Too many levels of symbolic links"},
  };
  for (const auto& [name, why] : cases) {
    const std::string path = (s.dir / name).string();
    EXPECT_EQ(write_file_replacing(path, "text"), "cannot write " + path + ": " + why);
    EXPECT_TRUE(fs::is_symlink(s.dir / name)) << name;
  }
  EXPECT_EQ(s.names(), (std::set<std::string>{"dangling", "loop"}));
}

// A writer that opens its file by name gets a name in a folder only this
// process made and may use: nothing can be planted there.
TEST(AtomicFile, APrivateTemporaryIsInAFreshFolderOfItsOwn) {
  scratch s;
  spit(s.dir / "out.avi", "old");
  ::chmod((s.dir / "out.avi").c_str(), 0640);
  atomic_file a, b;
  ASSERT_EQ(a.open((s.dir / "out.avi").string(), common::input_set(), "overlay.avi"), "");
  ASSERT_EQ(b.open((s.dir / "other").string(), common::input_set(), "overlay.avi"), "");
  const fs::path folder = fs::path(a.temp_path()).parent_path();
  EXPECT_EQ(fs::path(a.temp_path()).filename(), "overlay.avi");
  EXPECT_EQ(folder.parent_path(), s.dir);
  EXPECT_NE(folder, fs::path(b.temp_path()).parent_path());
  struct stat st;
  ASSERT_EQ(::lstat(folder.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  EXPECT_EQ(st.st_uid, ::geteuid());
  ASSERT_EQ(a.write("new", 3), "");
  ASSERT_EQ(a.commit(), "");
  b.discard();
  EXPECT_EQ(slurp(s.dir / "out.avi"), "new");
  ASSERT_EQ(::stat((s.dir / "out.avi").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(s.names(), std::set<std::string>{"out.avi"}) << "the folders are gone";
}

TEST(AtomicFile, AnEndingSignalRemovesPrivateAndMadeFoldersToo) {
  scratch s;
  EXPECT_EXIT(
      {
        common::temporary_folder made;
        common::temporary_folder inner;
        atomic_file in_made;
        atomic_file video;
        if (made.make((s.dir / "made").string()) != "" ||
            inner.make((s.dir / "made" / "inner").string()) != "" ||
            in_made.open((s.dir / "made" / "inner" / "f").string()) != "" ||
            video.open((s.dir / "made" / "v.avi").string(), common::input_set(), "v.avi") != "")
          ::_exit(1);
        ::raise(SIGHUP);
        ::_exit(0);
      },
      ::testing::KilledBySignal(SIGHUP), "");
  EXPECT_TRUE(s.names().empty());
}

// What the kernel would refuse is found before any rename: a folder the caller
// may not write, another user's file in a sticky folder, a folder now in the
// file's place. Root passes the first two, so the checks run as a third user.
int can_commit_mismatches(const fs::path& dir) {
  if (::setgid(65533) != 0 || ::setuid(65533) != 0) return 100;
  const std::pair<std::string, std::string> cases[] = {
      {"locked/new", "Permission denied"},
      {"sticky/theirs", "Operation not permitted"},
      {"open/now_a_folder", "Is a directory"},
      {"sticky/mine", ""},
  };
  int mismatches = 0;
  for (const auto& [name, why] : cases) {
    const std::string path = (dir / name).string();
    atomic_file f;
    if (f.open(path) != "") return 101;
    if (name == "locked/new") ::chmod((dir / "locked").c_str(), 0555);
    if (name == "open/now_a_folder") fs::create_directory(path);
    mismatches += f.can_commit() != (why.empty() ? "" : "cannot write " + path + ": " + why);
    f.discard();
  }
  return mismatches;
}

TEST(AtomicFile, CanCommitSeesWhatTheRenameWouldBeRefused) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to make another user's file";
  scratch s;
  ::chmod(s.dir.c_str(), 0755);
  for (const char* dir : {"locked", "sticky", "open"}) fs::create_directory(s.dir / dir);
  ASSERT_EQ(::chown((s.dir / "locked").c_str(), 65533, 65533), 0);  // theirs to lock
  ::chmod((s.dir / "sticky").c_str(), 01777);
  ::chmod((s.dir / "open").c_str(), 0777);
  spit(s.dir / "sticky" / "theirs", "theirs");
  ::chmod((s.dir / "sticky" / "theirs").c_str(), 0666);
  ASSERT_EQ(::chown((s.dir / "sticky" / "theirs").c_str(), 65534, 65534), 0);
  EXPECT_EXIT(::_exit(can_commit_mismatches(s.dir)), ::testing::ExitedWithCode(0), "");
  EXPECT_EQ(slurp(s.dir / "sticky" / "theirs"), "theirs");
}
