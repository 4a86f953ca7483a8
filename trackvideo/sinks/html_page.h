// trackvideo/sinks/html_page.h - the page of a run's encounters (--html DIR): one
// self-contained HTML file and a thumbnail picture per encounter.
//
// What it is
//   The page (DIR/index.html) is one HTML5 file in UTF-8 with its style and its
//   small script inline; it loads nothing but the thumbnails beside it, by
//   relative names, so the folder can be moved, copied or opened from disk. It
//   shows the run's title and figures and the encounters table with every
//   column of the encounters CSV, plus a thumbnail of each encounter's closest
//   pair; clicking a column header sorts the rows by that column (numbers,
//   ascending, descending on a second click, ties keeping their order). Rows
//   where a track starts or ends are marked. Everything that comes from outside
//   (the title, any text) is escaped. Above the table, the viewer
//   (html_viewer.h): the run's overlay video, a timeline of the tracks and
//   encounters, an id filter; a click on a row shows its closest frame.
//
//   A thumbnail is the area around the two boxes of the pair that reached the
//   encounter's smallest box distance (box_a, box_b), cut from the frame of
//   that pair as the overlay draws it, and scaled for the table: a crop whose
//   larger side exceeds kThumbnailMax is shrunk to that side (INTER_AREA); one
//   whose larger side is under kThumbnailMin is enlarged by the smallest whole
//   factor that reaches it (INTER_NEAREST), so each of its pixels becomes a
//   square block and no colour is made up: a one-pixel outline stays exactly
//   the track's colour. Whole factors from a crop of at least 1 pixel keep
//   the larger side under kThumbnailMin * 2 <= kThumbnailMax.
//
// Ownership and cost
//   Nothing here keeps anything: every function returns a new value.
//   thumbnail_name, thumbnail_area, thumbnail_size O(1); encounter_thumbnail O(pixels of the
//   crop and of the thumbnail); html_page O(encounters + title), one string.
//
// Errors
//   None of these fails: what they take is already checked by the run.
#ifndef TRACKVIDEO_SINKS_HTML_PAGE_H
#define TRACKVIDEO_SINKS_HTML_PAGE_H

#include <opencv2/core.hpp>

#include <string>
#include <utility>
#include <vector>

#include "trackvideo/sinks/encounters.h"
#include "trackvideo/sinks/html_viewer.h"
#include "trackvideo/sinks/switches.h"

namespace trackvideo {

// The bounds of a thumbnail's larger side (see above).
constexpr int kThumbnailMax = 240;
constexpr int kThumbnailMin = 96;
// The margin around the boxes: a quarter of the larger side of their union,
// at least kThumbnailMargin pixels.
constexpr int kThumbnailMargin = 16;

// The file name of e's thumbnail: "enc_<id_a>_<id_b>_<first_frame>.png", ids
// in decimal with their sign ("enc_-3_7_12.png"). Unique per encounter, since
// the encounters of two tracks never share a first frame.
std::string thumbnail_name(const encounter& e);

// The area of a frame_width x frame_height frame that e's thumbnail shows:
// the union of what lies in the frame of box_a and of box_b (inclusive
// corners), grown by the margin on every side and clipped to the frame. A
// box wholly outside the frame adds nothing; when neither has a pixel in the
// frame, the whole frame. Any int corners (computed in 64 bits). Empty only
// when the frame is (a width or height <= 0).
cv::Rect thumbnail_area(int frame_width, int frame_height, const encounter& e);
// The same around boxes a and b, either nullptr for none (switches.h's
// pictures, where a tracker id may have no box in the frame).
cv::Rect thumbnail_area(int frame_width, int frame_height, const track_box* a, const track_box* b);

// The size of the thumbnail of an area of that size (see above); empty for
// an empty area.
cv::Size thumbnail_size(cv::Size area);

// e's thumbnail: thumbnail_area of `drawn_frame` (the frame of e.min_l1_frame
// with the overlay drawn), copied and scaled as described above; same type as
// the frame. An empty frame gives an empty picture.
cv::Mat encounter_thumbnail(const cv::Mat& drawn_frame, const encounter& e);
// `area` (inside the frame) of a drawn frame, copied and scaled the same way.
cv::Mat cut_thumbnail(const cv::Mat& drawn_frame, cv::Rect area);

// The most thumbnails a page gets unless --thumbnails says otherwise: a page
// of many thousand encounters stays quick to make and to open.
constexpr long long kDefaultThumbnails = 1000;

// Which encounters get a thumbnail when at most `cap` may: the first `cap`
// by risk (those where a track starts or ends first, then the smaller
// min_l1, then the order given). Per encounter of `encounters`, in its order.
// A function of the encounters' ids, frames, min_l1 and flags alone, so that
// the drawing and the page, each with its own list of the same encounters,
// choose the same. O(e log e).
std::vector<bool> thumbnail_choice(const std::vector<encounter>& encounters, long long cap);

// The run's figures the page shows above the table.
struct page_summary {
  std::string title;    // any bytes (a file name): escaped; shown as the heading
  int frames = 0;       // frames read
  int tracks = 0;       // distinct ids
  long long boxes = 0;  // rows of the tracks file used
  long long pairs = 0;  // candidate pairs over all frames
  // Per encounter (in the order given to html_page): the size of its
  // thumbnail, each <img> then getting its width and height so that rows keep
  // their height while thumbnails load; an empty size for an encounter left
  // without one by the cap (its cell then says so). No entries: every
  // encounter has a thumbnail, of a size not given.
  std::vector<cv::Size> thumbnails = {};
  long long thumbnail_cap = kDefaultThumbnails;  // said when some are left out
  // The viewer (html_viewer.h): the video beside the page ("" for none) and
  // its frame rate, and the tracks' spans in ascending id (none: no viewer).
  std::string video = {};
  double fps = 0;
  std::vector<track_span> spans = {};
  // The evaluation's identity switches (switches.h), when the run evaluates:
  // a mark each on the timeline, a figure above, and their section after the
  // encounters; with `switch_table` (--events) their table, each row with the
  // sizes of its two pictures in `switch_pictures` (as `thumbnails` above).
  bool evaluated = false;
  std::vector<page_switch> switches = {};
  bool switch_table = false;
  std::vector<std::pair<cv::Size, cv::Size>> switch_pictures = {};
  // The number outputs give frame 1 (tracks::shown_frame(1): 0 for KITTI);
  // the viewer numbers frames and spans so, as the table does.
  int first = 1;
};

// The whole page, given the encounters in the order to show them first (the
// run's: by first_frame, id_a, id_b). With spans, the viewer first (frames 1
// .. s.frames). Each encounter is one row of the table (class "risk" when
// e.at_risk(), data-frame and data-ids as html_viewer.h says), whose
// thumbnail is thumbnail_name(e); with
// none, a line saying so in place of the table; with encounters left without
// a thumbnail, a line saying how many and why. Cells as in the encounters
// table's file: floats as "%.6f" (NaN, no histograms, as an empty cell, sorted
// last), flags as 0 or 1. When evaluated, switches_html after the table.
std::string html_page(const page_summary& s, const std::vector<encounter>& encounters);

// What the dataset's page (run/batch_index.h) shares with this one: the
// document's start up to its <title> (`title` already escaped, `policy` the
// content security policy), the style sheet (<style> element), and the script (<script> element)
// that sorts the rows of the first tbody of the table of id `table_id` (letters, digits, '-' and
// '_' only) by a clicked header marked data-sort, as the encounters table sorts: numbers ascending,
// descending on a second click, cells without a number last (text for a header marked
// data-sort="text"), ties in the order they had.
std::string page_head(const std::string& title, const char* policy);
const char* page_style();
std::string sort_script(const std::string& table_id);

// Appends a table cell with the picture `name` beside the page (lazy, `alt`
// its text), of `size` when given (width > 0), "no picture" for an empty
// size (one the cap left out).
void thumbnail_cell(std::string& out, const std::string& name, const std::string& alt,
                    cv::Size size);

// `text` with &, <, >, " and ' replaced by character references, for text and
// quoted attribute values alike, and control bytes other than tab and newline
// by U+FFFD; other bytes as they are (a title that is not valid UTF-8 shows
// replacement characters but cannot break the page).
std::string html_escape(const std::string& text);

}  // namespace trackvideo

#endif  // TRACKVIDEO_SINKS_HTML_PAGE_H
