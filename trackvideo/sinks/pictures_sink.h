// trackvideo/sinks/pictures_sink.h - the run's pictures as a sink: each frame
// drawn once (boxes, ids, pair lines, the frame number, trails, thick lines
// where a track starts or ends at an encounter), then cut into the page's
// thumbnails (of encounters and of identity switches), written as an
// --overlay PNG and appended to the --overlay-video and to the page's video
// (both every frame, so the run decodes every frame for either).
//
// The drawing must know, before a frame is drawn, the encounters' risky runs
// and which encounters get a thumbnail in that frame: both come from the
// pairs alone, so picture_plan_sink gathers them in a pass of the pipeline
// over the boxes only (no pixels), before the frames are read.
//
// Ownership: the sink owns its plan, the trails' centres, the frame's pairs
// and its encoding buffer; the video's file and the writer of closed files are
// the run's. Cost per frame drawn: draw_overlay's, a PNG encoding per picture
// written, one video frame. Memory: the plan (risky runs, the chosen
// encounters), a centre per box with det 0, the pairs of one frame.
#ifndef TRACKVIDEO_SINKS_PICTURES_SINK_H
#define TRACKVIDEO_SINKS_PICTURES_SINK_H

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "common/atomic_file.h"
#include "trackvideo/sinks/encounters.h"
#include "trackvideo/sinks/overlay.h"
#include "trackvideo/sinks/sink.h"
#include "trackvideo/sinks/switches.h"
#include "trackvideo/input/tracks.h"

namespace trackvideo {

// The file name of frame f's --overlay picture, "frame_NNNNNN.png".
std::string overlay_file_name(int f);

// What the drawing knows before the frames: the risky runs, the
// encounters that get a thumbnail, by min_l1_frame, and the identity
// switches' pictures, by frame (switches.h; the run plans them from the
// evaluation).
struct picture_plan {
  std::unique_ptr<risky_runs> risky;
  std::vector<encounter> thumbnails;
  std::vector<switch_picture> switches;
};

// Gathers a picture_plan from the pieces of a boxes-only pass (with
// measures when thumbnails are wanted).
class picture_plan_sink : public frame_sink {
 public:
  // thumbnail_cap < 0: no thumbnails; else at most that many (thumbnail_choice).
  picture_plan_sink(const tracks& t, int gap, int near, long long thumbnail_cap);
  std::string take(const frame_piece& piece) override;
  std::string finish() override;
  picture_plan& plan() { return plan_; }

 private:
  const tracks& tracks_;
  long long thumbnail_cap_;
  std::unique_ptr<encounter_finder> finder_;  // with thumbnails
  picture_plan plan_;
};

class pictures_sink : public frame_sink {
 public:
  using file_writer = std::function<std::string(const std::string& path, const std::string& text)>;
  struct settings {
    std::string overlay;                   // the PNGs' folder, or ""
    common::atomic_file* video = nullptr;  // the video's file, or nullptr
    std::string video_name;                // as the user gave it
    double fps = 0;                        // the video's frame rate
    std::string thumbnails;                // the page's folder, or ""
    // The page's video (H.264), or nullptr. Unlike --overlay-video, which
    // takes frames of one size, it fits a frame of another size into the
    // first frame's (scaled, its shape kept, the rest black).
    common::atomic_file* page_video = nullptr;
    std::string page_video_name;  // DIR/kPageVideo
    int trail = 0;                // --trail
    file_writer write;            // a closed file of the run's outputs
  };
  pictures_sink(const tracks& t, settings s, picture_plan plan);
  std::string take(const frame_piece& piece) override;
  // Finishes the video.
  std::string finish() override;

 private:
  void draw(frame_records& r);
  overlay_extras extras_of(const frame_records& r) const;
  std::string thumbnails(const frame_records& r);
  std::string png(const frame_records& r);
  std::string video_frame(const frame_records& r, common::atomic_file* file,
                          const std::string& name, overlay_video& video, bool fit);

  const tracks& tracks_;
  settings s_;
  picture_plan plan_;
  std::size_t next_thumb_ = 0;   // the first thumbnail not made yet
  std::size_t next_switch_ = 0;  // the first switch picture not made yet
  // Per object: the centre of its first box in each of its frames.
  std::vector<std::vector<std::pair<int, cv::Point>>> centres_;
  std::vector<std::pair<int, int>> pairs_;  // the frame's, so far
  std::vector<unsigned char> png_;
  overlay_video video_, page_video_;
  cv::Size page_size_;  // the page video's, once open
  cv::Mat fitted_;      // a frame fitted into page_size_
};

}  // namespace trackvideo

#endif  // TRACKVIDEO_SINKS_PICTURES_SINK_H
