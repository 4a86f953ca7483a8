// trackvideo's pictures: outlines, tags and pair lines checked pixel by pixel on
// black frames; the palette; PNG bytes decoded back; AVIs read back with
// OpenCV's reader in a scratch directory.

#include "trackvideo/sinks/overlay.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace trackvideo;

namespace {

cv::Vec3b pixel_of(const cv::Scalar& c) {
  return cv::Vec3b(static_cast<uchar>(c[0]), static_cast<uchar>(c[1]), static_cast<uchar>(c[2]));
}

cv::Mat black(int width, int height) {
  return cv::Mat(height, width, CV_8UC3, cv::Scalar::all(0));
}

// A box to draw as the tests write it: its id and inclusive corners.
struct drawn_box {
  int id;
  struct {
    int x1, y1, x2, y2;
  } corners;
};

// draw_overlay over those boxes, made a run of tracks' boxes (object k is
// box k, its id the box's).
void draw_overlay(cv::Mat& frame, const std::vector<drawn_box>& boxes,
                  const std::vector<std::pair<int, int>>& pairs,
                  const overlay_extras& extras = overlay_extras{}) {
  std::vector<track_box> run;
  std::vector<int> ids;
  for (const drawn_box& b : boxes) {
    run.push_back(track_box{1, static_cast<int>(ids.size()), 0, 1, b.corners.x1, b.corners.y1,
                            b.corners.x2, b.corners.y2});
    ids.push_back(b.id);
  }
  trackvideo::draw_overlay(frame, frame_boxes{run.data(), run.data() + run.size(), &ids}, pairs,
                           extras);
}

// Every pixel of the box's outline that lies in the frame, listed as (x, y).
std::vector<cv::Point> edge_pixels(const drawn_box& b, const cv::Mat& frame) {
  std::vector<cv::Point> points;
  for (int y = b.corners.y1; y <= b.corners.y2; ++y)
    for (int x = b.corners.x1; x <= b.corners.x2; ++x)
      if ((x == b.corners.x1 || x == b.corners.x2 || y == b.corners.y1 || y == b.corners.y2) &&
          x >= 0 && y >= 0 && x < frame.cols && y < frame.rows)
        points.emplace_back(x, y);
  return points;
}

void expect_outline(const cv::Mat& frame, const drawn_box& b) {
  const cv::Vec3b colour = pixel_of(track_colour(b.id));
  for (const cv::Point& p : edge_pixels(b, frame))
    ASSERT_EQ(frame.at<cv::Vec3b>(p), colour) << "id " << b.id << " at " << p;
}

bool any_pixel_of(const cv::Mat& frame, const cv::Rect& area, const cv::Vec3b& colour) {
  const cv::Mat part = frame(area & cv::Rect(0, 0, frame.cols, frame.rows));
  for (int y = 0; y < part.rows; ++y)
    for (int x = 0; x < part.cols; ++x)
      if (part.at<cv::Vec3b>(y, x) == colour) return true;
  return false;
}

int l1(const cv::Scalar& a, const cv::Scalar& b) {
  return static_cast<int>(std::abs(a[0] - b[0]) + std::abs(a[1] - b[1]) + std::abs(a[2] - b[2]));
}

class scratch_dir {
 public:
  scratch_dir() : path_(fs::temp_directory_path() / ("test_overlay." + std::to_string(getpid()))) {
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~scratch_dir() { fs::remove_all(path_); }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

}  // namespace

// Box 3 has room for its tag above; box 17 touches the top, so its tag goes
// inside; box 40's tag lands across box 3's bottom-right corner, which must stay
// drawn.
TEST(Drawing, OutlinesLieExactlyOnTheCornersInTheTrackColourUnderAnyTag) {
  cv::Mat frame = black(120, 90);
  const std::vector<drawn_box> boxes = {
      {3, 10, 30, 50, 70}, {17, 70, 0, 100, 40}, {40, 40, 75, 60, 88}};
  draw_overlay(frame, boxes, {});
  for (const drawn_box& b : boxes) expect_outline(frame, b);

  // Nothing one pixel outside box 3 on the left or below it, nor inside it away from the tags.
  for (int y = 30; y <= 70; ++y) EXPECT_EQ(frame.at<cv::Vec3b>(y, 9), cv::Vec3b(0, 0, 0)) << y;
  for (int x = 10; x <= 39; ++x) EXPECT_EQ(frame.at<cv::Vec3b>(71, x), cv::Vec3b(0, 0, 0)) << x;
  for (int y = 31; y <= 34; ++y) EXPECT_EQ(frame.at<cv::Vec3b>(y, 30), cv::Vec3b(0, 0, 0)) << y;

  // Each tag near its box's top-left corner: above boxes 3 and 40, inside box 17.
  EXPECT_TRUE(any_pixel_of(frame, cv::Rect(10, 15, 20, 15), pixel_of(track_colour(3))));
  EXPECT_TRUE(any_pixel_of(frame, cv::Rect(71, 1, 20, 15), pixel_of(track_colour(17))));
  EXPECT_TRUE(any_pixel_of(frame, cv::Rect(51, 64, 10, 11), pixel_of(track_colour(40))));
}

// Centres (10, 20) and (50, 40): the midpoint (30, 30) is on the line either way round.
TEST(Drawing, PairLinePassesThroughTheMidpointOfTheCentresAndBadIndicesAreSkipped) {
  const std::vector<drawn_box> boxes = {{1, 5, 15, 15, 25}, {2, 45, 35, 55, 45}};
  for (auto pair : {std::make_pair(0, 1), std::make_pair(1, 0)}) {
    cv::Mat frame = black(80, 60);
    draw_overlay(frame, boxes, {pair, {0, 2}, {-1, 1}, {INT_MAX, INT_MIN}});
    EXPECT_EQ(frame.at<cv::Vec3b>(30, 30), pixel_of(pair_colour()));
    EXPECT_EQ(frame.at<cv::Vec3b>(20, 10), pixel_of(pair_colour()));
    EXPECT_EQ(frame.at<cv::Vec3b>(40, 50), pixel_of(pair_colour()));
    EXPECT_EQ(frame.at<cv::Vec3b>(10, 30), cv::Vec3b(0, 0, 0));
  }
}

// The extras: the frame number in white on black at the top left, under the
// boxes; a trail in its track's colour through its points; a thick pair line
// three pixels wide where a thin one is one.
TEST(Drawing, FrameNumberTrailsAndThickPairsUnderTheOutlines) {
  const std::vector<drawn_box> boxes = {{1, 5, 60, 15, 70}, {2, 45, 80, 55, 90}, {3, 2, 2, 12, 12}};
  overlay_extras extras;
  extras.frame = 27;
  extras.trails = {{5, {cv::Point(60, 20), cv::Point(80, 20), cv::Point(80, 40)}}};
  extras.thick = {true};
  cv::Mat frame = black(120, 100);
  draw_overlay(frame, boxes, {{0, 1}}, extras);
  EXPECT_TRUE(any_pixel_of(frame, cv::Rect(0, 0, 60, 14), cv::Vec3b(255, 255, 255)));
  EXPECT_EQ(frame.at<cv::Vec3b>(1, 40), cv::Vec3b(0, 0, 0)) << "the number's background";
  expect_outline(frame, boxes[2]);  // box 3 lies under the number, still whole
  for (const cv::Point p : {cv::Point(60, 20), cv::Point(70, 20), cv::Point(80, 30)})
    EXPECT_EQ(frame.at<cv::Vec3b>(p), pixel_of(track_colour(5))) << p;
  EXPECT_EQ(frame.at<cv::Vec3b>(21, 70), cv::Vec3b(0, 0, 0)) << "one pixel wide";
  // The pair (thick) from (10, 65) to (50, 85): one pixel on either side of
  // its middle.
  EXPECT_EQ(frame.at<cv::Vec3b>(76, 30), pixel_of(pair_colour()));
  EXPECT_EQ(frame.at<cv::Vec3b>(74, 30), pixel_of(pair_colour()));
  cv::Mat thin = black(120, 100);
  draw_overlay(thin, boxes, {{0, 1}}, overlay_extras{});
  EXPECT_EQ(thin.at<cv::Vec3b>(76, 30), cv::Vec3b(0, 0, 0));
  EXPECT_EQ(thin.at<cv::Vec3b>(1, 40), cv::Vec3b(0, 0, 0)) << "no number without a frame";
}

TEST(Drawing, BoxesOutsideTheFrameAreClippedOrSkipped) {
  const drawn_box partly = {5, -10, -5, 10, 8};
  const std::vector<drawn_box> outside = {{6, 100, 100, 120, 120}, {7, -50, -50, -40, -40},
                                          {8, 40, 0, 60, 10},      {9, INT_MIN, 5, -1, 9},
                                          {10, 20, 20, 10, 25},    {11, 5, 9, 6, 8}};
  cv::Mat frame = black(40, 30);
  draw_overlay(frame, outside, {{0, 2}, {1, 3}});  // lines that pass by the frame
  EXPECT_EQ(cv::countNonZero(frame.reshape(1)), 0);

  std::vector<drawn_box> boxes = outside;
  boxes.push_back(partly);
  boxes.push_back({12, INT_MIN, INT_MIN, INT_MAX, INT_MAX});  // covers the frame, edges outside
  draw_overlay(frame, boxes, {{7, 1}, {0, 2}});
  expect_outline(frame, partly);
  EXPECT_EQ(edge_pixels(partly, frame).size(), 11u + 9u - 1u);  // right and bottom edges

  // Centres a billion pixels apart on row 7: the clipped line crosses the frame on that row.
  cv::Mat wide = black(40, 30);
  draw_overlay(wide, {{9, INT_MIN, 5, -1, 9}, {13, 0, 7, INT_MAX, 7}}, {{0, 1}});
  for (int x = 0; x < 40; ++x) EXPECT_EQ(wide.at<cv::Vec3b>(7, x), pixel_of(pair_colour())) << x;

  cv::Mat grey(30, 40, CV_8UC1, cv::Scalar(0)), empty;
  draw_overlay(grey, boxes, {{0, 1}});
  draw_overlay(empty, boxes, {{0, 1}});
  EXPECT_EQ(cv::countNonZero(grey), 0);
}

// Distinct by a margin over 0..99, far apart for ids up to three apart, and
// never near black (brightest channel) or white (darkest channel), so neither
// the background nor the white pair lines can be mistaken for a track.
TEST(TrackColour, HundredIdsDistinctNeighboursFarApartNoneNearBlackOrWhite) {
  for (int i = 0; i < 100; ++i) {
    const cv::Scalar a = track_colour(i);
    EXPECT_EQ(a, track_colour(i));
    const double brightest = std::max({a[0], a[1], a[2]}), darkest = std::min({a[0], a[1], a[2]});
    EXPECT_GE(brightest, 160) << i;
    EXPECT_LE(brightest, 255) << i;
    EXPECT_LE(darkest, 110) << i;
    EXPECT_GE(darkest, 0) << i;
    for (int j = i + 1; j < 100; ++j) {
      EXPECT_GE(l1(a, track_colour(j)), 15) << i << " " << j;
      if (j - i <= 3) {
        EXPECT_GE(l1(a, track_colour(j)), 100) << i << " " << j;
      }
    }
  }
  for (int id : {-1, INT_MIN, INT_MAX}) EXPECT_GE(l1(track_colour(id), pair_colour()), 100) << id;
}

TEST(EncodePng, RoundTripsThroughImdecodeAndRefusesAnEmptyFrame) {
  cv::Mat frame(23, 37, CV_8UC3);
  cv::randu(frame, cv::Scalar::all(0), cv::Scalar::all(256));
  std::vector<unsigned char> bytes(5, 0xAB);
  ASSERT_EQ(encode_png(frame, bytes), "");
  const cv::Mat back = cv::imdecode(bytes, cv::IMREAD_UNCHANGED);
  ASSERT_EQ(back.type(), CV_8UC3);
  ASSERT_EQ(back.size(), frame.size());
  EXPECT_EQ(cv::norm(back, frame, cv::NORM_INF), 0);

  EXPECT_EQ(encode_png(cv::Mat(), bytes), "cannot encode an empty frame as PNG");
  EXPECT_TRUE(bytes.empty());
}

// The files written before libpng was called directly came from OpenCV's
// writer: the same frames give the same bytes (a changed filter, strategy,
// level, channel order or chunk would show here).
TEST(EncodePng, TheBytesOfOpenCvsWriterAtTheSameLevel) {
  const auto random = [](int rows, int cols, int type) {
    cv::Mat m(rows, cols, type);
    cv::randu(m, cv::Scalar::all(0), cv::Scalar::all(type == CV_16UC3 ? 65536 : 256));
    return m;
  };
  const cv::Mat footage = cv::imread(TAVO_EXAMPLES_DIR "/footage/frame_01.jpg", cv::IMREAD_COLOR);
  ASSERT_FALSE(footage.empty());
  cv::Mat drawn = footage.clone();
  draw_overlay(drawn, {{3, {40, 30, 90, 120}}, {7, {100, 50, 160, 170}}}, {{0, 1}},
               overlay_extras{12, {}, {true}});
  cv::Mat wide(9, 13, CV_32FC3);
  cv::randu(wide, cv::Scalar::all(-20), cv::Scalar::all(300));
  const struct {
    const char* what;
    cv::Mat frame;
  } cases[] = {
      {"footage frame", footage},
      {"drawn footage frame", drawn},
      {"a part of a frame (rows apart)", drawn(cv::Rect(17, 5, 101, 77))},
      {"random colour, odd size", random(37, 61, CV_8UC3)},
      {"random grey", random(29, 1, CV_8UC1)},
      {"random with alpha", random(1, 43, CV_8UC4)},
      {"flat colour", cv::Mat(240, 320, CV_8UC3, cv::Scalar(10, 200, 30))},
      {"flat grey, one pixel", cv::Mat(1, 1, CV_8UC1, cv::Scalar(77))},
      {"16-bit colour", random(11, 7, CV_16UC3)},
      {"float samples, converted to 8 bits", wide},
  };
  for (const auto& c : cases) {
    std::vector<unsigned char> expected, bytes;
    ASSERT_TRUE(cv::imencode(".png", c.frame, expected, {cv::IMWRITE_PNG_COMPRESSION, 1}))
        << c.what;
    ASSERT_EQ(encode_png(c.frame, bytes), "") << c.what;
    EXPECT_EQ(bytes, expected) << c.what;
  }
}

// libpng's errors come back through its jump as one line, not an exception
// nor anything printed, and leave no bytes behind.
TEST(EncodePng, FramesNoPngHoldsAreRefusedWithALine) {
  std::vector<unsigned char> bytes(3, 1);
  EXPECT_EQ(encode_png(cv::Mat(4, 4, CV_8UC2, cv::Scalar::all(1)), bytes),
            "cannot encode a frame of 2 channels as PNG");
  EXPECT_TRUE(bytes.empty());
  // Wider than libpng writes (a million pixels).
  bytes.assign(3, 1);
  EXPECT_EQ(encode_png(cv::Mat(1, 1'000'001, CV_8UC1, cv::Scalar::all(0)), bytes),
            "cannot encode the frame as PNG: Invalid IHDR data");
  EXPECT_TRUE(bytes.empty());
  // The encoder is whole again after a failure.
  EXPECT_EQ(encode_png(cv::Mat(2, 2, CV_8UC3, cv::Scalar::all(5)), bytes), "");
  EXPECT_FALSE(bytes.empty());
}

#if !defined(__SANITIZE_ADDRESS__)  // the sanitizer's allocator dies instead of failing
// Memory running out inside libpng or in its output becomes std::bad_alloc:
// in a child whose address space ends a little above what it holds.
TEST(FaultInjectionEncodePng, OutOfMemoryIsBadAlloc) {
  cv::Mat frame(1500, 1500, CV_8UC3);
  cv::randu(frame, cv::Scalar::all(0), cv::Scalar::all(256));  // incompressible: ~6.75 MB
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    long pages = 0;
    if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
      if (std::fscanf(f, "%ld", &pages) != 1) pages = 0;
      std::fclose(f);
    }
    if (pages == 0) ::_exit(3);
    const rlim_t limit = static_cast<rlim_t>(pages) * ::sysconf(_SC_PAGESIZE) + (2 << 20);
    const rlimit r{limit, limit};
    if (::setrlimit(RLIMIT_AS, &r) != 0) ::_exit(3);
    std::vector<unsigned char> bytes;
    try {
      ::_exit(encode_png(frame, bytes).empty() ? 1 : 2);
    } catch (const std::bad_alloc&) {
      ::_exit(0);
    }
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: encoded anyway, 2: a message, 3: no limit set";
}
#endif

TEST(OverlayVideo, FramesReadBackWithTheirCountSizeRateAndOrder) {
  scratch_dir dir;
  const int kFrames = 12, kWidth = 64, kHeight = 48;
  for (bool explicit_close : {true, false}) {
    const std::string path =
        (dir.path() / ("overlay.tmp" + std::to_string(explicit_close))).string();
    {
      overlay_video video;
      ASSERT_EQ(video.open(path, 25, kWidth, kHeight), "");
      EXPECT_NE(video.open(path + "b", 25, kWidth, kHeight), "");
      for (int k = 0; k < kFrames; ++k) {
        ASSERT_EQ(video.write(cv::Mat(kHeight, kWidth, CV_8UC3, cv::Scalar::all(k * 20))), "");
        if (k == kFrames / 2) {
          EXPECT_NE(video.write(black(kWidth + 1, kHeight)), "");
          EXPECT_NE(video.write(cv::Mat(kHeight, kWidth, CV_8UC1, cv::Scalar(0))), "");
        }
      }
      EXPECT_EQ(video.frames(), kFrames);
      if (explicit_close) {
        EXPECT_EQ(video.close(), "");
        EXPECT_FALSE(video.is_open());
        EXPECT_EQ(video.close(), "");
      }
    }
    EXPECT_FALSE(fs::exists(path + ".avi"));

    cv::VideoCapture capture(path);
    ASSERT_TRUE(capture.isOpened()) << path;
    EXPECT_EQ(capture.get(cv::CAP_PROP_FRAME_COUNT), kFrames);
    EXPECT_EQ(capture.get(cv::CAP_PROP_FRAME_WIDTH), kWidth);
    EXPECT_EQ(capture.get(cv::CAP_PROP_FRAME_HEIGHT), kHeight);
    EXPECT_EQ(capture.get(cv::CAP_PROP_FPS), 25);
    int read = 0;
    for (cv::Mat frame; capture.read(frame); ++read) {
      ASSERT_EQ(frame.size(), cv::Size(kWidth, kHeight));
      EXPECT_NEAR(cv::mean(frame)[1], read * 20, 3) << read;
    }
    EXPECT_EQ(read, kFrames);
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2);
}

TEST(OverlayVideo, MissingDirectoryOrBadParametersFailWithAMessage) {
  scratch_dir dir;
  const std::string missing = (dir.path() / "missing" / "out.avi").string();
  const std::string path = (dir.path() / "out").string();
  overlay_video video;
  const std::string why = video.open(missing, 25, 64, 48);
  EXPECT_NE(why.find(missing), std::string::npos) << why;
  EXPECT_NE(why.find("No such file or directory"), std::string::npos) << why;
  EXPECT_NE(video.open(path, 0, 64, 48), "");
  EXPECT_NE(video.open(path, NAN, 64, 48), "");
  EXPECT_NE(video.open(path, 25, 0, 48), "");
  EXPECT_NE(video.open(path, 25, 64, -1), "");
  EXPECT_FALSE(video.is_open());
  EXPECT_NE(video.write(black(64, 48)), "");
  EXPECT_EQ(video.close(), "");
  EXPECT_TRUE(fs::is_empty(dir.path()));
}

// The writer ignores its write errors: a video cut short, or whose index
// lacks frames, is found by reading the finished file back.
TEST(OverlayVideo, ACutOrUnderIndexedFileIsIncomplete) {
  scratch_dir dir;
  const std::string path = (dir.path() / "whole.avi").string();
  {
    overlay_video video;
    ASSERT_EQ(video.open(path, 25, 64, 48), "");
    for (int k = 0; k < 5; ++k) ASSERT_EQ(video.write(black(64, 48)), "");
    ASSERT_EQ(video.close(), "");
  }
  EXPECT_EQ(check_avi(path, 5), "");
  EXPECT_EQ(check_avi(path, 6), "the video is incomplete (its index holds 5 frames of 6)");
  const auto size = fs::file_size(path);
  for (std::uintmax_t cut : {size - 1, size / 2, std::uintmax_t{10}}) {
    const fs::path copy = dir.path() / ("cut" + std::to_string(cut));
    fs::copy_file(path, copy);
    fs::resize_file(copy, cut);
    EXPECT_EQ(check_avi(copy.string(), 5).rfind("the video is incomplete (", 0), 0u) << cut;
  }
}

// A video beyond 1 GiB goes on in AVIX chunks after the first RIFF: the file
// is whole when the chunks fill it exactly, whatever each holds.
TEST(OverlayVideo, ExtensionChunksMustFillTheFileExactly) {
  scratch_dir dir;
  const std::string path = (dir.path() / "long.avi").string();
  {
    overlay_video video;
    ASSERT_EQ(video.open(path, 25, 64, 48), "");
    for (int k = 0; k < 5; ++k) ASSERT_EQ(video.write(black(64, 48)), "");
    ASSERT_EQ(video.close(), "");
  }
  std::ifstream in(path, std::ios::binary);
  const std::string avi((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  in.close();
  // RIFF, its size (the type and one empty LIST: 16 bytes), AVIX, the LIST.
  const std::string extension("RIFF\x10\0\0\0AVIXLIST\x04\0\0\0movi", 24);
  const struct {
    std::string bytes;
    bool whole;
  } cases[] = {
      {avi + extension, true},
      {avi + extension + extension, true},
      {avi + extension.substr(0, 20), false},  // the extension cut
      {avi + "JUNK" + extension.substr(4), false},
      {avi + extension + "x", false},
  };
  for (const auto& c : cases) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << c.bytes;
    const std::string why = check_avi(path, 5);
    EXPECT_EQ(why.empty(), c.whole) << why << " (" << c.bytes.size() << " bytes)";
    if (!c.whole) {
      EXPECT_EQ(why.rfind("the video is incomplete (", 0), 0u) << why;
    }
  }
}
