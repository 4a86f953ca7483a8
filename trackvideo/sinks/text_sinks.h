// trackvideo/sinks/text_sinks.h - the run's text outputs as sinks: the
// candidate report, the table of pairs, the detection files, the progress
// line, and the run's figures.
//
// Ownership: each sink borrows what it writes into (an atomic_file or the
// output set, owned by the run) and the tracks; it owns its buffers. Cost per
// piece: O(pairs of the chunk) (the report, the table's text already made by
// the job), O(objects) per frame for the detection files.
#ifndef TRACKVIDEO_SINKS_TEXT_SINKS_H
#define TRACKVIDEO_SINKS_TEXT_SINKS_H

#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "common/atomic_file.h"
#include "trackvideo/sinks/progress.h"
#include "trackvideo/sinks/report_runs.h"
#include "trackvideo/sinks/sink.h"
#include "trackvideo/input/tracks.h"

namespace trackvideo {

// The --csv table: its header, then the rows the jobs made, written in blocks
// of at least kBlock bytes (a chunk's rows as they are when they fill one:
// nothing is copied twice); finish() writes the rest and closes the file.
class table_sink : public frame_sink {
 public:
  static constexpr std::size_t kBlock = std::size_t{1} << 16;
  explicit table_sink(common::atomic_file& file);
  std::string take(const frame_piece& piece) override;
  std::string finish() override;

 private:
  std::string flush();
  common::atomic_file& file_;
  std::string waiting_;
};

// The candidate report (report_runs), frame by frame; finish() hands the
// whole report to `write` (standard output, or a batch's report file) and
// then to `done`, which flushes or closes it.
class report_sink : public frame_sink {
 public:
  using writer = report_runs::writer;
  report_sink(const tracks& t, writer write, std::function<std::string()> done);
  std::string take(const frame_piece& piece) override;
  std::string finish() override;

 private:
  report_runs runs_;
  writer write_;
  std::function<std::string()> done_;
};

// The detection files of every object for every frame walked
// (objects_info_h<q+1>_<f>.txt in `dir`, through `write`: one closed file
// each, committed with the run).
class detections_sink : public frame_sink {
 public:
  using file_writer = std::function<std::string(const std::string& path, const std::string& text)>;
  detections_sink(const tracks& t, std::string dir, file_writer write)
      : tracks_(t), dir_(std::move(dir)), write_(std::move(write)) {}
  std::string take(const frame_piece& piece) override;
  std::string finish() override { return ""; }

 private:
  const tracks& tracks_;
  std::string dir_;
  file_writer write_;
};

// The progress line, a frame at a time.
class progress_sink : public frame_sink {
 public:
  progress_sink(bool enabled, long long frames, std::FILE* err) : shown_(enabled, frames, err) {}
  std::string take(const frame_piece& piece) override;
  std::string finish() override;

 private:
  progress shown_;
};

// What the run tells about itself: the pairs found, and whether a decoded
// frame was larger than a given size (the radius hint).
class figures_sink : public frame_sink {
 public:
  figures_sink(int width, int height) : width_(width), height_(height) {}
  std::string take(const frame_piece& piece) override;
  std::string finish() override { return ""; }
  long long pairs() const { return pairs_; }
  bool large() const { return large_; }

 private:
  int width_, height_;
  long long pairs_ = 0;
  bool large_ = false;
};

}  // namespace trackvideo

#endif  // TRACKVIDEO_SINKS_TEXT_SINKS_H
