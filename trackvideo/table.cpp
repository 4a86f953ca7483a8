// trackvideo/table.cpp - the --csv rows (see table.h).
#include "table.h"

#include <charconv>
#include <cstdio>

namespace trackvideo {

const char kCsvHeader[] =
    "frame,id_a,det_a,id_b,det_b,l1,hist_l1,left_a,top_a,width_a,height_a,left_b,top_b,width_b,"
    "height_b\n";

namespace {

void append_number(std::string& out, long long v) {
  char buffer[24];
  const auto r = std::to_chars(buffer, buffer + sizeof buffer, v);
  out.append(buffer, r.ptr);
}

void append_side_box(std::string& out, const pair_side& s) {
  out += ',';
  append_number(out, s.x1);
  out += ',';
  append_number(out, s.y1);
  out += ',';
  append_number(out, static_cast<long long>(s.x2) - s.x1 + 1);
  out += ',';
  append_number(out, static_cast<long long>(s.y2) - s.y1 + 1);
}

}  // namespace

void append_pair_row(std::string& out, int frame, const pair_side& a, const pair_side& b,
                     long long l1, float hist_l1) {
  append_number(out, frame);
  out += ',';
  append_number(out, a.id);
  out += ',';
  append_number(out, a.det + 1LL);
  out += ',';
  append_number(out, b.id);
  out += ',';
  append_number(out, b.det + 1LL);
  out += ',';
  append_number(out, l1);
  char value[64];
  const int n = std::snprintf(value, sizeof value, ",%.6f", static_cast<double>(hist_l1));
  out.append(value, static_cast<std::size_t>(n));
  append_side_box(out, a);
  append_side_box(out, b);
  out += '\n';
}

}  // namespace trackvideo
