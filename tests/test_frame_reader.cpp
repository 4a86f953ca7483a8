// trackvideo's frame reader: its thread hands frames over in order without
// touching the one the caller holds, stops at a frame it cannot read, and is
// destroyed at any point of a run while its thread waits.

#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <string>
#include <thread>

#include "tests/child.h"
#include "trackvideo/frame_reader.h"
#include "trackvideo/frame_source.h"
#include "trackvideo/tracks.h"

using namespace trackvideo;

namespace {

constexpr int kFrames = 12;

// Frames 1 .. kFrames as 8 x 6 PNG images whose pixels hold their number;
// `corrupt` (if not 0) is not an image at all.
struct frame_folder : tavo_test::scratch_dir {
  explicit frame_folder(int corrupt = 0) {
    for (int f = 1; f <= kFrames; ++f) {
      const std::string name = std::to_string(f) + ".png";
      if (f == corrupt)
        write(name, "not a picture");
      else
        cv::imwrite((path() / name).string(), cv::Mat(6, 8, CV_8UC3, cv::Scalar::all(f)));
    }
  }
};

// Boxes in every frame but 4 and 9 (passed over unless every frame is decoded).
tracks boxes_in_most_frames() {
  std::string text;
  for (int f = 1; f <= kFrames; ++f)
    if (f != 4 && f != 9)
      text += std::to_string(f) + ",7,1,1,3,3\n" + std::to_string(f) + ",9,2,2,4,3\n";
  tracks t;
  EXPECT_EQ(parse_tracks(text, "t.txt", t), "");
  return t;
}

}  // namespace

TEST(TrackvideoFrameReader, FramesInOrderAndTheHeldSlotLeftAlone) {
  const frame_folder folder;
  const tracks t = boxes_in_most_frames();
  for (int round = 0; round < 50; ++round)
    for (const bool every_frame : {false, true}) {
      frame_source source;
      ASSERT_EQ(source.open_folder(folder.path().string()), "");
      frame_reader reader(t, source, every_frame, round % 2 == 0);
      for (int f = 1; f <= kFrames; ++f) {
        std::string why;
        frame_records* r = reader.next(why);
        ASSERT_NE(r, nullptr) << why;
        ASSERT_EQ(r->frame, f);
        const bool has_boxes = f != 4 && f != 9;
        ASSERT_EQ(r->boxes(), has_boxes ? 2u : 0u) << f;
        ASSERT_EQ(r->decoded, has_boxes || every_frame) << f;
        if (!r->decoded) continue;
        ASSERT_EQ(r->image.at<cv::Vec3b>(0, 0)[0], f);
        // The caller may draw on its frame; meanwhile the thread reads the
        // next one into the other slot, never into this one.
        r->image.at<cv::Vec3b>(5, 7) = cv::Vec3b(200, 201, 202);
        for (int k = 0; k < 100; ++k) std::this_thread::yield();
        EXPECT_EQ(r->frame, f);
        EXPECT_EQ(r->image.at<cv::Vec3b>(0, 0)[0], f) << "frame " << f << " overwritten";
        EXPECT_EQ(r->image.at<cv::Vec3b>(5, 7), cv::Vec3b(200, 201, 202));
      }
    }
}

TEST(TrackvideoFrameReader, AnUnreadableFrameEndsTheRunAndNoLaterFrameIsRead) {
  const frame_folder folder(5);
  const tracks t = boxes_in_most_frames();
  frame_source source;
  ASSERT_EQ(source.open_folder(folder.path().string()), "");
  {
    frame_reader reader(t, source, false, true);
    std::string why;
    for (int f = 1; f < 5; ++f) ASSERT_NE(reader.next(why), nullptr) << f << ": " << why;
    EXPECT_EQ(reader.next(why), nullptr);
    EXPECT_EQ(why,
              "cannot decode " + (folder.path() / "5.png").string() + ": not a JPEG or PNG image");
  }
  EXPECT_EQ(source.position(), 4);  // frames 1 .. 4 passed, nothing after 5 tried
}

TEST(TrackvideoFrameReader, DestroyedAtAnyPointWhileItsThreadWaitsOrWorks) {
  const frame_folder folder;
  const tracks t = boxes_in_most_frames();
  for (int round = 0; round < 200; ++round) {
    frame_source source;
    ASSERT_EQ(source.open_folder(folder.path().string()), "");
    frame_reader reader(t, source, round % 3 == 0, false);
    std::string why;
    for (int f = 1; f <= round % (kFrames + 1); ++f) ASSERT_NE(reader.next(why), nullptr) << why;
  }  // each destructor returns: the test ends
}
