// trackvideo/input/sequence.cpp - a sequence folder's seqinfo.ini and paths (see
// sequence.h).
#include "trackvideo/input/sequence.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <vector>

#include "common/input_file.h"
#include "common/tokens.h"
#include "trackvideo/input/frame_source.h"

namespace trackvideo {

namespace {

std::string trimmed(const std::string& s) {
  const char* const blanks = " \t\r";
  const std::size_t a = s.find_first_not_of(blanks);
  if (a == std::string::npos) return "";
  return s.substr(a, s.find_last_not_of(blanks) - a + 1);
}

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// What an imDir leading out of the sequence folder is told.
const char kNotInside[] = " is not a folder inside the sequence";

// A whole number from `least` to INT_MAX, of the one integer grammar.
bool whole(const std::string& v, int& out, int least = 1) {
  long long n = 0;
  if (common::parse_integer(v, least, INT_MAX, n) != common::integer_read::ok) return false;
  out = static_cast<int>(n);
  return true;
}

// A frame rate: a plain decimal, digits with an optional fraction ("25",
// "29.97", ".5", "5."); no sign, no exponent, no hexadecimal, no inf or nan.
bool plain_decimal(const std::string& v, double& out) {
  const std::size_t point = v.find('.');
  const std::string digits =
      point == std::string::npos ? v : v.substr(0, point) + v.substr(point + 1);
  if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) return false;
  out = std::strtod(v.c_str(), nullptr);  // the whole text: digits and one point
  return true;
}

// A rate as messages give it: "0.01", "1000".
std::string shown_rate(double r) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", r);
  return text;
}

// Whether the relative path `p` stays inside the folder it starts from when
// read name by name ("a/../b" does, "a/../.." does not). Symbolic links are
// read_seqinfo's to check.
bool stays_inside(const std::string& p) {
  long depth = 0;
  for (const auto& part : std::filesystem::path(p)) {
    if (part == "..")
      --depth;
    else if (part != "." && !part.empty())
      ++depth;
    if (depth < 0) return false;
  }
  return true;
}

// Whether the path `inner`, resolved, is the folder `outer` or under it
// (both resolved through every symbolic link). True when `inner` cannot be
// resolved (it is missing: the frames then fail to open, as they did).
bool resolved_inside(const std::string& outer, const std::string& inner) {
  std::error_code error;
  const std::filesystem::path sub = std::filesystem::canonical(inner, error);
  if (error) return true;
  const std::filesystem::path root = std::filesystem::canonical(outer, error);
  if (error) return true;
  return std::mismatch(root.begin(), root.end(), sub.begin(), sub.end()).first == root.end();
}

// The name of frame f in `width` digits at least, without the extension.
std::string padded(int f, int width) {
  const std::string digits = std::to_string(f);
  return std::string(digits.size() < static_cast<std::size_t>(width) ? width - digits.size() : 0,
                     '0') +
         digits;
}

// Sets s.frame_digits from the names of the frames' folder, listed once:
// "<digits><imExt>" names, frame 1's all zeros but a final 1 (six digits
// first, then eight, then the narrowest; kFrameDigits when there is none, or
// no folder). "" or the line naming frame 1 and a frame named in another width.
std::string find_frame_digits(const std::string& dir, seqinfo& s) {
  s.frame_digits = kFrameDigits;
  std::set<std::string> numbers;  // the digits of every "<digits><imExt>" name
  std::error_code error;
  for (std::filesystem::directory_iterator it(frames_folder(dir, s), error), end;
       !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (name.size() <= s.im_ext.size() ||
        name.compare(name.size() - s.im_ext.size(), s.im_ext.size(), s.im_ext) != 0)
      continue;
    const std::string digits = name.substr(0, name.size() - s.im_ext.size());
    if (digits.find_first_not_of("0123456789") == std::string::npos) numbers.insert(digits);
  }
  std::vector<int> widths;  // of frame 1's names
  for (const std::string& n : numbers)
    if (n.back() == '1' && n.find_first_not_of('0') == n.size() - 1)
      widths.push_back(static_cast<int>(n.size()));
  if (widths.empty()) return "";
  const auto has = [&widths](int w) { return std::count(widths.begin(), widths.end(), w) > 0; };
  s.frame_digits = has(kFrameDigits) ? kFrameDigits
                   : has(8)          ? 8
                                     : *std::min_element(widths.begin(), widths.end());
  // The first frame of 2 .. seqLength named only in another width.
  long long first = 0;
  std::string other;
  for (const std::string& n : numbers) {
    const long long f = n.size() <= 10 ? std::atoll(n.c_str()) : 0;
    if (f < 2 || f > s.seq_length || (first != 0 && f >= first) ||
        numbers.count(padded(static_cast<int>(f), s.frame_digits)))
      continue;
    first = f;
    other = n;
  }
  if (first == 0) return "";
  const auto path = [&](const std::string& digits) {
    return common::shown_name(common::in_folder(frames_folder(dir, s), digits + s.im_ext));
  };
  return path(padded(1, s.frame_digits)) + " and " + path(other) +
         ": frame names of different widths (" + std::to_string(s.frame_digits) + " and " +
         std::to_string(other.size()) + " digits)";
}

}  // namespace

std::string parse_seqinfo(const std::string& text, const std::string& file,
                          const std::string& folder_name, seqinfo& out) {
  out = seqinfo{};
  const std::string name = common::shown_name(file);
  const char* const keys[] = {"imdir",     "imext",   "seqlength", "name",
                              "framerate", "imwidth", "imheight"};
  std::string values[7];
  bool given[7] = {}, in_sequence = false, section_seen = false;
  std::size_t at = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  for (int line = 1; at < text.size(); ++line) {
    std::size_t eol = text.find('\n', at);
    if (eol == std::string::npos) eol = text.size();
    const std::string l = trimmed(text.substr(at, eol - at));
    at = eol + 1;
    const auto here = [&] { return name + ":" + std::to_string(line) + ": "; };
    if (l.empty() || l[0] == ';' || l[0] == '#') continue;
    if (l[0] == '[') {
      if (l.back() != ']') return here() + "a section name without its ']'";
      in_sequence = lower(trimmed(l.substr(1, l.size() - 2))) == "sequence";
      section_seen = section_seen || in_sequence;
      continue;
    }
    const std::size_t eq = l.find('=');
    if (eq == std::string::npos || eq == 0)
      return here() + "expected key=value, found " + common::quote_token(l);
    const std::string key = lower(trimmed(l.substr(0, eq)));
    if (!in_sequence) continue;
    for (int k = 0; k < 7; ++k) {
      if (key != keys[k]) continue;
      if (given[k]) return here() + trimmed(l.substr(0, eq)) + " is given twice";
      given[k] = true;
      values[k] = trimmed(l.substr(eq + 1));
    }
  }
  if (!section_seen) return name + ": no [Sequence] section";
  const char* const shown_keys[] = {"imDir",     "imExt",   "seqLength", "name",
                                    "frameRate", "imWidth", "imHeight"};
  for (int k = 0; k < 3; ++k)
    if (!given[k] || values[k].empty())
      return name + ": [Sequence] has no " + shown_keys[k] + (given[k] ? " value" : "");
  const auto bad = [&](int k) {
    return name + ": " + shown_keys[k] + " " + common::quote_token(values[k]);
  };
  out.im_dir = values[0];
  if (out.im_dir[0] == '/' || !stays_inside(out.im_dir)) return bad(0) + kNotInside;
  out.im_ext = values[1];
  if (out.im_ext[0] != '.' || !has_image_extension("f" + out.im_ext))
    return bad(1) + " is not an image extension trackvideo reads";
  if (!whole(values[2], out.seq_length)) return bad(2) + " is not a whole number >= 1";
  out.name = given[3] && !values[3].empty() ? values[3] : folder_name;
  out.frame_rate = kFolderFramesPerSecond;
  if (given[4]) {
    double r = 0;
    if (!plain_decimal(values[4], r) || !(r > 0)) return bad(4) + " is not a number > 0";
    if (r < kMinFrameRate || r > kMaxFrameRate)
      return bad(4) + " is out of range (" + shown_rate(kMinFrameRate) + " to " +
             shown_rate(kMaxFrameRate) + " frames per second)";
    out.frame_rate = r;
  }
  if (given[5] && !whole(values[5], out.im_width)) return bad(5) + " is not a whole number >= 1";
  if (given[6] && !whole(values[6], out.im_height)) return bad(6) + " is not a whole number >= 1";
  if (given[5] != given[6])
    return name + ": " + shown_keys[given[5] ? 5 : 6] + " is given without " +
           shown_keys[given[5] ? 6 : 5] + " (the frames' size needs both)";
  return "";
}

std::string read_seqinfo(const std::string& dir, seqinfo& out) {
  const std::string path = common::in_folder(dir, "seqinfo.ini");
  std::string text;
  const std::string why = common::read_file(path, text, nullptr, kMaxSeqinfoBytes);
  if (why == common::kLargerThanLimit)
    return common::shown_name(path) + ": larger than " + std::to_string(kMaxSeqinfoBytes) +
           " bytes, more than a seqinfo.ini holds";
  if (!why.empty()) return "cannot open " + common::shown_name(path) + ": " + why;
  std::string wrong = parse_seqinfo(text, path, sequence_folder_name(dir), out);
  // imDir read name by name stays inside; through a symbolic link it may not.
  if (wrong.empty() && !resolved_inside(dir, frames_folder(dir, out)))
    wrong = common::shown_name(path) + ": imDir " + common::quote_token(out.im_dir) + kNotInside;
  if (wrong.empty()) wrong = find_frame_digits(dir, out);
  return wrong;
}

std::string sequence_folder_name(const std::string& dir) {
  std::string folder = std::filesystem::path(dir).lexically_normal().filename().string();
  if (folder.empty() || folder == ".")
    folder = std::filesystem::absolute(dir).lexically_normal().parent_path().filename().string();
  return folder;
}

std::string frames_folder(const std::string& dir, const seqinfo& s) {
  return common::in_folder(dir, s.im_dir);
}

std::string frame_path(const std::string& dir, const seqinfo& s, int f) {
  return common::in_folder(frames_folder(dir, s), padded(f, s.frame_digits) + s.im_ext);
}

std::string ground_truth_path(const std::string& dir) {
  return common::in_folder(dir, "gt/gt.txt");
}

std::string parse_classes(const std::string& text, gt_rules& out) {
  out = gt_rules{};
  if (text == "all") {
    out.all_classes = true;
    return "";
  }
  out.classes.clear();
  std::size_t at = 0;
  while (true) {
    const std::size_t comma = text.find(',', at);
    const std::string item =
        text.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
    int n = 0;
    if (!whole(item, n, 0))
      return "--classes " + common::quote_token(text) +
             ": expected \"all\" or class numbers separated by commas, as 1,2,7";
    out.classes.push_back(n);
    if (comma == std::string::npos) break;
    at = comma + 1;
  }
  return "";
}

}  // namespace trackvideo
