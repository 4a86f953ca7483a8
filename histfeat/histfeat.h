// histfeat: colour histograms of three boxes of one frame, written as the
// records of a detection file.
//
// One run reads a colour image ("v200.jpg") and three boxes ("pos.txt", twelve
// integers x1 y1 x2 y2 ...) and writes "objects_info_1.txt":
//
//   3
//   x1 x2 y1 y2 r0 .. r23 g0 .. g23 b0 .. b15      one record per box, input order
//
// every item followed by one blank, so a record is 68 items and ends with a blank
// before the line feed. Note the corner order: both x values first. The
// histograms are taken over the image's channels 0, 1 and 2 (blue, green and red
// of a JPEG, held in the planes named `red`, `green` and `blue`), with 32, 32 and
// 16 uniform bins over the samples 0..255; each is scaled so that all of its bins
// sum to 0.333, and the first 24 of the 32-bin histograms are written.
//
// Exact values. Sample v falls in bin floor(v * N / 256) of an N-bin histogram
// (255 in the last bin); a bin holds the float nearest to count * (0.333 / total),
// product and quotient in double precision, total being the number of samples
// counted in the box; it is printed with "%f" from that float widened to double.
//
// Boxes. x counts columns, y rows; corners are inclusive. A box partly outside
// the image is clipped to it (the record still carries the box as read); a box
// with x2 < x1 or y2 < y1, or wholly outside the image, fails the run.
//
// Failure. A failed run writes one line "histfeat: <what is wrong>" to the error
// stream, returns 1 and leaves an existing output file as it was: the output is
// written to a temporary file beside it and renamed over it only on success.
//
// Nothing here keeps state between calls; the planes are views the caller owns.
// OpenCV does the image work but stays out of this header.

#ifndef HISTFEAT_HISTFEAT_H
#define HISTFEAT_HISTFEAT_H

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace histfeat {

constexpr int kBoxCount = 3;            // boxes read from the box list, records written
constexpr int kColourBins = 32;         // bins of `rhist` and `ghist`
constexpr int kWrittenColourBins = 24;  // of which the first 24 are written
constexpr int kBlueBins = 16;           // bins of `bhist`, all written
constexpr double kHistogramSum = 0.333;

// One box as read: inclusive corners, x the column and y the row.
struct box {
  int x1, y1, x2, y2;
};

// A region of interest: top-left corner and size in pixels, width and height >= 1.
struct region {
  int x, y, width, height;
};

// A read-only view of one plane of 8-bit samples: sample (row, column) is
// data[row * stride + column]. The caller owns the samples.
struct sample_plane {
  const std::uint8_t* data;
  int width, height;
  std::size_t stride;
};

// The planes of one frame, all of the same size. `mask` selects the samples that
// count: 255 everywhere in a run, so every sample of a box counts.
struct frame_planes {
  sample_plane red, green, blue, mask;
};

// The three normalised histograms of one box (all bins, not only the written ones).
struct histograms {
  std::vector<float> rhist, ghist, bhist;
};

// --- Box list -----------------------------------------------------------------

// Parses a whole token as a decimal int (optional sign); false for anything else,
// including values outside the range of int.
bool parse_int(const std::string& token, int& value);

// Reads the next four whitespace-separated tokens of `in` as x1 y1 x2 y2. On
// failure returns the reason ("fewer than twelve integers", "item 7 ('3.5') is
// not an integer", items counted from 1 over the whole list), else "".
// `box_index` (0-based) only numbers the items.
std::string read_box(std::istream& in, int box_index, box& out);

// The box's region clipped to a width x height image, or nothing when the box
// lies wholly outside it. Precondition: x1 <= x2 and y1 <= y2. Works for any int
// corners (no overflow).
std::optional<region> clip_box(const box& b, int width, int height);

// --- Histograms ---------------------------------------------------------------

// Number of samples of `plane` in `selection` that fall in each of `bins` uniform
// bins over 0..255, counting only samples whose `mask` sample is non-zero (nullptr:
// all). Precondition: `selection` lies inside the plane (and the mask, same size);
// bins divides 256. Exact for any box size: OpenCV counts in float, so the region
// is counted in tiles of at most 2^24 samples. O(width * height).
std::vector<double> bin_counts(const sample_plane& plane, const sample_plane* mask,
                               const region& selection, int bins);

// The value of a bin holding `count` of `total` samples: the float nearest to
// count * (kHistogramSum / total), computed in double. total > 0.
float normalised_bin(double count, double total);

// Every bin normalised against the sum of all bins; all zeros when nothing counted.
std::vector<float> normalise(const std::vector<double>& counts);

// `rhist`, `ghist` and `bhist` of one box: channels 0, 1, 2 over the selection,
// 32, 32 and 16 bins, normalised.
histograms box_histograms(const frame_planes& planes, const region& selection);

// --- Records ------------------------------------------------------------------

// One record, line feed included: "x1 x2 y1 y2 " then 24 + 24 + 16 values "%f ".
std::string format_record(const box& b, const histograms& h);

// Writes `text` to a temporary file in the directory of `path` and renames it to
// `path`. On failure returns the reason and leaves `path` untouched, else "".
// The file gets the permissions a newly created file would (0666 less umask).
std::string write_file_replacing(const std::string& path, const std::string& text);

// --- The program --------------------------------------------------------------

// Sets the SSE unit to flush denormal results to zero and to read denormal
// inputs as zero, where the processor has SSE; otherwise does nothing.
void enable_flush_to_zero();

// The whole run: loads `image_file`, reads three boxes from `boxes_file` (each
// echoed to `out` as "x1 y1 x2 y2\n" right after it is read, before it is checked,
// so a failed run has echoed the boxes read so far), writes the records to
// `output_file`. Returns 0, or 1 after one line "histfeat: ..." on `err`. Cost:
// one decode and split of the image, O(area) per box; records are built in memory.
int run(const std::string& image_file, const std::string& boxes_file,
        const std::string& output_file, std::ostream& out, std::ostream& err);

}  // namespace histfeat

#endif  // HISTFEAT_HISTFEAT_H
