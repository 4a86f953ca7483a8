// trackvideo/video/video_module.cpp - the video module's entry: its C table
// (video_module_abi.h) over the FFmpeg decoder and encoder, whose C++ stays
// inside the module. Every function of the table is noexcept and catches
// whatever the code below it throws (std::bad_alloc, OpenCV's exceptions,
// anything else), returning a code and a line instead.
#include "trackvideo/video/video_module_abi.h"
#include "trackvideo/base/failure.h"

#include <opencv2/core.hpp>

#include <algorithm>
#include <exception>
#include <new>
#include <string>
#include <string_view>

#include "trackvideo/video/video_decoder.h"
#include "trackvideo/video/video_encoder.h"

#ifndef TRACKVIDEO_VIDEO_STAMP
#error "TRACKVIDEO_VIDEO_STAMP is defined by trackvideo/CMakeLists.txt"
#endif

// A handle is its object behind a tag, so that a null handle or one of the
// other kind is refused as a bad call instead of followed. `ready`: open()
// succeeded and nothing failed since (the decoder's precondition of decode()).
struct trackvideo_video_reader {
  static constexpr unsigned kTag = 0x52454144;  // "READ"
  unsigned tag = kTag;
  bool ready = false;
  trackvideo::video_decoder decoder;
};

struct trackvideo_video_writer {
  static constexpr unsigned kTag = 0x57524954;  // "WRIT"
  unsigned tag = kTag;
  trackvideo::video_encoder encoder;
};

namespace {


// Writes `text` into the caller's message (cut to capacity - 1 bytes, line
// breaks made blanks) and returns `code`. Allocates nothing.
int put(int code, std::string_view text, char* message, std::size_t capacity) noexcept {
  if (message && capacity > 0) {
    const std::size_t n = std::min(text.size(), capacity - 1);
    for (std::size_t i = 0; i < n; ++i)
      message[i] = text[i] == '\n' || text[i] == '\r' ? ' ' : text[i];
    message[n] = '\0';
  }
  return code;
}

int bad_call(std::string_view text, char* message, std::size_t capacity) noexcept {
  return put(TRACKVIDEO_VIDEO_BAD_CALL, text, message, capacity);
}

// The code and line of what `body` returns ("" for success; the decoder's
// "out of memory" is that code) or throws.
template <class Body>
int guarded(char* message, std::size_t capacity, Body body) noexcept {
  try {
    const std::string why = body();
    if (why.empty()) return put(TRACKVIDEO_VIDEO_OK, "", message, capacity);
    const int code = why == trackvideo::kOutOfMemory ? TRACKVIDEO_VIDEO_NO_MEMORY : TRACKVIDEO_VIDEO_FAILED;
    return put(code, why, message, capacity);
  } catch (const std::bad_alloc&) {
    return put(TRACKVIDEO_VIDEO_NO_MEMORY, trackvideo::kOutOfMemory, message, capacity);
  } catch (const cv::Exception& e) {
    if (e.code == cv::Error::StsNoMem)
      return put(TRACKVIDEO_VIDEO_NO_MEMORY, trackvideo::kOutOfMemory, message, capacity);
    return put(TRACKVIDEO_VIDEO_FAILED, e.err.empty() ? e.what() : e.err.c_str(), message,
               capacity);
  } catch (const std::exception& e) {
    return put(TRACKVIDEO_VIDEO_FAILED, e.what(), message, capacity);
  } catch (...) {
    return put(TRACKVIDEO_VIDEO_FAILED, "the video module failed", message, capacity);
  }
}

bool usable(const trackvideo_video_reader* r) {
  return r && r->tag == trackvideo_video_reader::kTag;
}

bool usable(const trackvideo_video_writer* w) {
  return w && w->tag == trackvideo_video_writer::kTag;
}

int reader_new(trackvideo_video_reader** reader, char* message, std::size_t capacity) noexcept {
  if (!reader) return bad_call("no place for the reader", message, capacity);
  *reader = nullptr;
  return guarded(message, capacity, [&] {
    *reader = new trackvideo_video_reader();
    return std::string();
  });
}

void reader_free(trackvideo_video_reader* reader) noexcept {
  if (!usable(reader)) return;
  reader->tag = 0;
  delete reader;
}

int reader_open(trackvideo_video_reader* reader, const char* path, long long max_pixels,
                int threads, char* message, std::size_t capacity) noexcept {
  if (!usable(reader) || !path) return bad_call("no reader or no path", message, capacity);
  reader->ready = false;
  const int code =
      guarded(message, capacity, [&] { return reader->decoder.open(path, max_pixels, threads); });
  reader->ready = code == TRACKVIDEO_VIDEO_OK;
  return code;
}

int reader_next(trackvideo_video_reader* reader, int keep, int* ended, int* width, int* height,
                char* message, std::size_t capacity) noexcept {
  if (!usable(reader) || !ended || (keep && (!width || !height)))
    return bad_call("no reader or no place for the result", message, capacity);
  if (!reader->ready) return bad_call("the reader is not open", message, capacity);
  *ended = 0;
  if (keep) *width = *height = 0;
  const int code = guarded(message, capacity, [&] {
    bool end = false;
    std::string why = reader->decoder.decode(keep != 0, end);
    *ended = end ? 1 : 0;
    if (why.empty() && keep && !end) {
      const cv::Size size = reader->decoder.held_size();
      *width = size.width;
      *height = size.height;
    }
    return why;
  });
  reader->ready = code == TRACKVIDEO_VIDEO_OK;
  return code;
}

int reader_copy(trackvideo_video_reader* reader, unsigned char* data, std::size_t stride, int width,
                int height, char* message, std::size_t capacity) noexcept {
  if (!usable(reader) || !data) return bad_call("no reader or no buffer", message, capacity);
  const cv::Size held = reader->ready ? reader->decoder.held_size() : cv::Size();
  if (held.area() == 0) return bad_call("the reader holds no frame", message, capacity);
  if (held != cv::Size(width, height) || stride < 3 * static_cast<std::size_t>(width))
    return bad_call("the buffer is not of the frame's size", message, capacity);
  return guarded(message, capacity, [&] {
    cv::Mat frame(height, width, CV_8UC3, data, stride);  // written in place
    reader->decoder.copy_held(frame);
    return std::string();
  });
}

double reader_fps(const trackvideo_video_reader* reader, double fallback) noexcept {
  return usable(reader) ? reader->decoder.fps(fallback) : fallback;
}

long long reader_frames(const trackvideo_video_reader* reader) noexcept {
  return usable(reader) ? reader->decoder.frames() : 0;
}

int writer_new(trackvideo_video_writer** writer, char* message, std::size_t capacity) noexcept {
  if (!writer) return bad_call("no place for the writer", message, capacity);
  *writer = nullptr;
  return guarded(message, capacity, [&] {
    *writer = new trackvideo_video_writer();
    return std::string();
  });
}

void writer_free(trackvideo_video_writer* writer) noexcept {
  if (!usable(writer)) return;
  writer->tag = 0;
  delete writer;
}

int writer_open(trackvideo_video_writer* writer, const char* path, const char* shown, int format,
                double fps, int width, int height, char* message, std::size_t capacity) noexcept {
  if (!usable(writer) || !path || !shown)
    return bad_call("no writer, no path or no name", message, capacity);
  if (format != TRACKVIDEO_VIDEO_MP4_H264 && format != TRACKVIDEO_VIDEO_AVI_MJPEG)
    return bad_call("no such video format", message, capacity);
  const auto kind = format == TRACKVIDEO_VIDEO_MP4_H264 ? trackvideo::video_format::mp4_h264
                                                        : trackvideo::video_format::avi_mjpeg;
  return guarded(message, capacity,
                 [&] { return writer->encoder.open(path, shown, kind, fps, width, height); });
}

int writer_write(trackvideo_video_writer* writer, const unsigned char* data, std::size_t stride,
                 int width, int height, int channels, int bytes_per_sample, char* message,
                 std::size_t capacity) noexcept {
  if (!usable(writer)) return bad_call("no writer", message, capacity);
  // A frame of another kind or size: the encoder's own line.
  const int code = guarded(message, capacity, [&] {
    return writer->encoder.refusal(width, height, channels, bytes_per_sample == 1);
  });
  if (code != TRACKVIDEO_VIDEO_OK) return code;
  if (!data || stride < 3 * static_cast<std::size_t>(width))
    return bad_call("no buffer, or rows shorter than the frame's", message, capacity);
  return guarded(message, capacity, [&] {
    return writer->encoder.write(
        cv::Mat(height, width, CV_8UC3, const_cast<unsigned char*>(data), stride));
  });
}

int writer_close(trackvideo_video_writer* writer, char* message, std::size_t capacity) noexcept {
  if (!usable(writer)) return bad_call("no writer", message, capacity);
  return guarded(message, capacity, [&] { return writer->encoder.close(); });
}

int writer_is_open(const trackvideo_video_writer* writer) noexcept {
  return usable(writer) && writer->encoder.is_open() ? 1 : 0;
}

long long writer_frames(const trackvideo_video_writer* writer) noexcept {
  return usable(writer) ? writer->encoder.frames() : 0;
}

constexpr trackvideo_video_table kTable = {
    sizeof(trackvideo_video_table),
    TRACKVIDEO_VIDEO_INTERFACE,
    TRACKVIDEO_VIDEO_STAMP,
    reader_new,
    reader_free,
    reader_open,
    reader_next,
    reader_copy,
    reader_fps,
    reader_frames,
    writer_new,
    writer_free,
    writer_open,
    writer_write,
    writer_close,
    writer_is_open,
    writer_frames,
};

}  // namespace

extern "C" __attribute__((visibility("default"))) const trackvideo_video_table*
trackvideo_video_module(void) {
  return &kTable;
}
