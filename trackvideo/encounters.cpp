// trackvideo/encounters.cpp - runs of frames where two tracks meet (see
// encounters.h).
#include "trackvideo/encounters.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <limits>

namespace trackvideo {

const char kEncountersHeader[] =
    "id_a,id_b,first_frame,last_frame,frames,min_l1,min_l1_frame,max_iou,min_hist_l1,"
    "min_hist_hellinger,a_starts,a_ends,b_starts,b_ends\n";

namespace {

char* put(char* p, char* end, long long v) {
  *p++ = ',';
  return std::to_chars(p, end, v).ptr;
}

char* put(char* p, char* end, double v) {
  *p++ = ',';
  if (std::isnan(v)) return p;  // no histograms: an empty field
  return std::to_chars(p, end, v, std::chars_format::fixed, 6).ptr;
}

}  // namespace

void append_encounter_row(std::string& out, const encounter& e) {
  char row[512];
  char* const end = row + sizeof row;
  char* p = std::to_chars(row, end, e.id_a).ptr;
  p = put(p, end, static_cast<long long>(e.id_b));
  p = put(p, end, static_cast<long long>(e.first_frame));
  p = put(p, end, static_cast<long long>(e.last_frame));
  p = put(p, end, static_cast<long long>(e.frames));
  p = put(p, end, e.min_l1);
  p = put(p, end, static_cast<long long>(e.min_l1_frame));
  p = put(p, end, e.max_iou);
  p = put(p, end, e.min_hist_l1);
  p = put(p, end, e.min_hist_hellinger);
  for (const bool flag : {e.a_starts, e.a_ends, e.b_starts, e.b_ends}) {
    *p++ = ',';
    *p++ = flag ? '1' : '0';
  }
  *p++ = '\n';
  out.append(row, p);
}

double box_iou(const track_box& a, const track_box& b) {
  const auto area = [](long long x1, long long y1, long long x2, long long y2) {
    return x2 < x1 || y2 < y1 ? 0.0 : static_cast<double>(x2 - x1 + 1) * static_cast<double>(y2 - y1 + 1);
  };
  const double meet = area(std::max(a.x1, b.x1), std::max(a.y1, b.y1), std::min(a.x2, b.x2),
                           std::min(a.y2, b.y2));
  if (meet == 0) return 0;
  return meet / (area(a.x1, a.y1, a.x2, a.y2) + area(b.x1, b.y1, b.x2, b.y2) - meet);
}

encounter_finder::encounter_finder(const tracks& t, int gap, int near)
    : tracks_(t), gap_(gap), near_(near) {}

void encounter_finder::add(int frame, const track_box& a, const track_box& b, long long l1,
                           double iou, double hist_l1, double hist_hellinger) {
  const std::uint64_t key = static_cast<std::uint64_t>(static_cast<std::uint32_t>(a.object)) << 32 |
                            static_cast<std::uint32_t>(b.object);
  auto it = open_.find(key);
  if (it != open_.end() && static_cast<long long>(frame) - it->second.last_frame > gap_ + 1LL) {
    closed_.push_back(it->second);
    open_.erase(it);
    it = open_.end();
  }
  if (it == open_.end()) {
    encounter e;
    e.object_a = a.object;
    e.object_b = b.object;
    e.id_a = tracks_.ids[static_cast<std::size_t>(a.object)];
    e.id_b = tracks_.ids[static_cast<std::size_t>(b.object)];
    e.first_frame = e.last_frame = e.min_l1_frame = frame;
    e.frames = 1;
    e.min_l1 = l1;
    e.box_a = a;
    e.box_b = b;
    e.max_iou = iou;
    e.min_hist_l1 = hist_l1;
    e.min_hist_hellinger = hist_hellinger;
    open_.emplace(key, e);
    return;
  }
  encounter& e = it->second;
  if (frame != e.last_frame) ++e.frames;
  e.last_frame = frame;
  if (l1 < e.min_l1) {
    e.min_l1 = l1;
    e.min_l1_frame = frame;
    e.box_a = a;
    e.box_b = b;
  }
  e.max_iou = std::max(e.max_iou, iou);
  // NaN (no histograms) stays NaN: fmin would drop it.
  if (hist_l1 < e.min_hist_l1) e.min_hist_l1 = hist_l1;
  if (hist_hellinger < e.min_hist_hellinger) e.min_hist_hellinger = hist_hellinger;
}

std::vector<encounter> encounter_finder::finish() {
  for (auto& [key, e] : open_) closed_.push_back(e);
  open_.clear();
  // Every object's first and last frame (boxes are sorted by frame).
  std::vector<int> first(tracks_.ids.size(), INT_MAX), last(tracks_.ids.size(), INT_MIN);
  for (const track_box& b : tracks_.boxes) {
    const auto q = static_cast<std::size_t>(b.object);
    first[q] = std::min(first[q], b.frame);
    last[q] = std::max(last[q], b.frame);
  }
  for (encounter& e : closed_) {
    const long long from = e.first_frame, to = e.last_frame;
    const auto starts = [&](int q) {
      const long long f = first[static_cast<std::size_t>(q)];
      return f >= from - near_ && f <= to;
    };
    const auto ends = [&](int q) {
      const long long f = last[static_cast<std::size_t>(q)];
      return f >= from && f <= to + near_;
    };
    e.a_starts = starts(e.object_a);
    e.a_ends = ends(e.object_a);
    e.b_starts = starts(e.object_b);
    e.b_ends = ends(e.object_b);
  }
  std::sort(closed_.begin(), closed_.end(), [](const encounter& x, const encounter& y) {
    if (x.first_frame != y.first_frame) return x.first_frame < y.first_frame;
    if (x.id_a != y.id_a) return x.id_a < y.id_a;
    return x.id_b < y.id_b;
  });
  std::vector<encounter> out;
  out.swap(closed_);
  return out;
}

}  // namespace trackvideo
