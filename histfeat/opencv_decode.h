// histfeat's decoder of the formats other than JPEG and PNG (BMP, TIFF, WebP,
// the PNM family, ...) and of CMYK JPEGs: OpenCV's imgcodecs, in a library of
// its own (histfeat_opencv_decode) so that only programs that register it load
// imgcodecs. histfeat's main registers it before anything else:
//
//   histfeat::set_other_format_decoder(histfeat::opencv_decode);
//
// Cost: one decode by OpenCV, O(pixels), plus a copy into the caller's image.
// Nothing is kept between calls; safe to call from several threads at once.

#ifndef HISTFEAT_OPENCV_DECODE_H
#define HISTFEAT_OPENCV_DECODE_H

#include "histfeat/decode.h"

#include <string>

namespace histfeat {

// An other_format_decoder (decode.h): decodes `source` with OpenCV as a colour
// image (EXIF orientation ignored) into `image`. `max_pixels` is not used:
// OpenCV's own pixel limit applies. Returns "" or "cannot decode PATH as a
// colour image"; throws std::bad_alloc when OpenCV runs out of memory.
std::string opencv_decode(const image_source& source, long long max_pixels, bgr_image& image);

}  // namespace histfeat

#endif  // HISTFEAT_OPENCV_DECODE_H
