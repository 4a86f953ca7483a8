// trackvideo/input/frame_source.cpp - video or folder frames (see frame_source.h).
#include "common/tokens.h"
#include "trackvideo/input/frame_source.h"
#include "trackvideo/base/failure.h"

#include "common/input_file.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <new>
#include <utility>

namespace trackvideo {

namespace fs = std::filesystem;

namespace {

// The natural comparison of a and b (<0, 0, >0), letters folded to lower case
// when `fold`.
int natural_compare(const std::string& a, const std::string& b, bool fold) {
  auto digit = [](char c) { return c >= '0' && c <= '9'; };
  auto byte = [fold](char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    return fold && u >= 'A' && u <= 'Z' ? u + ('a' - 'A') : u;
  };
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
      if (ei - si != ej - sj) return ei - si < ej - sj ? -1 : 1;
      const int c = a.compare(si, ei - si, b, sj, ej - sj);
      if (c != 0) return c;
      i = ei;
      j = ej;
    } else {
      if (byte(a[i]) != byte(b[j])) return byte(a[i]) < byte(b[j]) ? -1 : 1;
      ++i;
      ++j;
    }
  }
  if (i < a.size()) return 1;
  if (j < b.size()) return -1;
  return 0;
}

}  // namespace

bool natural_less(const std::string& a, const std::string& b) {
  const int c = natural_compare(a, b, true);
  return c != 0 ? c < 0 : a < b;
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

std::string frame_source::open_video(const std::string& path, int threads) {
  name_ = path;
  is_video_ = true;
  position_ = 0;
  images_.clear();
  video_.reset();
  if (std::string why = new_video_reader(video_); !why.empty())
    return "cannot read " + common::shown_name(path) + ": " + why;
  const std::string why = video_->open(path, max_pixels_, threads);
  if (!why.empty()) {
    video_.reset();
    return why;
  }
  fps_ = video_->fps(kFolderFramesPerSecond);
  return "";
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
    if (name[0] != '.' && has_image_extension(name) && it->is_regular_file(ignored))
      names.push_back(name);
  }
  if (ec) return "cannot read " + dir + ": " + ec.message();
  std::sort(names.begin(), names.end(), natural_less);
  images_.clear();
  position_ = 0;
  video_.reset();
  for (const std::string& n : names) images_.push_back((fs::path(dir) / n).string());
  return "";
}

void frame_source::open_list(const std::string& name, std::vector<std::string> paths, double fps) {
  name_ = name;
  is_video_ = false;
  images_ = std::move(paths);
  position_ = 0;
  video_.reset();
  fps_ = fps;
}

std::string frame_source::missing(long long frame) const {
  const std::string f = std::to_string(frame);
  const std::string name = common::shown_name(name_);
  if (is_video_)
    return name + ": no frame " + f + " (the video ends after " + std::to_string(frame - 1) +
           (frame == 2 ? " frame)" : " frames)");
  return name + ": no frame " + f + " (the folder holds " + std::to_string(images_.size()) +
         (images_.size() == 1 ? " image)" : " images)");
}

std::string frame_source::next_video(cv::Mat* frame) {
  if (!video_) return missing(position_ + 1);  // after a failure
  bool ended = false;
  std::string why = video_->next(frame, ended);
  if (why.empty() && ended) why = missing(position_ + 1);
  if (!why.empty()) video_.reset();
  return why;
}

std::string frame_source::decode(long long f, cv::Mat& frame, image_buffers& buffers) const {
  const std::string why_not = has_image(f);
  if (!why_not.empty()) return why_not;
  const std::string& path = images_[static_cast<std::size_t>(f - 1)];
  std::string& bytes = buffers.file_bytes;
  histfeat::bgr_image& image = buffers.image;
  // The file read whole through the descriptor that was checked.
  std::string why = common::read_file(path, bytes);
  const std::string shown = common::shown_name(path);
  if (!why.empty()) return "cannot open " + shown + ": " + why;
  // An empty file is no image (and the decoder would read a null source by name).
  if (bytes.empty()) return "cannot decode " + shown + " as a colour image";
  // The decoder reads from memory: the path is only the name in its messages.
  why = histfeat::decode_image(
      {reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), shown}, max_pixels_,
      image);
  if (!why.empty()) return why;
  if (expected_width_ > 0 && (image.width != expected_width_ || image.height != expected_height_))
    return shown + ": " + std::to_string(image.width) + " x " + std::to_string(image.height) +
           " pixels, not the " + std::to_string(expected_width_) + " x " +
           std::to_string(expected_height_) + " of " + expected_source_;
  frame.create(image.height, image.width, CV_8UC3);
  const std::size_t row = 3 * static_cast<std::size_t>(image.width);
  for (int y = 0; y < image.height; ++y)
    std::memcpy(frame.ptr(y), image.pixels.data() + image.row_bytes * static_cast<std::size_t>(y),
                row);
  return "";
}

std::string frame_source::has_image(long long f) const {
  return f >= 1 && f <= static_cast<long long>(images_.size()) ? "" : missing(f);
}

std::string frame_source::read_image(long long f, cv::Mat& frame, image_buffers& buffers) const {
  try {
    return decode(f, frame, buffers);
  } catch (const std::bad_alloc&) {
    return kOutOfMemory;
  }
}

std::string frame_source::next(cv::Mat& frame) {
  std::string why;
  try {
    why = is_video_ ? next_video(&frame) : decode(position_ + 1, frame, buffers_);
  } catch (const std::bad_alloc&) {
    why = kOutOfMemory;
  }
  if (!why.empty()) return why;
  ++position_;
  return "";
}

std::string frame_source::skip() {
  std::string why;
  if (is_video_) {
    try {
      why = next_video(nullptr);
    } catch (const std::bad_alloc&) {
      why = kOutOfMemory;
    }
  } else {
    why = has_image(position_ + 1);
  }
  if (!why.empty()) return why;
  ++position_;
  return "";
}

}  // namespace trackvideo
