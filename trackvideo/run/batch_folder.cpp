// trackvideo/run/batch_folder.cpp - a benchmark's folder as a batch (see
// batch_folder.h).
#include "trackvideo/run/batch_folder.h"

#include <dirent.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>

#include "common/input_file.h"
#include "common/tokens.h"
#include "trackvideo/run/batch_marker.h"

namespace trackvideo {

using common::in_folder;

namespace {

// Whether ROOT/name is a sequence: a name of one folder of ROOT holding a
// regular file seqinfo.ini.
bool holds_sequence(const std::string& root, const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         is_file(in_folder(in_folder(root, name), "seqinfo.ini"), false);
}

// Whether ROOT/image_02/name is a KITTI sequence: a folder, with a regular
// file ROOT/label_02/name.txt.
bool holds_kitti_sequence(const std::string& root, const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         is_file(in_folder(in_folder(root, "image_02"), name), true) &&
         is_file(in_folder(in_folder(root, "label_02"), name + ".txt"), false);
}

bool holds(const options& o, const std::string& name) {
  return o.kitti ? holds_kitti_sequence(o.batch, name) : holds_sequence(o.batch, name);
}

// ROOT's sequences in byte order of their names; "" or why not.
std::string list_root(const options& o, std::vector<std::string>& names) {
  const std::string root = o.kitti ? in_folder(o.batch, "image_02") : o.batch;
  DIR* const dir = ::opendir(root.c_str());
  if (dir == nullptr)
    return "cannot read " + common::shown_name(root) + ": " + std::strerror(errno);
  errno = 0;
  while (const dirent* e = ::readdir(dir)) {
    if (holds(o, e->d_name)) names.emplace_back(e->d_name);
    errno = 0;
  }
  const int error = errno;
  ::closedir(dir);
  if (error != 0) return "cannot read " + common::shown_name(root) + ": " + std::strerror(error);
  // std::string compares as unsigned bytes.
  std::sort(names.begin(), names.end());
  if (names.empty() && o.kitti)
    return common::shown_name(root) + ": no folder in it has its labels in " +
           common::shown_name(in_folder(o.batch, "label_02")) + " (NNNN.txt for image_02/NNNN)";
  if (names.empty())
    return common::shown_name(root) + ": no folder in it holds a seqinfo.ini (a LIST is a file)";
  return "";
}

}  // namespace

bool is_folder_batch(const options& o) {
  return o.batch != "-" && (!o.results.empty() || !o.seqmap.empty() || is_file(o.batch, true));
}

std::string parse_seqmap(const std::string& text, const std::string& shown,
                         std::vector<std::pair<int, std::string>>& names) {
  std::map<std::string, int> first;
  int number = 0;
  for (std::size_t start = text.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0; start < text.size();) {
    std::size_t end = std::min(text.find('\n', start), text.size());
    std::string line = text.substr(start, end - start);
    start = end + 1;
    const std::string where = shown + ":" + std::to_string(++number) + ": ";
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::vector<std::string> fields = fields_of(line);
    if (number == 1) {
      if (fields != std::vector<std::string>{"name"})
        return where + "expected the header line \"name\" (a seqmap lists sequence names under it)";
      continue;
    }
    if (fields.empty()) continue;
    if (fields.size() > 1 || line.find('\0') != std::string::npos)
      return where + "expected one sequence name, found " + common::quote_token(line);
    const auto [it, added] = first.emplace(fields[0], number);
    if (!added)
      return where + common::shown_name(fields[0]) + ": named on line " +
             std::to_string(it->second) + " as well";
    names.emplace_back(number, fields[0]);
  }
  if (number == 0) return shown + ": empty, expected the header line \"name\"";
  return "";
}

std::string read_batch_folder(const options& o, std::vector<batch_line>& lines) {
  std::vector<std::string> names;
  if (o.seqmap.empty()) {
    if (const std::string why = list_root(o, names); !why.empty()) return why;
  } else {
    const std::string shown = common::shown_name(o.seqmap);
    std::string text;
    std::string why = common::read_file(o.seqmap, text, nullptr, kListLimit);
    if (why == common::kLargerThanLimit)
      why = "larger than " + std::to_string(kListLimit >> 20) + " MiB";
    if (!why.empty()) return "cannot read " + shown + ": " + why;
    std::vector<std::pair<int, std::string>> listed;
    if (!(why = parse_seqmap(text, shown, listed)).empty()) return why;
    for (const auto& [number, name] : listed) {
      if (!holds(o, name))
        return shown + ":" + std::to_string(number) + ": " + common::shown_name(name) + ": " +
               common::shown_name(o.batch) + " holds no such sequence (no " +
               (o.kitti ? common::shown_name(in_folder(in_folder(o.batch, "image_02"), name)) +
                              " with " +
                              common::shown_name(
                                  in_folder(in_folder(o.batch, "label_02"), name + ".txt"))
                        : common::shown_name(in_folder(in_folder(o.batch, name), "seqinfo.ini"))) +
               ")";
      names.push_back(name);
    }
  }
  for (const std::string& name : names) {
    batch_line l;
    l.line = static_cast<int>(lines.size()) + 1;
    l.folder = name;
    l.seqdir = in_folder(o.kitti ? in_folder(o.batch, "image_02") : o.batch, name);
    if (o.kitti) l.labels = in_folder(in_folder(o.batch, "label_02"), name + ".txt");
    if (!o.results.empty()) l.tracks = in_folder(o.results, name + ".txt");
    lines.push_back(std::move(l));
  }
  return "";
}

}  // namespace trackvideo
