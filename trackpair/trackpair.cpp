// trackpair/trackpair.cpp - the program: trackpair num_of_objects num_of_frames.
// Reads the detection files (detections.h) and writes the candidate report of
// frame indices 1 and up (trackpair_core.h). What is wrong ends the run with
// one line and status 1; a closed pipe ends it by SIGPIPE, as any writer's.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "trackpair/detections.h"
#include "trackpair/trackpair_core.h"

namespace {

int fail(const std::string& message) {
  std::fprintf(stderr, "trackpair: %s\n", message.c_str());
  return 1;
}

int run(int argc, char** argv) {
  if (argc <= 2) {  // the usage line; argv[0] is missing when exec was given no argument
    errno = 0;
    if (std::printf("Usgae: %s num_of_objects num_of_frames \n",
                    argc > 0 && argv[0] ? argv[0] : "trackpair") >= 0 &&
        std::fflush(stdout) == 0 && !std::ferror(stdout))
      return 0;
    return fail(std::string("cannot write the report: ") + std::strerror(errno ? errno : EIO));
  }
  using trackpair::parse_count_argument;
  int objects = 0, frames = 0;
  std::string error =
      parse_count_argument("num_of_objects", argv[1], trackpair::max_objects, objects);
  if (error.empty())
    error = parse_count_argument("num_of_frames", argv[2], trackpair::max_frames, frames);
  if (!error.empty()) return fail(error);
  if (objects <= 0 || frames <= 1) return 0;  // no file to read, nothing to report

  trackpair::box_dictionary boxes;
  error = trackpair::read_detections(objects, frames, boxes);
  if (error.empty())
    error = trackpair::write_report(boxes, 1, trackpair::candidate_distance, stdout);
  return error.empty() ? 0 : fail(error);
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const std::bad_alloc&) {
    return fail("out of memory");
  }
}
