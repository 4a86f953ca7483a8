// trackvideo's video module seen through its C table (video_module.cpp), its
// code linked in: bad calls and failed allocations come back as a code and a
// line, never thrown; the program's reader over the table writes the
// decoder's own pixels into the caller's buffer, rows apart as it says.
#include "trackvideo/video/video_module_abi.h"

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "tests/child.h"
#include "trackvideo/video/video_decoder.h"
#include "trackvideo/video/video_encoder.h"
#include "trackvideo/video/video_support.h"

namespace {
bool fail_new = false;  // while set, every operator new of this program fails
}  // namespace

void* operator new(std::size_t n) {
  void* p = fail_new ? nullptr : std::malloc(n ? n : 1);
  if (!p) throw std::bad_alloc();
  return p;
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}

using namespace trackvideo;

TEST(VideoModule, BadCallsAndFailedAllocationsAreACodeAndALine) {
  const trackvideo_video_table& t = *trackvideo_video_module();
  char line[96], other[96];
  trackvideo_video_reader* reader = nullptr;
  trackvideo_video_writer* writer = nullptr;
  std::unique_ptr<video_reader> loaded;
  ASSERT_EQ(new_video_reader(loaded), "");  // the table taken before new fails

  auto code = [&](int c) { return std::to_string(c) + " " + line; };
  std::unique_ptr<video_writer> failed;
  fail_new = true;
  const int no_reader = t.reader_new(&reader, line, sizeof line);
  const int no_writer = t.writer_new(&writer, other, sizeof other);
  EXPECT_THROW(new_video_writer(failed), std::bad_alloc);  // as the program's writer always did
  fail_new = false;
  EXPECT_EQ(code(no_reader) + ", " + std::to_string(no_writer) + " " + other,
            "2 out of memory, 2 out of memory");
  EXPECT_TRUE(reader == nullptr && writer == nullptr);

  ASSERT_EQ(t.reader_new(&reader, line, sizeof line), TRACKVIDEO_VIDEO_OK);
  ASSERT_EQ(t.writer_new(&writer, line, sizeof line), TRACKVIDEO_VIDEO_OK);
  auto* foreign = reinterpret_cast<trackvideo_video_reader*>(writer);
  const int width = 16, height = 8;
  std::vector<unsigned char> pixels(3 * width * height, 128);
  int ended = 0, w = 0, h = 0;
  EXPECT_EQ(code(t.reader_open(foreign, "x", 100, 1, line, sizeof line)), "3 no reader or no path");
  EXPECT_EQ(code(t.reader_next(reader, 1, &ended, &w, &h, line, sizeof line)),
            "3 the reader is not open");
  EXPECT_EQ(code(t.reader_copy(reader, pixels.data(), 3 * width, width, height, line, sizeof line)),
            "3 the reader holds no frame");
  EXPECT_EQ(code(t.writer_open(writer, "x", "x", 7, 25, width, height, line, sizeof line)),
            "3 no such video format");
  EXPECT_EQ(code(t.writer_close(nullptr, line, sizeof line)), "3 no writer");
  EXPECT_EQ(code(t.writer_write(writer, pixels.data(), 3 * width, width, height, 3, 1, line,
                                sizeof line)),
            "1 cannot add a frame: the video is not open");
  t.reader_free(foreign);  // refused: the writer stays whole

  tavo_test::scratch_dir dir;
  const std::string avi = (dir.path() / "v.avi").string();
  ASSERT_EQ(code(t.writer_open(writer, avi.c_str(), "v.avi", TRACKVIDEO_VIDEO_AVI_MJPEG, 25, width,
                               height, line, sizeof line)),
            "0 ");
  EXPECT_EQ(code(t.writer_write(writer, pixels.data(), 3 * width - 1, width, height, 3, 1, line,
                                sizeof line)),
            "3 no buffer, or rows shorter than the frame's");
  EXPECT_EQ(code(t.writer_write(writer, pixels.data(), 6 * width, width, height, 3, 2, line, 12)),
            "1 cannot add ");  // cut to the buffer
  EXPECT_EQ(code(t.writer_write(writer, pixels.data(), 3 * width, width, height, 3, 1, line,
                                sizeof line)),
            "0 ");
  EXPECT_EQ(code(t.writer_close(writer, line, sizeof line)), "0 ");
  EXPECT_EQ(t.writer_frames(writer), 1);

  ASSERT_EQ(code(t.reader_open(reader, avi.c_str(), 1 << 20, 1, line, sizeof line)), "0 ");
  ASSERT_EQ(code(t.reader_next(reader, 1, &ended, &w, &h, line, sizeof line)), "0 ");
  EXPECT_EQ(cv::Size(w, h), cv::Size(width, height));
  std::vector<unsigned char> back(pixels.size(), 0);
  EXPECT_EQ(
      code(t.reader_copy(reader, back.data(), 3 * width, width + 1, height, line, sizeof line)),
      "3 the buffer is not of the frame's size");
  EXPECT_EQ(code(t.reader_copy(reader, back.data(), 3 * width, width, height, line, sizeof line)),
            "0 ");
  EXPECT_NEAR(back[3 * width * height / 2], 128, 3);
  EXPECT_EQ(code(t.reader_next(reader, 0, &ended, nullptr, nullptr, line, sizeof line)), "0 ");
  EXPECT_EQ(ended, 1);
  t.reader_free(reader);
  t.writer_free(writer);
}

// Through the table, the frame written into a part of a larger image (its
// rows farther apart than its width) is the decoder's own, pixel for pixel,
// after a frame passed over too; nothing around it is touched.
TEST(VideoModule, TheReaderWritesTheDecodersPixelsIntoTheCallersRows) {
  tavo_test::scratch_dir dir;
  const std::string mp4 = (dir.path() / "v.mp4").string();
  const cv::Size size(34, 26);  // H.264 codes it as 48 x 32
  {
    video_encoder encoder;
    ASSERT_EQ(encoder.open(mp4, "v.mp4", video_format::mp4_h264, 25, size.width, size.height), "");
    cv::Mat frame(size, CV_8UC3);
    for (int k = 0; k < 6; ++k) {
      cv::randu(frame, 0, 256);
      ASSERT_EQ(encoder.write(frame), "");
    }
    ASSERT_EQ(encoder.close(), "");
  }
  video_decoder decoder;
  std::unique_ptr<video_reader> reader;
  ASSERT_EQ(decoder.open(mp4, 1 << 20, 1), "");
  ASSERT_EQ(new_video_reader(reader), "");
  ASSERT_EQ(reader->open(mp4, 1 << 20, 1), "");
  const cv::Rect part(5, 3, size.width, size.height);
  for (int k = 0;; ++k) {
    cv::Mat expected, image(40, 50, CV_8UC3, cv::Scalar::all(7));
    cv::Mat frame = image(part);
    bool ended = false, ended_too = false;
    ASSERT_EQ(decoder.next(k == 1 ? nullptr : &expected, ended), "");
    ASSERT_EQ(reader->next(k == 1 ? nullptr : &frame, ended_too), "");
    ASSERT_EQ(ended_too, ended);
    if (ended) break;
    if (k == 1) continue;
    ASSERT_EQ(frame.data, image.ptr(part.y, part.x)) << "written in place";
    EXPECT_EQ(cv::norm(frame, expected, cv::NORM_INF), 0) << "frame " << k + 1;
    frame.setTo(cv::Scalar::all(7));
    EXPECT_EQ(cv::norm(image, cv::Mat(image.size(), CV_8UC3, cv::Scalar::all(7)), cv::NORM_INF), 0);
  }
  EXPECT_EQ(reader->frames(), 6);
}
