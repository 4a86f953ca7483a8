// The frame source: the planes of an image file, decoded once and kept while the
// file is unchanged.
//
// frame_cache keeps decoded frames by file, least recently used dropped first. A
// frame is the image's channels 0, 1, 2 as three planes (see
// split_frame in record.h), all owned by the cache. Frames are keyed by the
// file's identity (device and inode), so links and other names of one file share
// an entry; an entry is used only while the file still has the size,
// modification and change times it had when it was decoded, else the file is
// decoded again. Only regular files are read at all (a device or a FIFO might
// never end, or never start): anything else fails with "cannot open PATH: not a
// regular file" (or "Is a directory"). Files of at most kMaxFileBytes are kept; a
// larger one is decoded by name each time.
//
// Cost: one stat() per load; a miss adds reading the file and decoding it.
// Memory: 3 bytes per pixel and frame; the frames kept total at most
// `byte_limit` bytes, except that the frame just loaded is always kept. Not
// shared between threads.

#ifndef HISTFEAT_FRAME_SOURCE_H
#define HISTFEAT_FRAME_SOURCE_H

#include "histfeat/decode.h"
#include "histfeat/record.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace histfeat {

class frame_cache {
 public:
  static constexpr std::size_t kDefaultByteLimit = std::size_t{64} << 20;
  static constexpr long long kMaxFileBytes = 64LL << 20;  // read whole, decoded in memory

  // Images of more than `max_pixels` pixels are refused from their header
  // (JPEG and PNG; see decode.h).
  explicit frame_cache(std::size_t byte_limit = kDefaultByteLimit,
                       long long max_pixels = kDefaultMaxPixels)
      : byte_limit_(byte_limit), max_pixels_(max_pixels) {}

  // The planes of the image in `path`, or nullptr after setting `why` to "cannot
  // open PATH: <reason>" or what decode_frame says. The planes stay valid until
  // the next call of load(). Throws std::bad_alloc when memory runs out (the
  // cache stays usable).
  const frame_planes* load(const std::string& path, std::string& why);

  // Checks every invariant below (O(bytes kept)): "" or the first one broken.
  std::string verify() const;

  std::size_t decodes() const { return decodes_; }  // frames decoded so far
  std::size_t bytes() const { return bytes_; }      // bytes of the frames kept now
  std::size_t frames() const { return entries_.size(); }

 private:
  struct file_id {
    unsigned long long device, inode;
    bool operator==(const file_id& o) const { return device == o.device && inode == o.inode; }
  };
  struct file_id_hash {
    std::size_t operator()(const file_id& id) const { return id.inode * 31 + id.device; }
  };
  struct entry {
    long long size, mtime_ns, ctime_ns;  // the file's state when decoded
    std::vector<std::uint8_t> samples;   // red, green, blue: one plane after the other
    frame_planes planes;                 // views into `samples`
    unsigned long long last_use;
  };

  void forget(const file_id& id);
  void drop_least_recent_beyond_limit(const file_id& keep);

  // Invariants: bytes_ = the sum of samples.size() over entries_; bytes_ <=
  // byte_limit_ unless one entry is kept; an entry's samples are its three
  // planes one after the other (3 bytes per pixel), which its `planes` view;
  // last_use <= uses_.
  std::size_t byte_limit_;
  long long max_pixels_;
  std::size_t bytes_ = 0, decodes_ = 0;
  unsigned long long uses_ = 0;
  std::unordered_map<file_id, entry, file_id_hash> entries_;
  entry unkept_{};          // the last frame of a file not kept
  std::string file_bytes_;  // read buffer, reused
};

}  // namespace histfeat

#endif  // HISTFEAT_FRAME_SOURCE_H
