// trackpair/association.h - the association driver: command line, reading
// pass, report pass, and the histogram distance beside them.
//
// What it is
//   trackpair num_of_objects num_of_frames reads one detection file per
//   object q (0-based) and frame index r (1 .. F-1; frame number r+1 in the
//   file name, so the file of frame number 1 is never read), stores every box
//   in one dictionary keyed by (q, r, s), s the detection index, and prints
//   for each detection the detections of the other objects in the same frame
//   whose boxes lie within an L1 distance below 80.
//
// Data
//   node_num[q][r]   detections read for object q, frame index r. The reading
//                    pass sets every entry it visits, the report pass reads
//                    only those, so the passes can run again with new files.
//   box_dictionary   key (q, r, s) -> box (b1, b3, b2, b4) for the file's
//                    b1 b2 b3 b4 (x1 x2 y1 y2 as histfeat writes them, stored
//                    as x1 y1 x2 y2). Owned by the caller of the passes.
//
// Output (standard output), one line per detection, in (q, r, s) order:
//   "q r s " then "a b " for every candidate (a != q, same r) in increasing
//   a and b, then "\n". Every line ends with a blank before the newline.
//
// Failure
//   Bad input (arguments, files, records) stops the program before the report
//   pass with one line "trackpair: <what is wrong>" on standard error and
//   status 1; nothing is printed on standard output. A failed write of the
//   report gives "trackpair: cannot write the report: <reason>" and status 1.
//   Dictionary faults go to the library's error_handler.
#ifndef TRACKPAIR_ASSOCIATION_H
#define TRACKPAIR_ASSOCIATION_H

#include <cstdio>
#include <string>

#include "tavo/dictionary.h"

namespace trackpair {
// Limits of the program, fixed by the size of node_num.
constexpr int max_objects = 100;
constexpr int max_frames = 500;
}  // namespace trackpair

// Detection counts per [object][frame index]; zero at program start.
extern int node_num[trackpair::max_objects][trackpair::max_frames];

// Sum of |a[i] - b[i]| for i < n: each term in double, added into a float sum
// that is rounded to single precision after every addition. n <= 0 gives 0.
// The association does not use it.
float compare_hist(float* a, float* b, int n);

namespace trackpair {

using box_key = tavo_three_tuple<int, int, int>;
using box_info = tavo_four_tuple<int, int, int, int>;
using box_dictionary = tavo_dictionary<box_key, box_info>;

// Boxes at an L1 distance below this are candidates of each other.
constexpr long long candidate_distance = 80;

// Exact L1 distance of two boxes: the four differences and their sum are taken
// in 64 bits, so any int values give the true distance (at most 4 * (2^32-1)).
long long box_distance(const box_info& x, const box_info& y);

// "objects_info_h<q+1>_<r+1>.txt", the detection file of object q, frame index r.
std::string detection_file_name(int q, int r);

// Checks a command-line count: a whole decimal number (see parse_int_token)
// no greater than `limit`. `what` names the argument in the message, e.g.
// "num_of_objects '5x' is not a whole number" or "num_of_frames 501 exceeds
// 500". Returns false with that message in `error`.
bool parse_count_argument(const char* what, const char* text, int limit, int& value,
                          std::string& error);

// Reading pass. For q < objects and 1 <= r < frames, in that order, reads the
// file of (q, r) from the current directory, sets node_num[q][r] to its count
// N and inserts its boxes with keys (q, r, 0 .. N-1). Preconditions:
// objects <= max_objects, frames <= max_frames, none of the keys in `boxes`.
// Stops at the first bad file with, in `error`, the file name and what is
// wrong ("objects_info_h1_2.txt: record 4: 'abc' is not a number"); that
// file's count stays 0 and none of its boxes is inserted. Cost: the size of
// the files plus O(log n) per detection.
bool read_detections(int objects, int frames, box_dictionary& boxes, std::string& error);

// Report pass over what read_detections stored for the same objects and
// frames: prints the candidate lines on `out`. The boxes are gathered by one
// walk over the dictionary in key order; each frame is then searched on its
// own (sorted by a coordinate sum, see association.cpp), and the lines are
// built in a buffer and written in large blocks. Cost: O(n) for the walk,
// O(m log m) per frame of m detections for its sort, plus the comparisons of
// boxes whose coordinate sums differ by less than the limit (all pairs of a
// frame only when every box of it lies that close). Memory: O(n + the number
// of candidates listed). Returns false at the first write that fails, with
// errno telling why; the stream itself is not flushed here.
bool report_candidates(int objects, int frames, const box_dictionary& boxes, std::FILE* out);

// report_candidates keeps each candidate as one 32-bit word while every
// detection count is below 2^25, and as a 64-bit word otherwise. This is the
// same pass with 64-bit words always, so that tests can run that path on
// small inputs.
bool report_candidates_wide(int objects, int frames, const box_dictionary& boxes, std::FILE* out);

// The whole program on the given streams: usage text for argc <= 2 (with
// argv[0], status 0), argument checks, both passes, the final flush. Returns
// the exit status (0, or 1 after a one-line message on `err`).
int trackpair_main(int argc, char** argv, std::FILE* out, std::FILE* err);

}  // namespace trackpair

#endif  // TRACKPAIR_ASSOCIATION_H
