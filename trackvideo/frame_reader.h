// trackvideo/frame_reader.h - frames decoded and their records made one frame
// ahead of the caller, in a thread of its own.
//
// The reader walks frames 1 .. F (F = tracks::last_frame) of its source in
// order. A frame with boxes is decoded and its records made (record_maker); a
// frame without boxes is decoded only when every frame is wanted (the overlay
// video), else passed over. Decoding and the histograms are about half of a
// run's work and need nothing of the other half, so the two halves of
// consecutive frames run on two cores.
//
// Two frame_records slots: while the caller works on one, the thread fills
// the other. The caller gets each frame in order from next(); the slot is its
// own until the following next() (it may draw on the image). The source is
// the reader's from construction to destruction; the destructor stops the
// thread (also mid-run, after a failure) and waits for it. Memory: two
// decoded frames and their records.
#ifndef TRACKVIDEO_FRAME_READER_H
#define TRACKVIDEO_FRAME_READER_H

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "trackvideo/frame_records.h"
#include "trackvideo/frame_source.h"
#include "trackvideo/tracks.h"

namespace trackvideo {

class frame_reader {
 public:
  // with_text: whether the records' text is made (record_maker).
  frame_reader(const tracks& t, frame_source& source, bool decode_every_frame, bool with_text);
  ~frame_reader();
  frame_reader(const frame_reader&) = delete;
  frame_reader& operator=(const frame_reader&) = delete;

  // The next frame, from frame 1 on; waits until it is ready and gives the
  // slot of the previous one back. nullptr after setting `why` when the frame
  // could not be read (missing, undecodable), a box of it lies outside it
  // ("out of memory" when an allocation failed); the reader has then stopped
  // and reads no later frame. Precondition: fewer than F calls so far.
  frame_records* next(std::string& why);

 private:
  static constexpr int kSlots = 2;
  void work();
  // Reads frame f (boxes [first, last)) into `slot`. "" or what is wrong.
  std::string read(int f, std::size_t first, std::size_t last, frame_records& slot);

  const tracks& tracks_;
  frame_source& source_;
  const bool decode_every_frame_;
  record_maker maker_;

  std::mutex mutex_;
  std::condition_variable changed_;
  frame_records slots_[kSlots];
  std::string errors_[kSlots];
  // Frames filled by the thread, handed to the caller, and given back; frame
  // n (from 0) lives in slot n % kSlots.
  // Invariant: released_ <= handed_ <= filled_ <= released_ + kSlots.
  long long filled_ = 0, handed_ = 0, released_ = 0;
  bool stop_ = false;
  std::thread thread_;  // last: started once everything above is set up
};

}  // namespace trackvideo

#endif  // TRACKVIDEO_FRAME_READER_H
