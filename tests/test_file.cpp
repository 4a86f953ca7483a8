// Tests of the file system, process and host services. Every file the tests
// make lies in a fresh directory under /tmp that the fixture removes; tests
// that change the current directory get the old one back.
#include "tavo/file.h"
#include "tavo/error.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cctype>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support.h"

namespace {

using namespace tavo_test;

namespace fs = std::filesystem;
using names = std::vector<std::string>;

names list_names(const tavo_list<tavo_string>& L) {
  names out;
  for (const tavo_string& s : L) out.push_back(s.cstring());
  return out;
}

// Entries of dir in readdir order, filtered by keep: the order the listings
// must reproduce.
template <class Keep>
names readdir_names(const std::string& dir, Keep keep) {
  names out;
  DIR* d = opendir(dir.c_str());
  while (const dirent* e = d ? readdir(d) : nullptr) {
    if (keep(std::string(e->d_name))) out.push_back(e->d_name);
  }
  if (d) closedir(d);
  return out;
}

bool exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

void make_file(const std::string& path, const std::string& text = "") {
  std::ofstream f(path, std::ios::binary);
  f << text;
  f.close();
  if (!f) throw std::runtime_error("cannot write " + path);
}

class FileTest : public testing::Test {
 protected:
  void SetUp() override {
    cwd_fd = open(".", O_RDONLY | O_DIRECTORY);
    char pattern[] = "/tmp/tavo_file.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
  }
  void TearDown() override {
    EXPECT_EQ(fchdir(cwd_fd), 0);
    close(cwd_fd);
    std::error_code ignored;
    fs::remove_all(dir, ignored);
  }
  std::string at(const std::string& name) const { return dir + "/" + name; }
  // The names in dir, "." and ".." left out, sorted.
  std::set<std::string> contents() const {
    std::set<std::string> out;
    for (const auto& e : fs::directory_iterator(dir)) out.insert(e.path().filename().string());
    return out;
  }

  int cwd_fd = -1;
  std::string dir;
};

class FileDeathTest : public FileTest {};

// ---- file tests and sizes ---------------------------------------------------------

TEST_F(FileTest, TypeTestsTellFilesDirectoriesAndLinksApart) {
  make_file(at("file"));
  mkdir(at("dir").c_str(), 0755);
  symlink("file", at("to_file").c_str());
  symlink("dir", at("to_dir").c_str());
  symlink("nothing", at("dangling").c_str());
  struct row {
    std::string path;
    bool file, directory, link;
  } rows[] = {
      {at("file"), true, false, false},        {at("dir"), false, true, false},
      {at("to_file"), true, false, true},      {at("to_dir"), false, true, true},
      {at("dangling"), false, false, true},    {at("missing"), false, false, false},
      {at("file/below"), false, false, false}, {"", false, false, false},
  };
  for (const row& r : rows) {
    EXPECT_EQ(is_file(r.path.c_str()), r.file) << r.path;
    EXPECT_EQ(is_directory(r.path.c_str()), r.directory) << r.path;
    EXPECT_EQ(is_link(r.path.c_str()), r.link) << r.path;
  }
}

TEST_F(FileTest, SizeOfFileCountsBytesThroughLinksAndClampsAtIntMax) {
  make_file(at("empty"));
  make_file(at("five"), "hello");
  symlink("five", at("link").c_str());
  EXPECT_EQ(size_of_file(at("empty").c_str()), 0);
  EXPECT_EQ(size_of_file(at("five").c_str()), 5);
  EXPECT_EQ(size_of_file(at("link").c_str()), 5);
  // Sparse files around the int limit; 2^32 + 5 would wrap to 5.
  const std::uintmax_t limit = INT_MAX;
  for (std::uintmax_t size : {limit - 1, limit, limit + 1, (limit + 1) * 2 + 5}) {
    std::error_code ec;
    fs::resize_file(at("five"), size, ec);
    if (ec) GTEST_SKIP() << "no sparse files here: " << ec.message();
    EXPECT_EQ(std::uintmax_t(size_of_file(at("five").c_str())), std::min(size, limit)) << size;
  }
}

TEST_F(FileDeathTest, SizeOfAMissingFileIsFatal) {
  symlink("nothing", at("dangling").c_str());
  for (const std::string& p : {at("missing"), at("dangling")}) {
    EXPECT_DEATH(size_of_file(p.c_str()), fatal_report("size_of_file: file does no exist")) << p;
  }
}

// ---- creating and deleting through the shell ----------------------------------------

// Names that an unquoted shell command would split, expand or run: each
// payload creates "pwned" in the current directory (the test directory).
const char* const hostile[] = {
    "two words",
    "semi; touch pwned",
    "$(touch pwned)",
    "`touch pwned`",
    "it's",
    "q'; touch pwned; echo '",
    "line\ntouch pwned",
    "amp & touch pwned",
    "star*",
    "*",
    "back\\slash",
    "dollar $HOME",
    "pipe | touch pwned",
    "redirect > pwned",
};

TEST_F(FileTest, CreateDirectoryMakesANewDirectoryOnlyOnce) {
  EXPECT_TRUE(create_directory(at("new").c_str()));
  EXPECT_TRUE(fs::is_directory(at("new")));
  EXPECT_FALSE(create_directory(at("new").c_str()));  // exists: false, nothing changes
  make_file(at("file"), "x");
  EXPECT_FALSE(create_directory(at("file").c_str()));
  EXPECT_TRUE(fs::is_regular_file(at("file")));
  EXPECT_FALSE(create_directory(at("no/parent").c_str()));
  EXPECT_EQ(contents(), (std::set<std::string>{"new", "file"}));
}

TEST_F(FileTest, CreateDirectoryTakesShellMetacharactersLiterally) {
  ASSERT_EQ(chdir(dir.c_str()), 0);
  std::set<std::string> made;
  for (const char* name : hostile) {
    EXPECT_TRUE(create_directory(at(name).c_str())) << name;
    EXPECT_TRUE(fs::is_directory(at(name))) << name;
    made.insert(name);
  }
  // Relative names starting with '-' are names, not options.
  for (const char* name : {"-p", "--version"}) {
    EXPECT_TRUE(create_directory(name)) << name;
    made.insert(name);
  }
  EXPECT_EQ(contents(), made);  // exactly these, and no "pwned"
}

TEST_F(FileTest, DeleteFileRemovesExactlyTheNamedFile) {
  ASSERT_EQ(chdir(dir.c_str()), 0);
  make_file(at("keep"));
  std::vector<std::string> targets(std::begin(hostile), std::end(hostile));
  targets.push_back("-x");  // relative: "rm -f -x" would be an option error
  targets.push_back("plain");
  for (const std::string& name : targets) {
    make_file(name[0] == '-' ? name : at(name));
    EXPECT_TRUE(delete_file((name[0] == '-' ? name : at(name)).c_str())) << name;
    EXPECT_EQ(contents(), std::set<std::string>{"keep"}) << name;  // no "pwned" either
  }
  EXPECT_TRUE(delete_file(at("missing").c_str()));
}

// ---- the current directory ---------------------------------------------------------------

TEST_F(FileTest, SetDirectoryReturnsThePreviousDirectory) {
  const std::string start = fs::current_path().string();
  const std::string real = fs::canonical(dir).string();
  mkdir(at("sub").c_str(), 0755);
  EXPECT_EQ(std::string(set_directory(dir.c_str()).cstring()), start);
  EXPECT_EQ(std::string(get_directory().cstring()), real);
  EXPECT_EQ(std::string(set_directory("sub").cstring()), real);
  EXPECT_EQ(fs::current_path().string(), real + "/sub");
  EXPECT_EQ(std::string(get_directory().cstring()), real + "/sub");
}

TEST_F(FileTest, GetDirectoryIsEmptyWhenTheNameExceeds255Characters) {
  const std::string real = fs::canonical(dir).string();
  for (std::size_t length : {std::size_t(255), std::size_t(256)}) {
    const std::string deep = real + "/" + std::string(length - real.size() - 1, 'd');
    ASSERT_EQ(mkdir(deep.c_str(), 0755), 0);
    ASSERT_EQ(chdir(deep.c_str()), 0);
    EXPECT_EQ(std::string(get_directory().cstring()), length == 255 ? deep : "") << length;
  }
}

TEST_F(FileDeathTest, SetDirectoryToANonDirectoryIsFatal) {
  make_file(at("50%s off"));  // the '%' must reach the message as it is
  for (const std::string& p : {at("50%s off"), at("missing")}) {
    EXPECT_DEATH(set_directory(p.c_str()),
                 fatal_report("set_directory: " + p + " is not a directory."));
  }
}

// ---- listings -------------------------------------------------------------------------------

class ListingTest : public FileTest {
 protected:
  void SetUp() override {
    FileTest::SetUp();
    for (const char* f : {"x.txt", ".hidden.txt", "y.dat"}) make_file(at(f));
    for (const char* d : {"sub", "d.txt"}) mkdir(at(d).c_str(), 0755);
    symlink("x.txt", at("lf").c_str());
    symlink("sub", at("ld").c_str());
    symlink("nothing", at("dl").c_str());
  }
};

TEST_F(ListingTest, ListingsKeepReadingOrderAndFollowLinks) {
  const std::set<std::string> files{"x.txt", ".hidden.txt", "y.dat", "lf"};
  const std::set<std::string> dirs{".", "..", "sub", "d.txt", "ld"};
  const auto all = [](const std::string&) { return true; };
  EXPECT_EQ(list_names(get_entries(dir.c_str())), readdir_names(dir, all));
  EXPECT_EQ(readdir_names(dir, all).size(), 10u);
  EXPECT_EQ(list_names(get_files(dir.c_str())),
            readdir_names(dir, [&](const std::string& n) { return files.count(n) > 0; }));
  EXPECT_EQ(list_names(get_directories(dir.c_str())),
            readdir_names(dir, [&](const std::string& n) { return dirs.count(n) > 0; }));
}

TEST_F(ListingTest, FilePatternsMatchLikeTheShellWithDotFilesIncluded) {
  struct row {
    const char* pattern;
    std::set<std::string> expected;
  } rows[] = {
      {"*.txt", {"x.txt", ".hidden.txt"}},  // d.txt is a directory
      {"*", {"x.txt", ".hidden.txt", "y.dat", "lf"}},
      {"?.dat", {"y.dat"}},
      {"[xl]*", {"x.txt", "lf"}},
      {"", {}},
      {"none*", {}},
  };
  for (const row& r : rows) {
    const names got = list_names(get_files(dir.c_str(), r.pattern));
    EXPECT_EQ(std::set<std::string>(got.begin(), got.end()), r.expected) << r.pattern;
    EXPECT_EQ(got.size(), r.expected.size()) << r.pattern;
  }
}

TEST_F(ListingTest, AnUnreadableDirectoryListsNothing) {
  mkdir(at("locked").c_str(), 0755);
  make_file(at("locked/inside"));
  chmod(dir.c_str(), 0755);  // so that a user other than root gets through
  chmod(at("locked").c_str(), 0);
  // root reads any directory: the child drops to the unprivileged user.
  EXPECT_EXIT(
      {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(3);
        if (DIR* d = opendir(at("locked").c_str())) {
          closedir(d);
          _exit(4);  // readable after all: the test would prove nothing
        }
        const tavo_string path = at("locked").c_str();
        const bool empty = get_entries(path).empty() && get_files(path).empty() &&
                           get_files(path, "*").empty() && get_directories(path).empty();
        std::fprintf(stderr, "%s\n", empty ? "empty" : "listed");
        _exit(is_directory(path) ? 0 : 5);
      },
      testing::ExitedWithCode(0), "^empty\n$");
  chmod(at("locked").c_str(), 0755);
}

TEST_F(FileDeathTest, ListingANonDirectoryIsFatal) {
  make_file(at("100%d"));
  for (const std::string& p : {at("100%d"), at("missing")}) {
    const std::string report = fatal_report("read_directory: " + p + " is not a directory.");
    const tavo_string path = p.c_str();
    EXPECT_DEATH(get_entries(path), report);
    EXPECT_DEATH(get_files(path), report);
    EXPECT_DEATH(get_files(path, "*"), report);
    EXPECT_DEATH(get_directories(path), report);
  }
}

// ---- searching a path ---------------------------------------------------------------------------

TEST_F(FileTest, FirstFileInPathTakesTheFirstDirectoryWithARegularFile) {
  for (const char* d : {"d1", "d2", "d3", "d4"}) mkdir(at(d).c_str(), 0755);
  mkdir(at("d1/prog").c_str(), 0755);  // named like the file: no match
  make_file(at("d2/prog"));
  make_file(at("d3/prog"));
  symlink("../d2/prog", at("d4/prog").c_str());
  const auto find = [&](const std::string& path, char sep) {
    return std::string(first_file_in_path("prog", path.c_str(), sep).cstring());
  };
  EXPECT_EQ(find(at("d1") + ":" + at("d2") + ":" + at("d3"), ':'), at("d2/prog"));
  EXPECT_EQ(find(at("d3") + ":" + at("d2"), ':'), at("d3/prog"));
  EXPECT_EQ(find(at("d1") + ";" + at("d4"), ';'), at("d4/prog"));  // a link to a file counts
  EXPECT_EQ(find(at("d1") + " " + at("d3"), ':'), at("d3/prog"));  // blanks separate too
  EXPECT_EQ(find(at("d1") + ";" + at("d3"), ':'), "");             // one entry "d1;d3"
  EXPECT_EQ(find(at("d1"), ':'), "");
  EXPECT_EQ(find("", ':'), "");
}

TEST_F(FileTest, EmptyPathEntriesStandForTheRootDirectory) {
  mkdir(at("d").c_str(), 0755);
  make_file(at("d/prog"));
  const std::string from_root = at("d/prog").substr(1);  // "tmp/.../d/prog"
  EXPECT_EQ(std::string(first_file_in_path("prog", ("::" + at("d") + ":").c_str(), ':').cstring()),
            at("d/prog"));
  for (const std::string& path : {std::string(""), ":" + dir, at("d") + "::"}) {
    EXPECT_EQ(std::string(first_file_in_path(from_root.c_str(), path.c_str(), ':').cstring()),
              "/" + from_root)
        << path;
  }
}

// ---- temporary names, processes
// ------------------------------------------------------------------

TEST_F(FileTest, TmpFileNamesAreFreshAndNotCreated) {
  const std::string prefix = P_tmpdir "/tavo_";
  std::set<std::string> seen;
  for (int i = 0; i < 200; ++i) {
    const std::string name = tmp_file_name().cstring();
    ASSERT_EQ(name.size(), prefix.size() + 12) << name;
    EXPECT_EQ(name.compare(0, prefix.size(), prefix), 0) << name;
    for (char c : name.substr(prefix.size())) EXPECT_TRUE(std::isalnum((unsigned char)c)) << name;
    EXPECT_FALSE(exists(name)) << name;
    EXPECT_TRUE(seen.insert(name).second) << name;
  }
}

TEST_F(FileTest, CreateProcessStartsTheCommandInTheBackground) {
  // The shell's status, not the command's: "exit 3" fails only in the
  // foreground.
  ASSERT_TRUE(create_process("exit 3"));
  EXPECT_FALSE(create_process("("));  // a command line the shell rejects
  // The command blocks until this process opens the fifo, which it does once
  // create_process has returned.
  ASSERT_EQ(mkfifo(at("fifo").c_str(), 0600), 0);
  EXPECT_TRUE(create_process(("echo started > '" + at("fifo") + "'").c_str()));
  std::ifstream in(at("fifo"));
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(line, "started");
}

// ---- battery status
// --------------------------------------------------------------------------------

class ApmTest : public FileTest {
 protected:
  // Status from a file holding text; the outputs start at -7.
  bool status(const std::string& text) {
    make_file(at("apm"), text);
    ac = percent = minutes = -7;
    return tavo_internal::apm_get_status_from(at("apm").c_str(), ac, percent, minutes);
  }
  int ac = -7, percent = -7, minutes = -7;
};

TEST_F(ApmTest, StatusLineGivesAcLineChargeAndMinutes) {
  struct row {
    std::string line;
    int ac, percent, minutes;
  } rows[] = {
      {"1.16 1.2 0x03 0x01 0x00 0x01 85% 600 sec\n", 1, 85, 10},
      {"1.16 1.2 0x03 0x01 0x00 0x01 85% 600 min\n", 1, 85, 600},
      {"1.16 1.2 0x03 0xff 0x00 0x01 -1% 119 sec", 255, -1, 1},
      {"1.16 1.2 0x03 0x00 0x00 0x01 5% -61 sec", 0, 5, -1},                    // toward zero
      {std::string(60, 'v') + " 1.2 0x03 0x01 0x00 0x01 7% 120 sec", 1, 7, 2},  // long word
      {"1.16 1.2 0x03 0x01\n0 0 0 0 0 0 9% 9 sec", 1, -7, -7},                  // first line only
      {"1.16 1.2 0x03 0x01 0x00 0x01 85% soon sec", 1, 85, -7},
      {"", -7, -7, -7},
  };
  for (const row& r : rows) {
    EXPECT_TRUE(status(r.line)) << r.line;
    EXPECT_EQ(ac, r.ac) << r.line;
    EXPECT_EQ(percent, r.percent) << r.line;
    EXPECT_EQ(minutes, r.minutes) << r.line;
  }
}

TEST_F(ApmTest, OnlyTheFirst98CharactersAreRead) {
  const std::string rest = " 1.2 0x03 0x01 0x00 0x01 85% 600 sec";
  for (std::size_t length : {std::size_t(98), std::size_t(99)}) {
    EXPECT_TRUE(status(std::string(length - rest.size(), 'v') + rest + "\n"));
    EXPECT_EQ(minutes, length == 98 ? 10 : 600) << length;  // unit "sec" or "se"
  }
}

TEST_F(ApmTest, MissingStatusFileGivesFalseAndTouchesNothing) {
  int a = -7, p = -7, m = -7;
  EXPECT_FALSE(tavo_internal::apm_get_status_from(at("missing").c_str(), a, p, m));
  EXPECT_TRUE(a == -7 && p == -7 && m == -7);
  // The public function reads /proc/apm.
  const bool present = std::ifstream("/proc/apm").good();
  EXPECT_EQ(apm_get_status(a, p, m), present);
  if (!present) {
    EXPECT_TRUE(a == -7 && p == -7 && m == -7);
  }
}

// ---- host, time, environment, placeholders
// -------------------------------------------------------

TEST(Host, HostInfoGivesTheNameTruncatedToTheBufferAndTheIdentifier) {
  utsname u;
  ASSERT_EQ(uname(&u), 0);
  const std::string host = u.nodename;
  for (std::size_t size = 0; size <= host.size() + 2; ++size) {
    char buf[300];
    std::memset(buf, 'x', sizeof buf);
    unsigned long id = 0;
    get_host_info(buf, size, id);
    EXPECT_LE(id, 0xffffffffUL);  // 32 bits, never sign-extended
    EXPECT_EQ(std::uint32_t(id), std::uint32_t(gethostid()));
    if (size == 0) {
      EXPECT_EQ(buf[0], 'x');
      continue;
    }
    EXPECT_EQ(std::string(buf), host.substr(0, size - 1)) << size;
    EXPECT_EQ(buf[size], 'x') << size;  // nothing past the buffer
  }
}

TEST(Time, GetTimeAndTimeStringGiveTheLocalTimeOfTheCall) {
  const std::time_t before = std::time(nullptr);
  int y, mo, d, h, mi, s;
  get_time(y, mo, d, h, mi, s);
  const std::string text = time_string().cstring();
  const std::time_t after = std::time(nullptr);
  bool fields_match = false, text_matches = false;
  for (std::time_t t = before; t <= after; ++t) {
    tm l;
    localtime_r(&t, &l);
    fields_match |= y == l.tm_year + 1900 && mo == l.tm_mon + 1 && d == l.tm_mday &&
                    h == l.tm_hour && mi == l.tm_min && s == l.tm_sec;
    char c[26];
    text_matches |= text + "\n" == ctime_r(&t, c);
  }
  EXPECT_TRUE(fields_match);
  EXPECT_TRUE(text_matches) << text;
  EXPECT_EQ(text.size(), 24u);
}

TEST(Environment, HomeDirectoryIsHomeOrTmp) {
  const char* old = std::getenv("HOME");
  const std::string saved = old ? old : "";
  setenv("HOME", "/some/where", 1);
  EXPECT_EQ(std::string(get_home_directory().cstring()), "/some/where");
  setenv("HOME", "", 1);
  EXPECT_EQ(std::string(get_home_directory().cstring()), "");
  unsetenv("HOME");
  EXPECT_EQ(std::string(get_home_directory().cstring()), "/tmp");
  if (old) setenv("HOME", saved.c_str(), 1);
}

TEST_F(FileTest, PlaceholdersGiveNoCommandLineAndPlayNothing) {
  char* word = nullptr;
  int argc = 5;
  char** argv = &word;
  get_command_line(argc, argv);
  EXPECT_EQ(argc, 0);
  EXPECT_EQ(argv, nullptr);
  make_file(at("sound.wav"), "RIFF");
  play_wave_file(at("sound.wav").c_str());
  play_wave_file(at("missing.wav").c_str());
  EXPECT_EQ(contents(), std::set<std::string>{"sound.wav"});
  EXPECT_EQ(fs::file_size(at("sound.wav")), 4u);
}

}  // namespace
