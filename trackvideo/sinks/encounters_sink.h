// trackvideo/sinks/encounters_sink.h - the encounters of a run as a sink:
// the --encounters table and the --html page.
//
// Every pair of every frame, with its measures, goes to an encounter_finder;
// finish() writes the encounters table (kEncountersHeader, then a row each)
// (with the switches the evaluation lays at each, when the run evaluates)
// into its file and closes it, and the page (DIR/index.html) through the
// page's writer, with the run's figures and the size of each encounter's
// thumbnail: the thumbnail of the frame of its closest pair, whose size the
// sink notes as frames go by (only where it changes, so a video costs one
// entry), the same for the pictures of identity switches, and the viewer's
// tracks (each one's first and last frame, found in finish() by a walk of
// the boxes). The thumbnails themselves are the pictures' (pictures_sink),
// which choose the same encounters (thumbnail_choice) and switches
// (plan_switch_pictures).
//
// Ownership: the table's file and the page's writer are the run's; the sink
// owns the finder. Cost: the finder's, O(1) expected per pair; finish O(e log
// e) and the page's text. Memory: the open and closed encounters.
#ifndef TRACKVIDEO_SINKS_ENCOUNTERS_SINK_H
#define TRACKVIDEO_SINKS_ENCOUNTERS_SINK_H

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "common/atomic_file.h"
#include "trackvideo/sinks/encounters.h"
#include "trackvideo/sinks/html_page.h"
#include "trackvideo/sinks/sink.h"
#include "trackvideo/input/tracks.h"

namespace trackvideo {

class encounters_sink : public frame_sink {
 public:
  // What the page needs besides the encounters; `write` writes a closed file
  // of the run's outputs.
  struct page {
    std::string path;  // DIR/index.html
    std::string title;
    long long thumbnail_cap = kDefaultThumbnails;
    std::function<std::string(const std::string& path, const std::string& text)> write;
    std::string video;  // the page's video beside it (kPageVideo), or ""
    double fps = 0;     // its frame rate
    // With an evaluation, its identity switches (page_summary says where
    // they go); with switch_table (--events) their table too, with the sizes
    // of the pictures plan_switch_pictures chooses.
    bool evaluated = false, switch_table = false;
    std::vector<page_switch> switches = {};
  };

  // How many identity switches the evaluation lays at an encounter.
  using switch_count = std::function<int(const encounter&)>;

  // table: the --encounters file or nullptr; page: the --html page or nullptr;
  // switches: the evaluation's counts, or empty (0 everywhere).
  encounters_sink(const tracks& t, int gap, int near, common::atomic_file* table, const page* page,
                  switch_count switches = {})
      : tracks_(t),
        finder_(t, gap, near),
        table_(table),
        page_(page),
        switches_(std::move(switches)) {}
  std::string take(const frame_piece& piece) override;
  std::string finish() override;

 private:
  struct frame_size {
    int frame, width, height;  // from `frame` on, until the next entry
  };
  cv::Size size_of(int frame) const;

  const tracks& tracks_;
  encounter_finder finder_;
  common::atomic_file* table_;
  const page* page_;
  switch_count switches_;
  long long pairs_ = 0;
  std::vector<frame_size> sizes_;
};

}  // namespace trackvideo

#endif  // TRACKVIDEO_SINKS_ENCOUNTERS_SINK_H
