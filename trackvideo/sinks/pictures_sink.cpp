// trackvideo/sinks/pictures_sink.cpp - the pictures of a run (see
// pictures_sink.h).
#include "trackvideo/sinks/pictures_sink.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cstdio>

#include "common/tokens.h"
#include "trackvideo/sinks/html_page.h"

namespace trackvideo {

std::string overlay_file_name(int f) {
  char name[32];
  std::snprintf(name, sizeof name, "frame_%06d.png", f);
  return name;
}

picture_plan_sink::picture_plan_sink(const tracks& t, int gap, int near, long long thumbnail_cap)
    : tracks_(t), thumbnail_cap_(thumbnail_cap) {
  plan_.risky = std::make_unique<risky_runs>(t, gap, near);
  if (thumbnail_cap >= 0) finder_ = std::make_unique<encounter_finder>(t, gap, near);
}

std::string picture_plan_sink::take(const frame_piece& piece) {
  const frame_records& r = piece.frame;
  const pair_chunk& c = piece.chunk;
  for (std::size_t k = 0; k < c.size(); ++k) {
    const track_box& a = tracks_.boxes[r.first + static_cast<std::size_t>(c.pairs[k].first)];
    const track_box& b = tracks_.boxes[r.first + static_cast<std::size_t>(c.pairs[k].second)];
    plan_.risky->add(r.frame, a.object, b.object);
    if (finder_) finder_->add(r.frame, a, b, c.l1[k], c.iou[k], c.hist_l1[k], c.hellinger[k]);
  }
  return "";
}

std::string picture_plan_sink::finish() {
  plan_.risky->finish();
  if (!finder_) return "";
  std::vector<encounter> found = finder_->finish();
  const std::vector<bool> chosen = thumbnail_choice(found, thumbnail_cap_);
  for (std::size_t k = 0; k < found.size(); ++k)
    if (chosen[k]) plan_.thumbnails.push_back(found[k]);
  std::stable_sort(
      plan_.thumbnails.begin(), plan_.thumbnails.end(),
      [](const encounter& a, const encounter& b) { return a.min_l1_frame < b.min_l1_frame; });
  return "";
}

pictures_sink::pictures_sink(const tracks& t, settings s, picture_plan plan)
    : tracks_(t), s_(std::move(s)), plan_(std::move(plan)) {
  centres_.assign(static_cast<std::size_t>(t.objects()), {});
  for (const track_box& b : t.boxes)
    if (b.det == 0)
      centres_[static_cast<std::size_t>(b.object)].emplace_back(
          b.frame, cv::Point(static_cast<int>((static_cast<long long>(b.x1) + b.x2) / 2),
                             static_cast<int>((static_cast<long long>(b.y1) + b.y2) / 2)));
}

overlay_extras pictures_sink::extras_of(const frame_records& r) const {
  overlay_extras extras;
  extras.frame = tracks_.shown_frame(r.frame);
  for (std::size_t k = 0; s_.trail > 0 && k < r.present.size(); ++k) {
    const auto& centres = centres_[static_cast<std::size_t>(r.present[k])];
    const auto from = std::lower_bound(
        centres.begin(), centres.end(), static_cast<long long>(r.frame) - s_.trail + 1,
        [](const std::pair<int, cv::Point>& c, long long f) { return c.first < f; });
    std::vector<cv::Point> points;
    for (auto it = from; it != centres.end() && it->first <= r.frame; ++it)
      points.push_back(it->second);
    extras.trails.emplace_back(tracks_.ids[static_cast<std::size_t>(r.present[k])],
                               std::move(points));
  }
  for (const auto& [i, j] : pairs_) {
    const track_box& a = tracks_.boxes[r.first + static_cast<std::size_t>(i)];
    const track_box& b = tracks_.boxes[r.first + static_cast<std::size_t>(j)];
    extras.thick.push_back(plan_.risky->contains(r.frame, a.object, b.object));
  }
  return extras;
}

void pictures_sink::draw(frame_records& r) {
  const bool thumbnail =
      (next_thumb_ < plan_.thumbnails.size() &&
       plan_.thumbnails[next_thumb_].min_l1_frame == r.frame) ||
      (next_switch_ < plan_.switches.size() && plan_.switches[next_switch_].frame == r.frame);
  const bool pictures = s_.video != nullptr || s_.page_video != nullptr || !s_.overlay.empty();
  if (!r.decoded || !(pictures || thumbnail)) return;
  const frame_boxes boxes{tracks_.boxes.data() + r.first, tracks_.boxes.data() + r.last,
                          &tracks_.ids};
  draw_overlay(r.image, boxes, pairs_, extras_of(r));
}

// The thumbnails of the encounters whose closest pair is in this frame, and
// the switches' pictures of this frame, from the drawn frame (frames with
// pairs, and frames with boxes, are decoded).
std::string pictures_sink::thumbnails(const frame_records& r) {
  for (; next_switch_ < plan_.switches.size() && plan_.switches[next_switch_].frame <= r.frame;
       ++next_switch_) {
    const switch_picture& p = plan_.switches[next_switch_];
    if (p.frame < r.frame || !r.decoded) continue;
    std::string why = encode_png(
        cut_thumbnail(r.image, switch_picture_area(r.image.cols, r.image.rows, p)), png_);
    if (why.empty())
      why =
          s_.write(common::in_folder(s_.thumbnails, p.name), std::string(png_.begin(), png_.end()));
    if (!why.empty()) return why;
  }
  for (; next_thumb_ < plan_.thumbnails.size() &&
         plan_.thumbnails[next_thumb_].min_l1_frame <= r.frame;
       ++next_thumb_) {
    const encounter& e = plan_.thumbnails[next_thumb_];
    if (e.min_l1_frame < r.frame || !r.decoded) continue;
    std::string why = encode_png(encounter_thumbnail(r.image, e), png_);
    if (why.empty())
      why = s_.write(common::in_folder(s_.thumbnails, thumbnail_name(as_shown(e, tracks_))),
                     std::string(png_.begin(), png_.end()));
    if (!why.empty()) return why;
  }
  return "";
}

std::string pictures_sink::png(const frame_records& r) {
  if (r.boxes() == 0 || s_.overlay.empty()) return "";
  // encode_png prints nothing: a failure is the run's one line.
  const std::string why = encode_png(r.image, png_);
  if (!why.empty()) return why;
  return s_.write(common::in_folder(s_.overlay, overlay_file_name(tracks_.shown_frame(r.frame))),
                  std::string(png_.begin(), png_.end()));
}

std::string pictures_sink::video_frame(const frame_records& r, common::atomic_file* file,
                                       const std::string& name, overlay_video& video, bool fit) {
  if (!file) return "";
  std::string why;
  if (!video.is_open()) {
    why = video.open(*file, s_.fps, r.image.cols, r.image.rows);
    if (!why.empty()) return why;
    if (fit) page_size_ = r.image.size();
  }
  const cv::Mat* image = &r.image;
  if (fit && r.image.size() != page_size_) {
    // Scaled to fit, its shape kept, centred on black.
    const double scale = std::min(static_cast<double>(page_size_.width) / r.image.cols,
                                  static_cast<double>(page_size_.height) / r.image.rows);
    const cv::Size size(
        std::clamp(static_cast<int>(std::lround(r.image.cols * scale)), 1, page_size_.width),
        std::clamp(static_cast<int>(std::lround(r.image.rows * scale)), 1, page_size_.height));
    fitted_.create(page_size_, CV_8UC3);
    fitted_.setTo(cv::Scalar::all(0));
    cv::resize(r.image,
               fitted_(cv::Rect((page_size_.width - size.width) / 2,
                                (page_size_.height - size.height) / 2, size.width, size.height)),
               size, 0, 0, scale < 1 ? cv::INTER_AREA : cv::INTER_LINEAR);
    image = &fitted_;
  }
  why = video.write(*image);
  if (why.empty()) return "";
  // The writer's line names the file when it failed to write it.
  const std::string frame = "frame " + std::to_string(tracks_.shown_frame(r.frame)) + ": ";
  return why.find(name) != std::string::npos ? frame + why : name + ": " + frame + why;
}

std::string pictures_sink::take(const frame_piece& piece) {
  if (piece.first) pairs_.clear();
  pairs_.insert(pairs_.end(), piece.chunk.pairs.begin(), piece.chunk.pairs.end());
  if (!piece.chunk.last) return "";
  frame_records& r = piece.frame;
  draw(r);
  std::string why;
  if (!(why = thumbnails(r)).empty() || !(why = png(r)).empty() ||
      !(why = video_frame(r, s_.video, s_.video_name, video_, false)).empty() ||
      !(why = video_frame(r, s_.page_video, s_.page_video_name, page_video_, true)).empty())
    return why;
  return "";
}

std::string pictures_sink::finish() {
  const std::string why = video_.is_open() ? video_.close() : "";
  if (!why.empty()) return why;
  return page_video_.is_open() ? page_video_.close() : "";
}

}  // namespace trackvideo
