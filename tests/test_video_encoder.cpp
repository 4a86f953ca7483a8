// trackvideo's video writer: MP4s and AVIs written from known frames and
// decoded back with trackvideo's own decoder (count, size, rate, pixels), odd
// sizes, the MP4's index at the front, and its failures as one line naming the
// user's file; the decoder's threads; the video module as the program loads it.
#include "trackvideo/video/video_encoder.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/child.h"
#include "trackvideo/sinks/overlay.h"
#include "trackvideo/video/video_decoder.h"

namespace fs = std::filesystem;
using namespace trackvideo;

namespace {

// Frame k: a horizontal ramp, a square moving right by 3 pixels a frame, and
// the last column and row in distinct colours (what padding must keep).
cv::Mat pattern(int width, int height, int k) {
  cv::Mat frame(height, width, CV_8UC3);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      frame.at<cv::Vec3b>(y, x) =
          cv::Vec3b(static_cast<uchar>(x * 255 / width), 90, static_cast<uchar>(y * 255 / height));
  cv::rectangle(frame, cv::Rect(3 * k % (width - 8), height / 3, 8, 8), cv::Scalar(20, 220, 240),
                cv::FILLED);
  frame.col(width - 1).setTo(cv::Scalar(0, 0, 230));   // red
  frame.row(height - 1).setTo(cv::Scalar(230, 0, 0));  // blue
  return frame;
}

double mean_abs_diff(const cv::Mat& a, const cv::Mat& b) {
  cv::Mat d;
  cv::absdiff(a, b, d);
  const cv::Scalar m = cv::mean(d);
  return (m[0] + m[1] + m[2]) / 3;
}

std::string head_of(const fs::path& path, std::size_t n) {
  std::ifstream in(path, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return text.substr(0, n);
}

}  // namespace

// Even and odd sizes, a whole and an NTSC rate, both formats: every frame
// comes back, in order, close to what was written. An MP4's odd size grows by
// one column or row repeating the last (the red column and the blue row are
// seen twice), so no pixel is lost; an AVI keeps the size as it is.
TEST(VideoEncoder, FramesDecodeBackInOrderCloseToTheInputOddSizesPadded) {
  struct size_case {
    video_format format;
    int width, height;
    double fps;
    // Mean absolute differences per channel: lossy coding of this pattern
    // stays under 9 at CRF 23; as JPEGs at scale 2 under 7 and 12 (the small
    // frame worse: more of it is the one-pixel red and blue edges, whose
    // chroma 4:2:0 shares with their neighbours; OpenCV's own writer at 95 %
    // gives 6.4 and 12.6); swapped channels give over 50.
    double most_off;
  };
  const size_case cases[] = {{video_format::mp4_h264, 64, 48, 25, 12},
                             {video_format::mp4_h264, 33, 25, 30000.0 / 1001, 12},
                             {video_format::avi_mjpeg, 64, 48, 25, 9},
                             {video_format::avi_mjpeg, 33, 25, 10, 14}};
  tavo_test::scratch_dir dir;
  const int kFrames = 12;
  // The padding within 20 of the edge it repeats (black padding would give
  // over 70).
  const double kMostOffEdge = 20;
  for (const size_case& c : cases) {
    const bool mp4 = c.format == video_format::mp4_h264;
    SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height) +
                 (mp4 ? " mp4" : " avi"));
    const fs::path path = dir.path() / (std::to_string(c.width) + (mp4 ? ".mp4" : ".avi"));
    video_encoder encoder;
    ASSERT_EQ(encoder.open(path.string(), "out", c.format, c.fps, c.width, c.height), "");
    for (int k = 0; k < kFrames; ++k) ASSERT_EQ(encoder.write(pattern(c.width, c.height, k)), "");
    EXPECT_EQ(encoder.frames(), kFrames);
    ASSERT_EQ(encoder.close(), "");
    EXPECT_FALSE(encoder.is_open());

    const std::string head = head_of(path, 4096);
    if (mp4) {
      // The index before the pictures, so that a page plays it while loading.
      ASSERT_EQ(head.substr(4, 4), "ftyp");
      ASSERT_NE(head.find("mdat"), std::string::npos);
      EXPECT_LT(head.find("moov"), head.find("mdat"));
    } else {
      // Motion-JPEG as AVI players know it: the MJPG handler, a whole index.
      EXPECT_EQ(head.substr(0, 4) + head.substr(8, 4), "RIFFAVI ");
      EXPECT_NE(head.find("vidsMJPG"), std::string::npos);
      EXPECT_EQ(check_avi(path.string(), kFrames), "");
    }

    video_decoder decoder;
    ASSERT_EQ(decoder.open(path.string(), 1 << 20, 0), "");
    EXPECT_NEAR(decoder.fps(0), c.fps, 1e-6);
    const cv::Size even(c.width + c.width % 2, c.height + c.height % 2);
    const cv::Size size = mp4 ? even : cv::Size(c.width, c.height);
    int read = 0;
    for (;; ++read) {
      cv::Mat frame;
      bool ended = false;
      ASSERT_EQ(decoder.next(&frame, ended), "");
      if (ended) break;
      ASSERT_EQ(frame.size(), size);
      const cv::Mat input = pattern(c.width, c.height, read);
      const cv::Mat kept = frame(cv::Rect(0, 0, c.width, c.height));
      const double off = mean_abs_diff(kept, input);
      EXPECT_LT(off, c.most_off) << "frame " << read;
      // The frame before it (its square elsewhere) is farther off.
      if (read > 0) {
        EXPECT_LT(off, mean_abs_diff(kept, pattern(c.width, c.height, read - 1))) << read;
      }
      if (size.width > c.width) {
        const cv::Mat padding = frame.col(c.width).rowRange(0, c.height);
        EXPECT_LT(mean_abs_diff(padding, input.col(c.width - 1)), kMostOffEdge) << read;
      }
      if (size.height > c.height) {
        const cv::Mat padding = frame.row(c.height).colRange(0, c.width);
        EXPECT_LT(mean_abs_diff(padding, input.row(c.height - 1)), kMostOffEdge) << read;
      }
    }
    EXPECT_EQ(read, kFrames);
  }
}

// Each failure is one line naming the file as the caller shows it, never the
// path FFmpeg was given; a wrong frame leaves the encoder usable.
TEST(VideoEncoder, FailuresAreOneLineNamingTheShownFile) {
  tavo_test::scratch_dir dir;
  video_encoder encoder;
  const std::string missing = (dir.path() / "no" / "x.mp4").string();
  EXPECT_EQ(encoder.open(missing, "shown.mp4", video_format::mp4_h264, 25, 64, 48),
            "cannot write shown.mp4: No such file or directory");
  EXPECT_FALSE(encoder.is_open());
  EXPECT_NE(
      encoder.open((dir.path() / "a.mp4").string(), "a.mp4", video_format::mp4_h264, 0, 64, 48),
      "");
  EXPECT_NE(
      encoder.open((dir.path() / "a.mp4").string(), "a.mp4", video_format::mp4_h264, 1e-9, 64, 48),
      "");
  EXPECT_NE(
      encoder.open((dir.path() / "a.mp4").string(), "a.mp4", video_format::mp4_h264, 25, 0, 48),
      "");

  ASSERT_EQ(
      encoder.open((dir.path() / "b.mp4").string(), "b.mp4", video_format::mp4_h264, 25, 64, 48),
      "");
  EXPECT_NE(encoder.write(pattern(65, 48, 0)), "");
  EXPECT_NE(encoder.write(cv::Mat(48, 64, CV_8UC1, cv::Scalar(0))), "");
  EXPECT_EQ(encoder.write(pattern(64, 48, 0)), "");
  EXPECT_EQ(encoder.close(), "");
  EXPECT_EQ(encoder.frames(), 1);

  // A device that takes no byte: the failure shows by close() at the latest.
  std::string why = encoder.open("/dev/full", "full.mp4", video_format::mp4_h264, 25, 64, 48);
  for (int k = 0; k < 40 && why.empty(); ++k) why = encoder.write(pattern(64, 48, k));
  const std::string closed = encoder.close();
  if (why.empty()) why = closed;
  EXPECT_EQ(why, "cannot write full.mp4: No space left on device");
  EXPECT_FALSE(encoder.is_open());
}

// overlay_video picks the writer by the name: NAME.mp4 (any case) is an MP4,
// committed under the user's name with nothing else left in the folder.
TEST(VideoEncoder, OverlayVideoWritesAnMp4ForAnMp4Name) {
  EXPECT_EQ(std::string(overlay_video::private_name("X.mP4")), "overlay.mp4");
  EXPECT_EQ(std::string(overlay_video::private_name("x.avi")), "overlay.avi");

  tavo_test::scratch_dir dir;
  const fs::path path = dir.path() / "o.Mp4";
  {
    overlay_video video;
    ASSERT_EQ(video.open(path.string(), 25, 33, 25), "");
    for (int k = 0; k < 5; ++k) ASSERT_EQ(video.write(pattern(33, 25, k)), "");
    ASSERT_EQ(video.close(), "");
  }
  EXPECT_EQ(head_of(path, 8).substr(4), "ftyp");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

// FFmpeg's frame threads decode several frames at once and hand them back in
// order: the bundled footage as H.264 (with B-frames, so reordered) decodes to
// the same pixels, frame by frame, with 1 thread and with 3.
TEST(VideoDecoder, AnyThreadCountGivesTheSameFramesInTheSameOrder) {
  tavo_test::scratch_dir dir;
  const fs::path footage = fs::path(TAVO_EXAMPLES_DIR) / "footage";
  const fs::path path = dir.path() / "footage.mp4";
  {
    const cv::Mat first = cv::imread((footage / "frame_01.jpg").string());
    ASSERT_FALSE(first.empty());
    video_encoder encoder;
    ASSERT_EQ(encoder.open(path.string(), "footage.mp4", video_format::mp4_h264, 10, first.cols,
                           first.rows),
              "");
    char name[32];
    for (int k = 1; k <= 30; ++k) {
      std::snprintf(name, sizeof name, "frame_%02d.jpg", k);
      ASSERT_EQ(encoder.write(cv::imread((footage / name).string())), "") << name;
    }
    ASSERT_EQ(encoder.close(), "");
  }
  std::vector<cv::Mat> frames[2];
  const int threads[2] = {1, 3};
  for (int t = 0; t < 2; ++t) {
    video_decoder decoder;
    ASSERT_EQ(decoder.open(path.string(), 1 << 22, threads[t]), "");
    for (bool ended = false;;) {
      cv::Mat frame;
      ASSERT_EQ(decoder.next(&frame, ended), "");
      if (ended) break;
      frames[t].push_back(frame);
    }
  }
  ASSERT_EQ(frames[0].size(), 30u);
  ASSERT_EQ(frames[1].size(), 30u);
  for (std::size_t k = 0; k < frames[0].size(); ++k)
    EXPECT_EQ(cv::norm(frames[0][k], frames[1][k], cv::NORM_INF), 0) << "frame " << k + 1;
}
