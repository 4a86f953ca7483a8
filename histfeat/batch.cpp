// The runs: one frame with a cache of its own, and batches of frames through
// one cache, each frame failing on its own.

#include "histfeat/histfeat.h"

#include <opencv2/core/utils/logger.hpp>

#include <istream>
#include <new>
#include <ostream>
#include <sstream>

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
  frame_cache frames(frame_cache::kDefaultByteLimit, max_pixels);
  int status = 0;
  long long number = 0;
  std::string line, field[3];
  while (std::getline(list, line)) {
    ++number;
    std::istringstream fields(line);
    int count = 0;
    for (std::string f; fields >> f; ++count)
      if (count < 3) field[count] = std::move(f);
    if (count == 0 || field[0][0] == '#') continue;  // blank line or comment
    std::string why;
    if (line.find('\0') != std::string::npos)
      why = "the line holds a NUL byte";
    else if (count != 3)
      why = "expected 3 fields (IMAGE BOXES OUTPUT), found " + std::to_string(count);
    else
      why = guarded_frame(frames, field[0], field[1], field[2], out);
    if (!why.empty()) {
      err << "histfeat: " << list_name << ':' << number << ": " << why << '\n';
      status = 1;
    }
  }
  if (list.bad()) {
    err << "histfeat: cannot read " << list_name << '\n';
    status = 1;
  }
  return status;
}

}  // namespace histfeat
