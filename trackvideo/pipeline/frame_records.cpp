// trackvideo/pipeline/frame_records.cpp - one frame's records (see
// frame_records.h).
#include "trackvideo/pipeline/frame_records.h"

#include <algorithm>

namespace trackvideo {

void frame_records::reset(int f, std::size_t first_box, std::size_t last_box, const tracks& t) {
  frame = f;
  first = first_box;
  last = last_box;
  decoded = false;
  values.clear();
  present.clear();
  start.clear();
  for (std::size_t i = first; i < last; ++i)
    if (present.empty() || present.back() != t.boxes[i].object) {
      present.push_back(t.boxes[i].object);
      start.push_back(i - first);
    }
}

std::string frame_records::detection_text(int q) const {
  const auto it = std::lower_bound(present.begin(), present.end(), q);
  if (it == present.end() || *it != q) return "0\n";
  const std::size_t k = static_cast<std::size_t>(it - present.begin());
  return std::to_string(end(k) - start[k]) + "\n" + records[k];
}

std::string record_maker::make(frame_records& out) {
  out.values.resize(out.boxes() * kRecordValues);
  if (out.records.size() < out.present.size()) out.records.resize(out.present.size());
  const cv::Mat& image = out.image;
  const histfeat::frame_planes planes =
      histfeat::split_frame(image.data, image.cols, image.rows, image.step[0], plane_storage_);
  for (std::size_t k = 0; k < out.present.size(); ++k) {
    std::string& text = out.records[k];
    text.clear();
    for (std::size_t j = out.start[k]; j < out.end(k); ++j) {
      const track_box& b = tracks_.boxes[out.first + j];
      const histfeat::box corners{b.x1, b.y1, b.x2, b.y2};
      const std::string why = with_text_ ? histfeat::append_box_record(text, planes, corners, hist_)
                                         : histfeat::box_record_histograms(planes, corners, hist_);
      if (!why.empty())
        return tracks_.file + ":" + std::to_string(b.line) + ": box " + why + " of frame " +
               std::to_string(out.frame);
      float* v = &out.values[j * kRecordValues];
      v = std::copy_n(hist_.rhist.begin(), histfeat::kWrittenColourBins, v);
      v = std::copy_n(hist_.ghist.begin(), histfeat::kWrittenColourBins, v);
      std::copy_n(hist_.bhist.begin(), histfeat::kBlueBins, v);
    }
  }
  return "";
}

}  // namespace trackvideo
