// trackvideo/run/run_evaluation.cpp - a run's evaluation (see
// run_evaluation.h).
#include "trackvideo/run/run_evaluation.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <utility>

#include "common/input_file.h"
#include "common/tokens.h"
#include "trackvideo/base/failure.h"
#include "trackvideo/evaluation/score_tables.h"

namespace trackvideo {

using common::shown_name;
using namespace evaluation;

namespace {

std::string encounter_name(int a, int b, int first) {
  return std::to_string(a) + "_" + std::to_string(b) + "_" + std::to_string(first);
}

// The largest frame of the rows of `text` as the reader will cut it (the
// first field of each line that starts like a number), at most
// kMaxFrameCount; the reader then checks every row against it.
int last_frame_of(const std::string& text) {
  double last = 0;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = std::min(text.find('\n', at), text.size());
    const std::string line = text.substr(at, std::min<std::size_t>(end - at, 64));
    char* stop = nullptr;
    const double frame = std::strtod(line.c_str(), &stop);
    if (stop != line.c_str() && std::isfinite(frame)) last = std::max(last, std::trunc(frame));
    at = end + 1;
  }
  return static_cast<int>(std::min<double>(last, kMaxFrameCount));
}

// The results file's name without its folders and its extension.
std::string results_name(const std::string& path) {
  std::string name = path.substr(path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1);
  const std::size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.erase(dot);
  return name;
}

}  // namespace

int run_evaluation::switches_of(const encounter& e) const {
  const auto found = switches_at.find(encounter_name(e.id_a, e.id_b, e.first_frame));
  return found == switches_at.end() ? 0 : found->second;
}

std::string evaluate_run(const options& o, const run_inputs& in, int threads, run_evaluation& out) {
  out.name = o.sequence.empty() ? results_name(in.tracks_path) : in.seq.name;
  std::string gt_text, tracker_text;
  std::string why = common::read_file(in.ground_truth_path, gt_text);
  if (!why.empty()) return "cannot open " + shown_name(in.ground_truth_path) + ": " + why;
  if (!(why = common::read_file(in.tracks_path, tracker_text)).empty())
    return "cannot open " + shown_name(in.tracks_path) + ": " + why;
  const int length = o.sequence.empty()
                         ? std::max({last_frame_of(tracker_text), last_frame_of(gt_text), 1})
                         : in.seq.seq_length;
  // The two files are read side by side when there are two threads; the
  // ground truth's fault is reported first, as when they are read in turn.
  mot_rows gt, tracker;
  std::string gt_why;
  const auto read_gt = [&] {
    gt_why = parse_mot_rows(gt_text, in.ground_truth_path, mot_kind::ground_truth, length, gt);
  };
  if (threads > 1) {
    std::thread side([&] {
      try {
        read_gt();
      } catch (const std::exception& e) {
        gt_why = failure_text(e);
      }
    });
    try {
      why = parse_mot_rows(tracker_text, in.tracks_path, mot_kind::tracker, length, tracker);
    } catch (...) {
      side.join();
      throw;
    }
    side.join();
  } else {
    read_gt();
    if (gt_why.empty())
      why = parse_mot_rows(tracker_text, in.tracks_path, mot_kind::tracker, length, tracker);
  }
  if (!gt_why.empty()) return gt_why;
  if (!why.empty()) return why;
  evaluation_options settings;
  settings.mot20 = o.mot20;
  return evaluate_sequence(gt, tracker, length, settings, out.result);
}

std::string evaluation_sink::take(const frame_piece& piece) {
  const frame_records& r = piece.frame;
  const pair_chunk& c = piece.chunk;
  const bool measures = c.iou.size() == c.size();
  for (std::size_t k = 0; k < c.size(); ++k)
    finder_.add(r.frame, tracks_.boxes[r.first + static_cast<std::size_t>(c.pairs[k].first)],
                tracks_.boxes[r.first + static_cast<std::size_t>(c.pairs[k].second)], c.l1[k],
                measures ? c.iou[k] : 0, measures ? c.hist_l1[k] : NAN,
                measures ? c.hellinger[k] : NAN);
  return "";
}

std::string evaluation_sink::finish() {
  std::vector<encounter_span> spans;
  for (const encounter& e : finder_.finish())
    spans.push_back(encounter_span{e.id_a, e.id_b, e.first_frame, e.last_frame, e.min_l1});
  explain_switches(tracks_, near_, spans, scored_);
  return write_evaluation(scored_, metrics_, events_);
}

void explain_switches(const tracks& t, int near, const std::vector<encounter_span>& spans,
                      run_evaluation& e) {
  std::vector<std::pair<int, int>> first_frames;
  const std::vector<std::pair<int, int>> object_spans = track_spans(t);
  for (int q = 0; q < t.objects(); ++q)
    first_frames.emplace_back(t.ids[static_cast<std::size_t>(q)],
                              object_spans[static_cast<std::size_t>(q)].first);
  assign_causes(e.result.events, spans, first_frames, near);
  e.switches_at.clear();
  for (const identity_event& event : e.result.events)
    if (event.type == event_type::identity_switch && !event.encounter.empty())
      ++e.switches_at[event.encounter];
}

std::string write_evaluation(const run_evaluation& e, common::atomic_file* metrics,
                             common::atomic_file* events) {
  std::string why;
  if (metrics) {
    std::string text = kScoresHeader;
    append_scores_row(text, e.name, e.result.scores);
    if ((why = metrics->write(text.data(), text.size())).empty()) why = metrics->close();
  }
  if (why.empty() && events) {
    std::string text = kEventsHeader;
    for (const identity_event& event : e.result.events) append_event_row(text, event);
    if ((why = events->write(text.data(), text.size())).empty()) why = events->close();
  }
  return why;
}

std::string summary_line(const run_evaluation& e) {
  const mot_scores& s = e.result.scores;
  char head[160];
  std::snprintf(head, sizeof head, "HOTA %.1f %%, MOTA %.1f %%, IDF1 %.1f %%, %lld identity %s",
                100 * alpha_mean(s.hota), 100 * s.mota, 100 * s.idf1, s.idsw,
                s.idsw == 1 ? "switch" : "switches");
  static const std::pair<switch_cause, const char*> kCauses[] = {
      {switch_cause::reappearance, "reappearance"},
      {switch_cause::meeting, "meeting"},
      {switch_cause::crowd, "crowd"},
      {switch_cause::restart, "restart"},
      {switch_cause::other, "other"}};
  std::string causes;
  for (const auto& [cause, name] : kCauses) {
    const auto n =
        std::count_if(e.result.events.begin(), e.result.events.end(),
                      [cause = cause](const identity_event& event) {
                        return event.type == event_type::identity_switch && event.cause == cause;
                      });
    if (n > 0) causes += (causes.empty() ? "" : ", ") + std::to_string(n) + " " + name;
  }
  return std::string(head) + (causes.empty() ? "" : " (" + causes + ")");
}

}  // namespace trackvideo
