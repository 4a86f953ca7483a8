// trackvideo/frame_reader.h - frames decoded and their records made ahead of
// the caller, on N threads, handed over in frame order.
//
// The reader walks frames 1 .. F (F = tracks::last_frame) of its source. A
// frame with boxes is decoded and its records made (record_maker); a frame
// without boxes is decoded only when every frame is wanted (the overlay
// video), else passed over. Decoding and the histograms are most of a run's
// work and need nothing of the rest, so they run on N worker threads while the
// caller works on earlier frames.
//
// Each worker takes the next frame number, reads the frame and makes its
// records into the frame's slot, then, when the reader was given a pair_work,
// the frame's pairs, their measures and rows (pair_pass::make, into the
// slot's made_pairs) for the caller's pair_pass::replay: the pair work that
// needs no frame order is done on the workers too. A folder's images are decoded by the workers
// side by side (frame_source::read_image); a video's decoder is sequential:
// a worker takes the next decoded frame under a lock, in frame order, and
// makes its records after releasing it. With N = 1 there is no thread at all:
// next() reads the frame on the caller's thread.
//
// Slots: 2 x N frame_records (1 with N = 1); frame n (from 0) lives in slot
// n % slots, so at most 2 x N frames are in flight (claimed by a worker and not
// yet given back). The caller gets each frame in order from next(); the slot is
// its own until the following next() (it may draw on the image). A failure
// (an unreadable frame, a box outside it, memory) is handed over as the line
// of the earliest failing frame, after every frame before it, as a sequential
// run would give it; no worker starts a later frame once one failed. The
// source is the reader's from construction to destruction; the destructor
// stops the workers (also mid-run, after a failure) and waits for them.
// Memory: 2 x N decoded frames, their records and their made pairs (each
// capped: made_pairs::kMaxPairs pairs and made_pairs::kMaxRowText bytes of
// rows, under 6 MiB, so at most 2 x N x 6 MiB of pairs), and a record_maker
// (the planes of one frame) and a pair_pass's buffers per worker.
#ifndef TRACKVIDEO_FRAME_READER_H
#define TRACKVIDEO_FRAME_READER_H

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "trackvideo/frame_records.h"
#include "trackvideo/frame_source.h"
#include "trackvideo/pair_pass.h"
#include "trackvideo/tracks.h"

namespace trackvideo {

class frame_reader {
 public:
  // with_text: whether the records' text is made (record_maker). threads:
  // N >= 1 (no more than F are started). pairs: when given, each frame with
  // boxes also gets its made pairs for that work (copied: fixed for the run).
  // Throws std::system_error when a thread cannot be started (those started
  // are stopped first).
  frame_reader(const tracks& t, frame_source& source, bool decode_every_frame, bool with_text,
               int threads = 1, const pair_work* pairs = nullptr);
  ~frame_reader();
  frame_reader(const frame_reader&) = delete;
  frame_reader& operator=(const frame_reader&) = delete;

  // The next frame, from frame 1 on; waits until it is ready and gives the
  // slot of the previous one back. nullptr after setting `why` when the frame
  // could not be read (missing, undecodable), a box of it lies outside it
  // ("out of memory" when an allocation failed); the reader has then stopped
  // and reads no later frame. Precondition: fewer than F calls so far, and
  // none after one that returned nullptr.
  frame_records* next(std::string& why);

  // Whether the counters and slots hold together (see the invariant below).
  // Takes the lock; for tests.
  bool verify();

 private:
  struct worker {
    worker(const tracks& t, bool with_text, const pair_work* work)
        : maker(t, with_text), pairs(work ? std::make_unique<pair_pass>(t, *work) : nullptr) {}
    record_maker maker;
    std::unique_ptr<pair_pass> pairs;  // makes the frames' pairs, when asked
    frame_source::image_buffers buffers;
  };
  void work(worker& w);
  // Reads frame n (from 0) into its slot with w's buffers; `in_order`, when
  // it holds the lock, is released once a video's frame is decoded. "" or
  // what is wrong with the frame, never throwing.
  std::string read(worker& w, long long n, std::unique_lock<std::mutex>& in_order);
  // Whether a worker may claim frame claimed_ now. Under mutex_.
  bool claimable() const;

  frame_source& source_;
  const bool decode_every_frame_;
  const bool sequential_;               // a video: claimed and decoded under in_order_
  const long long frames_;              // F
  std::vector<std::size_t> first_box_;  // frame f's boxes: [first_box_[f-1], first_box_[f])
  std::vector<worker> workers_;         // one per thread (the caller's when N = 1)

  // A video's frames are claimed and decoded under this lock, in order. Taken
  // before mutex_, never after.
  std::mutex in_order_;

  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<frame_records> slots_;
  std::vector<std::string> errors_;  // per slot: "" or why its frame failed
  std::vector<char> ready_;          // per slot: its frame is read (cleared when handed)
  // Frames claimed by workers, handed to the caller, and given back; frame n
  // lives in slot n % slots_.size(). failed_ is the earliest frame known to
  // have failed (frames_ if none): nothing after it is claimed.
  // Invariant: released_ <= handed_ <= claimed_ <= min(released_ + slots, frames_),
  // handed_ <= failed_ + 1, and a ready slot holds a frame in [handed_, claimed_).
  long long claimed_ = 0, handed_ = 0, released_ = 0, failed_ = 0;
  bool stop_ = false;
  std::vector<std::thread> threads_;  // last: started once everything above is set up
};

}  // namespace trackvideo

#endif  // TRACKVIDEO_FRAME_READER_H
