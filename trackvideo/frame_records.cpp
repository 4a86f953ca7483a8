// trackvideo/frame_records.cpp - the records of one frame (see frame_records.h).
#include "trackvideo/frame_records.h"

#include <algorithm>
#include <utility>

#include "trackvideo/pair_pass.h"

namespace trackvideo {

namespace {
constexpr int kWrittenColourBins = 24;  // of the 32-bin red and green histograms
constexpr int kBlueBins = 16;
static_assert(2 * kWrittenColourBins + kBlueBins == kRecordValues, "a record holds 64 values");
}  // namespace

bool made_pairs::verify() const {
  if (!made) return true;
  const std::size_t n = pairs.size();
  const std::size_t with_measures = work.measures ? n : 0;
  if (l1.size() != with_measures || iou.size() != with_measures ||
      hist_l1.size() != with_measures || hellinger.size() != with_measures)
    return false;
  const std::size_t batches = work.rows ? (n + pair_pass::kBatch - 1) / pair_pass::kBatch : 0;
  if (row_ends.size() != batches) return false;
  for (std::size_t b = 0; b < batches; ++b)
    if (row_ends[b] < (b == 0 ? 0 : row_ends[b - 1])) return false;
  return batches == 0 ? rows.empty() : row_ends.back() == rows.size();
}

void made_pairs::clear() {
  made = false;
  pairs.clear();
  l1.clear();
  iou.clear();
  hist_l1.clear();
  hellinger.clear();
  rows.clear();
  row_ends.clear();
}

void made_pairs::drop() {
  made_pairs none;
  std::swap(*this, none);
}

void frame_records::reset(int f, std::size_t at) {
  frame = f;
  first = last = at;
  decoded = false;
  values.clear();
  present.clear();
  start.clear();
  pairs.clear();
}

std::string frame_records::detection_text(int q) const {
  const auto it = std::lower_bound(present.begin(), present.end(), q);
  if (it == present.end() || *it != q) return "0\n";
  const std::size_t k = static_cast<std::size_t>(it - present.begin());
  return std::to_string(end(k) - start[k]) + "\n" + records[k];
}

std::string record_maker::make(int f, std::size_t first, std::size_t last, frame_records& out) {
  const bool decoded = out.decoded;
  out.reset(f, first);
  out.decoded = decoded;
  out.last = last;
  out.values.resize((last - first) * kRecordValues);
  const cv::Mat& image = out.image;
  const histfeat::frame_planes planes =
      histfeat::split_frame(image.data, image.cols, image.rows, image.step[0], plane_storage_);
  for (std::size_t i = first; i < last; ++i) {
    const track_box& b = tracks_.boxes[i];
    if (out.present.empty() || out.present.back() != b.object) {
      out.present.push_back(b.object);
      out.start.push_back(i - first);
      if (out.records.size() < out.present.size()) out.records.emplace_back();
      out.records[out.present.size() - 1].clear();
    }
    const histfeat::box corners{b.x1, b.y1, b.x2, b.y2};
    const std::string why = with_text_
                                ? histfeat::append_box_record(out.records[out.present.size() - 1],
                                                              planes, corners, hist_)
                                : histfeat::box_record_histograms(planes, corners, hist_);
    if (!why.empty())
      return tracks_.file + ":" + std::to_string(b.line) + ": box " + why + " of frame " +
             std::to_string(f);
    float* v = &out.values[(i - first) * kRecordValues];
    v = std::copy_n(hist_.rhist.begin(), kWrittenColourBins, v);
    v = std::copy_n(hist_.ghist.begin(), kWrittenColourBins, v);
    std::copy_n(hist_.bhist.begin(), kBlueBins, v);
  }
  return "";
}

}  // namespace trackvideo
