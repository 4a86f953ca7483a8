// The frame cache: which file, whether its frame is still current, reading and
// eviction. Decoding is OpenCV's.

#include "histfeat/frame_source.h"

#include "histfeat/internal.h"

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace histfeat {

namespace {

long long nanoseconds(const timespec& t) {
  return t.tv_sec * 1000000000LL + t.tv_nsec;
}

std::string cannot_open(const std::string& path, const std::string& reason) {
  return "cannot open " + path + ": " + reason;
}

}  // namespace

bool frame_cache::read_whole(int fd, long long size, bool& readable) {
  readable = true;
  if (size > kMaxFileBytes) {
    file_bytes_.clear();
    return false;
  }
  std::size_t got = 0;
  file_bytes_.resize(static_cast<std::size_t>(size));
  for (;;) {
    if (got == file_bytes_.size()) {  // the file grew since fstat
      if (got >= kMaxFileBytes) {
        file_bytes_.clear();
        return false;
      }
      file_bytes_.resize(std::min<std::size_t>(kMaxFileBytes, 2 * got + 65536));
    }
    ssize_t n = ::read(fd, file_bytes_.data() + got, file_bytes_.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      readable = n == 0;
      break;
    }
    got += static_cast<std::size_t>(n);
  }
  file_bytes_.resize(got);
  return true;
}

void frame_cache::forget(const file_id& id) {
  auto found = entries_.find(id);
  if (found == entries_.end()) return;
  bytes_ -= found->second.samples.size();
  entries_.erase(found);
}

const frame_planes* frame_cache::load(const std::string& path, std::string& why) {
  struct stat now;
  if (::stat(path.c_str(), &now) != 0) {
    why = cannot_open(path, std::strerror(errno));
    return nullptr;
  }
  const file_id id{static_cast<unsigned long long>(now.st_dev),
                   static_cast<unsigned long long>(now.st_ino)};
  auto found = entries_.find(id);
  if (found != entries_.end() && found->second.size == now.st_size &&
      found->second.mtime_ns == nanoseconds(now.st_mtim) &&
      found->second.ctime_ns == nanoseconds(now.st_ctim)) {
    found->second.last_use = ++uses_;
    return &found->second.planes;
  }
  forget(id);  // changed since it was decoded, if it was

  // Only a regular file is read (opening does not wait for a FIFO's writer).
  // One of reasonable size is read through one descriptor, its state taken from
  // that descriptor, so the entry describes the very bytes decoded; a huge one
  // is left to OpenCV's reader and not kept.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    why = cannot_open(path, std::strerror(errno));
    return nullptr;
  }
  struct stat read_state;
  std::string refused =
      ::fstat(fd, &read_state) == 0 ? not_regular(read_state) : std::strerror(errno);
  if (!refused.empty()) {
    ::close(fd);
    why = cannot_open(path, refused);
    return nullptr;
  }
  bool readable = true;
  const bool keep = read_whole(fd, read_state.st_size, readable);
  ::close(fd);

  // EXIF orientation is not applied: the boxes are in the stored pixel grid.
  const int flags = cv::IMREAD_COLOR | cv::IMREAD_IGNORE_ORIENTATION;
  cv::Mat image;
  try {
    if (!keep)
      image = cv::imread(path, flags);
    else if (readable && !file_bytes_.empty())
      image = cv::imdecode(file_bytes_, flags);
  } catch (const cv::Exception&) {
    image.release();
  }
  if (image.empty() || image.type() != CV_8UC3) {
    why = "cannot decode " + path + " as a colour image";
    return nullptr;
  }
  ++decodes_;

  entry e{read_state.st_size,
          nanoseconds(read_state.st_mtim),
          nanoseconds(read_state.st_ctim),
          {},
          {},
          ++uses_};
  e.planes = split_frame(image.data, image.cols, image.rows, image.step, e.samples);
  if (!keep) {
    unkept_ = std::move(e);
    return &unkept_.planes;
  }

  // Keyed by the identity of the file that was read (the name may have been
  // pointed elsewhere since the stat above).
  const file_id read_id{static_cast<unsigned long long>(read_state.st_dev),
                        static_cast<unsigned long long>(read_state.st_ino)};
  forget(read_id);
  bytes_ += e.samples.size();
  const frame_planes* planes = &entries_.emplace(read_id, std::move(e)).first->second.planes;
  drop_least_recent_beyond_limit(read_id);
  return planes;
}

void frame_cache::drop_least_recent_beyond_limit(const file_id& keep) {
  while (bytes_ > byte_limit_ && entries_.size() > 1) {
    auto oldest = entries_.end();
    for (auto it = entries_.begin(); it != entries_.end(); ++it)
      if (!(it->first == keep) &&
          (oldest == entries_.end() || it->second.last_use < oldest->second.last_use))
        oldest = it;
    bytes_ -= oldest->second.samples.size();
    entries_.erase(oldest);
  }
}

}  // namespace histfeat
