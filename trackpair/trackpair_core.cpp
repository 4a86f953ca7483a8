// trackpair/trackpair_core.cpp - candidate pairs of detections (see trackpair_core.h).
#include "trackpair/trackpair_core.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <unordered_map>
#include <utility>

namespace trackpair {

long long box_distance(const box_info& x, const box_info& y) {
  const auto diff = [](int u, int v) {
    return std::llabs(static_cast<long long>(u) - static_cast<long long>(v));
  };
  return diff(x.first(), y.first()) + diff(x.second(), y.second()) + diff(x.third(), y.third()) +
         diff(x.fourth(), y.fourth());
}

namespace {

// A box in the search. Until the boxes are sorted its last two words are the
// frame and the place in the caller's order; then the window, the places of
// its frame whose u is within the radius of its own (see frame_search). One
// array serves both, so the search touches no more memory than it keeps.
struct search_box {
  std::array<int, 4> corner;  // x1, y1, x2, y2
  std::uint64_t name;         // (object, detection) as one word ordered like the pair
  std::uint32_t frame_or_from, order_or_to;
};

long long u_of(const search_box& b) {
  return static_cast<long long>(b.corner[0]) + b.corner[1] + b.corner[2] + b.corner[3];
}

std::uint64_t name_of(int object, int detection) {
  const auto biased = [](int i) { return static_cast<std::uint32_t>(i) ^ 0x80000000u; };
  return static_cast<std::uint64_t>(biased(object)) << 32 | biased(detection);
}
int object_of(std::uint64_t name) {
  return static_cast<int>((name >> 32) ^ 0x80000000u);
}
int detection_of(std::uint64_t name) {
  return static_cast<int>(static_cast<std::uint32_t>(name) ^ 0x80000000u);
}

// Above every distance of two boxes (4 * (2^32 - 1)): a radius clipped to it
// finds the same pairs, and u +- radius cannot overflow.
constexpr long long radius_limit = 1LL << 36;

struct hit {
  std::uint64_t name;  // as search_box's
  long long distance;
};

// With X = x1 + x2 and Y = y1 + y2, let u = X + Y and v = X - Y. Since
// max(|du|, |dv|) = |dX| + |dY| <= the L1 distance, two boxes within the
// radius differ by less than it in u and in v (exact in 64 bits for any ints).
// So every frame is sorted by u, each box with its window of places whose u is
// near, in arrays of what the scan reads: a report visits every frame once per
// object, so the less a box takes, the more stays cached. Places are 32-bit:
// 2^32 boxes would need more memory than their dictionary can have.
class frame_search {
 public:
  // `boxes` in the caller's order (order = 0, 1, ...).
  frame_search(std::vector<search_box> in_order, long long radius)
      : radius_(std::max(0LL, std::min(radius, radius_limit))),
        box_(by_frame_and_u(std::move(in_order))) {
    const std::size_t n = box_.size();
    v_.resize(n);
    place_.resize(n);
    // Scratch pages are touched only as far as the largest window reaches.
    near_.reset(new std::uint32_t[n]);
    hits_.reset(new hit[n]);
    std::uint32_t frame = 0;
    std::size_t first = 0, last = 0;  // the window of box i
    for (std::size_t i = 0; i < n; ++i) {
      search_box& b = box_[i];  // boxes before i hold their window already
      const long long u = u_of(b);
      if (i == 0 || b.frame_or_from != frame) {
        frame = b.frame_or_from;
        first = last = i;
      }
      while (first < i && u - u_of(box_[first]) >= radius_) ++first;
      if (last < i) last = i;
      while (last < n && box_[last].frame_or_from == frame && u_of(box_[last]) - u < radius_)
        ++last;
      v_[i] = static_cast<long long>(b.corner[0]) + b.corner[2] - b.corner[1] - b.corner[3];
      place_[b.order_or_to] = static_cast<std::uint32_t>(i);
      b.frame_or_from = static_cast<std::uint32_t>(first);
      b.order_or_to = static_cast<std::uint32_t>(last);
    }
  }

  // The boxes of the frame of the caller's box k at a distance below the
  // radius from it, whose object `wanted` accepts, in increasing name. Valid
  // until the next call.
  template <class Wanted>
  const hit* near(std::size_t k, Wanted wanted, std::size_t& count) {
    // A caller's next boxes lie in other frames, far away in memory: ask for
    // a later call's lines while this one works.
    if (k + prefetch_distance < place_.size()) {
      const std::size_t later = place_[k + prefetch_distance];
      const std::size_t from = std::max<std::size_t>(later, 16) - 16;
      const std::size_t to = std::min(later + 24, v_.size());
      for (std::size_t t = from; t < to; t += 8) __builtin_prefetch(&v_[t]);
      for (std::size_t t = from; t < to; t += 2) __builtin_prefetch(&box_[t]);
    }
    const search_box& x = box_[place_[k]];
    const long long v = v_[place_[k]];
    // The window's boxes within the radius in v first, counted in without a
    // branch (which are kept is unpredictable), then the exact test.
    std::size_t m = 0;
    for (std::size_t t = x.frame_or_from; t < x.order_or_to; ++t) {
      near_[m] = static_cast<std::uint32_t>(t);
      m += static_cast<std::size_t>(std::llabs(v_[t] - v) < radius_);
    }
    std::size_t n = 0;
    for (std::size_t j = 0; j < m; ++j) {
      const search_box& b = box_[near_[j]];
      long long d = 0;
      for (int e = 0; e < 4; ++e)
        d += std::llabs(static_cast<long long>(b.corner[e]) - x.corner[e]);
      hits_[n] = {b.name, d};
      n += static_cast<std::size_t>(wanted(object_of(b.name))) &
           static_cast<std::size_t>(d < radius_);
    }
    std::sort(hits_.get(), hits_.get() + n,
              [](const hit& a, const hit& b) { return a.name < b.name; });
    count = n;
    return hits_.get();
  }

  std::uint64_t name(std::size_t k) const { return box_[place_[k]].name; }

 private:
  // The boxes gathered frame by frame, in order of each frame's first box
  // (one hash lookup per change of frame), then each frame sorted by u and
  // name: small sorts that stay in the cache.
  static std::vector<search_box> by_frame_and_u(std::vector<search_box> boxes) {
    std::unordered_map<std::uint32_t, std::size_t> bucket_of;  // frame -> its bucket
    std::vector<std::size_t> start;                            // of each bucket
    const auto bucket = [&](std::size_t k, std::size_t previous) {
      return k > 0 && boxes[k].frame_or_from == boxes[k - 1].frame_or_from
                 ? previous
                 : bucket_of.try_emplace(boxes[k].frame_or_from, bucket_of.size()).first->second;
    };
    for (std::size_t k = 0, b = 0; k < boxes.size(); ++k) {
      b = bucket(k, b);
      if (b == start.size()) start.push_back(0);
      ++start[b];
    }
    std::size_t sum = 0;
    for (std::size_t& c : start) sum += std::exchange(c, sum);
    std::vector<std::size_t> fill = start;
    std::vector<search_box> sorted(boxes.size());
    for (std::size_t k = 0, b = 0; k < boxes.size(); ++k)
      sorted[fill[b = bucket(k, b)]++] = boxes[k];
    for (std::size_t b = 0; b < start.size(); ++b)
      std::sort(sorted.begin() + start[b], sorted.begin() + fill[b],
                [](const search_box& x, const search_box& y) {
                  return u_of(x) != u_of(y) ? u_of(x) < u_of(y) : x.name < y.name;
                });
    return sorted;
  }

  static constexpr std::size_t prefetch_distance = 8;
  long long radius_;
  // By place (frame, u, name):
  std::vector<long long> v_;
  std::vector<search_box> box_;  // two to a cache line
  // By the caller's order:
  std::vector<std::uint32_t> place_;
  // Scratch, one per box:
  std::unique_ptr<std::uint32_t[]> near_;
  std::unique_ptr<hit[]> hits_;
};

search_box place(const box_info& b, int frame, std::uint64_t name, std::size_t order) {
  return {{b.first(), b.second(), b.third(), b.fourth()},
          name,
          static_cast<std::uint32_t>(frame),
          static_cast<std::uint32_t>(order)};
}

// The report text, gathered in a buffer and written in large blocks. After a
// failed write nothing more is written; finish() tells why.
class report_text {
 public:
  explicit report_text(std::FILE* out) : out_(out), text_(std::size_t{1} << 17) {}

  bool failed() const { return reason_ != 0; }
  // "v ".
  void number(int v) {
    if (text_.size() - used_ < 16) flush();
    char* const at = text_.data() + used_;
    char* const stop = std::to_chars(at, at + 12, v).ptr;
    *stop = ' ';
    used_ += static_cast<std::size_t>(stop + 1 - at);
  }
  void newline() {
    if (used_ == text_.size()) flush();
    text_[used_++] = '\n';
  }
  // Writes what is left and flushes the stream: "" or what is wrong.
  std::string finish() {
    flush();
    if (!failed()) {
      errno = 0;
      if (std::fflush(out_) != 0 || std::ferror(out_)) reason_ = errno != 0 ? errno : EIO;
    }
    return failed() ? std::string("cannot write the report: ") + std::strerror(reason_) : "";
  }

 private:
  void flush() {
    if (!failed() && used_ != 0 && std::fwrite(text_.data(), 1, used_, out_) != used_)
      reason_ = errno != 0 ? errno : EIO;
    used_ = 0;
  }

  std::FILE* out_;
  std::vector<char> text_;
  std::size_t used_ = 0;
  int reason_ = 0;  // errno of the failed write, 0 while none failed
};

std::string write_report_throwing(const box_dictionary& boxes, int first_frame, long long radius,
                                  std::FILE* out) {
  std::vector<search_box> keyed;  // in key order
  keyed.reserve(static_cast<std::size_t>(boxes.size()));
  for (auto it = boxes.first_item(); it != nullptr; it = boxes.next_item(it)) {
    const box_key& k = boxes.key(it);
    if (k.second() >= first_frame)
      keyed.push_back(
          place(boxes.inf(it), k.second(), name_of(k.first(), k.third()), keyed.size()));
  }
  std::vector<int> frame(keyed.size());
  for (std::size_t k = 0; k < keyed.size(); ++k)
    frame[k] = static_cast<int>(keyed[k].frame_or_from);
  frame_search search(std::move(keyed), radius);

  report_text text(out);
  for (std::size_t k = 0; k < frame.size() && !text.failed(); ++k) {
    const std::uint64_t name = search.name(k);
    const int q = object_of(name);
    std::size_t n = 0;
    const hit* const hits = search.near(
        k, [q](int a) { return a != q; }, n);
    text.number(q);
    text.number(frame[k]);
    text.number(detection_of(name));
    for (std::size_t j = 0; j < n; ++j) {
      text.number(object_of(hits[j].name));
      text.number(detection_of(hits[j].name));
    }
    text.newline();
  }
  return text.finish();
}

}  // namespace

std::string write_report(const box_dictionary& boxes, int first_frame, long long radius,
                         std::FILE* out) {
  try {
    return write_report_throwing(boxes, first_frame, radius, out);
  } catch (const std::bad_alloc&) {
    return "out of memory";
  }
}

std::string frame_pairs(
    const std::vector<std::vector<box_info>>& boxes, long long radius,
    const std::function<void(int q, int s, int a, int b, long long distance)>& visit) {
  try {
    std::size_t total = 0;
    std::vector<search_box> in_order;
    for (std::size_t q = 0; q < boxes.size(); ++q)
      for (std::size_t s = 0; s < boxes[q].size(); ++s, ++total)
        in_order.push_back(
            place(boxes[q][s], 0, name_of(static_cast<int>(q), static_cast<int>(s)), total));
    // Built whole before the visitor runs.
    frame_search search(std::move(in_order), radius);
    for (std::size_t k = 0; k < total; ++k) {
      const std::uint64_t name = search.name(k);
      const int q = object_of(name);
      std::size_t n = 0;
      const hit* const hits = search.near(
          k, [q](int a) { return a > q; }, n);
      for (std::size_t j = 0; j < n; ++j)
        visit(q, detection_of(name), object_of(hits[j].name), detection_of(hits[j].name),
              hits[j].distance);
    }
  } catch (const std::bad_alloc&) {
    return "out of memory";
  }
  return "";
}

}  // namespace trackpair
