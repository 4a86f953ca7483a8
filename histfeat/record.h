// The record of a box in an image: the line a detection file holds for one box,
// computed from the planes of a frame. Pure functions of their arguments; the
// planes are views the caller owns, and nothing is kept between calls.
//
// A record is "x1 x2 y1 y2 " (note the corner order: both x values first) and
// then the histograms of channels 0, 1 and 2 inside the box (planes `red`,
// `green` and `blue`: blue, green and red of a JPEG), with 32, 32 and 16 uniform
// bins over the samples 0..255, of which the first 24, 24 and all 16 are
// written, each value "%f " and the line ending in "\n".
//
// Exact values. Sample v falls in bin floor(v * N / 256) of an N-bin histogram
// (255 in the last bin); a bin holds the float nearest to count * (0.333 / total),
// product and quotient in double precision, total being the number of samples
// counted in the box; it is printed with "%f" from that float widened to double.
//
// Boxes. x counts columns, y rows; corners are inclusive. A box partly outside
// the image is clipped to it (the record still carries the box as read); a box
// with x2 < x1 or y2 < y1, or wholly outside the image, has no record.

#ifndef HISTFEAT_RECORD_H
#define HISTFEAT_RECORD_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace histfeat {

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

// The planes of one frame, all of the same size. Every sample of a box counts.
struct frame_planes {
  sample_plane red, green, blue;
};

// The three normalised histograms of one box (all bins, not only the written ones).
struct histograms {
  std::vector<float> rhist, ghist, bhist;
};

// The box's region clipped to a width x height image, or nothing when the box
// lies wholly outside it. Precondition: x1 <= x2 and y1 <= y2. Works for any int
// corners (no overflow). Constant time.
std::optional<region> clip_box(const box& b, int width, int height);

// Splits an interleaved 8-bit three-channel image (pixel p of row y at
// pixels + y * row_bytes + 3 * p, channels 0, 1, 2 in that order, as OpenCV
// decodes: blue, green, red) into the planes red = channel 0, green = channel 1,
// blue = channel 2, held in `storage` (resized to 3 bytes per pixel, reused
// between calls). The planes are views into `storage`, valid until
// its next change. Precondition: width, height >= 1, row_bytes >= 3 * width.
// O(width * height).
frame_planes split_frame(const std::uint8_t* pixels, int width, int height, std::size_t row_bytes,
                         std::vector<std::uint8_t>& storage);

// The record of box b over `planes`: checks b, clips it, counts, normalises into
// `h` (its vectors reused: no allocation once they have their sizes) and appends
// the record line to `text`. Returns "" on success; for a box that has no record
// returns what histfeat says of it after "box N in BOXES ": "has x2 < x1 (5 < 10)",
// "has y2 < y1 (7 < 8)" or "(x1 y1 x2 y2) lies outside the W x H image", and
// leaves `text` unchanged. O(area of the clipped box).
std::string append_box_record(std::string& text, const frame_planes& planes, const box& b,
                              histograms& h);
// append_box_record without the text: the same checks and messages, the
// histograms in `h`, for callers that need the values but not the record line.
std::string box_record_histograms(const frame_planes& planes, const box& b, histograms& h);

}  // namespace histfeat

// The L1 distance of two histograms of n values: the sum of |a[i] - b[i]| for
// i < n, each term in double, added into a float sum that is rounded to
// single precision after every addition. n <= 0 gives 0. O(n).
float compare_hist(float* a, float* b, int n);

#endif  // HISTFEAT_RECORD_H
