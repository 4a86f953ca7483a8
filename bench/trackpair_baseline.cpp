// bench/trackpair_baseline.cpp - the straightforward association driver, kept
// as the yardstick for trackpair's speed.
//
//   trackpair_baseline num_of_objects num_of_frames
//
// The same program as trackpair, written the plain way over the same library
// sources: formatted input (fscanf "%d" for the count and the four box
// values, "%f" for each of the 64 reals), one insertion per box, and in the
// report pass one dictionary lookup per detection and per comparison, with
// nothing cached between comparisons; printf for every number. On valid input
// its output is byte for byte trackpair's. It checks only what it must to stay
// safe (the limits of node_num and files that do not open); it does not
// reject malformed records the way trackpair does.
#include <cmath>
#include <cstdio>

#include "tavo/dictionary.h"

namespace {

constexpr int max_objects = 100;
constexpr int max_frames = 500;

int node_num[max_objects][max_frames];

using box_key = tavo_three_tuple<int, int, int>;
using box_info = tavo_four_tuple<int, int, int, int>;

}  // namespace

int main(int argc, char** argv) {
  if (argc <= 2) {
    std::printf("Usgae: %s num_of_objects num_of_frames \n", argv[0]);
    return 0;
  }
  int objects = 0;
  int frames = 0;
  std::sscanf(argv[1], "%d", &objects);
  std::sscanf(argv[2], "%d", &frames);
  if (objects > max_objects || frames > max_frames) {
    std::fprintf(stderr, "trackpair_baseline: at most %d objects and %d frames\n", max_objects,
                 max_frames);
    return 1;
  }

  tavo_dictionary<box_key, box_info> boxes;
  int b1 = 0, b2 = 0, b3 = 0, b4 = 0;
  float hist[64];
  for (int q = 0; q < objects; ++q) {
    for (int r = 1; r < frames; ++r) {
      char name[64];
      std::snprintf(name, sizeof name, "objects_info_h%d_%d.txt", q + 1, r + 1);
      std::FILE* f = std::fopen(name, "rt");
      if (f == nullptr) {
        std::fprintf(stderr, "trackpair_baseline: cannot open %s\n", name);
        return 1;
      }
      if (std::fscanf(f, "%d", &node_num[q][r]) != 1) node_num[q][r] = 0;
      for (int s = 0; s < node_num[q][r]; ++s) {
        // A record that does not parse leaves the previous record's values.
        int got = std::fscanf(f, "%d %d %d %d", &b1, &b2, &b3, &b4);
        for (int i = 0; i < 64 && got != EOF; ++i) got = std::fscanf(f, "%f", &hist[i]);
        boxes.insert(box_key(q, r, s), box_info(b1, b3, b2, b4));
      }
      std::fclose(f);
    }
  }

  for (int q = 0; q < objects; ++q) {
    for (int r = 1; r < frames; ++r) {
      for (int s = 0; s < node_num[q][r]; ++s) {
        std::printf("%d %d %d ", q, r, s);
        const box_info x = boxes.inf(boxes.lookup(box_key(q, r, s)));
        for (int a = 0; a < objects; ++a) {
          if (a == q) continue;
          for (int b = 0; b < node_num[a][r]; ++b) {
            const box_info& y = boxes.inf(boxes.lookup(box_key(a, r, b)));
            const double d = std::fabs(static_cast<double>(x.first()) - y.first()) +
                             std::fabs(static_cast<double>(x.second()) - y.second()) +
                             std::fabs(static_cast<double>(x.third()) - y.third()) +
                             std::fabs(static_cast<double>(x.fourth()) - y.fourth());
            if (d < 80) std::printf("%d %d ", a, b);
          }
        }
        std::printf("\n");
      }
    }
  }
  return 0;
}
