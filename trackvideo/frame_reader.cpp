// trackvideo/frame_reader.cpp - the reading thread (see frame_reader.h).
#include "trackvideo/frame_reader.h"

#include <new>
#include <utility>

#include "trackvideo/failure.h"

namespace trackvideo {

frame_reader::frame_reader(const tracks& t, frame_source& source, bool decode_every_frame,
                           bool with_text)
    : tracks_(t),
      source_(source),
      decode_every_frame_(decode_every_frame),
      maker_(t, with_text),
      thread_(&frame_reader::work, this) {}

frame_reader::~frame_reader() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

std::string frame_reader::read(int f, std::size_t first, std::size_t last, frame_records& slot) {
  const bool has_boxes = last > first;
  if (!has_boxes && !decode_every_frame_) {
    slot.reset(f, first);
    return source_.skip();
  }
  std::string why = source_.next(slot.image);
  if (!why.empty()) return why;
  slot.decoded = true;
  if (has_boxes) return maker_.make(f, first, last, slot);
  slot.reset(f, first);
  slot.decoded = true;
  return "";
}

void frame_reader::work() {
  std::size_t first = 0;
  for (int f = 1; f <= tracks_.last_frame; ++f) {
    std::size_t last = first;
    while (last < tracks_.boxes.size() && tracks_.boxes[last].frame == f) ++last;
    long long n = 0;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [this] { return stop_ || filled_ < released_ + kSlots; });
      if (stop_) return;
      n = filled_;
    }
    // The slot is the thread's alone until filled_ passes n.
    const std::size_t slot = static_cast<std::size_t>(n % kSlots);
    std::string why;
    try {
      why = read(f, first, last, slots_[slot]);
    } catch (const std::exception& e) {
      // The allocator or OpenCV: the run ends, not the process, and running
      // out of memory says what it says in the caller's thread. Nothing
      // thrown here leaves the thread.
      why = failure_text(e);
      if (why != kOutOfMemory) {
        try {
          why = "frame " + std::to_string(f) + ": " + why;
        } catch (const std::bad_alloc&) {
          why = kOutOfMemory;
        }
      }
    }
    const bool failed = !why.empty();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      errors_[slot] = std::move(why);  // no allocation: nothing is thrown here
      ++filled_;
    }
    changed_.notify_all();
    if (failed) return;
    first = last;
  }
}

frame_records* frame_reader::next(std::string& why) {
  std::unique_lock<std::mutex> lock(mutex_);
  released_ = handed_;
  changed_.notify_all();
  changed_.wait(lock, [this] { return filled_ > handed_; });
  const std::size_t slot = static_cast<std::size_t>(handed_ % kSlots);
  ++handed_;
  if (!errors_[slot].empty()) {
    why = errors_[slot];
    return nullptr;
  }
  return &slots_[slot];
}

}  // namespace trackvideo
