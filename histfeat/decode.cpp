// Decoding image files: JPEG through libjpeg, PNG through libpng (a warning is
// a failure, nothing is printed), the rest through the registered decoder. Both
// libraries report errors by longjmp back into the function that called them:
// no C++ object is created between a setjmp and the library calls it guards.

#include "histfeat/decode.h"

#include <algorithm>
#include <atomic>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

// jpeglib.h needs FILE and size_t declared first.
#include <jerror.h>
#include <jpeglib.h>
#include <png.h>

namespace histfeat {

namespace {

// Where libjpeg's and libpng's reports end up: the first message, then a jump.
struct failure_report {
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX > 200 ? JMSG_LENGTH_MAX : 200];
  bool out_of_memory;
};

// --- JPEG --------------------------------------------------------------------------

struct jpeg_failure {
  jpeg_error_mgr manager;  // first: libjpeg sees a jpeg_error_mgr*
  failure_report report;
};

extern "C" void jpeg_fail(j_common_ptr info) {
  jpeg_failure* f = reinterpret_cast<jpeg_failure*>(info->err);
  (*info->err->format_message)(info, f->report.message);
  f->report.out_of_memory = info->err->msg_code == JERR_OUT_OF_MEMORY;
  std::longjmp(f->report.jump, 1);
}
// Level -1 is a warning (corrupt or cut data, decoded with grey filling): it
// fails the frame. Higher levels are trace messages, dropped.
extern "C" void jpeg_warn(j_common_ptr info, int level) {
  if (level < 0) jpeg_fail(info);
}
extern "C" void jpeg_quiet(j_common_ptr) {}

// Decodes a JPEG into `pixels` (3 bytes per pixel, blue green red, `width` x
// `height`). A four-component (CMYK) image is read through to hear any complaint
// but not kept: `four_components` tells the caller to let the other formats'
// decoder convert it.
// Returns "" or the decoder's message; `too_large` when the header's size
// exceeds `max_pixels` (nothing decoded).
std::string run_libjpeg(const image_source& source, std::FILE* file, long long max_pixels,
                        std::vector<std::uint8_t>& pixels, int& width, int& height,
                        bool& four_components, bool& too_large) {
  // Zeroed, so that destroying it is safe even when creating it failed.
  jpeg_decompress_struct info;
  std::memset(&info, 0, sizeof info);
  jpeg_failure failure;
  info.err = jpeg_std_error(&failure.manager);
  failure.manager.error_exit = jpeg_fail;
  failure.manager.emit_message = jpeg_warn;
  failure.manager.output_message = jpeg_quiet;
  failure.report.out_of_memory = false;
  if (setjmp(failure.report.jump)) {
    jpeg_destroy_decompress(&info);
    if (failure.report.out_of_memory) throw std::bad_alloc();
    return failure.report.message;
  }
  jpeg_create_decompress(&info);
  if (file)
    jpeg_stdio_src(&info, file);
  else
    jpeg_mem_src(&info, source.data, static_cast<unsigned long>(source.size));
  jpeg_read_header(&info, TRUE);
  width = static_cast<int>(info.image_width);
  height = static_cast<int>(info.image_height);
  too_large = static_cast<long long>(info.image_width) * info.image_height > max_pixels;
  four_components = info.num_components == 4;
  if (too_large) {
    jpeg_destroy_decompress(&info);
    return "";
  }
  info.out_color_space = four_components ? JCS_CMYK : JCS_EXT_BGR;
  jpeg_start_decompress(&info);
  const std::size_t row_bytes = std::size_t{info.output_width} * info.output_components;
  try {
    pixels.resize(four_components ? row_bytes : row_bytes * info.output_height);
  } catch (...) {
    jpeg_destroy_decompress(&info);
    throw;
  }
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = pixels.data() + (four_components ? 0 : info.output_scanline * row_bytes);
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return "";
}

// --- PNG ---------------------------------------------------------------------------

struct png_input {
  failure_report report;
  const unsigned char* data;
  std::size_t size, position;
};

extern "C" void png_fail(png_structp png, png_const_charp message) {
  png_input* in = static_cast<png_input*>(png_get_error_ptr(png));
  std::snprintf(in->report.message, sizeof in->report.message, "%s", message);
  in->report.out_of_memory = std::strstr(message, "out of memory") != nullptr;
  std::longjmp(in->report.jump, 1);
}
extern "C" void png_read_memory(png_structp png, png_bytep out, std::size_t n) {
  png_input* in = static_cast<png_input*>(png_get_io_ptr(png));
  if (n > in->size - in->position) png_error(png, "unexpected end of file");
  std::memcpy(out, in->data + in->position, n);
  in->position += n;
}

// Decodes a PNG into `pixels` as OpenCV decodes one for a colour image: 16-bit
// samples cut to 8, alpha dropped, palette and grey expanded, blue green red.
std::string run_libpng(const image_source& source, std::FILE* file, long long max_pixels,
                       std::vector<std::uint8_t>& pixels, std::vector<png_bytep>& rows, int& width,
                       int& height, bool& too_large) {
  png_input in{{}, source.data, source.size, 0};
  in.report.out_of_memory = false;
  // A warning fails the frame like an error.
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &in, png_fail, png_fail);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    throw std::bad_alloc();
  }
  if (setjmp(in.report.jump)) {
    png_destroy_read_struct(&png, &info, nullptr);
    if (in.report.out_of_memory) throw std::bad_alloc();
    return in.report.message;
  }
  if (file)
    png_init_io(png, file);
  else
    png_set_read_fn(png, &in, png_read_memory);
  png_read_info(png, info);
  const png_uint_32 w = png_get_image_width(png, info), h = png_get_image_height(png, info);
  const int depth = png_get_bit_depth(png, info), type = png_get_color_type(png, info);
  width = static_cast<int>(w);
  height = static_cast<int>(h);
  too_large = static_cast<long long>(w) * h > max_pixels;
  if (too_large) {
    png_destroy_read_struct(&png, &info, nullptr);
    return "";
  }
  if (depth == 16) png_set_strip_16(png);
  png_set_strip_alpha(png);
  if (type == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
  if ((type & PNG_COLOR_MASK_COLOR) == 0 && depth < 8) png_set_expand_gray_1_2_4_to_8(png);
  if (type & PNG_COLOR_MASK_COLOR)
    png_set_bgr(png);
  else
    png_set_gray_to_rgb(png);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  const std::size_t row_bytes = png_get_rowbytes(png, info);
  try {
    pixels.resize(row_bytes * h);
    rows.resize(h);
  } catch (...) {
    png_destroy_read_struct(&png, &info, nullptr);
    throw;
  }
  for (png_uint_32 y = 0; y < h; ++y) rows[y] = pixels.data() + y * row_bytes;
  png_read_image(png, rows.data());
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  return "";
}

// The decoder of other formats (decode.h).
std::atomic<other_format_decoder> other_decoder{nullptr};

std::string run_other(const image_source& source, long long max_pixels, bgr_image& image,
                      bool four_components) {
  const other_format_decoder decoder = other_decoder.load(std::memory_order_acquire);
  if (decoder) return decoder(source, max_pixels, image);
  return "cannot decode " + source.path +
         (four_components ? ": a CMYK JPEG (only grey and colour JPEGs are read)"
                          : ": not a JPEG or PNG image");
}

struct file_closer {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

void set_other_format_decoder(other_format_decoder decoder) {
  other_decoder.store(decoder, std::memory_order_release);
}

std::string decode_image(const image_source& source, long long max_pixels, bgr_image& image) {
  static const unsigned char jpeg_magic[] = {0xFF, 0xD8, 0xFF};
  static const unsigned char png_magic[] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  unsigned char head[sizeof png_magic] = {};
  std::size_t head_size = 0;
  std::unique_ptr<std::FILE, file_closer> file;
  if (source.data) {
    head_size = std::min(sizeof head, source.size);
    std::memcpy(head, source.data, head_size);
  } else {
    file.reset(std::fopen(source.path.c_str(), "rb"));
    if (!file) return "cannot decode " + source.path + " as a colour image";
    head_size = std::fread(head, 1, sizeof head, file.get());
    std::rewind(file.get());
  }
  const bool jpeg = head_size >= sizeof jpeg_magic && !std::memcmp(head, jpeg_magic, 3);
  const bool png = head_size == sizeof png_magic && !std::memcmp(head, png_magic, 8);
  if (!jpeg && !png) return run_other(source, max_pixels, image, false);

  std::vector<png_bytep> rows;
  int width = 0, height = 0;
  bool four_components = false, too_large = false;
  std::string why = jpeg ? run_libjpeg(source, file.get(), max_pixels, image.pixels, width, height,
                                       four_components, too_large)
                         : run_libpng(source, file.get(), max_pixels, image.pixels, rows, width,
                                      height, too_large);
  if (!why.empty()) return source.path + ": " + why;
  if (too_large)
    return source.path + ": " + std::to_string(width) + " x " + std::to_string(height) +
           " pixels, more than the limit of " + std::to_string(max_pixels);
  if (four_components) return run_other(source, max_pixels, image, true);
  image.width = width;
  image.height = height;
  image.row_bytes = 3 * static_cast<std::size_t>(width);
  return "";
}

std::string decode_frame(const image_source& source, long long max_pixels,
                         std::vector<std::uint8_t>& storage, frame_planes& planes) {
  bgr_image image;
  const std::string why = decode_image(source, max_pixels, image);
  if (!why.empty()) return why;
  planes = split_frame(image.pixels.data(), image.width, image.height, image.row_bytes, storage);
  return "";
}

}  // namespace histfeat
