// trackvideo/run/run.cpp - a run composed of its stages (see run.h).
#include "trackvideo/run/run.h"

#include <unistd.h>

#include <opencv2/core/utils/logger.hpp>

#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>
#include <vector>

#include "common/processors.h"
#include "common/tokens.h"
#include "tavo/error.h"
#include "trackvideo/base/failure.h"
#include "trackvideo/evaluation/score_tables.h"
#include "trackvideo/sinks/html_page.h"
#include "trackvideo/pipeline/frame_pipeline.h"
#include "trackvideo/run/run_evaluation.h"
#include "trackvideo/run/run_inputs.h"
#include "trackvideo/run/run_outputs.h"
#include "trackvideo/sinks/encounters_sink.h"
#include "trackvideo/sinks/pictures_sink.h"
#include "trackvideo/sinks/text_sinks.h"

namespace trackvideo {

using common::in_folder;
using common::shown_name;

namespace {

// --threads, or one per usable processor: the pipeline's workers and the
// video decoder's own threads.
int threads_of(const options& o) {
  return o.threads > 0 ? o.threads : common::usable_processors();
}

// Every piece to every sink, in order; then every sink finished, in order.
std::string feed(frame_pipeline& pipeline, const std::vector<frame_sink*>& sinks) {
  std::string why = pipeline.run([&sinks](const frame_piece& piece) {
    for (frame_sink* s : sinks)
      if (std::string failed = s->take(piece); !failed.empty()) return failed;
    return std::string();
  });
  for (std::size_t k = 0; why.empty() && k < sinks.size(); ++k) why = sinks[k]->finish();
  return why;
}

// One pass over the boxes alone (no pixels), each frame's pairs made once
// for what needs them before the frames: the pictures' plan (`plan`) and
// the evaluation's encounters (`evaluation`); either may be nullptr.
std::string boxes_pass(const options& o, const tracks& t, picture_plan* plan,
                       evaluation_sink* evaluation) {
  job_work work;
  work.radius = o.radius;
  work.pixels = false;
  work.frames_with_boxes = true;
  work.measures = plan && !o.html.empty();
  frame_pipeline boxes_only(t, nullptr, work, threads_of(o));
  std::vector<frame_sink*> order;
  std::unique_ptr<picture_plan_sink> planner;
  if (plan) {
    planner =
        std::make_unique<picture_plan_sink>(t, o.gap, o.near, o.html.empty() ? -1 : o.thumbnails);
    order.push_back(planner.get());
  }
  if (evaluation) order.push_back(evaluation);
  const std::string why = feed(boxes_only, order);
  if (plan) *plan = std::move(planner->plan());
  return why;
}

// The marker of a batch's sequence, then everything at once.
std::string commit(const run_figures& figures, run_outputs& f, const sequence_files* files) {
  if (!files) {
    const std::string why = f.set->commit_all();
    return why.empty() ? "" : why + " (the report was written)";
  }
  common::atomic_file* marker = nullptr;
  std::string why = f.set->open(files->marker, "the marker", marker);
  const std::string text = why.empty() ? files->marker_text(figures) : "";
  if (why.empty()) why = marker->write(text.data(), text.size());
  if (why.empty()) why = marker->close();
  return why.empty() ? f.set->commit_all() : why;
}

// The evaluation's switches as the page shows them, in the events' order.
std::vector<page_switch> page_switches(const run_evaluation& e) {
  std::vector<page_switch> out;
  for (const evaluation::identity_event& event : e.result.events)
    if (event.type == evaluation::event_type::identity_switch)
      out.push_back({event.frame, event.previous_frame, event.gt_id, event.tracker_id,
                     event.previous_tracker_id, event.iou, evaluation::cause_name(event.cause),
                     event.encounter});
  return out;
}

std::string write_failed(const char* what) {
  return std::string(what) + ": " + std::strerror(errno != 0 ? errno : EIO);
}

}  // namespace

bool progress_wanted(progress_mode mode, int fd) {
  if (mode == progress_mode::always) return true;
  if (mode == progress_mode::never) return false;
  return ::isatty(fd) == 1;
}

std::string run(const options& o, std::FILE* out, std::FILE* err, const sequence_files* files) {
  // Every failure is reported as one line of ours.
  cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
  run_inputs in(o.max_pixels);
  const tracks& t = in.boxes;
  std::string why;
  const bool frames = o.reads_frames();
  // The evaluation reads files of its own: it runs beside the tracks'
  // reading and the first pass over the boxes (KITTI's once the frames'
  // folder is listed: its frames are the images), and is waited for when
  // that pass finishes (evaluation_sink), before anything is written: what
  // it refuses ends the run.
  run_evaluation scored;
  const int threads = threads_of(o);
  side_work scoring([&o, &in, &scored] { return evaluate_run(o, in, scored); },
                    [&o, &in, &scored] { read_ground_truth(o, in, scored); });
  const bool beside = o.evaluating() && !o.kitti;
  if (!(why = read_inputs(o, err, threads, in, beside ? &scoring : nullptr)).empty() ||
      ((frames || o.kitti) && !(why = open_frames(o, in)).empty()) ||
      (!files && !(why = check_standard_output(o, in, out)).empty()))
    return why;
  if (o.evaluating() && o.kitti) scoring.start(false);
  run_outputs f;
  if (!(why = prepare_outputs(o, in, files, f)).empty()) return why;
  const bool pictures = f.video || !o.overlay.empty() || !o.html.empty();
  picture_plan plan;
  // The evaluation's encounters come from the first pass over the boxes: a
  // pass of their own (shared with the pictures' plan) before the frames, or
  // without pixels the run's one pass, which it joins first. When that pass
  // finishes, the scores are waited for, the switches explained and the
  // tables written.
  std::unique_ptr<evaluation_sink> evaluation;
  if (o.evaluating())
    evaluation = std::make_unique<evaluation_sink>(t, o.gap, o.near, scored, f.metrics, f.events,
                                                   [&scoring] { return scoring.wait(); });
  if ((pictures || (evaluation && frames)) &&
      !(why = boxes_pass(o, t, pictures ? &plan : nullptr, frames ? evaluation.get() : nullptr))
           .empty())
    return why;
  const auto write_closed = [&f](const std::string& path, const std::string& text) {
    return f.set->write_closed(path, text);
  };

  // The sinks, in the order they take each piece and finish.
  std::vector<std::unique_ptr<frame_sink>> sinks;
  if (f.csv) sinks.push_back(std::make_unique<table_sink>(*f.csv));
  encounters_sink::page page{in_folder(o.html, "index.html"),
                             o.sequence.empty() ? shown_name(in.tracks_path) : in.seq.name,
                             o.thumbnails,
                             write_closed,
                             f.page_video ? kPageVideo : "",
                             in.source.fps()};
  if (o.evaluating() && !o.html.empty()) {
    page.evaluated = true;
    page.switch_table = !o.events.empty();
    page.switches = page_switches(scored);
    if (page.switch_table) plan.switches = plan_switch_pictures(t, page.switches, o.thumbnails);
  }
  const bool encounters = !o.encounters.empty() || !o.html.empty();
  if (encounters)
    sinks.push_back(std::make_unique<encounters_sink>(
        t, o.gap, o.near, f.encounters, o.html.empty() ? nullptr : &page,
        o.evaluating() ? encounters_sink::switch_count(
                             [&scored](const encounter& e) { return scored.switches_of(e); })
                       : encounters_sink::switch_count()));
  if (!o.detections.empty())
    sinks.push_back(std::make_unique<detections_sink>(t, o.detections, write_closed));
  if (pictures) {
    pictures_sink::settings s;
    s.overlay = o.overlay;
    s.video = f.video;
    s.video_name = o.overlay_video;
    s.fps = in.source.fps();
    s.thumbnails = o.html;
    s.page_video = f.page_video;
    s.page_video_name = in_folder(o.html, kPageVideo);
    s.trail = o.trail;
    s.write = write_closed;
    sinks.push_back(std::make_unique<pictures_sink>(t, std::move(s), std::move(plan)));
  }
  auto figures_owned = std::make_unique<figures_sink>(kHintWidth, kHintHeight);
  figures_sink& figures = *figures_owned;
  sinks.push_back(std::move(figures_owned));
  sinks.push_back(
      std::make_unique<progress_sink>(progress_wanted(o.progress, ::fileno(err)), t, err));
  // The report last: on standard output, whole and flushed, once every
  // other output is ready (or into a batch's report file).
  common::atomic_file* report = f.report;
  sinks.push_back(std::make_unique<report_sink>(
      t,
      [report, out](const char* data, std::size_t n) -> std::string {
        if (report) return report->write(data, n);
        errno = 0;
        return std::fwrite(data, 1, n, out) == n ? ""
                                                 : write_failed("cannot write to standard output");
      },
      [report, out]() -> std::string {
        if (report) return report->close();
        errno = 0;
        if (std::fflush(out) != 0 || std::ferror(out))
          return write_failed("cannot write to standard output");
        return "";
      }));

  job_work work;
  work.radius = o.radius;
  work.text = !o.detections.empty();
  work.measures = encounters;
  work.rows = f.csv != nullptr;
  work.every_frame = f.video != nullptr || f.page_video != nullptr;
  // Without pixels (an evaluation alone) the report comes from the boxes.
  work.pixels = frames;
  work.frames_with_boxes = !frames;
  frame_pipeline pipeline(t, frames ? &in.source : nullptr, work, threads_of(o));
  std::vector<frame_sink*> order;
  if (evaluation && !frames) order.push_back(evaluation.get());
  for (const auto& s : sinks) order.push_back(s.get());
  if (!(why = feed(pipeline, order)).empty()) return why;

  run_figures found;
  found.frames = t.last_frame;
  found.tracks = t.objects();
  found.boxes = static_cast<long long>(t.boxes.size());
  found.ignored_rows = static_cast<long long>(t.ignored_flag) + t.ignored_class;
  found.pairs = figures.pairs();
  if (!(why = commit(found, f, files)).empty()) return why;
  if (figures.large() && found.pairs == 0 && t.objects() >= 2 && o.progress != progress_mode::never)
    std::fprintf(err,
                 "trackvideo: no candidate pairs: the limit is an L1 distance below %lld pixels "
                 "(four corner differences summed); --radius N sets it for larger frames\n",
                 o.radius);
  if (o.evaluating() && o.progress != progress_mode::never)
    std::fprintf(err, "trackvideo: %s\n", summary_line(scored).c_str());
  return "";
}

namespace {

// The library's errors end the run like our own: running out of memory as
// std::bad_alloc, anything else fatal as std::runtime_error; warnings are
// dropped. Either unwinds to guarded_run, and the outputs' temporaries go
// with the stack.
void throwing_error_handler(int code, const char* msg) {
  if (code == 999 && msg && std::strstr(msg, "Out of memory")) throw std::bad_alloc();
  if (code > 0) throw std::runtime_error(msg ? msg : "internal error");
}

// Our error handler installed for the length of a run.
class library_errors_thrown {
 public:
  library_errors_thrown() : handler_(set_error_handler(throwing_error_handler)) {}
  ~library_errors_thrown() { set_error_handler(handler_); }
  library_errors_thrown(const library_errors_thrown&) = delete;
  library_errors_thrown& operator=(const library_errors_thrown&) = delete;

 private:
  tavo_error_handler_type handler_;
};

}  // namespace

std::string guarded_run(const options& o, std::FILE* out, std::FILE* err,
                        const sequence_files* files) noexcept {
  const library_errors_thrown handler;
  try {
    return run(o, out, err, files);
  } catch (const std::exception& e) {
    return failure_text(e);
  } catch (...) {
    return "internal error";
  }
}

}  // namespace trackvideo
