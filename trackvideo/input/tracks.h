// trackvideo/input/tracks.h - the tracks file: one row per box,
// "frame,id,left,top,width,height[,more columns]".
//
// What it is
//   The whole file read and checked at once, before any frame is decoded, and
//   turned into the boxes the rest of the program walks frame by frame.
//   Columns are separated by a comma (blanks around it allowed) or by blanks
//   and tabs; columns after the sixth are ignored; a line may end in CRLF;
//   lines holding only blanks are skipped. One UTF-8 byte-order mark at the
//   start is skipped; so is one header line: the first line that is not
//   blank, when its first field does not start like a number (a digit, a
//   sign or a point), as "frame,id,left,...". A file without rows is refused.
//
//   Every field is a plain decimal: an optional sign, digits with an optional
//   fraction, an optional exponent ("7", "-2.5", ".5", "1e3"); no hexadecimal,
//   no inf or nan, no other byte. A field without fraction or exponent is an
//   integer of the one grammar of common/tokens.h, and read by it.
//   frame   an integer >= 1 ("7" or an integral real such as "7.0")
//   id      an integer >= 0 written the same ways; -1 (a detection without an
//           identity) is refused with "needs track ids"
//   left, top, width, height   finite reals
//
//   A box gets inclusive corners x1 = round(left), y1 = round(top),
//   x2 = round(left + width) - 1, y2 = round(top + height) - 1, rounding half
//   away from zero; every corner must fit an int and the box must not be empty
//   (x2 >= x1, y2 >= y1).
//
// Objects and detections
//   Objects are the distinct ids in ascending order: object q is ids[q].
//   The detections of one object in one frame are its rows of that frame in
//   file order, s = 0, 1, ...; objects may be absent from any frame.
//
// Ground truth
//   With gt_rules, a row needs 8 columns, the 7th a flag and the 8th a class
//   (plain decimals): a row whose flag is 0 is ignored, so is one whose class
//   is not in the rules' list (unless all_classes); only the first 8 columns
//   are read. An ignored row is checked as a kept one is (its fields and its
//   box), then left out: junk is refused wherever it is. The counts of
//   ignored rows are kept; the kept rows keep their lines in the file.
//
// Numbering
//   Frames are numbered from 1 inside the program, whatever the file's first
//   number (1 in these rows, 0 in KITTI's: kitti_tracks.h); every output
//   that prints a frame, or names a file by it, prints shown_frame(f).
//
// Data
//   boxes         at least one; sorted by (frame, object, det); det counts
//                 from 0 within (object, frame); line is the row's line in the
//                 file (from 1), after header_line.
//   last_frame    F, the largest frame of any row.
//   header_line   the line of the header skipped, 0 when there was none.
//   verify() checks the order, the det numbering, the object indices and
//   the lines.
//
// Cost: O(n log n) for n rows (one sort); memory 32 bytes per row plus the ids.
// Failure: "" on success, otherwise "FILE:LINE: what is wrong" (or "FILE:
// <reason>" when the file cannot be read or holds no rows); `out` is then
// unspecified. Field values in messages are quoted as tokens are (between
// single quotes, bytes outside printable ASCII as '?'); FILE is the name as
// given when all its bytes are printable ASCII, else quoted the same way.
#ifndef TRACKVIDEO_INPUT_TRACKS_H
#define TRACKVIDEO_INPUT_TRACKS_H

#include <string>
#include <vector>

namespace trackvideo {

// The id that marks a detection without an identity.
constexpr int kNoTrackId = -1;

struct track_box {
  int frame;           // >= 1
  int object;          // index into tracks::ids
  int det;             // 0-based within (object, frame)
  int line;            // line of the row in the tracks file, from 1
  int x1, y1, x2, y2;  // inclusive corners, x1 <= x2, y1 <= y2
};

// Which rows of a ground-truth file are kept (see above).
struct gt_rules {
  bool all_classes = false;
  std::vector<int> classes{1};  // kept classes when !all_classes; default pedestrian
  std::vector<std::string> types{"car", "pedestrian"};  // KITTI's kept types, lower case
};

struct tracks {
  std::string file;              // the name messages give
  std::vector<int> ids;          // ascending, distinct
  std::vector<track_box> boxes;  // sorted by (frame, object, det)
  int last_frame = 0;
  int header_line = 0;    // the line of the skipped header, 0 for none
  int ignored_flag = 0;   // rows ignored for a 7th column of 0 (ground truth)
  int ignored_class = 0;  // rows ignored for a class not kept (ground truth)
  int first_frame_number = 1;  // the file's number of frame 1: 1, or 0 (KITTI)

  // Frame f (from 1) as outputs number it: the file's own number.
  int shown_frame(int f) const { return f - 1 + first_frame_number; }

  // The object count O.
  int objects() const { return static_cast<int>(ids.size()); }
  // "" when every invariant above holds, else the first that does not. O(n).
  std::string verify() const;
};

// The inclusive corners of the box (left, top, width, height) into b, as
// above: "" or "the box does not fit the range of pixel coordinates", or
// kEmptyBox. Any reals.
extern const char kEmptyBox[];
// Whether `field` is a plain decimal (as above) of finite value, into `value`.
bool parse_decimal(const std::string& field, double& value);
std::string box_corners(double left, double top, double width, double height, track_box& b);
// Boxes read elsewhere (kitti_tracks.h) as `out`'s: on entry each box's
// `object` holds its row's id (>= 0); sets ids, objects, the order, dets and
// last_frame. Preconditions: at least one box, every frame >= 1. O(n log n).
void index_tracks(std::vector<track_box> boxes, tracks& out);
// The row, first in the file, of a frame after `last`; nullptr when none. O(n).
const track_box* first_row_after(const tracks& t, int last);

// Parses the text of a tracks file; `name` is the file name used in messages.
// With `rules`, the rows are ground truth, filtered as above (a file whose
// rows are all ignored is refused as holding no rows).
std::string parse_tracks(const std::string& text, const std::string& name, tracks& out,
                         const gt_rules* rules = nullptr);
// Reads and parses the file at `path`. Only regular files are read.
std::string read_tracks(const std::string& path, tracks& out, const gt_rules* rules = nullptr);
// The note of the rows the rules ignored, "FILE: N rows ignored (A with 7th
// column 0, B of other classes)", FILE shown as in messages.
std::string ignored_message(const tracks& t);
// The note a run gives when a header line was skipped, "FILE:LINE: skipped
// the header line" (FILE shown as in messages), or "" when none was.
std::string header_message(const tracks& t);

}  // namespace trackvideo

#endif  // TRACKVIDEO_INPUT_TRACKS_H
