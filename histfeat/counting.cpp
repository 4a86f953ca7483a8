// Counting the samples of a box into histograms and normalising them.

#include "histfeat/internal.h"

#include <algorithm>
#include <cassert>
#include <cstdint>
#include <cstring>

namespace histfeat {

namespace {

constexpr int kMaxBins = 256;

const std::uint8_t* row_of(const sample_plane& plane, const region& selection, int y) {
  return plane.data + static_cast<std::size_t>(selection.y + y) * plane.stride +
         static_cast<std::size_t>(selection.x);
}

// True when no mask sample of `selection` is zero, so the mask can be left unread.
bool mask_selects_all(const sample_plane& mask, const region& selection) {
  const std::size_t width = static_cast<std::size_t>(selection.width);
  for (int y = 0; y < selection.height; ++y)
    if (std::memchr(row_of(mask, selection, y), 0, width)) return false;
  return true;
}

// counts[0 .. 256 >> shift) = the samples of `selection` (where `mask` is non-zero,
// or all when mask is nullptr) by bin v >> shift. The hot loop of the program:
// one load, shift and increment per sample. Four sub-histograms taken in turn let
// a run of equal samples (common in images) proceed without waiting on the
// previous increment of the same counter.
void count_bins(const sample_plane& plane, const sample_plane* mask, const region& selection,
                int shift, std::uint64_t* counts) {
  const int bins = kMaxBins >> shift;
  std::uint64_t sub[4][kMaxBins];
  for (auto& s : sub) std::fill(s, s + bins, 0);
  const int width = selection.width;
  for (int y = 0; y < selection.height; ++y) {
    const std::uint8_t* p = row_of(plane, selection, y);
    if (mask) {
      const std::uint8_t* m = row_of(*mask, selection, y);
      for (int x = 0; x < width; ++x) sub[x & 3][p[x] >> shift] += m[x] != 0;
      continue;
    }
    int x = 0;
    for (; x + 4 <= width; x += 4) {
      ++sub[0][p[x] >> shift];
      ++sub[1][p[x + 1] >> shift];
      ++sub[2][p[x + 2] >> shift];
      ++sub[3][p[x + 3] >> shift];
    }
    for (; x < width; ++x) ++sub[x & 3][p[x] >> shift];
  }
  for (int i = 0; i < bins; ++i) counts[i] = sub[0][i] + sub[1][i] + sub[2][i] + sub[3][i];
}

// The shift that maps a sample to its bin: bins = 256 >> shift.
int bin_shift(int bins) {
  assert(bins > 0 && kMaxBins % bins == 0 && "bins divide the 256 sample values");
  int shift = 0;
  while ((kMaxBins >> shift) > bins) ++shift;
  return shift;
}

// values[i] = normalised counts[i], as normalise() computes them (the counts are
// exact integers, so their double total is the same).
void normalise_into(const std::uint64_t* counts, int bins, std::vector<float>& values) {
  double total = 0;
  for (int i = 0; i < bins; ++i) total += static_cast<double>(counts[i]);
  values.assign(static_cast<std::size_t>(bins), 0.0f);
  if (total > 0)
    for (int i = 0; i < bins; ++i)
      values[static_cast<std::size_t>(i)] = normalised_bin(static_cast<double>(counts[i]), total);
}

}  // namespace

std::vector<double> bin_counts(const sample_plane& plane, const sample_plane* mask,
                               const region& selection, int bins) {
  assert(selection.x >= 0 && selection.y >= 0 && selection.width >= 1 && selection.height >= 1 &&
         selection.x + selection.width <= plane.width &&
         selection.y + selection.height <= plane.height && "selection inside the plane");
  // Sample v lands in bin floor(v * bins / 256) = v >> shift, 255 in the last.
  const int shift = bin_shift(bins);
  if (mask && mask_selects_all(*mask, selection)) mask = nullptr;
  std::uint64_t counts[kMaxBins];
  count_bins(plane, mask, selection, shift, counts);
  return std::vector<double>(counts, counts + bins);
}

float normalised_bin(double count, double total) {
  return static_cast<float>(count * (kHistogramSum / total));
}

std::vector<float> normalise(const std::vector<double>& counts) {
  double total = 0;
  for (double c : counts) total += c;
  std::vector<float> values(counts.size(), 0.0f);
  if (total > 0)
    for (std::size_t i = 0; i < counts.size(); ++i) values[i] = normalised_bin(counts[i], total);
  return values;
}

void box_histograms(const frame_planes& planes, const region& selection, histograms& into) {
  // The mask is checked once for the box; a run's mask (all 255) is then not read.
  const sample_plane* mask = mask_selects_all(planes.mask, selection) ? nullptr : &planes.mask;
  std::uint64_t counts[kColourBins];
  count_bins(planes.red, mask, selection, bin_shift(kColourBins), counts);
  normalise_into(counts, kColourBins, into.rhist);
  count_bins(planes.green, mask, selection, bin_shift(kColourBins), counts);
  normalise_into(counts, kColourBins, into.ghist);
  count_bins(planes.blue, mask, selection, bin_shift(kBlueBins), counts);
  normalise_into(counts, kBlueBins, into.bhist);
}

histograms box_histograms(const frame_planes& planes, const region& selection) {
  histograms h;
  box_histograms(planes, selection, h);
  return h;
}

}  // namespace histfeat
