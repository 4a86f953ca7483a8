// trackvideo/video/video_encoder.h - video files encoded by FFmpeg's libraries: H.264
// (libx264) in an MP4, for pictures that browsers and notebooks play, or
// Motion-JPEG (fourcc MJPG) in an AVI, for players of AVIs.
//
// Frames are 8-bit BGR, all of one size, converted by swscale (BT.601). MP4:
// to yuv420p (limited range, tagged so), encoded at constant quality (CRF 23,
// preset "veryfast"); yuv420p needs even sizes in H.264: an odd width or
// height is padded by one column or row repeating the last one, so the video
// is the frame's size rounded up to even and no pixel is dropped; the index is
// moved to the front when the file is finished, so that a page can play it
// while it loads. AVI: to full-range yuvj420p, each frame a JPEG at quantiser
// scale 2 (decoded back, within a few levels of the frame, as a JPEG saved at
// 95 %), at the frame's own size. The frame rate is kept as a rational close
// to the one given (30000/1001 stays so).
//
// Errors: one line "cannot write NAME: <reason>", NAME as the caller names
// the file (never a temporary); FFmpeg's own log never reaches the terminal.
// Running out of memory in FFmpeg throws std::bad_alloc (the module's C entry
// turns it into its code for "out of memory").
//
// Ownership: the encoder owns its FFmpeg contexts and the open file (which
// FFmpeg opens by name, and reopens to move an MP4's index). Cost:
// write() converts and encodes one frame (O(pixels)); the H.264 encoder holds
// a few dozen frames of lookahead, the JPEG encoder none. Not shared between
// threads. Built into the video module only: the program reaches it through
// the module's C table (video_module_abi.h) and video_writer
// (video_support.h); tests linked with it call it directly.
#ifndef TRACKVIDEO_VIDEO_VIDEO_ENCODER_H
#define TRACKVIDEO_VIDEO_VIDEO_ENCODER_H

#include <opencv2/core.hpp>

#include <memory>
#include <string>

#include "trackvideo/video/video_support.h"  // video_format

struct AVCodec;

namespace trackvideo {

class video_encoder {
 public:
  video_encoder();
  ~video_encoder();  // frees everything; an unfinished file stays as it is
  video_encoder(const video_encoder&) = delete;
  video_encoder& operator=(const video_encoder&) = delete;

  // Creates (or truncates) `path`, in `format` whatever its name, for frames
  // of width x height at `fps` frames a second; `shown` names it in messages.
  // Not open already; fps finite and at least 1/65536; sizes > 0 and below
  // 65536. "" or what is wrong ("cannot write NAME: no H.264 encoder is
  // available ..." when FFmpeg has none).
  std::string open(const std::string& path, const std::string& shown, video_format format,
                   double fps, int width, int height);

  // Encodes one frame: CV_8UC3 of the size given to open. "" or what is
  // wrong; a wrong frame is not written and the encoder stays usable, a
  // failed encoding leaves it failed (close() then reports it again).
  std::string write(const cv::Mat& frame);
  // The line write() gives for a frame of width x height with `channels`
  // samples a pixel, 8-bit or not, that it refuses (not open, not 8-bit BGR,
  // not the size given to open); "" for a frame it takes.
  std::string refusal(int width, int height, int channels, bool eight_bit) const;

  // Flushes the encoder, writes the index and closes the file, checking each
  // step. "" or what is wrong; nothing to do when not open.
  std::string close();

  bool is_open() const { return s_ != nullptr; }
  long long frames() const { return frames_; }           // frames written since open
  cv::Size encoded_size() const { return encoded_; }     // MP4: the size rounded up to even

 private:
  struct state;
  std::string fail(int code, bool from_codec);
  std::string start(const std::string& path, const AVCodec* encoder, double fps);
  std::string drain(bool flush);

  std::unique_ptr<state> s_;
  std::string shown_;
  video_format format_ = video_format::mp4_h264;
  std::string failed_;  // the first failure of write(), reported by close() too
  cv::Size size_, encoded_;
  long long frames_ = 0;
};

}  // namespace trackvideo

#endif  // TRACKVIDEO_VIDEO_VIDEO_ENCODER_H
