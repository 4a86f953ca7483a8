// trackvideo/pipeline/frame_job.cpp - one frame's pairs in chunks (see
// frame_job.h).
#include "trackvideo/pipeline/frame_job.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>

#include "trackvideo/pipeline/measures.h"
#include "trackvideo/pipeline/table.h"

namespace trackvideo {

void pair_chunk::clear() {
  pairs.clear();
  l1.clear();
  iou.clear();
  hist_l1.clear();
  hellinger.clear();
  rows.clear();
  last = false;
}

bool pair_chunk::verify(const job_work& work) const {
  const std::size_t n = pairs.size();
  const bool measured = work.measures || work.rows;
  const std::size_t with_measures = measured ? n : 0;
  if (n > kChunkPairs || l1.size() != n || iou.size() != with_measures ||
      hist_l1.size() != with_measures || hellinger.size() != with_measures)
    return false;
  const auto lines = static_cast<std::size_t>(std::count(rows.begin(), rows.end(), '\n'));
  return lines == (work.rows ? n : 0) && (rows.empty() || rows.back() == '\n');
}

void frame_job::make_roots(const frame_records& r) {
  if (roots_frame_ == r.frame) return;
  roots_frame_ = r.frame;
  const std::size_t n = r.boxes();
  roots_.resize(n * kRecordValues);
  plane_sums_.resize(n * kPlanes);
  for (std::size_t b = 0; b < n; ++b) {
    const float* v = r.values.data() + b * kRecordValues;
    double* root = roots_.data() + b * kRecordValues;
    for (int p = 0; p < kPlanes; ++p) {
      double sum = 0;
      for (int i = kPlaneStart[p]; i < kPlaneStart[p + 1]; ++i) {
        sum += v[i];
        root[i] = std::sqrt(static_cast<double>(v[i]));
      }
      plane_sums_[b * kPlanes + static_cast<std::size_t>(p)] = sum;
    }
  }
}

double frame_job::hellinger(int a, int b) const {
  const double* x = roots_.data() + static_cast<std::size_t>(a) * kRecordValues;
  const double* y = roots_.data() + static_cast<std::size_t>(b) * kRecordValues;
  const double* sums_a = plane_sums_.data() + static_cast<std::size_t>(a) * kPlanes;
  const double* sums_b = plane_sums_.data() + static_cast<std::size_t>(b) * kPlanes;
  double total = 0;
  for (int p = 0; p < kPlanes; ++p) {
    double overlap = 0;
    for (int i = kPlaneStart[p]; i < kPlaneStart[p + 1]; ++i) overlap += x[i] * y[i];
    const double sums = sums_a[p] * sums_b[p];
    // As the Bhattacharyya comparison of two histograms scales it.
    const double scale = std::fabs(sums) > FLT_EPSILON ? 1 / std::sqrt(sums) : 1;
    total += std::sqrt(std::max(0.0, 1 - overlap * scale));
  }
  return total / kPlanes;
}

void frame_job::measure(const frame_records& r) {
  pair_chunk& c = chunk_;
  const double none = std::numeric_limits<double>::quiet_NaN();
  const bool histograms = work_.pixels;
  if (histograms) {
    hist_l1_distances(r.values.data(), c.pairs, hist_l1_);
    make_roots(r);
  }
  for (std::size_t k = 0; k < c.pairs.size(); ++k) {
    const auto [i, j] = c.pairs[k];
    const track_box& x = tracks_.boxes[r.first + static_cast<std::size_t>(i)];
    const track_box& y = tracks_.boxes[r.first + static_cast<std::size_t>(j)];
    const double iou = box_iou(x, y);
    const double hellinger = histograms ? this->hellinger(i, j) : none;
    c.iou.push_back(iou);
    c.hist_l1.push_back(histograms ? hist_l1_[k] : none);
    c.hellinger.push_back(hellinger);
    if (work_.rows)
      append_pair_row(c.rows, r.frame, tracks_.ids[static_cast<std::size_t>(x.object)], x,
                      tracks_.ids[static_cast<std::size_t>(y.object)], y, c.l1[k], hist_l1_[k], iou,
                      hellinger);
  }
}

std::string frame_job::pairs(const frame_records& r, const outlet& out) {
  chunk_.clear();
  const bool measured = work_.measures || work_.rows;
  // The frame's boxes grouped by the objects present (in ascending order, so
  // that the core's order of groups is the order of objects).
  grouped_.resize(r.present.size());
  for (std::size_t k = 0; k < r.present.size(); ++k) {
    std::vector<trackpair::box_info>& group = grouped_[k];
    group.clear();
    for (std::size_t j = r.start[k]; j < r.end(k); ++j) {
      const track_box& b = tracks_.boxes[r.first + j];
      group.emplace_back(b.x1, b.y1, b.x2, b.y2);
    }
  }
  std::string why;
  const auto hand_on = [&](bool last) {
    if (measured) measure(r);
    chunk_.last = last;
    why = out(chunk_);
    chunk_.clear();
  };
  const std::string found =
      trackpair::frame_pairs(grouped_, work_.radius, [&](int q, int s, int a, int b, long long d) {
        if (!why.empty()) return;  // the outlet failed: nothing more to do
        chunk_.pairs.emplace_back(static_cast<int>(r.start[static_cast<std::size_t>(q)]) + s,
                                  static_cast<int>(r.start[static_cast<std::size_t>(a)]) + b);
        chunk_.l1.push_back(d);
        if (chunk_.pairs.size() == pair_chunk::kChunkPairs) hand_on(false);
      });
  if (!found.empty()) return found;
  if (why.empty()) hand_on(true);
  return why;
}

}  // namespace trackvideo
