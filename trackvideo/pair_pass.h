// trackvideo/pair_pass.h - the candidate pairs of one frame: the second half
// of the work on a frame, after its records.
//
// process() lists the frame's pairs at an L1 distance below the radius
// through trackpair's core (each unordered pair once, in increasing
// (q, s, a, b)) and makes their table rows, with their intersection over
// union and hist_l1 and hist_hellinger from the records' values; a visitor,
// when set, is handed the same measures of every pair (the encounters). Rows
// are handed to the sink as soon as about kRowBlock bytes of them are
// waiting, so a frame of millions of pairs never holds more than one block of
// text and one batch of pairs; the pairs themselves are kept for the caller
// only when asked for (the drawing needs them).
//
// The same work may be split in two: make(), on a frame reader's worker,
// computes the pairs, their measures and their rows' text into the frame's
// made_pairs (capped: see frame_records.h); replay(), on the caller's thread
// and in frame order, hands them to the index sink, pairs(), the visitor and
// the sink exactly as process() would (same calls, values, blocks). A frame
// not made ahead (over the cap, or made for other work) is processed.
//
// Ownership: the pass owns its buffers and reuses them from frame to frame;
// the tracks are borrowed for its lifetime. pairs() stays valid until the
// next process() or replay(). Cost: O(m log m) plus the pairs examined for m
// boxes, O(64) per pair for hist_l1 and hist_hellinger; replay() O(pairs +
// rows' text). Failure: "" or what is wrong: the sink's line, or "out of
// memory"; nothing is thrown. A pass is used by one thread at a time.
#ifndef TRACKVIDEO_PAIR_PASS_H
#define TRACKVIDEO_PAIR_PASS_H

#include <cstddef>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "trackpair/trackpair_core.h"
#include "trackvideo/frame_records.h"
#include "trackvideo/tracks.h"

namespace trackvideo {

// Table rows are handed to the sink in blocks of about this size.
constexpr std::size_t kRowBlock = std::size_t{1} << 16;

class pair_pass {
 public:
  // Pairs are turned into rows this many at a time.
  static constexpr std::size_t kBatch = 1024;
  // Takes a block of rows; "" or what is wrong (the pass then stops).
  using row_sink = std::function<std::string(const std::string& rows)>;
  // Is handed each pair (boxes a, b with a.object < b.object) and its
  // measures; hist_l1 and hist_hellinger are NaN in a pass without histograms.
  using pair_visitor = std::function<void(const track_box& a, const track_box& b, long long l1,
                                          double iou, double hist_l1, double hist_hellinger)>;

  // rows: where the table rows go, or empty for no table. keep_pairs: whether
  // pairs() lists the frame's pairs.
  pair_pass(const tracks& t, long long radius, row_sink rows, bool keep_pairs)
      : tracks_(t), radius_(radius), sink_(std::move(rows)), keep_pairs_(keep_pairs) {}
  // A pass that only make()s frames for `work` (a reader's worker).
  pair_pass(const tracks& t, const pair_work& work)
      : tracks_(t),
        radius_(work.radius),
        keep_pairs_(false),
        histograms_(work.histograms),
        rows_wanted_(work.rows),
        measures_wanted_(work.measures) {}

  // Is handed each pair as indices into the frame's boxes, in order, as soon
  // as it is found (the report).
  using pair_index_sink = std::function<void(int a, int b)>;
  void set_index_sink(pair_index_sink s) { index_sink_ = std::move(s); }

  // Sets the visitor (before the first process()). `histograms` false: the
  // records hold no values (a pass over the boxes alone, without table).
  void set_visitor(pair_visitor v, bool histograms = true) {
    visitor_ = std::move(v);
    histograms_ = histograms;
  }

  // What make() must compute for replay() to stand for process() in this
  // pass (once the sink and visitor are set).
  pair_work work() const {
    return pair_work{radius_, static_cast<bool>(sink_), static_cast<bool>(visitor_), histograms_};
  }

  // The pairs and rows of the frame of `r`. After a failure the pass is done.
  std::string process(const frame_records& r);
  // The frame's pairs, measures and rows into `out` (r.pairs on a worker),
  // for this pass's work. Over the cap, or on any failure (which process()
  // then meets again), `out` is left not made. Never throws.
  void make(const frame_records& r, made_pairs& out);
  // process(r) from what make() left in r.pairs, when it was made for
  // work(); else process(r).
  std::string replay(const frame_records& r);
  // Hands the rows still waiting to the sink. "" or the sink's line.
  std::string flush();
  // The frame's pairs as indices into its boxes (0 = r.first), increasing;
  // empty unless keep_pairs.
  const std::vector<std::pair<int, int>>& pairs() const { return pairs_; }
  // Pairs found in every frame so far.
  long long found() const { return found_; }

 private:
  // Groups the frame's boxes and lists its pairs in order; on_pair(pair, d).
  template <class OnPair>
  std::string list(const frame_records& r, OnPair on_pair);
  // The measures of the batch's pairs; each row appended to `rows` (when
  // given), then emit(k, box a, box b, iou, hist_l1, hist_hellinger) for
  // batch pair k. Empties the batch.
  template <class Emit>
  void measure(const frame_records& r, std::string* rows, Emit emit);
  // Rows for the batch, handed on when a block is full. "" or the sink's line.
  std::string make_rows(const frame_records& r);
  // The batch's rows and measures into `out`.
  void make_batch(const frame_records& r, made_pairs& out);
  // roots_ and plane_sums_ for the frame of `r` (once per frame).
  void make_roots(const frame_records& r);
  // hist_hellinger of boxes a and b of the frame (indices from r.first).
  double hellinger(int a, int b) const;

  const tracks& tracks_;
  long long radius_;
  row_sink sink_;
  bool keep_pairs_;
  pair_visitor visitor_;
  pair_index_sink index_sink_;
  bool histograms_ = true;
  // The worker's pass: rows and measures made without sink nor visitor.
  bool rows_wanted_ = false, measures_wanted_ = false;
  std::vector<std::vector<trackpair::box_info>> grouped_;  // per present object
  std::vector<std::pair<int, int>> pairs_;                 // kept pairs
  std::vector<std::pair<int, int>> batch_;                 // pairs waiting for their rows
  std::vector<long long> distances_;                       // per batch pair: its box distance
  std::vector<float> hist_l1_;                             // per batch pair: its hist_l1
  // Per box of the frame: the square roots of its values and the sums of its
  // three planes (hist_hellinger), made once a frame when first needed.
  std::vector<double> roots_, plane_sums_;
  int roots_frame_ = 0;
  std::string rows_;  // rows waiting for the sink
  long long found_ = 0;
};

}  // namespace trackvideo

#endif  // TRACKVIDEO_PAIR_PASS_H
