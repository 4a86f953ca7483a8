// The frame cache: which file, whether its frame is still current, reading and
// eviction. Decoding is decode.cpp's.

#include "histfeat/frame_source.h"

#include "histfeat/decode.h"
#include "common/input_file.h"

#include <sys/stat.h>

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

  // Only a regular file is read. One of reasonable size is read through one
  // descriptor, its state taken from that descriptor, so the entry describes the
  // very bytes decoded; a huge one is left to the decoder to read and not kept.
  struct stat read_state;
  const std::string refused = common::read_file(path, file_bytes_, &read_state, kMaxFileBytes);
  const bool keep = refused.empty();
  if (!keep && refused != common::kLargerThanLimit) {
    why = cannot_open(path, refused);
    return nullptr;
  }
  if (keep && file_bytes_.empty()) {
    why = "cannot decode " + path + " as a colour image";
    return nullptr;
  }
  entry e{read_state.st_size,
          nanoseconds(read_state.st_mtim),
          nanoseconds(read_state.st_ctim),
          {},
          {},
          ++uses_};
  const image_source source{
      keep ? reinterpret_cast<const unsigned char*>(file_bytes_.data()) : nullptr,
      file_bytes_.size(), path};
  why = decode_frame(source, max_pixels_, e.samples, e.planes);
  if (!why.empty()) return nullptr;
  ++decodes_;
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

std::string frame_cache::verify() const {
  std::size_t total = 0;
  for (const auto& [id, e] : entries_) {
    total += e.samples.size();
    const std::size_t area = static_cast<std::size_t>(e.planes.red.width) *
                             static_cast<std::size_t>(e.planes.red.height);
    const sample_plane* planes[3] = {&e.planes.red, &e.planes.green, &e.planes.blue};
    if (e.samples.size() != 3 * area) return "an entry's samples are not three planes";
    for (std::size_t k = 0; k < 3; ++k)
      if (planes[k]->data != e.samples.data() + k * area ||
          planes[k]->stride != static_cast<std::size_t>(e.planes.red.width))
        return "an entry's planes do not view its samples";
    if (e.last_use > uses_) return "an entry used after the last use";
  }
  if (total != bytes_) return "bytes() is not the sum of the entries' samples";
  if (bytes_ > byte_limit_ && entries_.size() > 1) return "more than one entry beyond the limit";
  return "";
}

}  // namespace histfeat
