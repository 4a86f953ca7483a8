// trackvideo/input/frame_source.h - the frames of a run, in order, one at a time:
// a video file, or the images of a folder.
//
// Video: a file FFmpeg's libraries read (video_decoder.h, through the video
// module of video_support.h, loaded by the first open_video); frame f is the
// f-th decoded frame, with the pixels OpenCV's FFmpeg capture gives.
// Folder: the regular files of the folder whose names end in an image
// extension (.jpg .jpeg .png .bmp .tif .tiff .webp .ppm .pgm .pnm, any case)
// and do not start with '.', in natural name order (see natural_less); other
// entries are ignored. Each image is decoded as histfeat decodes it
// (histfeat/decode.h), so that the records of a folder are histfeat's; no
// decoder of other formats is registered, so only JPEG and PNG images decode
// (the rest fail with "cannot decode PATH: not a JPEG or PNG image").
//
// Frames of more than `max_pixels` pixels are refused. Ownership: the source
// owns its decoder; the frame handed out is the caller's cv::Mat (overwritten
// by each next()). Only regular files are opened, and the check is made on the
// open descriptor (a FIFO or a device might never deliver a frame). Cost:
// next() decodes one frame; skip() passes one without decoding an image (a
// video still decodes it); memory is one decoded frame, plus an image's file.
//
// Threads: a video is read in order by one thread at a time. A folder's frame
// f may also be decoded by read_image(), from several threads at once, each
// with its own image_buffers, while no open_*, expect_size, next() or skip()
// runs.
#ifndef TRACKVIDEO_INPUT_FRAME_SOURCE_H
#define TRACKVIDEO_INPUT_FRAME_SOURCE_H

#include <opencv2/core.hpp>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "histfeat/decode.h"
#include "trackvideo/video/video_support.h"

namespace trackvideo {

// The frame rate of a folder of images, and of a video that states none.
constexpr double kFolderFramesPerSecond = 10.0;

// Natural order: runs of digits compare as numbers ("2.png" < "10.png"),
// letters without regard to case ("IMG5.JPG" after "img1.jpg"), everything
// else byte by byte; names equal that way ("01" and "1", "a" and "A") fall
// back to plain byte order, so the order is total.
bool natural_less(const std::string& a, const std::string& b);

// Whether `name` ends in one of the image extensions above, in any case.
bool has_image_extension(const std::string& name);

class frame_source {
 public:
  explicit frame_source(long long max_pixels = histfeat::kDefaultMaxPixels)
      : max_pixels_(max_pixels) {}

  // "" or what is wrong ("cannot open PATH: <reason>", "cannot open PATH as a
  // video", "PATH: W x H pixels, more than the limit of N", "out of memory",
  // "cannot read PATH: the video support (...) cannot be loaded: <reason>").
  // `threads` decoding threads: 0 for one per core, 1 for none of FFmpeg's.
  std::string open_video(const std::string& path, int threads = 0);
  // Lists the images of `dir`. "" or "cannot open DIR: <reason>".
  std::string open_folder(const std::string& dir);
  // The images `paths` in that order, frame 1 first, decoded as a folder's;
  // `name` names them in messages, `fps` is their frame rate. Cannot fail.
  void open_list(const std::string& name, std::vector<std::string> paths, double fps);
  // Refuses every decoded image that is not `width` x `height` pixels
  // ("IMAGE: W x H pixels, not the WIDTH x HEIGHT of `source`"); 0 x 0 for
  // no check.
  void expect_size(int width, int height, const std::string& source) {
    expected_width_ = width;
    expected_height_ = height;
    expected_source_ = source;
  }

  // Decodes the next frame into `frame` as 8-bit BGR. "" or what is wrong,
  // e.g. "VIDEO: no frame 31 (the video ends after 30 frames)", "VIDEO: frame
  // 22 cannot be decoded: <reason>", "IMAGE: <the decoder's message>", "cannot
  // open IMAGE: <reason>" or "out of memory".
  std::string next(cv::Mat& frame);
  // Passes the next frame; fails as next() does when there is none.
  std::string skip();

  // Whether frames are read in order only (a video), not by read_image().
  bool sequential() const { return is_video_; }
  // An image's file and pixels, reused by read_image().
  struct image_buffers {
    std::string file_bytes;
    histfeat::bgr_image image;
  };
  // A folder's frame f (from 1) into `frame`, as next() would decode it after
  // f - 1 frames, with `buffers`; the source's own position stays. Same failures as next().
  // Precondition: !sequential().
  std::string read_image(long long f, cv::Mat& frame, image_buffers& buffers) const;
  // "" when a folder has a frame f, else next()'s line for it. Precondition:
  // !sequential().
  std::string has_image(long long f) const;

  double fps() const { return fps_; }
  // The images of a folder, full paths in frame order (empty for a video).
  const std::vector<std::string>& images() const { return images_; }
  // The video file or the folder, as given.
  const std::string& name() const { return name_; }

 private:
  std::string missing(long long f) const;  // no frame f (from 1)
  std::string next_video(cv::Mat* frame);
  std::string decode(long long f, cv::Mat& frame, image_buffers& buffers) const;

  long long max_pixels_;
  std::string name_;
  bool is_video_ = false;
  std::unique_ptr<video_reader> video_;
  std::vector<std::string> images_;
  image_buffers buffers_;  // next()'s, reused
  long long position_ = 0;
  double fps_ = kFolderFramesPerSecond;
  int expected_width_ = 0, expected_height_ = 0;  // 0 x 0: any size
  std::string expected_source_;                   // who says the size
};

}  // namespace trackvideo

#endif  // TRACKVIDEO_INPUT_FRAME_SOURCE_H
