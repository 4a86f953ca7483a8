// trackvideo/table.h - the rows of the --csv table, one per candidate pair.
//
//   frame,id_a,det_a,id_b,det_b,l1,hist_l1,left_a,top_a,width_a,height_a,left_b,top_b,width_b,height_b
//
// Frames and ids as in the tracks file, det from 1 within (id, frame), l1 the
// exact box distance, hist_l1 with "%.6f", boxes as left = x1, width =
// x2 - x1 + 1. Appending a row costs O(1) and allocates only when `out` grows.
#ifndef TRACKVIDEO_TABLE_H
#define TRACKVIDEO_TABLE_H

#include <string>

namespace trackvideo {

// The header line, newline included.
extern const char kCsvHeader[];

// One side of a pair: the track's id, the 0-based detection and the corners.
struct pair_side {
  int id, det;
  int x1, y1, x2, y2;
};

// Appends the row of a pair in frame `frame`; a.id < b.id. The widths are
// computed in 64 bits, so any int corners give the right value.
void append_pair_row(std::string& out, int frame, const pair_side& a, const pair_side& b,
                     long long l1, float hist_l1);

}  // namespace trackvideo

#endif  // TRACKVIDEO_TABLE_H
