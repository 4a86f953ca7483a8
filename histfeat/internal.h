// histfeat's functions that only its own units and the tests call: the parts
// of a record (counting, normalising, formatting), the box list, and the checks
// made before an input is read or an output replaced. The types are those of
// record.h; failures are returned as text, as everywhere in histfeat.

#ifndef HISTFEAT_INTERNAL_H
#define HISTFEAT_INTERNAL_H

#include "histfeat/record.h"

#include <sys/stat.h>

#include <iosfwd>
#include <streambuf>
#include <string>
#include <vector>

namespace histfeat {

// --- Box list (box_list.cpp) ----------------------------------------------------

// Parses a whole token as a decimal int (optional sign); false for anything else,
// including values outside the range of int.
bool parse_int(const std::string& token, int& value);

// Reads the next four whitespace-separated tokens of `in` as x1 y1 x2 y2. On
// failure returns the reason ("fewer than twelve integers", "item 7 ('3.5') is
// not an integer", items counted from 1 over the whole list, the token quoted),
// else "". Every item is a whole token (parse_int) except the twelfth, the last
// of the list, of which an int prefix is enough ("230xyz" reads 230).
// `box_index` (0-based) numbers the items.
std::string read_box(std::istream& in, int box_index, box& out);

// A token as messages quote it: between single quotes, bytes outside printable
// ASCII as '?', cut to 40 bytes with "..." after the quote.
std::string quote_token(const std::string& token);

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

// --- Inputs (input_file.cpp) -------------------------------------------------------

// "" when `st` is a regular file, else why it is not read or replaced: a device
// such as /dev/zero may never end and a FIFO may never start.
std::string not_regular(const struct stat& st);

// Opens `path` for reading without waiting (O_NONBLOCK) and accepts it only when
// the open file is a regular file: "" with `fd` open and `st` its state, else
// "cannot open PATH: <reason>" with nothing left open.
std::string open_regular(const std::string& path, int& fd, struct stat& st);

// A read buffer over a descriptor it owns (closed by the destructor), for an
// std::istream. Read errors end the input like its end.
class fd_reader : public std::streambuf {
 public:
  explicit fd_reader(int fd) : fd_(fd) {}
  ~fd_reader() override;
  fd_reader(const fd_reader&) = delete;
  fd_reader& operator=(const fd_reader&) = delete;

 protected:
  int_type underflow() override;

 private:
  int fd_;
  char buffer_[1 << 16];
};

// --- Outputs (atomic_file.cpp) ------------------------------------------------------

// The checks atomic_file::open makes before creating anything: "" when `path`
// may be replaced, else "cannot write PATH: <reason>". `target` (when given)
// receives where the rename goes: the link's target for a link to a regular file.
std::string check_output(const std::string& path, const std::vector<std::string>& inputs,
                         std::string* target = nullptr);

}  // namespace histfeat

#endif  // HISTFEAT_INTERNAL_H
