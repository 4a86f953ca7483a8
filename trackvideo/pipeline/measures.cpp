// trackvideo/pipeline/measures.cpp - a pair's overlap, and four compare_hist
// chains at once (see measures.h).
#include "trackvideo/pipeline/measures.h"

#include <algorithm>
#include <cmath>

#include "histfeat/record.h"

namespace trackvideo {

namespace {

// One term of compare_hist's sum, in its operations and order.
inline float add_term(float sum, float a, float b) {
  return static_cast<float>(sum + std::fabs(static_cast<double>(a) - b));
}

}  // namespace

double box_iou(const track_box& a, const track_box& b) {
  const auto area = [](long long x1, long long y1, long long x2, long long y2) {
    return x2 < x1 || y2 < y1 ? 0.0
                              : static_cast<double>(x2 - x1 + 1) * static_cast<double>(y2 - y1 + 1);
  };
  const double meet =
      area(std::max(a.x1, b.x1), std::max(a.y1, b.y1), std::min(a.x2, b.x2), std::min(a.y2, b.y2));
  if (meet == 0) return 0;
  return meet / (area(a.x1, a.y1, a.x2, a.y2) + area(b.x1, b.y1, b.x2, b.y2) - meet);
}

void hist_l1_distances(const float* values, const std::vector<std::pair<int, int>>& pairs,
                       std::vector<float>& out) {
  out.resize(pairs.size());
  const auto record = [values](int i) {
    return values + std::size_t(kRecordValues) * std::size_t(i);
  };
  std::size_t k = 0;
  for (; k + 4 <= pairs.size(); k += 4) {
    const float *a0 = record(pairs[k].first), *b0 = record(pairs[k].second);
    const float *a1 = record(pairs[k + 1].first), *b1 = record(pairs[k + 1].second);
    const float *a2 = record(pairs[k + 2].first), *b2 = record(pairs[k + 2].second);
    const float *a3 = record(pairs[k + 3].first), *b3 = record(pairs[k + 3].second);
    float s0 = 0, s1 = 0, s2 = 0, s3 = 0;
    for (int i = 0; i < kRecordValues; ++i) {
      s0 = add_term(s0, a0[i], b0[i]);
      s1 = add_term(s1, a1[i], b1[i]);
      s2 = add_term(s2, a2[i], b2[i]);
      s3 = add_term(s3, a3[i], b3[i]);
    }
    out[k] = s0;
    out[k + 1] = s1;
    out[k + 2] = s2;
    out[k + 3] = s3;
  }
  for (; k < pairs.size(); ++k)
    out[k] = compare_hist(const_cast<float*>(record(pairs[k].first)),
                          const_cast<float*>(record(pairs[k].second)), kRecordValues);
}

}  // namespace trackvideo
