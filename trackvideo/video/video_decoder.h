// trackvideo/video/video_decoder.h - the frames of a video file, decoded by FFmpeg's
// libraries, one at a time in decode order.
//
// A frame's pixels are those OpenCV's FFmpeg capture gives for it: the decoded
// picture converted to 8-bit blue, green, red by swscale (bicubic, at the
// decoder's coded size, then cut to the stream's size, then turned as the
// stream's display matrix says, by quarter turns). The decoder runs FFmpeg's
// own threads (frame and slice threads, as many as open() is given), which
// change neither the frames nor their order.
//
// Hostile files: only regular files are read (the check is made on the open
// descriptor); a file whose format is only guessed weakly (random bytes), text
// rendered as pictures (ANSI art and its kin) and streams of no known pixel
// format are refused at open(). A frame the decoder complains about (an error,
// or a warning about its data), marks corrupt, or fails to deliver fails with
// one line naming the video and the frame; FFmpeg's own log never reaches the
// terminal (a callback keeps the first such message for that line). A complaint
// cannot always be tied to its frame (the decoder's threads and reordering keep
// a few frames in flight): it fails the first frame not yet handed out, so no
// damaged frame is handed out, though the frame named may precede the damage.
// A file that ends within a frame ends the video before that frame.
//
// Ownership: the decoder owns its FFmpeg contexts and the descriptor, and
// holds the last frame decoded (converted, before it is turned) until the next
// decode; the frame copied out is the caller's. Cost: decode() decodes one
// frame and converts it (O(pixels)), copy_held() turns or copies it (O(pixels));
// memory is the decoder's reference frames plus one frame per decoding thread.
// Not shared between threads.
//
// Built into the video module only: the program reaches it through the
// module's C table (video_module_abi.h, video_module.cpp) and video_reader
// (video_support.h); tests linked with it call it directly.
#ifndef TRACKVIDEO_VIDEO_VIDEO_DECODER_H
#define TRACKVIDEO_VIDEO_VIDEO_DECODER_H

#include <opencv2/core.hpp>

#include <memory>
#include <string>

namespace trackvideo {

class video_decoder {
 public:
  video_decoder();
  ~video_decoder();
  video_decoder(const video_decoder&) = delete;
  video_decoder& operator=(const video_decoder&) = delete;

  // Opens the video `path` (named in messages by common::shown_name). "" or "cannot open PATH:
  // <reason>", "cannot open PATH as a video", "PATH: W x H pixels, more than the
  // limit of N" (frames larger than `max_pixels`) or "out of memory".
  // `threads`: FFmpeg's frame and slice threads, 0 for one per core, 1 for
  // none besides the caller's (negative is taken as 0).
  std::string open(const std::string& path, long long max_pixels, int threads);

  // Decodes the next frame; when `keep`, converts it and holds it for
  // held_size() and copy_held(), else passes it over. "" with `ended` false;
  // "" with `ended` true when the video has no more frames (also when the
  // file ends within a frame); else "PATH: frame N cannot be decoded:
  // <reason>", "PATH: frame N has W x H pixels, ..." or "out of memory".
  // Precondition: open() succeeded; not called again after a failure.
  std::string decode(bool keep, bool& ended);
  // The size of the frame held, as handed out (a turned stream's sides
  // swapped); 0 x 0 when none is.
  cv::Size held_size() const;
  // The frame held, turned as the stream says, into `frame` (made 8-bit BGR
  // of held_size() unless it is already, as cv::Mat::create makes it; else
  // written in place). Precondition: a frame is held. Throws what OpenCV
  // throws when it cannot allocate.
  void copy_held(cv::Mat& frame) const;
  // decode(), then copy_held() into `frame` unless it is null.
  std::string next(cv::Mat* frame, bool& ended);

  // The stream's frame rate if finite and in (0, 1000), else `fallback`.
  double fps(double fallback) const;
  long long frames() const { return frames_; }  // frames delivered so far

 private:
  struct state;
  std::string fail_frame(const std::string& reason);
  std::string convert();

  std::unique_ptr<state> s_;
  std::string name_;
  long long max_pixels_ = 0;
  long long frames_ = 0;
  bool held_ = false;  // a frame converted by the last decode()
};

}  // namespace trackvideo

#endif  // TRACKVIDEO_VIDEO_VIDEO_DECODER_H
