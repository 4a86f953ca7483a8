// trackpair/trackpair_core.cpp - candidate pairs of detections (see trackpair_core.h).
#include "trackpair_core.h"

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
#include <tuple>

#include "tavo/error.h"

float compare_hist(float* a, float* b, int n) {
  float sum = 0;
  for (int i = 0; i < n; ++i)
    sum = static_cast<float>(sum + std::fabs(static_cast<double>(a[i]) - b[i]));
  return sum;
}

namespace trackpair {

long long box_distance(const box_info& x, const box_info& y) {
  const auto diff = [](int u, int v) {
    return std::llabs(static_cast<long long>(u) - static_cast<long long>(v));
  };
  return diff(x.first(), y.first()) + diff(x.second(), y.second()) + diff(x.third(), y.third()) +
         diff(x.fourth(), y.fourth());
}

namespace {

// A box as the search holds it. With X = x1 + x2 and Y = y1 + y2,
// u = X + Y and v = X - Y; since max(|du|, |dv|) = |dX| + |dY| <= the L1
// distance, two boxes within the radius differ by less than it in u and in v
// (exact in 64 bits for any ints). `name` is (object, detection) as one word
// that orders like the pair.
struct placed_box {
  long long u, v;
  int corner[4];  // x1, y1, x2, y2
  std::uint64_t name;
  int object, frame;
};

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

placed_box place(const box_info& b, int object, int frame, int detection) {
  const long long x = static_cast<long long>(b.first()) + b.third();
  const long long y = static_cast<long long>(b.second()) + b.fourth();
  return {x + y,  x - y, {b.first(), b.second(), b.third(), b.fourth()}, name_of(object, detection),
          object, frame};
}

// Above every distance of two boxes (4 * (2^32 - 1)): a radius clipped to it
// finds the same pairs, and u +- radius cannot overflow.
constexpr long long radius_limit = 1LL << 36;

struct hit {
  std::uint64_t name;
  long long distance;
};

// Boxes sorted by frame, then u, then name, held as arrays of what the scan
// reads (u, v) and of what it reads for the few it keeps: a report walks all
// frames once per object, so the less each box takes, the more stays cached.
struct sorted_boxes {
  std::vector<long long> u, v;
  std::vector<std::array<int, 4>> corners;
  std::vector<std::uint64_t> name;
  std::vector<int> run_frame;          // the frames, increasing
  std::vector<std::size_t> run_begin;  // where each starts; one more: the end
  std::vector<std::uint32_t> near;     // scratch of find_near, one per box
  std::vector<hit> hits;               // find_near's result, room for one per box

  explicit sorted_boxes(std::vector<placed_box> box) {
    std::sort(box.begin(), box.end(), [](const placed_box& a, const placed_box& b) {
      return a.frame != b.frame ? a.frame < b.frame : a.u != b.u ? a.u < b.u : a.name < b.name;
    });
    for (std::size_t i = 0; i < box.size(); ++i) {
      const placed_box& b = box[i];
      u.push_back(b.u);
      v.push_back(b.v);
      corners.push_back({b.corner[0], b.corner[1], b.corner[2], b.corner[3]});
      name.push_back(b.name);
      if (i == 0 || b.frame != box[i - 1].frame) {
        run_frame.push_back(b.frame);
        run_begin.push_back(i);
      }
    }
    run_begin.push_back(box.size());
    near.resize(box.size());
    hits.resize(box.size());
  }

  // The places [begin, end) of `frame`'s boxes (empty when it has none).
  std::pair<std::size_t, std::size_t> run_of(int frame) const {
    const std::size_t k = static_cast<std::size_t>(
        std::lower_bound(run_frame.begin(), run_frame.end(), frame) - run_frame.begin());
    if (k == run_frame.size() || run_frame[k] != frame) return {0, 0};
    return {run_begin[k], run_begin[k + 1]};
  }

  // Fills `hits` with the boxes of places [begin, end) (one frame) at a
  // distance below `radius` (<= radius_limit) from x whose object `wanted`
  // accepts, in increasing name; returns how many.
  template <class Wanted>
  std::size_t find_near(std::size_t begin, std::size_t end, const placed_box& x, long long radius,
                        Wanted wanted) {
    // Those within the radius in u and in v first (about a fifth of a frame
    // in the benchmark), counted in without a branch: which are kept is
    // unpredictable. Then the exact test.
    std::size_t t = static_cast<std::size_t>(
        std::lower_bound(u.data() + begin, u.data() + end, x.u - radius + 1) - u.data());
    std::size_t m = 0;
    for (; t < end && u[t] - x.u < radius; ++t) {
      near[m] = static_cast<std::uint32_t>(t);
      m += static_cast<std::size_t>(std::llabs(v[t] - x.v) < radius);
    }
    std::size_t n = 0;
    for (std::size_t k = 0; k < m; ++k) {
      const std::array<int, 4>& c = corners[near[k]];
      long long d = 0;
      for (int i = 0; i < 4; ++i) d += std::llabs(static_cast<long long>(c[i]) - x.corner[i]);
      hits[n] = {name[near[k]], d};
      n += static_cast<std::size_t>(wanted(object_of(name[near[k]]))) &
           static_cast<std::size_t>(d < radius);
    }
    const auto by_name = [](const hit& a, const hit& b) { return a.name < b.name; };
    if (!std::is_sorted(hits.begin(), hits.begin() + n, by_name))
      std::sort(hits.begin(), hits.begin() + n, by_name);
    return n;
  }
};

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
  radius = std::min(radius, radius_limit);
  // The boxes in key order, then a copy sorted by frame and u: each frame a
  // run of its own.
  std::vector<placed_box> keyed;
  for (auto it = boxes.first_item(); it != nullptr; it = boxes.next_item(it)) {
    const box_key& k = boxes.key(it);
    if (k.second() >= first_frame)
      keyed.push_back(place(boxes.inf(it), k.first(), k.second(), k.third()));
  }
  sorted_boxes frames(keyed);

  report_text text(out);
  std::size_t run_begin = 0, run_end = 0;  // x's frame in `frames`
  for (std::size_t i = 0; i < keyed.size() && !text.failed(); ++i) {
    const placed_box& x = keyed[i];
    if (i == 0 || x.frame != keyed[i - 1].frame)
      std::tie(run_begin, run_end) = frames.run_of(x.frame);
    const std::size_t n =
        frames.find_near(run_begin, run_end, x, radius, [&x](int a) { return a != x.object; });
    text.number(x.object);
    text.number(x.frame);
    text.number(detection_of(x.name));
    for (std::size_t k = 0; k < n; ++k) {
      text.number(object_of(frames.hits[k].name));
      text.number(detection_of(frames.hits[k].name));
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

void frame_pairs(const std::vector<std::vector<box_info>>& boxes, long long radius,
                 const std::function<void(int q, int s, int a, int b, long long distance)>& visit) {
  radius = std::min(radius, radius_limit);
  std::vector<placed_box> in_order;
  std::unique_ptr<sorted_boxes> frame;
  try {
    for (std::size_t q = 0; q < boxes.size(); ++q)
      for (std::size_t s = 0; s < boxes[q].size(); ++s)
        in_order.push_back(place(boxes[q][s], static_cast<int>(q), 0, static_cast<int>(s)));
    frame = std::make_unique<sorted_boxes>(in_order);  // no allocation while the visitor runs
  } catch (const std::bad_alloc&) {
    error_handler(1, "frame_pairs: out of memory");
    return;
  }
  for (const placed_box& x : in_order) {
    const std::size_t n =
        frame->find_near(0, in_order.size(), x, radius, [&x](int a) { return a > x.object; });
    for (std::size_t k = 0; k < n; ++k)
      visit(x.object, detection_of(x.name), object_of(frame->hits[k].name),
            detection_of(frame->hits[k].name), frame->hits[k].distance);
  }
}

}  // namespace trackpair
