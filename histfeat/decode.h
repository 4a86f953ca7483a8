// Decoding an image file into the planes of a frame (internal to histfeat).
//
// JPEG and PNG files are decoded with libjpeg and libpng directly, so that a
// decoder's warning (a cut or corrupt file that would decode with grey filling)
// fails the frame like an error, and nothing from the libraries reaches the
// error stream; their size is checked from the header before any pixel memory
// is taken. Other formats (and four-channel JPEGs, once libjpeg has read them
// through without a complaint) go to OpenCV, whose own pixel limit applies.
//
// Cost: one decode, O(pixels); memory 3 bytes per pixel for the decoded image
// (released on return) and 4 in `storage`.

#ifndef HISTFEAT_DECODE_H
#define HISTFEAT_DECODE_H

#include "histfeat/record.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace histfeat {

// The default limit of width x height (--max-pixels): a frame of this size needs
// about 7 bytes per pixel while it is decoded and split.
constexpr long long kDefaultMaxPixels = 50'000'000;

// An image's bytes: `size` bytes at `data`, or, when data is null, the file
// `path` read by the decoder itself (files too large to hold in memory).
struct image_source {
  const unsigned char* data;
  std::size_t size;
  std::string path;  // also the name in messages
};

// An image decoded to 8-bit blue, green, red samples, row after row: `height`
// rows of `row_bytes` bytes (at least 3 x `width`) in `pixels`.
struct bgr_image {
  std::vector<std::uint8_t> pixels;
  int width = 0, height = 0;
  std::size_t row_bytes = 0;
};

// Decodes `source` into `image` (its vector reused). Returns "" or what is
// wrong, as decode_frame. Throws std::bad_alloc when memory runs out.
std::string decode_image(const image_source& source, long long max_pixels, bgr_image& image);

// decode_image, then the image split into `planes` (views into `storage`, see
// split_frame).
// Returns "" or what is wrong: "PATH: <the decoder's message>", "PATH: W x H
// pixels, more than the limit of N" or "cannot decode PATH as a colour image".
// Throws std::bad_alloc when memory runs out.
std::string decode_frame(const image_source& source, long long max_pixels,
                         std::vector<std::uint8_t>& storage, frame_planes& planes);

}  // namespace histfeat

#endif  // HISTFEAT_DECODE_H
