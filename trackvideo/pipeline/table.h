// trackvideo/pipeline/table.h - the rows of the --csv table, one per candidate pair.
//
//   frame,id_a,det_a,id_b,det_b,l1,hist_l1,left_a,top_a,width_a,height_a,left_b,top_b,width_b,height_b,iou,hist_hellinger
//
// Frames (tracks::shown_frame) and ids as in the tracks file, det from 1
// within (id, frame), l1 the exact box distance, hist_l1, iou (intersection
// over union of the boxes) and hist_hellinger (the mean over the three planes of the Bhattacharyya
// distance of their histograms) with "%.6f", boxes as left = x1, width =
// x2 - x1 + 1. Appending a row costs O(1) and allocates only when `out` grows.
#ifndef TRACKVIDEO_PIPELINE_TABLE_H
#define TRACKVIDEO_PIPELINE_TABLE_H

#include <string>

#include "trackvideo/input/tracks.h"

namespace trackvideo {

// The header line, newline included.
extern const char kCsvHeader[];

// Appends the row of the pair (a, b) in frame `frame`, where id_a and id_b are
// the tracks' ids of a.object and b.object (id_a < id_b); the dets and corners
// come from the boxes. The widths are computed in 64 bits, so any int corners
// give the right value.
void append_pair_row(std::string& out, int frame, int id_a, const track_box& a, int id_b,
                     const track_box& b, long long l1, float hist_l1, double iou,
                     double hist_hellinger);

}  // namespace trackvideo

#endif  // TRACKVIDEO_PIPELINE_TABLE_H
