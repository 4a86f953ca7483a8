// trackpair/association.cpp - the association driver (see association.h).
#include "association.h"

#include <cassert>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "detections.h"

int node_num[trackpair::max_objects][trackpair::max_frames];

float compare_hist(float* a, float* b, int n) {
  float sum = 0;
  for (int i = 0; i < n; ++i)
    sum = static_cast<float>(sum + std::fabs(static_cast<double>(a[i]) - b[i]));
  return sum;
}

namespace trackpair {

namespace {

// Writes "trackpair: <message>" on err and gives the failure status.
int fail(std::FILE* err, const std::string& message) {
  std::fprintf(err, "trackpair: %s\n", message.c_str());
  return 1;
}

// Ends the output: flushes `out` if everything so far was written (`written`),
// and turns a failed write into a message on err and status 1. When `written`
// is false, errno still holds the reason of the write that failed.
int finish_output(std::FILE* out, std::FILE* err, bool written) {
  int reason = errno;
  if (written) {
    errno = 0;
    if (std::fflush(out) == 0 && !std::ferror(out)) return 0;
    reason = errno;
  }
  if (reason == 0) reason = EIO;  // the stream's error flag without a fresh errno
  return fail(err, std::string("cannot write the report: ") + std::strerror(reason));
}

}  // namespace

long long box_distance(const box_info& x, const box_info& y) {
  const auto diff = [](int u, int v) {
    return std::llabs(static_cast<long long>(u) - static_cast<long long>(v));
  };
  return diff(x.first(), y.first()) + diff(x.second(), y.second()) + diff(x.third(), y.third()) +
         diff(x.fourth(), y.fourth());
}

std::string detection_file_name(int q, int r) {
  char name[64];
  std::snprintf(name, sizeof name, "objects_info_h%d_%d.txt", q + 1, r + 1);
  return name;
}

bool parse_count_argument(const char* what, const char* text, int limit, int& value,
                          std::string& error) {
  if (!parse_int_token(text, value)) {
    error = std::string(what) + " " + quote_token(text, text + std::strlen(text)) +
            " is not a whole number";
    return false;
  }
  if (value > limit) {
    error = std::string(what) + " " + std::to_string(value) + " exceeds " + std::to_string(limit);
    return false;
  }
  return true;
}

bool read_detections(int objects, int frames, box_dictionary& boxes, std::string& error) {
  assert(objects <= max_objects && frames <= max_frames);
  for (int q = 0; q < objects; ++q)
    for (int r = 1; r < frames; ++r) node_num[q][r] = 0;

  std::string text;
  std::string reason;
  std::vector<file_box> found;
  for (int q = 0; q < objects; ++q) {
    for (int r = 1; r < frames; ++r) {
      const std::string name = detection_file_name(q, r);
      if (!read_whole_file(name.c_str(), text, reason) ||
          !parse_detection_text(text, found, reason)) {
        error = name + ": " + reason;
        return false;
      }
      node_num[q][r] = static_cast<int>(found.size());
      for (int s = 0; s < node_num[q][r]; ++s) {
        const file_box& b = found[s];
        boxes.insert(box_key(q, r, s), box_info(b[0], b[2], b[1], b[3]));
      }
    }
  }
  return true;
}

bool report_candidates(int objects, int frames, const box_dictionary& boxes, std::FILE* out) {
  for (int q = 0; q < objects; ++q) {
    for (int r = 1; r < frames; ++r) {
      for (int s = 0; s < node_num[q][r]; ++s) {
        if (std::fprintf(out, "%d %d %d ", q, r, s) < 0) return false;
        const auto mine = boxes.lookup(box_key(q, r, s));
        assert(mine != nullptr && "the reading pass stored every counted detection");
        const box_info& x = boxes.inf(mine);
        for (int a = 0; a < objects; ++a) {
          if (a == q) continue;
          for (int b = 0; b < node_num[a][r]; ++b) {
            const auto other = boxes.lookup(box_key(a, r, b));
            assert(other != nullptr && "the reading pass stored every counted detection");
            if (box_distance(x, boxes.inf(other)) < candidate_distance &&
                std::fprintf(out, "%d %d ", a, b) < 0)
              return false;
          }
        }
        if (std::fputc('\n', out) == EOF || std::ferror(out)) return false;
      }
    }
  }
  return true;
}

int trackpair_main(int argc, char** argv, std::FILE* out, std::FILE* err) {
  if (argc <= 2) {
    // argv[0] may be missing when the caller of exec passed no arguments at all.
    const char* self = (argc > 0 && argv[0] != nullptr) ? argv[0] : "trackpair";
    const bool written = std::fprintf(out, "Usgae: %s num_of_objects num_of_frames \n", self) >= 0;
    return finish_output(out, err, written);
  }
  int objects = 0;
  int frames = 0;
  std::string error;
  if (!parse_count_argument("num_of_objects", argv[1], max_objects, objects, error) ||
      !parse_count_argument("num_of_frames", argv[2], max_frames, frames, error))
    return fail(err, error);
  if (objects <= 0 || frames <= 1) return 0;  // no file to read, nothing to report

  box_dictionary boxes;
  if (!read_detections(objects, frames, boxes, error)) return fail(err, error);
  const bool written = report_candidates(objects, frames, boxes, out);
  return finish_output(out, err, written);
}

}  // namespace trackpair
