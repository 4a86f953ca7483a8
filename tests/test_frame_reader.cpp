// trackvideo's frame reader: its workers hand frames over in frame order with
// the records (and the pairs, when asked) a sequential read makes, never touch the frame the caller
// holds, give the failure of the earliest failing frame after every frame
// before it, and are stopped at any point of a run.

#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "tests/child.h"
#include "trackvideo/frame_reader.h"
#include "trackvideo/frame_source.h"
#include "trackvideo/tracks.h"

using namespace trackvideo;

namespace {

constexpr int kFrames = 12;

// Frame f: 8 x 6 pixels of value f, with a gradient so that the histograms
// of the two boxes differ from frame to frame.
cv::Mat frame_image(int f) {
  cv::Mat m(6, 8, CV_8UC3);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 8; ++x)
      m.at<cv::Vec3b>(y, x) = cv::Vec3b(static_cast<uchar>(f), static_cast<uchar>(20 * x + f),
                                        static_cast<uchar>(30 * y + 7 * f));
  return m;
}

// Frames 1 .. kFrames as PNG images, the frames `corrupt` not images at all;
// and the same frames as a Motion-JPEG video.
struct frame_files : tavo_test::scratch_dir {
  explicit frame_files(std::vector<int> corrupt = {}) {
    std::filesystem::create_directory(path() / "img");
    cv::VideoWriter video((path() / "v.avi").string(), cv::CAP_FFMPEG,
                          cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 25.0, cv::Size(8, 6));
    for (int f = 1; f <= kFrames; ++f) {
      const std::string name = "img/" + std::to_string(f) + ".png";
      if (std::find(corrupt.begin(), corrupt.end(), f) != corrupt.end())
        write(name, "not a picture");
      else
        cv::imwrite((path() / name).string(), frame_image(f));
      video.write(frame_image(f));
    }
  }
  std::string folder() const { return (path() / "img").string(); }
  std::string video() const { return (path() / "v.avi").string(); }
};

// Boxes in every frame but 4 and 9 (passed over unless every frame is
// decoded); `outside` (if not 0) has a third box outside its frame.
tracks boxes_in_most_frames(int outside = 0) {
  std::string text;
  for (int f = 1; f <= kFrames; ++f) {
    if (f != 4 && f != 9)
      text += std::to_string(f) + ",7,1,1,3,3\n" + std::to_string(f) + ",9,2,2,4,3\n";
    if (f == outside) text += std::to_string(f) + ",11,50,50,3,3\n";
  }
  tracks t;
  EXPECT_EQ(parse_tracks(text, "t.txt", t), "");
  return t;
}

// What a sequential read gives for frame f: the image and the records.
struct expected_frame {
  bool decoded;
  cv::Mat image;
  std::vector<float> values;
  std::vector<std::string> records;
  bool pairs_made;  // the frame's pairs made for kPairWork: its rows
  std::string rows;
};

// Every pair of a frame (radius beyond any distance here), rows and measures.
const pair_work kPairWork{1000, true, true, true};

std::vector<expected_frame> read_sequentially(const tracks& t, frame_source& source,
                                              bool every_frame) {
  std::vector<expected_frame> frames;
  record_maker maker(t, true);
  pair_pass pairs(t, kPairWork);
  std::size_t first = 0;
  for (int f = 1; f <= t.last_frame; ++f) {
    std::size_t last = first;
    while (last < t.boxes.size() && t.boxes[last].frame == f) ++last;
    frame_records r;
    expected_frame e{last > first || every_frame, {}, {}, {}, false, {}};
    EXPECT_EQ(e.decoded ? source.next(r.image) : source.skip(), "") << f;
    r.decoded = e.decoded;
    if (last > first) {
      EXPECT_EQ(maker.make(f, first, last, r), "") << f;
      e.values = r.values;
      e.records.assign(r.records.begin(), r.records.begin() + r.present.size());
      pairs.make(r, r.pairs);
      e.pairs_made = r.pairs.made;
      e.rows = r.pairs.rows;
    }
    e.image = r.image.clone();
    frames.push_back(e);
    first = last;
  }
  return frames;
}

bool same_pixels(const cv::Mat& a, const cv::Mat& b) {
  return a.size() == b.size() && a.type() == b.type() && cv::norm(a, b, cv::NORM_INF) == 0;
}

std::string open(frame_source& source, const frame_files& files, bool video) {
  return video ? source.open_video(files.video()) : source.open_folder(files.folder());
}

}  // namespace

TEST(TrackvideoFrameReader, FramesInOrderWithTheSequentialRecordsAndTheHeldSlotLeftAlone) {
  const frame_files files;
  const tracks t = boxes_in_most_frames();
  for (const bool video : {false, true})
    for (const bool every_frame : {false, true}) {
      frame_source reference;
      ASSERT_EQ(open(reference, files, video), "");
      const std::vector<expected_frame> expected = read_sequentially(t, reference, every_frame);
      for (const int threads : {1, 2, 4})
        for (int round = 0; round < 10; ++round) {
          SCOPED_TRACE((video ? "video, " : "folder, ") + std::to_string(threads) + " threads" +
                       (every_frame ? ", every frame" : ""));
          frame_source source;
          ASSERT_EQ(open(source, files, video), "");
          frame_reader reader(t, source, every_frame, true, threads, &kPairWork);
          for (int f = 1; f <= kFrames; ++f) {
            std::string why;
            frame_records* r = reader.next(why);
            ASSERT_NE(r, nullptr) << why;
            ASSERT_TRUE(reader.verify()) << f;
            const expected_frame& e = expected[static_cast<std::size_t>(f - 1)];
            ASSERT_EQ(r->frame, f);
            ASSERT_EQ(r->boxes(), e.values.size() / kRecordValues) << f;
            ASSERT_EQ(r->decoded, e.decoded) << f;
            ASSERT_EQ(r->values, e.values) << f;
            ASSERT_EQ(std::vector<std::string>(r->records.begin(),
                                               r->records.begin() + r->present.size()),
                      e.records)
                << f;
            // Made in the frame's own slot: none left over where it has no boxes.
            ASSERT_EQ(r->pairs.made, e.pairs_made) << f;
            ASSERT_EQ(r->pairs.rows, e.rows) << f;
            if (!r->decoded) continue;
            ASSERT_TRUE(same_pixels(r->image, e.image)) << f;
            // The caller may draw on its frame; meanwhile the workers read
            // later frames into other slots, never into this one.
            r->image.at<cv::Vec3b>(5, 7) = cv::Vec3b(200, 201, 202);
            for (int k = 0; k < 100; ++k) std::this_thread::yield();
            EXPECT_EQ(r->frame, f);
            EXPECT_EQ(r->image.at<cv::Vec3b>(5, 7), cv::Vec3b(200, 201, 202)) << f;
            r->image.at<cv::Vec3b>(5, 7) = e.image.at<cv::Vec3b>(5, 7);
            EXPECT_TRUE(same_pixels(r->image, e.image)) << "frame " << f << " overwritten";
          }
        }
    }
}

// Whatever frames the workers read ahead, the caller gets every frame before
// the earliest failing one, then that frame's line, as a sequential run.
TEST(TrackvideoFrameReader, TheEarliestFailingFrameAfterEveryFrameBeforeIt) {
  const struct {
    std::vector<int> corrupt;
    int outside;    // a box outside this frame (0: none)
    int failing;    // the frame whose line is given
    bool box_line;  // the line is the box's, else the image's
  } cases[] = {
      {{7}, 0, 7, false},
      {{7, 8, 10}, 0, 7, false},  // later failures, maybe read first, are not told
      {{10}, 6, 6, true},         // a box outside, before an undecodable frame
      {{5}, 8, 5, false},
  };
  for (const auto& c : cases)
    for (const int threads : {1, 4}) {
      SCOPED_TRACE("frame " + std::to_string(c.failing) + ", " + std::to_string(threads) +
                   " threads");
      const frame_files files(c.corrupt);
      const tracks t = boxes_in_most_frames(c.outside);
      std::string line = "cannot decode " + files.folder() + "/" + std::to_string(c.failing) +
                         ".png: not a JPEG or PNG image";
      for (const track_box& b : t.boxes)
        if (c.box_line && b.x1 == 50)
          line = "t.txt:" + std::to_string(b.line) +
                 ": box (50 50 52 52) lies outside the 8 x 6 image of frame " +
                 std::to_string(c.failing);
      for (int round = 0; round < 20; ++round) {
        frame_source source;
        ASSERT_EQ(source.open_folder(files.folder()), "");
        frame_reader reader(t, source, false, false, threads);
        std::string why;
        for (int f = 1; f < c.failing; ++f) {
          frame_records* r = reader.next(why);
          ASSERT_NE(r, nullptr) << f << ": " << why;
          ASSERT_EQ(r->frame, f);
        }
        EXPECT_EQ(reader.next(why), nullptr);
        EXPECT_EQ(why, line);
        EXPECT_TRUE(reader.verify());
      }
    }
}

TEST(TrackvideoFrameReader, DestroyedAtAnyPointWhileItsWorkersWaitOrWork) {
  const frame_files files;
  const tracks t = boxes_in_most_frames();
  for (const bool video : {false, true})
    for (int round = 0; round < 60; ++round) {
      frame_source source;
      ASSERT_EQ(open(source, files, video), "");
      frame_reader reader(t, source, round % 3 == 0, false, 1 + round % 5);
      std::string why;
      for (int f = 1; f <= round % (kFrames + 1); ++f) ASSERT_NE(reader.next(why), nullptr) << why;
    }  // each destructor returns: the test ends
}
