// trackvideo/frame_source.h - the frames of a run, in order, one at a time:
// a video file, or the images of a folder.
//
// Video: a file OpenCV's video I/O opens through FFmpeg or its own Motion-JPEG
// reader; frame f is the f-th decoded frame.
// Folder: the regular files of the folder whose names end in an image
// extension (.jpg .jpeg .png .bmp .tif .tiff .webp .ppm .pgm .pnm, any case),
// in natural name order (see natural_less); other entries are ignored.
//
// Ownership: the source owns its decoder; the frame handed out is the
// caller's cv::Mat (overwritten by each next()). Only regular files are opened
// (a FIFO or a device might never deliver a frame). Cost: next() decodes one
// frame; skip() passes one without decoding an image (a video still reads
// it); memory is one decoded frame.
#ifndef TRACKVIDEO_FRAME_SOURCE_H
#define TRACKVIDEO_FRAME_SOURCE_H

#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

#include <string>
#include <vector>

namespace trackvideo {

// The frame rate of a folder of images, and of a video that states none.
constexpr double kFolderFramesPerSecond = 10.0;

// Natural order: runs of digits compare as numbers ("2.png" < "10.png"),
// everything else byte by byte; names equal that way ("01" and "1") fall
// back to plain byte order, so the order is total.
bool natural_less(const std::string& a, const std::string& b);

// Whether `name` ends in one of the image extensions above, in any case.
bool has_image_extension(const std::string& name);

class frame_source {
 public:
  // "" or what is wrong ("cannot open PATH: <reason>", "cannot open PATH as a video").
  std::string open_video(const std::string& path);
  // Lists the images of `dir`. "" or "cannot open DIR: <reason>".
  std::string open_folder(const std::string& dir);

  // Decodes the next frame into `frame` as 8-bit BGR (grey and alpha images
  // are converted). "" or what is wrong, e.g. "VIDEO: no frame 31 (the video
  // ends after 30 frames)" or "cannot decode PATH as an image".
  std::string next(cv::Mat& frame);
  // Passes the next frame; fails as next() does when there is none.
  std::string skip();

  long long position() const { return position_; }  // frames passed so far
  double fps() const { return fps_; }
  // The images of a folder, full paths in frame order (empty for a video).
  const std::vector<std::string>& images() const { return images_; }
  // The video file or the folder, as given.
  const std::string& name() const { return name_; }

 private:
  std::string missing() const;

  std::string name_;
  bool is_video_ = false;
  cv::VideoCapture video_;
  std::vector<std::string> images_;
  long long position_ = 0;
  double fps_ = kFolderFramesPerSecond;
};

}  // namespace trackvideo

#endif  // TRACKVIDEO_FRAME_SOURCE_H
