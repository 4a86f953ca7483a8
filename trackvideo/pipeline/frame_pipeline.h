// trackvideo/pipeline/frame_pipeline.h - every frame's work done once, on N
// threads, handed to the caller in frame order, chunk by chunk.
//
// The pipeline walks frames 1 .. F (F = tracks::last_frame), or with
// job_work::frames_with_boxes only the frames that have boxes. Each frame's
// job is one piece of work: read the frame (a frame with boxes is decoded, a
// frame without is decoded only with every_frame, else passed over), make its
// records (record_maker), then its pairs, measures and rows (frame_job),
// written chunk by chunk into the frame's slot. Without pixels nothing is
// read or decoded: the job is the pairs of the boxes alone.
//
// run(take) hands every chunk of every frame, in frame order and in order
// within the frame, to `take` on the caller's thread; a frame's first piece
// comes once its records are made, its last piece once its job is done.
// Before its last piece the frame is shared (the job still reads it); from
// its last piece until `take` returns, the caller may change it (draw on its
// image).
//
// Threads. With N = 1 there is no thread: each job runs on the caller's
// thread and its chunks go straight to `take`. With N > 1, N workers each
// claim the next frame and do its job into its slot: slots = 2 x N, frame n
// (counted from 0 among the frames walked) in slot n % slots, each slot a
// ring of kChunksPerSlot chunks. A worker whose ring is full waits for the
// caller to take a chunk; the caller waits for the next chunk of the frame it
// is on. A folder's images are decoded side by side (frame_source::read_image);
// a video's decoder is sequential: a worker claims and decodes the next frame
// under in_order_, and releases it before the records.
//
// Memory: slots x (one decoded frame, its records, kChunksPerSlot chunks of
// at most pair_chunk::kChunkPairs pairs with their rows: under 512 KiB), plus
// per worker a record_maker (the planes of one frame) and a frame_job (one
// chunk and the frame's grouping). Nothing grows with the frame numbers.
//
// Failure: the line of the earliest failing frame (unreadable, a box outside
// it, memory), after every chunk before it, as a sequential run would give
// it; or the first line `take` returns, which stops every worker. Nothing
// thrown leaves a worker; the destructor (and the end of run(), however it
// ends) stops the workers and waits for them.
#ifndef TRACKVIDEO_PIPELINE_FRAME_PIPELINE_H
#define TRACKVIDEO_PIPELINE_FRAME_PIPELINE_H

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "trackvideo/input/frame_source.h"
#include "trackvideo/pipeline/frame_job.h"
#include "trackvideo/pipeline/frame_records.h"
#include "trackvideo/input/tracks.h"

namespace trackvideo {

// What the caller is handed: a chunk of frame `frame`'s pairs. first: the
// frame's first chunk; chunk.last: its last.
struct frame_piece {
  frame_records& frame;
  const pair_chunk& chunk;
  bool first;
};

class frame_pipeline {
 public:
  static constexpr std::size_t kChunksPerSlot = 4;
  // A pass without pixels whose frames hold fewer boxes than this on
  // average runs on the caller, whatever `threads` says: a frame's pairs then
  // cost less than handing the frame to a worker (a sequence of 1,000
  // frames of 50 boxes: 1,600 thread switches and 15 % more time).
  static constexpr long long kFewBoxes = 256;
  // Takes a piece; "" or what is wrong (the run then stops with that line).
  using consumer = std::function<std::string(const frame_piece& piece)>;

  // source: the frames (nullptr without pixels); threads: N >= 1 (no more
  // than the frames walked are started; one for a pass of few boxes, above). Preconditions:
  // work.rows implies work.pixels; work.frames_with_boxes excludes work.pixels.
  frame_pipeline(const tracks& t, frame_source* source, const job_work& work, int threads);
  ~frame_pipeline();
  frame_pipeline(const frame_pipeline&) = delete;
  frame_pipeline& operator=(const frame_pipeline&) = delete;

  // Walks every frame, handing each piece to `take`. Once only. "" or the
  // failure above; std::system_error when a thread cannot be started.
  std::string run(const consumer& take);

  // Whether the counters and slots hold together (the invariant below).
  // Takes the lock; for tests and debug builds.
  bool verify();

 private:
  struct worker {
    worker(const tracks& t, const job_work& w) : maker(t, w.text), job(t, w) {}
    record_maker maker;
    frame_job job;
    frame_source::image_buffers buffers;
  };
  struct slot {
    frame_records frame;
    std::vector<pair_chunk> ring;  // chunk k of the frame in ring[k % kChunksPerSlot]
    // Chunks the worker put in and the caller gave back; the frame's job is
    // done (its last chunk in, or failed). Invariant: given <= made <=
    // given + kChunksPerSlot.
    std::size_t made = 0, given = 0;
    bool done = false, ready = false;  // ready: the records are made (or it failed)
    std::string error;                 // why the frame failed, once done
  };
  // The next frame to walk and its boxes, from the cursor; false past the last.
  bool claim(int& f, std::size_t& first, std::size_t& last);
  // Reads frame f (boxes [first, last)) into s.frame with w's buffers and
  // makes its records; releases `in_order` once a video's frame is decoded.
  std::string read(worker& w, slot& s, int f, std::size_t first, std::size_t last,
                   std::unique_lock<std::mutex>& in_order);
  // A whole job on a worker's thread: frame n into its slot.
  void work(worker& w);
  std::string run_inline(const consumer& take);
  void stop();

  const tracks& tracks_;
  frame_source* const source_;
  const job_work work_;
  const bool sequential_;  // a video: frames claimed and decoded under in_order_
  long long frames_ = 0;   // the frames walked
  std::vector<worker> workers_;
  std::vector<std::thread> threads_;

  // A video's frames are claimed and decoded under this lock, in order.
  // Taken before mutex_, never after.
  std::mutex in_order_;

  std::mutex mutex_;
  // Each wait has its own condition, so that a chunk handed over wakes the
  // caller alone and a chunk given back the workers alone:
  std::condition_variable claimable_;  // a frame may be claimed (a slot freed, a failure, stop)
  std::condition_variable room_;       // a chunk was given back (or stop)
  std::condition_variable ready_;      // a chunk was made, or a frame failed
  std::vector<slot> slots_;
  // The cursor: the next frame to walk and its first box.
  long long next_frame_ = 1;  // past the last an int holds once it was walked
  std::size_t next_box_ = 0;
  // Frames claimed by workers, handed over whole (their last chunk taken),
  // and the earliest known to have failed (frames_ if none).
  // Invariant: handed_ <= claimed_ <= min(handed_ + slots, frames_) and
  // claimed_ <= failed_ + 1; a slot holds a frame of [handed_, claimed_) or
  // nothing (no chunk made or given).
  long long claimed_ = 0, handed_ = 0, failed_ = 0;
  bool stop_ = false;
};

}  // namespace trackvideo

#endif  // TRACKVIDEO_PIPELINE_FRAME_PIPELINE_H
