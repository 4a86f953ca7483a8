// trackvideo's frame job: the pairs, measures and table rows of random frames
// against every pair tried by hand (several detections per object, absent
// objects, radii from tiny to huge), handed on in bounded chunks that hold
// together, a failing outlet stopping the job; the report made from its
// pairs (report_runs) against the dictionary's.

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <tuple>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "histfeat/record.h"
#include "trackvideo/sinks/encounters.h"
#include "trackvideo/pipeline/frame_job.h"
#include "trackvideo/pipeline/frame_records.h"
#include "trackvideo/sinks/report_runs.h"
#include "trackpair/trackpair_core.h"
#include "trackvideo/pipeline/table.h"
#include "trackvideo/input/tracks.h"

using namespace trackvideo;

namespace {

// Random tracks: ids spread out, each object absent from a frame at times and
// holding one to three detections when present; corners within `span`.
tracks random_tracks(std::mt19937& random, int frames, int objects, int span) {
  std::string text;
  for (int f = 1; f <= frames; ++f)
    for (int q = 0; q < objects; ++q) {
      if (random() % 4 == 0) continue;
      for (unsigned s = 0, n = 1 + random() % 3; s < n; ++s)
        text += std::to_string(f) + "," + std::to_string(3 * q + 1) + "," +
                std::to_string(int(random() % unsigned(span))) + "," +
                std::to_string(int(random() % unsigned(span))) + "," +
                std::to_string(1 + random() % 40) + "," + std::to_string(1 + random() % 40) + "\n";
    }
  tracks t;
  EXPECT_EQ(parse_tracks(text, "t.txt", t), "");
  return t;
}

// The records of frame f as record_maker leaves them, with random values.
frame_records records_of(const tracks& t, int f, std::size_t first, std::mt19937& random) {
  frame_records r;
  std::size_t last = first;
  while (last < t.boxes.size() && t.boxes[last].frame == f) ++last;
  r.reset(f, first, last, t);
  for (std::size_t k = r.first; k < r.last; ++k)
    for (int v = 0; v < kRecordValues; ++v) r.values.push_back(float(random() % 1000) / 3000.0f);
  return r;
}

// The records of frames 1 .. t.last_frame in order, as records_of makes each.
std::vector<frame_records> frames_of(const tracks& t, std::mt19937& random) {
  std::vector<frame_records> all;
  std::size_t first = 0;
  for (int f = 1; f <= t.last_frame; ++f) {
    all.push_back(records_of(t, f, first, random));
    first = all.back().last;
  }
  return all;
}

// What a job hands out for a frame: its chunks' pairs and rows joined, its
// measures, and the chunks' sizes; every chunk checked as it comes.
struct handed {
  std::vector<std::pair<int, int>> pairs;
  std::vector<double> hellinger;
  std::string rows;
  std::vector<std::size_t> sizes;
  int lasts = 0;
};

std::string run_job(frame_job& job, const frame_records& r, const job_work& work, handed& out) {
  return job.pairs(r, [&](pair_chunk& c) {
    EXPECT_TRUE(c.verify(work));
    EXPECT_EQ(out.lasts, 0) << "a chunk after the last";
    out.pairs.insert(out.pairs.end(), c.pairs.begin(), c.pairs.end());
    out.hellinger.insert(out.hellinger.end(), c.hellinger.begin(), c.hellinger.end());
    out.rows += c.rows;
    out.sizes.push_back(c.size());
    out.lasts += c.last;
    return std::string();
  });
}

// Intersection over union, pixel by pixel over the union's bounding box.
double iou_by_hand(const track_box& a, const track_box& b) {
  long long both = 0, either = 0;
  for (int y = std::min(a.y1, b.y1); y <= std::max(a.y2, b.y2); ++y)
    for (int x = std::min(a.x1, b.x1); x <= std::max(a.x2, b.x2); ++x) {
      const bool in_a = x >= a.x1 && x <= a.x2 && y >= a.y1 && y <= a.y2;
      const bool in_b = x >= b.x1 && x <= b.x2 && y >= b.y1 && y <= b.y2;
      both += in_a && in_b;
      either += in_a || in_b;
    }
  return double(both) / double(either);
}

// The mean over the planes (24, 24, 16 bins) of sqrt(1 - BC / sqrt(sum a * sum b)).
double hellinger_by_hand(const float* a, const float* b) {
  const int start[] = {0, 24, 48, 64};
  double total = 0;
  for (int p = 0; p < 3; ++p) {
    double bc = 0, sa = 0, sb = 0;
    for (int i = start[p]; i < start[p + 1]; ++i) {
      bc += std::sqrt(double(a[i]) * double(b[i]));
      sa += a[i];
      sb += b[i];
    }
    total += std::sqrt(std::max(0.0, 1 - bc / std::sqrt(sa * sb)));
  }
  return total / 3;
}

// The rows of frame r by trying every pair: q < a by object, in (q, s, a, b) order.
std::string rows_by_hand(const tracks& t, frame_records r, long long radius,
                         std::vector<std::pair<int, int>>& pairs) {
  std::string rows;
  const int n = int(r.boxes());
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) {
      const track_box &x = t.boxes[r.first + std::size_t(i)],
                      &y = t.boxes[r.first + std::size_t(j)];
      if (x.object >= y.object) continue;
      const long long d = std::llabs(0LL + x.x1 - y.x1) + std::llabs(0LL + x.y1 - y.y1) +
                          std::llabs(0LL + x.x2 - y.x2) + std::llabs(0LL + x.y2 - y.y2);
      if (d >= radius) continue;
      pairs.emplace_back(i, j);
      const float h = compare_hist(&r.values[std::size_t(i) * kRecordValues],
                                   &r.values[std::size_t(j) * kRecordValues], kRecordValues);
      char row[400];
      std::snprintf(row, sizeof row, "%d,%d,%d,%d,%d,%lld,%.6f,%d,%d,%d,%d,%d,%d,%d,%d,%.6f,%.6f\n",
                    r.frame, t.ids[std::size_t(x.object)], x.det + 1, t.ids[std::size_t(y.object)],
                    y.det + 1, d, double(h), x.x1, x.y1, x.x2 - x.x1 + 1, x.y2 - x.y1 + 1, y.x1,
                    y.y1, y.x2 - y.x1 + 1, y.y2 - y.y1 + 1, iou_by_hand(x, y),
                    hellinger_by_hand(&r.values[std::size_t(i) * kRecordValues],
                                      &r.values[std::size_t(j) * kRecordValues]));
      rows += row;
    }
  return rows;
}

}  // namespace

TEST(TrackvideoFrameJob, EveryPairBelowTheRadiusOnceWithItsRowInFullChunksThenTheLast) {
  struct job_case {
    unsigned seed;
    int frames, objects, span;
    long long radius;
  };
  const job_case cases[] = {
      {1, 6, 5, 100, 80},  {2, 6, 8, 60, 1},      {3, 4, 12, 200, 150},
      {4, 3, 1, 50, 1000}, {5, 3, 60, 300, 5000},  // the last: several chunks a frame
  };
  for (const job_case& c : cases) {
    std::mt19937 random(c.seed);
    const tracks t = random_tracks(random, c.frames, c.objects, c.span);
    job_work work;
    work.radius = c.radius;
    work.rows = true;
    frame_job job(t, work);
    std::size_t most = 0;
    for (const frame_records& r : frames_of(t, random)) {
      std::vector<std::pair<int, int>> pairs;
      const std::string expected = rows_by_hand(t, r, c.radius, pairs);
      handed got;
      ASSERT_EQ(run_job(job, r, work, got), "");
      EXPECT_EQ(got.rows, expected) << "seed " << c.seed << " frame " << r.frame;
      EXPECT_EQ(got.pairs, pairs) << "seed " << c.seed << " frame " << r.frame;
      // Every chunk but the last is full; the last may be empty.
      ASSERT_EQ(got.lasts, 1);
      for (std::size_t k = 0; k + 1 < got.sizes.size(); ++k)
        EXPECT_EQ(got.sizes[k], pair_chunk::kChunkPairs);
      most = std::max(most, got.sizes.size());
    }
    if (c.seed == 5) {
      EXPECT_GE(most, 3u);  // the case does exercise the chunks
    }
  }
}

TEST(TrackvideoFrameJob, AFailingOutletStopsTheJob) {
  std::mt19937 random(9);
  const tracks t = random_tracks(random, 1, 40, 300);
  const frame_records r = records_of(t, 1, 0, random);
  job_work work;
  work.radius = 5000;
  frame_job job(t, work);
  handed all;
  ASSERT_EQ(run_job(job, r, work, all), "");
  ASSERT_GT(all.pairs.size(), pair_chunk::kChunkPairs);  // more than one chunk
  int calls = 0;
  EXPECT_EQ(job.pairs(r,
                      [&](pair_chunk&) {
                        ++calls;
                        return std::string("pairs.csv: No space left on device");
                      }),
            "pairs.csv: No space left on device");
  EXPECT_EQ(calls, 1);
  // The job is whole again for the next frame.
  handed again;
  ASSERT_EQ(run_job(job, r, work, again), "");
  EXPECT_EQ(again.pairs, all.pairs);
}

// hist_hellinger is OpenCV's Bhattacharyya comparison of each plane's
// histograms, averaged; iou of boxes that touch, nest, miss or span the ints.
TEST(TrackvideoFrameJob, HellingerIsTheBhattacharyyaComparisonOfThePlanesAndIouOfInclusiveBoxes) {
  std::mt19937 random(7);
  const tracks t = random_tracks(random, 3, 6, 60);
  job_work work;
  work.radius = 1000;
  work.measures = true;
  frame_job job(t, work);
  std::size_t measured = 0;
  for (const frame_records& r : frames_of(t, random)) {
    handed got;
    ASSERT_EQ(run_job(job, r, work, got), "");
    EXPECT_TRUE(got.rows.empty());  // no rows unless asked for
    measured += got.hellinger.size();
    for (std::size_t k = 0; k < got.pairs.size(); ++k) {
      double expected = 0;
      for (int p = 0; p < kPlanes; ++p) {
        const int n = kPlaneStart[p + 1] - kPlaneStart[p];
        const auto values = [&](int box) {
          return const_cast<float*>(
              &r.values[std::size_t(box) * kRecordValues + std::size_t(kPlaneStart[p])]);
        };
        cv::Mat x(n, 1, CV_32F, values(got.pairs[k].first));
        cv::Mat y(n, 1, CV_32F, values(got.pairs[k].second));
        expected += cv::compareHist(x, y, cv::HISTCMP_BHATTACHARYYA) / 3;
      }
      EXPECT_NEAR(got.hellinger[k], expected, 1e-6) << "frame " << r.frame << " pair " << k;
    }
  }
  EXPECT_GT(measured, 20u);

  const struct {
    track_box a, b;
    double iou;
  } cases[] = {
      {{1, 0, 0, 0, 0, 0, 9, 9}, {1, 1, 0, 0, 0, 0, 9, 9}, 1.0},
      {{1, 0, 0, 0, 0, 0, 9, 9}, {1, 1, 0, 0, 10, 0, 19, 9}, 0.0},        // side by side
      {{1, 0, 0, 0, 0, 0, 9, 9}, {1, 1, 0, 0, 9, 9, 18, 18}, 1.0 / 199},  // one pixel
      {{1, 0, 0, 0, 0, 0, 9, 9}, {1, 1, 0, 0, 2, 2, 4, 4}, 9.0 / 100},    // nested
      {{1, 0, 0, 0, INT_MIN, INT_MIN, INT_MAX, INT_MAX},
       {1, 1, 0, 0, 0, 0, INT_MAX, INT_MAX},
       0.25},
  };
  for (const auto& c : cases) {
    EXPECT_NEAR(box_iou(c.a, c.b), c.iou, 1e-12);
    EXPECT_NEAR(box_iou(c.b, c.a), c.iou, 1e-12);
  }
}

// The report made frame by frame from the pass's pairs is byte for byte the
// one trackpair writes over a dictionary of the same boxes, whether its runs
// stay in memory or go to the spill file after every frame.
TEST(TrackvideoReportRuns, EqualsTheDictionarysReportWithAndWithoutSpilling) {
  for (const unsigned seed : {11u, 12u, 13u}) {
    std::mt19937 random(seed);
    const tracks t = random_tracks(random, 8, 9, 120);
    trackpair::box_dictionary boxes;
    for (const track_box& b : t.boxes)
      boxes.insert(trackpair::box_key(b.object, b.frame - 1, b.det),
                   trackpair::box_info(b.x1, b.y1, b.x2, b.y2));
    std::FILE* expected_file = std::tmpfile();
    ASSERT_EQ(trackpair::write_report(boxes, 1, 80, expected_file), "");
    std::rewind(expected_file);
    std::string expected;
    for (int c; (c = std::fgetc(expected_file)) != EOF;) expected += char(c);
    std::fclose(expected_file);
    for (const std::size_t pending : {std::size_t{1}, report_runs::kPending}) {
      report_runs report(t, pending);
      job_work work;
      work.radius = 80;
      frame_job job(t, work);
      for (const frame_records& r : frames_of(t, random)) {
        if (r.boxes() == 0) continue;
        report.begin_frame(r);
        ASSERT_EQ(job.pairs(r,
                            [&report](pair_chunk& c) {
                              for (const auto& [a, b] : c.pairs) report.add_pair(a, b);
                              return std::string();
                            }),
                  "");
        ASSERT_EQ(report.end_frame(), "");
      }
      std::string text;
      ASSERT_EQ(report.finish([&text](const char* data, std::size_t n) {
        text.append(data, n);
        return std::string();
      }),
                "");
      EXPECT_EQ(text, expected) << "seed " << seed << " pending " << pending;
    }
  }
}
