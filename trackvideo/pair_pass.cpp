// trackvideo/pair_pass.cpp - the pairs and rows of one frame (see pair_pass.h).
#include "trackvideo/pair_pass.h"

#include "trackvideo/table.h"

namespace trackvideo {

void pair_pass::process(const frame_records& r, trackpair::box_dictionary& boxes,
                        std::string* rows) {
  pairs_.clear();
  distances_.clear();
  // The frame's boxes grouped by the objects present (in ascending order, so
  // that the core's order of groups is the order of objects).
  grouped_.resize(r.present.size());
  for (std::size_t k = 0; k < r.present.size(); ++k) {
    std::vector<trackpair::box_info>& group = grouped_[k];
    group.clear();
    for (std::size_t j = r.start[k]; j < r.end(k); ++j) {
      const track_box& b = tracks_.boxes[r.first + j];
      group.emplace_back(b.x1, b.y1, b.x2, b.y2);
      boxes.insert(trackpair::box_key(b.object, r.frame - 1, b.det), group.back());
    }
  }
  trackpair::frame_pairs(grouped_, radius_, [this, &r](int q, int s, int a, int b, long long d) {
    pairs_.emplace_back(static_cast<int>(r.start[static_cast<std::size_t>(q)]) + s,
                        static_cast<int>(r.start[static_cast<std::size_t>(a)]) + b);
    distances_.push_back(d);
  });
  if (rows == nullptr) return;
  hist_l1_distances(r.values.data(), pairs_, hist_l1_);
  for (std::size_t k = 0; k < pairs_.size(); ++k) {
    const track_box& x = tracks_.boxes[r.first + static_cast<std::size_t>(pairs_[k].first)];
    const track_box& y = tracks_.boxes[r.first + static_cast<std::size_t>(pairs_[k].second)];
    const auto side = [this](const track_box& b) {
      return pair_side{
          tracks_.ids[static_cast<std::size_t>(b.object)], b.det, b.x1, b.y1, b.x2, b.y2};
    };
    append_pair_row(*rows, r.frame, side(x), side(y), distances_[k], hist_l1_[k]);
  }
}

}  // namespace trackvideo
