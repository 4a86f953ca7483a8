// Counting the samples of a box into histograms, normalising them, and the L1
// distance of two histograms.

#include "histfeat/internal.h"

#include <algorithm>
#include <cmath>
#include <cassert>
#include <cstdint>

namespace histfeat {

namespace {

constexpr int kMaxBins = 256;

const std::uint8_t* row_of(const sample_plane& plane, const region& selection, int y) {
  return plane.data + static_cast<std::size_t>(selection.y + y) * plane.stride +
         static_cast<std::size_t>(selection.x);
}

// counts[0 .. 256 >> shift) = the samples of `selection` by bin v >> shift. The hot loop of the
// program: one load, shift and increment per sample. Four sub-histograms taken in turn let a run of
// equal samples (common in images) proceed without waiting on the previous increment of the same
// counter.
template <int kShift>
void count_bins(const sample_plane& plane, const region& selection, std::uint64_t* counts) {
  constexpr int bins = kMaxBins >> kShift;
  // 32-bit counters: a quarter of a selection's samples each, and a selection
  // holds fewer than 2^32 samples (frames are limited far below that).
  std::uint32_t sub[4][bins] = {};
  const int width = selection.width;
  for (int y = 0; y < selection.height; ++y) {
    const std::uint8_t* p = row_of(plane, selection, y);
    int x = 0;
    for (; x + 4 <= width; x += 4) {
      ++sub[0][p[x] >> kShift];
      ++sub[1][p[x + 1] >> kShift];
      ++sub[2][p[x + 2] >> kShift];
      ++sub[3][p[x + 3] >> kShift];
    }
    for (; x < width; ++x) ++sub[x & 3][p[x] >> kShift];
  }
  for (int i = 0; i < bins; ++i)
    counts[i] = std::uint64_t{sub[0][i]} + sub[1][i] + sub[2][i] + sub[3][i];
}

void count_bins(const sample_plane& plane, const region& selection, int shift,
                std::uint64_t* counts) {
  switch (shift) {
    case 0:
      return count_bins<0>(plane, selection, counts);
    case 1:
      return count_bins<1>(plane, selection, counts);
    case 2:
      return count_bins<2>(plane, selection, counts);
    case 3:
      return count_bins<3>(plane, selection, counts);  // 32 bins: red, green
    case 4:
      return count_bins<4>(plane, selection, counts);  // 16 bins: blue
    case 5:
      return count_bins<5>(plane, selection, counts);
    case 6:
      return count_bins<6>(plane, selection, counts);
    case 7:
      return count_bins<7>(plane, selection, counts);
    default:
      return count_bins<8>(plane, selection, counts);  // bin_shift gives 0 .. 8
  }
}

// The shift that maps a sample to its bin: bins = 256 >> shift.
int bin_shift(int bins) {
  assert(bins > 0 && kMaxBins % bins == 0 && "bins divide the 256 sample values");
  int shift = 0;
  while ((kMaxBins >> shift) > bins) ++shift;
  return shift;
}

// values[i] = normalised_bin(counts[i], their total); all zeros when nothing
// was counted.
void normalise_into(const std::uint64_t* counts, int bins, std::vector<float>& values) {
  double total = 0;
  for (int i = 0; i < bins; ++i) total += static_cast<double>(counts[i]);
  values.assign(static_cast<std::size_t>(bins), 0.0f);
  if (total > 0)
    for (int i = 0; i < bins; ++i)
      values[static_cast<std::size_t>(i)] = normalised_bin(static_cast<double>(counts[i]), total);
}

}  // namespace

std::vector<double> bin_counts(const sample_plane& plane, const region& selection, int bins) {
  assert(selection.x >= 0 && selection.y >= 0 && selection.width >= 1 && selection.height >= 1 &&
         selection.x + selection.width <= plane.width &&
         selection.y + selection.height <= plane.height && "selection inside the plane");
  // Sample v lands in bin floor(v * bins / 256) = v >> shift, 255 in the last.
  std::uint64_t counts[kMaxBins];
  count_bins(plane, selection, bin_shift(bins), counts);
  return std::vector<double>(counts, counts + bins);
}

float normalised_bin(double count, double total) {
  return static_cast<float>(count * (kHistogramSum / total));
}

void box_histograms(const frame_planes& planes, const region& selection, histograms& into) {
  std::uint64_t counts[kColourBins];
  count_bins(planes.red, selection, bin_shift(kColourBins), counts);
  normalise_into(counts, kColourBins, into.rhist);
  count_bins(planes.green, selection, bin_shift(kColourBins), counts);
  normalise_into(counts, kColourBins, into.ghist);
  count_bins(planes.blue, selection, bin_shift(kBlueBins), counts);
  normalise_into(counts, kBlueBins, into.bhist);
}

histograms box_histograms(const frame_planes& planes, const region& selection) {
  histograms h;
  box_histograms(planes, selection, h);
  return h;
}

}  // namespace histfeat

float compare_hist(float* a, float* b, int n) {
  float sum = 0;
  for (int i = 0; i < n; ++i)
    sum = static_cast<float>(sum + std::fabs(static_cast<double>(a[i]) - b[i]));
  return sum;
}
