// trackvideo/pipeline/table.cpp - the --csv rows (see table.h).
#include "trackvideo/pipeline/table.h"

#include <charconv>

namespace trackvideo {

const char kCsvHeader[] =
    "frame,id_a,det_a,id_b,det_b,l1,hist_l1,left_a,top_a,width_a,height_a,left_b,top_b,width_b,"
    "height_b,iou,hist_hellinger\n";

namespace {

// The longest row: 14 integers of at most 20 characters (widths reach 2^32,
// l1 4 * (2^32 - 1)), hist_l1 (under 64 characters even for a huge float),
// iou and hist_hellinger (at most 1), 16 commas and the newline.
constexpr std::size_t kMaxRow = 14 * 20 + 3 * 64 + 17;

// Appends ",v" at p; the buffer has room (kMaxRow).
char* put(char* p, char* end, long long v) {
  *p++ = ',';
  return std::to_chars(p, end, v).ptr;
}

char* put_box(char* p, char* end, const track_box& s) {
  p = put(p, end, s.x1);
  p = put(p, end, s.y1);
  p = put(p, end, static_cast<long long>(s.x2) - s.x1 + 1);
  return put(p, end, static_cast<long long>(s.y2) - s.y1 + 1);
}

}  // namespace

void append_pair_row(std::string& out, int frame, int id_a, const track_box& a, int id_b,
                     const track_box& b, long long l1, float hist_l1, double iou,
                     double hist_hellinger) {
  // Built in one buffer and appended once: a row is one copy into `out`.
  char row[kMaxRow];
  char* const end = row + sizeof row;
  char* p = std::to_chars(row, end, frame).ptr;
  p = put(p, end, id_a);
  p = put(p, end, a.det + 1LL);
  p = put(p, end, id_b);
  p = put(p, end, b.det + 1LL);
  p = put(p, end, l1);
  // to_chars formats as printf's "%.6f" does (correctly rounded), without
  // parsing a format per row.
  *p++ = ',';
  p = std::to_chars(p, end, static_cast<double>(hist_l1), std::chars_format::fixed, 6).ptr;
  p = put_box(p, end, a);
  p = put_box(p, end, b);
  for (const double v : {iou, hist_hellinger}) {
    *p++ = ',';
    p = std::to_chars(p, end, v, std::chars_format::fixed, 6).ptr;
  }
  *p++ = '\n';
  out.append(row, p);
}

}  // namespace trackvideo
