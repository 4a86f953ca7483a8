// histfeat: histogram, box and record functions on synthetic planes; the real
// program on frames of the bundled footage in scratch directories; the demo
// pipeline on the whole footage. Expected records are computed here by direct
// pixel counting (frames decoded with cv::imread, as the program does), never
// by the program's own functions.

#include "histfeat.h"

#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <map>
#include <numeric>
#include <set>
#include <sstream>
#include <xmmintrin.h>

namespace fs = std::filesystem;
using namespace histfeat;

namespace {

const fs::path kFootage = fs::path(TAVO_EXAMPLES_DIR) / "footage";

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}
void spit(const fs::path& p, const std::string& text) {
  std::ofstream(p, std::ios::binary) << text;
}
std::vector<std::string> split(const std::string& text, char sep) {
  std::vector<std::string> parts;
  std::stringstream in(text);
  for (std::string part; std::getline(in, part, sep);) parts.push_back(part);
  return parts;
}

// A directory removed with everything in it at scope exit; `work` is the
// working directory of runs, the captured streams stay beside it.
struct scratch {
  fs::path root, work;
  scratch() {
    std::string name = (fs::temp_directory_path() / "histfeat-test.XXXXXX").string();
    if (!::mkdtemp(name.data())) throw std::runtime_error("mkdtemp failed");
    root = name;
    work = root / "work";
    fs::create_directory(work);
  }
  ~scratch() {
    std::error_code ignored;
    fs::remove_all(root, ignored);
  }
};

struct outcome {
  int status;
  std::string out, err;
};

// Runs args[0] with `args` in s.work, standard output and error into files.
outcome run_in(const scratch& s, const std::vector<std::string>& args) {
  const std::string out = (s.root / "stdout").string(), err = (s.root / "stderr").string();
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = ::fork();
  if (pid == 0) {  // only async-signal-safe calls: OpenCV may have started threads
    int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (o < 0 || e < 0 || ::chdir(s.work.c_str()) != 0) ::_exit(126);
    ::dup2(o, 1);
    ::dup2(e, 2);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  int status = -1;
  ::waitpid(pid, &status, 0);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp(out), slurp(err)};
}

outcome run_histfeat(const scratch& s) {
  return run_in(s, {HISTFEAT_EXE});
}

// The record histfeat must write for box (x1 y1 x2 y2) of `image`: every sample of
// the box clipped to the image counted by hand, scaled in double, printed from float.
std::string expected_record(const cv::Mat& image, const std::array<int, 4>& b) {
  const int bins[3] = {32, 32, 16}, shown[3] = {24, 24, 16};
  std::vector<long long> count[3] = {std::vector<long long>(32), std::vector<long long>(32),
                                     std::vector<long long>(16)};
  long long total = 0;
  for (int y = std::max(b[1], 0); y <= std::min(b[3], image.rows - 1); ++y)
    for (int x = std::max(b[0], 0); x <= std::min(b[2], image.cols - 1); ++x, ++total)
      for (int c = 0; c < 3; ++c) ++count[c][image.at<cv::Vec3b>(y, x)[c] * bins[c] / 256];
  std::ostringstream s;
  s << b[0] << ' ' << b[2] << ' ' << b[1] << ' ' << b[3] << ' ' << std::fixed
    << std::setprecision(6);
  for (int c = 0; c < 3; ++c)
    for (int i = 0; i < shown[c]; ++i)
      s << static_cast<double>(static_cast<float>(count[c][i] * (0.333 / total))) << ' ';
  s << '\n';
  return s.str();
}

using box4 = std::array<int, 4>;
std::string pos_text(const std::vector<box4>& boxes) {
  std::string t;
  for (const box4& b : boxes)
    t += std::to_string(b[0]) + ' ' + std::to_string(b[1]) + ' ' + std::to_string(b[2]) + ' ' +
         std::to_string(b[3]) + '\n';
  return t;
}
std::string frame_path(int frame) {
  char name[32];
  std::snprintf(name, sizeof name, "frame_%02d.jpg", frame);
  return (kFootage / name).string();
}
// examples/footage/boxes.txt: (object, frame) -> the three candidate boxes.
using footage_boxes = std::map<std::pair<int, int>, std::vector<box4>>;
footage_boxes read_footage_boxes() {
  footage_boxes boxes;
  std::ifstream list(kFootage / "boxes.txt");
  for (std::string line; std::getline(list, line);) {
    std::istringstream in(line);
    int object, frame;
    if (line[0] == '#' || !(in >> object >> frame)) continue;
    for (box4 b; in >> b[0] >> b[1] >> b[2] >> b[3];) boxes[{object, frame}].push_back(b);
  }
  return boxes;
}
cv::Mat decode(const std::string& path) {
  return cv::imread(path, cv::IMREAD_COLOR | cv::IMREAD_IGNORE_ORIENTATION);
}

// Three planes and a mask of w x h samples made by fill(x, y) -> {c0, c1, c2}.
struct synthetic {
  int w, h;
  std::vector<std::uint8_t> c[3], mask;
  template <typename F>
  synthetic(int width, int height, F fill) : w(width), h(height), mask(width * height, 255) {
    for (auto& p : c) p.resize(w * h);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        std::array<int, 3> v = fill(x, y);
        for (int k = 0; k < 3; ++k) c[k][y * w + x] = static_cast<std::uint8_t>(v[k]);
      }
  }
  sample_plane plane(const std::vector<std::uint8_t>& p) const {
    return {p.data(), w, h, static_cast<std::size_t>(w)};
  }
  frame_planes planes() const { return {plane(c[0]), plane(c[1]), plane(c[2]), plane(mask)}; }
};

}  // namespace

// --- Histograms ---------------------------------------------------------------

TEST(BinCounts, EveryValueOnceSpreadsEvenlyAnd255LandsInTheLastBin) {
  synthetic s(16, 16, [](int x, int y) { return std::array<int, 3>{y * 16 + x, 255, 0}; });
  for (int bins = 1; bins <= 256; bins *= 2) {
    std::vector<double> counts = bin_counts(s.plane(s.c[0]), nullptr, {0, 0, 16, 16}, bins);
    EXPECT_EQ(counts, std::vector<double>(bins, 256.0 / bins)) << bins << " bins";
    std::vector<double> white = bin_counts(s.plane(s.c[1]), nullptr, {0, 0, 16, 16}, bins);
    EXPECT_EQ(white.back(), 256) << bins << " bins";
  }
  // Each single value: bin floor(v * N / 256).
  for (int v = 0; v < 256; ++v) {
    std::uint8_t sample = static_cast<std::uint8_t>(v);
    for (int bins : {32, 16}) {
      std::vector<double> counts = bin_counts({&sample, 1, 1, 1}, nullptr, {0, 0, 1, 1}, bins);
      std::vector<double> expected(bins, 0.0);
      expected[v * bins / 256] = 1;
      ASSERT_EQ(counts, expected) << "value " << v << ", " << bins << " bins";
    }
  }
}

TEST(BinCounts, CountsOnlyTheSelectionAndTheMask) {
  // Plane 8 wide with stride 11 (padding holds 200); selection 3..5 x 1..2 holds
  // 100, everything else 50; the mask hides column 5.
  std::vector<std::uint8_t> samples(11 * 4, 200), mask(11 * 4, 255);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 8; ++x) {
      samples[y * 11 + x] = (x >= 3 && x <= 5 && y >= 1 && y <= 2) ? 100 : 50;
      if (x == 5) mask[y * 11 + x] = 0;
    }
  sample_plane plane{samples.data(), 8, 4, 11}, hide{mask.data(), 8, 4, 11};
  EXPECT_EQ(bin_counts(plane, nullptr, {3, 1, 3, 2}, 16)[100 / 16], 6);
  std::vector<double> masked = bin_counts(plane, &hide, {3, 1, 3, 2}, 16);
  EXPECT_EQ(std::accumulate(masked.begin(), masked.end(), 0.0), 4);
  EXPECT_EQ(bin_counts(plane, nullptr, {0, 0, 8, 4}, 16)[50 / 16], 32 - 6);
}

TEST(BinCounts, StayExactPastFloatPrecision) {
  // 2^24 + 1 samples: a float count would round to 2^24.
  const int odd = (1 << 24) + 1;
  std::vector<std::uint8_t> zeros(odd, 0);
  EXPECT_EQ(bin_counts({zeros.data(), odd, 1, zeros.size()}, nullptr, {0, 0, odd, 1}, 16)[0], odd);
  std::vector<std::uint8_t> square(4097 * 4097, 7);  // 16785409 samples, tall tiles
  EXPECT_EQ(bin_counts({square.data(), 4097, 4097, 4097}, nullptr, {0, 0, 4097, 4097}, 32)[0],
            4097.0 * 4097.0);
}

TEST(Normalise, IsTheFloatOfADoubleScaleNotASingleOne) {
  int single_precision_differs = 0;
  for (int total = 1; total <= 600; ++total) {
    double factor = 0.333 / total;
    for (int count = 0; count <= total; ++count) {
      float v = normalised_bin(count, total);
      ASSERT_EQ(v, static_cast<float>(count * factor)) << count << "/" << total;
      // What scaling with a float factor (cv::normalize, convertTo) would print.
      float f = static_cast<float>(count) * static_cast<float>(factor);
      char a[32], b[32];
      std::snprintf(a, sizeof a, "%f", static_cast<double>(v));
      std::snprintf(b, sizeof b, "%f", static_cast<double>(f));
      single_precision_differs += std::string(a) != b;
    }
  }
  EXPECT_GT(single_precision_differs, 0) << "the check above would not see float scaling";
}

TEST(Normalise, SumsTo0333OverAllBinsAndLeavesEmptyCountsZero) {
  std::vector<double> counts = {3, 0, 17, 1, 250, 9, 0, 44};
  std::vector<float> values = normalise(counts);
  double total = std::accumulate(counts.begin(), counts.end(), 0.0);
  EXPECT_NEAR(std::accumulate(values.begin(), values.end(), 0.0), 0.333, 1e-6);
  for (std::size_t i = 0; i < counts.size(); ++i)
    EXPECT_NEAR(values[i], counts[i] / total * 0.333, 1e-8);
  EXPECT_EQ(normalise(std::vector<double>(16, 0.0)), std::vector<float>(16, 0.0f));
}

TEST(BoxHistograms, WhiteOnePixelAndBrightBoxes) {
  // Columns 0..3: white; column 4: pixel (x, y) = (5 + 8y, 77, 200 + y); 5..9: >= 192.
  synthetic s(10, 6, [](int x, int y) {
    if (x < 4) return std::array<int, 3>{255, 255, 255};
    if (x == 4) return std::array<int, 3>{5 + 8 * y, 77, 200 + y};
    return std::array<int, 3>{192 + 6 * x + y, 3 * x, 9 * y};
  });
  histograms white = box_histograms(s.planes(), {0, 0, 4, 6});
  std::vector<float> top(32, 0.0f);
  top[31] = 0.333f;
  EXPECT_EQ(white.rhist, top);
  EXPECT_EQ(white.ghist, top);
  EXPECT_EQ(white.bhist, std::vector<float>(top.begin() + 16, top.end()));
  std::string record = format_record({0, 0, 3, 5}, white);
  EXPECT_EQ(split(record, ' ')[4 + 24 + 24 + 15], "0.333000");

  for (int y = 0; y < 6; ++y) {
    histograms one = box_histograms(s.planes(), {4, y, 1, 1});
    const std::vector<float>* h[3] = {&one.rhist, &one.ghist, &one.bhist};
    const int values[3] = {5 + 8 * y, 77, 200 + y}, bins[3] = {32, 32, 16};
    for (int c = 0; c < 3; ++c) {
      std::vector<float> expected(bins[c], 0.0f);
      expected[values[c] * bins[c] / 256] = 0.333f;
      EXPECT_EQ(*h[c], expected) << "row " << y << ", channel " << c;
    }
  }

  std::vector<std::string> bright =
      split(format_record({5, 0, 9, 5}, box_histograms(s.planes(), {5, 0, 5, 6})), ' ');
  EXPECT_EQ(std::vector<std::string>(bright.begin() + 4, bright.begin() + 28),
            std::vector<std::string>(24, "0.000000"));
}

// --- Records and files ----------------------------------------------------------

TEST(Record, CornersXFirstThenSixtyFourValuesEachFollowedByABlank) {
  histograms h{std::vector<float>(32), std::vector<float>(32), std::vector<float>(16)};
  for (int i = 0; i < 32; ++i) h.rhist[i] = h.ghist[i] = i < 24 ? 0.25f : 9.0f;  // 9: never shown
  h.ghist[0] = 0.1234565f;  // widened: 0.12345650047..., so "%f" gives 0.123457
  h.bhist[15] = 1e-7f;
  std::string record = format_record({10, 20, 49, 59}, h);
  ASSERT_EQ(record.substr(record.size() - 2), " \n");
  std::vector<std::string> items = split(record.substr(0, record.size() - 2), ' ');
  ASSERT_EQ(items.size(), 68u);
  EXPECT_EQ(std::vector<std::string>(items.begin(), items.begin() + 4),
            (std::vector<std::string>{"10", "49", "20", "59"}));
  EXPECT_EQ(items[4], "0.250000");
  EXPECT_EQ(items[28], "0.123457");
  EXPECT_EQ(items[67], "0.000000");
  EXPECT_EQ(record.find("9.0"), std::string::npos);
}

TEST(Record, WriteReplacesAtomicallyWithUmaskPermissions) {
  scratch s;
  const fs::path out = s.work / "objects_info_1.txt";
  spit(out, "old contents that are longer\n");
  mode_t old_mask = ::umask(027);
  EXPECT_EQ(write_file_replacing(out.string(), "new\n"), "");
  ::umask(old_mask);
  EXPECT_EQ(slurp(out), "new\n");
  EXPECT_EQ(fs::status(out).permissions(), fs::perms(0640));
  fs::create_directory(s.work / "taken");
  EXPECT_EQ(write_file_replacing((s.work / "taken").string(), "x"),
            "cannot write " + (s.work / "taken").string() + ": Is a directory");
  EXPECT_EQ(write_file_replacing((s.work / "no/such").string(), "x"),
            "cannot write " + (s.work / "no/such").string() + ": No such file or directory");
  EXPECT_EQ(std::distance(fs::directory_iterator(s.work), {}), 2) << "temporary file left";
}

// --- Box list and clipping ----------------------------------------------------

TEST(BoxList, IntegersOnlyAndAtLeastTwelve) {
  int v = 0;
  for (auto [text, value] : std::vector<std::pair<std::string, int>>{
           {"0", 0}, {"-7", -7}, {"+12", 12}, {"2147483647", INT_MAX}, {"-2147483648", INT_MIN}})
    EXPECT_TRUE(parse_int(text, v) && v == value) << text;
  for (std::string bad : {"", "1.5", "12abc", "abc", "0x10", "2147483648", "-", "1e3"})
    EXPECT_FALSE(parse_int(bad, v)) << bad;

  std::istringstream in("1 2\t3\n4   5 6 7 8\n9 10 x 12");
  box b{};
  EXPECT_EQ(read_box(in, 0, b), "");
  EXPECT_TRUE(b.x1 == 1 && b.y1 == 2 && b.x2 == 3 && b.y2 == 4);
  EXPECT_EQ(read_box(in, 1, b), "");
  EXPECT_EQ(b.x2, 7);
  EXPECT_EQ(read_box(in, 2, b), "item 11 ('x') is not an integer");
  std::istringstream short_list("1 2 3");
  EXPECT_EQ(read_box(short_list, 0, b), "fewer than twelve integers");
}

TEST(Clip, OverEachEdgeInsideAndWhollyOutside) {
  auto same = [](std::optional<region> r, region e) {
    return r && r->x == e.x && r->y == e.y && r->width == e.width && r->height == e.height;
  };
  EXPECT_TRUE(same(clip_box({10, 20, 49, 59}, 320, 240), {10, 20, 40, 40}));
  EXPECT_TRUE(same(clip_box({-5, 20, 49, 59}, 320, 240), {0, 20, 50, 40}));
  EXPECT_TRUE(same(clip_box({300, 20, 400, 59}, 320, 240), {300, 20, 20, 40}));
  EXPECT_TRUE(same(clip_box({10, -9, 49, 59}, 320, 240), {10, 0, 40, 60}));
  EXPECT_TRUE(same(clip_box({10, 230, 49, 250}, 320, 240), {10, 230, 40, 10}));
  EXPECT_TRUE(same(clip_box({319, 239, 319, 239}, 320, 240), {319, 239, 1, 1}));
  EXPECT_TRUE(same(clip_box({INT_MIN, INT_MIN, INT_MAX, INT_MAX}, 320, 240), {0, 0, 320, 240}));
  for (box outside : {box{320, 0, 330, 10}, box{-10, 0, -1, 10}, box{0, 240, 5, 300},
                      box{0, -20, 5, -1}, box{INT_MAX, INT_MAX, INT_MAX, INT_MAX}})
    EXPECT_FALSE(clip_box(outside, 320, 240)) << outside.x1 << ' ' << outside.y1;
}

TEST(Startup, FlushToZeroAndDenormalsAreZero) {
  unsigned saved = _mm_getcsr();
  enable_flush_to_zero();
  EXPECT_EQ(_mm_getcsr() & 0x8040u, 0x8040u);
  volatile float tiny = 1e-38f, half = 0.5f;
  EXPECT_EQ(tiny * half, 0.0f);  // 5e-39 is denormal: flushed
  _mm_setcsr(saved);
}

// --- The run, in process and end to end ------------------------------------------

TEST(Run, UsesTheGivenFileNamesAndChannelOrder) {
  // A lossless 6 x 4 image of pixels (0, 128, 255) in channel order.
  scratch s;
  cv::imwrite((s.work / "frame.png").string(), cv::Mat(4, 6, CV_8UC3, cv::Scalar(0, 128, 255)));
  spit(s.work / "boxes.txt", "0 0 5 3  2 1 2 1  -3 -3 0 0");
  std::ostringstream out, err;
  fs::create_directory(s.work / "out");
  ASSERT_EQ(run((s.work / "frame.png").string(), (s.work / "boxes.txt").string(),
                (s.work / "out/records").string(), out, err),
            0)
      << err.str();
  EXPECT_EQ(out.str(), "0 0 5 3\n2 1 2 1\n-3 -3 0 0\n");
  std::vector<std::string> lines = split(slurp(s.work / "out/records"), '\n');
  ASSERT_EQ(lines.size(), 4u);
  for (int n = 1; n <= 3; ++n) {
    std::vector<std::string> items = split(lines[n], ' ');
    for (int i = 4; i < 68; ++i)  // bin 0 of rhist, bin 16 of ghist, bin 15 of bhist
      EXPECT_EQ(items[i], (i == 4 || i == 28 + 16 || i == 67) ? "0.333000" : "0.000000") << i;
  }
  EXPECT_EQ(run((s.work / "frame.png").string(), (s.work / "boxes.txt").string(),
                (s.work / "none/records").string(), out, err),
            1);
  EXPECT_EQ(err.str(), "histfeat: cannot write " + (s.work / "none/records").string() +
                           ": No such file or directory\n");
}

TEST(EndToEnd, RealFramesMatchRecordsCountedByHand) {
  std::map<int, std::vector<box4>> boxes;  // frame -> candidate boxes of all objects
  for (const auto& [key, three] : read_footage_boxes())
    boxes[key.second].insert(boxes[key.second].end(), three.begin(), three.end());
  ASSERT_FALSE(boxes.empty());
  for (int frame : {1, boxes.rbegin()->first}) {
    cv::Mat image = decode(frame_path(frame));
    std::vector<box4> all = boxes[frame];
    all.insert(all.end(), {{0, 0, 319, 239}, {10, 20, 49, 59}, {319, 0, 319, 0}});
    for (std::size_t i = 0; i + 3 <= all.size(); i += 3) {
      scratch s;
      fs::copy_file(frame_path(frame), s.work / "v200.jpg");
      std::vector<box4> three(all.begin() + i, all.begin() + i + 3);
      spit(s.work / "pos.txt", pos_text(three) + (i == 0 ? "1 2 3 4\n5 6 7 8 and more" : ""));
      outcome r = run_histfeat(s);
      ASSERT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(r.out, pos_text(three));
      EXPECT_EQ(r.err, "");
      std::string expected = "3\n";
      for (const box4& b : three) expected += expected_record(image, b);
      EXPECT_EQ(slurp(s.work / "objects_info_1.txt"), expected) << "frame " << frame;
    }
  }
}

TEST(EndToEnd, BoxOverAnEdgeEqualsTheClippedBox) {
  cv::Mat image = decode(frame_path(1));
  // Hanging over left, right, top, bottom, and all four; then the clipped boxes.
  std::vector<box4> hanging = {{-30, 50, 40, 90},
                               {280, 50, 400, 90},
                               {100, -7, 140, 30},
                               {100, 200, 140, 1000},
                               {-1, -1, 320, 240}};
  std::vector<box4> clipped = {{0, 50, 40, 90},
                               {280, 50, 319, 90},
                               {100, 0, 140, 30},
                               {100, 200, 140, 239},
                               {0, 0, 319, 239}};
  for (std::size_t i = 0; i < hanging.size(); ++i) {
    scratch s;
    fs::copy_file(frame_path(1), s.work / "v200.jpg");
    spit(s.work / "pos.txt", pos_text({hanging[i], clipped[i], hanging[i]}));
    ASSERT_EQ(run_histfeat(s).status, 0);
    std::vector<std::string> lines = split(slurp(s.work / "objects_info_1.txt"), '\n');
    ASSERT_EQ(lines.size(), 4u);
    auto values = [](const std::string& l) { return l.substr(l.find('.') - 1); };
    EXPECT_EQ(values(lines[1]), values(lines[2])) << "box " << i;
    EXPECT_EQ(lines[1] + '\n', expected_record(image, hanging[i]));
  }
}

TEST(EndToEnd, AnySizeAndNoTurnByExifOrientation) {
  scratch s;
  cv::Mat picture(20, 40, CV_8UC3);
  cv::randu(picture, 0, 256);
  std::vector<uchar> jpeg;
  cv::imencode(".jpg", picture, jpeg);
  // APP1 "Exif" segment: little-endian TIFF, one entry, orientation (0x112) = 6,
  // which asks viewers to turn the 40 x 20 picture into a 20 x 40 one.
  const std::vector<uchar> exif = {0xFF, 0xE1, 0, 34, 'E', 'x', 'i', 'f', 0,    0, 'I', 'I',
                                   42,   0,    8, 0,  0,   0,   1,   0,   0x12, 1, 3,   0,
                                   1,    0,    0, 0,  6,   0,   0,   0,   0,    0, 0,   0};
  jpeg.insert(jpeg.begin() + 2, exif.begin(), exif.end());
  spit(s.work / "v200.jpg", std::string(jpeg.begin(), jpeg.end()));
  ASSERT_EQ(cv::imread((s.work / "v200.jpg").string()).cols, 20) << "orientation tag not seen";
  std::vector<box4> boxes = {{25, 0, 39, 5}, {0, 0, 39, 19}, {30, 10, 60, 40}};
  spit(s.work / "pos.txt", pos_text(boxes));
  outcome r = run_histfeat(s);
  ASSERT_EQ(r.status, 0) << r.err;
  cv::Mat image = decode((s.work / "v200.jpg").string());
  std::string expected = "3\n";
  for (const box4& b : boxes) expected += expected_record(image, b);
  EXPECT_EQ(slurp(s.work / "objects_info_1.txt"), expected);
}

TEST(EndToEnd, BadInputFailsWithOneLineAndKeepsThePreviousOutput) {
  struct bad_case {
    std::string what, image, pos, echo, message;
  };
  const std::string frame = frame_path(2), good = "1 1 9 9\n";
  const std::vector<bad_case> cases = {
      {"no image", "", good + good + good, "", "cannot open v200.jpg: No such file or directory"},
      {"not an image", "text", good + good + good, "", "cannot decode v200.jpg as a colour image"},
      {"empty image", "empty", good + good + good, "", "cannot decode v200.jpg as a colour image"},
      {"no box list", frame, "", "", "cannot open pos.txt: No such file or directory"},
      {"eleven integers", frame, good + good + "1 2 3", good + good,
       "pos.txt: fewer than twelve integers"},
      {"real number", frame, good + "1 2 3.5 4", good, "pos.txt: item 7 ('3.5') is not an integer"},
      {"too large", frame, "99999999999", "", "pos.txt: item 1 ('99999999999') is not an integer"},
      {"x2 < x1", frame, good + "10 0 5 9\n" + good, good + "10 0 5 9\n",
       "box 2 in pos.txt has x2 < x1 (5 < 10)"},
      {"y2 < y1", frame, good + good + "0 8 9 7", good + good + "0 8 9 7\n",
       "box 3 in pos.txt has y2 < y1 (7 < 8)"},
      {"right of image", frame, "320 0 330 10 " + good + good, "320 0 330 10\n",
       "box 1 in pos.txt (320 0 330 10) lies outside the 320 x 240 image v200.jpg"},
      {"above image", frame, good + "0 -9 5 -1\n" + good, good + "0 -9 5 -1\n",
       "box 2 in pos.txt (0 -9 5 -1) lies outside the 320 x 240 image v200.jpg"},
      {"output is a directory", frame, good + good + good, good + good + good,
       "cannot write objects_info_1.txt: Is a directory"},
  };
  for (const bad_case& c : cases) {
    scratch s;
    if (c.image == frame) fs::copy_file(frame, s.work / "v200.jpg");
    if (c.image == "text") spit(s.work / "v200.jpg", "not a picture\n");
    if (c.image == "empty") spit(s.work / "v200.jpg", "");
    if (!c.pos.empty()) spit(s.work / "pos.txt", c.pos);
    const fs::path previous = s.work / "objects_info_1.txt";
    if (c.what == "output is a directory")
      fs::create_directory(previous);
    else
      spit(previous, "3\nprevious run\n");
    auto before = std::distance(fs::directory_iterator(s.work), {});
    outcome r = run_histfeat(s);
    EXPECT_EQ(r.status, 1) << c.what;
    EXPECT_EQ(r.err, "histfeat: " + c.message + "\n") << c.what;
    EXPECT_EQ(r.out, c.echo) << c.what;
    if (fs::is_regular_file(previous)) {
      EXPECT_EQ(slurp(previous), "3\nprevious run\n") << c.what;
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(s.work), {}), before) << c.what << ": file left";
  }
}

// --- The demo pipeline on the bundled footage -----------------------------------

#ifdef TRACKPAIR_EXE
// One run of examples/pipeline.sh (a few seconds, a minute under the sanitizers):
// the detection file of every object and frame, then the report, computed here
// from boxes.txt: per object q, frame index r >= 1 (frame r + 1) and detection s,
// every detection b of another object a with L1 distance below 80.
TEST(Pipeline, BundledFootageGivesDetectionFilesAndTheReport) {
  scratch s;
  outcome r = run_in(s, {"/bin/bash", PIPELINE_SCRIPT, HISTFEAT_EXE, TRACKPAIR_EXE, "."});
  ASSERT_EQ(r.status, 0) << r.err;
  footage_boxes boxes = read_footage_boxes();
  const int objects = boxes.rbegin()->first.first, frames = boxes.rbegin()->first.second;
  ASSERT_GE(objects, 2);
  ASSERT_GE(frames, 20);
  ASSERT_EQ(boxes.size(), static_cast<std::size_t>(objects * frames));
  for (const auto& [key, three] : boxes) {
    std::string name =
        "objects_info_h" + std::to_string(key.first) + "_" + std::to_string(key.second) + ".txt";
    std::vector<std::string> lines = split(slurp(s.work / name), '\n');
    ASSERT_EQ(lines.size(), 4u) << name;
    EXPECT_EQ(lines[0], "3");
    for (int n = 0; n < 3; ++n) {
      std::istringstream record(lines[n + 1]);
      box4 b;  // written x1 x2 y1 y2
      record >> b[0] >> b[2] >> b[1] >> b[3];
      EXPECT_EQ(b, three[n]) << name << " record " << n;
    }
  }

  std::string expected;
  std::set<std::array<int, 5>> pairs;  // (r, q, s, a, b)
  for (int q = 0; q < objects; ++q)
    for (int f = 1; f < frames; ++f)
      for (int d = 0; d < 3; ++d) {
        expected += std::to_string(q) + ' ' + std::to_string(f) + ' ' + std::to_string(d) + ' ';
        const box4& mine = boxes[{q + 1, f + 1}][d];
        for (int a = 0; a < objects; ++a)
          for (int b = 0; a != q && b < 3; ++b) {
            const box4& other = boxes[{a + 1, f + 1}][b];
            int distance = 0;
            for (int k = 0; k < 4; ++k) distance += std::abs(mine[k] - other[k]);
            if (distance >= 80) continue;
            expected += std::to_string(a) + ' ' + std::to_string(b) + ' ';
            pairs.insert({f, q, d, a, b});
          }
        expected += '\n';
      }
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), objects * (frames - 1) * 3);
  EXPECT_FALSE(pairs.empty()) << "footage without any close pair checks little";
  for (const auto& p : pairs) EXPECT_TRUE(pairs.count({p[0], p[3], p[4], p[1], p[2]}));
  EXPECT_EQ(r.out, expected);
}
#endif
