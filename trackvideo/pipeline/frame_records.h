// trackvideo/pipeline/frame_records.h - one frame as the pipeline carries it:
// its boxes, its decoded image and the records of its boxes.
//
// For frame f and its boxes (a run of tracks::boxes, sorted by object and
// det), record_maker::make() computes through histfeat's core the record of
// every box: the text histfeat writes (kept per object, for the detection
// files) and its kRecordValues written values (for hist_l1 and
// hist_hellinger). It reads the tracks and the pixels only, so it runs on the
// pipeline's workers.
//
// Ownership: a frame_records owns its image, texts and values; make() reuses
// them (no allocation per box once they have grown), as record_maker reuses
// its planes and histograms. Cost: O(area of the frame) for the planes plus
// O(area of the boxes) for the histograms.
#ifndef TRACKVIDEO_PIPELINE_FRAME_RECORDS_H
#define TRACKVIDEO_PIPELINE_FRAME_RECORDS_H

#include <opencv2/core.hpp>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "histfeat/record.h"
#include "trackvideo/pipeline/record_layout.h"
#include "trackvideo/input/tracks.h"

namespace trackvideo {

struct frame_records {
  int frame = 0;                     // f, from 1
  std::size_t first = 0, last = 0;   // its boxes: tracks::boxes[first, last)
  bool decoded = false;              // whether `image` holds the frame
  cv::Mat image;                     // the frame, 8-bit BGR, when decoded
  std::vector<float> values;         // kRecordValues per box, in box order (with pixels)
  std::vector<int> present;          // the objects of the frame, ascending
  std::vector<std::size_t> start;    // per present object: its first box (from 0)
  std::vector<std::string> records;  // per present object: its records' text
                                     // (records.size() may exceed present.size())

  std::size_t boxes() const { return last - first; }
  // The boxes of present object k: [start[k], end(k)).
  std::size_t end(std::size_t k) const { return k + 1 < present.size() ? start[k + 1] : boxes(); }
  // The detection file text of object q for this frame: the count line, then
  // its records ("0\n" when q has no box here). O(log objects + text).
  std::string detection_text(int q) const;
  // Frame f with boxes [first, last), not decoded, no records; the buffers
  // kept. Groups the boxes by object (present, start). O(boxes).
  void reset(int f, std::size_t first_box, std::size_t last_box, const tracks& t);
};

class record_maker {
 public:
  // with_text: whether make() writes the records' text (only the detection
  // files need it; the values alone cost a tenth less).
  record_maker(const tracks& t, bool with_text) : tracks_(t), with_text_(with_text) {}
  // The records of out's boxes over out.image (decoded), after out.reset().
  // "" or "FILE:LINE: box (x1 y1 x2 y2) lies outside the W x H image of
  // frame F" (histfeat's words) for a box wholly outside the frame.
  std::string make(frame_records& out);

 private:
  const tracks& tracks_;
  bool with_text_;
  std::vector<std::uint8_t> plane_storage_;
  histfeat::histograms hist_;
};

}  // namespace trackvideo

#endif  // TRACKVIDEO_PIPELINE_FRAME_RECORDS_H
