// trackvideo/evaluation/switch_causes.cpp - causes of switches (see
// switch_causes.h).
#include "trackvideo/evaluation/switch_causes.h"

#include <algorithm>
#include <string>
#include <unordered_map>

namespace trackvideo {
namespace evaluation {

namespace {

// Whether `e` should name the cause rather than `best` (nullptr: none yet).
bool better(const encounter_span& e, const encounter_span* best) {
  if (best == nullptr) return true;
  if (e.first_frame != best->first_frame) return e.first_frame > best->first_frame;
  if (e.min_l1 != best->min_l1) return e.min_l1 < best->min_l1;
  if (e.id_a != best->id_a) return e.id_a < best->id_a;
  return e.id_b < best->id_b;
}

std::string name_of(const encounter_span& e) {
  return std::to_string(e.id_a) + '_' + std::to_string(e.id_b) + '_' +
         std::to_string(e.first_frame);
}

}  // namespace

void assign_causes(std::vector<identity_event>& events,
                   const std::vector<encounter_span>& encounters,
                   const std::vector<std::pair<int, int>>& first_frames, int near) {
  std::unordered_map<int, std::vector<int>> by_track;  // tracker id -> its encounters
  for (std::size_t i = 0; i < encounters.size(); ++i) {
    by_track[encounters[i].id_a].push_back(static_cast<int>(i));
    by_track[encounters[i].id_b].push_back(static_cast<int>(i));
  }
  std::unordered_map<int, int> first_frame(first_frames.begin(), first_frames.end());
  for (identity_event& ev : events) {
    if (ev.type != event_type::identity_switch) continue;
    ev.encounter.clear();
    if (ev.frame - ev.previous_frame > near) {
      ev.cause = switch_cause::reappearance;
      continue;
    }
    const long long w_first = static_cast<long long>(ev.previous_frame) - near;
    const long long w_last = static_cast<long long>(ev.frame) + near;
    const encounter_span* meeting = nullptr;
    const encounter_span* crowd = nullptr;
    for (int id : {ev.tracker_id, ev.previous_tracker_id}) {
      const auto it = by_track.find(id);
      if (it == by_track.end()) continue;
      for (int i : it->second) {
        const encounter_span& e = encounters[i];
        if (e.last_frame < w_first || e.first_frame > w_last) continue;
        const int other = e.id_a == id ? e.id_b : e.id_a;
        const bool both = other == ev.tracker_id || other == ev.previous_tracker_id;
        const encounter_span*& best = both ? meeting : crowd;
        if (better(e, best)) best = &e;
      }
    }
    if (meeting != nullptr) {
      ev.cause = switch_cause::meeting;
      ev.encounter = name_of(*meeting);
    } else if (crowd != nullptr) {
      ev.cause = switch_cause::crowd;
      ev.encounter = name_of(*crowd);
    } else {
      const auto it = first_frame.find(ev.tracker_id);
      ev.cause = it != first_frame.end() && it->second >= w_first && it->second <= w_last
                     ? switch_cause::restart
                     : switch_cause::other;
    }
  }
}

}  // namespace evaluation
}  // namespace trackvideo
