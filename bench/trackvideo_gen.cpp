// bench/trackvideo_gen.cpp - writes the trackvideo benchmark input.
//
//   trackvideo_gen DIR [FRAMES [OBJECTS]]      (default 500 100)
//   trackvideo_gen DIR FRAMES OBJECTS WxH      (the large case: an H.264 MP4)
//
// Writes into DIR (created if missing), for a 320 x 240 video of FRAMES frames
// in which OBJECTS coloured objects move over a moving textured background:
//
//   video.avi           Motion-JPEG AVI at 25 frames a second (OpenCV's built-in
//                       writer);
//   tracks.txt          three detections per object and frame, one row each,
//                       "frame,id,left,top,width,height,1,-1,-1,-1", ids 1..OBJECTS;
//   frames/frame_NN.jpg the same frames encoded by libjpeg (quality 95) as files
//                       (frame_01.jpg .. frame_500.jpg): a program reading the
//                       folder and histfeat reading the files decode the very
//                       same bytes. (The AVI's own frames are not used: OpenCV's
//                       built-in writer ends some of them early, and histfeat
//                       refuses a JPEG that its decoder warns about.)
//   footage/            the same detections in examples/pipeline.sh's layout:
//                       boxes.txt ("object frame" and three boxes x1 y1 x2 y2)
//                       and frame_NN.jpg, hard links to the files in frames/.
//
// Objects: boxes of 10..30 x 20..60 pixels (people at this resolution), moving
// in straight lines at up to 1.5 pixels a frame and bouncing off the borders;
// each frame's three detections are the box and two copies with every corner
// moved by up to 2 pixels, as a detector proposing candidates would. All
// positions are integers (fixed point, 1/16 pixel) drawn from a fixed 64-bit
// generator, so the tracks depend only on the arguments. Prints one summary line.
//
// With a size W x H (even, at least 320 x 240) the scene is the same drawn
// at that size: every length (boxes, speeds, the detections' jitter, the
// background's grid and scrolling) multiplied by W / 320 across and H / 240
// down, the same draws from the generator. DIR then gets video.mp4 (H.264,
// trackvideo's own encoder: CRF 23, "veryfast", yuv420p), tracks.txt and
// frames/ (JPEG, quality 95); no footage/.
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bench/generator.h"
#include "trackvideo/video/video_encoder.h"

namespace fs = std::filesystem;

namespace {

// The frame; the defaults are the small case's.
int kWidth = 320, kHeight = 240;
constexpr int kBaseWidth = 320, kBaseHeight = 240;
constexpr double kFps = 25;
constexpr int kDetections = 3;
constexpr int kFixed = 16;  // positions in 1/16 pixel

struct box {
  int x1, y1, x2, y2;
};

struct object {
  int width, height;  // pixels
  int x, y;           // top-left corner, fixed point
  int vx, vy;         // per frame, fixed point
  cv::Scalar upper, lower;
};

// The box moved (not cut) so that it lies inside the frame.
box inside(box b) {
  const int dx = std::max(0, -b.x1) - std::max(0, b.x2 - (kWidth - 1));
  const int dy = std::max(0, -b.y1) - std::max(0, b.y2 - (kHeight - 1));
  return {b.x1 + dx, b.y1 + dy, b.x2 + dx, b.y2 + dy};
}

void step(object& o) {
  const int max_x = (kWidth - o.width) * kFixed, max_y = (kHeight - o.height) * kFixed;
  o.x += o.vx;
  o.y += o.vy;
  if (o.x < 0 || o.x > max_x) {
    o.vx = -o.vx;
    o.x = std::clamp(o.x, 0, max_x);
  }
  if (o.y < 0 || o.y > max_y) {
    o.vy = -o.vy;
    o.y = std::clamp(o.y, 0, max_y);
  }
}

[[noreturn]] void fail(const std::string& why) {
  std::fprintf(stderr, "trackvideo_gen: %s\n", why.c_str());
  std::exit(1);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 5) {
    std::fprintf(stderr, "usage: trackvideo_gen DIR [FRAMES [OBJECTS [WxH]]]\n");
    return 2;
  }
  const fs::path dir = argv[1];
  const int frames = argc > 2 ? std::atoi(argv[2]) : 500;
  const int objects = argc > 3 ? std::atoi(argv[3]) : 100;
  if (frames < 1 || objects < 1) fail("FRAMES and OBJECTS must be positive");
  const bool large = argc > 4;
  if (large && (std::sscanf(argv[4], "%dx%d", &kWidth, &kHeight) != 2 || kWidth < kBaseWidth ||
                kHeight < kBaseHeight || kWidth % 2 || kHeight % 2))
    fail("the size must be WxH, even, at least 320x240");
  // Lengths of the small case, scaled to the frame.
  const auto sx = [](int v) {
    return static_cast<int>(static_cast<long long>(v) * kWidth / kBaseWidth);
  };
  const auto sy = [](int v) {
    return static_cast<int>(static_cast<long long>(v) * kHeight / kBaseHeight);
  };
  fs::create_directories(dir / "frames");
  if (!large) fs::create_directories(dir / "footage");

  generator g(20261209);
  std::vector<object> all(objects);
  for (object& o : all) {
    o.width = sx(g.uniform(10, 30));
    o.height = sy(g.uniform(20, 60));
    o.x = sx(g.uniform(0, (kBaseWidth - o.width * kBaseWidth / kWidth) * kFixed));
    o.y = sy(g.uniform(0, (kBaseHeight - o.height * kBaseHeight / kHeight) * kFixed));
    o.vx = sx(g.uniform(-24, 24));
    o.vy = sy(g.uniform(-12, 12));
    o.upper = cv::Scalar(g.uniform(0, 255), g.uniform(0, 255), g.uniform(0, 255));
    o.lower = cv::Scalar(g.uniform(0, 255), g.uniform(0, 255), g.uniform(0, 255));
  }

  // Background: blurred noise with a grid, twice the frame, scrolled diagonally.
  cv::Mat texture(2 * kHeight, 2 * kWidth, CV_8UC3);
  cv::RNG rng(20261209);
  rng.fill(texture, cv::RNG::UNIFORM, cv::Scalar::all(40), cv::Scalar::all(200));
  cv::GaussianBlur(texture, texture, cv::Size(7, 7), 2);
  for (int x = 0; x < texture.cols; x += sx(24))
    cv::line(texture, {x, 0}, {x, texture.rows - 1}, cv::Scalar(90, 110, 90), sx(1));
  for (int y = 0; y < texture.rows; y += sy(24))
    cv::line(texture, {0, y}, {texture.cols - 1, y}, cv::Scalar(90, 110, 90), sy(1));

  const std::string video_path = (dir / (large ? "video.mp4" : "video.avi")).string();
  cv::VideoWriter writer;
  trackvideo::video_encoder encoder;
  if (large) {
    const std::string why = encoder.open(video_path, video_path, trackvideo::video_format::mp4_h264,
                                         kFps, kWidth, kHeight);
    if (!why.empty()) fail(why);
  } else {
    writer.open(video_path, cv::CAP_OPENCV_MJPEG, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), kFps,
                cv::Size(kWidth, kHeight), true);
    if (!writer.isOpened()) fail("cannot write " + video_path);
  }
  std::ofstream tracks(dir / "tracks.txt");
  std::ofstream boxes;
  if (!large) {
    boxes.open(dir / "footage" / "boxes.txt");
    boxes << "# object frame, then three candidate boxes x1 y1 x2 y2 (inclusive, 320 x 240)\n";
  }
  std::vector<std::vector<box>> detections(objects);
  for (int f = 1; f <= frames; ++f) {
    const int ox = sx(f % kBaseWidth), oy = sy((f / 2) % kBaseHeight);
    cv::Mat frame = texture(cv::Rect(ox, oy, kWidth, kHeight)).clone();
    for (int q = 0; q < objects; ++q) {
      object& o = all[q];
      if (f > 1) step(o);
      const box b = {o.x / kFixed, o.y / kFixed, o.x / kFixed + o.width - 1,
                     o.y / kFixed + o.height - 1};
      const int split = b.y1 + o.height * 2 / 5;
      cv::rectangle(frame, cv::Point(b.x1, b.y1), cv::Point(b.x2, split), o.upper, cv::FILLED);
      cv::rectangle(frame, cv::Point(b.x1, split + 1), cv::Point(b.x2, b.y2), o.lower, cv::FILLED);
      detections[q] = {b};
      for (int k = 1; k < kDetections; ++k)
        detections[q].push_back(inside({b.x1 + sx(g.uniform(-2, 2)), b.y1 + sy(g.uniform(-2, 2)),
                                        b.x2 + sx(g.uniform(-2, 2)), b.y2 + sy(g.uniform(-2, 2))}));
    }
    if (large) {
      const std::string why = encoder.write(frame);
      if (!why.empty()) fail(why);
    } else {
      writer.write(frame);
    }
    char name[32];
    std::snprintf(name, sizeof name, "frame_%02d.jpg", f);
    const fs::path file = dir / "frames" / name, link = dir / "footage" / name;
    if (!cv::imwrite(file.string(), frame, {cv::IMWRITE_JPEG_QUALITY, 95}))
      fail("cannot write " + file.string());
    if (!large) {
      fs::remove(link);
      fs::create_hard_link(file, link);
    }
    for (int q = 0; q < objects; ++q) {
      if (!large) boxes << q + 1 << ' ' << f;
      for (const box& d : detections[q]) {
        tracks << f << ',' << q + 1 << ',' << d.x1 << ',' << d.y1 << ',' << d.x2 - d.x1 + 1 << ','
               << d.y2 - d.y1 + 1 << ",1,-1,-1,-1\n";
        if (!large) boxes << ' ' << d.x1 << ' ' << d.y1 << ' ' << d.x2 << ' ' << d.y2;
      }
      if (!large) boxes << '\n';
    }
  }
  if (large) {
    const std::string why = encoder.close();
    if (!why.empty()) fail(why);
  } else {
    writer.release();
  }
  if (!tracks.flush() || (!large && !boxes.flush()))
    fail("cannot write the tracks into " + dir.string());

  std::printf("%d frames %d x %d, %d objects, %d boxes, %ju bytes of video\n", frames, kWidth,
              kHeight, objects, frames * objects * kDetections,
              static_cast<std::uintmax_t>(fs::file_size(video_path)));
  return 0;
}
