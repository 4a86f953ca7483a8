// trackvideo/input/sequence.cpp - a sequence folder's seqinfo.ini and paths (see
// sequence.h).
#include "trackvideo/input/sequence.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

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

// A whole number from 1 to INT_MAX, digits only.
bool whole(const std::string& v, int& out) {
  if (v.empty() || v.size() > 10 || v.find_first_not_of("0123456789") != std::string::npos)
    return false;
  const long long n = std::strtoll(v.c_str(), nullptr, 10);
  if (n < 1 || n > INT_MAX) return false;
  out = static_cast<int>(n);
  return true;
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
  if (out.im_dir[0] == '/') return bad(0) + " is not a folder inside the sequence";
  out.im_ext = values[1];
  if (out.im_ext[0] != '.' || !has_image_extension("f" + out.im_ext))
    return bad(1) + " is not an image extension trackvideo reads";
  if (!whole(values[2], out.seq_length)) return bad(2) + " is not a whole number >= 1";
  out.name = given[3] && !values[3].empty() ? values[3] : folder_name;
  out.frame_rate = kFolderFramesPerSecond;
  if (given[4]) {
    char* end = nullptr;
    errno = 0;
    const double r = std::strtod(values[4].c_str(), &end);
    if (values[4].empty() || end != values[4].c_str() + values[4].size() || errno == ERANGE ||
        !std::isfinite(r) || !(r > 0) ||
        !(std::isdigit(static_cast<unsigned char>(values[4][0])) || values[4][0] == '.'))
      return bad(4) + " is not a number > 0";
    out.frame_rate = r;
  }
  if (given[5] && !whole(values[5], out.im_width)) return bad(5) + " is not a whole number >= 1";
  if (given[6] && !whole(values[6], out.im_height)) return bad(6) + " is not a whole number >= 1";
  return "";
}

std::string read_seqinfo(const std::string& dir, seqinfo& out) {
  const std::string path = common::in_folder(dir, "seqinfo.ini");
  std::string text;
  const std::string why = common::read_file(path, text);
  if (!why.empty()) return "cannot open " + common::shown_name(path) + ": " + why;
  return parse_seqinfo(text, path, sequence_folder_name(dir), out);
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
  char digits[16];
  std::snprintf(digits, sizeof digits, "%06d", f);
  return common::in_folder(frames_folder(dir, s), digits + s.im_ext);
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
    if (item == "0")
      n = 0;
    else if (!whole(item, n))
      return "--classes " + common::quote_token(text) +
             ": expected \"all\" or class numbers separated by commas, as 1,2,7";
    out.classes.push_back(n);
    if (comma == std::string::npos) break;
    at = comma + 1;
  }
  return "";
}

}  // namespace trackvideo
