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

template <class Emit>
void pair_pass::measure(const frame_records& r, std::string* rows, Emit emit) {
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
    const double hellinger =
        histograms_ ? this->hellinger(batch_[k].first, batch_[k].second) : none;
    if (rows)
      append_pair_row(*rows, r.frame, tracks_.ids[static_cast<std::size_t>(x.object)], x,
                      tracks_.ids[static_cast<std::size_t>(y.object)], y, distances_[k],
                      hist_l1_[k], iou, hellinger);
    emit(k, x, y, iou, hist_l1, hellinger);
  }
  batch_.clear();
  distances_.clear();
}

std::string pair_pass::make_rows(const frame_records& r) {
  measure(r, sink_ ? &rows_ : nullptr,
          [this](std::size_t k, const track_box& x, const track_box& y, double iou, double hist_l1,
                 double hellinger) {
            if (visitor_) visitor_(x, y, distances_[k], iou, hist_l1, hellinger);
          });
  return rows_.size() >= kRowBlock ? flush() : "";
}

void pair_pass::make_batch(const frame_records& r, made_pairs& out) {
  const bool measures = measures_wanted_;
  measure(r, rows_wanted_ ? &out.rows : nullptr,
          [this, &out, measures](std::size_t k, const track_box&, const track_box&, double iou,
                                 double hist_l1, double hellinger) {
            if (!measures) return;
            out.l1.push_back(distances_[k]);
            out.iou.push_back(iou);
            out.hist_l1.push_back(hist_l1);
            out.hellinger.push_back(hellinger);
          });
  if (rows_wanted_) out.row_ends.push_back(out.rows.size());
}

std::string pair_pass::flush() {
  if (rows_.empty() || !sink_) return "";
  std::string why = sink_(rows_);
  rows_.clear();
  return why;
}

template <class OnPair>
std::string pair_pass::list(const frame_records& r, OnPair on_pair) {
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
  return trackpair::frame_pairs(
      grouped_, radius_, [&r, &on_pair](int q, int s, int a, int b, long long d) {
        on_pair(std::pair<int, int>(static_cast<int>(r.start[static_cast<std::size_t>(q)]) + s,
                                    static_cast<int>(r.start[static_cast<std::size_t>(a)]) + b),
                d);
      });
}

std::string pair_pass::process(const frame_records& r) {
  pairs_.clear();
  batch_.clear();
  distances_.clear();
  std::string why;
  try {
    const std::string found =
        list(r, [this, &r, &why](const std::pair<int, int>& pair, long long d) {
          if (!why.empty()) return;  // the sink failed: nothing more to do
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

void pair_pass::make(const frame_records& r, made_pairs& out) {
  out.clear();
  batch_.clear();
  distances_.clear();
  // A frame of very many boxes: its search would be built twice, here and by
  // the caller after it proved too many pairs.
  if (r.boxes() > made_pairs::kMaxBoxes) return;
  const pair_work work{radius_, rows_wanted_, measures_wanted_, histograms_};
  const bool batches = work.rows || work.measures;
  bool over = false;
  const auto full = [&out] {
    return out.pairs.size() > made_pairs::kMaxPairs || out.rows.size() > made_pairs::kMaxRowText;
  };
  try {
    const std::string found = list(r, [&](const std::pair<int, int>& pair, long long d) {
      if (over) return;  // the caller makes this frame's pairs itself
      out.pairs.push_back(pair);
      if (batches) {
        batch_.push_back(pair);
        distances_.push_back(d);
        if (batch_.size() == kBatch) make_batch(r, out);
      }
      over = full();
    });
    if (found.empty() && !over && !batch_.empty()) make_batch(r, out);
    if (!found.empty() || over || full()) {
      out.drop();
      return;
    }
    out.work = work;
    out.made = true;
  } catch (const std::bad_alloc&) {
    out.drop();
  }
}

std::string pair_pass::replay(const frame_records& r) {
  const made_pairs& m = r.pairs;
  const pair_work w = work();
  if (!m.made || m.work.radius != w.radius || m.work.rows != w.rows ||
      m.work.measures != w.measures || m.work.histograms != w.histograms || !m.verify())
    return process(r);
  pairs_.clear();
  try {
    if (keep_pairs_) pairs_ = m.pairs;
    // In the batches process() makes, each pair to the index sink, then each
    // to the visitor and its rows to the sink.
    const std::size_t n = m.pairs.size();
    const bool batches = w.rows || w.measures;
    for (std::size_t begin = 0, b = 0; begin < n; begin += kBatch, ++b) {
      const std::size_t end = batches ? std::min(n, begin + kBatch) : n;
      found_ += static_cast<long long>(end - begin);
      if (index_sink_)
        for (std::size_t k = begin; k < end; ++k) index_sink_(m.pairs[k].first, m.pairs[k].second);
      if (!batches) break;
      if (visitor_)
        for (std::size_t k = begin; k < end; ++k)
          visitor_(tracks_.boxes[r.first + static_cast<std::size_t>(m.pairs[k].first)],
                   tracks_.boxes[r.first + static_cast<std::size_t>(m.pairs[k].second)], m.l1[k],
                   m.iou[k], m.hist_l1[k], m.hellinger[k]);
      if (sink_) {
        const std::size_t from = b == 0 ? 0 : m.row_ends[b - 1];
        rows_.append(m.rows, from, m.row_ends[b] - from);
        if (rows_.size() >= kRowBlock) {
          const std::string why = flush();
          if (!why.empty()) return why;
        }
      }
    }
  } catch (const std::bad_alloc&) {
    return "out of memory";
  }
  return "";
}

}  // namespace trackvideo
