// trackvideo/frame_pass.cpp - the records, pairs and rows of one frame (see frame_pass.h).
#include "frame_pass.h"

#include <algorithm>

#include "table.h"

namespace trackvideo {

namespace {
constexpr int kWrittenColourBins = 24;  // of the 32-bin red and green histograms
constexpr int kBlueBins = 16;
static_assert(2 * kWrittenColourBins + kBlueBins == kRecordValues, "a record holds 64 values");
}  // namespace

std::string frame_pass::process(int f, std::size_t first, std::size_t last,
                                const std::uint8_t* pixels, int width, int height,
                                std::size_t row_bytes, trackpair::box_dictionary& boxes,
                                std::string* rows) {
  clear(f);
  first_ = first;
  values_.resize((last - first) * kRecordValues);

  const histfeat::frame_planes planes =
      histfeat::split_frame(pixels, width, height, row_bytes, plane_storage_);
  for (std::size_t i = first; i < last; ++i) {
    const track_box& b = tracks_.boxes[i];
    if (present_.empty() || present_.back() != b.object) {
      slot_of_[static_cast<std::size_t>(b.object)] = static_cast<int>(present_.size());
      present_.push_back(b.object);
      start_.push_back(i - first);
      if (records_.size() < present_.size()) records_.emplace_back();
      records_[present_.size() - 1].clear();
    }
    const std::string why = histfeat::append_box_record(
        records_[present_.size() - 1], planes, histfeat::box{b.x1, b.y1, b.x2, b.y2}, hist_);
    if (!why.empty())
      return tracks_.file + ":" + std::to_string(b.line) + ": box " + why + " of frame " +
             std::to_string(f);
    float* v = &values_[(i - first) * kRecordValues];
    v = std::copy_n(hist_.rhist.begin(), kWrittenColourBins, v);
    v = std::copy_n(hist_.ghist.begin(), kWrittenColourBins, v);
    std::copy_n(hist_.bhist.begin(), kBlueBins, v);
    boxes.insert(trackpair::box_key(b.object, f - 1, b.det),
                 trackpair::box_info(b.x1, b.y1, b.x2, b.y2));
  }

  // The frame's boxes grouped by the objects present (in ascending order, so
  // that the core's order of groups is the order of objects).
  grouped_.resize(present_.size());
  for (std::size_t k = 0; k < present_.size(); ++k) {
    std::vector<trackpair::box_info>& group = grouped_[k];
    group.clear();
    const std::size_t end = k + 1 < present_.size() ? start_[k + 1] : last - first;
    for (std::size_t j = start_[k]; j < end; ++j) {
      const track_box& b = tracks_.boxes[first + j];
      group.emplace_back(b.x1, b.y1, b.x2, b.y2);
    }
  }
  trackpair::frame_pairs(grouped_, radius_, [this](int q, int s, int a, int b, long long d) {
    pairs_.emplace_back(start_[static_cast<std::size_t>(q)] + s,
                        start_[static_cast<std::size_t>(a)] + b);
    distances_.push_back(d);
  });
  if (rows == nullptr) return "";
  hist_l1_distances(values_.data(), pairs_, hist_l1_);
  for (std::size_t k = 0; k < pairs_.size(); ++k) {
    const track_box& x = tracks_.boxes[first_ + static_cast<std::size_t>(pairs_[k].first)];
    const track_box& y = tracks_.boxes[first_ + static_cast<std::size_t>(pairs_[k].second)];
    append_pair_row(
        *rows, frame_,
        pair_side{tracks_.ids[static_cast<std::size_t>(x.object)], x.det, x.x1, x.y1, x.x2, x.y2},
        pair_side{tracks_.ids[static_cast<std::size_t>(y.object)], y.det, y.x1, y.y1, y.x2, y.y2},
        distances_[k], hist_l1_[k]);
  }
  return "";
}

void frame_pass::clear(int f) {
  frame_ = f;
  if (slot_of_.size() != tracks_.ids.size()) slot_of_.assign(tracks_.ids.size(), -1);
  for (int q : present_) slot_of_[static_cast<std::size_t>(q)] = -1;
  present_.clear();
  start_.clear();
  pairs_.clear();
  distances_.clear();
  values_.clear();
}

std::string frame_pass::detection_text(int q) const {
  const int slot = q >= 0 && static_cast<std::size_t>(q) < slot_of_.size()
                       ? slot_of_[static_cast<std::size_t>(q)]
                       : -1;
  if (slot < 0) return "0\n";
  const std::size_t k = static_cast<std::size_t>(slot);
  const std::size_t first = start_[k];
  const std::size_t end = k + 1 < present_.size() ? start_[k + 1] : values_.size() / kRecordValues;
  return std::to_string(end - first) + "\n" + records_[k];
}

}  // namespace trackvideo
