// trackvideo/pipeline/hist_distance.cpp - four compare_hist chains at once (see hist_distance.h).
#include "trackvideo/pipeline/hist_distance.h"

#include <cmath>

#include "histfeat/record.h"

namespace trackvideo {

namespace {

// One term of compare_hist's sum, in its operations and order.
inline float add_term(float sum, float a, float b) {
  return static_cast<float>(sum + std::fabs(static_cast<double>(a) - b));
}

}  // namespace

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
