// bench/trackpair_phases.cpp - where trackpair's time goes, phase by phase.
//
//   trackpair_phases num_of_objects num_of_frames [repetitions]   (in the data dir)
//
// Runs trackpair's own functions (trackpair_core) on the detection files of
// the current directory and prints, as "name: value" lines, the median over
// the repetitions (default 5) of:
//   parse_mb_per_s   parse_detection_text over the text of every file, held in
//                    memory beforehand: the records alone, no file system;
//   files_s          read_file of every file and nothing else: the system's
//                    share of the reading pass;
//   read_s           the reading pass (files from the page cache, parsing,
//                    one insertion per box);
//   report_s         the report pass, written to /dev/null;
// and the input size. Each repetition reads into a fresh dictionary.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "trackpair/detections.h"
#include "trackpair/trackpair_core.h"

namespace {

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s num_of_objects num_of_frames [repetitions]\n", argv[0]);
    return 2;
  }
  const int objects = std::atoi(argv[1]);
  const int frames = std::atoi(argv[2]);
  const int repetitions = argc > 3 ? std::atoi(argv[3]) : 5;
  if (objects < 1 || objects > trackpair::max_objects || frames < 2 ||
      frames > trackpair::max_frames || repetitions < 1) {
    std::fprintf(stderr, "trackpair_phases: bad arguments\n");
    return 2;
  }

  // Every file's text, in reading order.
  std::vector<std::string> texts;
  std::size_t bytes = 0;
  std::string file, error;
  for (int q = 0; q < objects; ++q)
    for (int r = 1; r < frames; ++r) {
      const std::string name = trackpair::detection_file_name(q, r);
      error = trackpair::read_file(name.c_str(), file);
      if (!error.empty()) {
        std::fprintf(stderr, "trackpair_phases: %s: %s\n", name.c_str(), error.c_str());
        return 1;
      }
      texts.push_back(file);
      bytes += file.size();
    }

  std::vector<double> parse_rates, file_times, read_times, report_times;
  std::vector<trackpair::file_box> boxes;
  std::size_t records = 0;
  for (int rep = 0; rep < repetitions; ++rep) {
    records = 0;
    auto start = std::chrono::steady_clock::now();
    for (const std::string& text : texts) {
      error = trackpair::parse_detection_text(text, boxes);
      if (!error.empty()) {
        std::fprintf(stderr, "trackpair_phases: %s\n", error.c_str());
        return 1;
      }
      records += boxes.size();
    }
    parse_rates.push_back(static_cast<double>(bytes) / 1e6 / seconds_since(start));

    start = std::chrono::steady_clock::now();
    for (int q = 0; q < objects; ++q)
      for (int r = 1; r < frames; ++r)
        if (!trackpair::read_file(trackpair::detection_file_name(q, r).c_str(), file).empty())
          return 1;
    file_times.push_back(seconds_since(start));

    trackpair::box_dictionary dictionary;
    start = std::chrono::steady_clock::now();
    error = trackpair::read_detections(objects, frames, dictionary);
    if (!error.empty()) {
      std::fprintf(stderr, "trackpair_phases: %s\n", error.c_str());
      return 1;
    }
    read_times.push_back(seconds_since(start));

    std::FILE* sink = std::fopen("/dev/null", "w");
    if (sink == nullptr) return 1;
    start = std::chrono::steady_clock::now();
    error = trackpair::write_report(dictionary, 1, trackpair::candidate_distance, sink);
    std::fclose(sink);
    report_times.push_back(seconds_since(start));
    if (!error.empty()) return 1;
  }

  std::printf("files: %zu\nbytes: %zu\nrecords: %zu\n", texts.size(), bytes, records);
  std::printf("parse_mb_per_s: %.0f\n", median(parse_rates));
  std::printf("files_s: %.3f\n", median(file_times));
  std::printf("read_s: %.3f\n", median(read_times));
  std::printf("report_s: %.3f\n", median(report_times));
  return 0;
}
