// trackvideo/sinks/encounters_sink.cpp - the encounters table and page (see
// encounters_sink.h).
#include "trackvideo/sinks/encounters_sink.h"

#include <algorithm>

namespace trackvideo {

std::string encounters_sink::take(const frame_piece& piece) {
  const frame_records& r = piece.frame;
  const pair_chunk& c = piece.chunk;
  if (piece.first && r.decoded &&
      (sizes_.empty() || sizes_.back().width != r.image.cols ||
       sizes_.back().height != r.image.rows))
    sizes_.push_back(frame_size{r.frame, r.image.cols, r.image.rows});
  pairs_ += static_cast<long long>(c.size());
  for (std::size_t k = 0; k < c.size(); ++k)
    finder_.add(r.frame, tracks_.boxes[r.first + static_cast<std::size_t>(c.pairs[k].first)],
                tracks_.boxes[r.first + static_cast<std::size_t>(c.pairs[k].second)], c.l1[k],
                c.iou[k], c.hist_l1[k], c.hellinger[k]);
  return "";
}

cv::Size encounters_sink::size_of(int frame) const {
  const auto after = std::upper_bound(sizes_.begin(), sizes_.end(), frame,
                                      [](int f, const frame_size& s) { return f < s.frame; });
  if (after == sizes_.begin()) return cv::Size();
  return cv::Size(std::prev(after)->width, std::prev(after)->height);
}

std::string encounters_sink::finish() {
  std::vector<encounter> found = finder_.finish();
  if (switches_)
    for (encounter& e : found) e.switches = switches_(e);
  std::vector<encounter> shown;
  for (const encounter& e : found) shown.push_back(as_shown(e, tracks_));
  std::string why;
  if (table_) {
    std::string text = kEncountersHeader;
    for (const encounter& e : shown) append_encounter_row(text, e);
    why = table_->write(text.data(), text.size());
    if (why.empty()) why = table_->close();
  }
  if (!why.empty() || !page_) return why;
  page_summary summary;
  summary.title = page_->title;
  summary.frames = tracks_.last_frame;
  summary.tracks = tracks_.objects();
  summary.boxes = static_cast<long long>(tracks_.boxes.size());
  summary.pairs = pairs_;
  summary.thumbnail_cap = page_->thumbnail_cap;
  summary.video = page_->video;
  summary.fps = page_->fps;
  summary.spans.resize(tracks_.ids.size());
  for (std::size_t k = 0; k < tracks_.ids.size(); ++k) summary.spans[k].id = tracks_.ids[k];
  for (const track_box& b : tracks_.boxes) {  // by frame: the first seen is the first
    track_span& s = summary.spans[static_cast<std::size_t>(b.object)];
    if (s.first == 0) s.first = b.frame;
    s.last = b.frame;
  }
  // The viewer numbers frames as the table does (KITTI's from 0).
  summary.first = tracks_.shown_frame(1);
  for (track_span& s : summary.spans) {
    s.first = tracks_.shown_frame(s.first);
    s.last = tracks_.shown_frame(s.last);
  }
  const std::vector<bool> chosen = thumbnail_choice(found, page_->thumbnail_cap);
  summary.thumbnails.reserve(found.size());
  for (std::size_t k = 0; k < found.size(); ++k) {
    const cv::Size frame = size_of(found[k].min_l1_frame);
    summary.thumbnails.push_back(
        chosen[k] ? thumbnail_size(thumbnail_area(frame.width, frame.height, found[k]).size())
                  : cv::Size());
  }
  summary.evaluated = page_->evaluated;
  summary.switches = page_->switches;
  summary.switch_table = page_->switch_table;
  if (summary.switch_table) {
    // Left out by the cap unless planned; the same plan as the pictures'.
    summary.switch_pictures.assign(summary.switches.size(), {cv::Size(), cv::Size()});
    for (const switch_picture& p :
         plan_switch_pictures(tracks_, summary.switches, page_->thumbnail_cap)) {
      const cv::Size frame = size_of(p.frame);
      const cv::Size size =
          thumbnail_size(switch_picture_area(frame.width, frame.height, p).size());
      auto& sizes = summary.switch_pictures[p.index];
      (p.before ? sizes.first : sizes.second) = size;
    }
  }
  return page_->write(page_->path, html_page(summary, shown));
}

}  // namespace trackvideo
