// trackvideo/sinks/text_sinks.cpp - the text outputs as sinks (see
// text_sinks.h).
#include "trackvideo/sinks/text_sinks.h"

#include "common/tokens.h"
#include "trackpair/detections.h"
#include "trackvideo/pipeline/table.h"

namespace trackvideo {

table_sink::table_sink(common::atomic_file& file) : file_(file), waiting_(kCsvHeader) {}

std::string table_sink::flush() {
  const std::string why = file_.write(waiting_.data(), waiting_.size());
  waiting_.clear();
  return why;
}

std::string table_sink::take(const frame_piece& piece) {
  const std::string& rows = piece.chunk.rows;
  if (waiting_.size() + rows.size() < kBlock) {
    waiting_ += rows;
    return "";
  }
  // A block's worth: what waits, then the chunk's rows as they are.
  std::string why = waiting_.empty() ? "" : flush();
  return why.empty() ? file_.write(rows.data(), rows.size()) : why;
}

std::string table_sink::finish() {
  const std::string why = flush();
  return why.empty() ? file_.close() : why;
}

report_sink::report_sink(const tracks& t, writer write, std::function<std::string()> done)
    : runs_(t), write_(std::move(write)), done_(std::move(done)) {}

std::string report_sink::take(const frame_piece& piece) {
  const frame_records& r = piece.frame;
  if (r.boxes() == 0) return "";
  if (piece.first) runs_.begin_frame(r);
  for (const auto& [a, b] : piece.chunk.pairs) runs_.add_pair(a, b);
  return piece.chunk.last ? runs_.end_frame() : "";
}

std::string report_sink::finish() {
  const std::string why = runs_.finish(write_);
  return why.empty() ? done_() : why;
}

std::string detections_sink::take(const frame_piece& piece) {
  if (!piece.chunk.last) return "";
  const frame_records& r = piece.frame;
  for (int q = 0; q < tracks_.objects(); ++q) {
    const std::string why =
        write_(common::in_folder(dir_, trackpair::detection_file_name(q, r.frame - 1)),
               r.detection_text(q));
    if (!why.empty()) return why;
  }
  return "";
}

std::string progress_sink::take(const frame_piece& piece) {
  if (piece.chunk.last) shown_.update(piece.frame.frame);
  return "";
}

std::string progress_sink::finish() {
  shown_.finish();
  return "";
}

std::string figures_sink::take(const frame_piece& piece) {
  pairs_ += static_cast<long long>(piece.chunk.size());
  if (piece.first && piece.frame.decoded)
    large_ = large_ || piece.frame.image.cols > width_ || piece.frame.image.rows > height_;
  return "";
}

}  // namespace trackvideo
