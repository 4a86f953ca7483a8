// trackvideo/input/tracks.cpp - reading the tracks file (see tracks.h).
#include "trackvideo/input/tracks.h"

#include "common/input_file.h"
#include "common/tokens.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace trackvideo {

namespace {

constexpr int kColumns = 6;    // frame, id, left, top, width, height
constexpr int kGtColumns = 8;  // and flag, class in ground truth
const char* const kColumnNames[kGtColumns] = {"frame", "id",     "left", "top",
                                              "width", "height", "flag", "class"};

using common::is_blank;

using common::field;

// Whether `field` is a plain decimal: an optional sign, digits with an
// optional fraction (at least one digit in all), an optional exponent. No
// blanks, no hexadecimal, no inf or nan, no other bytes (a NUL included).
bool is_decimal(field f) {
  const char* p = f.begin;
  const char* const end = f.end;
  auto digits = [&p, end] {
    const char* const from = p;
    while (p < end && *p >= '0' && *p <= '9') ++p;
    return p - from;
  };
  if (p < end && (*p == '+' || *p == '-')) ++p;
  std::ptrdiff_t n = digits();
  if (p < end && *p == '.') {
    ++p;
    n += digits();
  }
  if (n == 0) return false;
  if (p < end && (*p == 'e' || *p == 'E')) {
    ++p;
    if (p < end && (*p == '+' || *p == '-')) ++p;
    if (digits() == 0) return false;
  }
  return p == end;
}

enum class number { ok, not_a_number, out_of_range };

// 2^53: every integer up to it is exact in a double.
constexpr long long kExactInDouble = 1LL << 53;

// A plain decimal as a finite double.
number parse_real(field f, double& value) {
  // The common case first: an integer small enough to be exact in a double,
  // read by the one integer grammar without strtod (which reads it the same).
  long long v = 0;
  if (common::parse_integer(f.begin, f.end, -kExactInDouble, kExactInDouble, v) ==
      common::integer_read::ok) {
    value = static_cast<double>(v);
    return number::ok;
  }
  // Then the usual real ("794.2"), and only the rest through strtod.
  if (common::parse_short_decimal(f.begin, f.end, value)) return number::ok;
  if (!is_decimal(f)) return number::not_a_number;
  value = std::strtod(std::string(f.begin, f.end).c_str(), nullptr);  // no NUL inside
  return std::isfinite(value) ? number::ok : number::out_of_range;
}

// An integer column: a plain decimal with no fraction that fits an int.
bool parse_integral(field f, long long& value, std::string& why) {
  double v = 0;
  const number n = parse_real(f, v);
  if (n != number::ok) {
    why = n == number::not_a_number ? "is not a number" : "is out of range";
    return false;
  }
  if (v != std::floor(v)) {
    why = "is not a whole number";
    return false;
  }
  if (v < INT_MIN || v > INT_MAX) {
    why = "is out of range";
    return false;
  }
  value = static_cast<long long>(v);
  return true;
}

// round(v) as an int, half away from zero; false when it does not fit.
bool round_to_int(double v, long long& out) {
  if (!(std::fabs(v) < 4.0e9)) return false;
  out = std::lround(v);
  return out >= INT_MIN && out <= INT_MAX;
}

// A field as messages quote it, as tokens are quoted.
std::string quoted(field f) {
  return common::quote_token(f.begin, f.end);
}

struct row {
  int frame, id, line;
  int x1, y1, x2, y2;
};

// Parses the fields of one row into `r` or returns what is wrong.
std::string parse_row(const field (&f)[kGtColumns], row& r) {
  long long frame = 0, id = 0;
  std::string why;
  if (!parse_integral(f[0], frame, why)) return "frame " + quoted(f[0]) + " " + why;
  if (frame < 1) return "frame " + quoted(f[0]) + " is not a frame number (frames count from 1)";
  if (!parse_integral(f[1], id, why)) return "id " + quoted(f[1]) + " " + why;
  if (id == kNoTrackId)
    return "id -1: trackvideo needs track ids (a tracker's output), not bare detections";
  if (id < 0) return "id " + quoted(f[1]) + " is negative";
  double v[4];
  for (int i = 0; i < 4; ++i) {
    const number n = parse_real(f[2 + i], v[i]);
    if (n != number::ok)
      return kColumnNames[2 + i] + std::string(" ") + quoted(f[2 + i]) +
             (n == number::not_a_number ? " is not a number" : " is out of range");
  }
  track_box b{};
  why = box_corners(v[0], v[1], v[2], v[3], b);
  if (why == kEmptyBox) return why + " (width " + quoted(f[4]) + ", height " + quoted(f[5]) + ")";
  if (!why.empty()) return why;
  r.frame = static_cast<int>(frame);
  r.id = static_cast<int>(id);
  r.x1 = b.x1;
  r.y1 = b.y1;
  r.x2 = b.x2;
  r.y2 = b.y2;
  return "";
}

enum class verdict { kept, ignored_flag, ignored_class };

// The common line, read without the general path: comma-separated fields
// with no blanks, frame, id (and with `want` 8 the class) integers of the one
// grammar, the box's four values (and the flag) integers or short decimals
// (common/tokens.h), the row valid as it stands. Sets `r`, `flag` and `cls`
// and returns true; returns false for any other line, which the general path
// then reads (and whose faults it names), so both paths agree on every line.
bool fast_row(const char* p, const char* end, int want, row& r, double& flag, long long& cls) {
  long long whole[2];
  double real[5];
  for (int i = 0; i < want; ++i) {
    // A field ends at a comma or a blank; a blank, or a comma missing
    // between two fields, sends the line to the general path.
    if (i < 2 || i == 7) {
      const char* const f = p;
      while (p < end && *p != ',' && !is_blank(*p)) ++p;
      long long v = 0;
      if (common::parse_integer(f, p, INT_MIN, INT_MAX, v) != common::integer_read::ok)
        return false;
      (i < 2 ? whole[i] : cls) = v;
    } else if (!common::read_short_decimal(p, end, real[i - 2]) ||
               (p < end && *p != ',' && !is_blank(*p))) {
      return false;
    }
    if (i + 1 < want) {
      if (p == end || *p != ',') return false;
      ++p;
    }
  }
  // The last field ends where a field ends; the rest of the line is not read.
  if (p < end && *p != ',' && !is_blank(*p)) return false;
  if (whole[0] < 1 || whole[1] < 0) return false;
  track_box b{};
  if (!box_corners(real[0], real[1], real[2], real[3], b).empty()) return false;
  r = row{static_cast<int>(whole[0]), static_cast<int>(whole[1]), 0, b.x1, b.y1, b.x2, b.y2};
  flag = want > 6 ? real[4] : 1;
  return true;
}

// Whether a ground-truth row is kept by `rules`, or what is wrong.
std::string filter_row(const field (&f)[kGtColumns], const gt_rules& rules, verdict& v) {
  double flag = 0;
  const number n = parse_real(f[6], flag);
  if (n != number::ok)
    return "flag " + quoted(f[6]) +
           (n == number::not_a_number ? " is not a number" : " is out of range");
  long long cls = 0;
  std::string why;
  if (!parse_integral(f[7], cls, why)) return "class " + quoted(f[7]) + " " + why;
  if (flag == 0)
    v = verdict::ignored_flag;
  else if (!rules.all_classes &&
           std::find(rules.classes.begin(), rules.classes.end(), cls) == rules.classes.end())
    v = verdict::ignored_class;
  else
    v = verdict::kept;
  return "";
}

}  // namespace

const char kEmptyBox[] = "the box is empty after rounding to pixels";

bool parse_decimal(const std::string& text, double& value) {
  return parse_real(field{text.data(), text.data() + text.size()}, value) == number::ok;
}

std::string box_corners(double left, double top, double width, double height, track_box& b) {
  long long x1, y1, x2, y2;
  if (!round_to_int(left, x1) || !round_to_int(top, y1) || !round_to_int(left + width, x2) ||
      !round_to_int(top + height, y2) || x2 - 1 < INT_MIN || y2 - 1 < INT_MIN)
    return "the box does not fit the range of pixel coordinates";
  --x2;
  --y2;
  if (x2 < x1 || y2 < y1) return kEmptyBox;
  b.x1 = static_cast<int>(x1);
  b.y1 = static_cast<int>(y1);
  b.x2 = static_cast<int>(x2);
  b.y2 = static_cast<int>(y2);
  return "";
}

std::string parse_tracks(const std::string& text, const std::string& name, tracks& out,
                         const gt_rules* rules) {
  out = tracks{};
  out.file = name;
  std::vector<row> rows;
  field fields[kGtColumns];
  const int want = rules ? kGtColumns : kColumns;
  const auto add = [&rows](const row& r, int line) {
    rows.push_back(r);
    rows.back().line = line;
  };
  const std::string why = common::for_each_row(
      text, name,
      [&](int line, const char* p, const char* eol) -> std::string {
        row r{};
        double flag = 0;
        long long cls = 0;
        if (fast_row(p, eol, want, r, flag, cls)) {
          if (rules && (flag == 0 || (!rules->all_classes &&
                                      std::find(rules->classes.begin(), rules->classes.end(),
                                                cls) == rules->classes.end())))
            ++(flag == 0 ? out.ignored_flag : out.ignored_class);
          else
            add(r, line);
          return "";
        }
        const int n = common::split_fields(p, eol, fields, want);
        auto at = [&] { return common::shown_name(name) + ":" + std::to_string(line) + ": "; };
        if (n < 0)
          return at() + "column " + std::to_string(-n) + " (" + kColumnNames[-1 - n] + ") is empty";
        if (rules && n < kGtColumns)
          return at() +
                 "ground truth needs 8 columns (frame,id,left,top,width,height,flag,class), "
                 "found " +
                 std::to_string(n);
        if (n < kColumns)
          return at() + "expected at least 6 columns (frame,id,left,top,width,height), found " +
                 std::to_string(n);
        // A row the rules ignore is checked as a kept one is: junk is an
        // error wherever it is.
        std::string wrong;
        verdict kept = verdict::kept;
        if (rules && !(wrong = filter_row(fields, *rules, kept)).empty()) return at() + wrong;
        if (!(wrong = parse_row(fields, r)).empty()) return at() + wrong;
        if (kept != verdict::kept)
          ++(kept == verdict::ignored_flag ? out.ignored_flag : out.ignored_class);
        else
          add(r, line);
        return "";
      },
      [&out](int line) { out.header_line = line; });
  if (!why.empty()) return why;
  if (rows.empty())
    return common::shown_name(name) +
           (rules && (out.ignored_flag || out.ignored_class)
                ? ": no rows kept (" + std::to_string(out.ignored_flag) + " with 7th column 0, " +
                      std::to_string(out.ignored_class) + " of other classes)"
                : ": no rows");

  std::vector<track_box> boxes;
  boxes.reserve(rows.size());
  for (const row& r : rows)
    boxes.push_back(track_box{r.frame, r.id, 0, r.line, r.x1, r.y1, r.x2, r.y2});
  index_tracks(std::move(boxes), out);
  return "";
}

void index_tracks(std::vector<track_box> boxes, tracks& out) {
  out.ids.clear();
  for (const track_box& b : boxes) out.ids.push_back(b.object);
  std::sort(out.ids.begin(), out.ids.end());
  out.ids.erase(std::unique(out.ids.begin(), out.ids.end()), out.ids.end());
  out.last_frame = 0;
  for (track_box& b : boxes) {
    b.object = static_cast<int>(std::lower_bound(out.ids.begin(), out.ids.end(), b.object) -
                                out.ids.begin());
    out.last_frame = std::max(out.last_frame, b.frame);
  }
  out.boxes = std::move(boxes);
  // File order is kept within (frame, object): that order numbers the detections.
  const auto before = [](const track_box& a, const track_box& b) {
    return a.frame != b.frame ? a.frame < b.frame : a.object < b.object;
  };
  // Files are mostly in frame order with a frame's ids in any order: then
  // each frame is sorted alone.
  const auto by_frame = [](const track_box& a, const track_box& b) { return a.frame < b.frame; };
  if (!std::is_sorted(out.boxes.begin(), out.boxes.end(), by_frame)) {
    std::stable_sort(out.boxes.begin(), out.boxes.end(), before);
  } else {
    for (auto run = out.boxes.begin(); run != out.boxes.end();) {
      const auto next = std::find_if(run, out.boxes.end(),
                                     [&run](const track_box& b) { return b.frame != run->frame; });
      if (!std::is_sorted(run, next, before)) std::stable_sort(run, next, before);
      run = next;
    }
  }
  for (std::size_t i = 1; i < out.boxes.size(); ++i) {
    const track_box& prev = out.boxes[i - 1];
    track_box& b = out.boxes[i];
    if (b.frame == prev.frame && b.object == prev.object) b.det = prev.det + 1;
  }
}

const track_box* first_row_after(const tracks& t, int last) {
  const track_box* first = nullptr;
  for (const track_box& b : t.boxes)
    if (b.frame > last && (!first || b.line < first->line)) first = &b;
  return first;
}

std::string read_tracks(const std::string& path, tracks& out, const gt_rules* rules) {
  // Regular files only, checked on the open file: a FIFO or a device might
  // never end (trackpair's reader, which its detection files go through).
  std::string text;
  const std::string why = common::read_text(path, text);
  return why.empty() ? parse_tracks(text, path, out, rules) : why;
}

std::string ignored_message(const tracks& t) {
  const int n = t.ignored_flag + t.ignored_class;
  return common::shown_name(t.file) + ": " + std::to_string(n) + (n == 1 ? " row" : " rows") +
         " ignored (" + std::to_string(t.ignored_flag) + " with 7th column 0, " +
         std::to_string(t.ignored_class) + " of other classes)";
}

std::string header_message(const tracks& t) {
  if (t.header_line == 0) return "";
  return common::shown_name(t.file) + ":" + std::to_string(t.header_line) +
         ": skipped the header line";
}

std::string tracks::verify() const {
  for (std::size_t i = 1; i < ids.size(); ++i)
    if (ids[i - 1] >= ids[i]) return "ids not ascending and distinct at " + std::to_string(i);
  if (boxes.empty()) return "no boxes";
  if (header_line < 0) return "header_line is negative";
  int last = 0;
  for (std::size_t i = 0; i < boxes.size(); ++i) {
    const track_box& b = boxes[i];
    if (b.line <= header_line) return "box " + std::to_string(i) + ": not after the header line";
    if (b.object < 0 || b.object >= objects())
      return "box " + std::to_string(i) + ": object out of range";
    if (b.frame < 1 || b.x2 < b.x1 || b.y2 < b.y1)
      return "box " + std::to_string(i) + ": bad frame or corners";
    const bool same = i > 0 && boxes[i - 1].frame == b.frame && boxes[i - 1].object == b.object;
    if (i > 0 && !same &&
        (boxes[i - 1].frame > b.frame ||
         (boxes[i - 1].frame == b.frame && boxes[i - 1].object > b.object)))
      return "box " + std::to_string(i) + ": out of order";
    if (b.det != (same ? boxes[i - 1].det + 1 : 0))
      return "box " + std::to_string(i) + ": det not consecutive";
    last = std::max(last, b.frame);
  }
  if (last != last_frame) return "last_frame is not the largest frame";
  return "";
}

}  // namespace trackvideo
