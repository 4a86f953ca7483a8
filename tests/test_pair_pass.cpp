// trackvideo's pair pass: the pairs and table rows of random frames against
// every pair tried by hand (several detections per object, absent objects,
// radii from tiny to huge), the rows handed on in bounded blocks, and a
// failing sink stopping the pass; the pairs made ahead (as on the frame
// reader's workers) and replayed against the pass itself; the report made
// from its pairs (report_runs) against the dictionary's.

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
#include "trackvideo/encounters.h"
#include "trackvideo/frame_records.h"
#include "trackvideo/pair_pass.h"
#include "trackvideo/report_runs.h"
#include "trackpair/trackpair_core.h"
#include "trackvideo/table.h"
#include "trackvideo/tracks.h"

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
  r.frame = f;
  r.first = first;
  r.last = first;
  while (r.last < t.boxes.size() && t.boxes[r.last].frame == f) ++r.last;
  for (std::size_t k = r.first; k < r.last; ++k) {
    if (r.present.empty() || r.present.back() != t.boxes[k].object) {
      r.present.push_back(t.boxes[k].object);
      r.start.push_back(k - r.first);
    }
    for (int v = 0; v < kRecordValues; ++v) r.values.push_back(float(random() % 1000) / 3000.0f);
  }
  return r;
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

TEST(TrackvideoPairPass, EveryPairBelowTheRadiusOnceWithItsDistanceAndHistL1) {
  struct pass_case {
    unsigned seed;
    int frames, objects, span;
    long long radius;
  };
  const pass_case cases[] = {
      {1, 6, 5, 100, 80},  {2, 6, 8, 60, 1},      {3, 4, 12, 200, 150},
      {4, 3, 1, 50, 1000}, {5, 3, 60, 300, 5000},  // the second: many blocks of rows
  };
  for (const pass_case& c : cases) {
    std::mt19937 random(c.seed);
    const tracks t = random_tracks(random, c.frames, c.objects, c.span);
    std::string table;
    std::vector<std::size_t> blocks;
    pair_pass pass(
        t, c.radius,
        [&](const std::string& rows) {
          blocks.push_back(rows.size());
          table += rows;
          return std::string();
        },
        true);
    std::string expected;
    long long expected_pairs = 0;
    std::size_t first = 0;
    for (int f = 1; f <= t.last_frame; ++f) {
      const frame_records r = records_of(t, f, first, random);
      first = r.last;
      std::vector<std::pair<int, int>> pairs;
      expected += rows_by_hand(t, r, c.radius, pairs);
      expected_pairs += static_cast<long long>(pairs.size());
      ASSERT_EQ(pass.process(r), "");
      EXPECT_EQ(pass.pairs(), pairs) << "seed " << c.seed << " frame " << f;
    }
    ASSERT_EQ(pass.flush(), "");
    EXPECT_EQ(table, expected) << "seed " << c.seed;
    EXPECT_EQ(pass.found(), expected_pairs) << "seed " << c.seed;
    // Blocks of about kRowBlock: never more than a block and a batch of rows.
    for (std::size_t k = 0; k < blocks.size(); ++k) {
      EXPECT_LT(blocks[k], kRowBlock + 1024 * 200) << "seed " << c.seed;
      if (k + 1 < blocks.size()) {
        EXPECT_GE(blocks[k], kRowBlock) << "seed " << c.seed;
      }
    }
    if (c.seed == 5) {
      EXPECT_GE(blocks.size(), 3u);  // the case does exercise the blocks
    }
  }
}

TEST(TrackvideoPairPass, AFailingSinkStopsThePass) {
  std::mt19937 random(9);
  const tracks t = random_tracks(random, 1, 40, 300);
  frame_records r = records_of(t, 1, 0, random);
  pair_pass all(t, 5000, {}, false);
  ASSERT_EQ(all.process(r), "");
  long long found[2] = {-1, -1};
  for (const bool replay : {false, true}) {
    int calls = 0;
    pair_pass pass(
        t, 5000,
        [&](const std::string&) {
          ++calls;
          return std::string("pairs.csv: No space left on device");
        },
        false);
    if (replay) {
      pair_pass(t, pass.work()).make(r, r.pairs);
      ASSERT_TRUE(r.pairs.made);
    }
    EXPECT_EQ(replay ? pass.replay(r) : pass.process(r), "pairs.csv: No space left on device");
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(pass.pairs().empty());  // not kept unless asked for
    found[replay] = pass.found();
  }
  EXPECT_EQ(found[1], found[0]);     // both stop after the same batch,
  EXPECT_LT(found[0], all.found());  // before the frame's last pair
}

namespace {

// Everything a pass hands out, in order: the sink's blocks, the index sink's
// pairs, the visitor's calls (the doubles by their bits: NaN equals NaN) and
// pairs() after each frame.
struct handed {
  std::vector<std::string> blocks;
  std::vector<std::pair<int, int>> indices;
  std::vector<std::tuple<const track_box*, const track_box*, long long, std::uint64_t,
                         std::uint64_t, std::uint64_t>>
      visits;
  std::vector<std::vector<std::pair<int, int>>> kept;
};

std::uint64_t bits(double x) {
  std::uint64_t b;
  std::memcpy(&b, &x, sizeof b);
  return b;
}

}  // namespace

// replay() of what make() left in a frame hands out exactly what process()
// does, for every combination of table, visitor, histograms and kept pairs;
// a frame over the cap is not made and is processed instead.
TEST(TrackvideoPairPass, ReplayOfMadePairsHandsOutWhatProcessDoes) {
  struct replay_case {
    unsigned seed;
    int frames, objects, span;
    long long radius;
    bool rows, visitor, histograms, keep;
  };
  const replay_case cases[] = {
      {21, 8, 6, 100, 80, true, true, true, true},
      {22, 6, 1, 50, 1000, true, true, true, true},      // no pairs at all
      {23, 6, 8, 60, 1, true, true, true, false},        // hardly any pairs
      {24, 3, 60, 300, 5000, true, false, true, false},  // many blocks of rows
      {25, 3, 60, 300, 5000, false, true, true, true},
      {26, 3, 60, 300, 5000, false, true, false, false},  // the boxes alone
      {27, 4, 30, 200, 400, false, false, true, true},    // index sink only
      {28, 2, 220, 300, 100000, true, true, true, true},  // over the cap
      {29, 1, 800, 300, 1, true, true, true, true},       // too many boxes to try
  };
  for (const replay_case& c : cases) {
    std::mt19937 random(c.seed);
    const tracks t = random_tracks(random, c.frames, c.objects, c.span);
    std::vector<frame_records> frames;
    for (std::size_t first = 0; int(frames.size()) < t.last_frame; first = frames.back().last)
      frames.push_back(records_of(t, int(frames.size()) + 1, first, random));
    const auto pass_for = [&](handed& h) {
      pair_pass::row_sink sink;
      if (c.rows)
        sink = [&h](const std::string& rows) {
          h.blocks.push_back(rows);
          return std::string();
        };
      auto pass = std::make_unique<pair_pass>(t, c.radius, sink, c.keep);
      pass->set_index_sink([&h](int a, int b) { h.indices.emplace_back(a, b); });
      if (c.visitor)
        pass->set_visitor(
            [&h](const track_box& a, const track_box& b, long long l1, double iou, double h1,
                 double hel) { h.visits.emplace_back(&a, &b, l1, bits(iou), bits(h1), bits(hel)); },
            c.histograms);
      return pass;
    };
    handed processed, replayed;
    const auto by_process = pass_for(processed);
    const auto by_replay = pass_for(replayed);
    pair_pass maker(t, by_replay->work());
    bool over = false;
    for (const frame_records& r : frames) {
      ASSERT_EQ(by_process->process(r), "");
      processed.kept.push_back(by_process->pairs());
      frame_records ahead = r;
      maker.make(ahead, ahead.pairs);
      // The frame's pairs: found by the one pass and not yet by the other.
      const bool big =
          by_process->found() - by_replay->found() > (long long)made_pairs::kMaxPairs ||
          r.boxes() > made_pairs::kMaxBoxes;
      EXPECT_EQ(ahead.pairs.made, !big) << "seed " << c.seed << " frame " << r.frame;
      EXPECT_TRUE(ahead.pairs.verify()) << "seed " << c.seed << " frame " << r.frame;
      over = over || big;
      ASSERT_EQ(by_replay->replay(ahead), "");
      replayed.kept.push_back(by_replay->pairs());
    }
    ASSERT_EQ(by_process->flush(), "");
    ASSERT_EQ(by_replay->flush(), "");
    EXPECT_EQ(replayed.blocks, processed.blocks) << "seed " << c.seed;
    EXPECT_EQ(replayed.indices, processed.indices) << "seed " << c.seed;
    EXPECT_TRUE(replayed.visits == processed.visits) << "seed " << c.seed;
    EXPECT_EQ(replayed.kept, processed.kept) << "seed " << c.seed;
    EXPECT_EQ(by_replay->found(), by_process->found()) << "seed " << c.seed;
    EXPECT_EQ(over, c.seed >= 28) << "seed " << c.seed;  // the cases do what they say
    if (c.seed == 22) {
      EXPECT_EQ(by_process->found(), 0);
    }
    if (c.seed == 24) {
      EXPECT_GE(processed.blocks.size(), 3u);
    }
  }
}

// hist_hellinger is OpenCV's Bhattacharyya comparison of each plane's
// histograms, averaged; iou of boxes that touch, nest, miss or span the ints.
TEST(TrackvideoPairPass, HellingerIsTheBhattacharyyaComparisonOfThePlanesAndIouOfInclusiveBoxes) {
  std::mt19937 random(7);
  const tracks t = random_tracks(random, 3, 6, 60);
  std::vector<double> measured;
  std::vector<std::pair<std::size_t, std::size_t>> boxes;
  pair_pass pass(t, 1000, {}, false);
  std::size_t first = 0;
  std::vector<frame_records> frames;
  for (int f = 1; f <= t.last_frame; ++f) {
    frames.push_back(records_of(t, f, first, random));
    first = frames.back().last;
    const frame_records& r = frames.back();
    pass.set_visitor(
        [&](const track_box& a, const track_box& b, long long, double, double, double h) {
          measured.push_back(h);
          boxes.emplace_back(&a - &t.boxes[r.first], &b - &t.boxes[r.first]);
        });
    const std::size_t before = measured.size();
    ASSERT_EQ(pass.process(r), "");
    for (std::size_t k = before; k < measured.size(); ++k) {
      double expected = 0;
      const int start[] = {0, 24, 48, 64};
      for (int p = 0; p < 3; ++p) {
        const int n = start[p + 1] - start[p];
        cv::Mat x(
            n, 1, CV_32F,
            const_cast<float*>(&r.values[boxes[k].first * kRecordValues + std::size_t(start[p])]));
        cv::Mat y(
            n, 1, CV_32F,
            const_cast<float*>(&r.values[boxes[k].second * kRecordValues + std::size_t(start[p])]));
        expected += cv::compareHist(x, y, cv::HISTCMP_BHATTACHARYYA) / 3;
      }
      EXPECT_NEAR(measured[k], expected, 1e-6) << "frame " << f << " pair " << k;
    }
  }
  EXPECT_GT(measured.size(), 20u);

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
      pair_pass pass(t, 80, {}, false);
      pass.set_index_sink([&report](int a, int b) { report.add_pair(a, b); });
      std::size_t first = 0;
      for (int f = 1; f <= t.last_frame; ++f) {
        const frame_records r = records_of(t, f, first, random);
        first = r.last;
        if (r.boxes() == 0) continue;
        report.begin_frame(r);
        ASSERT_EQ(pass.process(r), "");
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
