// trackvideo/evaluation/kitti_frames.h - a KITTI sequence's rows as the
// scores see them, one class at a time: KITTI's 2D-box preprocessing, after
// which the benchmark's scores (mot_metrics.h's CLEAR, Identity, HOTA and
// events) are computed as they are.
//
// The rules, per class (kKittiClasses) and frame
//   Rows are KITTI's (input/kitti_tracks.h: every type, DontCare included),
//   boxes [left, right) x [top, bottom) as written. Overlap is the
//   intersection over union, as mot_metrics.h computes it.
//   Ground truth of the class and of its distractor types (car: van;
//   pedestrian: person and person_sitting, KITTI's sitting people) is
//   matched one to one against the tracker's rows of the class (largest
//   total overlap, pairs of overlap >= 0.5 - ε only). A tracker row matched
//   to a distractor is removed; so is one matched to ground truth occluded
//   more than 2 or truncated more than 0 (occluded and truncated cut toward
//   zero). A tracker row left unmatched is removed when its height (bottom -
//   top) is at most 25 pixels (+ ε), or when more than half of its area (+ ε)
//   lies inside one DontCare row's box of the frame. Then only ground truth
//   of the class, occluded at most 2 and truncated at most 0, stays. Tracker
//   rows of other types, and ground truth of other types, take no part.
//   An id twice in a frame among the rows that stay (gt or tracker) is
//   refused, as the official evaluation refuses it.
//
// Cost: as sequence_frames.h's preprocessing, plus O(t x d) per frame of t
// tracker rows left unmatched and d DontCare rows. Failure: "" or "FILE:LINE:
// id N is twice in frame K" (K as the file numbers it, from 0); `out` is
// then unspecified.
#ifndef TRACKVIDEO_EVALUATION_KITTI_FRAMES_H
#define TRACKVIDEO_EVALUATION_KITTI_FRAMES_H

#include <string>
#include <vector>

#include "trackvideo/evaluation/mot_metrics.h"
#include "trackvideo/evaluation/sequence_frames.h"
#include "trackvideo/input/kitti_tracks.h"

namespace trackvideo {
namespace evaluation {

// The classes KITTI scores, each apart, in the order the tables give them.
constexpr const char* kKittiClasses[2] = {"car", "pedestrian"};
// KITTI's minimum height of a tracker box left unmatched, in pixels.
constexpr double kKittiMinHeight = 25;

// The rows of one KITTI file and its name in messages.
struct kitti_file {
  std::string name;
  std::vector<kitti_row> rows;  // frames in 1..seq_length
};

// Fills `out` from the rows of frames 1..seq_length for class `cls` (one of
// kKittiClasses).
std::string prepare_kitti_frames(const kitti_file& gt, const kitti_file& tracker, int seq_length,
                                 const std::string& cls, prepared& out);

// prepare_kitti_frames, then the scores and events (score_frames).
std::string evaluate_kitti_sequence(const kitti_file& gt, const kitti_file& tracker, int seq_length,
                                    const std::string& cls, sequence_result& out);

}  // namespace evaluation
}  // namespace trackvideo

#endif  // TRACKVIDEO_EVALUATION_KITTI_FRAMES_H
