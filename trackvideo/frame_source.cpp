// trackvideo/frame_source.cpp - video or folder frames (see frame_source.h).
#include "common/tokens.h"
#include "trackvideo/frame_source.h"

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

std::string frame_source::missing() const {
  const std::string f = std::to_string(position_ + 1);
  const std::string name = common::shown_name(name_);
  if (is_video_)
    return name + ": no frame " + f + " (the video ends after " + std::to_string(position_) +
           (position_ == 1 ? " frame)" : " frames)");
  return name + ": no frame " + f + " (the folder holds " + std::to_string(images_.size()) +
         (images_.size() == 1 ? " image)" : " images)");
}

std::string frame_source::next_video(cv::Mat* frame) {
  if (!video_) return missing();  // after a failure
  bool ended = false;
  std::string why = video_->next(frame, ended);
  if (why.empty() && ended) why = missing();
  if (!why.empty()) video_.reset();
  return why;
}

std::string frame_source::next_image(cv::Mat& frame) {
  if (position_ >= static_cast<long long>(images_.size())) return missing();
  const std::string& path = images_[static_cast<std::size_t>(position_)];
  // The file read whole through the descriptor that was checked.
  std::string why = common::read_file(path, file_bytes_);
  const std::string shown = common::shown_name(path);
  if (!why.empty()) return "cannot open " + shown + ": " + why;
  // An empty file is no image (and the decoder would read a null source by name).
  if (file_bytes_.empty()) return "cannot decode " + shown + " as a colour image";
  // The decoder reads from memory: the path is only the name in its messages.
  why = histfeat::decode_image(
      {reinterpret_cast<const unsigned char*>(file_bytes_.data()), file_bytes_.size(), shown},
      max_pixels_, image_);
  if (!why.empty()) return why;
  if (expected_width_ > 0 && (image_.width != expected_width_ || image_.height != expected_height_))
    return shown + ": " + std::to_string(image_.width) + " x " + std::to_string(image_.height) +
           " pixels, not the " + std::to_string(expected_width_) + " x " +
           std::to_string(expected_height_) + " of " + expected_source_;
  frame.create(image_.height, image_.width, CV_8UC3);
  const std::size_t row = 3 * static_cast<std::size_t>(image_.width);
  for (int y = 0; y < image_.height; ++y)
    std::memcpy(frame.ptr(y), image_.pixels.data() + image_.row_bytes * static_cast<std::size_t>(y),
                row);
  return "";
}

std::string frame_source::next(cv::Mat& frame) {
  std::string why;
  try {
    why = is_video_ ? next_video(&frame) : next_image(frame);
  } catch (const std::bad_alloc&) {
    why = "out of memory";
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
      why = "out of memory";
    }
  } else if (position_ >= static_cast<long long>(images_.size())) {
    why = missing();
  }
  if (!why.empty()) return why;
  ++position_;
  return "";
}

}  // namespace trackvideo
