// trackvideo/pair_pass.cpp - the pairs and rows of one frame (see pair_pass.h).
#include "trackvideo/pair_pass.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>
#include <new>

#include "trackvideo/encounters.h"
#include "trackvideo/table.h"

namespace trackvideo {

namespace {

// The planes of a record's values: 24, 24 and 16 bins.
constexpr int kPlaneStart[] = {0, 24, 48, kRecordValues};

}  // namespace

void pair_pass::make_roots(const frame_records& r) {
  if (roots_frame_ == r.frame) return;
  roots_frame_ = r.frame;
  const std::size_t n = r.boxes();
  roots_.resize(n * kRecordValues);
  plane_sums_.resize(n * 3);
  for (std::size_t b = 0; b < n; ++b) {
    const float* v = r.values.data() + b * kRecordValues;
    double* root = roots_.data() + b * kRecordValues;
    for (int p = 0; p < 3; ++p) {
      double sum = 0;
      for (int i = kPlaneStart[p]; i < kPlaneStart[p + 1]; ++i) {
        sum += v[i];
        root[i] = std::sqrt(static_cast<double>(v[i]));
      }
      plane_sums_[b * 3 + static_cast<std::size_t>(p)] = sum;
    }
  }
}

double pair_pass::hellinger(int a, int b) const {
  const double* x = roots_.data() + static_cast<std::size_t>(a) * kRecordValues;
  const double* y = roots_.data() + static_cast<std::size_t>(b) * kRecordValues;
  double total = 0;
  for (int p = 0; p < 3; ++p) {
    double overlap = 0;
    for (int i = kPlaneStart[p]; i < kPlaneStart[p + 1]; ++i) overlap += x[i] * y[i];
    const double sums = plane_sums_[static_cast<std::size_t>(a) * 3 + static_cast<std::size_t>(p)] *
                        plane_sums_[static_cast<std::size_t>(b) * 3 + static_cast<std::size_t>(p)];
    // As the Bhattacharyya comparison of two histograms scales it.
    const double scale = std::fabs(sums) > FLT_EPSILON ? 1 / std::sqrt(sums) : 1;
    total += std::sqrt(std::max(0.0, 1 - overlap * scale));
  }
  return total / 3;
}

std::string pair_pass::make_rows(const frame_records& r) {
  const double none = std::numeric_limits<double>::quiet_NaN();
  if (histograms_) {
    hist_l1_distances(r.values.data(), batch_, hist_l1_);
    make_roots(r);
  }
  for (std::size_t k = 0; k < batch_.size(); ++k) {
    const track_box& x = tracks_.boxes[r.first + static_cast<std::size_t>(batch_[k].first)];
    const track_box& y = tracks_.boxes[r.first + static_cast<std::size_t>(batch_[k].second)];
    const double iou = box_iou(x, y);
    const double hist_l1 = histograms_ ? hist_l1_[k] : none;
    const double hellinger = histograms_ ? this->hellinger(batch_[k].first, batch_[k].second) : none;
    if (sink_)
      append_pair_row(rows_, r.frame, tracks_.ids[static_cast<std::size_t>(x.object)], x,
                      tracks_.ids[static_cast<std::size_t>(y.object)], y, distances_[k],
                      hist_l1_[k], iou, hellinger);
    if (visitor_) visitor_(x, y, distances_[k], iou, hist_l1, hellinger);
  }
  batch_.clear();
  distances_.clear();
  return rows_.size() >= kRowBlock ? flush() : "";
}

std::string pair_pass::flush() {
  if (rows_.empty() || !sink_) return "";
  std::string why = sink_(rows_);
  rows_.clear();
  return why;
}

std::string pair_pass::process(const frame_records& r) {
  pairs_.clear();
  batch_.clear();
  distances_.clear();
  std::string why;
  try {
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
    const std::string found = trackpair::frame_pairs(
        grouped_, radius_, [this, &r, &why](int q, int s, int a, int b, long long d) {
          if (!why.empty()) return;  // the sink failed: nothing more to do
          const std::pair<int, int> pair(
              static_cast<int>(r.start[static_cast<std::size_t>(q)]) + s,
              static_cast<int>(r.start[static_cast<std::size_t>(a)]) + b);
          ++found_;
          if (index_sink_) index_sink_(pair.first, pair.second);
          if (keep_pairs_) pairs_.push_back(pair);
          if (!sink_ && !visitor_) return;
          batch_.push_back(pair);
          distances_.push_back(d);
          if (batch_.size() == kBatch) why = make_rows(r);
        });
    if (!found.empty()) return found;
    if (why.empty() && !batch_.empty()) why = make_rows(r);
  } catch (const std::bad_alloc&) {
    return "out of memory";
  }
  return why;
}

}  // namespace trackvideo
