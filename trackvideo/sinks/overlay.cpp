#include "trackvideo/sinks/overlay.h"
#include "trackvideo/base/failure.h"

#include "trackvideo/video/video_support.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cctype>
#include <csetjmp>
#include <cstring>
#include <new>

#include <png.h>
#include <zlib.h>

namespace trackvideo {

namespace {

// 2^32 / golden ratio: id * kGoldenStep mod 2^32 is the id's hue as a fraction
// of the circle, so that consecutive ids land far apart and later ids fall into
// the widest gaps left.
constexpr std::uint32_t kGoldenStep = 0x9E3779B9u;
// Two saturations and two brightnesses, alternating with the id, separate hues
// that come close after many golden steps (ids 0..99: no two colours within 20
// of each other in the sum of channel differences, neighbours at least 136).
constexpr double kSaturation[2] = {0.9, 0.65};
constexpr double kValue[2] = {1.0, 0.8};

// The tag: digits of Hershey's plain font, 8 pixels high at 0.8 (legible over a
// 320 x 240 frame), larger over bigger frames; one pixel of margin around them.
constexpr int kTagFont = cv::FONT_HERSHEY_PLAIN;
constexpr double kTagScale = 0.8;
constexpr double kLargeTagScale = 1.2;
constexpr int kLargeFrameRows = 480;
constexpr int kTagMargin = 1;
// The frame number at the top left.
constexpr int kFrameFont = cv::FONT_HERSHEY_PLAIN;
constexpr double kFrameScale = 0.9;

constexpr int kPngCompression = 1;  // zlib's fastest level

// Frame rates the AVI header can carry as whole frames a second.
constexpr double kMinFps = 1, kMaxFps = 1000;

cv::Vec3b to_pixel(const cv::Scalar& c) {
  return cv::Vec3b(cv::saturate_cast<uchar>(c[0]), cv::saturate_cast<uchar>(c[1]),
                   cv::saturate_cast<uchar>(c[2]));
}

// The box's visible part, or false when it is empty or wholly outside.
bool visible_part(const track_box& b, int cols, int rows, cv::Rect& part) {
  if (b.x2 < b.x1 || b.y2 < b.y1) return false;
  if (b.x2 < 0 || b.y2 < 0 || b.x1 >= cols || b.y1 >= rows) return false;
  const int left = std::max(b.x1, 0), top = std::max(b.y1, 0);
  const int right = std::min(b.x2, cols - 1), bottom = std::min(b.y2, rows - 1);
  part = cv::Rect(left, top, right - left + 1, bottom - top + 1);
  return true;
}

// The id in a filled tag of the track's colour above the visible top-left
// corner, or just inside it when the frame leaves no room above.
void draw_tag(cv::Mat& frame, int id, const cv::Rect& part) {
  const std::string text = std::to_string(id);
  const double scale = frame.rows >= kLargeFrameRows ? kLargeTagScale : kTagScale;
  int baseline = 0;
  const cv::Size size = cv::getTextSize(text, kTagFont, scale, 1, &baseline);
  const int width = size.width + 2 * kTagMargin, height = size.height + 2 * kTagMargin;
  cv::Point corner(part.x, part.y - height);
  if (corner.y < 0) corner = cv::Point(part.x + 1, part.y + 1);
  const cv::Scalar colour = track_colour(id);
  cv::rectangle(frame, cv::Rect(corner.x, corner.y, width, height), colour, cv::FILLED);
  // Dark digits on light tags, light on dark (ITU-R BT.601 luma).
  const double luma = 0.114 * colour[0] + 0.587 * colour[1] + 0.299 * colour[2];
  const cv::Scalar ink = luma >= 128 ? cv::Scalar(0, 0, 0) : cv::Scalar(255, 255, 255);
  cv::putText(frame, text, cv::Point(corner.x + kTagMargin, corner.y + kTagMargin + size.height),
              kTagFont, scale, ink, 1, cv::LINE_8);
}

// Each edge that lies inside the frame, over the visible part only.
void draw_outline(cv::Mat& frame, int id, const track_box& b, const cv::Rect& part) {
  const cv::Vec3b pixel = to_pixel(track_colour(id));
  const int right = part.x + part.width - 1, bottom = part.y + part.height - 1;
  for (int row : {b.y1, b.y2}) {
    if (row < 0 || row >= frame.rows) continue;
    cv::Vec3b* line = frame.ptr<cv::Vec3b>(row);
    std::fill(line + part.x, line + right + 1, pixel);
  }
  for (int col : {b.x1, b.x2}) {
    if (col < 0 || col >= frame.cols) continue;
    for (int row = part.y; row <= bottom; ++row) frame.at<cv::Vec3b>(row, col) = pixel;
  }
}

// Floor of the mean of two ints, without overflow.
long long centre(int a, int b) {
  const long long sum = static_cast<long long>(a) + b;
  return sum >= 0 ? sum / 2 : -((-sum + 1) / 2);
}

}  // namespace

cv::Scalar track_colour(int id) {
  const std::uint32_t key = static_cast<std::uint32_t>(id);
  const double hue = static_cast<std::uint32_t>(key * kGoldenStep) / 4294967296.0 * 6;  // [0, 6)
  const double s = kSaturation[key % 2], v = kValue[(key / 2) % 2];
  const int sector = static_cast<int>(hue);
  const double f = hue - sector;
  const double p = v * (1 - s), q = v * (1 - s * f), t = v * (1 - s * (1 - f));
  double r, g, b;
  switch (sector) {
    case 0:
      r = v, g = t, b = p;
      break;
    case 1:
      r = q, g = v, b = p;
      break;
    case 2:
      r = p, g = v, b = t;
      break;
    case 3:
      r = p, g = q, b = v;
      break;
    case 4:
      r = t, g = p, b = v;
      break;
    default:
      r = v, g = p, b = q;
      break;
  }
  return cv::Scalar(std::round(b * 255), std::round(g * 255), std::round(r * 255));
}

cv::Scalar pair_colour() {
  return cv::Scalar(255, 255, 255);
}

void draw_overlay(cv::Mat& frame, const frame_boxes& boxes,
                  const std::vector<std::pair<int, int>>& pairs) {
  draw_overlay(frame, boxes, pairs, overlay_extras{});
}

void draw_overlay(cv::Mat& frame, const frame_boxes& boxes,
                  const std::vector<std::pair<int, int>>& pairs, const overlay_extras& extras) {
  if (frame.empty() || frame.type() != CV_8UC3) return;
  if (extras.frame > 0) {
    const std::string text = "frame " + std::to_string(extras.frame);
    int baseline = 0;
    const cv::Size size = cv::getTextSize(text, kFrameFont, kFrameScale, 1, &baseline);
    cv::rectangle(frame, cv::Rect(0, 0, size.width + 6, size.height + baseline + 6),
                  cv::Scalar(0, 0, 0), cv::FILLED);
    cv::putText(frame, text, cv::Point(3, 3 + size.height), kFrameFont, kFrameScale,
                cv::Scalar(255, 255, 255), 1, cv::LINE_8);
  }
  for (const auto& [id, points] : extras.trails)
    if (points.size() > 1) cv::polylines(frame, points, false, track_colour(id), 1, cv::LINE_8);
  std::vector<cv::Rect> parts(boxes.size());
  std::vector<bool> shown(boxes.size());
  for (std::size_t k = 0; k < boxes.size(); ++k) {
    shown[k] = visible_part(boxes[k], frame.cols, frame.rows, parts[k]);
    if (shown[k]) draw_tag(frame, boxes.id(k), parts[k]);
  }
  for (std::size_t k = 0; k < boxes.size(); ++k)
    if (shown[k]) draw_outline(frame, boxes.id(k), boxes[k], parts[k]);

  const long long count = static_cast<long long>(boxes.size());
  for (std::size_t p = 0; p < pairs.size(); ++p) {
    const auto [i, j] = pairs[p];
    if (i < 0 || j < 0 || i >= count || j >= count) continue;
    const track_box &a = boxes[static_cast<std::size_t>(i)], &b = boxes[static_cast<std::size_t>(j)];
    cv::Point2l from(centre(a.x1, a.x2), centre(a.y1, a.y2));
    cv::Point2l to(centre(b.x1, b.x2), centre(b.y1, b.y2));
    if (!cv::clipLine(cv::Size2l(frame.cols, frame.rows), from, to)) continue;
    const bool thick = p < extras.thick.size() && extras.thick[p];
    cv::line(frame, cv::Point(static_cast<int>(from.x), static_cast<int>(from.y)),
             cv::Point(static_cast<int>(to.x), static_cast<int>(to.y)), pair_colour(),
             thick ? 3 : 1, cv::LINE_8);
  }
}

namespace {

// Where libpng's output and failures go while it encodes one frame.
struct png_output {
  std::jmp_buf jump;
  std::vector<unsigned char>* bytes;
  char message[200];
  bool out_of_memory;
};

// An error ends the encoding: its message kept, then the jump back.
extern "C" void png_encode_error(png_structp png, png_const_charp message) {
  png_output* o = static_cast<png_output*>(png_get_error_ptr(png));
  std::snprintf(o->message, sizeof o->message, "%s", message);
  // libpng's own allocations fail with "Out of memory", zlib's set-up with
  // "insufficient memory".
  if (strcasestr(message, kOutOfMemory) || strcasestr(message, "insufficient memory"))
    o->out_of_memory = true;
  std::longjmp(o->jump, 1);
}
// Warnings are dropped: the run prints its own lines only.
extern "C" void png_encode_warning(png_structp, png_const_charp) {}

extern "C" void png_encode_write(png_structp png, png_bytep data, std::size_t n) {
  png_output* o = static_cast<png_output*>(png_get_io_ptr(png));
  bool full = false;
  try {
    o->bytes->insert(o->bytes->end(), data, data + n);
  } catch (const std::bad_alloc&) {
    full = true;
  }
  // Out of the handler before the jump: nothing of the exception is left behind.
  if (full) {
    o->out_of_memory = true;
    png_error(png, kOutOfMemory);
  }
}
// Without it libpng would flush the output pointer as a FILE*.
extern "C" void png_encode_flush(png_structp) {}

// `height` rows of `width` pixels (blue green red [alpha], or grey) as a PNG,
// as OpenCV's PNG writer makes it when given a compression level: the default
// strategy, no interlacing, no filter chosen (libpng's adaptive choice), rows
// written whole. Returns false on an error of libpng (o.message, and
// o.out_of_memory when memory ran out). Only plain C objects live here, so the
// jump back from libpng skips no destructor.
bool run_png_writer(png_output& o, png_bytepp rows, png_uint_32 width, png_uint_32 height,
                    int bit_depth, int colour_type) {
  png_structp png =
      png_create_write_struct(PNG_LIBPNG_VER_STRING, &o, png_encode_error, png_encode_warning);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    o.out_of_memory = true;
    return false;
  }
  if (setjmp(o.jump)) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_set_write_fn(png, &o, png_encode_write, png_encode_flush);
  png_set_compression_level(png, kPngCompression);
  png_set_compression_strategy(png, Z_DEFAULT_STRATEGY);
  png_set_IHDR(png, info, width, height, bit_depth, colour_type, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  png_set_bgr(png);
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  if (bit_depth == 16) png_set_swap(png);  // PNG's samples are big-endian
#endif
  png_write_image(png, rows);
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return true;
}

}  // namespace

std::string encode_png(const cv::Mat& frame, std::vector<unsigned char>& out) {
  out.clear();
  if (frame.empty()) return "cannot encode an empty frame as PNG";
  const int channels = frame.channels();
  if (channels != 1 && channels != 3 && channels != 4)
    return "cannot encode a frame of " + std::to_string(channels) + " channels as PNG";
  // Samples of other depths are converted to 8 bits, as OpenCV's writer does.
  cv::Mat converted;
  const bool wide = frame.depth() == CV_16U;
  if (frame.depth() != CV_8U && !wide) frame.convertTo(converted, CV_8U);
  const cv::Mat& image = converted.empty() ? frame : converted;
  std::vector<png_bytep> rows(static_cast<std::size_t>(image.rows));
  for (int y = 0; y < image.rows; ++y)
    rows[static_cast<std::size_t>(y)] = const_cast<png_bytep>(image.ptr(y));
  png_output o;
  o.bytes = &out;
  o.message[0] = '\0';
  o.out_of_memory = false;
  const int colour_type = channels == 1   ? PNG_COLOR_TYPE_GRAY
                          : channels == 3 ? PNG_COLOR_TYPE_RGB
                                          : PNG_COLOR_TYPE_RGBA;
  if (run_png_writer(o, rows.data(), static_cast<png_uint_32>(image.cols),
                     static_cast<png_uint_32>(image.rows), wide ? 16 : 8, colour_type))
    return "";
  out.clear();
  if (o.out_of_memory) throw std::bad_alloc();
  return std::string("cannot encode the frame as PNG: ") + o.message;
}

std::string video_extension(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.size() <= 4) return "";
  std::string ext = name.substr(name.size() - 4);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext == ".avi" || ext == ".mp4" ? ext : "";
}

const char* overlay_video::private_name(const std::string& path) {
  return video_extension(path) == ".mp4" ? "overlay.mp4" : "overlay.avi";
}

overlay_video::overlay_video() = default;

overlay_video::~overlay_video() {
  try {
    close();
  } catch (const std::bad_alloc&) {
    // out of memory while finishing an MP4: the file is left unfinished
  }
}

std::string overlay_video::open(common::atomic_file& file, double fps, int width, int height) {
  const std::string& path = file.path();
  if (file_) return "cannot open " + path + ": " + file_->path() + " is still open";
  if (!(fps > 0) || !std::isfinite(fps))
    return "cannot write " + path + ": frame rate " + std::to_string(fps) + " is not positive";
  if (width <= 0 || height <= 0)
    return "cannot write " + path + ": frame size " + std::to_string(width) + " x " +
           std::to_string(height) + " is not positive";
  if (file.temp_path().empty()) return "cannot write " + path + ": not open";
  if (!writer_) {
    if (std::string why = new_video_writer(writer_); !why.empty())
      return "cannot write " + path + ": " + why;
  }
  if (std::string why = file.close(); !why.empty()) return why;
  avi_ = video_extension(path) != ".mp4";
  // The AVI's rate in whole frames a second, as its players expect.
  const double rate = avi_ ? std::clamp(std::round(fps), kMinFps, kMaxFps) : fps;
  if (std::string why = writer_->open(file.temp_path(), path,
                                      avi_ ? video_format::avi_mjpeg : video_format::mp4_h264, rate,
                                      width, height);
      !why.empty())
    return why;
  file_ = &file;
  size_ = cv::Size(width, height);
  frames_ = 0;
  return "";
}

std::string overlay_video::open(const std::string& path, double fps, int width, int height) {
  if (file_) return "cannot open " + path + ": " + file_->path() + " is still open";
  std::string why = own_.open(path, common::input_set(), private_name(path));
  if (why.empty()) why = open(own_, fps, width, height);
  if (!why.empty()) own_.discard();
  return why;
}

std::string overlay_video::write(const cv::Mat& frame) {
  if (!file_) return "cannot add a frame: the overlay video is not open";
  if (frame.type() != CV_8UC3 || frame.size() != size_)
    return "cannot add a frame of " + std::to_string(frame.cols) + " x " +
           std::to_string(frame.rows) + " (" + std::to_string(frame.channels()) + " channels) to " +
           file_->path() + ": its frames are " + std::to_string(size_.width) + " x " +
           std::to_string(size_.height) + ", 8-bit BGR";
  if (std::string why = writer_->write(frame); !why.empty()) return why;
  ++frames_;
  return "";
}

std::string overlay_video::close() {
  if (!file_) return "";
  common::atomic_file& file = *file_;
  file_ = nullptr;
  std::string why = writer_->close();  // checks each step itself
  // The finished AVI read back: its sizes and index agree with what was written.
  if (why.empty() && avi_) {
    why = check_avi(file.temp_path(), frames_);
    if (!why.empty()) why = "cannot write " + file.path() + ": " + why;
  }
  if (&file == &own_) {
    if (why.empty()) why = own_.commit();
    own_.discard();
  }
  return why;
}

namespace {

std::uint32_t little_endian(const unsigned char* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t{p[3]} << 24);
}

}  // namespace

std::string check_avi(const std::string& path, long long frames) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return std::strerror(errno);
  long long size = -1;
  if (std::fseek(f, 0, SEEK_END) == 0) size = std::ftell(f);
  // The RIFF chunks, end to end: "AVI ", then "AVIX" for each further GiB.
  long long end = 0;
  int riffs = 0;
  for (unsigned char head[12]; end < size; ++riffs) {
    if (std::fseek(f, end, SEEK_SET) != 0 || std::fread(head, 1, sizeof head, f) != sizeof head ||
        std::memcmp(head, "RIFF", 4) != 0 ||
        std::memcmp(head + 8, riffs == 0 ? "AVI " : "AVIX", 4) != 0)
      break;
    const long long length = little_endian(head + 4);
    end += 8 + length + (length & 1);
  }
  std::string why;
  if (riffs == 0) {
    why = "the video is incomplete (no AVI header)";
  } else if (end != size) {
    why = "the video is incomplete (its header gives " + std::to_string(end) +
          " bytes, the file holds " + std::to_string(size) + "; is the disk full?)";
  } else if (riffs == 1) {
    // The top-level chunks: the headers' list, the frames' list, the index.
    long long entries = -1;
    for (long long at = 12; at + 8 <= size;) {
      unsigned char chunk[8];
      if (std::fseek(f, at, SEEK_SET) != 0 || std::fread(chunk, 1, 8, f) != 8) break;
      const long long length = little_endian(chunk + 4);
      if (std::memcmp(chunk, "idx1", 4) == 0) {
        entries = 0;
        unsigned char entry[16];
        for (long long k = 0; k < length / 16 && std::fread(entry, 1, 16, f) == 16; ++k)
          entries += entry[2] == 'd' && (entry[3] == 'c' || entry[3] == 'b');
        break;
      }
      at += 8 + length + (length & 1);
    }
    if (entries != frames)
      why = "the video is incomplete (its index holds " +
            (entries < 0 ? std::string("no entries") : std::to_string(entries) + " frames") +
            " of " + std::to_string(frames) + ")";
  }
  std::fclose(f);
  return why;
}

}  // namespace trackvideo
