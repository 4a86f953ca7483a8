// histfeat's functions that only its own units and the tests call: the parts
// of a record (counting, normalising, formatting) and of the box list. The
// types and the cost model are those of record.h.

#ifndef HISTFEAT_INTERNAL_H
#define HISTFEAT_INTERNAL_H

#include "histfeat/record.h"

#include <sys/stat.h>

#include <iosfwd>
#include <string>
#include <vector>

namespace histfeat {

// --- Box list (box_list.cpp) ----------------------------------------------------

// Parses a whole token as a decimal int (optional sign); false for anything else,
// including values outside the range of int.
bool parse_int(const std::string& token, int& value);

// Reads the next four whitespace-separated tokens of `in` as x1 y1 x2 y2. On
// failure returns the reason ("fewer than twelve integers", "item 7 ('3.5') is
// not an integer", items counted from 1 over the whole list), else "".
// `box_index` (0-based) only numbers the items.
std::string read_box(std::istream& in, int box_index, box& out);

// --- Histograms (counting.cpp) ----------------------------------------------------

// Number of samples of `plane` in `selection` that fall in each of `bins` uniform
// bins over 0..255, counting only samples whose `mask` sample is non-zero (nullptr:
// all). Precondition: `selection` lies inside the plane (and the mask, same size);
// bins divides 256. Counted in 64-bit integers, so exact for any box size.
// O(width * height): one increment per sample, after one scan of the mask over
// the selection for a zero (without one, the mask is not read again).
std::vector<double> bin_counts(const sample_plane& plane, const sample_plane* mask,
                               const region& selection, int bins);

// The value of a bin holding `count` of `total` samples: the float nearest to
// count * (kHistogramSum / total), computed in double. total > 0.
float normalised_bin(double count, double total);

// Every bin normalised against the sum of all bins; all zeros when nothing counted.
std::vector<float> normalise(const std::vector<double>& counts);

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

// --- Files (atomic_file.cpp) ------------------------------------------------------

// "" when `st` is a regular file, else why it is not read or replaced: a device
// such as /dev/zero may never end and a FIFO may never start.
std::string not_regular(const struct stat& st);

// The checks atomic_file::open makes before creating anything: "" when `path`
// may be replaced, else "cannot write PATH: <reason>". `target` (when given)
// receives where the rename goes: the link's target for a link to a regular file.
std::string check_output(const std::string& path, const std::vector<std::string>& inputs,
                         std::string* target = nullptr);

}  // namespace histfeat

#endif  // HISTFEAT_INTERNAL_H
