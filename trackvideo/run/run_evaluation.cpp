// trackvideo/run/run_evaluation.cpp - a run's evaluation (see
// run_evaluation.h).
#include "trackvideo/run/run_evaluation.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <tuple>
#include <utility>

#include "common/input_file.h"
#include "common/tokens.h"
#include "trackvideo/base/failure.h"
#include "trackvideo/evaluation/kitti_frames.h"
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

// Both KITTI files read and checked against the folder's images, then each
// class scored.
std::string evaluate_kitti_run(const options& o, const run_inputs& in, run_evaluation& out) {
  out.name = results_name(in.tracks_path);
  const int images = static_cast<int>(in.source.images().size());
  kitti_file gt, tracker;
  std::string gt_text;
  if (std::string why = common::read_text(in.ground_truth_path, gt_text); !why.empty()) return why;
  using source = std::tuple<kitti_file*, const std::string*, const std::string*>;
  for (auto [file, path, text] : {source{&gt, &in.ground_truth_path, &gt_text},
                                  source{&tracker, &in.tracks_path, &in.tracks_text}}) {
    file->name = *path;
    if (std::string why = parse_kitti_rows(*text, *path, file->rows); !why.empty()) return why;
    for (const kitti_row& r : file->rows)
      if (r.frame > images)  // a row's frame k is the folder's image k + 1
        return shown_name(*path) + ":" + std::to_string(r.line) + ": frame " +
               std::to_string(r.frame - 1) + " is beyond the " + std::to_string(images) +
               (images == 1 ? " image of " : " images of ") + shown_name(o.frames) +
               " (frames count from 0)";
  }
  out.classes.resize(std::size(kKittiClasses));
  for (std::size_t c = 0; c < out.classes.size(); ++c) {
    const std::string why =
        evaluate_kitti_sequence(gt, tracker, images, kKittiClasses[c], out.classes[c]);
    if (!why.empty()) return why;
  }
  return "";
}

// The summary of one result (summary_line).
std::string result_line(const sequence_result& r) {
  const mot_scores& s = r.scores;
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
    const auto n = std::count_if(
        r.events.begin(), r.events.end(), [cause = cause](const identity_event& event) {
          return event.type == event_type::identity_switch && event.cause == cause;
        });
    if (n > 0) causes += (causes.empty() ? "" : ", ") + std::to_string(n) + " " + name;
  }
  return std::string(head) + (causes.empty() ? "" : " (" + causes + ")");
}

// The results a run holds: MOT's one, or KITTI's per class.
std::vector<sequence_result*> results_of(run_evaluation& e) {
  std::vector<sequence_result*> all;
  if (e.classes.empty()) all.push_back(&e.result);
  for (sequence_result& r : e.classes) all.push_back(&r);
  return all;
}

}  // namespace

int run_evaluation::switches_of(const encounter& e) const {
  const auto found = switches_at.find(encounter_name(e.id_a, e.id_b, e.first_frame));
  return found == switches_at.end() ? 0 : found->second;
}

void read_ground_truth(const options& o, const run_inputs& in, run_evaluation& out) noexcept {
  bool length_set = false;
  try {
    std::string why, text;
    if (!o.kitti) {
      why = common::read_text(in.ground_truth_path, text);
      out.length = o.sequence.empty()
                       ? std::max({last_frame_of(in.tracks_text), last_frame_of(text), 1})
                       : in.seq.seq_length;
    }
    out.length_read.set_value(why);
    length_set = true;
    if (why.empty() && !o.kitti)
      why = parse_mot_rows(text, in.ground_truth_path, mot_kind::ground_truth, out.length, out.gt);
    out.gt_read.set_value(why);
  } catch (const std::exception& e) {
    if (!length_set) out.length_read.set_value(failure_text(e));
    out.gt_read.set_value(failure_text(e));
  }
}

std::string evaluate_run(const options& o, const run_inputs& in, run_evaluation& out) {
  if (o.kitti) return evaluate_kitti_run(o, in, out);
  out.name = o.sequence.empty() ? results_name(in.tracks_path) : in.seq.name;
  std::string why = out.length_read.get_future().get();
  if (!why.empty()) return why;
  mot_rows tracker;
  why = parse_mot_rows(in.tracks_text, in.tracks_path, mot_kind::tracker, out.length, tracker);
  // The ground truth's fault first, as when the two are read in turn.
  if (std::string gt_why = out.gt_read.get_future().get(); !gt_why.empty()) return gt_why;
  if (!why.empty()) return why;
  evaluation_options settings;
  settings.mot20 = o.mot20;
  return evaluate_sequence(out.gt, tracker, out.length, settings, out.result);
}

std::string evaluate_files(const options& o, run_inputs& in, run_evaluation& out) {
  if (std::string why = common::read_text(in.tracks_path, in.tracks_text); !why.empty()) return why;
  read_ground_truth(o, in, out);
  return evaluate_run(o, in, out);
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
  if (std::string why = ready_(); !why.empty()) return why;
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
  e.switches_at.clear();
  for (sequence_result* r : results_of(e)) {
    assign_causes(r->events, spans, first_frames, near);
    for (const identity_event& event : r->events)
      if (event.type == event_type::identity_switch && !event.encounter.empty())
        ++e.switches_at[event.encounter];
  }
}

std::string write_evaluation(const run_evaluation& e, common::atomic_file* metrics,
                             common::atomic_file* events) {
  const bool kitti = !e.classes.empty();
  std::string why;
  if (metrics) {
    std::string text = kScoresHeader;
    if (!kitti) append_scores_row(text, e.name, e.result.scores);
    for (std::size_t c = 0; c < e.classes.size(); ++c)
      append_scores_row(text, e.name + "/" + kKittiClasses[c], e.classes[c].scores);
    if ((why = metrics->write(text.data(), text.size())).empty()) why = metrics->close();
  }
  if (why.empty() && events) {
    std::string text = kitti ? std::string("class,") + kEventsHeader : kEventsHeader;
    for (const identity_event& event : e.result.events) append_event_row(text, event);
    for (std::size_t c = 0; c < e.classes.size(); ++c)
      for (identity_event event : e.classes[c].events) {
        --event.frame;  // KITTI's files count frames from 0
        --event.previous_frame;
        text += std::string(kKittiClasses[c]) + ",";
        append_event_row(text, event);
      }
    if ((why = events->write(text.data(), text.size())).empty()) why = events->close();
  }
  return why;
}

std::string summary_line(const run_evaluation& e) {
  if (e.classes.empty()) return result_line(e.result);
  std::string line;
  for (std::size_t c = 0; c < e.classes.size(); ++c)
    line += (c ? "; " : "") + std::string(kKittiClasses[c]) + ": " + result_line(e.classes[c]);
  return line;
}

}  // namespace trackvideo
