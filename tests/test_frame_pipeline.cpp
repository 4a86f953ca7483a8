// trackvideo's frame pipeline: on any number of workers, every frame's
// pieces reach the caller in frame order with the records and pairs a
// sequential run makes, byte for byte also for a crowded frame whose workers
// wait for a slow caller; the frame the caller holds is left alone; the
// failure of the earliest failing frame comes after every frame before it; a
// caller failing or throwing mid-frame stops every worker.

#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <thread>
#include <random>
#include <vector>

#include "tests/child.h"
#include "trackvideo/pipeline/frame_pipeline.h"
#include "trackvideo/input/frame_source.h"
#include "trackvideo/input/tracks.h"

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

// What a sequential run gives for a frame: the image, the records, the rows.
struct expected_frame {
  bool decoded;
  cv::Mat image;
  std::vector<float> values;
  std::vector<std::string> records;
  std::string rows;
};

// Every pair of a frame (radius beyond any distance here), rows and measures.
job_work all_pairs(bool every_frame) {
  job_work w;
  w.radius = 1000;
  w.text = true;
  w.rows = true;
  w.every_frame = every_frame;
  return w;
}

std::vector<expected_frame> read_sequentially(const tracks& t, frame_source& source,
                                              const job_work& work) {
  std::vector<expected_frame> frames;
  record_maker maker(t, true);
  frame_job job(t, work);
  std::size_t first = 0;
  for (int f = 1; f <= t.last_frame; ++f) {
    std::size_t last = first;
    while (last < t.boxes.size() && t.boxes[last].frame == f) ++last;
    frame_records r;
    r.reset(f, first, last, t);
    expected_frame e{last > first || work.every_frame, {}, {}, {}, {}};
    EXPECT_EQ(e.decoded ? source.next(r.image) : source.skip(), "") << f;
    r.decoded = e.decoded;
    if (last > first) {
      EXPECT_EQ(maker.make(r), "") << f;
      e.values = r.values;
      e.records.assign(r.records.begin(), r.records.begin() + r.present.size());
    }
    EXPECT_EQ(job.pairs(r,
                        [&e](pair_chunk& c) {
                          e.rows += c.rows;
                          return std::string();
                        }),
              "");
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

TEST(TrackvideoFramePipeline,
     FramesInOrderWithTheSequentialRecordsAndRowsAndTheHeldFrameLeftAlone) {
  const frame_files files;
  const tracks t = boxes_in_most_frames();
  for (const bool video : {false, true})
    for (const bool every_frame : {false, true}) {
      const job_work work = all_pairs(every_frame);
      frame_source reference;
      ASSERT_EQ(open(reference, files, video), "");
      const std::vector<expected_frame> expected = read_sequentially(t, reference, work);
      for (const int threads : {1, 2, 4})
        for (int round = 0; round < 10; ++round) {
          SCOPED_TRACE((video ? "video, " : "folder, ") + std::to_string(threads) + " threads" +
                       (every_frame ? ", every frame" : ""));
          frame_source source;
          ASSERT_EQ(open(source, files, video), "");
          frame_pipeline pipeline(t, &source, work, threads);
          int next = 1;
          std::string rows;
          const std::string why = pipeline.run([&](const frame_piece& p) {
            EXPECT_TRUE(pipeline.verify());
            frame_records& r = p.frame;
            const expected_frame& e = expected[static_cast<std::size_t>(r.frame - 1)];
            if (p.first) {
              EXPECT_EQ(r.frame, next);
              EXPECT_EQ(r.decoded, e.decoded);
              EXPECT_EQ(r.values, e.values);
              EXPECT_EQ(
                  std::vector<std::string>(r.records.begin(), r.records.begin() + r.present.size()),
                  e.records);
              rows.clear();
            }
            rows += p.chunk.rows;
            if (!p.chunk.last) return std::string();
            ++next;
            EXPECT_EQ(rows, e.rows) << r.frame;
            if (!r.decoded) return std::string();
            EXPECT_TRUE(same_pixels(r.image, e.image)) << r.frame;
            // The caller may draw on its frame; meanwhile the workers read
            // later frames into other slots, never into this one.
            r.image.at<cv::Vec3b>(5, 7) = cv::Vec3b(200, 201, 202);
            for (int k = 0; k < 100; ++k) std::this_thread::yield();
            EXPECT_EQ(r.image.at<cv::Vec3b>(5, 7), cv::Vec3b(200, 201, 202)) << r.frame;
            r.image.at<cv::Vec3b>(5, 7) = e.image.at<cv::Vec3b>(5, 7);
            EXPECT_TRUE(same_pixels(r.image, e.image)) << "frame " << r.frame << " overwritten";
            return std::string();
          });
          ASSERT_EQ(why, "");
          EXPECT_EQ(next, kFrames + 1);
          EXPECT_TRUE(pipeline.verify());
        }
    }
}

// Whatever frames the workers read ahead, the caller gets every frame before
// the earliest failing one, then that frame's line, as a sequential run.
TEST(TrackvideoFramePipeline, TheEarliestFailingFrameAfterEveryFrameBeforeIt) {
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
        frame_pipeline pipeline(t, &source, all_pairs(false), threads);
        int whole = 0;
        EXPECT_EQ(pipeline.run([&](const frame_piece& p) {
          if (p.chunk.last) {
            EXPECT_EQ(p.frame.frame, ++whole);
          }
          return std::string();
        }),
                  line);
        EXPECT_EQ(whole, c.failing - 1);
        EXPECT_TRUE(pipeline.verify());
      }
    }
}

namespace {

// One frame of `boxes` boxes of 6 x 6 pixels on a 240 x 160 image (and a
// second, smaller frame after it): thousands of pairs, many chunks a frame.
struct crowded : tavo_test::scratch_dir {
  explicit crowded(int boxes) {
    std::filesystem::create_directory(path() / "img");
    std::mt19937 random(3);
    cv::Mat image(160, 240, CV_8UC3);
    cv::randu(image, 0, 255);
    for (const int f : {1, 2})
      cv::imwrite((path() / ("img/" + std::to_string(f) + ".png")).string(), image);
    std::string text;
    for (int f = 1; f <= 2; ++f)
      for (int k = 0; k < (f == 1 ? boxes : 40); ++k)
        text += std::to_string(f) + "," + std::to_string(k) + "," + std::to_string(random() % 234) +
                "," + std::to_string(random() % 154) + ",6,6\n";
    EXPECT_EQ(parse_tracks(text, "t.txt", t), "");
  }
  std::string folder() const { return (path() / "img").string(); }
  tracks t;
};

job_work crowd_work() {
  job_work w;
  w.radius = 40;
  w.rows = true;
  return w;
}

}  // namespace

// A frame of 3,000 boxes gives the same rows (and, without pixels, the same
// pairs) on 1, 2 and 8 threads while its
// workers wait for a caller that yields between chunks; the chunks never
// outgrow their bound.
TEST(TrackvideoFramePipeline, ACrowdedFrameGivesTheSameBytesOnAnyThreadsWithASlowCaller) {
  const crowded c(3000);
  std::string first;
  for (const int threads : {1, 2, 8}) {
    frame_source source;
    ASSERT_EQ(source.open_folder(c.folder()), "");
    frame_pipeline pipeline(c.t, &source, crowd_work(), threads);
    std::string rows;
    std::size_t chunks = 0;
    ASSERT_EQ(pipeline.run([&](const frame_piece& p) {
      EXPECT_LE(p.chunk.size(), pair_chunk::kChunkPairs);
      rows += p.chunk.rows;
      ++chunks;
      for (int k = 0; k < 50; ++k) std::this_thread::yield();
      EXPECT_TRUE(pipeline.verify());
      return std::string();
    }),
              "");
    EXPECT_GT(chunks, 4 * frame_pipeline::kChunksPerSlot) << threads;
    if (threads == 1) first = rows;
    EXPECT_EQ(rows, first) << threads << " threads";
  }
  EXPECT_FALSE(first.empty());
  // Without pixels (a pass over the boxes alone) too: the frames are crowded
  // enough for workers.
  std::string pairs_first;
  for (const int threads : {1, 8}) {
    job_work w;
    w.radius = 40;
    w.pixels = false;
    w.frames_with_boxes = true;
    w.measures = true;
    frame_pipeline pipeline(c.t, nullptr, w, threads);
    std::string pairs;
    ASSERT_EQ(pipeline.run([&](const frame_piece& p) {
      for (std::size_t k = 0; k < p.chunk.size(); ++k)
        pairs += std::to_string(p.chunk.pairs[k].first) + "," +
                 std::to_string(p.chunk.pairs[k].second) + "," + std::to_string(p.chunk.iou[k]) +
                 ";";
      return std::string();
    }),
              "");
    if (threads == 1) pairs_first = pairs;
    EXPECT_EQ(pairs, pairs_first) << threads << " threads";
  }
  EXPECT_FALSE(pairs_first.empty());
}

// The caller failing, or throwing, in the middle of a frame of many chunks
// ends the run with its line (or its exception) and stops every worker,
// however far they read ahead; a pipeline destroyed before or after run()
// returns too.
TEST(TrackvideoFramePipeline, ACallerFailingOrThrowingMidFrameStopsEveryWorker) {
  const crowded c(1500);
  for (const int threads : {1, 2, 8})
    for (const bool throws : {false, true})
      for (const int at : {1, 2, 5}) {
        SCOPED_TRACE(std::to_string(threads) + " threads, chunk " + std::to_string(at));
        frame_source source;
        ASSERT_EQ(source.open_folder(c.folder()), "");
        frame_pipeline pipeline(c.t, &source, crowd_work(), threads);
        int chunks = 0;
        const auto take = [&](const frame_piece&) -> std::string {
          if (++chunks < at) return "";
          if (throws) throw std::runtime_error("thrown");
          return "pairs.csv: No space left on device";
        };
        if (throws)
          EXPECT_THROW(pipeline.run(take), std::runtime_error);
        else
          EXPECT_EQ(pipeline.run(take), "pairs.csv: No space left on device");
        EXPECT_EQ(chunks, at);
        EXPECT_TRUE(pipeline.verify());
      }
  frame_source source;
  ASSERT_EQ(source.open_folder(c.folder()), "");
  frame_pipeline never_run(c.t, &source, crowd_work(), 4);
}
