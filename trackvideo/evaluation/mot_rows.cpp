// trackvideo/evaluation/mot_rows.cpp - reading rows for scoring (see mot_rows.h).
#include "trackvideo/evaluation/mot_rows.h"

#include "common/input_file.h"
#include "common/tokens.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>
#include <cstdint>

namespace trackvideo {
namespace evaluation {

namespace {

constexpr int kMaxColumns = 8;  // frame, id, left, top, width, height, flag/conf, class
constexpr int kGtColumns = 8;
constexpr int kTrackerColumns = 6;
const char* const kNames[kMaxColumns] = {"frame", "id",     "left", "top",
                                         "width", "height", "flag", "class"};

using common::field;

using common::is_blank;

// A plain decimal (see mot_rows.h) as a double, correctly rounded. False for
// anything else, a value beyond the double range included.
bool parse_real(field f, double& value) {
  // The usual field ("1437.34"), exactly and without the general reader.
  if (common::parse_short_decimal(f.begin, f.end, value)) return true;
  const char* p = f.begin;
  const bool negative = p < f.end && *p == '-';
  if (p < f.end && (*p == '-' || *p == '+')) ++p;
  const char* const body = p;
  int digits = 0;
  for (; p < f.end && *p >= '0' && *p <= '9'; ++p) ++digits;
  if (p < f.end && *p == '.')
    for (++p; p < f.end && *p >= '0' && *p <= '9'; ++p) ++digits;
  if (digits == 0) return false;
  if (p < f.end && (*p == 'e' || *p == 'E')) {
    ++p;
    if (p < f.end && (*p == '+' || *p == '-')) ++p;
    const char* const exponent = p;
    while (p < f.end && *p >= '0' && *p <= '9') ++p;
    if (p == exponent) return false;
  }
  if (p != f.end) return false;
  double v = 0;
  const auto r = std::from_chars(body, f.end, v, std::chars_format::general);
  if (r.ec != std::errc() || r.ptr != f.end || !std::isfinite(v)) return false;
  value = negative ? -v : v;
  return true;
}

enum class integer { ok, not_a_number, out_of_range };

// An integer column: of the integer grammar, or a real cut toward zero.
// Values beyond [min, max] are out_of_range, or clamped with `clamp`.
integer parse_cut(field f, long long min, long long max, bool clamp, long long& value) {
  switch (common::parse_integer(f.begin, f.end, min, max, value)) {
    case common::integer_read::ok:
      return integer::ok;
    case common::integer_read::out_of_range:
      if (!clamp) return integer::out_of_range;
      value = *f.begin == '-' ? min : max;
      return integer::ok;
    case common::integer_read::not_integer:
      break;
  }
  double v = 0;
  if (!parse_real(f, v)) return integer::not_a_number;
  v = std::trunc(v);
  // Compared as integers once v fits a long long ([-2^63, 2^63)): LLONG_MAX
  // as a double is 2^63, which no long long holds.
  const bool fits = v >= -0x1p63 && v < 0x1p63;
  const long long cut = fits ? static_cast<long long>(v) : 0;
  if (!fits || cut < min || cut > max) {
    if (!clamp) return integer::out_of_range;
    value = v < 0 ? min : max;
    return integer::ok;
  }
  value = cut;
  return integer::ok;
}

std::string quoted(field f) {
  return common::quote_token(f.begin, f.end);
}

std::string not_number(int column, field f) {
  return std::string(kNames[column]) + " " + quoted(f) + " is not a number";
}

// Parses one row's fields into `r`, or says what is wrong.
std::string parse_row(const field (&f)[kMaxColumns], int n, mot_kind kind, int seq_length,
                      mot_row& r) {
  long long v = 0;
  switch (parse_cut(f[0], INT_MIN, INT_MAX, true, v)) {
    case integer::ok:
      break;
    default:
      return not_number(0, f[0]);
  }
  if (v < 1 || v > seq_length)
    return "frame " + quoted(f[0]) + " is outside the sequence's frames 1 to " +
           std::to_string(seq_length);
  r.frame = static_cast<int>(v);
  switch (parse_cut(f[1], LLONG_MIN, LLONG_MAX, true, v)) {
    case integer::ok:
      break;
    default:
      return not_number(1, f[1]);
  }
  if (v < 0) return "id " + quoted(f[1]) + " is negative: only tracks with ids can be scored";
  if (v > INT_MAX) return "id " + quoted(f[1]) + " is out of range";
  r.id = static_cast<int>(v);
  double box[4];
  for (int i = 0; i < 4; ++i)
    if (!parse_real(f[2 + i], box[i])) return not_number(2 + i, f[2 + i]);
  r.left = box[0];
  r.top = box[1];
  r.width = box[2];
  r.height = box[3];
  r.cls = 1;
  r.zero_marked = false;
  if (kind == mot_kind::ground_truth) {
    double flag = 0;
    if (!parse_real(f[6], flag)) return not_number(6, f[6]);
    r.zero_marked = std::trunc(flag) == 0;
  } else if (n > 6) {
    double conf = 0;  // unused, but a number like every field read
    if (!parse_real(f[6], conf)) return "confidence " + quoted(f[6]) + " is not a number";
  }
  if (n > 7) {
    if (parse_cut(f[7], INT_MIN, INT_MAX, true, v) != integer::ok) return not_number(7, f[7]);
    r.cls = static_cast<int>(v);
    if (kind == mot_kind::tracker && r.cls > 1)
      return "class " + quoted(f[7]) +
             ": only pedestrians are scored (a tracker row's 8th column must be 1 or less)";
  }
  return "";
}

// The common row, read in one walk over its bytes: comma-separated fields
// without blanks (but for the line's end), frame, id and class integers of
// the one grammar, the rest short decimals (common/tokens.h), the row valid
// as it stands. Sets `r` as parse_row would and returns true; false for any
// other line, which split and parse_row then read and whose faults they name.
bool fast_row(const char* p, const char* end, mot_kind kind, int seq_length, mot_row& r) {
  while (end > p && is_blank(end[-1])) --end;
  const int need = kind == mot_kind::ground_truth ? kGtColumns : kTrackerColumns;
  long long whole[3] = {0, 0, 1};  // frame, id, class
  double real[5];                  // left, top, width, height, flag or confidence
  int n = 0;
  for (; n < kMaxColumns && p < end; ++n) {
    if (n < 2 || n == 7) {
      const char* const f = p;
      while (p < end && *p != ',') ++p;
      // frame 1 .. seq_length, id 0 .. INT_MAX, class any int
      static constexpr long long kLow[3] = {1, 0, INT_MIN};
      const int k = n < 2 ? n : 2;
      if (common::parse_integer(f, p, kLow[k], k == 0 ? seq_length : INT_MAX, whole[k]) !=
          common::integer_read::ok)
        return false;
    } else if (!common::read_short_decimal(p, end, real[n - 2]) || (p < end && *p != ',')) {
      return false;
    }
    if (p < end) ++p;  // the comma
  }
  if (n < need || end[-1] == ',') return false;
  if (kind == mot_kind::tracker && whole[2] > 1) return false;
  r.frame = static_cast<int>(whole[0]);
  r.id = static_cast<int>(whole[1]);
  r.left = real[0];
  r.top = real[1];
  r.width = real[2];
  r.height = real[3];
  r.cls = n > 7 ? static_cast<int>(whole[2]) : 1;
  r.zero_marked = kind == mot_kind::ground_truth && std::trunc(real[4]) == 0;
  return true;
}

// The first row, in file order, whose (frame, id) an earlier row has. Rows
// are grouped by frame (a counting sort), then each frame's (id, index)
// sorted: O(n + Σ k log k) for frames of k rows.
std::string check_unique(const mot_rows& out, int seq_length) {
  const std::size_t n = out.rows.size();
  std::vector<std::size_t> start(static_cast<std::size_t>(seq_length) + 2, 0);
  for (const mot_row& r : out.rows) ++start[r.frame + 1];
  for (std::size_t f = 1; f < start.size(); ++f) start[f] += start[f - 1];
  std::vector<std::uint64_t> keyed(n);  // id above the row's index
  std::vector<std::size_t> next(start);
  for (std::size_t i = 0; i < n; ++i)
    keyed[next[out.rows[i].frame]++] = static_cast<std::uint64_t>(out.rows[i].id) << 32 | i;
  std::size_t worst = n, first = n;
  for (std::size_t f = 1; f + 1 < start.size(); ++f) {
    std::sort(keyed.begin() + start[f], keyed.begin() + start[f + 1]);
    for (std::size_t k = start[f] + 1; k < start[f + 1]; ++k)
      if (keyed[k] >> 32 == keyed[k - 1] >> 32 && (keyed[k] & 0xffffffffu) < worst) {
        worst = keyed[k] & 0xffffffffu;
        first = keyed[k - 1] & 0xffffffffu;
      }
  }
  if (worst == n) return "";
  const mot_row& r = out.rows[worst];
  return row_place(out, r.line) + "id " + std::to_string(r.id) + " is in frame " +
         std::to_string(r.frame) + " twice (also on line " + std::to_string(out.rows[first].line) +
         ")";
}

}  // namespace

std::string row_place(const mot_rows& rows, int line) {
  return common::shown_name(rows.file) + ":" + std::to_string(line) + ": ";
}

std::string parse_mot_rows(const std::string& text, const std::string& name, mot_kind kind,
                           int seq_length, mot_rows& out) {
  out = mot_rows{};
  out.file = name;
  out.kind = kind;
  const int need = kind == mot_kind::ground_truth ? kGtColumns : kTrackerColumns;
  // One row per line at most: reserved at once, not grown by copies.
  out.rows.reserve(static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1);
  field f[kMaxColumns];
  const std::string why = common::for_each_row(
      text, name,
      [&](int line, const char* p, const char* eol) -> std::string {
        mot_row r{};
        if (!fast_row(p, eol, kind, seq_length, r)) {
          const int n = common::split_fields(p, eol, f, kMaxColumns);
          if (n < 0)
            return row_place(out, line) + "column " + std::to_string(-n) + " (" + kNames[-1 - n] +
                   ") is empty";
          if (n < need)
            return row_place(out, line) +
                   (kind == mot_kind::ground_truth
                        ? "ground truth needs 8 columns (frame,id,left,top,width,height,flag,"
                          "class), "
                        : "expected at least 6 columns (frame,id,left,top,width,height), ") +
                   "found " + std::to_string(n);
          if (std::string wrong = parse_row(f, n, kind, seq_length, r); !wrong.empty())
            return row_place(out, line) + wrong;
        }
        r.line = line;
        out.rows.push_back(r);
        return "";
      },
      [](int) {});
  if (!why.empty()) return why;
  return check_unique(out, seq_length);
}

std::string read_mot_rows(const std::string& path, mot_kind kind, int seq_length, mot_rows& out) {
  std::string text;
  const std::string why = common::read_text(path, text);
  return why.empty() ? parse_mot_rows(text, path, kind, seq_length, out) : why;
}

}  // namespace evaluation
}  // namespace trackvideo
