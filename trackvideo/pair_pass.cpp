// trackvideo/pair_pass.cpp - the pairs and rows of one frame (see pair_pass.h).
#include "trackvideo/pair_pass.h"

#include <new>

#include "trackvideo/table.h"

namespace trackvideo {

std::string pair_pass::make_rows(const frame_records& r) {
  hist_l1_distances(r.values.data(), batch_, hist_l1_);
  for (std::size_t k = 0; k < batch_.size(); ++k) {
    const track_box& x = tracks_.boxes[r.first + static_cast<std::size_t>(batch_[k].first)];
    const track_box& y = tracks_.boxes[r.first + static_cast<std::size_t>(batch_[k].second)];
    append_pair_row(rows_, r.frame, tracks_.ids[static_cast<std::size_t>(x.object)], x,
                    tracks_.ids[static_cast<std::size_t>(y.object)], y, distances_[k], hist_l1_[k]);
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
          if (keep_pairs_) pairs_.push_back(pair);
          if (!sink_) return;
          batch_.push_back(pair);
          distances_.push_back(d);
          if (batch_.size() == kBatch) why = make_rows(r);
        });
    if (!found.empty()) return found;
    if (why.empty() && sink_ && !batch_.empty()) why = make_rows(r);
  } catch (const std::bad_alloc&) {
    return "out of memory";
  }
  return why;
}

}  // namespace trackvideo
