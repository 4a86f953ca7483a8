// trackvideo/pipeline/record_layout.h - the values of a box's record that the
// pairs' histogram distances read: histfeat's written bins, named once.
//
// A record holds, plane by plane, the first kWrittenColourBins of the red and
// green histograms, then every blue bin: kRecordValues floats. Plane p's
// values are [kPlaneStart[p], kPlaneStart[p + 1]).
#ifndef TRACKVIDEO_PIPELINE_RECORD_LAYOUT_H
#define TRACKVIDEO_PIPELINE_RECORD_LAYOUT_H

#include "histfeat/record.h"

namespace trackvideo {

constexpr int kRecordValues = 2 * histfeat::kWrittenColourBins + histfeat::kBlueBins;
constexpr int kPlanes = 3;
constexpr int kPlaneStart[kPlanes + 1] = {0, histfeat::kWrittenColourBins,
                                          2 * histfeat::kWrittenColourBins, kRecordValues};
static_assert(kRecordValues == 64, "a record holds 64 values");

}  // namespace trackvideo

#endif  // TRACKVIDEO_PIPELINE_RECORD_LAYOUT_H
