// trackvideo/pipeline/frame_pipeline.cpp - the frames' jobs on the workers,
// handed over in order (see frame_pipeline.h).
#include "trackvideo/pipeline/frame_pipeline.h"

#include <algorithm>
#include <cassert>
#include <exception>
#include <utility>

#include "trackvideo/base/failure.h"

namespace trackvideo {

namespace {

// What an outlet returns when the pipeline stops under a worker (never
// reported: the caller already has the run's line).
constexpr char kStopped[] = "stopped";

// The line of an exception thrown by frame f's job.
std::string frame_failure(int f, const std::exception& e) noexcept {
  std::string why = failure_text(e);
  if (why == kOutOfMemory) return why;
  try {
    return "frame " + std::to_string(f) + ": " + why;
  } catch (...) {
    return kOutOfMemory;
  }
}

}  // namespace

frame_pipeline::frame_pipeline(const tracks& t, frame_source* source, const job_work& work,
                               int threads)
    : tracks_(t),
      source_(source),
      work_(work),
      sequential_(source != nullptr && source->sequential()) {
  assert(!work.rows || work.pixels);
  assert(!work.frames_with_boxes || !work.pixels);
  assert(!work.pixels || source != nullptr);
  if (work.frames_with_boxes) {
    for (std::size_t i = 0; i < t.boxes.size(); ++i)
      frames_ += i == 0 || t.boxes[i].frame != t.boxes[i - 1].frame;
  } else {
    frames_ = std::max(t.last_frame, 0);
  }
  failed_ = frames_;
  // Without pixels, frames of few boxes cost less than handing one to a
  // worker: such a pass runs on the caller.
  if (!work.pixels && static_cast<long long>(t.boxes.size()) < kFewBoxes * frames_) threads = 1;
  const int n = static_cast<int>(std::max(1LL, std::min<long long>(threads, frames_)));
  workers_.reserve(static_cast<std::size_t>(n));
  for (int k = 0; k < n; ++k) workers_.emplace_back(t, work);
  slots_.resize(n == 1 ? 1 : 2 * static_cast<std::size_t>(n));
  for (slot& s : slots_) s.ring.resize(kChunksPerSlot);
}

frame_pipeline::~frame_pipeline() {
  stop();
}

void frame_pipeline::stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  claimable_.notify_all();
  room_.notify_all();
  ready_.notify_all();
  for (std::thread& th : threads_) th.join();
  threads_.clear();
}

bool frame_pipeline::claim(int& f, std::size_t& first, std::size_t& last) {
  const std::vector<track_box>& boxes = tracks_.boxes;
  if (work_.frames_with_boxes) {
    if (next_box_ >= boxes.size()) return false;
    f = boxes[next_box_].frame;
  } else {
    if (next_frame_ > tracks_.last_frame) return false;
    f = static_cast<int>(next_frame_);
  }
  first = next_box_;
  while (next_box_ < boxes.size() && boxes[next_box_].frame == f) ++next_box_;
  last = next_box_;
  next_frame_ = static_cast<long long>(f) + 1;
  return true;
}

std::string frame_pipeline::read(worker& w, slot& s, int f, std::size_t first, std::size_t last,
                                 std::unique_lock<std::mutex>& in_order) {
  try {
    frame_records& r = s.frame;
    r.reset(f, first, last, tracks_);
    if (!work_.pixels) return "";
    const bool has_boxes = last > first;
    if (!has_boxes && !work_.every_frame)
      return sequential_ ? source_->skip() : source_->has_image(f);
    std::string why =
        sequential_ ? source_->next(r.image) : source_->read_image(f, r.image, w.buffers);
    // The records need no decoder: the next frame may be decoded meanwhile.
    if (in_order.owns_lock()) in_order.unlock();
    if (!why.empty()) return why;
    r.decoded = true;
    return has_boxes ? w.maker.make(r) : "";
  } catch (const std::exception& e) {
    return frame_failure(f, e);
  }
}

std::string frame_pipeline::run_inline(const consumer& take) {
  worker& w = workers_[0];
  slot& s = slots_[0];
  std::unique_lock<std::mutex> none(in_order_, std::defer_lock);
  // An exception thrown by the consumer goes to the caller as it is; one of
  // the job's own becomes the frame's line.
  std::exception_ptr consumer_threw;
  for (int f = 0; claimed_ < frames_; ++handed_) {
    std::size_t first = 0, last = 0;
    claim(f, first, last);
    ++claimed_;
    std::string why = read(w, s, f, first, last, none);
    if (!why.empty()) return why;
    bool first_piece = true;
    try {
      why = w.job.pairs(s.frame, [&](pair_chunk& c) -> std::string {
        assert(c.verify(work_));
        try {
          const std::string taken = take(frame_piece{s.frame, c, first_piece});
          first_piece = false;
          return taken;
        } catch (...) {
          consumer_threw = std::current_exception();
          return kStopped;
        }
      });
    } catch (const std::exception& e) {
      why = frame_failure(f, e);
    }
    if (consumer_threw) std::rethrow_exception(consumer_threw);
    if (!why.empty()) return why;
  }
  return "";
}

void frame_pipeline::work(worker& w) {
  const long long slots = static_cast<long long>(slots_.size());
  for (;;) {
    std::unique_lock<std::mutex> in_order(in_order_, std::defer_lock);
    if (sequential_) in_order.lock();
    long long n = 0;
    int f = 0;
    std::size_t first = 0, last = 0;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      claimable_.wait(lock,
                      [&] { return stop_ || claimed_ >= failed_ || claimed_ < handed_ + slots; });
      if (stop_ || claimed_ >= failed_) return;
      n = claimed_++;
      claim(f, first, last);
    }
    // The slot is this worker's: the frame that held it before was handed over.
    slot& s = slots_[static_cast<std::size_t>(n % slots)];
    std::string why = read(w, s, f, first, last, in_order);
    if (in_order.owns_lock()) in_order.unlock();
    if (why.empty()) {
      try {
        why = w.job.pairs(s.frame, [&](pair_chunk& c) -> std::string {
          assert(c.verify(work_));
          {
            std::unique_lock<std::mutex> lock(mutex_);
            room_.wait(lock, [&] { return stop_ || s.made < s.given + kChunksPerSlot; });
            if (stop_) return kStopped;
            // The ring's entry was given back: swapped out, it is the job's
            // next (emptied by the job) and no buffer is copied.
            std::swap(c, s.ring[s.made % kChunksPerSlot]);
            ++s.made;
            s.done = s.ring[(s.made - 1) % kChunksPerSlot].last;
          }
          ready_.notify_one();
          return "";
        });
      } catch (const std::exception& e) {
        why = frame_failure(f, e);
      }
    }
    if (why.empty() || why == kStopped) continue;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      s.error.swap(why);  // no allocation: nothing is thrown here
      s.done = true;
      failed_ = std::min(failed_, n);
    }
    ready_.notify_one();
    claimable_.notify_all();
  }
}

std::string frame_pipeline::run(const consumer& take) {
  if (workers_.size() == 1) return run_inline(take);
  // However run() ends (a failure, the consumer's exception), the workers
  // stop before it returns.
  struct stopper {
    frame_pipeline* p;
    ~stopper() { p->stop(); }
  } stop_at_end{this};
  try {
    for (worker& w : workers_) threads_.emplace_back(&frame_pipeline::work, this, std::ref(w));
  } catch (...) {
    stop();
    throw;
  }
  const std::size_t slots = slots_.size();
  for (long long n = 0; n < frames_; ++n) {
    slot& s = slots_[static_cast<std::size_t>(n) % slots];
    for (std::size_t k = 0;; ++k) {
      const pair_chunk* c = nullptr;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        ready_.wait(lock, [&] { return s.made > k || (s.done && s.made == k); });
        if (s.made == k) {  // the frame failed, after its chunks so far
          std::string why;
          why.swap(s.error);
          return why;
        }
        c = &s.ring[k % kChunksPerSlot];
      }
      const std::string why = take(frame_piece{s.frame, *c, k == 0});
      if (!why.empty()) return why;
      const bool last = c->last;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        ++s.given;
        if (last) {
          s.made = s.given = 0;
          s.done = false;
          ++handed_;
        }
      }
      room_.notify_all();
      if (last) {
        claimable_.notify_all();
        break;
      }
    }
  }
  return "";
}

bool frame_pipeline::verify() {
  std::lock_guard<std::mutex> lock(mutex_);
  const long long slots = static_cast<long long>(slots_.size());
  if (!(0 <= handed_ && handed_ <= claimed_ && claimed_ <= std::min(handed_ + slots, frames_) &&
        handed_ <= failed_ + 1 && failed_ <= frames_))
    return false;
  for (long long k = 0; k < slots; ++k) {
    const slot& s = slots_[static_cast<std::size_t>(k)];
    if (!(s.given <= s.made && s.made <= s.given + kChunksPerSlot)) return false;
    // The one frame of [handed_, claimed_) in slot k, if any.
    const long long n = handed_ + ((k - handed_ % slots) + slots) % slots;
    if (n >= claimed_ && (s.made != 0 || s.given != 0)) return false;
  }
  return true;
}

}  // namespace trackvideo
