// trackvideo/frame_source.cpp - video or folder frames (see frame_source.h).
#include "trackvideo/frame_source.h"

#include <sys/stat.h>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>

namespace trackvideo {

namespace fs = std::filesystem;

bool natural_less(const std::string& a, const std::string& b) {
  auto digit = [](char c) { return c >= '0' && c <= '9'; };
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (digit(a[i]) && digit(b[j])) {
      std::size_t ei = i, ej = j;
      while (ei < a.size() && digit(a[ei])) ++ei;
      while (ej < b.size() && digit(b[ej])) ++ej;
      // The values of the runs, compared without converting: leading zeros
      // skipped, then the longer run is larger, then digit by digit.
      std::size_t si = i, sj = j;
      while (si + 1 < ei && a[si] == '0') ++si;
      while (sj + 1 < ej && b[sj] == '0') ++sj;
      if (ei - si != ej - sj) return ei - si < ej - sj;
      const int c = a.compare(si, ei - si, b, sj, ej - sj);
      if (c != 0) return c < 0;
      i = ei;
      j = ej;
    } else {
      if (a[i] != b[j]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
      ++i;
      ++j;
    }
  }
  if (i < a.size() || j < b.size()) return j < b.size() && i == a.size();
  return a < b;
}

bool has_image_extension(const std::string& name) {
  static const char* const kExtensions[] = {".jpg",  ".jpeg", ".png", ".bmp", ".tif",
                                            ".tiff", ".webp", ".ppm", ".pgm", ".pnm"};
  const std::size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0) return false;
  std::string ext = name.substr(dot);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return std::find_if(std::begin(kExtensions), std::end(kExtensions),
                      [&](const char* e) { return ext == e; }) != std::end(kExtensions);
}

std::string frame_source::open_video(const std::string& path) {
  name_ = path;
  is_video_ = true;
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return "cannot open " + path + ": " + std::strerror(errno);
  if (S_ISDIR(st.st_mode)) return "cannot open " + path + ": " + std::strerror(EISDIR);
  if (!S_ISREG(st.st_mode)) return "cannot open " + path + ": not a regular file";
  // FFmpeg reads nearly every video file; OpenCV's own Motion-JPEG reader
  // needs no external library. Other back ends are not asked: they probe
  // cameras and devices (slow, and leaking in their libraries) rather than
  // files. A file neither opens is a failed open(), or an exception from the
  // back end, both the same failure to us.
  // FFmpeg also "decodes" any text file, as ANSI art: a tracks file given as
  // the video would run to the end with nonsense frames. That codec is refused.
  const int text_codec = cv::VideoWriter::fourcc('a', 'n', 's', 'i');
  for (const int backend : {cv::CAP_FFMPEG, cv::CAP_OPENCV_MJPEG}) {
    try {
      if (video_.open(path, backend) && video_.isOpened() &&
          static_cast<int>(video_.get(cv::CAP_PROP_FOURCC)) != text_codec) {
        const double rate = video_.get(cv::CAP_PROP_FPS);
        fps_ = std::isfinite(rate) && rate > 0 && rate < 1000 ? rate : kFolderFramesPerSecond;
        return "";
      }
    } catch (const cv::Exception&) {
    }
  }
  return "cannot open " + path + " as a video";
}

std::string frame_source::open_folder(const std::string& dir) {
  name_ = dir;
  is_video_ = false;
  std::error_code ec;
  fs::directory_iterator it(dir, ec);
  if (ec) return "cannot open " + dir + ": " + ec.message();
  std::vector<std::string> names;
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    const std::string name = it->path().filename().string();
    std::error_code ignored;
    if (has_image_extension(name) && it->is_regular_file(ignored)) names.push_back(name);
  }
  if (ec) return "cannot read " + dir + ": " + ec.message();
  std::sort(names.begin(), names.end(), natural_less);
  images_.clear();
  for (const std::string& n : names) images_.push_back((fs::path(dir) / n).string());
  return "";
}

std::string frame_source::missing() const {
  const std::string f = std::to_string(position_ + 1);
  if (is_video_)
    return name_ + ": no frame " + f + " (the video ends after " + std::to_string(position_) +
           " frames)";
  return name_ + ": no frame " + f + " (the folder holds " + std::to_string(images_.size()) +
         " images)";
}

std::string frame_source::next(cv::Mat& frame) {
  if (is_video_) {
    try {
      if (!video_.read(frame) || frame.empty()) return missing();
    } catch (const cv::Exception&) {
      return name_ + ": cannot decode frame " + std::to_string(position_ + 1);
    }
  } else {
    if (position_ >= static_cast<long long>(images_.size())) return missing();
    const std::string& path = images_[static_cast<std::size_t>(position_)];
    try {
      frame = cv::imread(path, cv::IMREAD_COLOR);
    } catch (const cv::Exception&) {
      frame.release();
    }
    if (frame.empty()) return "cannot decode " + path + " as an image";
  }
  if (frame.type() != CV_8UC3) {
    cv::Mat converted;
    if (frame.depth() != CV_8U)
      return name_ + ": frame " + std::to_string(position_ + 1) + " is not 8-bit";
    if (frame.channels() == 1)
      cv::cvtColor(frame, converted, cv::COLOR_GRAY2BGR);
    else if (frame.channels() == 4)
      cv::cvtColor(frame, converted, cv::COLOR_BGRA2BGR);
    else
      return name_ + ": frame " + std::to_string(position_ + 1) + " has an unsupported layout";
    frame = converted;
  }
  ++position_;
  return "";
}

std::string frame_source::skip() {
  if (is_video_) {
    bool got = false;
    try {
      got = video_.grab();
    } catch (const cv::Exception&) {
    }
    if (!got) return missing();
  } else if (position_ >= static_cast<long long>(images_.size())) {
    return missing();
  }
  ++position_;
  return "";
}

}  // namespace trackvideo
