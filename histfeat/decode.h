// Decoding an image file into the planes of a frame (internal to histfeat).
//
// JPEG and PNG files are decoded with libjpeg and libpng directly, so that a
// decoder's warning (a cut or corrupt file that would decode with grey filling)
// fails the frame like an error, and nothing from the libraries reaches the
// error stream; their size is checked from the header before any pixel memory
// is taken. Other formats (and four-channel JPEGs, once libjpeg has read them
// through without a complaint) go to the decoder a program registers with
// set_other_format_decoder: histfeat registers OpenCV's (opencv_decode.h);
// without one they are refused.
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

// A decoder of the formats decode_image does not read itself. It decodes
// `source` (from memory, or the file source.path when source.data is null)
// into `image` and returns "", or returns the whole line of what is wrong
// (naming source.path); it checks `max_pixels` as it can, and throws
// std::bad_alloc when memory runs out. Called from any thread that decodes.
using other_format_decoder = std::string (*)(const image_source& source, long long max_pixels,
                                             bgr_image& image);

// Registers `decoder` (null: none) for every later decode_image. A program
// sets it once in main, before it decodes anything (histfeat's main sets
// OpenCV's); the pointer is atomic, so a decode running meanwhile in another
// thread uses either the old or the new one. None is registered at start.
void set_other_format_decoder(other_format_decoder decoder);

// Decodes `source` into `image` (its vector reused). Returns "" or what is
// wrong, as decode_frame. Throws std::bad_alloc when memory runs out.
std::string decode_image(const image_source& source, long long max_pixels, bgr_image& image);

// decode_image, then the image split into `planes` (views into `storage`, see
// split_frame).
// Returns "" or what is wrong: "PATH: <the decoder's message>", "PATH: W x H
// pixels, more than the limit of N", what the other formats' decoder says
// ("cannot decode PATH as a colour image" from OpenCV's), or, without one,
// "cannot decode PATH: not a JPEG or PNG image" or "cannot decode PATH: a CMYK
// JPEG (only grey and colour JPEGs are read)".
// Throws std::bad_alloc when memory runs out.
std::string decode_frame(const image_source& source, long long max_pixels,
                         std::vector<std::uint8_t>& storage, frame_planes& planes);

}  // namespace histfeat

#endif  // HISTFEAT_DECODE_H
