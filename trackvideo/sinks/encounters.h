// trackvideo/sinks/encounters.h - where identities are at risk: for two tracks, a
// run of frames in which they have candidate pairs.
//
// An encounter of tracks id_a < id_b is a maximal run of frames in which the
// two have at least one candidate pair, consecutive such frames at most
// gap + 1 apart (gap 0: consecutive frames). Over the run's pairs it keeps the
// smallest box distance (and the first frame reaching it, with the two boxes
// of that pair), the largest intersection over union and the smallest
// histogram distances, and (given by the evaluation) the identity switches
// laid at it. A track "ends" at an encounter when its last frame
// lies in [first_frame, last_frame + near], and "starts" there when its first
// frame lies in [first_frame - near, last_frame]: a track that ends or starts
// at an encounter is the usual trace of an identity switch.
//
// encounter_finder is fed the pairs frame by frame, in increasing frames, and
// gives the encounters at the end. It owns its state; the tracks are borrowed
// for its lifetime. Cost: O(1) expected per pair (a hash look-up of the two
// objects), O(e log e) for e encounters at the end; memory O(open runs + e).
#ifndef TRACKVIDEO_SINKS_ENCOUNTERS_H
#define TRACKVIDEO_SINKS_ENCOUNTERS_H

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "trackvideo/input/tracks.h"
#include "trackvideo/pipeline/measures.h"

namespace trackvideo {

struct encounter {
  int id_a = 0, id_b = 0;  // the tracks' ids, id_a < id_b
  int object_a = 0, object_b = 0;  // their object indices
  int first_frame = 0, last_frame = 0;
  int frames = 0;  // the frames of the run with a candidate pair
  long long min_l1 = 0;
  int min_l1_frame = 0;  // the first frame where min_l1 is reached
  track_box box_a, box_b;  // the pair of that frame reaching min_l1 first
  double max_iou = 0;
  double min_hist_l1 = 0, min_hist_hellinger = 0;  // NaN when fed without histograms
  bool a_starts = false, a_ends = false, b_starts = false, b_ends = false;
  int switches = 0;  // identity switches the evaluation lays at this encounter

  // Whether a track starts or ends here.
  bool at_risk() const { return a_starts || a_ends || b_starts || b_ends; }
};

// The header of the encounters table, newline included.
extern const char kEncountersHeader[];
// e with its frames numbered as outputs number them (tracks::shown_frame), for
// the table, the page and the thumbnails' names.
encounter as_shown(encounter e, const tracks& t);
// Appends the row of `e` (floats "%.6f", flags 0 or 1).
void append_encounter_row(std::string& out, const encounter& e);

class encounter_finder {
 public:
  // gap, near >= 0.
  encounter_finder(const tracks& t, int gap, int near);

  // One candidate pair of `frame` (frames never decrease from call to call):
  // boxes a and b of objects a.object < b.object.
  void add(int frame, const track_box& a, const track_box& b, long long l1, double iou,
           double hist_l1, double hist_hellinger);
  // Every encounter, ordered by first_frame, id_a, id_b. The finder is then
  // empty.
  std::vector<encounter> finish();

 private:
  const tracks& tracks_;
  int gap_, near_;
  std::unordered_map<std::uint64_t, encounter> open_;  // by the two objects
  std::vector<encounter> closed_;
};

// The encounters' runs where a track starts or ends, for the drawing, which
// needs them before the frames are drawn: fed the pairs of every frame from the
// boxes alone, it keeps (objects, first, last) of each such run, 16 bytes,
// and forgets the others as soon as they can no longer grow (when their last
// frame lies more than gap + 1 frames back). Memory: the runs still open plus
// the risky ones. Cost: O(1) expected per pair; sweeps of the open runs every
// gap + 2 frames; O(r log r) for r risky runs at finish().
class risky_runs {
 public:
  risky_runs(const tracks& t, int gap, int near);
  // A pair of objects a < b in `frame` (frames never decrease).
  void add(int frame, int a, int b);
  // Closes every run; contains() may be asked from then on.
  void finish();
  // Whether objects a < b are in a risky run that holds `frame`. O(log r).
  bool contains(int frame, int a, int b) const;
  std::size_t size() const { return risky_.size(); }

 private:
  struct run {
    int first, last;
  };
  void close(std::uint64_t key, const run& r);
  void sweep(int frame);

  std::vector<std::pair<int, int>> spans_;  // per object: its first and last frame
  int gap_, near_;
  int swept_ = 0;  // the frame of the last sweep
  std::unordered_map<std::uint64_t, run> open_;
  // (key, first, last), sorted by key then first after finish().
  struct risky {
    std::uint64_t key;
    int first, last;
  };
  std::vector<risky> risky_;
};

// Every object's first and last frame (the boxes sorted by frame).
std::vector<std::pair<int, int>> track_spans(const tracks& t);

}  // namespace trackvideo

#endif  // TRACKVIDEO_SINKS_ENCOUNTERS_H
