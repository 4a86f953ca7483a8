// histfeat: histogram, box and record functions on synthetic planes; the frame
// cache; the command line; the real program in its three forms on frames of the
// bundled footage in scratch directories; the demo pipeline on the whole footage. Expected records
// are computed here by direct pixel counting (frames decoded with cv::imread, which gives the
// very planes the program's own decoder gives: test_histfeat_decode.cpp), never by the program's
// own functions.

#include "histfeat/histfeat.h"
#include "histfeat/internal.h"
#include "histfeat/opencv_decode.h"
#include "common/atomic_file.h"
#include "tests/child.h"

#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <map>
#include <numeric>
#include <random>
#include <set>
#include <sstream>
#include <xmmintrin.h>

namespace fs = std::filesystem;
using namespace histfeat;

// The runs in this process decode other formats through OpenCV, as histfeat's
// main has them do.
struct opencv_for_other_formats : ::testing::Environment {
  void SetUp() override { set_other_format_decoder(opencv_decode); }
};
::testing::Environment* const kOtherFormats =
    ::testing::AddGlobalTestEnvironment(new opencv_for_other_formats);

namespace {

const fs::path kFootage = fs::path(TAVO_EXAMPLES_DIR) / "footage";

std::string slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}
void spit(const fs::path& p, const std::string& text) {
  tavo_test::write_file(p, text);
}
std::vector<std::string> split(const std::string& text, char sep) {
  std::vector<std::string> parts;
  std::stringstream in(text);
  for (std::string part; std::getline(in, part, sep);) parts.push_back(part);
  return parts;
}

// A directory removed with everything in it at scope exit; `work` is the
// working directory of runs, the captured streams stay beside it.
struct scratch : tavo_test::scratch_dir {
  const fs::path root = path(), work = root / "work";
  scratch() { fs::create_directory(work); }
};

// A run's status, output and error (tests/child.h's result, also for in-process runs).
using outcome = tavo_test::child_result;

// Options of a run of a child in s.work, with standard input from the file
// `input` when it is given.
tavo_test::child_options in_work(const scratch& s, const std::string& input = "") {
  tavo_test::child_options o;
  o.dir = s.work.string();
  o.stdin_path = input;
  return o;
}

outcome run_histfeat(const scratch& s) {
  return tavo_test::run_child({HISTFEAT_EXE}, in_work(s));
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

// Three planes of w x h samples made by fill(x, y) -> {c0, c1, c2}.
struct synthetic {
  int w, h;
  std::vector<std::uint8_t> c[3];
  template <typename F>
  synthetic(int width, int height, F fill) : w(width), h(height) {
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
  frame_planes planes() const { return {plane(c[0]), plane(c[1]), plane(c[2])}; }
};

}  // namespace

// --- Histograms ---------------------------------------------------------------

TEST(BinCounts, EveryValueOnceSpreadsEvenlyAnd255LandsInTheLastBin) {
  synthetic s(16, 16, [](int x, int y) { return std::array<int, 3>{y * 16 + x, 255, 0}; });
  for (int bins = 1; bins <= 256; bins *= 2) {
    std::vector<double> counts = bin_counts(s.plane(s.c[0]), {0, 0, 16, 16}, bins);
    EXPECT_EQ(counts, std::vector<double>(bins, 256.0 / bins)) << bins << " bins";
    std::vector<double> white = bin_counts(s.plane(s.c[1]), {0, 0, 16, 16}, bins);
    EXPECT_EQ(white.back(), 256) << bins << " bins";
  }
  // Each single value: bin floor(v * N / 256).
  for (int v = 0; v < 256; ++v) {
    std::uint8_t sample = static_cast<std::uint8_t>(v);
    for (int bins : {32, 16}) {
      std::vector<double> counts = bin_counts({&sample, 1, 1, 1}, {0, 0, 1, 1}, bins);
      std::vector<double> expected(bins, 0.0);
      expected[v * bins / 256] = 1;
      ASSERT_EQ(counts, expected) << "value " << v << ", " << bins << " bins";
    }
  }
}

TEST(BinCounts, CountsOnlyTheSelection) {
  // Plane 8 wide with stride 11 (padding holds 200); selection 3..5 x 1..2 holds
  // 100, everything else 50.
  std::vector<std::uint8_t> samples(11 * 4, 200);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 8; ++x)
      samples[y * 11 + x] = (x >= 3 && x <= 5 && y >= 1 && y <= 2) ? 100 : 50;
  sample_plane plane{samples.data(), 8, 4, 11};
  EXPECT_EQ(bin_counts(plane, {3, 1, 3, 2}, 16)[100 / 16], 6);
  EXPECT_EQ(bin_counts(plane, {0, 0, 8, 4}, 16)[50 / 16], 32 - 6);
  EXPECT_EQ(bin_counts(plane, {0, 0, 8, 4}, 16)[200 / 16], 0);
}

TEST(BinCounts, MatchCountingByHandOnRandomPlanesAndSelections) {
  // Widths 1..13 cover every remainder of the four-sample unrolling.
  std::mt19937 random(7);
  for (int round = 0; round < 300; ++round) {
    const int w = 1 + random() % 13, h = 1 + random() % 9, stride = w + random() % 5;
    std::vector<std::uint8_t> samples(stride * h);
    for (auto& v : samples) v = static_cast<std::uint8_t>(random());
    const sample_plane plane{samples.data(), w, h, static_cast<std::size_t>(stride)};
    const int x0 = random() % w, y0 = random() % h;
    const region r{x0, y0, 1 + static_cast<int>(random() % (w - x0)),
                   1 + static_cast<int>(random() % (h - y0))};
    for (int bins : {1, 16, 32, 256}) {
      std::vector<double> all(bins);
      for (int y = r.y; y < r.y + r.height; ++y)
        for (int x = r.x; x < r.x + r.width; ++x) all[samples[y * stride + x] * bins / 256] += 1;
      ASSERT_EQ(bin_counts(plane, r, bins), all) << "round " << round;
    }
  }
}

TEST(BinCounts, StayExactPastFloatPrecision) {
  // 2^24 + 1 samples: a float count would round to 2^24.
  const int odd = (1 << 24) + 1;
  std::vector<std::uint8_t> zeros(odd, 0);
  EXPECT_EQ(bin_counts({zeros.data(), odd, 1, zeros.size()}, {0, 0, odd, 1}, 16)[0], odd);
  std::vector<std::uint8_t> square(4097 * 4097, 7);  // 16785409 samples, tall tiles
  EXPECT_EQ(bin_counts({square.data(), 4097, 4097, 4097}, {0, 0, 4097, 4097}, 32)[0],
            4097.0 * 4097.0);
}

TEST(Normalise, PrintsTheShareToSixDecimalsWhereAFloatScaleIsOneOff) {
  // count * 0.333 / total worked by hand; scaling by a float factor
  // (cv::normalize, convertTo) prints each of the first five one off.
  const struct {
    int count, total;
    const char* printed;
  } cases[] = {{31, 41, "0.251780"}, {57, 67, "0.283299"}, {66, 73, "0.301068"},
               {57, 77, "0.246506"}, {29, 79, "0.122241"}, {0, 7, "0.000000"},
               {7, 7, "0.333000"}};
  for (const auto& c : cases) {
    char printed[32];
    std::snprintf(printed, sizeof printed, "%f",
                  static_cast<double>(normalised_bin(c.count, c.total)));
    EXPECT_STREQ(printed, c.printed) << c.count << "/" << c.total;
  }
}

TEST(CompareHist, RoundsTheSumToFloatAfterEveryTerm) {
  const float two24 = 16777216.0f;  // 2^24: above it floats step by 2
  const struct {
    std::vector<float> a, b;
    int n;
    float expect;
  } cases[] = {
      {{1, 2, 3}, {3, 2, 1}, 3, 4},
      {{1, 2, 3}, {3, 2, 1}, 2, 2},
      {{1, 2}, {0, 0}, 0, 0},
      {{1, 2}, {0, 0}, -3, 0},
      {{0.5f, -0.25f}, {-0.5f, 0.25f}, 2, 1.5f},
      // 2^24 + 1 + 1: each step rounds back to 2^24 (a double sum would give 2^24 + 2).
      {{two24, 1, 1}, {0, 0, 0}, 3, two24},
      // The term 2^24 - (-1) is 2^24 + 1 only in double; 1 + (2^24 + 1) = 2^24 + 2.
      {{1, two24}, {0, -1}, 2, two24 + 2},
  };
  for (const auto& c : cases) {
    std::vector<float> a = c.a, b = c.b;
    EXPECT_EQ(compare_hist(a.data(), b.data(), c.n), c.expect);
  }
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

TEST(Record, SplitFrameTakesChannelsInOrderSkipsRowPaddingAndReusesStorage) {
  // 3 x 2 pixels, rows of 11 bytes (2 of padding, 0xEE): pixel (x, y) = (10x+y, 100+x, 200+y).
  std::vector<std::uint8_t> pixels(2 * 11, 0xEE);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x)
      for (int c = 0; c < 3; ++c)
        pixels[y * 11 + 3 * x + c] = static_cast<std::uint8_t>(c == 0   ? 10 * x + y
                                                               : c == 1 ? 100 + x
                                                                        : 200 + y);
  std::vector<std::uint8_t> storage(1000, 7);
  frame_planes p = split_frame(pixels.data(), 3, 2, 11, storage);
  EXPECT_EQ(storage.size(), 3u * 6);
  const sample_plane* planes[3] = {&p.red, &p.green, &p.blue};
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(planes[k]->width, 3);
    EXPECT_EQ(planes[k]->height, 2);
    for (int y = 0; y < 2; ++y)
      for (int x = 0; x < 3; ++x) {
        const int expected = k == 0 ? 10 * x + y : k == 1 ? 100 + x : 200 + y;
        EXPECT_EQ(planes[k]->data[y * planes[k]->stride + x], expected)
            << k << ' ' << x << ' ' << y;
      }
  }
  // A second, smaller frame in the same storage: the planes describe it alone.
  const std::uint8_t one[3] = {1, 2, 3};
  p = split_frame(one, 1, 1, 3, storage);
  EXPECT_EQ(storage, (std::vector<std::uint8_t>{1, 2, 3}));
  EXPECT_EQ(p.blue.data, storage.data() + 2);
}

TEST(Record, AppendBoxRecordClipsOrRefusesAndLeavesTheTextOnFailure) {
  synthetic s(10, 6, [](int x, int y) { return std::array<int, 3>{x * 25, y * 40, x * y}; });
  histograms h;
  std::string text = "3\n";
  EXPECT_EQ(append_box_record(text, s.planes(), {-5, 2, 4, 99}, h), "");
  EXPECT_EQ(text, "3\n" + format_record({-5, 2, 4, 99}, box_histograms(s.planes(), {0, 2, 5, 4})));
  const std::string before = text;
  const std::pair<box, std::string> refused[] = {
      {{5, 0, 4, 3}, "has x2 < x1 (4 < 5)"},
      {{0, 3, 4, 2}, "has y2 < y1 (2 < 3)"},
      {{10, 0, 12, 3}, "(10 0 12 3) lies outside the 10 x 6 image"},
      {{INT_MIN, INT_MIN, -1, 5},
       "(" + std::to_string(INT_MIN) + ' ' + std::to_string(INT_MIN) +
           " -1 5) lies outside the 10 x 6 image"},
  };
  for (const auto& [b, why] : refused) {
    EXPECT_EQ(append_box_record(text, s.planes(), b, h), why);
    EXPECT_EQ(text, before) << why;
  }
}

TEST(Record, ValuesPrintAsPrintfPrintsThemTiesAndAllOrdersOfMagnitude) {
  // Every 997th float below 1 (all exponents, every low-bit pattern); k / 2^n,
  // among them the only exact ties of the sixth decimal below 1, the 64 odd
  // multiples of 1/128 (0.0078125 prints 0.007812, 0.0234375 0.023438); values
  // that round up to 1, and what falls back to printf.
  std::vector<float> values;
  for (std::uint32_t bits = 0; bits < 0x3f800000u; bits += 997) {
    float v;
    std::memcpy(&v, &bits, sizeof v);
    values.push_back(v);
  }
  for (int n = 1; n <= 30; ++n)
    for (int k = 1; k < 128; k += 2) values.push_back(std::ldexp(static_cast<float>(k), -n));
  for (float v :
       {0.0f, 0.9999995f, 0.99999994f, 0.0000005f, 0.0000015f, 0.0000025f, 1e-7f, 1.0f, 0.333f,
        -0.0f, -0.25f, 9.5f, 1e30f, std::numeric_limits<float>::infinity(),
        std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::denorm_min()})
    values.push_back(v);
  int ties = 0;
  for (std::size_t first = 0; first < values.size(); first += 64) {
    histograms h{std::vector<float>(32), std::vector<float>(32), std::vector<float>(16)};
    std::vector<float*> slots;
    for (int i = 0; i < 24; ++i) slots.push_back(&h.rhist[i]);
    for (int i = 0; i < 24; ++i) slots.push_back(&h.ghist[i]);
    for (int i = 0; i < 16; ++i) slots.push_back(&h.bhist[i]);
    for (std::size_t i = 0; i < 64; ++i) *slots[i] = values[std::min(first + i, values.size() - 1)];
    std::vector<std::string> items = split(format_record({1, 2, 3, 4}, h), ' ');
    ASSERT_EQ(items.size(), 69u);
    for (std::size_t i = 0; i < 64; ++i) {
      char expected[64];
      std::snprintf(expected, sizeof expected, "%f", static_cast<double>(*slots[i]));
      ASSERT_EQ(items[4 + i], expected) << std::hexfloat << *slots[i];
      double scaled = static_cast<double>(*slots[i]) * 1e6;
      ties += scaled == std::floor(scaled) + 0.5;
    }
  }
  EXPECT_GE(ties, 64) << "the values above miss exact ties";
}

TEST(Record, WriteReplacesAtomicallyKeepingTheModeOrWithUmaskPermissions) {
  scratch s;
  const fs::path out = s.work / "objects_info_1.txt", fresh = s.work / "fresh";
  spit(out, "old contents that are longer\n");
  fs::permissions(out, fs::perms(0604));
  mode_t old_mask = ::umask(027);
  EXPECT_EQ(common::write_file_replacing(out.string(), "new\n"), "");
  EXPECT_EQ(common::write_file_replacing(fresh.string(), "fresh\n"), "");
  ::umask(old_mask);
  EXPECT_EQ(slurp(out), "new\n");
  EXPECT_EQ(fs::status(out).permissions(), fs::perms(0604)) << "the existing file's mode";
  EXPECT_EQ(fs::status(fresh).permissions(), fs::perms(0640)) << "a new file: 0666 less umask";
  fs::remove(fresh);
  fs::create_directory(s.work / "taken");
  EXPECT_EQ(common::write_file_replacing((s.work / "taken").string(), "x"),
            "cannot write " + (s.work / "taken").string() + ": Is a directory");
  EXPECT_EQ(common::write_file_replacing((s.work / "no/such").string(), "x"),
            "cannot write " + (s.work / "no/such").string() + ": No such file or directory");
  EXPECT_EQ(std::distance(fs::directory_iterator(s.work), {}), 2) << "temporary file left";
}

// --- The frame cache ------------------------------------------------------------

namespace {
// A lossless w x h picture of one colour (channel order), as a PNG file.
void write_picture(const fs::path& p, int w, int h, int c0) {
  ASSERT_TRUE(cv::imwrite(p.string(), cv::Mat(h, w, CV_8UC3, cv::Scalar(c0, 128, 255))));
}
}  // namespace

TEST(FrameCache, DecodesAFileOnceWhateverItsNameAndAgainWhenItChanges) {
  scratch s;
  const fs::path a = s.work / "a.png", b = s.work / "b.png";
  write_picture(a, 6, 4, 10);
  fs::create_hard_link(a, b);  // before the first load: a new link changes the change time
  fs::create_symlink(a, s.work / "c.png");
  frame_cache cache;
  std::string why;
  const frame_planes* p = cache.load(a.string(), why);
  ASSERT_TRUE(p) << why;
  EXPECT_EQ(p->red.width, 6);
  EXPECT_EQ(p->red.height, 4);
  EXPECT_EQ(p->red.data[0], 10);
  EXPECT_EQ(p->green.data[23], 128);
  EXPECT_EQ(p->blue.data[5], 255);
  ASSERT_TRUE(cache.load(a.string(), why));
  ASSERT_TRUE(cache.load(b.string(), why));
  ASSERT_TRUE(cache.load((s.work / "c.png").string(), why));
  EXPECT_EQ(cache.decodes(), 1u) << "one file under three names";
  EXPECT_EQ(cache.verify(), "");
  EXPECT_EQ(cache.frames(), 1u);

  // Rewritten in place (same inode, other size) and replaced (other inode).
  write_picture(a, 5, 3, 20);
  p = cache.load(a.string(), why);
  ASSERT_TRUE(p);
  EXPECT_EQ(cache.decodes(), 2u);
  EXPECT_EQ(p->red.width, 5);
  EXPECT_EQ(p->red.data[14], 20);
  write_picture(s.work / "new.png", 5, 3, 30);
  fs::rename(s.work / "new.png", a);
  p = cache.load(a.string(), why);
  ASSERT_TRUE(p);
  EXPECT_EQ(cache.decodes(), 3u);
  EXPECT_EQ(p->red.data[0], 30);

  EXPECT_FALSE(cache.load((s.work / "none.png").string(), why));
  EXPECT_EQ(why, "cannot open " + (s.work / "none.png").string() + ": No such file or directory");
  spit(s.work / "text.png", "not a picture");
  EXPECT_FALSE(cache.load((s.work / "text.png").string(), why));
  EXPECT_EQ(why, "cannot decode " + (s.work / "text.png").string() + " as a colour image");
  EXPECT_FALSE(cache.load(s.work.string(), why));
  EXPECT_EQ(why, "cannot open " + s.work.string() + ": Is a directory");
  EXPECT_FALSE(cache.load("/dev/zero", why));
  EXPECT_EQ(why, "cannot open /dev/zero: not a regular file");
}

TEST(FrameCache, KeepsWithinItsLimitDroppingTheLeastRecentlyUsed) {
  scratch s;
  for (int k = 0; k < 4; ++k) write_picture(s.work / (std::to_string(k) + ".png"), 6, 4, 50 * k);
  auto name = [&s](int k) { return (s.work / (std::to_string(k) + ".png")).string(); };
  const std::size_t frame_bytes = 3 * 6 * 4;
  frame_cache cache(2 * frame_bytes);  // room for two frames
  std::string why;
  for (int k : {0, 1, 0, 2}) ASSERT_TRUE(cache.load(name(k), why)) << why;  // 1 is dropped
  EXPECT_EQ(cache.decodes(), 3u);
  EXPECT_EQ(cache.frames(), 2u);
  EXPECT_EQ(cache.verify(), "");
  EXPECT_EQ(cache.bytes(), 2 * frame_bytes);
  for (int k : {0, 2}) ASSERT_TRUE(cache.load(name(k), why));
  EXPECT_EQ(cache.decodes(), 3u) << "0 and 2 were kept";
  const frame_planes* p = cache.load(name(1), why);
  ASSERT_TRUE(p);
  EXPECT_EQ(cache.decodes(), 4u) << "1 was dropped";
  EXPECT_EQ(p->red.data[0], 50);

  frame_cache one(0);  // keeps the frame just loaded, and only that one
  for (int k : {3, 3, 2, 3}) ASSERT_TRUE(one.load(name(k), why));
  EXPECT_EQ(one.decodes(), 3u);
  EXPECT_EQ(one.verify(), "");
  EXPECT_EQ(one.frames(), 1u);
}

// --- The command line -------------------------------------------------------------

namespace {
outcome main_with(std::vector<std::string> args, const std::string& input = "") {
  std::vector<const char*> argv = {"histfeat"};
  for (const std::string& a : args) argv.push_back(a.c_str());
  std::istringstream in(input);
  std::ostringstream out, err;
  int status = histfeat_main(static_cast<int>(argv.size()), argv.data(), in, out, err);
  return {status, out.str(), err.str()};
}
}  // namespace

TEST(CommandLine, HelpAndVersionOnStandardOutput) {
  outcome help = main_with({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out, usage());
  EXPECT_EQ(help.err, "");
  for (const char* form :
       {"usage: histfeat\n", "histfeat IMAGE BOXES OUTPUT\n", "histfeat --batch LIST\n",
        "file names\n                      cannot contain blanks"})
    EXPECT_NE(usage().find(form), std::string::npos) << form;
  outcome version = main_with({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "histfeat " HISTFEAT_VERSION "\n");
  EXPECT_EQ(version.err, "");
}

TEST(CommandLine, MisuseGivesTheUsageOnStandardErrorAndStatus2) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--frob"}, "unknown option '--frob'"},
      {{"-x", "b", "c"}, "unknown option '-x'"},
      {{"a", "b", "--verbose"}, "unknown option '--verbose'"},
      {{"a"}, "wrong number of arguments"},
      {{"a", "b"}, "wrong number of arguments"},
      {{"a", "b", "c", "d"}, "wrong number of arguments"},
      {{"--batch"}, "wrong number of arguments"},
      {{"--batch", "a", "b"}, "wrong number of arguments"},
      {{"--help", "x"}, "wrong number of arguments"},
      {{"--version", "--help"}, "wrong number of arguments"},
      {{"a", "--batch", "c"}, "option --batch out of place"},
  };
  for (const auto& [args, message] : cases) {
    outcome r = main_with(args);
    EXPECT_EQ(r.status, 2) << message;
    EXPECT_EQ(r.out, "") << message;
    EXPECT_EQ(r.err, "histfeat: " + message + "\n" + usage());
  }
}

TEST(CommandLine, BatchListThatCannotBeOpenedOrHoldsNoFrame) {
  scratch s;
  const std::string missing = (s.work / "none.list").string();
  outcome r = main_with({"--batch", missing});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "histfeat: cannot open " + missing + ": No such file or directory\n");
  r = main_with({"--batch", "-"}, "# nothing but a comment\n\n   \t\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out + r.err, "");
}

// --- Box list and clipping ----------------------------------------------------

TEST(BoxList, IntegersOnlyAndAtLeastTwelve) {
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

TEST(BoxList, TheTwelfthItemIsReadAsPercentDAndTheOthersWhole) {
  // "... 300 230xyz": the last item reads 230; the same token earlier fails.
  std::istringstream in("1 2 3 4  5 6 7 8  9 10 300 230xyz trailing words");
  box b{};
  ASSERT_EQ(read_box(in, 0, b), "");
  ASSERT_EQ(read_box(in, 1, b), "");
  EXPECT_EQ(read_box(in, 2, b), "");
  EXPECT_TRUE(b.x2 == 300 && b.y2 == 230);
  for (const auto& [last, value] :
       std::vector<std::pair<std::string, int>>{{"-5;", -5}, {"+7.9", 7}, {"12e3", 12}}) {
    std::istringstream one("1 2 3 " + last);
    EXPECT_EQ(read_box(one, 2, b), "") << last;
    EXPECT_EQ(b.y2, value) << last;
  }
  for (const char* bad : {"xyz", "-", "+x", "99999999999z"}) {
    std::istringstream one(std::string("1 2 3 ") + bad);
    EXPECT_EQ(read_box(one, 2, b), "item 12 ('" + std::string(bad) + "') is not an integer");
  }
  std::istringstream eleventh("1 2 230xyz 4");
  EXPECT_EQ(read_box(eleventh, 2, b), "item 11 ('230xyz') is not an integer");
}

TEST(BoxList, ARejectedTokenIsQuotedCutToFortyBytesAndPrintable) {
  box b{};
  const std::string huge(50 << 20, '7');
  std::istringstream big(huge + "x 1 2 3");
  EXPECT_EQ(read_box(big, 0, b), "item 1 ('" + std::string(40, '7') + "'...) is not an integer");
  std::istringstream hostile("1 \x1b[2J\a\x7f\xff 3 4");
  EXPECT_EQ(read_box(hostile, 0, b), "item 2 ('?[2J\?\?\?') is not an integer");
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
      {"output is a directory", frame, good + good + good, "",
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

// --- The other forms end to end ----------------------------------------------------

TEST(EndToEnd, EveryFormWritesTheRecordsOfTheNoArgumentForm) {
  // Object 2 of the footage in three frames; each form in its own directory.
  footage_boxes boxes = read_footage_boxes();
  const std::vector<int> frames = {1, 17, boxes.rbegin()->first.second};
  scratch s;
  std::vector<std::string> records, echoes;
  std::string list;
  for (int f : frames) {
    const std::string pos = (s.root / ("pos" + std::to_string(f))).string();
    spit(pos, pos_text(boxes[{2, f}]));
    scratch alone;
    fs::copy_file(frame_path(f), alone.work / "v200.jpg");
    fs::copy_file(pos, alone.work / "pos.txt");
    outcome r = run_histfeat(alone);
    ASSERT_EQ(r.status, 0) << r.err;
    records.push_back(slurp(alone.work / "objects_info_1.txt"));
    echoes.push_back(r.out);
    ASSERT_EQ(records.back().substr(0, 2), "3\n");

    outcome named = tavo_test::run_child(
        {HISTFEAT_EXE, frame_path(f), pos, "named" + std::to_string(f)}, in_work(s));
    EXPECT_EQ(named.status, 0) << named.err;
    EXPECT_EQ(named.out, r.out);
    EXPECT_EQ(named.err, "");
    EXPECT_EQ(slurp(s.work / ("named" + std::to_string(f))), records.back()) << "frame " << f;
    list +=
        "  " + frame_path(f) + "\t" + pos + "   batch" + std::to_string(f) + "\n# a comment\n\n";
  }
  spit(s.root / "list", list);
  for (std::string source : {"file", "stdin"}) {
    outcome r = source == "file"
                    ? tavo_test::run_child({HISTFEAT_EXE, "--batch", (s.root / "list").string()},
                                           in_work(s))
                    : tavo_test::run_child({HISTFEAT_EXE, "--batch", "-"},
                                           in_work(s, (s.root / "list").string()));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, echoes[0] + echoes[1] + echoes[2]) << source;
    for (std::size_t i = 0; i < frames.size(); ++i) {
      const fs::path out = s.work / ("batch" + std::to_string(frames[i]));
      EXPECT_EQ(slurp(out), records[i]) << source << ", frame " << frames[i];
      fs::remove(out);
    }
  }
}

TEST(EndToEnd, BatchReportsAFailedLineSkipsItsOutputAndGoesOn) {
  // Lines: 1 good, 2 comment, 3 no image, 4 good, 5 blank, 6 two fields,
  // 7 second box reversed (two boxes echoed), 8 good (the frame of line 1 again).
  scratch s;
  footage_boxes boxes = read_footage_boxes();
  const std::vector<box4> good1 = boxes[{1, 3}], good4 = boxes[{3, 9}], good8 = boxes[{4, 3}];
  spit(s.work / "pos1", pos_text(good1));
  spit(s.work / "pos4", pos_text(good4));
  spit(s.work / "pos7", "1 1 9 9\n10 0 5 9\n1 1 9 9\n");
  spit(s.work / "pos8", pos_text(good8));
  spit(s.work / "out3", "previous\n");
  spit(s.work / "list.txt", frame_path(3) + " pos1 out1\n# out2\n" + "nosuch.jpg pos4 out3\n" +
                                frame_path(9) + " pos4 out4\n\n" + "pos4 out6\n" + frame_path(9) +
                                " pos7 out7\n" + frame_path(3) + " pos8 out8\n");
  outcome r = tavo_test::run_child({HISTFEAT_EXE, "--batch", "list.txt"}, in_work(s));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "histfeat: list.txt:3: cannot open nosuch.jpg: No such file or directory\n"
            "histfeat: list.txt:6: expected 3 fields (IMAGE BOXES OUTPUT), found 2\n"
            "histfeat: list.txt:7: box 2 in pos7 has x2 < x1 (5 < 10)\n");
  EXPECT_EQ(r.out, pos_text(good1) + pos_text(good4) + "1 1 9 9\n10 0 5 9\n" + pos_text(good8));
  auto expected = [](int frame, const std::vector<box4>& three) {
    cv::Mat image = decode(frame_path(frame));
    std::string text = "3\n";
    for (const box4& b : three) text += expected_record(image, b);
    return text;
  };
  EXPECT_EQ(slurp(s.work / "out1"), expected(3, good1));
  EXPECT_EQ(slurp(s.work / "out4"), expected(9, good4));
  EXPECT_EQ(slurp(s.work / "out8"), expected(3, good8));
  EXPECT_EQ(slurp(s.work / "out3"), "previous\n");
  EXPECT_FALSE(fs::exists(s.work / "out7"));
  EXPECT_EQ(std::distance(fs::directory_iterator(s.work), {}), 9) << "a temporary file left";
}

// An output that is the list, another line's input or another line's output
// would change what a later line reads or lose a result: those lines fail
// before anything runs, the others go on. The list is named or on standard
// input.
TEST(EndToEnd, BatchRefusesAnOutputThatIsTheListOrAnotherLinesFile) {
  for (bool named : {true, false}) {
    scratch s;
    fs::copy_file(frame_path(5), s.work / "frame.jpg");
    spit(s.work / "pos", "1 1 9 9  2 2 8 8  3 3 7 7\n");
    const std::string list = "frame.jpg pos out1\n" + frame_path(6) +
                             " pos frame.jpg\nframe.jpg pos list\nframe.jpg pos dup\n"
                             "frame.jpg pos ./dup\nframe.jpg pos out6\n";
    spit(s.work / "list", list);
    const std::string name = named ? "list" : "(standard input)";
    outcome r = named ? tavo_test::run_child({HISTFEAT_EXE, "--batch", "list"}, in_work(s))
                      : tavo_test::run_child({HISTFEAT_EXE, "--batch", "-"},
                                             in_work(s, (s.work / "list").string()));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "histfeat: " + name + ":2: cannot write frame.jpg: it is an input of line 1\n" +
                  "histfeat: " + name + ":3: cannot write list: it is the list itself\n" +
                  "histfeat: " + name + ":4: cannot write dup: it is also the output of line 5\n" +
                  "histfeat: " + name +
                  ":5: cannot write ./dup: it is also the output of line 4\n");
    EXPECT_EQ(slurp(s.work / "frame.jpg"), slurp(frame_path(5)));
    EXPECT_EQ(slurp(s.work / "list"), list);
    EXPECT_FALSE(fs::exists(s.work / "dup"));
    EXPECT_EQ(slurp(s.work / "out1").substr(0, 2), "3\n");
    EXPECT_EQ(slurp(s.work / "out6"), slurp(s.work / "out1"));
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
  outcome r = tavo_test::run_child({"/bin/bash", PIPELINE_SCRIPT, HISTFEAT_EXE, TRACKPAIR_EXE, "."},
                                   in_work(s));
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

// --- Stress and safe defaults ------------------------------------------------------

namespace {

// Runs histfeat in s.work like run_histfeat, ended after `seconds` and with
// its memory bounded: 1 GiB of address space in the normal build, single
// allocations of at most 256 MiB under AddressSanitizer.
outcome run_confined(const scratch& s, unsigned seconds) {
  tavo_test::child_options o = in_work(s);
  o.seconds = seconds;
  o.address_space_mb = 1024;
  o.asan_allocation_mb = 256;
  return tavo_test::run_child({HISTFEAT_EXE}, o);
}

// The names in a directory, sorted.
std::vector<std::string> names_in(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

TEST(Stress, LargeImageWithBoxesCoveringItWholly) {
  // A lossless 4000 x 3000 image in which every channel takes every value,
  // in uneven amounts; boxes that cover it exactly, overhang it on every
  // side, and span the whole int range. All three are the whole image.
  const int width = 4000, height = 3000;
  cv::Mat image(height, width, CV_8UC3);
  for (int y = 0; y < height; ++y) {
    auto* row = image.ptr<cv::Vec3b>(y);
    for (int x = 0; x < width; ++x)
      row[x] =
          cv::Vec3b(static_cast<uchar>((x * 7 + y * 3) & 255), static_cast<uchar>((x ^ y) & 255),
                    static_cast<uchar>((x / 16 + y * y) % 251));
  }
  scratch s;
  ASSERT_TRUE(
      cv::imwrite((s.work / "frame.png").string(), image, {cv::IMWRITE_PNG_COMPRESSION, 1}));
  fs::rename(s.work / "frame.png", s.work / "v200.jpg");  // decoded by content, not by name
  const std::vector<box4> boxes = {{0, 0, width - 1, height - 1},
                                   {-70, -9, width + 500, height},
                                   {INT_MIN, INT_MIN, INT_MAX, INT_MAX}};
  spit(s.work / "pos.txt", pos_text(boxes));
  outcome r = run_histfeat(s);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, pos_text(boxes));
  // Counted by hand once; the records differ only in the corners written.
  const std::string whole = expected_record(image, boxes[0]);
  const std::string values = whole.substr(whole.find('.') - 1);
  std::string expected = "3\n";
  for (const box4& b : boxes)
    expected += std::to_string(b[0]) + ' ' + std::to_string(b[2]) + ' ' + std::to_string(b[1]) +
                ' ' + std::to_string(b[3]) + ' ' + values;
  EXPECT_EQ(slurp(s.work / "objects_info_1.txt"), expected);
  EXPECT_EQ(values.find("0.000000 0.000000 0.000000 0.000000 0.000000 0.000000 0.000000 0.000000"),
            std::string::npos)
      << "every written bin should hold samples";
}

TEST(SafeDefaults, AFailureAtTheThirdBoxLeavesNoTraceOfTheRun) {
  // The two good boxes are done when the third fails: the output must stay
  // as it was (or absent), with no temporary file beside it.
  const std::string good = "1 1 9 9\n";
  const struct {
    const char* what;
    std::string pos, echo;  // echo: the boxes echoed, each as soon as it is read
  } cases[] = {
      {"third box outside", good + good + "400 10 410 20", good + good + "400 10 410 20\n"},
      {"third box not an integer", good + good + "1 2 3 x", good + good},
      {"third box reversed", good + good + "9 1 1 9", good + good + "9 1 1 9\n"},
      {"third box missing", good + good, good + good},
      {"third box cut short", good + good + "1 1 9", good + good},
  };
  for (const auto& c : cases)
    for (const bool previous : {true, false}) {
      scratch s;
      fs::copy_file(frame_path(2), s.work / "v200.jpg");
      spit(s.work / "pos.txt", c.pos);
      if (previous) spit(s.work / "objects_info_1.txt", "3\nprevious run\n");
      outcome r = run_histfeat(s);
      EXPECT_EQ(r.status, 1) << c.what;
      EXPECT_EQ(r.out, c.echo) << c.what;
      EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << c.what << ": " << r.err;
      if (previous) {
        EXPECT_EQ(slurp(s.work / "objects_info_1.txt"), "3\nprevious run\n") << c.what;
        EXPECT_EQ(names_in(s.work),
                  (std::vector<std::string>{"objects_info_1.txt", "pos.txt", "v200.jpg"}))
            << c.what;
      } else {
        EXPECT_EQ(names_in(s.work), (std::vector<std::string>{"pos.txt", "v200.jpg"})) << c.what;
      }
    }
}

TEST(SafeDefaults, HostileBoxListsAndImagesEndWithOneLine) {
  // Every case ends at once with status 1 and one line on the error stream,
  // in the sanitizer build without any read or write out of bounds.
  const std::string good = "1 1 9 9\n";
  const std::string digits(10000, '7');
  std::string garbage(4096, '\0');
  for (std::size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<char>(i * 131 + 7);
  const struct {
    const char* what;
    std::string image, pos;
  } cases[] = {
      {"binary garbage", "frame", garbage},
      {"NUL bytes", "frame", std::string(3000, '\0')},
      {"NUL inside a number", "frame", good + std::string("1\0 1 9 9", 8)},
      {"only whitespace", "frame", std::string(2000, ' ') + "\n\t\r\v\f"},
      {"a number of 10,000 digits", "frame", good + digits + " 1 9 9\n" + good},
      {"huge coordinates", "frame", good + "99999999999 0 1 1\n" + good},
      {"ends mid-list", "frame", good + good + "1 1"},
      {"image of garbage", "garbage", good + good + good},
      {"image of NUL bytes", "nul", good + good + good},
      {"image is /dev/zero", "/dev/zero", good + good + good},
      {"image is /dev/urandom", "/dev/urandom", good + good + good},
      {"image is a directory", "directory", good + good + good},
      {"box list is /dev/urandom", "frame", "/dev/urandom"},
      {"box list is a directory", "frame", "directory"},
  };
  const std::string frame = slurp(frame_path(2));
  for (const auto& c : cases) {
    scratch s;
    const fs::path image = s.work / "v200.jpg", pos = s.work / "pos.txt";
    if (c.image == "frame") spit(image, frame);
    if (c.image == "garbage") spit(image, garbage);
    if (c.image == "nul") spit(image, std::string(5000, '\0'));
    if (c.image[0] == '/') fs::create_symlink(c.image, image);
    if (c.image == "directory") fs::create_directory(image);
    if (c.pos[0] == '/') {
      fs::create_symlink(c.pos, pos);
    } else if (c.pos == "directory") {
      fs::create_directory(pos);
    } else {
      spit(pos, c.pos);
    }
    spit(s.work / "objects_info_1.txt", "3\nprevious run\n");
    outcome r = run_confined(s, 30);
    EXPECT_EQ(r.status, 1) << c.what
                           << (r.signalled() ? ": ended by a signal (SIGALRM: did not end)" : "");
    EXPECT_EQ(r.err.rfind("histfeat: ", 0), 0u) << c.what << ": " << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << c.what << ": " << r.err;
    EXPECT_EQ(slurp(s.work / "objects_info_1.txt"), "3\nprevious run\n") << c.what;
  }
}

TEST(SafeDefaults, ATruncatedImageIsRefusedWithOneLineAndTheOutputKept) {
  // A JPEG cut anywhere, even just before its end marker, is refused: no
  // histograms of what the decoder would have filled in.
  const std::string good = "1 1 9 9\n", frame = slurp(frame_path(2));
  for (const std::size_t keep : {frame.size() / 3, frame.size() - 2, std::size_t{700}}) {
    scratch s;
    spit(s.work / "v200.jpg", frame.substr(0, keep));
    spit(s.work / "pos.txt", good + good + good);
    spit(s.work / "objects_info_1.txt", "3\nprevious run\n");
    outcome r = run_confined(s, 30);
    EXPECT_EQ(r.status, 1) << keep
                           << (r.signalled() ? ": ended by a signal (SIGALRM: did not end)" : "");
    EXPECT_EQ(r.err.rfind("histfeat: ", 0), 0u) << keep << ": " << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << keep << ": " << r.err;
    EXPECT_EQ(slurp(s.work / "objects_info_1.txt"), "3\nprevious run\n") << keep;
  }
}

// A box list that never ends (/dev/zero) or a FIFO nobody writes (image or
// box list) is refused at once, not read until memory runs out or waited on.
TEST(SafeDefaults, EndlessOrSilentSpecialFilesEndWithOneLine) {
  const std::string good = "1 1 9 9\n";
  for (const char* which : {"pos.txt is /dev/zero", "pos.txt is a FIFO", "v200.jpg is a FIFO"}) {
    scratch s;
    const std::string what = which;
    const fs::path image = s.work / "v200.jpg", pos = s.work / "pos.txt";
    if (what.rfind("v200", 0) == 0) {
      ASSERT_EQ(::mkfifo(image.c_str(), 0644), 0);
      spit(pos, good + good + good);
    } else {
      fs::copy_file(frame_path(2), image);
      if (what == "pos.txt is a FIFO") {
        ASSERT_EQ(::mkfifo(pos.c_str(), 0644), 0);
      } else {
        fs::create_symlink("/dev/zero", pos);
      }
    }
    outcome r = run_confined(s, 20);
    EXPECT_EQ(r.status, 1) << what
                           << (r.signalled() ? ": ended by a signal (SIGALRM: did not end)" : "");
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << what << ": " << r.err;
    EXPECT_FALSE(fs::exists(s.work / "objects_info_1.txt")) << what;
  }
}

// --- Outputs that must not be destroyed -----------------------------------------

TEST(SafeDefaultsOutput, AnInputNamedAsTheOutputIsRefusedBeforeAnythingIsRead) {
  scratch s;
  fs::copy_file(frame_path(2), s.work / "img.jpg");
  spit(s.work / "pos.txt", "1 1 9 9 2 2 8 8 3 3 7 7\n");
  fs::create_hard_link(s.work / "pos.txt", s.work / "hard");
  fs::create_symlink("img.jpg", s.work / "soft");
  const std::string image = slurp(s.work / "img.jpg");
  for (const std::string output : {"img.jpg", "pos.txt", "hard", "soft", "./img.jpg"}) {
    const std::string input = output == "pos.txt" || output == "hard" ? "pos.txt" : "img.jpg";
    outcome r = tavo_test::run_child({HISTFEAT_EXE, "img.jpg", "pos.txt", output}, in_work(s));
    EXPECT_EQ(r.status, 1) << output;
    EXPECT_EQ(r.err,
              "histfeat: cannot write " + output + ": the same file as the input " + input + "\n");
    EXPECT_EQ(r.out, "") << output << ": nothing read";
  }
  EXPECT_EQ(slurp(s.work / "img.jpg"), image);
  EXPECT_EQ(slurp(s.work / "pos.txt"), "1 1 9 9 2 2 8 8 3 3 7 7\n");
  EXPECT_EQ(names_in(s.work), (std::vector<std::string>{"hard", "img.jpg", "pos.txt", "soft"}));
}

TEST(SafeDefaultsOutput, SpecialFilesStayLinksAreFollowedModesKeptLongNamesWork) {
  scratch s;
  fs::copy_file(frame_path(2), s.work / "v200.jpg");
  spit(s.work / "pos.txt", "1 1 9 9 2 2 8 8 3 3 7 7\n");
  ASSERT_EQ(::mkfifo((s.work / "fifo").c_str(), 0644), 0);
  tavo_test::child_options o = in_work(s);
  o.seconds = 20;
  outcome fifo = tavo_test::run_child({HISTFEAT_EXE, "v200.jpg", "pos.txt", "fifo"}, o);
  EXPECT_EQ(fifo.status, 1);
  EXPECT_EQ(fifo.err, "histfeat: cannot write fifo: not a regular file\n");
  EXPECT_TRUE(fs::is_fifo(s.work / "fifo"));
  outcome device = tavo_test::run_child({HISTFEAT_EXE, "v200.jpg", "pos.txt", "/dev/null"}, o);
  EXPECT_EQ(device.status, 1);
  EXPECT_TRUE(fs::is_character_file("/dev/null"));

  // The reference output, then the same written through a link and over a 0600 file.
  ASSERT_EQ(run_histfeat(s).status, 0);
  const std::string records = slurp(s.work / "objects_info_1.txt");
  fs::create_directory(s.work / "d");
  spit(s.work / "d" / "target", "old");
  fs::permissions(s.work / "d" / "target", fs::perms(0600));
  fs::create_symlink("d/target", s.work / "link");
  const std::string longest(250, 'n');
  for (const std::string& output : {std::string("link"), longest}) {
    outcome r = tavo_test::run_child({HISTFEAT_EXE, "v200.jpg", "pos.txt", output}, o);
    EXPECT_EQ(r.status, 0) << r.err;
  }
  EXPECT_TRUE(fs::is_symlink(s.work / "link"));
  EXPECT_EQ(slurp(s.work / "d" / "target"), records);
  EXPECT_EQ(fs::status(s.work / "d" / "target").permissions(), fs::perms(0600));
  EXPECT_EQ(slurp(s.work / longest), records);
  EXPECT_EQ(names_in(s.work / "d"), std::vector<std::string>{"target"});
}

TEST(SafeDefaultsOutput, AnOutputTheCallerMayNotWriteIsRefused) {
  // Root may write a file of mode 0444: as root, histfeat runs as nobody.
  std::vector<std::string> command = tavo_test::unprivileged({HISTFEAT_EXE});
  if (command.empty()) GTEST_SKIP() << "root, and no setpriv to drop privileges";
  scratch s;
  fs::permissions(s.root, fs::perms(0755));
  fs::permissions(s.work, fs::perms(0777));
  fs::copy_file(frame_path(2), s.work / "v200.jpg");
  spit(s.work / "pos.txt", "1 1 9 9 2 2 8 8 3 3 7 7\n");
  spit(s.work / "objects_info_1.txt", "3\nprevious run\n");
  fs::permissions(s.work / "objects_info_1.txt", fs::perms(0444));
  outcome r = tavo_test::run_child(command, in_work(s));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "histfeat: cannot write objects_info_1.txt: Permission denied\n");
  EXPECT_EQ(slurp(s.work / "objects_info_1.txt"), "3\nprevious run\n");
}

TEST(HostileBatch, ANulByteRefusesItsLineAndTheOthersGoOn) {
  scratch s;
  spit(s.work / "pos", "1 1 9 9 2 2 8 8 3 3 7 7\n");
  spit(s.work / "list", frame_path(2) + " pos o.txt" + std::string(1, '\0') + "junk\n" +
                            frame_path(2) + " pos second\n");
  outcome r = tavo_test::run_child({HISTFEAT_EXE, "--batch", "list"}, in_work(s));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "histfeat: list:1: the line holds a NUL byte\n");
  EXPECT_FALSE(fs::exists(s.work / "o.txt"));
  EXPECT_EQ(slurp(s.work / "second").substr(0, 2), "3\n");
}

// --- Images that decode badly, or would not fit ------------------------------------

TEST(HostileImages, ACutJpegOrACorruptPngFailsWithOneLineOfOurs) {
  const std::string jpeg = slurp(frame_path(2));
  std::vector<unsigned char> png;
  cv::imencode(".png", decode(frame_path(2)), png);
  std::string corrupt(png.begin(), png.end());
  corrupt[corrupt.size() / 2] ^= 0x5a;
  for (const std::string& image : {jpeg.substr(0, jpeg.size() * 7 / 10), corrupt}) {
    scratch s;
    spit(s.work / "v200.jpg", image);
    spit(s.work / "pos.txt", "1 1 9 9 2 2 8 8 3 3 7 7\n");
    outcome r = run_histfeat(s);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("histfeat: v200.jpg: ", 0), 0u) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_FALSE(fs::exists(s.work / "objects_info_1.txt"));
  }
}

namespace {
// CRC-32 as PNG chunks carry it (ISO 3309, bit by bit).
std::uint32_t crc32_of(const std::string& bytes) {
  std::uint32_t crc = 0xffffffffu;
  for (unsigned char b : bytes) {
    crc ^= b;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1)));
  }
  return ~crc;
}

// A PNG header of width x height colour pixels with a few bytes of image data.
std::string huge_png(std::uint32_t width, std::uint32_t height) {
  cv::Mat one(1, 1, CV_8UC3, cv::Scalar(1, 2, 3));
  std::vector<unsigned char> small;
  cv::imencode(".png", one, small);
  std::string png(small.begin(), small.end());
  // IHDR's width and height at bytes 16..23, its CRC at 29..32.
  for (int i = 0; i < 4; ++i) {
    png[16 + i] = static_cast<char>(width >> (24 - 8 * i));
    png[20 + i] = static_cast<char>(height >> (24 - 8 * i));
  }
  const std::uint32_t crc = crc32_of(png.substr(12, 17));
  for (int i = 0; i < 4; ++i) png[29 + i] = static_cast<char>(crc >> (24 - 8 * i));
  return png;
}
}  // namespace

namespace {
// s.work with a 20000 x 20000 PNG header ("huge.png") on line 1 of "list" and a
// footage frame on line 2; runs get 1 GiB of address space.
tavo_test::child_options huge_image_batch(const scratch& s) {
  spit(s.work / "huge.png", huge_png(20000, 20000));
  spit(s.work / "pos", "1 1 9 9 2 2 8 8 3 3 7 7\n");
  spit(s.work / "list", "huge.png pos first\n" + frame_path(2) + " pos second\n");
  tavo_test::child_options o = in_work(s);
  o.address_space_mb = 1024;
  o.seconds = 60;
  return o;
}
}  // namespace

TEST(HostileImages, AnImageBeyondThePixelLimitIsRefusedFromItsHeader) {
  scratch s;
  const tavo_test::child_options o = huge_image_batch(s);
  outcome r = tavo_test::run_child({HISTFEAT_EXE, "--batch", "list"}, o);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "histfeat: list:1: huge.png: 20000 x 20000 pixels, more than the limit of 50000000\n");
  EXPECT_TRUE(fs::exists(s.work / "second"));
  outcome small = tavo_test::run_child(
      {HISTFEAT_EXE, "--max-pixels", "76799", frame_path(2), "pos", "third"}, o);
  EXPECT_EQ(small.err,
            "histfeat: " + frame_path(2) + ": 320 x 240 pixels, more than the limit of 76799\n");
}

TEST(HostileImages, MemoryRunOutEndsOnlyItsLine) {
  if (!tavo_test::address_space_limits_apply())
    GTEST_SKIP() << "running out of memory under AddressSanitizer ends the process";
  scratch s;
  const tavo_test::child_options o = huge_image_batch(s);
  outcome r =
      tavo_test::run_child({HISTFEAT_EXE, "--max-pixels", "400000000", "--batch", "list"}, o);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "histfeat: list:1: out of memory\n");
  EXPECT_TRUE(fs::exists(s.work / "second"));
}

// --- Standard output that cannot be written ----------------------------------------

TEST(SafeDefaultsStdout, AFailedEchoIsReportedOnceAfterEveryOutputIsWritten) {
  scratch s;
  spit(s.work / "pos", "1 1 9 9 2 2 8 8 3 3 7 7\n");
  std::string list;
  for (int i = 0; i < 50; ++i)
    list += frame_path(2 + i % 3) + " pos out" + std::to_string(i) + "\n";
  spit(s.work / "list", list);
  const std::pair<const char*, std::string> ways[] = {{"/dev/full", "No space left on device"},
                                                      {"closed", "Bad file descriptor"},
                                                      {"broken pipe", "Broken pipe"}};
  for (const auto& [way, reason] : ways) {
    tavo_test::child_options o = in_work(s);
    o.stdout_path = way == std::string("/dev/full") ? "/dev/full" : "";
    o.close_stdout = way == std::string("closed");
    o.broken_pipe = way == std::string("broken pipe");
    outcome r = tavo_test::run_child({HISTFEAT_EXE, "--batch", "list"}, o);
    EXPECT_EQ(r.status, 1) << way;
    EXPECT_EQ(r.err, "histfeat: cannot write to standard output: " + reason + "\n") << way;
    for (int i = 0; i < 50; ++i) {
      const fs::path out = s.work / ("out" + std::to_string(i));
      const std::string records = slurp(out);
      EXPECT_EQ(std::count(records.begin(), records.end(), '\n'), 4) << way << ", line " << i + 1;
      fs::remove(out);
    }
  }
}
