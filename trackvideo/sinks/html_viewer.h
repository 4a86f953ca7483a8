// trackvideo/sinks/html_viewer.h - the viewer half of the encounters page
// (--html DIR): the run's overlay video with its controls, the timeline of
// the tracks and their encounters, and the id filter (html_page.h writes the
// rest of the page and calls these).
//
// What it is
//   The video (DIR/kPageVideo, the overlay of every frame 1 .. F as
//   --overlay-video draws it, frame number burned in) plays under play/pause
//   and one-frame steps; #frame shows the frame on screen. Frame f of a video
//   whose first frame is `first` is shown from (f - first) / fps to
//   (f - first + 1) / fps; a seek goes to the middle of that span
//   (seek_time), so a decoder's rounding either way still lands on f.
//   The timeline is one SVG whose x axis is the frames first .. last, one unit
//   per frame (stretched to the page's width), and whose rows are the tracks
//   in ascending id: a track's bar covers [its first frame, its last frame + 1)
//   in its overlay colour; an encounter's mark covers its frames and joins the
//   middle of its two tracks' rows; an identity switch's mark (switches.h)
//   covers its frame and joins the bars of the two tracker ids it joins (the
//   one with a row when the other has none; every row when neither has).
//   A click on it seeks the video to the frame under the pointer. The filter
//   hides the rows, bars and marks of other ids; the cause filter of the
//   switches' table hides the switches (rows and marks) of other causes.
//
//   The page's contract, for its script and for whoever scripts it: the video
//   is video#overlay, the frame shown the text of #frame; a table row is a tr
//   with data-frame (its min_l1_frame) and data-ids="A,B"; the timeline is
//   svg#timeline, a bar g.bars > rect[data-track=ID][data-first=F][data-last=L],
//   a mark g.encounters > rect[data-encounter="A,B,FIRST"]; the filter is
//   input#filter; whatever is filtered out has the `hidden` attribute. Marks of
//   other kinds get a group of their own after g.encounters, and the script
//   filters any element with data-ids: an identity switch's mark is
//   g.switches > rect[data-switch="FRAME,GT_ID"][data-ids="A,B"][data-cause=C]
//   (A its previous tracker id, B its new one), drawn over the bars; its row
//   in table#switches a tr[data-switch-frame=FRAME][data-ids="A,B"]
//   [data-cause=C], which a click seeks to like an encounter's row; the cause
//   filter select#cause (value "" for every cause).
//
// Ownership and cost
//   Nothing here keeps anything. seek_time, css_colour O(1); timeline_layout
//   O(tracks + encounters + switches); viewer_html O(its output).
//
// Errors
//   None: what they take is already checked by the run.
#ifndef TRACKVIDEO_SINKS_HTML_VIEWER_H
#define TRACKVIDEO_SINKS_HTML_VIEWER_H

#include <string>
#include <vector>

#include "trackvideo/sinks/encounters.h"
#include "trackvideo/sinks/switches.h"

namespace trackvideo {

// The page's video, beside index.html.
constexpr char kPageVideo[] = "overlay.mp4";

// A track's frames: its first and last frame with a box.
struct track_span {
  int id = 0;
  int first = 0, last = 0;  // first <= last
};

// The time (seconds) a seek to frame f goes to: (f - first + 0.5) / fps.
// fps > 0.
double seek_time(int frame, int first, double fps);

// "#rrggbb": track_colour(id), the overlay's colour of track id.
std::string css_colour(int id);

// The timeline's rows are kTimelineRow units high; a bar fills kTimelineBar
// of them, centred.
constexpr int kTimelineRow = 10;
constexpr int kTimelineBar = 6;

// A rectangle of the timeline, in its units (x: frames from `first`; y: row *
// kTimelineRow).
struct timeline_rect {
  long long x = 0, width = 0;
  int y = 0, height = 0;
};

// The timeline's geometry: a bar per span (in the order given, which is the
// rows' order), a mark per encounter (its tracks found by id among the spans;
// both must be there), a mark per switch (its tracker ids found the same way;
// either may be missing: see above).
struct timeline_layout {
  long long width = 0;  // last - first + 1 frames
  int height = 0;       // rows * kTimelineRow
  std::vector<timeline_rect> bars, marks, switches;
};
timeline_layout lay_out_timeline(const std::vector<track_span>& spans,
                                 const std::vector<encounter>& encounters, int first, int last,
                                 const std::vector<page_switch>& switches = {});

// The video with its controls (`video` its file name beside the page, or ""
// for none: then only the timeline's frame readout), the timeline and the
// filter: the block the page puts above the table. fps > 0 when there is a
// video. Encounters where a track starts or ends are marked in the page's
// risk colour (class "risk"); switches in a colour of their own, each with
// a title saying what it is.
std::string viewer_html(const std::string& video, double fps, int first, int last,
                        const std::vector<track_span>& spans,
                        const std::vector<encounter>& encounters,
                        const std::vector<page_switch>& switches = {});

// The viewer's style and script, inline (the script runs after the table).
extern const char kViewerStyle[];
extern const char kViewerScript[];

}  // namespace trackvideo

#endif  // TRACKVIDEO_SINKS_HTML_VIEWER_H
