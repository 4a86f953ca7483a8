// trackvideo/sinks/switches.h - the identity switches of an evaluation as the
// encounters page shows them: a mark each on the timeline (html_viewer.h),
// and with --events a table of their own, each row with two pictures, the
// frame before the switch and the frame of the switch.
//
// What it is
//   A switch joins two tracker ids: ground-truth id gt_id, last matched to
//   previous_tracker_id in previous_frame, is matched to tracker_id in frame.
//   The run gives the switches in the events table's order (by frame, then
//   gt id), frames numbered as outputs number them (tracks::shown_frame), so
//   (frame, gt_id) names one switch.
//   Its two pictures are cut as an encounter's thumbnail is (html_page.h:
//   thumbnail_area, then thumbnail_size) from the drawn frames previous_frame
//   ("before") and frame ("at"), around the boxes of both tracker ids there,
//   each id's first box in that frame. An id without a box in that frame adds
//   nothing: the picture is cut around the other's (a new id is often not
//   there yet before, an old one gone at the switch); with neither, the
//   whole frame. At most `cap` switches get pictures (--thumbnails): the
//   first ones in the order given, both pictures or none.
//
// Ownership and cost
//   Nothing here keeps anything. switch_picture_name O(1);
//   plan_switch_pictures O(b + s log b) for b boxes and s switches;
//   switches_html O(s), one string.
//
// Errors
//   None: what they take is already checked by the run.
#ifndef TRACKVIDEO_SINKS_SWITCHES_H
#define TRACKVIDEO_SINKS_SWITCHES_H

#include <opencv2/core.hpp>

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "trackvideo/input/tracks.h"

namespace trackvideo {

// One identity switch, as the events table writes it.
struct page_switch {
  int frame = 0, previous_frame = 0;  // previous_frame < frame
  int gt_id = 0, tracker_id = 0, previous_tracker_id = 0;
  double iou = 0;         // of the match in `frame`
  std::string cause;      // "meeting", "crowd", ...: any bytes, escaped on the page
  std::string encounter;  // "A_B_FIRST" for meeting and crowd, else ""
};

// One picture to cut: frame `frame` (numbered from 1, as inside the program)
// around `a` (previous_tracker_id's box) and `b` (tracker_id's) where has_a
// and has_b say they are there.
struct switch_picture {
  std::size_t index = 0;  // the switch's, in the list given
  bool before = false;    // previous_frame's picture, else frame's
  int frame = 0;
  bool has_a = false, has_b = false;
  track_box a{}, b{};
  std::string name;  // switch_picture_name
};

// "switch_<frame>_<gt_id>_before.png" or "..._at.png", numbers in decimal
// with their sign.
std::string switch_picture_name(const page_switch& s, bool before);

// The pictures of the first min(cap, switches) switches, two each, ordered by
// frame (a stable sort: a switch's picture before comes first). cap < 0: none.
std::vector<switch_picture> plan_switch_pictures(const tracks& t,
                                                 const std::vector<page_switch>& switches,
                                                 long long cap);
// The section's style, for the page's head.
extern const char kSwitchesStyle[];

// The area of a frame_width x frame_height frame that p shows (html_page.h's
// thumbnail_area of its boxes).
cv::Rect switch_picture_area(int frame_width, int frame_height, const switch_picture& p);

// The page's switches section: a heading, then (with `table`) the sortable
// table#switches with a row per switch (tr with data-switch-frame, data-ids
// "PREVIOUS,NEW" and data-cause; its two pictures of the sizes given, an
// empty size for a switch the cap left without them, which a line then
// counts) and the filter by cause select#cause; without `table`, a line
// saying how many switches the timeline marks and that --events lists them.
// `pictures`: per switch, the sizes of its pictures before and at; cap: said
// when some are left out.
std::string switches_html(const std::vector<page_switch>& switches, bool table,
                          const std::vector<std::pair<cv::Size, cv::Size>>& pictures,
                          long long cap);
// The section's style, for the page's head.
extern const char kSwitchesStyle[];

}  // namespace trackvideo

#endif  // TRACKVIDEO_SINKS_SWITCHES_H
