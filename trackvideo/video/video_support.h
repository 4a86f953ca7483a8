// trackvideo/video/video_support.h - reading and writing video files, through
// FFmpeg's libraries in a module of their own (trackvideo-ffmpeg.so) that is
// loaded the first time a run opens a video: runs that read image folders and
// `--version` never load FFmpeg.
//
// The module exports one C function, trackvideo_ffmpeg_support(version), that
// returns its table: the version it was built for (a module of another version
// is refused) and two factories of the abstract video_reader and video_writer
// below (implemented by video_decoder.h and video_encoder.h). The module is
// built from this tree by the same compiler, so C++ objects (std::string,
// cv::Mat) cross the boundary as they are.
//
// Where the module is found: the file named by the environment variable
// TRACKVIDEO_FFMPEG_MODULE when it is set and not empty; else
// trackvideo-ffmpeg.so beside the executable (the build tree), then in
// ../lib/trackvideo/ from the executable's folder (an installed tree, as the
// install rule lays it out; found wherever the prefix is moved). A program
// linked with the module's code itself (the unit tests) uses that and loads
// nothing.
//
// Ownership: the module stays loaded until the process ends; readers and
// writers are the caller's (std::unique_ptr). Cost: the first call loads the
// module and FFmpeg's libraries (tens of milliseconds); later calls are a
// lock and a pointer. Thread-safe.
#ifndef TRACKVIDEO_VIDEO_VIDEO_SUPPORT_H
#define TRACKVIDEO_VIDEO_VIDEO_SUPPORT_H

#include <opencv2/core.hpp>

#include <memory>
#include <string>

namespace trackvideo {

// The frames of a video file, in order (see video_decoder.h for the rules).
class video_reader {
 public:
  virtual ~video_reader() = default;
  // Opens `path`: frames of more than `max_pixels` are refused; `threads`
  // decoding threads (0: one per core, 1: none besides the caller's). "" or
  // "cannot open PATH: <reason>", "cannot open PATH as a video", ...
  virtual std::string open(const std::string& path, long long max_pixels, int threads) = 0;
  // The next frame into `frame` (8-bit BGR) unless it is null; `ended` true
  // when there is none. "" or what is wrong with the frame.
  virtual std::string next(cv::Mat* frame, bool& ended) = 0;
  // The stream's frame rate if finite and in (0, 1000), else `fallback`.
  virtual double fps(double fallback) const = 0;
  virtual long long frames() const = 0;  // frames delivered so far
};

// The containers and codecs a video_writer writes.
enum class video_format {
  mp4_h264,   // H.264 (libx264) in an MP4, for browsers and notebooks
  avi_mjpeg,  // Motion-JPEG (fourcc MJPG) in an AVI, for anything that plays AVIs
};

// A video of 8-bit BGR frames (see video_encoder.h for the rules).
class video_writer {
 public:
  virtual ~video_writer() = default;
  // Creates `path` in `format`, whatever its name; `shown` names it in
  // messages. "" or "cannot write SHOWN: <reason>".
  virtual std::string open(const std::string& path, const std::string& shown, video_format format,
                           double fps, int width, int height) = 0;
  // Encodes one frame of the size given to open. "" or what is wrong.
  virtual std::string write(const cv::Mat& frame) = 0;
  // Finishes and closes the file, checking each step. "" or what is wrong.
  virtual std::string close() = 0;
  virtual bool is_open() const = 0;
  virtual long long frames() const = 0;  // frames written since open
};

// The module's table. Grows only at its end; kVideoSupportVersion changes when
// anything above or in it changes meaning.
constexpr int kVideoSupportVersion = 1;
struct video_support_table {
  int version;                    // kVideoSupportVersion of the module's build
  video_reader* (*new_reader)();  // throws std::bad_alloc
  video_writer* (*new_writer)();  // throws std::bad_alloc
};

// The module's file name, as messages give it.
constexpr const char* kVideoSupportModule = "trackvideo-ffmpeg.so";

// A new reader or writer, loading the module first if need be. "" or "the
// video support (trackvideo-ffmpeg.so) cannot be loaded: <reason>" (the
// caller puts "cannot read PATH: " in front), the reason the dynamic loader's
// for the file named by the variable or the first file found, else "it is
// neither in DIR nor in DIR/../lib/trackvideo"; a failed load is retried by
// the next call. Throws std::bad_alloc.
std::string new_video_reader(std::unique_ptr<video_reader>& reader);
std::string new_video_writer(std::unique_ptr<video_writer>& writer);

}  // namespace trackvideo

extern "C" {
// The module's one entry: its table when `version` is the one it was built
// for, else null.
const trackvideo::video_support_table* trackvideo_ffmpeg_support(int version);
}

#endif  // TRACKVIDEO_VIDEO_VIDEO_SUPPORT_H
