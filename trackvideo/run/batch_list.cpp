// trackvideo/run/batch_list.cpp - the sequences LIST names (see batch_list.h).
#include "trackvideo/run/batch_list.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/input_file.h"
#include "common/tokens.h"

namespace trackvideo {

namespace {

constexpr char kUtf8Bom[] = "\xEF\xBB\xBF";

}  // namespace

std::string read_list(const std::string& list, std::string& text) {
  const std::string too_large = "larger than " + std::to_string(kListLimit >> 20) + " MiB";
  if (list != "-") {
    const std::string why = common::read_file(list, text, nullptr, kListLimit);
    return why == common::kLargerThanLimit ? too_large : why;
  }
  char buffer[1 << 16];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, stdin)) > 0;) {
    if (text.size() + n > kListLimit) return too_large;
    text.append(buffer, n);
  }
  return std::ferror(stdin) ? std::strerror(errno) : "";
}

std::vector<batch_line> parse_batch_list(const std::string& text) {
  std::vector<batch_line> lines;
  int number = 0;
  // One byte-order mark at the start is no part of the first line.
  for (std::size_t start = text.rfind(kUtf8Bom, 0) == 0 ? 3 : 0; start < text.size();) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::vector<std::string> fields = fields_of(line);
    if (fields.empty() || fields[0][0] == '#') continue;
    batch_line l;
    l.line = number;
    l.seqdir = fields[0];
    if (fields.size() > 1) l.tracks = fields[1];
    if (fields.size() > 2)
      l.why =
          "expected SEQDIR or SEQDIR TRACKS, found " + std::to_string(fields.size()) + " fields";
    else if (line.find('\0') != std::string::npos)
      l.why = "the line holds a NUL byte";
    lines.push_back(std::move(l));
  }
  return lines;
}

bool usable_name(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name != kSummaryName &&
         name != kMetricsName && name != kIndexName && name.find('/') == std::string::npos;
}

std::string line_place(const std::string& list, const batch_line& l) {
  return list + ":" + (l.folder.empty() ? std::to_string(l.line) : common::shown_name(l.folder));
}

std::vector<std::string> fields_of(const std::string& line) {
  std::vector<std::string> fields;
  for (std::size_t i = 0; i < line.size();) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    std::size_t j = i;
    while (j < line.size() && line[j] != ' ' && line[j] != '\t') ++j;
    if (j > i) fields.push_back(line.substr(i, j - i));
    i = j;
  }
  return fields;
}

}  // namespace trackvideo
