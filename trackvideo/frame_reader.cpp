// trackvideo/frame_reader.cpp - the reading workers (see frame_reader.h).
#include "trackvideo/frame_reader.h"

#include <algorithm>
#include <functional>
#include <new>
#include <utility>

#include "trackvideo/failure.h"

namespace trackvideo {

frame_reader::frame_reader(const tracks& t, frame_source& source, bool decode_every_frame,
                           bool with_text, int threads, const pair_work* pairs)
    : source_(source),
      decode_every_frame_(decode_every_frame),
      sequential_(source.sequential()),
      frames_(std::max(t.last_frame, 0)),
      failed_(frames_) {
  first_box_.reserve(static_cast<std::size_t>(frames_) + 1);
  std::size_t i = 0;
  for (long long f = 1; f <= frames_; ++f) {
    first_box_.push_back(i);
    while (i < t.boxes.size() && t.boxes[i].frame == f) ++i;
  }
  first_box_.push_back(i);
  const int n = static_cast<int>(std::max(1LL, std::min<long long>(threads, frames_)));
  workers_.reserve(static_cast<std::size_t>(n));
  for (int k = 0; k < n; ++k) workers_.emplace_back(t, with_text, pairs);
  const std::size_t slots = n == 1 ? 1 : 2 * static_cast<std::size_t>(n);
  slots_.resize(slots);
  errors_.resize(slots);
  ready_.assign(slots, 0);
  if (n == 1) return;  // next() reads on the caller's thread
  try {
    for (worker& w : workers_) threads_.emplace_back(&frame_reader::work, this, std::ref(w));
  } catch (...) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    changed_.notify_all();
    for (std::thread& th : threads_) th.join();
    throw;
  }
}

frame_reader::~frame_reader() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  for (std::thread& th : threads_) th.join();
}

bool frame_reader::claimable() const {
  return claimed_ < failed_ && claimed_ < released_ + static_cast<long long>(slots_.size());
}

std::string frame_reader::read(worker& w, long long n, std::unique_lock<std::mutex>& in_order) {
  const int f = static_cast<int>(n + 1);
  const std::size_t first = first_box_[static_cast<std::size_t>(n)];
  const std::size_t last = first_box_[static_cast<std::size_t>(n) + 1];
  frame_records& slot = slots_[static_cast<std::size_t>(n) % slots_.size()];
  std::string why;
  try {
    const bool has_boxes = last > first;
    if (!has_boxes && !decode_every_frame_) {
      slot.reset(f, first);
      return sequential_ ? source_.skip() : source_.has_image(f);
    }
    why = sequential_ ? source_.next(slot.image) : source_.read_image(f, slot.image, w.buffers);
    // The records need no decoder: the next frame may be decoded meanwhile.
    if (in_order.owns_lock()) in_order.unlock();
    if (!why.empty()) return why;
    slot.decoded = true;
    if (has_boxes) {
      why = w.maker.make(f, first, last, slot);
      if (why.empty() && w.pairs) w.pairs->make(slot, slot.pairs);
      return why;
    }
    slot.reset(f, first);
    slot.decoded = true;
    return "";
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
    return why;
  }
}

void frame_reader::work(worker& w) {
  for (;;) {
    std::unique_lock<std::mutex> in_order(in_order_, std::defer_lock);
    if (sequential_) in_order.lock();
    long long n = 0;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [this] { return stop_ || claimed_ >= failed_ || claimable(); });
      if (stop_ || claimed_ >= failed_) return;
      n = claimed_++;
    }
    std::string why = read(w, n, in_order);
    if (in_order.owns_lock()) in_order.unlock();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      const std::size_t slot = static_cast<std::size_t>(n) % slots_.size();
      if (!why.empty() && n < failed_) failed_ = n;
      errors_[slot].swap(why);  // no allocation: nothing is thrown here
      ready_[slot] = 1;
    }
    changed_.notify_all();
  }
}

frame_records* frame_reader::next(std::string& why) {
  if (threads_.empty()) {
    // One worker: the caller's thread reads the frame itself, into slot 0.
    std::unique_lock<std::mutex> none(in_order_, std::defer_lock);
    std::string failed = read(workers_[0], handed_, none);
    released_ = handed_;
    claimed_ = ++handed_;
    if (failed.empty()) return &slots_[0];
    failed_ = handed_ - 1;
    why.swap(failed);
    return nullptr;
  }
  std::unique_lock<std::mutex> lock(mutex_);
  released_ = handed_;
  changed_.notify_all();
  const std::size_t slot = static_cast<std::size_t>(handed_) % slots_.size();
  changed_.wait(lock, [this, slot] { return ready_[slot] != 0; });
  ready_[slot] = 0;
  ++handed_;
  if (errors_[slot].empty()) return &slots_[slot];
  why.swap(errors_[slot]);
  stop_ = true;  // nothing more is read
  changed_.notify_all();
  return nullptr;
}

bool frame_reader::verify() {
  std::lock_guard<std::mutex> lock(mutex_);
  const long long slots = static_cast<long long>(slots_.size());
  if (!(0 <= released_ && released_ <= handed_ && handed_ <= claimed_ &&
        claimed_ <= std::min(released_ + slots, frames_) && handed_ <= failed_ + 1))
    return false;
  for (long long s = 0; s < slots; ++s) {
    if (!ready_[static_cast<std::size_t>(s)]) continue;
    // The one frame of [handed_, claimed_) that lives in slot s, if any.
    const long long n = handed_ + ((s - handed_ % slots) + slots) % slots;
    if (n >= claimed_) return false;
    const frame_records& r = slots_[static_cast<std::size_t>(s)];
    if (errors_[static_cast<std::size_t>(s)].empty() && r.frame != n + 1) return false;
  }
  return true;
}

}  // namespace trackvideo
