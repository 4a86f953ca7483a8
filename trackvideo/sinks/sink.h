// trackvideo/sinks/sink.h - where a run's frames go: every output of a run
// is a sink, fed the pipeline's pieces in frame order.
//
// A sink has one way in, take(), called with every piece of every frame the
// pipeline walks (frame_pipeline.h: a frame's chunks in order, the first
// marked `first`, the last with chunk.last; from its last piece the frame is
// the caller's, so a sink may draw on its image then), and one way to finish,
// finish(), called once after the last frame when every take() succeeded. The
// run calls the sinks in the order it composed them, each piece to every sink
// before the next piece; a sink reads nothing of another.
//
// Failure: both return "" or the run's line (what follows "trackvideo: ");
// the first line ends the run, and nothing of it is committed. Running out of
// memory throws std::bad_alloc, which ends the run the same way.
#ifndef TRACKVIDEO_SINKS_SINK_H
#define TRACKVIDEO_SINKS_SINK_H

#include <string>

#include "trackvideo/pipeline/frame_pipeline.h"

namespace trackvideo {

class frame_sink {
 public:
  virtual ~frame_sink() = default;
  virtual std::string take(const frame_piece& piece) = 0;
  virtual std::string finish() = 0;
};

}  // namespace trackvideo

#endif  // TRACKVIDEO_SINKS_SINK_H
