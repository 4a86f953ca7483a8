// Tests of trackpair: the token checks, the detection-file parser, the
// distances, the two passes called directly, and the real executable run in
// scratch directories. Expected reports come from a brute-force reference
// written here over the same generated boxes.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <new>

#include "tests/child.h"
#include "common/input_file.h"
#include "common/tokens.h"
#include "trackpair/detections.h"
#include "trackpair/trackpair_core.h"

namespace {

namespace fs = std::filesystem;
using trackpair::file_box;

// ---- helpers ------------------------------------------------------------------

// A fresh directory under the system's temp dir, removed with its contents.
using tavo_test::scratch_dir;

// Boxes of every (object, frame index), in file order: layout[q][r].
using layout = std::vector<std::vector<std::vector<file_box>>>;

// The text of a detection file: the count, then per record the four box
// values and 64 reals (a few of them in the unusual forms the parser accepts).
std::string detection_text(const std::vector<file_box>& boxes, const char* sep = "\n") {
  static const char* reals[] = {"0.015625", "0", "1e-3", "nan", "-inf", "0x1p-4", "7"};
  std::ostringstream text;
  text << boxes.size() << sep;
  for (const file_box& b : boxes) {
    text << b[0] << ' ' << b[1] << ' ' << b[2] << ' ' << b[3] << sep;
    for (int i = 0; i < trackpair::hist_bins; ++i) text << reals[i % 7] << (i % 8 == 7 ? sep : " ");
  }
  return text.str();
}

// The first n values of the record "1 2 3 4 0.5 0.5 ..." with value `at`
// (0-based) replaced by `token`, each followed by a blank.
std::string record_text(int n = trackpair::record_tokens, int at = -1,
                        const std::string& token = "") {
  std::string text;
  for (int i = 0; i < n; ++i)
    text += (i == at ? token : i < 4 ? std::to_string(i + 1) : "0.5") + " ";
  return text;
}

void write_layout(const scratch_dir& dir, const layout& boxes) {
  for (std::size_t q = 0; q < boxes.size(); ++q)
    for (std::size_t r = 1; r < boxes[q].size(); ++r)
      dir.write(trackpair::detection_file_name(q, r), detection_text(boxes[q][r]));
}

// Random boxes with values in a narrow range, so that many pairs fall on both
// sides of the distance limit. Frame index 0 stays empty (it is never read).
layout random_layout(int objects, int frames, unsigned seed, int max_per_file) {
  std::mt19937 gen(seed);
  std::uniform_int_distribution<int> count(0, max_per_file), value(0, 40);
  layout boxes(objects, std::vector<std::vector<file_box>>(frames));
  for (auto& per_object : boxes)
    for (int r = 1; r < frames; ++r)
      for (int n = count(gen); n > 0; --n)
        per_object[r].push_back({value(gen), value(gen), value(gen), value(gen)});
  return boxes;
}

// Brute-force report: every detection against every detection of the other
// objects in its frame, distance as a double sum of the file values.
std::string reference_report(const layout& boxes) {
  std::string out;
  for (std::size_t q = 0; q < boxes.size(); ++q)
    for (std::size_t r = 1; r < boxes[q].size(); ++r)
      for (std::size_t s = 0; s < boxes[q][r].size(); ++s) {
        out += std::to_string(q) + " " + std::to_string(r) + " " + std::to_string(s) + " ";
        for (std::size_t a = 0; a < boxes.size(); ++a)
          for (std::size_t b = 0; a != q && b < boxes[a][r].size(); ++b) {
            double d = 0;
            for (int k = 0; k < 4; ++k)
              d += std::fabs(double(boxes[q][r][s][k]) - boxes[a][r][b][k]);
            if (d < 80) out += std::to_string(a) + " " + std::to_string(b) + " ";
          }
        out += "\n";
      }
  return out;
}

// Runs trackpair in `dir` with argv = args: args[0] is the name it is invoked
// by, a link to the executable made in `dir`.
tavo_test::child_result run_in(const scratch_dir& dir, const std::vector<std::string>& args,
                               tavo_test::child_options options = {}) {
  const fs::path link = dir.path() / args[0];
  if (!fs::exists(fs::symlink_status(link))) fs::create_symlink(TRACKPAIR_EXE, link);
  options.dir = dir.path().string();
  return tavo_test::run_child(args, options);
}

// Standard output to `path` (e.g. /dev/full).
tavo_test::child_options stdout_to(const char* path) {
  tavo_test::child_options options;
  options.stdout_path = path;
  return options;
}

// ---- token checks -------------------------------------------------------------

TEST(Tokens, EmptyOrBlankEdgedTokensAreRefusedAndAFailureLeavesTheValue) {
  // The cases a file's tokens never take (the differential tests below
  // cover the rest).
  for (const char* text : {"", " 5", "5 ", "\t5"}) {
    int value = 12345;
    EXPECT_FALSE(common::parse_int_token(text, value)) << "'" << text << "'";
    EXPECT_EQ(value, 12345) << "'" << text << "'";
    const std::string t = text;
    EXPECT_FALSE(trackpair::is_real_token(t.c_str(), t.c_str() + t.size())) << "'" << t << "'";
  }
}

TEST(Tokens, FilesSplitOnEveryBlankAndKeepOtherBytesInTheirTokens) {
  // count 1, box 5 6 7 8, then 64 reals of which the last is "a\0b".
  std::string text = " \t1\n\v5\f\r6 7\t8";
  for (int i = 1; i < trackpair::hist_bins; ++i) text += i % 2 ? "\v0.5" : "\f1";
  std::vector<file_box> got;
  EXPECT_EQ(trackpair::parse_detection_text(text + " 2 \n", got), "");
  EXPECT_EQ(got, (std::vector<file_box>{{5, 6, 7, 8}}));
  EXPECT_EQ(trackpair::parse_detection_text(text + " a" + '\0' + "b \n", got),
            "record 1: 'a?b' is not a number");
}

// ---- detection files ----------------------------------------------------------

TEST(DetectionText, ReadsRecordsWhateverTheLineBreaks) {
  const std::vector<file_box> boxes = {{1, 2, 3, 4}, {INT_MIN, INT_MAX, -1, 0}, {-7, 8, -9, 10}};
  for (const char* sep : {"\n", " ", "\t", "\r\n", "\n\n  \n"}) {
    std::vector<file_box> got;
    ASSERT_EQ(trackpair::parse_detection_text(detection_text(boxes, sep), got), "");
    EXPECT_EQ(got, boxes);
  }
  // Tokens after the counted records are not read.
  std::vector<file_box> got;
  ASSERT_EQ(trackpair::parse_detection_text(detection_text(boxes) + " junk 1.5", got), "");
  EXPECT_EQ(got, boxes);
}

TEST(DetectionText, NoCountMeansNoDetections) {
  for (const char* text : {"", "   ", "\n\t\r\n", "0", " 0 \n", "-0", "+0"}) {
    std::vector<file_box> got = {{1, 1, 1, 1}};
    EXPECT_EQ(trackpair::parse_detection_text(text, got), "") << "'" << text << "'";
    EXPECT_TRUE(got.empty()) << "'" << text << "'";
  }
}

TEST(DetectionText, BadTextNamesTheRecordAndTheToken) {
  const std::string record = record_text();
  const struct {
    std::string text, expect1, expect2;
  } cases[] = {
      {"x", "count", "'x'"},
      {"1.0 " + record, "count", "'1.0'"},
      {"2147483648", "count", "'2147483648'"},
      {"-3 " + record, "count", "-3"},
      {"1", "record 1:", "0 of its 68"},
      {"3 " + record + record + "5 6 7", "record 3:", "3 of its 68"},
      {"2 " + record + record_text(67), "record 2:", "67 of its 68"},
      {"3 " + record + record + record_text(68, 2, "12.5"),
       "record 3:", "'12.5' is not an integer"},
      {"1 " + record_text(68, 0, "2147483648"), "record 1:", "'2147483648' is not an integer"},
      {"1\n" + record_text(68, 40, "abc"), "record 1:", "'abc' is not a number"},
      {"2 " + record + record_text(68, 67, "1e"), "record 2:", "'1e' is not a number"},
      {"1 " + record_text(68, 5, std::string(50, 'z')),
       "record 1:", "'" + std::string(40, 'z') + "'..."},
      {"1 " + record_text(68, 5, "\x01\x7f"), "record 1:", "'\?\?' is not a number"},
  };
  for (const auto& c : cases) {
    std::vector<file_box> got;
    const std::string error = trackpair::parse_detection_text(c.text, got);
    EXPECT_NE(error, "") << c.text;
    EXPECT_NE(error.find(c.expect1), std::string::npos) << error;
    EXPECT_NE(error.find(c.expect2), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
  }
}

// ---- distances ----------------------------------------------------------------

TEST(Distance, BoxDistanceIsExactForAnyInts) {
  using box = trackpair::box_info;
  EXPECT_EQ(trackpair::box_distance(box(0, 0, 0, 0), box(10, -20, 30, -19)), 79);
  EXPECT_EQ(trackpair::box_distance(box(5, 5, 5, 5), box(5, 5, 5, 5)), 0);
  // INT_MIN - INT_MAX wraps to 1 in int arithmetic; the true value is 2^32 - 1.
  EXPECT_EQ(trackpair::box_distance(box(INT_MIN, 0, 0, 0), box(INT_MAX, 0, 0, 0)), 4294967295LL);
  EXPECT_EQ(trackpair::box_distance(box(INT_MIN, INT_MAX, INT_MIN, INT_MAX),
                                    box(INT_MAX, INT_MIN, INT_MAX, INT_MIN)),
            4 * 4294967295LL);
}

// ---- the passes, called directly -----------------------------------------------

// Runs the body with `dir` as the current directory.
template <class F>
void in_directory(const scratch_dir& dir, F body) {
  const fs::path before = fs::current_path();
  fs::current_path(dir.path());
  body();
  fs::current_path(before);
}

TEST(Passes, ReadingStoresEveryBoxPermutedAndReportMatchesReference) {
  scratch_dir dir;
  const layout boxes = random_layout(4, 5, 7, 4);
  write_layout(dir, boxes);
  dir.write("objects_info_h1_1.txt", "garbage");  // frame number 1 is never read
  in_directory(dir, [&] {
    trackpair::box_dictionary dict;
    ASSERT_EQ(trackpair::read_detections(4, 5, dict), "");
    // Entries come out in key order (q, r, s) with the box stored as b1 b3 b2 b4.
    auto it = dict.first_item();
    int total = 0;
    for (int q = 0; q < 4; ++q)
      for (int r = 1; r < 5; ++r) {
        for (int s = 0; s < int(boxes[q][r].size()); ++s, ++total) {
          ASSERT_NE(it, nullptr);
          const auto& k = dict.key(it);
          const auto& i = dict.inf(it);
          const file_box& b = boxes[q][r][s];
          EXPECT_EQ((std::vector<int>{k.first(), k.second(), k.third()}),
                    (std::vector<int>{q, r, s}));
          EXPECT_EQ((file_box{i.first(), i.second(), i.third(), i.fourth()}),
                    (file_box{b[0], b[2], b[1], b[3]}));
          it = dict.next_item(it);
        }
      }
    EXPECT_EQ(it, nullptr);
    EXPECT_EQ(dict.size(), total);

    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    ASSERT_EQ(trackpair::write_report(dict, 1, trackpair::candidate_distance, out), "");
    std::string text(std::ftell(out), '\0');
    std::rewind(out);
    ASSERT_EQ(std::fread(text.data(), 1, text.size(), out), text.size());
    std::fclose(out);
    EXPECT_EQ(text, reference_report(boxes));
  });
}

TEST(Passes, ReadingStopsAtTheFirstBadFileInReadingOrder) {
  scratch_dir dir;
  layout boxes = random_layout(2, 3, 11, 3);
  boxes[0][1] = {{1, 1, 1, 1}, {2, 2, 2, 2}};
  write_layout(dir, boxes);
  dir.write("objects_info_h1_3.txt", "2 1 2 3");  // (0, 2): bad; (1, 1): also bad
  dir.write("objects_info_h2_2.txt", "x");
  in_directory(dir, [&] {
    trackpair::box_dictionary dict;
    const std::string error = trackpair::read_detections(2, 3, dict);
    EXPECT_EQ(error.rfind("objects_info_h1_3.txt: record 1:", 0), 0u) << error;
    EXPECT_EQ(dict.size(), 2);  // only the file read before it
  });
}

TEST(Arguments, CountArgumentsAreWholeNumbersWithinTheLimit) {
  const struct {
    const char* text;
    int limit;
    const char* expect;  // nullptr: accepted
  } cases[] = {
      {"100", 100, nullptr},
      {"-5", 100, nullptr},
      {"+3", 500, nullptr},
      {"101", 100, "n 101 exceeds 100"},
      {"501", 500, "n 501 exceeds 500"},
      {"abc", 100, "n 'abc' is not a whole number"},
      {"5x", 100, "n '5x' is not a whole number"},
      {"", 100, "n '' is not a whole number"},
      {"3000000000", 500, "n '3000000000' is not"},
  };
  for (const auto& c : cases) {
    int value = 0;
    const std::string error = trackpair::parse_count_argument("n", c.text, c.limit, value);
    EXPECT_EQ(error.empty(), c.expect == nullptr) << c.text;
    if (c.expect) {
      EXPECT_EQ(error.rfind(c.expect, 0), 0u) << error;
    } else {
      EXPECT_EQ(value, std::atoi(c.text));
    }
  }
}

// ---- end to end -----------------------------------------------------------------

TEST(EndToEnd, UsageWithFewerThanTwoArguments) {
  scratch_dir dir;
  for (const auto& args : std::vector<std::vector<std::string>>{{"./my tp"}, {"tp", "3"}}) {
    const tavo_test::child_result r = run_in(dir, args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "Usgae: " + args[0] + " num_of_objects num_of_frames \n");
    EXPECT_EQ(r.err, "");
  }
}

TEST(EndToEnd, NothingToReadPrintsNothing) {
  scratch_dir dir;  // no detection file at all
  for (const auto& args : std::vector<std::vector<std::string>>{{"tp", "3", "1"},
                                                                {"tp", "3", "0"},
                                                                {"tp", "3", "-4"},
                                                                {"tp", "0", "9"},
                                                                {"tp", "-1", "500"},
                                                                {"tp", "100", "1", "extra"}}) {
    const tavo_test::child_result r = run_in(dir, args);
    EXPECT_EQ(r.status, 0) << args[1] << " " << args[2];
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
  }
}

TEST(EndToEnd, HandWorkedReports) {
  const int big = INT_MAX, small = INT_MIN;
  const struct {
    const char* what;
    layout boxes;
    const char* expect;
  } cases[] = {
      {"one object never has candidates; r is the loop index",
       {{{}, {{0, 0, 0, 0}, {0, 0, 0, 0}}, {{1, 1, 1, 1}}}},
       "0 1 0 \n0 1 1 \n0 2 0 \n"},
      {"79 is a candidate, 80 is not, overflowing differences are far",
       {{{}, {{0, 0, 0, 0}, {small, 0, 0, 0}}},
        {{}, {{10, 20, 30, 19}, {20, 20, 20, 20}, {big, 0, 0, 0}}}},
       "0 1 0 1 0 \n0 1 1 \n1 1 0 0 0 \n1 1 1 \n1 1 2 \n"},
      {"a count-0 file has no lines; other frames are not compared",
       {{{}, {}, {{5, 5, 5, 5}}}, {{}, {{5, 5, 5, 5}}, {{6, 5, 5, 5}}}},
       "0 2 0 1 0 \n1 1 0 \n1 2 0 0 0 \n"},
      {"candidates by object, then detection",
       {{{}, {{0, 0, 0, 0}, {1, 0, 0, 0}}},
        {{}, {{0, 0, 0, 0}}},
        {{}, {{500, 0, 0, 0}, {0, 0, 0, 2}, {0, 0, 3, 0}}}},
       "0 1 0 1 0 2 1 2 2 \n0 1 1 1 0 2 1 2 2 \n1 1 0 0 0 0 1 2 1 2 2 \n2 1 0 \n"
       "2 1 1 0 0 0 1 1 0 \n2 1 2 0 0 0 1 1 0 \n"},
  };
  for (const auto& c : cases) {
    scratch_dir dir;
    write_layout(dir, c.boxes);
    const tavo_test::child_result r =
        run_in(dir, {"tp", std::to_string(c.boxes.size()), std::to_string(c.boxes[0].size())});
    EXPECT_EQ(r.status, 0) << c.what;
    EXPECT_EQ(r.out, c.expect) << c.what;
    EXPECT_EQ(r.out, reference_report(c.boxes)) << c.what;
    EXPECT_EQ(r.err, "") << c.what;
  }
}

TEST(EndToEnd, RandomInputsMatchTheReference) {
  for (unsigned seed = 1; seed <= 4; ++seed) {
    scratch_dir dir;
    const int objects = 1 + seed % 4, frames = 2 + seed % 3;
    const layout boxes = random_layout(objects, frames, seed, 6);
    write_layout(dir, boxes);
    const tavo_test::child_result r =
        run_in(dir, {"tp", std::to_string(objects), std::to_string(frames)});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, reference_report(boxes)) << "seed " << seed;
    EXPECT_EQ(r.err, "");
  }
}

TEST(EndToEnd, BadInputStopsWithOneLineAndStatus1) {
  const std::string record = record_text();
  const struct {
    std::vector<std::string> args;
    const char* file;  // replaced in a valid 2-object, 3-frame set; nullptr: none
    std::string text;  // its text; "<missing>" / "<dir>": remove it / make it a directory
    std::vector<std::string> expect;
  } cases[] = {
      {{"abc", "3"}, nullptr, "", {"num_of_objects", "'abc'"}},
      {{"5x", "3"}, nullptr, "", {"num_of_objects", "'5x'"}},
      {{"", "3"}, nullptr, "", {"num_of_objects", "''"}},
      {{"2", " 3"}, nullptr, "", {"num_of_frames", "' 3'"}},
      {{"2", "3.0"}, nullptr, "", {"num_of_frames", "'3.0'"}},
      {{"101", "3"}, nullptr, "", {"num_of_objects", "101", "100"}},
      {{"2", "501"}, nullptr, "", {"num_of_frames", "501", "500"}},
      {{"0", "501"}, nullptr, "", {"num_of_frames", "501"}},
      {{"101", "1"}, nullptr, "", {"num_of_objects", "101"}},
      {{"2", "3"},
       "objects_info_h2_3.txt",
       "<missing>",
       {"objects_info_h2_3.txt", std::strerror(ENOENT)}},
      {{"2", "3"},
       "objects_info_h1_2.txt",
       "<dir>",
       {"objects_info_h1_2.txt", std::strerror(EISDIR)}},
      {{"2", "3"}, "objects_info_h2_2.txt", "abc", {"objects_info_h2_2.txt", "'abc'"}},
      {{"2", "3"}, "objects_info_h2_2.txt", "-1", {"objects_info_h2_2.txt", "-1"}},
      {{"2", "3"}, "objects_info_h1_3.txt", "2 " + record, {"objects_info_h1_3.txt", "record 2"}},
      {{"2", "3"},
       "objects_info_h1_3.txt",
       "2 " + record + "1 2 12.5",
       {"objects_info_h1_3.txt", "record 2", "'12.5'"}},
      {{"2", "3"},
       "objects_info_h2_3.txt",
       "1 " + record_text(68, 30, "abc"),
       {"objects_info_h2_3.txt", "record 1", "'abc'"}},
  };
  for (const auto& c : cases) {
    scratch_dir dir;
    write_layout(dir, random_layout(2, 3, 5, 3));
    if (c.file && c.text == "<missing>") fs::remove(dir.path() / c.file);
    if (c.file && c.text == "<dir>") {
      fs::remove(dir.path() / c.file);
      fs::create_directory(dir.path() / c.file);
    }
    if (c.file && c.text[0] != '<') dir.write(c.file, c.text);
    const tavo_test::child_result r = run_in(dir, {"tp", c.args[0], c.args[1]});
    const std::string what = c.args[0] + " " + c.args[1] + " " + (c.file ? c.file : "");
    EXPECT_EQ(r.status, 1) << what;
    EXPECT_EQ(r.out, "") << what;
    EXPECT_EQ(r.err.rfind("trackpair: ", 0), 0u) << r.err;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;  // exactly one line
    for (const std::string& e : c.expect) EXPECT_NE(r.err.find(e), std::string::npos) << r.err;
  }
}

TEST(EndToEnd, FailedWriteIsReported) {
  scratch_dir dir;
  write_layout(dir, random_layout(5, 4, 3, 20));  // more report than one stdio buffer
  for (const auto& args : std::vector<std::vector<std::string>>{{"tp", "5", "4"}, {"tp"}}) {
    const tavo_test::child_result r = run_in(dir, args, stdout_to("/dev/full"));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              std::string("trackpair: cannot write the report: ") + std::strerror(ENOSPC) + "\n");
  }
}

// ---- the fast parsers against the C library -------------------------------------

// Whether strtol reads `token` whole as an int: the definition the integer
// checks must agree with (no leading blank, base 10, no overflow, fits int).
bool strtol_reads_int(const std::string& token, long& value) {
  if (token.empty() || std::isspace(static_cast<unsigned char>(token[0]))) return false;
  if (token.size() > 1 && token[0] == '0' && (token[1] == 'x' || token[1] == 'X')) return false;
  char* stop = nullptr;
  errno = 0;
  value = std::strtol(token.c_str(), &stop, 10);
  return errno != ERANGE && stop == token.c_str() + token.size() && value >= INT_MIN &&
         value <= INT_MAX;
}

// Whether strtof reads `token` whole.
bool strtof_reads(const std::string& token) {
  if (token.empty() || std::isspace(static_cast<unsigned char>(token[0]))) return false;
  char* stop = nullptr;
  std::strtof(token.c_str(), &stop);
  return stop == token.c_str() + token.size();
}

// A detection file of one record whose value `at` (0-based) is `token`.
std::string one_record_with(int at, const std::string& token) {
  return "1 " + record_text(trackpair::record_tokens, at, token);
}

// Tokens at the edges of what the fast paths handle: digit counts around the
// point where the integer scan hands over to the exact check, INT_MIN/INT_MAX
// and their neighbours, the "d.dddddd" form with each byte just outside
// '0' .. '9' ('/' and ':'), the forms only strtof knows, and a few plain
// signs, leading zeros and letters.
std::vector<std::string> edge_tokens() {
  std::vector<std::string> t = {"0",
                                "-0",
                                "+0",
                                "7",
                                "123456789",
                                "999999999",
                                "-999999999",
                                "1000000000",
                                "-1000000000",
                                "2147483647",
                                "2147483648",
                                "-2147483648",
                                "-2147483649",
                                "0000000000012",
                                "-00000000000000000007",
                                "4294967296",
                                "99999999999999999999",
                                "+",
                                "-",
                                "--1",
                                "+-1",
                                "1-",
                                "1+1",
                                "12a",
                                "a12",
                                "0x10",
                                "1e3",
                                ".",
                                "..",
                                "+.",
                                "-.",
                                ".5",
                                "5.",
                                "-.5",
                                "+5.",
                                "1.5",
                                "1..5",
                                "1.5.",
                                "1e",
                                "1e+",
                                "1e-3",
                                "1E5",
                                "1e5x",
                                "1.5e",
                                "nan",
                                "-nan",
                                "NaN",
                                "nan(1)",
                                "inf",
                                "-inf",
                                "infinity",
                                "infinit",
                                "0x1p3",
                                "0x",
                                "0x.8p1",
                                "1e50",
                                "-1e50",
                                "1e-50",
                                "0.015625",
                                "0.000000",
                                "9.999999",
                                "1.234567",
                                "1.23456",
                                "1.2345678",
                                "12.34567",
                                "-1.23456",
                                "/.234567",
                                ":.234567",
                                "1,234567",
                                "1.2345/7",
                                "1.2345:7",
                                "1.23456/",
                                "1.23456:",
                                "+7",
                                "007",
                                "-42",
                                "5x",
                                "12.5",
                                "abc",
                                "e5",
                                "-INF",
                                "9223372036854775807",
                                "9223372036854775808",
                                "-9223372036854775808",
                                "-9223372036854775809",
                                "184467440737095516150"};
  // Every byte of a "d.dddddd" token replaced by each neighbour of a digit.
  for (int at = 0; at < 8; ++at)
    for (const char c : {'/', ':', '.', '0', 'e', '-'}) {
      std::string s = "3.141592";
      s[at] = c;
      t.push_back(s);
    }
  return t;
}

// Random tokens over an alphabet that reaches every branch of both checks.
std::vector<std::string> random_tokens(unsigned seed, int count) {
  static const char alphabet[] = "0123456789000111999+-.eExXpPnNaAiIfFtTyY()/:_";
  std::mt19937 gen(seed);
  std::uniform_int_distribution<int> length(1, 14), pick(0, sizeof alphabet - 2), kind(0, 3);
  std::vector<std::string> tokens;
  for (int i = 0; i < count; ++i) {
    std::string t;
    if (kind(gen) == 0) {
      // mostly digits, as real data is
      std::uniform_int_distribution<int> digit('0', '9');
      const int n = length(gen);
      if (kind(gen) == 0) t += "-+"[kind(gen) % 2];
      for (int k = 0; k < n; ++k) t += static_cast<char>(digit(gen));
      if (kind(gen) == 0) t.insert(t.size() / 2, ".");
    } else {
      for (int n = length(gen); n > 0; --n) t += alphabet[pick(gen)];
    }
    tokens.push_back(t);
  }
  return tokens;
}

TEST(FastParsers, IntegersAgreeWithStrtolOnEdgesAndRandomTokens) {
  std::vector<std::string> tokens = edge_tokens();
  for (const std::string& t : random_tokens(17, 20000)) tokens.push_back(t);
  int accepted = 0;
  for (const std::string& t : tokens) {
    long expect = 0;
    const bool ok = strtol_reads_int(t, expect);
    accepted += ok;
    int value = 12345;
    EXPECT_EQ(common::parse_int_token(t.c_str(), value), ok) << "'" << t << "'";
    EXPECT_EQ(value, ok ? expect : 12345) << "'" << t << "'";  // left alone on failure
    // The same grammar over long long and over a narrow range: of the
    // grammar exactly when strtoll reads it whole, in range by its value.
    errno = 0;
    char* end = nullptr;
    const long long wide = std::strtoll(t.c_str(), &end, 10);
    const bool range_error = errno == ERANGE;
    const bool grammar = !t.empty() && t.find_first_not_of("+-0123456789") == std::string::npos &&
                         *end == '\0' && !std::isspace(static_cast<unsigned char>(t[0]));
    long long got = 7;
    const common::integer_read read = common::parse_integer(t, LLONG_MIN, LLONG_MAX, got);
    EXPECT_EQ(read == common::integer_read::not_integer, !grammar) << "'" << t << "'";
    if (read == common::integer_read::ok) {
      EXPECT_EQ(got, wide) << "'" << t << "'";
    }
    if (grammar) {
      EXPECT_EQ(read == common::integer_read::out_of_range, range_error) << "'" << t << "'";
    }
    if (grammar && !range_error) {
      EXPECT_EQ(common::parse_integer(t, -5, 1000, got) == common::integer_read::ok,
                wide >= -5 && wide <= 1000)
          << "'" << t << "'";
    }
    // A short decimal, when read without strtod, is the very double strtod
    // reads from the whole token.
    double real = 0;
    if (common::parse_short_decimal(t.data(), t.data() + t.size(), real)) {
      char* real_end = nullptr;
      const double expect_real = std::strtod(t.c_str(), &real_end);
      EXPECT_EQ(*real_end, '\0') << "'" << t << "'";
      EXPECT_EQ(std::memcmp(&real, &expect_real, sizeof real), 0) << "'" << t << "'";
    }
    // The same token as a box value of a record, through the file parser's
    // own scan, in the first and the last of the four places.
    for (const int at : {0, 3}) {
      std::vector<file_box> boxes;
      const std::string error = trackpair::parse_detection_text(one_record_with(at, t), boxes);
      EXPECT_EQ(error.empty(), ok) << "'" << t << "' at " << at;
      if (ok) {
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0][at], expect) << "'" << t << "'";
      } else {
        EXPECT_NE(error.find("is not an integer"), std::string::npos) << error;
      }
    }
  }
  EXPECT_GT(accepted, 2000);  // the random tokens reach both answers
}

TEST(FastParsers, RealsAgreeWithStrtofOnEdgesAndRandomTokens) {
  std::vector<std::string> tokens = edge_tokens();
  for (const std::string& t : random_tokens(29, 20000)) tokens.push_back(t);
  int accepted = 0;
  for (const std::string& t : tokens) {
    const bool ok = strtof_reads(t);
    accepted += ok;
    EXPECT_EQ(trackpair::is_real_token(t.c_str(), t.c_str() + t.size()), ok) << "'" << t << "'";
    // Through the file parser: inside a record, followed by other values, and
    // as the record's last value at the very end of the text (no blank after
    // it, so the word-wide check cannot apply there).
    for (const int at : {4, 40}) {
      std::vector<file_box> boxes;
      const std::string error = trackpair::parse_detection_text(one_record_with(at, t), boxes);
      EXPECT_EQ(error.empty(), ok) << "'" << t << "' at " << at;
    }
    std::string text = "1 1 2 3 4";
    for (int i = 5; i < trackpair::record_tokens; ++i) text += " 0.5";
    text += " " + t;
    std::vector<file_box> boxes;
    const std::string error = trackpair::parse_detection_text(text, boxes);
    EXPECT_EQ(error.empty(), ok) << "'" << t << "' last";
    if (!ok) {
      EXPECT_NE(error.find("is not a number"), std::string::npos) << error;
    }
  }
  EXPECT_GT(accepted, 2000);
}

TEST(FastParsers, NulInsideATokenIsPartOfIt) {
  // strtol and strtof stop at a NUL; the token goes on to the next blank.
  for (const int at : {0, 10}) {
    const std::string text = one_record_with(at, std::string("1") + '\0' + "5");
    std::vector<file_box> boxes;
    const std::string error = trackpair::parse_detection_text(text, boxes);
    EXPECT_NE(error, "") << at;
    EXPECT_NE(error.find("'1?5'"), std::string::npos) << error;
  }
  // Eight bytes of a short fraction, then a NUL instead of a blank.
  const std::string text = one_record_with(20, std::string("0.123456") + '\0');
  std::vector<file_box> boxes;
  EXPECT_NE(trackpair::parse_detection_text(text, boxes), "");
}

TEST(FastParsers, TextAfterTheLastRecordIsNeverLookedAt) {
  // Whatever follows the last value used, even a NUL or a cut token.
  for (const std::string& junk : {std::string(" junk"), std::string(" \0"), std::string("\n1e")}) {
    const std::string text = "2\n" + record_text() + "\n" + record_text() + junk;
    std::vector<file_box> boxes;
    EXPECT_EQ(trackpair::parse_detection_text(text, boxes), "");
    EXPECT_EQ(boxes, (std::vector<file_box>{{1, 2, 3, 4}, {1, 2, 3, 4}}));
  }
}

// The definition of a detection file's acceptance, token by token through
// a plain split on blanks with strtol and strtof: the reference for the reader.
bool reference_parse(const std::string& text, std::vector<file_box>& boxes) {
  boxes.clear();
  std::vector<std::string> tokens;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t b = text.find_first_not_of(" \t\n\v\f\r", at);
    if (b == std::string::npos) break;
    at = std::min(text.find_first_of(" \t\n\v\f\r", b), text.size());
    tokens.push_back(text.substr(b, at - b));
  }
  if (tokens.empty()) return true;
  long count = 0;
  if (!strtol_reads_int(tokens[0], count) || count < 0) return false;
  std::size_t next = 1;
  for (long s = 0; s < count; ++s) {
    file_box box{};
    for (int t = 0; t < trackpair::record_tokens; ++t, ++next) {
      if (next == tokens.size()) return false;
      long v = 0;
      if (t < 4 && !strtol_reads_int(tokens[next], v)) return false;
      if (t < 4) box[t] = static_cast<int>(v);
      if (t >= 4 && !strtof_reads(tokens[next])) return false;
    }
    boxes.push_back(box);
  }
  return true;
}

// A record as histfeat writes it: four integers, 64 bins "0.dddddd", a blank
// after each value and a newline at the end.
std::string histfeat_record(int seed) {
  std::string r = std::to_string(seed) + " " + std::to_string(seed + 30) + " " +
                  std::to_string(seed / 2) + " " + std::to_string(seed + 60) + " ";
  for (int k = 0; k < trackpair::hist_bins; ++k) {
    char bin[16];
    std::snprintf(bin, sizeof bin, "0.%06d", (seed * 7919 + k * 104729) % 1000000);
    r += bin;
    r += k + 1 < trackpair::hist_bins ? " " : "\n";
  }
  return r;
}

TEST(FastParsers, HistfeatRecordsWithOneByteOrValueChangedAgreeWithTheDefinition) {
  // Two records in histfeat's form; in the second, each bin in turn replaced
  // by near misses of that form, and each byte in turn replaced by bytes
  // just outside the classes the whole-record check expects.
  const std::string first = "2\n" + histfeat_record(1);
  const std::string second = histfeat_record(2);
  const std::size_t bins_start = second.find("0.");
  std::vector<std::string> texts = {first + second};
  for (int k = 0; k < trackpair::hist_bins; ++k)
    for (const char* bin :
         {"0.12345x", "0.1234567", "0.12345", "/.123456", ":.123456", "0,123456", "0.1234:6",
          "0.12345/", "1.5", "nan", "1e-3", "-0.12345", "12.34567", "0.123456\t", "0.123456  "}) {
      std::string r = second;
      r.replace(bins_start + 9 * static_cast<std::size_t>(k), 8, bin);
      texts.push_back(first + r);
    }
  for (std::size_t i = bins_start; i < second.size(); ++i)
    for (const char c : {'/', ':', '-', '.', ' ', '\t', '\n', 'e', '\0', '\x80', '\xff'}) {
      std::string r = second;
      r[i] = c;
      texts.push_back(first + r);
      texts.push_back(first + r + "3 4");  // text after the last record
    }
  int accepted = 0;
  for (const std::string& text : texts) {
    std::vector<file_box> expect, got;
    const bool ok = reference_parse(text, expect);
    accepted += ok;
    const std::string error = trackpair::parse_detection_text(text, got);
    ASSERT_EQ(error.empty(), ok) << error << "\n"
                                 << common::quote_token(text.data() + first.size(),
                                                        text.data() + text.size());
    if (ok) {
      EXPECT_EQ(got, expect);
    }
  }
  EXPECT_GT(accepted, 100);
  EXPECT_LT(accepted, static_cast<int>(texts.size()) - 100);
}

// ---- reading files in blocks ----------------------------------------------------------

TEST(ReadFile, ReadsWholeFilesOfEverySizeAndReusesTheText) {
  scratch_dir dir;
  std::string got = "left from before";
  for (const std::size_t size :
       {std::size_t{0}, std::size_t{1}, std::size_t{65535}, std::size_t{65536}, std::size_t{65537},
        std::size_t{200000}, std::size_t{3}}) {
    std::string text(size, 'x');
    for (std::size_t i = 0; i < size; ++i) text[i] = static_cast<char>('a' + i * 7 % 26);
    fs::remove(dir.path() / "f.txt");
    dir.write("f.txt", text);
    ASSERT_EQ(common::read_file((dir.path() / "f.txt"), got), "");
    EXPECT_EQ(got, text) << size;
  }
  EXPECT_EQ(common::read_file((dir.path() / "missing.txt"), got), std::strerror(ENOENT));
  EXPECT_EQ(got, "");
  EXPECT_EQ(common::read_file(dir.path(), got), std::strerror(EISDIR));
  EXPECT_EQ(common::read_file("/dev/zero", got), "not a regular file");
}

TEST(Passes, FilesLongerThanTheFirstBlockAreReadWhole) {
  // Files a little longer than the first block read (64 KiB): blanks, then
  // the count and three records, the block ending, file after file, on every
  // byte of the records. A value cut at the end of the block must not be
  // taken for a whole one ("12" of "123", "1e" of "1e5", "0.125" of the
  // invalid "0.125x"), nor may a cut record be reported as incomplete. Each
  // result must be what the whole text gives.
  constexpr int block = 65536;
  std::string records;
  for (int i = 0; i < 3; ++i) {
    records += std::to_string(i) + " " + std::to_string(1000 + i) + " " + std::to_string(-i) + " " +
               std::to_string(123456 + i);
    for (int k = 0; k < trackpair::hist_bins; ++k) records += k % 3 ? " 0.125" : " 1e5";
    records += "\n";
  }
  scratch_dir dir;
  const std::string name = trackpair::detection_file_name(0, 1);
  int failures_seen = 0;
  // Where the block ends: on every byte of the last values and of the first
  // ones, and every 7 bytes in between.
  const int size = static_cast<int>(records.size());
  std::vector<int> pasts;
  for (int past = -3; past < size + 4; ++past)
    if (past < 30 || past > size - 20 || past % 7 == 0) pasts.push_back(past);
  in_directory(dir, [&] {
    for (const int past : pasts)
      // All three records, or two (the third is then text after the records,
      // which must not matter); the last value valid or not; a final newline
      // or none.
      for (const char* count : {"3\n", "2\n"})
        for (const char* last : {"1e5", "0.125x"})
          for (const bool newline : {true, false}) {
            std::string text = count + records;
            text.replace(text.rfind(" 1e5") + 1, 3, last);
            if (!newline) text.pop_back();
            text.insert(0, static_cast<std::size_t>(block + past) - text.size(), ' ');
            // A new file each time: rewriting one in place can make the file
            // system flush it to disk on every close, which is slow.
            fs::remove(dir.path() / name);
            dir.write(name, text);
            std::vector<file_box> expect;
            const std::string expect_error = trackpair::parse_detection_text(text, expect);
            const bool expect_ok = expect_error.empty();
            trackpair::box_dictionary dict;
            const std::string error = trackpair::read_detections(1, 2, dict);
            ASSERT_EQ(error.empty(), expect_ok) << past << " " << count << last << ": " << error;
            if (!expect_ok) {
              EXPECT_EQ(error, name + ": " + expect_error);
              ++failures_seen;
              continue;
            }
            ASSERT_EQ(dict.size(), static_cast<int>(expect.size())) << past;
            int s = 0;
            for (auto it = dict.first_item(); it != nullptr; it = dict.next_item(it), ++s) {
              const auto& i = dict.inf(it);
              EXPECT_EQ((file_box{i.first(), i.third(), i.second(), i.fourth()}), expect[s])
                  << past << " record " << s;
            }
          }
  });
  EXPECT_GT(failures_seen, 0);  // the invalid last value was met
}

// ---- the report pass on harder inputs -------------------------------------------------

// Boxes spread over a wide range and clustered, so that the search meets many
// near misses in its coordinate sums: clusters around centres anywhere in the
// int range (INT_MIN and INT_MAX included), boxes within a cluster differing
// by up to 60 in each value.
layout clustered_layout(int objects, int frames, unsigned seed, int max_per_file) {
  std::mt19937 gen(seed);
  const int centres[] = {0, 1000, -1000, INT_MAX - 30, INT_MIN + 30, 1 << 30, -(1 << 30)};
  std::uniform_int_distribution<int> count(0, max_per_file), centre(0, 6), jitter(-30, 30);
  layout boxes(objects, std::vector<std::vector<file_box>>(frames));
  for (auto& per_object : boxes)
    for (int r = 1; r < frames; ++r)
      for (int n = count(gen); n > 0; --n) {
        const int c = centres[centre(gen)];
        file_box b;
        for (int& v : b) v = c + jitter(gen);
        per_object[r].push_back(b);
      }
  return boxes;
}

// write_report's text, or "<failed: ...>".
std::string report_text(const trackpair::box_dictionary& dict, int first_frame = 1,
                        long long radius = trackpair::candidate_distance) {
  std::FILE* out = std::tmpfile();
  if (out == nullptr) return "<no tmpfile>";
  const std::string error = trackpair::write_report(dict, first_frame, radius, out);
  std::string text(static_cast<std::size_t>(std::ftell(out)), '\0');
  std::rewind(out);
  const std::size_t got = std::fread(text.data(), 1, text.size(), out);
  std::fclose(out);
  return error.empty() && got == text.size() ? text : "<failed: " + error + ">";
}

// The report put together from frame_pairs, frame by frame: each pair goes on
// both lines. Visits in increasing (q, s, a, b) leave every list sorted, so
// the text equals the reference only when that order holds.
std::string report_from_frame_pairs(const layout& boxes) {
  using lists = std::vector<std::vector<std::string>>;  // [q][s]: "a b a b ..."
  std::vector<lists> by_frame;
  for (std::size_t r = 0; r < (boxes.empty() ? 0 : boxes[0].size()); ++r) {
    std::vector<std::vector<trackpair::box_info>> frame(boxes.size());
    lists found(boxes.size());
    for (std::size_t q = 0; q < boxes.size(); ++q) {
      for (const file_box& b : boxes[q][r]) frame[q].emplace_back(b[0], b[2], b[1], b[3]);
      found[q].resize(boxes[q][r].size());
    }
    trackpair::frame_pairs(frame, trackpair::candidate_distance,
                           [&](int q, int s, int a, int b, long long distance) {
                             EXPECT_LT(q, a);
                             EXPECT_EQ(distance, trackpair::box_distance(frame[q][s], frame[a][b]));
                             found[q][s] += std::to_string(a) + " " + std::to_string(b) + " ";
                             found[a][b] += std::to_string(q) + " " + std::to_string(s) + " ";
                           });
    by_frame.push_back(found);
  }
  std::string out;
  for (std::size_t q = 0; q < boxes.size(); ++q)
    for (std::size_t r = 1; r < by_frame.size(); ++r)
      for (std::size_t s = 0; s < by_frame[r][q].size(); ++s) {
        out += std::to_string(q) + " " + std::to_string(r) + " " + std::to_string(s) + " ";
        out += by_frame[r][q][s];
        out += "\n";
      }
  return out;
}

TEST(Passes, ReportMatchesTheReferenceOnClusteredAndCrowdedFrames) {
  const struct {
    int objects, frames, per_file;
    unsigned seed;
    bool clustered;
  } cases[] = {{6, 4, 40, 3, true},
               {3, 3, 90, 4, true},
               {12, 3, 25, 5, false},
               {100, 2, 3, 6, true},
               {2, 5, 0, 7, false}};
  for (const auto& c : cases) {
    scratch_dir dir;
    const layout boxes = c.clustered ? clustered_layout(c.objects, c.frames, c.seed, c.per_file)
                                     : random_layout(c.objects, c.frames, c.seed, c.per_file);
    write_layout(dir, boxes);
    in_directory(dir, [&] {
      trackpair::box_dictionary dict;
      ASSERT_EQ(trackpair::read_detections(c.objects, c.frames, dict), "");
      const std::string expect = reference_report(boxes);
      EXPECT_EQ(report_text(dict), expect) << "seed " << c.seed;
      EXPECT_EQ(report_from_frame_pairs(boxes), expect) << "seed " << c.seed;
    });
  }
}

TEST(Passes, ReportCoversTheFramesFromFirstFrameOn) {
  // Frame index 0 is below the first frame trackpair reports; with the first
  // frame 2, frame index 1 goes too.
  const layout boxes = random_layout(2, 3, 9, 3);
  trackpair::box_dictionary dict;
  for (std::size_t q = 0; q < boxes.size(); ++q)
    for (int r = 1; r < 3; ++r)
      for (std::size_t s = 0; s < boxes[q][r].size(); ++s) {
        const file_box& b = boxes[q][r][s];
        dict.insert(trackpair::box_key(q, r, s), trackpair::box_info(b[0], b[2], b[1], b[3]));
      }
  using key = trackpair::box_key;
  for (const key& k : {key(0, 0, 0), key(-1, 0, 0), key(5, -3, 0)})
    dict.insert(k, trackpair::box_info(0, 0, 0, 0));
  EXPECT_EQ(report_text(dict), reference_report(boxes));
  layout later = boxes;
  for (auto& per_object : later) per_object[1].clear();
  EXPECT_EQ(report_text(dict, 2), reference_report(later));
}

// ---- the report and the frame search as a library ------------------------------------

TEST(WriteReport, ObjectsAndFramesAreAnyInts) {
  using key = trackpair::box_key;
  using box = trackpair::box_info;
  trackpair::box_dictionary dict;
  dict.insert(key(-5, 1000000, 0), box(0, 0, 10, 10));
  dict.insert(key(-5, 1000000, 1), box(500, 0, 510, 10));
  dict.insert(key(70000, 1000000, 0), box(1, 1, 11, 11));
  dict.insert(key(INT_MAX, 1000000, 0), box(505, 5, 515, 15));
  dict.insert(key(3, INT_MIN, 0), box(0, 0, 10, 10));
  dict.insert(key(4, INT_MIN, 0), box(0, 0, 10, 10));
  EXPECT_EQ(report_text(dict, INT_MIN),
            "-5 1000000 0 70000 0 \n-5 1000000 1 2147483647 0 \n3 -2147483648 0 4 0 \n"
            "4 -2147483648 0 3 0 \n70000 1000000 0 -5 0 \n2147483647 1000000 0 -5 1 \n");
  EXPECT_EQ(report_text(dict, 0),
            "-5 1000000 0 70000 0 \n-5 1000000 1 2147483647 0 \n"
            "70000 1000000 0 -5 0 \n2147483647 1000000 0 -5 1 \n");
  EXPECT_EQ(report_text(dict, INT_MAX), "");
}

TEST(WriteReport, RadiusBoundsTheDistanceStrictly) {
  using key = trackpair::box_key;
  using box = trackpair::box_info;
  trackpair::box_dictionary dict;
  dict.insert(key(0, 1, 0), box(INT_MIN, INT_MIN, INT_MIN, INT_MIN));
  dict.insert(key(1, 1, 0), box(INT_MAX, INT_MAX, INT_MAX, INT_MAX));  // 4 * (2^32 - 1) away
  dict.insert(key(2, 1, 0), box(INT_MIN, INT_MIN, INT_MIN, INT_MIN + 5));
  const long long far = 4 * 4294967295LL;
  const struct {
    long long radius;
    const char* expect;
  } cases[] = {
      {LLONG_MIN, "0 1 0 \n1 1 0 \n2 1 0 \n"},
      {0, "0 1 0 \n1 1 0 \n2 1 0 \n"},
      {5, "0 1 0 \n1 1 0 \n2 1 0 \n"},
      {6, "0 1 0 2 0 \n1 1 0 \n2 1 0 0 0 \n"},
      {far - 5, "0 1 0 2 0 \n1 1 0 \n2 1 0 0 0 \n"},
      {far - 4, "0 1 0 2 0 \n1 1 0 2 0 \n2 1 0 0 0 1 0 \n"},
      {far, "0 1 0 2 0 \n1 1 0 2 0 \n2 1 0 0 0 1 0 \n"},
      {far + 1, "0 1 0 1 0 2 0 \n1 1 0 0 0 2 0 \n2 1 0 0 0 1 0 \n"},
      {LLONG_MAX, "0 1 0 1 0 2 0 \n1 1 0 0 0 2 0 \n2 1 0 0 0 1 0 \n"},
  };
  for (const auto& c : cases) EXPECT_EQ(report_text(dict, 1, c.radius), c.expect) << c.radius;
}

TEST(WriteReport, AFailedWriteSaysWhy) {
  const layout boxes = random_layout(5, 4, 3, 20);  // more than one output block
  trackpair::box_dictionary dict;
  for (std::size_t q = 0; q < boxes.size(); ++q)
    for (int r = 1; r < 4; ++r)
      for (std::size_t s = 0; s < boxes[q][r].size(); ++s)
        dict.insert(trackpair::box_key(q, r, s), trackpair::box_info(1, 2, 3, 4));
  std::FILE* full = std::fopen("/dev/full", "w");
  ASSERT_NE(full, nullptr);
  EXPECT_EQ(trackpair::write_report(dict, 1, 80, full),
            std::string("cannot write the report: ") + std::strerror(ENOSPC));
  std::fclose(full);
}

TEST(FramePairs, EveryPairOnceInOrderWithItsDistance) {
  using box = trackpair::box_info;
  // Object 1 has no box; object 3's second box is far from everything.
  const std::vector<std::vector<box>> frame = {
      {box(0, 0, 10, 10), box(2, 2, 12, 12)},
      {},
      {box(1, 0, 10, 10), box(0, 0, 10, 89)},
      {box(0, 0, 10, 11), box(1000, 0, 1010, 10)},
  };
  std::string got;
  trackpair::frame_pairs(frame, 80, [&](int q, int s, int a, int b, long long d) {
    got += std::to_string(q) + std::to_string(s) + std::to_string(a) + std::to_string(b) + ":" +
           std::to_string(d) + " ";
  });
  EXPECT_EQ(got, "0020:1 0021:79 0030:1 0120:7 0130:7 2030:2 2130:78 ");
  got.clear();
  trackpair::frame_pairs(frame, 2, [&](int q, int s, int a, int b, long long d) {
    got += std::to_string(q) + std::to_string(s) + std::to_string(a) + std::to_string(b) + ":" +
           std::to_string(d) + " ";
  });
  EXPECT_EQ(got, "0020:1 0030:1 ");
  int calls = 0;
  trackpair::frame_pairs({}, 80, [&](int, int, int, int, long long) { ++calls; });
  trackpair::frame_pairs({{}, {}}, 80, [&](int, int, int, int, long long) { ++calls; });
  trackpair::frame_pairs({{box(0, 0, 0, 0), box(0, 0, 0, 0)}}, 80,
                         [&](int, int, int, int, long long) { ++calls; });
  EXPECT_EQ(calls, 0);  // no other object, no pair
  // Running out of memory in the visitor stops the visits and is returned,
  // not thrown through the core's interface.
  EXPECT_EQ(trackpair::frame_pairs(frame, 80, [&](int, int, int, int, long long) { ++calls; }), "");
  EXPECT_EQ(calls, 7);
  calls = 0;
  EXPECT_EQ(trackpair::frame_pairs(frame, 80,
                                   [&](int, int, int, int, long long) {
                                     if (++calls == 2) throw std::bad_alloc();
                                   }),
            "out of memory");
  EXPECT_EQ(calls, 2);
}

// ---- stress ---------------------------------------------------------------------------

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif

// "" when the two texts are equal, else the first line where they differ
// (printing two reports of megabytes whole would bury the failure).
std::string first_difference(const std::string& got, const std::string& expect) {
  if (got == expect) return "";
  std::size_t at = 0, line = 1;
  while (at < got.size() && at < expect.size() && got[at] == expect[at]) line += got[at++] == '\n';
  const auto line_at = [at](const std::string& t) {
    const std::size_t begin = t.rfind('\n', at == 0 ? 0 : at - 1);
    const std::size_t from = begin == std::string::npos || at == 0 ? 0 : begin + 1;
    return t.substr(from, t.find('\n', from) - from);
  };
  return "line " + std::to_string(line) + ": got '" + line_at(got) + "', expected '" +
         line_at(expect) + "'";
}

// A detection file with "0" for every real: large files stay small on disk.
std::string compact_text(const std::vector<file_box>& boxes) {
  std::string zeros;
  for (int i = 0; i < trackpair::hist_bins; ++i) zeros += " 0";
  std::string text = std::to_string(boxes.size()) + "\n";
  for (const file_box& b : boxes)
    text += std::to_string(b[0]) + ' ' + std::to_string(b[1]) + ' ' + std::to_string(b[2]) + ' ' +
            std::to_string(b[3]) + zeros + '\n';
  return text;
}

TEST(Stress, HundredThousandRecordsInOneFile) {
  // Object 0 has 100,000 detections in frame index 1, in groups of four at
  // places 200 apart (the work of a frame grows with the square of the boxes
  // close together, so they are spread). Object 1 has 60 near places of
  // object 0 picked at random, off by up to 25 in each value: some within the
  // limit of all four boxes there, some of a few, some of none.
  std::mt19937 gen(2024);
  std::uniform_int_distribution<int> group(0, 24999), off(-25, 25), jitter(0, 9);
  layout boxes(2, std::vector<std::vector<file_box>>(2));
  for (int n = 0; n < 100000; ++n) {
    const int at = (n / 4) * 200 - 2500000;
    boxes[0][1].push_back({at + jitter(gen), at + 50 + jitter(gen), at + jitter(gen), at + 50});
  }
  for (int n = 0; n < 60; ++n) {
    const file_box& near = boxes[0][1][4 * group(gen)];
    boxes[1][1].push_back(
        {near[0] + off(gen), near[1] + off(gen), near[2] + off(gen), near[3] + off(gen)});
  }
  scratch_dir dir;
  dir.write(trackpair::detection_file_name(0, 1), compact_text(boxes[0][1]));
  dir.write(trackpair::detection_file_name(1, 1), detection_text(boxes[1][1]));
  const tavo_test::child_result r = run_in(dir, {"tp", "2", "2"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 100060);
  const std::string expect = reference_report(boxes);
  // Object 1's lines (the last 60) list some candidates, not all of them 4.
  const std::string tail = expect.substr(expect.find("\n1 1 0 ") + 1);
  const long listed = std::count(tail.begin(), tail.end(), ' ') - 4 * 60;
  EXPECT_GT(listed, 2 * 60) << "the check would be weak";
  EXPECT_LT(listed, 2 * 4 * 60) << "the check would be weak";
  EXPECT_EQ(first_difference(r.out, expect), "");
}

TEST(Stress, HundredObjectsByFiveHundredFrames) {
  // The largest run the program allows: 49,900 files of 0 to 2 detections in
  // clusters, so that every frame has candidates and near misses.
  const layout boxes = clustered_layout(trackpair::max_objects, trackpair::max_frames, 77, 2);
  scratch_dir dir;
  write_layout(dir, boxes);
  const tavo_test::child_result r = run_in(dir, {"tp", "100", "500"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  long detections = 0;
  for (const auto& per_object : boxes)
    for (const auto& file : per_object) detections += static_cast<long>(file.size());
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), detections);
  EXPECT_NE(r.out.find("\n99 499 "), std::string::npos) << "the last object and frame are read";
  EXPECT_EQ(first_difference(r.out, reference_report(boxes)), "");
}

TEST(Stress, CountsFarAboveTheRecordsPresentFailWithoutAGiantAllocation) {
  // Three records whatever the count says. Nothing may be sized by the
  // count: the normal build runs in 256 MiB of address space (a count of
  // 2^31 - 1 boxes alone would take 32 GiB), and the peak resident memory
  // stays small in both builds.
  const std::string three = record_text() + "\n" + record_text() + "\n" + record_text() + "\n";
  const struct {
    std::string text, expect;
  } cases[] = {
      {"2147483647\n" + three, "record 4: incomplete, the file ends after 0 of its 68 values"},
      {"1000000000000\n" + three, "the count '1000000000000' is not an integer"},
      {"99999999999999999999999999999999\n" + three,
       "the count '99999999999999999999999999999999' is not an integer"},
      {"4\n" + three, "record 4: incomplete, the file ends after 0 of its 68 values"},
  };
  for (const auto& c : cases) {
    scratch_dir dir;
    write_layout(dir, random_layout(3, 4, 8, 3));
    dir.write("objects_info_h2_3.txt", c.text);
    tavo_test::child_options options;
    if (!kAddressSanitizer) options.address_space_mb = 256;
    const tavo_test::child_result r = run_in(dir, {"tp", "3", "4"}, options);
    EXPECT_EQ(r.status, 1) << c.text.substr(0, 20);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "trackpair: objects_info_h2_3.txt: " + c.expect + "\n");
    EXPECT_LT(r.max_rss_kb, 200 * 1024) << c.text.substr(0, 20);
  }
}

// ---- out of memory, for real -----------------------------------------------------------

TEST(FaultInjection, OutOfAddressSpaceEndsWithTheMemoryReportAndNoOutput) {
  if (kAddressSanitizer)
    GTEST_SKIP() << "AddressSanitizer reserves terabytes of address space for its shadow "
                    "memory: an address-space limit cannot apply";
  // 2,000 files of 200 detections each: 400,000 entries of the dictionary,
  // whose tuples and tree nodes come from the memory manager's blocks (about
  // 50 MiB), more than the limit of 40 MiB leaves room for (the program
  // itself maps about 12 MiB), while each file and the program's other
  // buffers stay small. The same run on a tenth of the objects must pass
  // under the same limit, so that the failure is the dictionary's.
  const int objects = 100, frames = 21;
  const long limit_mb = 40;
  std::mt19937 gen(99);
  std::uniform_int_distribution<int> value(-100000, 100000);
  scratch_dir dir;
  for (int q = 0; q < objects; ++q)
    for (int r = 1; r < frames; ++r) {
      std::vector<file_box> boxes(200);
      for (file_box& b : boxes) b = {value(gen), value(gen), value(gen), value(gen)};
      dir.write(trackpair::detection_file_name(q, r), compact_text(boxes));
    }
  tavo_test::child_options options;
  options.address_space_mb = limit_mb;
  const tavo_test::child_result small = run_in(dir, {"tp", "10", std::to_string(frames)}, options);
  ASSERT_EQ(small.status, 0) << small.err;
  const tavo_test::child_result r =
      run_in(dir, {"tp", std::to_string(objects), std::to_string(frames)}, options);
  EXPECT_EQ(r.status, 128 + SIGABRT);
  EXPECT_EQ(r.out, "");
  // End of line, the statistics table of the manager, then the fatal report.
  EXPECT_EQ(r.err.rfind("\n\n\t STD_MEMORY_MGR (memory status)\n", 0), 0u) << r.err;
  const std::string report = "\nTAVO ERROR HANDLER\n\tTAVO Memory Manager: Out of memory.\n\n\n";
  ASSERT_GE(r.err.size(), report.size()) << r.err;
  EXPECT_EQ(r.err.substr(r.err.size() - report.size()), report) << r.err;
}

TEST(FaultInjection, AFailedAllocationOfTheReaderIsOneLineAndStatus1) {
  if (kAddressSanitizer)
    GTEST_SKIP() << "an address-space limit cannot apply under AddressSanitizer, whose "
                    "operator new reports a failure itself instead of throwing";
  // A sparse file of 1 GiB: holding it does not fit the 256 MiB the run may map.
  scratch_dir dir;
  write_layout(dir, random_layout(2, 3, 5, 3));
  const fs::path big = dir.path() / "objects_info_h2_2.txt";
  fs::remove(big);
  std::ofstream(big).close();
  fs::resize_file(big, std::uintmax_t{1} << 30);
  tavo_test::child_options options;
  options.address_space_mb = 256;
  const tavo_test::child_result r = run_in(dir, {"tp", "2", "3"}, options);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "trackpair: out of memory\n");
}

// In a process of its own: write_report with the address space limited to
// what is mapped and 4 MiB more. 0 when it says "out of memory" and wrote
// nothing.
int report_with_4_mib_free(const trackpair::box_dictionary& dict) {
  std::FILE* out = std::tmpfile();
  std::ifstream statm("/proc/self/statm");
  long pages = 0;
  statm >> pages;
  const rlim_t bytes = static_cast<rlim_t>(pages) * ::sysconf(_SC_PAGESIZE) + (rlim_t{4} << 20);
  const rlimit limit{bytes, bytes};
  if (out == nullptr || pages == 0 || ::setrlimit(RLIMIT_AS, &limit) != 0) return 2;
  const std::string error = trackpair::write_report(dict, 1, 80, out);
  return error == "out of memory" && std::ftell(out) == 0 ? 0 : 3;
}

TEST(FaultInjection, WriteReportSaysOutOfMemoryInsteadOfThrowing) {
  if (kAddressSanitizer)
    GTEST_SKIP() << "AddressSanitizer's operator new reports a failure instead of throwing";
  // 200,000 boxes in the dictionary; then, in a child process, an address
  // space that leaves 4 MiB free: the report's arrays (about 150 bytes a box)
  // cannot be had, and nothing may be written.
  trackpair::box_dictionary dict;
  for (int q = 0; q < 100; ++q)
    for (int s = 0; s < 2000; ++s)
      dict.insert(trackpair::box_key(q, 1, s), trackpair::box_info(s, q, s + 10, q + 10));
  EXPECT_EXIT(std::_Exit(report_with_4_mib_free(dict)), ::testing::ExitedWithCode(0), "");
}

TEST(Stress, AReportOfThousandsOfCandidatesPerLineIsStreamedInBoundedMemory) {
  // Two objects of 3,000 identical boxes each in one frame: every line lists
  // all 3,000 boxes of the other object, 126 MB of report from 6,000 boxes.
  // The peak memory follows the boxes, not the report.
  constexpr int n = 3000;
  const std::vector<file_box> same(n, file_box{10, 50, 20, 60});
  scratch_dir dir;
  dir.write(trackpair::detection_file_name(0, 1), compact_text(same));
  dir.write(trackpair::detection_file_name(1, 1), compact_text(same));
  tavo_test::child_options options;
  options.stdout_path = (dir.path() / "report.txt").string();
  const tavo_test::child_result r = run_in(dir, {"tp", "2", "2"}, options);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  std::uintmax_t expect = 0;  // the length of every line, summed
  std::string list;           // "a 0 a 1 ... a 2999 " without a
  for (int b = 0; b < n; ++b) list += " " + std::to_string(b) + " ";
  for (int q = 0; q < 2; ++q)
    for (int s = 0; s < n; ++s) expect += 4 + std::to_string(s).size() + 1 + list.size() + n + 1;
  EXPECT_EQ(fs::file_size(options.stdout_path), expect);
  std::ifstream report(options.stdout_path);
  std::string first, last, line;
  std::getline(report, first);
  while (std::getline(report, line)) last.swap(line);
  std::string first_expect = "0 1 0", last_expect = "1 1 2999";
  for (int b = 0; b < n; ++b) {
    first_expect += " 1 " + std::to_string(b);
    last_expect += " 0 " + std::to_string(b);
  }
  EXPECT_EQ(first, first_expect + " ");
  EXPECT_EQ(last, last_expect + " ");
  if (!kAddressSanitizer) {
    EXPECT_LT(r.max_rss_kb, 60 * 1024);
  }
  std::printf("peak resident memory of the run: %ld kB\n", r.max_rss_kb);
}

// ---- safe defaults: hostile input ----------------------------------------------------
// Every case runs end to end in both builds; in the sanitizer build a read or
// write out of bounds would end the run with the sanitizer's report instead
// of the one-line message.

TEST(Hostile, MalformedFilesEndWithOneLineAndNothingOnStandardOutput) {
  std::mt19937 gen(5);
  std::string garbage(4096, '\0');
  for (char& c : garbage) c = static_cast<char>(gen());
  garbage[0] = 'G';  // not a blank, so the count is garbage
  const std::string digits(10000, '9');
  const std::string quoted40 = "'" + std::string(40, '9') + "'...";
  const struct {
    const char* what;
    std::string text, expect;  // expect: the start of the message
  } cases[] = {
      {"binary garbage", garbage, "the count 'G"},
      {"NUL bytes", std::string(1000, '\0'), "the count '" + std::string(40, '?') + "'..."},
      {"NUL inside a real", "1 " + record_text(68, 10, std::string("0.5\0", 4)),
       "record 1: '0.5?' is not a number"},
      {"NUL inside an integer", "1 " + record_text(68, 1, std::string("1\0", 2)),
       "record 1: '1?' is not an integer"},
      {"a count of 10,000 digits", digits, "the count " + quoted40 + " is not an integer"},
      {"a box value of 10,000 digits", "1 " + record_text(68, 2, digits),
       "record 1: " + quoted40 + " is not an integer"},
      {"huge coordinates", "1 " + record_text(68, 3, "-2147483649"),
       "record 1: '-2147483649' is not an integer"},
      {"huge coordinates", "1 " + record_text(68, 0, "99999999999999999999"),
       "record 1: '99999999999999999999' is not an integer"},
      {"a count line with no records", "5\n", "record 1: incomplete, the file ends after 0 of"},
      {"ends mid-record", "1 1 2 3", "record 1: incomplete, the file ends after 3 of its 68"},
      {"ends mid-token", "1 " + record_text(67) + "1e", "record 1: '1e' is not a number"},
      {"ends after a sign", "1 " + record_text(67) + "-", "record 1: '-' is not a number"},
      {"ends after a sign", "1 2 -", "record 1: '-' is not an integer"},
  };
  for (const auto& c : cases) {
    scratch_dir dir;
    write_layout(dir, random_layout(2, 3, 5, 3));
    dir.write("objects_info_h2_3.txt", c.text);  // the last file read
    const tavo_test::child_result r = run_in(dir, {"tp", "2", "3"});
    EXPECT_EQ(r.status, 1) << c.what;
    EXPECT_EQ(r.out, "") << c.what;
    const std::string start = "trackpair: objects_info_h2_3.txt: " + c.expect;
    EXPECT_EQ(r.err.substr(0, start.size()), start) << c.what;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << c.what << ": " << r.err;
    for (char ch : r.err)
      EXPECT_TRUE(ch == '\n' || (ch >= 0x20 && ch < 0x7f)) << c.what << ": byte " << int(ch);
  }
}

TEST(Hostile, OddButValidFilesAreReadAsTheirNumbersSay) {
  const std::string digits(10000, '1');  // as a real: out of range, still a number
  const std::string zeros(10000, '0');
  const std::vector<file_box> two = {{INT_MIN, INT_MAX, -1, 0}, {INT_MAX, INT_MAX, INT_MIN, 7}};
  const struct {
    const char* what;
    std::string text;
    std::vector<file_box> boxes;
  } cases[] = {
      {"only whitespace", std::string(5000, ' ') + "\n\t\r\v\f\n", {}},
      {"an empty file", "", {}},
      {"a count of 10,000 digits with the value 1", zeros + "1\n" + record_text(), {{1, 2, 3, 4}}},
      {"a real of 10,000 digits", "1 " + record_text(68, 20, digits), {{1, 2, 3, 4}}},
      {"a box value with 10,000 leading zeros",
       "1 " + record_text(68, 1, zeros + "2"),
       {{1, 2, 3, 4}}},
      {"the extremes of int", detection_text(two, "\r\n"), two},
      {"ends mid-token on a whole value", "1 " + record_text(67) + "0.12", {{1, 2, 3, 4}}},
      {"text after the records", "1 " + record_text() + std::string(3000, 'x'), {{1, 2, 3, 4}}},
  };
  for (const auto& c : cases) {
    layout boxes = random_layout(2, 3, 12, 3);
    boxes[1][2] = c.boxes;
    scratch_dir dir;
    write_layout(dir, boxes);
    dir.write("objects_info_h2_3.txt", c.text);
    const tavo_test::child_result r = run_in(dir, {"tp", "2", "3"});
    EXPECT_EQ(r.status, 0) << c.what << ": " << r.err;
    EXPECT_EQ(r.err, "") << c.what;
    EXPECT_EQ(r.out, reference_report(boxes)) << c.what;
  }
}

// ---- safe defaults: special files ----------------------------------------------------
// Only regular files are read. A device that never ends (/dev/zero,
// /dev/urandom), a FIFO that nobody writes, a directory or a broken link is
// refused at once with one line; the run's alarm (child_options::seconds)
// turns a program that would wait or read forever into a failed test.

TEST(Hostile, SpecialFilesAreRefusedAtOnce) {
  const std::string name = "objects_info_h1_3.txt";
  const struct {
    const char* what;
    std::string expect;
  } cases[] = {
      {"/dev/zero", "not a regular file"},  {"/dev/urandom", "not a regular file"},
      {"/dev/null", "not a regular file"},  {"fifo", "not a regular file"},
      {"directory", std::strerror(EISDIR)}, {"broken link", std::strerror(ENOENT)},
      {"link loop", std::strerror(ELOOP)},
  };
  for (const auto& c : cases) {
    scratch_dir dir;
    write_layout(dir, random_layout(2, 4, 3, 3));
    const fs::path file = dir.path() / name;
    fs::remove(file);
    const std::string what = c.what;
    if (what[0] == '/') fs::create_symlink(what, file);
    if (what == "fifo") {
      ASSERT_EQ(mkfifo(file.c_str(), 0644), 0);
    }
    if (what == "directory") fs::create_directory(file);
    if (what == "broken link") fs::create_symlink(dir.path() / "nowhere", file);
    if (what == "link loop") fs::create_symlink(file, file);
    tavo_test::child_options options;
    options.seconds = 20;
    const tavo_test::child_result r = run_in(dir, {"tp", "2", "4"}, options);
    EXPECT_EQ(r.status, 1) << what << (r.status == 128 + SIGALRM ? ": did not end" : "");
    EXPECT_EQ(r.out, "") << what;
    EXPECT_EQ(r.err, "trackpair: " + name + ": " + c.expect + "\n") << what;
  }
}

TEST(Hostile, AFifoWithAWriterIsRefusedTooAndNotReadFrom) {
  // Even a FIFO that has a writer is no regular file: refused, its data left.
  scratch_dir dir;
  write_layout(dir, random_layout(1, 3, 3, 3));
  const fs::path file = dir.path() / "objects_info_h1_2.txt";
  fs::remove(file);
  ASSERT_EQ(mkfifo(file.c_str(), 0644), 0);
  const int reader = open(file.c_str(), O_RDONLY | O_NONBLOCK);  // lets the writer open
  const int writer = open(file.c_str(), O_WRONLY | O_NONBLOCK);
  ASSERT_GE(writer, 0);
  ASSERT_EQ(write(writer, "0\n", 2), 2);
  tavo_test::child_options options;
  options.seconds = 20;
  const tavo_test::child_result r = run_in(dir, {"tp", "1", "3"}, options);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "trackpair: objects_info_h1_2.txt: not a regular file\n");
  char left[4] = {};
  EXPECT_EQ(read(reader, left, sizeof left), 2);
  close(writer);
  close(reader);
}

// ---- safe defaults: output -------------------------------------------------------------

TEST(SafeDefaultsOutput, NothingIsPrintedWhenAnyInputIsBadEvenAfterMegabytesOfReport) {
  // The report of the good files would fill several of the program's output
  // blocks; the bad file is the last one read.
  const layout boxes = random_layout(30, 40, 21, 6);
  scratch_dir dir;
  write_layout(dir, boxes);
  ASSERT_GT(reference_report(boxes).size(), std::size_t{1} << 20);
  dir.write(trackpair::detection_file_name(29, 39), "2 " + record_text() + "1 2 3");
  const tavo_test::child_result r = run_in(dir, {"tp", "30", "40"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err,
            "trackpair: objects_info_h30_40.txt: record 2: incomplete, the file ends after "
            "3 of its 68 values\n");
}

TEST(SafeDefaultsOutput, AClosedOutputIsAWriteErrorAndABrokenPipeEndsTheRunBySigpipe) {
  // A broken pipe ends the run as it ends any writer in a pipeline whose
  // reader has gone (trackpair 3 2 | head -c 10): by SIGPIPE, saying nothing.
  scratch_dir dir;
  write_layout(dir, random_layout(3, 3, 4, 4));
  for (const bool pipe : {false, true})
    for (const auto& args : std::vector<std::vector<std::string>>{{"tp", "3", "3"}, {"tp"}}) {
      tavo_test::child_options options;
      options.close_stdout = !pipe;
      options.broken_pipe = pipe;
      const tavo_test::child_result r = run_in(dir, args, options);
      EXPECT_EQ(r.status, pipe ? 128 + SIGPIPE : 1) << pipe << args.size();
      EXPECT_EQ(r.err, pipe ? ""
                            : std::string("trackpair: cannot write the report: ") +
                                  std::strerror(EBADF) + "\n")
          << pipe << args.size();
    }
}

}  // namespace
