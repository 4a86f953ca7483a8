// trackpair/association.cpp - the association driver (see association.h).
#include "association.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <vector>

#include "detections.h"

int node_num[trackpair::max_objects][trackpair::max_frames];

float compare_hist(float* a, float* b, int n) {
  float sum = 0;
  for (int i = 0; i < n; ++i)
    sum = static_cast<float>(sum + std::fabs(static_cast<double>(a[i]) - b[i]));
  return sum;
}

namespace trackpair {

namespace {

// Writes "trackpair: <message>" on err and gives the failure status.
int fail(std::FILE* err, const std::string& message) {
  std::fprintf(err, "trackpair: %s\n", message.c_str());
  return 1;
}

// Ends the output: flushes `out` if everything so far was written (`written`),
// and turns a failed write into a message on err and status 1. When `written`
// is false, errno still holds the reason of the write that failed.
int finish_output(std::FILE* out, std::FILE* err, bool written) {
  int reason = errno;
  if (written) {
    errno = 0;
    if (std::fflush(out) == 0 && !std::ferror(out)) return 0;
    reason = errno;
  }
  if (reason == 0) reason = EIO;  // the stream's error flag without a fresh errno
  return fail(err, std::string("cannot write the report: ") + std::strerror(reason));
}

}  // namespace

long long box_distance(const box_info& x, const box_info& y) {
  const auto diff = [](int u, int v) {
    return std::llabs(static_cast<long long>(u) - static_cast<long long>(v));
  };
  return diff(x.first(), y.first()) + diff(x.second(), y.second()) + diff(x.third(), y.third()) +
         diff(x.fourth(), y.fourth());
}

std::string detection_file_name(int q, int r) {
  char name[64];
  std::snprintf(name, sizeof name, "objects_info_h%d_%d.txt", q + 1, r + 1);
  return name;
}

bool parse_count_argument(const char* what, const char* text, int limit, int& value,
                          std::string& error) {
  if (!parse_int_token(text, value)) {
    error = std::string(what) + " " + quote_token(text, text + std::strlen(text)) +
            " is not a whole number";
    return false;
  }
  if (value > limit) {
    error = std::string(what) + " " + std::to_string(value) + " exceeds " + std::to_string(limit);
    return false;
  }
  return true;
}

bool read_detections(int objects, int frames, box_dictionary& boxes, std::string& error) {
  assert(objects <= max_objects && frames <= max_frames);
  for (int q = 0; q < objects; ++q)
    for (int r = 1; r < frames; ++r) node_num[q][r] = 0;

  file_buffer text;
  std::string reason;
  std::vector<file_box> found;
  for (int q = 0; q < objects; ++q) {
    for (int r = 1; r < frames; ++r) {
      const std::string name = detection_file_name(q, r);
      if (!text.open(name.c_str(), reason)) {
        error = name + ": " + reason;
        return false;
      }
      // Usually the first block decides (see parse_detection_text); else the
      // whole file does.
      const char* stop = nullptr;
      bool parsed =
          parse_detection_text(text.data(), text.data() + text.size(), found, reason, &stop);
      if (!text.whole() && !(parsed && stop < text.data() + text.size())) {
        if (!text.read_rest(reason)) {
          error = name + ": " + reason;
          return false;
        }
        parsed = parse_detection_text(text.data(), text.data() + text.size(), found, reason);
      }
      text.close();
      if (!parsed) {
        error = name + ": " + reason;
        return false;
      }
      node_num[q][r] = static_cast<int>(found.size());
      for (int s = 0; s < node_num[q][r]; ++s) {
        const file_box& b = found[s];
        boxes.insert(box_key(q, r, s), box_info(b[0], b[2], b[1], b[3]));
      }
    }
  }
  return true;
}

namespace {

// Exact L1 distance, as box_distance.
inline long long l1_distance(const int* x, const int* y) {
  long long d = 0;
  for (int k = 0; k < 4; ++k) d += std::llabs(static_cast<long long>(x[k]) - y[k]);
  return d;
}

// |d| < candidate_distance, without a branch.
inline bool within(long long d) {
  return static_cast<unsigned long long>(d + (candidate_distance - 1)) <=
         static_cast<unsigned long long>(2 * (candidate_distance - 1));
}

// The candidates of every detection, worked out frame by frame and kept for
// the report, which lists them object by object.
//
// Numbering: the detections of frame r are numbered in (q, s) order from
// first_[r]; detection (q, r, s) is number first_[r] + object_first_[q][r] +
// s, and "local" numbers count from first_[r].
//
// A candidate (a, b) is kept packed in a Packed word as a << shift | b, so
// that increasing words are the report's order and the report needs nothing
// else to print it. std::uint32_t (shift 25) serves when every count is below
// 2^25, std::uint64_t (shift 32) always.
//
// Search, one frame at a time (its boxes are a few kilobytes that stay in the
// cache). With X = first + third and Y = second + fourth (twice the centre of
// an x1 y1 x2 y2 box), let u = X + Y and v = X - Y. Since |dX| + |dY| <= the
// L1 distance and |dX| + |dY| = max(|du|, |dv|), two boxes within the limit
// differ by less than the limit in u and in v (all exact in 64 bits for any
// ints). So the frame is sorted by u, each box is paired only with the boxes
// after it whose u is within the limit, those near in v get the exact test,
// and every pair found goes on both boxes' lists. In the benchmark's frames
// about a fifth of the pairs are looked at, and one in twenty gets the exact
// test.
//
// Memory: 16 bytes and an offset per detection, one Packed per listed
// candidate (no more than its " a b" in the report), an int per (object,
// frame), and one frame's search arrays.
template <class Packed>
class candidate_table {
 public:
  static constexpr int shift = sizeof(Packed) >= 8 ? 32 : 25;

  candidate_table(int objects, int frames, const box_dictionary& boxes)
      : objects_(objects),
        frames_(frames),
        first_(static_cast<std::size_t>(frames) + 1, 0),
        object_first_(static_cast<std::size_t>(objects) * frames, 0) {
    std::size_t total = 0;
    for (int r = 1; r < frames; ++r) {
      first_[r] = total;
      std::size_t in_frame = 0;
      for (int q = 0; q < objects; ++q) {
        object_first_[slot(q, r)] = static_cast<int>(in_frame);
        in_frame += static_cast<std::size_t>(node_num[q][r]);
      }
      total += in_frame;
    }
    first_[frames] = total;

    // One walk in key order gathers the boxes: the keys of one object and
    // frame are contiguous and come in detection order. Keys outside what the
    // reading pass counted are not part of the report.
    std::vector<std::array<int, 4>> gathered(total);
    std::size_t found = 0;
    for (auto it = boxes.first_item(); it != nullptr; it = boxes.next_item(it)) {
      const box_key& k = boxes.key(it);
      const int q = k.first(), r = k.second(), s = k.third();
      if (q < 0 || q >= objects || r < 1 || r >= frames || s < 0 || s >= node_num[q][r]) continue;
      const box_info& i = boxes.inf(it);
      gathered[number(q, r, s)] = {i.first(), i.second(), i.third(), i.fourth()};
      ++found;
    }
    assert(found == total && "the reading pass stored every counted detection");
    (void)found;

    offsets_.resize(total + 1, 0);
    // Room for a generous number of candidates: pages are touched only as
    // lists are written, and a copy is needed only if the lists outgrow it.
    // Where address space is short (32-bit), the lists simply grow instead.
    try {
      candidates_.reserve(16 * total);
    } catch (const std::exception&) {
    }
    for (int r = 1; r < frames; ++r) search_frame(r, gathered.data() + first_[r]);
  }

  // The candidates of detection (q, r, s), in report order, as packed words
  // [begin, end).
  void candidates(int q, int r, int s, const Packed*& begin, const Packed*& end) const {
    const std::size_t n = number(q, r, s);
    begin = candidates_.data() + offsets_[n];
    end = candidates_.data() + offsets_[n + 1];
  }

 private:
  std::size_t slot(int q, int r) const {
    return static_cast<std::size_t>(q) * static_cast<std::size_t>(frames_) + r;
  }
  std::size_t number(int q, int r, int s) const {
    return first_[r] + static_cast<std::size_t>(object_first_[slot(q, r)]) + s;
  }

  // Lists the candidates of every detection of frame r, in number order.
  // `boxes` holds the frame's boxes by local number.
  void search_frame(int r, const std::array<int, 4>* boxes) {
    const std::size_t n = first_[r + 1] - first_[r];
    if (n == 0) return;

    // By local number: the object and the packed name; then the frame in
    // order of u, with what the search reads kept side by side.
    object_.resize(n);
    packed_.resize(n);
    order_.resize(n);
    std::size_t c = 0;
    for (int q = 0; q < objects_; ++q)
      for (int s = 0; s < node_num[q][r]; ++s, ++c) {
        const std::array<int, 4>& b = boxes[c];
        object_[c] = q;
        packed_[c] = static_cast<Packed>(static_cast<Packed>(q) << shift |
                                         static_cast<Packed>(static_cast<std::uint32_t>(s)));
        order_[c] = {static_cast<long long>(b[0]) + b[1] + b[2] + b[3],
                     static_cast<std::uint32_t>(c)};
      }
    std::sort(order_.begin(), order_.end());
    u_.resize(n);
    v_.resize(n);
    for (std::size_t p = 0; p < n; ++p) {
      const std::array<int, 4>& b = boxes[order_[p].second];
      u_[p] = order_[p].first;
      v_[p] = static_cast<long long>(b[0]) + b[2] - b[1] - b[3];
    }

    // Every pair once: each box against the boxes after it in u order whose
    // u is within the limit, those near in v first, then the exact test.
    // The filters have no branch: their hits are few and unpredictable.
    std::size_t pairs = 0;
    for (std::size_t p = 0; p < n; ++p) {
      const long long u = u_[p], v = v_[p];
      std::size_t near = 0;
      for (std::size_t t = p + 1; t < n && u_[t] - u < candidate_distance; ++t) {
        if (near == near_.size()) near_.resize(2 * near_.size() + 64);
        near_[near] = static_cast<std::uint32_t>(t);
        near += within(v_[t] - v);
      }
      if (pairs_.size() < pairs + near) pairs_.resize(2 * (pairs + near));
      const std::uint32_t mine = order_[p].second;
      const int* const box = boxes[mine].data();
      const int object = object_[mine];
      for (std::size_t k = 0; k < near; ++k) {
        const std::uint32_t other = order_[near_[k]].second;
        pairs_[pairs] = {mine, other};
        // Both tests always run and are combined as integers, not with &&:
        // no branch (the pair is kept by counting it or not).
        pairs +=
            static_cast<std::size_t>(object_[other] != object) &
            static_cast<std::size_t>(l1_distance(box, boxes[other].data()) < candidate_distance);
      }
    }

    // The lists, by local number: counts, places, then each pair twice.
    std::size_t* const offsets = offsets_.data() + first_[r];
    for (std::size_t k = 0; k < pairs; ++k) {
      ++offsets[pairs_[k].first + 1];
      ++offsets[pairs_[k].second + 1];
    }
    offsets[0] = candidates_.size();
    for (c = 0; c < n; ++c) offsets[c + 1] += offsets[c];
    candidates_.resize(offsets[n]);
    fill_.assign(offsets, offsets + n);
    for (std::size_t k = 0; k < pairs; ++k) {
      const std::uint32_t a = pairs_[k].first, b = pairs_[k].second;
      candidates_[fill_[a]++] = packed_[b];
      candidates_[fill_[b]++] = packed_[a];
    }
    // Short lists: insertion sort each.
    for (c = 0; c < n; ++c) {
      Packed* const list = candidates_.data() + offsets[c];
      const std::size_t length = offsets[c + 1] - offsets[c];
      for (std::size_t k = 1; k < length; ++k) {
        const Packed w = list[k];
        std::size_t t = k;
        for (; t > 0 && list[t - 1] > w; --t) list[t] = list[t - 1];
        list[t] = w;
      }
    }
  }

  int objects_;
  int frames_;
  std::vector<std::size_t> first_;    // [r]: number of frame r's first detection
  std::vector<int> object_first_;     // [q][r]: local number of (q, r, 0)
  std::vector<std::size_t> offsets_;  // [n] .. [n+1]: detection n's list in candidates_
  std::vector<Packed> candidates_;    // packed (a, b), each list sorted
  // Scratch for the frame being searched. By local number:
  std::vector<int> object_;
  std::vector<Packed> packed_;
  std::vector<std::size_t> fill_;
  // by place in u order:
  std::vector<std::pair<long long, std::uint32_t>> order_;  // (u, local number)
  std::vector<long long> u_;
  std::vector<long long> v_;
  // and the search's own:
  std::vector<std::uint32_t> near_;                             // places near in v
  std::vector<std::pair<std::uint32_t, std::uint32_t>> pairs_;  // local numbers
};

// The report text, built in a buffer and written in large blocks.
class report_buffer {
 public:
  explicit report_buffer(std::FILE* out) : out_(out), text_(new char[capacity]) {}

  // Makes room for `bytes` more; false when a write failed (errno tells why).
  bool reserve(std::size_t bytes) { return capacity - used_ >= bytes || flush(); }
  // "v ". Needs reserve(max_number) first.
  void number(std::uint32_t v) {
    // Two digits at a time from a table of "00" .. "99", right to left.
    static constexpr char pairs[] =
        "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
        "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
        "8081828384858687888990919293949596979899";
    char digits[10];
    char* const last = digits + sizeof digits;
    char* first = last;
    while (v >= 100) {
      first -= 2;
      std::memcpy(first, pairs + 2 * (v % 100), 2);
      v /= 100;
    }
    if (v >= 10) {
      first -= 2;
      std::memcpy(first, pairs + 2 * v, 2);
    } else {
      *--first = static_cast<char>('0' + v);
    }
    char* o = text_.get() + used_;
    std::memcpy(o, first, static_cast<std::size_t>(last - first));
    o += last - first;
    *o++ = ' ';
    used_ = static_cast<std::size_t>(o - text_.get());
  }
  // Needs reserve(1) first.
  void newline() { text_[used_++] = '\n'; }
  // Writes what is buffered; false when the write failed.
  bool flush() {
    const bool ok = used_ == 0 || std::fwrite(text_.get(), 1, used_, out_) == used_;
    used_ = 0;
    return ok;
  }

  static constexpr std::size_t max_number = 11;  // 10 digits and the blank

 private:
  static constexpr std::size_t capacity = std::size_t{1} << 18;
  std::FILE* out_;
  std::unique_ptr<char[]> text_;
  std::size_t used_ = 0;
};

}  // namespace

namespace {

template <class Packed>
bool write_report(int objects, int frames, const box_dictionary& boxes, std::FILE* out) {
  using table_type = candidate_table<Packed>;
  const table_type table(objects, frames, boxes);
  constexpr Packed b_mask = (Packed{1} << table_type::shift) - 1;
  report_buffer text(out);
  for (int q = 0; q < objects; ++q) {
    for (int r = 1; r < frames; ++r) {
      for (int s = 0; s < node_num[q][r]; ++s) {
        if (!text.reserve(3 * report_buffer::max_number)) return false;
        text.number(static_cast<std::uint32_t>(q));
        text.number(static_cast<std::uint32_t>(r));
        text.number(static_cast<std::uint32_t>(s));
        const Packed* c;
        const Packed* end;
        for (table.candidates(q, r, s, c, end); c != end; ++c) {
          if (!text.reserve(2 * report_buffer::max_number)) return false;
          text.number(static_cast<std::uint32_t>(*c >> table_type::shift));
          text.number(static_cast<std::uint32_t>(*c & b_mask));
        }
        if (!text.reserve(1)) return false;
        text.newline();
      }
    }
  }
  return text.flush();
}

}  // namespace

bool report_candidates(int objects, int frames, const box_dictionary& boxes, std::FILE* out) {
  if (objects <= 0 || frames <= 1) return true;
  int most = 0;
  for (int q = 0; q < objects; ++q)
    for (int r = 1; r < frames; ++r) most = std::max(most, node_num[q][r]);
  // Candidates fit 32 bits as object << 25 | index while every index does.
  if (most <= (1 << candidate_table<std::uint32_t>::shift) && objects <= 128)
    return write_report<std::uint32_t>(objects, frames, boxes, out);
  return write_report<std::uint64_t>(objects, frames, boxes, out);
}

bool report_candidates_wide(int objects, int frames, const box_dictionary& boxes, std::FILE* out) {
  if (objects <= 0 || frames <= 1) return true;
  return write_report<std::uint64_t>(objects, frames, boxes, out);
}

int trackpair_main(int argc, char** argv, std::FILE* out, std::FILE* err) {
  if (argc <= 2) {
    // argv[0] may be missing when the caller of exec passed no arguments at all.
    const char* self = (argc > 0 && argv[0] != nullptr) ? argv[0] : "trackpair";
    const bool written = std::fprintf(out, "Usgae: %s num_of_objects num_of_frames \n", self) >= 0;
    return finish_output(out, err, written);
  }
  int objects = 0;
  int frames = 0;
  std::string error;
  if (!parse_count_argument("num_of_objects", argv[1], max_objects, objects, error) ||
      !parse_count_argument("num_of_frames", argv[2], max_frames, frames, error))
    return fail(err, error);
  if (objects <= 0 || frames <= 1) return 0;  // no file to read, nothing to report

  box_dictionary boxes;
  if (!read_detections(objects, frames, boxes, error)) return fail(err, error);
  const bool written = report_candidates(objects, frames, boxes, out);
  return finish_output(out, err, written);
}

}  // namespace trackpair
