// trackvideo's pair pass: the pairs and table rows of random frames against
// every pair tried by hand (several detections per object, absent objects,
// radii from tiny to huge), the rows handed on in bounded blocks, and a
// failing sink stopping the pass.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "histfeat/record.h"
#include "trackvideo/frame_records.h"
#include "trackvideo/pair_pass.h"
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
      std::snprintf(row, sizeof row, "%d,%d,%d,%d,%d,%lld,%.6f,%d,%d,%d,%d,%d,%d,%d,%d\n", r.frame,
                    t.ids[std::size_t(x.object)], x.det + 1, t.ids[std::size_t(y.object)],
                    y.det + 1, d, double(h), x.x1, x.y1, x.x2 - x.x1 + 1, x.y2 - x.y1 + 1, y.x1,
                    y.y1, y.x2 - y.x1 + 1, y.y2 - y.y1 + 1);
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
  int calls = 0;
  pair_pass pass(
      t, 5000,
      [&](const std::string&) {
        ++calls;
        return std::string("pairs.csv: No space left on device");
      },
      false);
  EXPECT_EQ(pass.process(records_of(t, 1, 0, random)), "pairs.csv: No space left on device");
  EXPECT_EQ(calls, 1);
  EXPECT_TRUE(pass.pairs().empty());  // not kept unless asked for
}
