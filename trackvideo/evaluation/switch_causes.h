// trackvideo/evaluation/switch_causes.h - why each identity switch happened,
// told from the tracks alone: where the two tracker ids met, crowded a third
// track, or where the new id began.
//
// For a switch at `frame` from previous_tracker_id (last matched at
// previous_frame) to tracker_id, with W = [previous_frame - near,
// frame + near], the cause is the first of these that holds:
//   reappearance  frame - previous_frame > near (the object was lost long)
//   meeting       an encounter of the two tracker ids overlaps W
//   crowd         an encounter of one of them with a third track overlaps W
//   restart       tracker_id's first frame lies in W
//   other
// Meeting and crowd name their encounter "A_B_FIRST" (ids A < B, its first
// frame): of those overlapping W, the one starting last; on equal starts the
// one of smaller min_l1, then of smaller ids. Fragments are left as they are.
//
// Cost: O(e log e) to index e encounters by track, then O(encounters of the
// two ids) per switch. Pure: nothing is kept.
#ifndef TRACKVIDEO_EVALUATION_SWITCH_CAUSES_H
#define TRACKVIDEO_EVALUATION_SWITCH_CAUSES_H

#include <utility>
#include <vector>

#include "trackvideo/evaluation/mot_metrics.h"

namespace trackvideo {
namespace evaluation {

// Two tracker ids close in a run of frames (trackvideo's encounters give them).
struct encounter_span {
  int id_a = 0, id_b = 0;  // id_a < id_b
  int first_frame = 0, last_frame = 0;
  long long min_l1 = 0;  // their smallest box distance over the run
};

// Sets cause and encounter of every switch of `events`. `first_frames` holds
// (tracker id, its first frame) for every tracker id, in any order; near >= 0.
void assign_causes(std::vector<identity_event>& events,
                   const std::vector<encounter_span>& encounters,
                   const std::vector<std::pair<int, int>>& first_frames, int near);

}  // namespace evaluation
}  // namespace trackvideo

#endif  // TRACKVIDEO_EVALUATION_SWITCH_CAUSES_H
