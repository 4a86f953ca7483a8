// trackvideo/input/kitti_tracks.cpp - KITTI tracking files (see kitti_tracks.h).
#include "trackvideo/input/kitti_tracks.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <vector>

#include "common/input_file.h"
#include "common/tokens.h"

namespace trackvideo {

const char* const kKittiTypes[10] = {"Car",    "Van",     "Truck", "Pedestrian", "Person_sitting",
                                     "Person", "Cyclist", "Tram",  "Misc",       "DontCare"};

namespace {

constexpr int kColumns = 17;  // and an 18th, the score, in results
const char* const kColumnNames[] = {"frame",  "id",  "type",  "truncated", "occluded",   "alpha",
                                    "left",   "top", "right", "bottom",    "height",     "width",
                                    "length", "x",   "y",     "z",         "rotation_y", "score"};

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// The known type `field` names (any case), or "" when it is none.
std::string known_type(const std::string& field) {
  for (const char* t : kKittiTypes)
    if (lower(t) == lower(field)) return lower(t);
  return "";
}

std::string type_list() {
  std::string list;
  for (const char* t : kKittiTypes) list += (list.empty() ? "" : ", ") + std::string(t);
  return list;
}

// One row's fields into `r` (its line aside), or what is wrong.
std::string parse_row(const std::vector<std::string>& f, kitti_row& r) {
  if (f.size() != kColumns && f.size() != kColumns + 1)
    return "a KITTI row has 17 fields (18 with a score), found " + std::to_string(f.size());
  long long frame = 0, id = 0;
  if (common::parse_integer(f[0], 0, INT_MAX - 1, frame) != common::integer_read::ok)
    return "frame " + common::quote_token(f[0]) + " is not a frame number (KITTI's count from 0)";
  r.type = known_type(f[2]);
  if (r.type.empty())
    return "type " + common::quote_token(f[2]) + " is not a KITTI type (" + type_list() + ")";
  if (common::parse_integer(f[1], -1, INT_MAX, id) != common::integer_read::ok ||
      (id == kNoTrackId && r.type != "dontcare"))
    return id == kNoTrackId
               ? "id -1: trackvideo needs track ids (a tracker's output), not bare detections"
               : "id " + common::quote_token(f[1]) + " is not a track id (a whole number >= 0)";
  double v[kColumns + 1] = {};
  v[kColumns] = 1;  // no score
  for (std::size_t i = 3; i < f.size(); ++i)
    if (!parse_decimal(f[i], v[i]))
      return std::string(kColumnNames[i]) + " " + common::quote_token(f[i]) + " is not a number";
  if (v[8] < v[6] || v[9] < v[7])
    return "the box's right or bottom edge lies before its left or top (" +
           common::quote_token(f[6]) + " to " + common::quote_token(f[8]) + ", " +
           common::quote_token(f[7]) + " to " + common::quote_token(f[9]) + ")";
  r.frame = static_cast<int>(frame) + 1;
  r.id = static_cast<int>(id);
  r.truncated = v[3];
  r.occluded = v[4];
  r.left = v[6];
  r.top = v[7];
  r.right = v[8];
  r.bottom = v[9];
  r.score = v[kColumns];
  return "";
}

std::string ignored_counts(const tracks& t) {
  return std::to_string(t.ignored_flag) + " DontCare, " + std::to_string(t.ignored_class) +
         " of other types";
}

}  // namespace

std::string parse_kitti_types(const std::string& text, gt_rules& rules) {
  rules.all_classes = text == "all";
  rules.types.clear();
  for (std::size_t at = 0; !rules.all_classes && at <= text.size();) {
    const std::size_t comma = std::min(text.find(',', at), text.size());
    const std::string type = known_type(text.substr(at, comma - at));
    if (type.empty())
      return "--classes " + common::quote_token(text) +
             ": expected \"all\" or KITTI types separated by commas, as Car,Pedestrian (" +
             type_list() + ")";
    rules.types.push_back(type);
    at = comma + 1;
  }
  return "";
}

std::string parse_kitti_rows(const std::string& text, const std::string& name,
                             std::vector<kitti_row>& out) {
  out.clear();
  std::vector<std::string> fields;
  std::size_t at = 0;
  for (int line = 1; at < text.size(); ++line) {
    std::size_t eol = text.find('\n', at);
    if (eol == std::string::npos) eol = text.size();
    fields.clear();
    for (std::size_t p = at; p < eol;) {
      const std::size_t start = text.find_first_not_of(" \t\r", p);
      if (start >= eol) break;
      const std::size_t end = std::min(text.find_first_of(" \t\r", start), eol);
      fields.push_back(text.substr(start, end - start));
      p = end;
    }
    at = eol + 1;
    if (fields.empty()) continue;
    if (line == INT_MAX) return common::shown_name(name) + ": too many lines";
    kitti_row r{};
    r.line = line;
    const std::string why = parse_row(fields, r);
    if (!why.empty()) return common::shown_name(name) + ":" + std::to_string(line) + ": " + why;
    out.push_back(std::move(r));
  }
  return "";
}

std::string parse_kitti_tracks(const std::string& text, const std::string& name,
                               const gt_rules& rules, tracks& out) {
  out = tracks{};
  out.file = name;
  out.first_frame_number = 0;
  std::vector<kitti_row> rows;
  std::string why = parse_kitti_rows(text, name, rows);
  if (!why.empty()) return why;
  std::vector<track_box> boxes;
  for (const kitti_row& r : rows) {
    if (r.type == "dontcare") {
      ++out.ignored_flag;
      continue;
    }
    track_box box{r.frame, r.id, 0, r.line, 0, 0, 0, 0};
    why = box_corners(r.left, r.top, r.right - r.left, r.bottom - r.top, box);
    if (!why.empty()) return common::shown_name(name) + ":" + std::to_string(r.line) + ": " + why;
    if (!rules.all_classes &&
        std::find(rules.types.begin(), rules.types.end(), r.type) == rules.types.end())
      ++out.ignored_class;
    else
      boxes.push_back(box);
  }
  if (boxes.empty())
    return common::shown_name(name) + ": no rows" +
           (out.ignored_flag || out.ignored_class ? " kept (" + ignored_counts(out) + ")" : "");
  index_tracks(std::move(boxes), out);
  return "";
}

std::string read_kitti_tracks(const std::string& path, const gt_rules& rules, tracks& out) {
  std::string text;
  const std::string why = common::read_text(path, text);
  return why.empty() ? parse_kitti_tracks(text, path, rules, out) : why;
}

std::string kitti_ignored_message(const tracks& t) {
  const int n = t.ignored_flag + t.ignored_class;
  return common::shown_name(t.file) + ": " + std::to_string(n) + (n == 1 ? " row" : " rows") +
         " ignored (" + ignored_counts(t) + ")";
}

}  // namespace trackvideo
