// trackvideo/input/kitti_tracks.h - the tracks of a KITTI tracking label or
// results file (--format kitti): one row per object and frame,
//   frame id type truncated occluded alpha left top right bottom
//   height width length x y z rotation_y [score]
// separated by blanks, frames counted from 0.
//
// What it is
//   The same tracks as tracks.h's rows give, from KITTI's layout: row
//   (frame k, left, top, right, bottom) is the box (left, top, right - left,
//   bottom - top) of frame k + 1 (the right and bottom edges exclusive), and
//   the tracks carry first_frame_number 0, so that every output numbers the
//   frames as the file does. Frame k is the (k+1)-th image of the frames'
//   folder in natural order.
//
//   A line holds 17 fields, or 18 with a score; blanks and tabs separate
//   them, a line may end in CRLF, blank lines are skipped; no header.
//   frame   an integer >= 0 (of the one grammar of common/tokens.h)
//   id      an integer >= 0; -1 only in DontCare rows
//   type    one of kKittiTypes, compared without regard to case
//   the rest plain decimals (tracks.h); right >= left and bottom >= top
//   DontCare rows (areas left unlabelled) are checked, then left out; so are
//   rows whose type the rules do not keep (rules.types; all_classes keeps
//   every type). The counts of both are kept (ignored_flag: DontCare,
//   ignored_class: other types).
//
// Cost: O(n log n) for n rows, as tracks.h. Failure: "" or "FILE:LINE: what
// is wrong" ("FILE: no rows" when nothing is kept), FILE and fields shown as
// tracks.h shows them; `out` is then unspecified.
#ifndef TRACKVIDEO_INPUT_KITTI_TRACKS_H
#define TRACKVIDEO_INPUT_KITTI_TRACKS_H

#include <string>
#include <vector>

#include "trackvideo/input/tracks.h"

namespace trackvideo {

// The types of KITTI's tracking labels, as its files spell them.
extern const char* const kKittiTypes[10];
// The types --classes keeps for KITTI unless told otherwise.
constexpr const char* kKittiDefaultTypes = "Car,Pedestrian";

// Reads --classes for KITTI: "all", or type names separated by commas (any
// case), into rules.types (lower case). "" or what is wrong.
std::string parse_kitti_types(const std::string& text, gt_rules& rules);

// A row as written, unrounded (the scoring's, evaluation/, reads these).
struct kitti_row {
  int frame;                        // the file's frame + 1, as tracks number frames
  int id;                           // >= 0; -1 only in DontCare rows
  std::string type;                 // one of kKittiTypes, lower case
  double truncated, occluded;       // as written
  double left, top, right, bottom;  // as written: right >= left, bottom >= top
  double score;                     // the 18th field, 1 when there is none
  int line;                         // from 1
};
// Every row of a KITTI file in file order, DontCare and every type included,
// checked as above but for the rounding of boxes. "" or "FILE:LINE: ...".
std::string parse_kitti_rows(const std::string& text, const std::string& name,
                             std::vector<kitti_row>& out);

// Parses the text of a KITTI file into tracks; `name` names it in messages.
std::string parse_kitti_tracks(const std::string& text, const std::string& name,
                               const gt_rules& rules, tracks& out);
// Reads and parses the file at `path` (regular files only).
std::string read_kitti_tracks(const std::string& path, const gt_rules& rules, tracks& out);
// The note of the rows left out, "FILE: N rows ignored (D DontCare, T of
// other types)", FILE shown as in messages.
std::string kitti_ignored_message(const tracks& t);

}  // namespace trackvideo

#endif  // TRACKVIDEO_INPUT_KITTI_TRACKS_H
