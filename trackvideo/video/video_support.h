// trackvideo/video/video_support.h - reading and writing video files, through
// FFmpeg's libraries in a module of their own (trackvideo-ffmpeg.so) that is
// loaded the first time a run opens a video: runs that read image folders and
// `--version` never load FFmpeg.
//
// The boundary with the module is plain C (video_module_abi.h): opaque
// handles, pixels in buffers the caller owns, a code and a line for every
// failure, a table that carries its size, interface version and build stamp.
// video_reader and video_writer below are the program's C++ over that table
// (video_support.cpp); the module's C++ classes (video_decoder.h,
// video_encoder.h) stay inside it. A module whose table is smaller than this
// program's, of another interface version or of another build stamp is
// refused before anything of it is called.
//
// Where the module is found: the file named by the environment variable
// TRACKVIDEO_FFMPEG_MODULE when it is set and not empty (a path; a name
// without '/' is a file in the current folder, never looked for on the
// library path); else trackvideo-ffmpeg.so beside the executable (the build
// tree), then in ../lib/trackvideo/ from the executable's folder (an
// installed tree, as the install rule lays it out; found wherever the prefix
// is moved). Only a regular file is loaded: it is opened without waiting
// (O_NONBLOCK), checked on the open descriptor, and loaded through that
// descriptor (/proc/self/fd/N), so a FIFO or a device put in its place makes
// no run wait. Names in messages are common::shown_name's. A program linked
// with the module's code itself (the unit tests) uses its table, checked the
// same way, and loads nothing.
//
// Ownership: the module stays loaded until the process ends; readers and
// writers are the caller's (std::unique_ptr), each owning its module handle.
// Cost: the first call loads the module and FFmpeg's libraries (tens of
// milliseconds); later calls are a lock and a pointer; each frame crosses
// the boundary with one copy into the caller's cv::Mat (as the decoder
// always made). Thread-safe; a reader or writer is used by one thread at a
// time.
#ifndef TRACKVIDEO_VIDEO_VIDEO_SUPPORT_H
#define TRACKVIDEO_VIDEO_VIDEO_SUPPORT_H

#include <opencv2/core.hpp>

#include <memory>
#include <string>

#include "trackvideo/video/video_module_abi.h"

namespace trackvideo {

// The frames of a video file, in order (see video_decoder.h for the rules).
// Running out of memory is the line "out of memory".
class video_reader {
 public:
  ~video_reader();
  video_reader(const video_reader&) = delete;
  video_reader& operator=(const video_reader&) = delete;

  // Opens `path`: frames of more than `max_pixels` are refused; `threads`
  // decoding threads (0: one per core, 1: none besides the caller's). "" or
  // "cannot open PATH: <reason>", "cannot open PATH as a video", ...
  std::string open(const std::string& path, long long max_pixels, int threads);
  // The next frame into `frame` (8-bit BGR, made of the frame's size unless
  // it is already) unless it is null; `ended` true when there is none. "" or
  // what is wrong with the frame. Throws what cv::Mat::create throws.
  std::string next(cv::Mat* frame, bool& ended);
  // The stream's frame rate if finite and in (0, 1000), else `fallback`.
  double fps(double fallback) const;
  long long frames() const;  // frames delivered so far

 private:
  friend std::string new_video_reader(std::unique_ptr<video_reader>& reader);
  video_reader(const trackvideo_video_table* table, trackvideo_video_reader* handle);
  const trackvideo_video_table* table_;
  trackvideo_video_reader* handle_;
};

// The containers and codecs a video_writer writes.
enum class video_format {
  mp4_h264 = TRACKVIDEO_VIDEO_MP4_H264,  // H.264 (libx264) in an MP4, for browsers and notebooks
  avi_mjpeg =
      TRACKVIDEO_VIDEO_AVI_MJPEG,  // Motion-JPEG (fourcc MJPG) in an AVI, for any AVI player
};

// A video of 8-bit BGR frames (see video_encoder.h for the rules). Running
// out of memory throws std::bad_alloc.
class video_writer {
 public:
  ~video_writer();  // frees everything; an unfinished file stays as it is
  video_writer(const video_writer&) = delete;
  video_writer& operator=(const video_writer&) = delete;

  // Creates `path` in `format`, whatever its name; `shown` names it in
  // messages. "" or "cannot write SHOWN: <reason>".
  std::string open(const std::string& path, const std::string& shown, video_format format,
                   double fps, int width, int height);
  // Encodes one frame of the size given to open, 8-bit BGR. "" or what is
  // wrong (a frame of another kind or size is not written).
  std::string write(const cv::Mat& frame);
  // Finishes and closes the file, checking each step. "" or what is wrong.
  std::string close();
  bool is_open() const;
  long long frames() const;  // frames written since open

 private:
  friend std::string new_video_writer(std::unique_ptr<video_writer>& writer);
  video_writer(const trackvideo_video_table* table, trackvideo_video_writer* handle);
  const trackvideo_video_table* table_;
  trackvideo_video_writer* handle_;
};

// The module's file name, as messages give it.
constexpr const char* kVideoSupportModule = "trackvideo-ffmpeg.so";

// A new reader or writer, loading the module first if need be. "" or "the
// video support (trackvideo-ffmpeg.so) cannot be loaded: <reason>" (the
// caller puts "cannot read PATH: " in front): the file named by the variable
// or the first file found cannot be opened ("NAME: cannot open shared object
// file: <why>", a FIFO "...: not a regular file"), the dynamic loader's
// reason, "NAME is not a video module of this version of trackvideo" (no
// entry) or what is wrong with its table; else "it is neither in DIR nor in
// DIR/../lib/trackvideo". A failed load is retried by the next call. Throws
// std::bad_alloc.
std::string new_video_reader(std::unique_ptr<video_reader>& reader);
std::string new_video_writer(std::unique_ptr<video_writer>& writer);

}  // namespace trackvideo

#endif  // TRACKVIDEO_VIDEO_VIDEO_SUPPORT_H
