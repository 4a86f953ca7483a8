// trackvideo/evaluation/mot_rows.h - the rows of a ground-truth or tracker
// file as the benchmark's official evaluation reads them, for scoring.
//
// What it is
//   Unlike the tracks file (tracks.h), nothing is rounded to pixels and no row
//   is dropped: boxes keep the coordinates as written, and ground-truth rows
//   of every class and flag are kept, because the scoring needs them all
//   (zero-marked and distractor rows still cover a tracker's boxes).
//
//   Ground truth  frame,id,left,top,width,height,flag,class[,visibility,...]
//   tracker       frame,id,left,top,width,height[,conf[,class,...]]
//   Columns after the eighth are not read. Fields are separated as in the
//   tracks file: a comma (blanks around it allowed) or blanks and tabs; a
//   line may end in CRLF; blank lines are skipped; one UTF-8 byte-order mark
//   and one header line (the first non-blank line whose first field does not
//   start like a number) are skipped. A file without rows is accepted: a
//   tracker that found nothing, or a sequence without ground truth.
//
//   Fields are plain decimals (an optional sign, digits with an optional
//   fraction, an optional exponent; no inf, nan or hexadecimal).
//   frame, id, class  integers of common::parse_integer's grammar, or reals
//                     cut toward zero ("7.0" and "7.9" are 7) as the official
//                     evaluation reads them
//   frame             in 1..seq_length
//   id                in 0..INT_MAX (negative ids, detections without a
//                     track, are refused: they cannot be scored)
//   flag              a real; the row is zero-marked when it cuts to 0
//   class             kept as cut, clamped to the int range; a tracker row's
//                     class, when it has an 8th column, must be <= 1
//                     (pedestrians; the usual -1 of unused columns passes).
//                     Ground-truth classes are checked by the scoring, which
//                     refuses one outside 1..13 only in frames it matches.
//   An id twice in one frame is refused (ground truth: whatever the rows'
//   classes and flags).
//
// Data: rows in file order, `line` their line in the file (from 1).
// Cost: O(n + Σ k log k) for n rows, k per frame (the duplicate check sorts
// each frame's ids); 48 bytes per row.
// Failure: "" on success, otherwise "FILE:LINE: what is wrong" (or "FILE:
// <reason>" when the file cannot be read), FILE and fields shown as
// tracks.h shows them; `out` is then unspecified.
#ifndef TRACKVIDEO_EVALUATION_MOT_ROWS_H
#define TRACKVIDEO_EVALUATION_MOT_ROWS_H

#include <string>
#include <vector>

namespace trackvideo {
namespace evaluation {

enum class mot_kind { ground_truth, tracker };

struct mot_row {
  int frame;                        // 1..seq_length
  int id;                           // >= 0
  double left, top, width, height;  // as written
  int cls;                          // ground truth: its class; tracker: 1 without one
  bool zero_marked;                 // ground truth: flag cut to 0; tracker: false
  int line;                         // from 1
};

struct mot_rows {
  std::string file;  // the name messages give
  mot_kind kind = mot_kind::tracker;
  std::vector<mot_row> rows;  // in file order
};

// Parses the text of a file; `name` is the file name used in messages.
std::string parse_mot_rows(const std::string& text, const std::string& name, mot_kind kind,
                           int seq_length, mot_rows& out);
// Reads and parses the file at `path` (regular files only).
std::string read_mot_rows(const std::string& path, mot_kind kind, int seq_length, mot_rows& out);

// "FILE:LINE: " for a row of `rows`, as every message about it starts.
std::string row_place(const mot_rows& rows, int line);

}  // namespace evaluation
}  // namespace trackvideo

#endif  // TRACKVIDEO_EVALUATION_MOT_ROWS_H
