// trackvideo/frame_records.h - the records of one frame's boxes: the first
// half of the work on a frame, the part that reads its pixels.
//
// For frame f and its boxes (a run of tracks::boxes, sorted by object and
// det), record_maker::make() computes through histfeat's core the record of
// every box: the text histfeat writes (kept per object, for the detection
// files) and its 64 written values (for hist_l1). It reads the tracks and the
// pixels only, so it may run in another thread than the rest of the run.
//
// Ownership: a frame_records owns its image, texts and values; make() reuses
// them (no allocation per box once they have grown), as record_maker reuses
// its planes and histograms. Cost: O(area of the frame) for the planes plus
// O(area of the boxes) for the histograms.
#ifndef TRACKVIDEO_FRAME_RECORDS_H
#define TRACKVIDEO_FRAME_RECORDS_H

#include <opencv2/core.hpp>

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "trackvideo/hist_distance.h"
#include "histfeat/record.h"
#include "trackvideo/tracks.h"

namespace trackvideo {

// What a frame's pairs are made for (pair_pass): fixed before the frames are
// read, the same for every frame of a run.
struct pair_work {
  long long radius = 0;
  bool rows = false;       // the table rows' text
  bool measures = false;   // each pair's measures (the visitor: the encounters)
  bool histograms = true;  // the records hold values (hist_l1, hist_hellinger)
};

// A frame's pairs made ahead of the caller, by pair_pass::make on a reader's
// worker, and replayed by pair_pass::replay. Capped: a frame of more than
// kMaxPairs pairs, or more than kMaxRowText bytes of rows, is not kept (made
// false, its buffers given back) and the caller makes its pairs itself; a
// frame of more than kMaxBoxes boxes is not tried (its search, built twice,
// would cost as much memory again).
// Memory: the buffers hold at most kMaxPairs + 1 pairs of 40 bytes and
// kMaxRowText bytes of rows plus one batch of them (256 KiB), about 2.9 MiB,
// allocated as at most twice that by their growth: under 6 MiB per frame in
// flight, kept from frame to frame.
struct made_pairs {
  static constexpr std::size_t kMaxPairs = std::size_t{1} << 14;
  static constexpr std::size_t kMaxRowText = std::size_t{1} << 21;
  static constexpr std::size_t kMaxBoxes = 1024;

  // Invariant: when made, pairs, and (work.measures) l1, iou, hist_l1 and
  // hellinger, have one entry per pair; (work.rows) row_ends one per batch of
  // pair_pass::kBatch pairs, increasing, the last rows.size().
  bool made = false;                       // whether the fields below are the frame's
  pair_work work;                          // what they were made for
  std::vector<std::pair<int, int>> pairs;  // indices into the frame's boxes, in order
  std::vector<long long> l1;
  std::vector<double> iou, hist_l1, hellinger;
  std::string rows;                   // the rows' text
  std::vector<std::size_t> row_ends;  // per batch: where its rows end in `rows`

  // Whether the invariant holds (true when not made). O(pairs / kBatch).
  bool verify() const;
  // Not made; the buffers kept for the next frame.
  void clear();
  // Not made; the buffers given back (a frame over the cap).
  void drop();
};

struct frame_records {
  int frame = 0;                     // f, from 1
  std::size_t first = 0, last = 0;   // its boxes: tracks::boxes[first, last)
  bool decoded = false;              // whether `image` holds the frame
  cv::Mat image;                     // the frame, 8-bit BGR, when decoded
  std::vector<float> values;         // kRecordValues per box, in box order
  std::vector<int> present;          // the objects of the frame, ascending
  std::vector<std::size_t> start;    // per present object: its first box (from 0)
  std::vector<std::string> records;  // per present object: its records' text
                                     // (records.size() may exceed present.size())
  made_pairs pairs;                  // made by the reader's worker, when asked

  std::size_t boxes() const { return last - first; }
  // The boxes of present object k: [start[k], end(k)).
  std::size_t end(std::size_t k) const { return k + 1 < present.size() ? start[k + 1] : boxes(); }
  // The detection file text of object q for this frame: the count line, then
  // its records ("0\n" when q has no box here). O(log objects + text).
  std::string detection_text(int q) const;
  // Frame f with no records and no pairs made, keeping the buffers.
  void reset(int f, std::size_t at);
};

class record_maker {
 public:
  // with_text: whether make() writes the records' text (only the detection
  // files need it; the values alone cost a tenth less).
  record_maker(const tracks& t, bool with_text) : tracks_(t), with_text_(with_text) {}
  // Fills `out` for frame f, boxes [first, last), over out.image (decoded).
  // "" or "FILE:LINE: box (x1 y1 x2 y2) lies outside the W x H image of
  // frame F" (histfeat's words) for a box wholly outside the frame.
  std::string make(int f, std::size_t first, std::size_t last, frame_records& out);

 private:
  const tracks& tracks_;
  bool with_text_;
  std::vector<std::uint8_t> plane_storage_;
  histfeat::histograms hist_;
};

}  // namespace trackvideo

#endif  // TRACKVIDEO_FRAME_RECORDS_H
