// histfeat's functions that only its own units and the tests call: the parts
// of a record (counting, normalising, formatting) and the box list. The types
// are those of record.h; failures are returned as text, as everywhere in
// histfeat.

#ifndef HISTFEAT_INTERNAL_H
#define HISTFEAT_INTERNAL_H

#include "histfeat/record.h"

#include <iosfwd>
#include <string>
#include <vector>

namespace histfeat {

// --- Box list (box_list.cpp) ----------------------------------------------------

// Reads the next four whitespace-separated tokens of `in` as x1 y1 x2 y2. On
// failure returns the reason ("fewer than twelve integers", "item 7 ('3.5') is
// not an integer", items counted from 1 over the whole list, the token quoted),
// else "". Every item is a whole token (common::parse_int_token) except the twelfth, the last
// of the list, of which an int prefix is enough ("230xyz" reads 230).
// `box_index` (0-based) numbers the items.
std::string read_box(std::istream& in, int box_index, box& out);

// --- Histograms (counting.cpp) ----------------------------------------------------

// Number of samples of `plane` in `selection` that fall in each of `bins` uniform
// bins over 0..255. Precondition: `selection` lies inside the plane; bins
// divides 256. Counted in 64-bit integers, so exact for any box size.
// O(width * height): one increment per sample.
std::vector<double> bin_counts(const sample_plane& plane, const region& selection, int bins);

// The value of a bin holding `count` of `total` samples: the float nearest to
// count * (kHistogramSum / total), computed in double. total > 0.
float normalised_bin(double count, double total);

// `rhist`, `ghist` and `bhist` of one box: channels 0, 1, 2 over the selection,
// 32, 32 and 16 bins, normalised. The second form reuses the vectors of `into`
// (no allocation once they have their sizes). O(area of the selection).
histograms box_histograms(const frame_planes& planes, const region& selection);
void box_histograms(const frame_planes& planes, const region& selection, histograms& into);

// --- Records (record.cpp) -------------------------------------------------------

// One record, line feed included: "x1 x2 y1 y2 " then 24 + 24 + 16 values "%f ".
// append_record adds it to the end of `text`. Each value prints as "%f" would
// print it (correctly rounded, ties to even), without calling printf for the
// values in [0, 1), which are all that a record normally holds.
std::string format_record(const box& b, const histograms& h);
void append_record(std::string& text, const box& b, const histograms& h);

// Appends the decimal digits of `value` (as "%d").
void append_int(std::string& text, int value);

}  // namespace histfeat

#endif  // HISTFEAT_INTERNAL_H
