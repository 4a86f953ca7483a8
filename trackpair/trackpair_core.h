// trackpair/trackpair_core.h - candidate pairs of detections: detections of
// (object, frame) in, candidate lists per detection out.
//
// What it is
//   Two boxes of different objects in the same frame are candidates of each
//   other when their exact L1 distance is below a radius. This module finds
//   them for a whole dictionary of boxes (the report trackpair prints) or for
//   one frame (for callers that hold a frame at a time). It knows nothing of
//   where the boxes came from: no files, no limits on objects or frames.
//
// Ownership and validity
//   Nothing here keeps a pointer to its arguments after returning; the
//   dictionary is only read. Memory is O(boxes) and does not depend on the
//   number of candidates: the report is streamed as it is found.
//
// Cost
//   Each frame of m boxes is sorted once by u = x1 + y1 + x2 + y2 (O(m log m));
//   a box is then compared only with the boxes whose u lies within the radius
//   (|du| <= the L1 distance), and of those only the ones whose
//   v = (x1 + x2) - (y1 + y2) also does get the exact test.
//
// Failure
//   No exception leaves these functions. Both return what is wrong as one
//   line without the program's name ("" on success); running out of memory
//   is "out of memory".
#ifndef TRACKPAIR_TRACKPAIR_CORE_H
#define TRACKPAIR_TRACKPAIR_CORE_H

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "tavo/dictionary.h"

namespace trackpair {

using box_key = tavo_three_tuple<int, int, int>;       // (object q, frame index r, detection s)
using box_info = tavo_four_tuple<int, int, int, int>;  // (x1, y1, x2, y2)
using box_dictionary = tavo_dictionary<box_key, box_info>;

// Boxes at an L1 distance below this are candidates of each other.
constexpr long long candidate_distance = 80;

// Exact L1 distance of two boxes: the differences and their sum are taken in
// 64 bits, so any int values give the true distance (at most 4 * (2^32 - 1)).
long long box_distance(const box_info& x, const box_info& y);

// The candidate report over every entry of `boxes` with frame index
// r >= first_frame: per detection in key order the line "q r s ", then "a b "
// for each detection (a, r, b) of another object a != q of the same r with
// box_distance < radius, in increasing (a, b), then "\n". Keys must be
// (q, r, s) with s = 0 .. N-1 per (q, r); q and r may be any ints. Flushes
// `out` at the end. Cost: one walk of the dictionary, the frame sorts and the
// pairs examined; memory O(entries). Returns "" or "cannot write the report:
// <reason>" (the lines written before stay written), or "out of memory".
std::string write_report(const box_dictionary& boxes, int first_frame, long long radius,
                         std::FILE* out);

// Every candidate pair of one frame once. boxes[q] holds object q's boxes of
// that frame in detection order (q = 0 .. boxes.size()-1; empty vectors
// allowed). Calls visit(q, s, a, b, distance) for every pair with q < a and
// distance < radius, in increasing (q, s, a, b). O(m log m) plus the pairs
// examined, for m boxes. Returns "" or "out of memory" (also when `visit`
// throws std::bad_alloc; the visits stop there). Any other exception of
// `visit` is the caller's to avoid.
std::string frame_pairs(
    const std::vector<std::vector<box_info>>& boxes, long long radius,
    const std::function<void(int q, int s, int a, int b, long long distance)>& visit);

}  // namespace trackpair

#endif  // TRACKPAIR_TRACKPAIR_CORE_H
