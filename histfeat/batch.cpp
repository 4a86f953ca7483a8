// The runs: one frame with a cache of its own, and batches of frames through
// one cache, each frame failing on its own.

#include "histfeat/histfeat.h"

#include <opencv2/core/utils/logger.hpp>

#include "common/atomic_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <istream>
#include <new>
#include <ostream>
#include <sstream>
#include <unordered_map>
#include <vector>

namespace histfeat {

namespace {

void quiet_opencv() {
  // Every failure is reported as one line of ours; keep OpenCV's own log quiet.
  cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
}

// One frame, with running out of memory as one more way to fail: the frame's
// memory is released on the way out, so the next frame may go on.
std::string guarded_frame(frame_cache& frames, const std::string& image_file,
                          const std::string& boxes_file, const std::string& output_file,
                          std::ostream& out) {
  try {
    return process_frame(frames, image_file, boxes_file, output_file, out);
  } catch (const std::bad_alloc&) {
    return "out of memory";
  }
}

// How the command line names a list read from standard input.
const char kStandardInputName[] = "(standard input)";

// A line of a batch list: its number, its fields, and why it fails before it
// runs ("" when it may run).
struct batch_line {
  long long number;
  std::string field[3];
  std::string why;
};

using key_lines =
    std::unordered_map<common::file_key, std::vector<long long>, common::file_key_hash>;

// Another line than `number` among `lines`, or 0.
long long other_line(const key_lines& map, const common::file_key& key, long long number) {
  const auto it = map.find(key);
  if (it != map.end())
    for (long long n : it->second)
      if (n != number) return n;
  return 0;
}

// Fails, before anything runs, every line whose output is the list itself,
// the image or box list of another line, or the output of another line (both
// lines then fail). Files are compared by device and inode, files still to be
// made by their folder's and their name (common::identify).
void refuse_clashing_outputs(std::vector<batch_line>& lines, const std::string& list_name) {
  common::file_key list_key;
  bool have_list = false;
  if (list_name == kStandardInputName) {
    struct stat st;
    if (::fstat(STDIN_FILENO, &st) == 0 && S_ISREG(st.st_mode)) {
      list_key = common::file_key{st.st_dev, st.st_ino, ""};
      have_list = true;
    }
  } else {
    have_list = common::identify(list_name, list_key).empty();
  }
  key_lines inputs, outputs;
  std::vector<common::file_key> output_of(lines.size());
  std::vector<bool> known(lines.size());
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const batch_line& l = lines[i];
    if (!l.why.empty()) continue;
    common::file_key key;
    for (int f : {0, 1}) {
      if (!common::identify(l.field[f], key).empty()) continue;  // the line fails on it anyway
      std::vector<long long>& users = inputs[key];
      if (users.size() < 2 && (users.empty() || users.back() != l.number))
        users.push_back(l.number);
    }
    if (common::identify(l.field[2], output_of[i]).empty()) {
      known[i] = true;
      std::vector<long long>& writers = outputs[output_of[i]];
      if (writers.size() < 2) writers.push_back(l.number);
    }
  }
  for (std::size_t i = 0; i < lines.size(); ++i) {
    batch_line& l = lines[i];
    if (!l.why.empty() || !known[i]) continue;
    const std::string refused = "cannot write " + l.field[2] + ": ";
    if (have_list && output_of[i] == list_key)
      l.why = refused + "it is the list itself";
    else if (long long m = other_line(inputs, output_of[i], l.number))
      l.why = refused + "it is an input of line " + std::to_string(m);
    else if (long long m = other_line(outputs, output_of[i], l.number))
      l.why = refused + "it is also the output of line " + std::to_string(m);
  }
}

}  // namespace

int run(const std::string& image_file, const std::string& boxes_file,
        const std::string& output_file, std::ostream& out, std::ostream& err,
        long long max_pixels) {
  quiet_opencv();
  frame_cache frames(0, max_pixels);  // keeps the one frame
  std::string why = guarded_frame(frames, image_file, boxes_file, output_file, out);
  if (why.empty()) return 0;
  err << "histfeat: " << why << '\n';
  return 1;
}

int run_batch(std::istream& list, const std::string& list_name, std::ostream& out,
              std::ostream& err, long long max_pixels) {
  quiet_opencv();
  // The whole list first, so that outputs are checked against every line.
  std::vector<batch_line> lines;
  long long number = 0;
  for (std::string line; std::getline(list, line);) {
    ++number;
    std::istringstream fields(line);
    batch_line l{number, {}, ""};
    int count = 0;
    for (std::string f; fields >> f; ++count)
      if (count < 3) l.field[count] = std::move(f);
    if (count == 0 || l.field[0][0] == '#') continue;  // blank line or comment
    if (line.find('\0') != std::string::npos)
      l.why = "the line holds a NUL byte";
    else if (count != 3)
      l.why = "expected 3 fields (IMAGE BOXES OUTPUT), found " + std::to_string(count);
    lines.push_back(std::move(l));
  }
  const bool unread = list.bad();
  refuse_clashing_outputs(lines, list_name);

  frame_cache frames(frame_cache::kDefaultByteLimit, max_pixels);
  int status = 0;
  for (const batch_line& l : lines) {
    const std::string why =
        l.why.empty() ? guarded_frame(frames, l.field[0], l.field[1], l.field[2], out) : l.why;
    if (!why.empty()) {
      err << "histfeat: " << list_name << ':' << l.number << ": " << why << '\n';
      status = 1;
    }
  }
  if (unread) {
    err << "histfeat: cannot read " << list_name << '\n';
    status = 1;
  }
  return status;
}

}  // namespace histfeat
