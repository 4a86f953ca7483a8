// trackvideo/sinks/encounters.cpp - runs of frames where two tracks meet (see
// encounters.h).
#include "trackvideo/sinks/encounters.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <limits>

namespace trackvideo {

const char kEncountersHeader[] =
    "id_a,id_b,first_frame,last_frame,frames,min_l1,min_l1_frame,max_iou,min_hist_l1,"
    "min_hist_hellinger,a_starts,a_ends,b_starts,b_ends,switches\n";

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

std::uint64_t key_of(int a, int b) {
  return static_cast<std::uint64_t>(static_cast<std::uint32_t>(a)) << 32 |
         static_cast<std::uint32_t>(b);
}

// Whether a track of frames `span` starts, or ends, at the run [from, to].
bool starts_in(const std::pair<int, int>& span, long long from, long long to, int near) {
  return span.first >= from - near && span.first <= to;
}
bool ends_in(const std::pair<int, int>& span, long long from, long long to, int near) {
  return span.second >= from && span.second <= to + near;
}

}  // namespace

std::vector<std::pair<int, int>> track_spans(const tracks& t) {
  std::vector<std::pair<int, int>> spans(t.ids.size(), {INT_MAX, INT_MIN});
  for (const track_box& b : t.boxes) {
    auto& s = spans[static_cast<std::size_t>(b.object)];
    s.first = std::min(s.first, b.frame);
    s.second = std::max(s.second, b.frame);
  }
  return spans;
}

risky_runs::risky_runs(const tracks& t, int gap, int near)
    : spans_(track_spans(t)), gap_(gap), near_(near) {}

void risky_runs::close(std::uint64_t key, const run& r) {
  for (const std::uint32_t q : {static_cast<std::uint32_t>(key >> 32), static_cast<std::uint32_t>(key)}) {
    const auto& span = spans_[q];
    if (starts_in(span, r.first, r.last, near_) || ends_in(span, r.first, r.last, near_)) {
      risky_.push_back(risky{key, r.first, r.last});
      return;
    }
  }
}

// Closes the runs that can no longer grow: their last frame more than gap + 1
// frames before `frame`.
void risky_runs::sweep(int frame) {
  for (auto it = open_.begin(); it != open_.end();) {
    if (static_cast<long long>(frame) - it->second.last > gap_ + 1LL) {
      close(it->first, it->second);
      it = open_.erase(it);
    } else {
      ++it;
    }
  }
  swept_ = frame;
}

void risky_runs::add(int frame, int a, int b) {
  if (static_cast<long long>(frame) - swept_ > gap_ + 1LL) sweep(frame);
  const std::uint64_t key = key_of(a, b);
  const auto [it, added] = open_.try_emplace(key, run{frame, frame});
  if (added) return;
  if (static_cast<long long>(frame) - it->second.last > gap_ + 1LL) {
    close(key, it->second);
    it->second = run{frame, frame};
  } else {
    it->second.last = frame;
  }
}

void risky_runs::finish() {
  for (const auto& [key, r] : open_) close(key, r);
  open_.clear();
  std::sort(risky_.begin(), risky_.end(), [](const risky& x, const risky& y) {
    return x.key != y.key ? x.key < y.key : x.first < y.first;
  });
}

bool risky_runs::contains(int frame, int a, int b) const {
  const std::uint64_t key = key_of(a, b);
  // The last run of the two starting at or before `frame`.
  auto it = std::upper_bound(risky_.begin(), risky_.end(), std::make_pair(key, frame),
                             [](const std::pair<std::uint64_t, int>& v, const risky& r) {
                               return v.first != r.key ? v.first < r.key : v.second < r.first;
                             });
  if (it == risky_.begin()) return false;
  --it;
  return it->key == key && frame <= it->last;
}

encounter as_shown(encounter e, const tracks& t) {
  e.first_frame = t.shown_frame(e.first_frame);
  e.last_frame = t.shown_frame(e.last_frame);
  e.min_l1_frame = t.shown_frame(e.min_l1_frame);
  e.box_a.frame = t.shown_frame(e.box_a.frame);
  e.box_b.frame = t.shown_frame(e.box_b.frame);
  return e;
}

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
  p = put(p, end, static_cast<long long>(e.switches));
  *p++ = '\n';
  out.append(row, p);
}

encounter_finder::encounter_finder(const tracks& t, int gap, int near)
    : tracks_(t), gap_(gap), near_(near) {}

void encounter_finder::add(int frame, const track_box& a, const track_box& b, long long l1,
                           double iou, double hist_l1, double hist_hellinger) {
  const std::uint64_t key = key_of(a.object, b.object);
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
  const std::vector<std::pair<int, int>> spans = track_spans(tracks_);
  for (encounter& e : closed_) {
    const auto& a = spans[static_cast<std::size_t>(e.object_a)];
    const auto& b = spans[static_cast<std::size_t>(e.object_b)];
    e.a_starts = starts_in(a, e.first_frame, e.last_frame, near_);
    e.a_ends = ends_in(a, e.first_frame, e.last_frame, near_);
    e.b_starts = starts_in(b, e.first_frame, e.last_frame, near_);
    e.b_ends = ends_in(b, e.first_frame, e.last_frame, near_);
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
