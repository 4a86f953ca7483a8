// trackvideo/sinks/html_viewer.cpp - the viewer half of the encounters page
// (see html_viewer.h).
#include "trackvideo/sinks/html_viewer.h"

#include <algorithm>
#include <cstdio>
#include <tuple>
#include <unordered_map>

#include "trackvideo/sinks/html_page.h"
#include "trackvideo/sinks/overlay.h"

namespace trackvideo {

double seek_time(int frame, int first, double fps) {
  return (static_cast<double>(frame) - first + 0.5) / fps;
}

std::string css_colour(int id) {
  const cv::Scalar c = track_colour(id);  // B, G, R
  char text[8];
  std::snprintf(text, sizeof text, "#%02x%02x%02x", static_cast<int>(c[2]) & 0xff,
                static_cast<int>(c[1]) & 0xff, static_cast<int>(c[0]) & 0xff);
  return text;
}

timeline_layout lay_out_timeline(const std::vector<track_span>& spans,
                                 const std::vector<encounter>& encounters, int first, int last,
                                 const std::vector<page_switch>& switches) {
  timeline_layout out;
  out.width = static_cast<long long>(last) - first + 1;
  out.height = static_cast<int>(spans.size()) * kTimelineRow;
  std::unordered_map<int, int> row;  // id -> row
  row.reserve(spans.size());
  for (const track_span& s : spans) {
    const int r = static_cast<int>(out.bars.size());
    row.emplace(s.id, r);
    out.bars.push_back({static_cast<long long>(s.first) - first,
                        static_cast<long long>(s.last) - s.first + 1,
                        r * kTimelineRow + (kTimelineRow - kTimelineBar) / 2, kTimelineBar});
  }
  out.marks.reserve(encounters.size());
  for (const encounter& e : encounters) {
    const auto [top, bottom] = std::minmax(row.at(e.id_a), row.at(e.id_b));
    // From the middle of one bar to the middle of the other, and at least a
    // bar high, so that it shows between neighbouring rows.
    out.marks.push_back({static_cast<long long>(e.first_frame) - first,
                         static_cast<long long>(e.last_frame) - e.first_frame + 1,
                         top * kTimelineRow + (kTimelineRow - kTimelineBar) / 2,
                         (bottom - top) * kTimelineRow + kTimelineBar});
  }
  // A switch's tracker ids come from the evaluation's reading of the results,
  // which may keep rows the tracks leave out: an id without a row adds none.
  out.switches.reserve(switches.size());
  for (const page_switch& s : switches) {
    const auto a = row.find(s.previous_tracker_id), b = row.find(s.tracker_id);
    int top = 0, bottom = std::max(static_cast<int>(spans.size()) - 1, 0);  // neither: every row
    if (a != row.end() || b != row.end()) {
      const int one = a != row.end() ? a->second : b->second;
      const int other = b != row.end() ? b->second : a->second;
      std::tie(top, bottom) = std::minmax(one, other);
    }
    out.switches.push_back({static_cast<long long>(s.frame) - first, 1,
                            top * kTimelineRow + (kTimelineRow - kTimelineBar) / 2,
                            (bottom - top) * kTimelineRow + kTimelineBar});
  }
  return out;
}

namespace {

void rect(std::string& out, const timeline_rect& r) {
  out += "<rect x=\"" + std::to_string(r.x) + "\" y=\"" + std::to_string(r.y) + "\" width=\"" +
         std::to_string(r.width) + "\" height=\"" + std::to_string(r.height) + "\"";
}

}  // namespace

std::string viewer_html(const std::string& video, double fps, int first, int last,
                        const std::vector<track_span>& spans,
                        const std::vector<encounter>& encounters,
                        const std::vector<page_switch>& switches) {
  char rate[32];
  std::snprintf(rate, sizeof rate, "%.10g", video.empty() ? 0.0 : fps);
  std::string out;
  out.reserve(1024 + spans.size() * 120 + encounters.size() * 120);
  out += "<section id=\"viewer\" data-fps=\"" + std::string(rate) + "\" data-first=\"" +
         std::to_string(first) + "\" data-last=\"" + std::to_string(last) + "\">\n";
  if (!video.empty())
    out += "<video id=\"overlay\" src=\"" + video +
           "\" preload=\"auto\" muted playsinline></video>\n"
           "<div class=\"controls\"><button id=\"back\" title=\"one frame back\">&lsaquo; frame</button>"
           "<button id=\"play\" title=\"play or pause\">play</button>"
           "<button id=\"forward\" title=\"one frame forward\">frame &rsaquo;</button> ";
  else
    out += "<div class=\"controls\">";
  out += "frame <span id=\"frame\">" + std::to_string(first) + "</span> of " +
         std::to_string(last) +
         " <label>ids <input id=\"filter\" type=\"text\" placeholder=\"e.g. 2,3\" "
         "title=\"only these tracks (comma-separated); empty: all\"></label></div>\n";
  const timeline_layout layout = lay_out_timeline(spans, encounters, first, last, switches);
  // Stretched to the page's width; 16 pixels a row, 48 to 600 in all.
  const int pixels = std::clamp(layout.height / kTimelineRow * 16, 48, 600);
  out += "<svg id=\"timeline\" viewBox=\"0 0 " + std::to_string(layout.width) + " " +
         std::to_string(layout.height) + "\" preserveAspectRatio=\"none\" height=\"" +
         std::to_string(pixels) +
         "\" role=\"img\" aria-label=\"tracks and encounters by frame\">\n";
  // The marks under the bars, so that a mark across other rows hides none.
  out += "<g class=\"encounters\">\n";
  for (std::size_t k = 0; k < encounters.size(); ++k) {
    const encounter& e = encounters[k];
    const std::string ids = std::to_string(e.id_a) + "," + std::to_string(e.id_b);
    rect(out, layout.marks[k]);
    out += e.at_risk() ? " class=\"risk\"" : "";
    // No <title>: a page of many thousand encounters opens quicker without
    // as many more elements, and the table's row says the same.
    out += " data-encounter=\"" + ids + "," + std::to_string(e.first_frame) + "\" data-ids=\"" +
           ids + "\"></rect>\n";
  }
  out += "</g>\n<g class=\"bars\">\n";
  for (std::size_t k = 0; k < spans.size(); ++k) {
    rect(out, layout.bars[k]);
    const std::string id = std::to_string(spans[k].id);
    out += " fill=\"" + css_colour(spans[k].id) + "\" data-track=\"" + id + "\" data-ids=\"" + id +
           "\" data-first=\"" + std::to_string(spans[k].first) + "\" data-last=\"" +
           std::to_string(spans[k].last) + "\"><title>track " + id + ", frames " +
           std::to_string(spans[k].first) + " to " + std::to_string(spans[k].last) +
           "</title></rect>\n";
  }
  out += "</g>\n";
  // Over the bars: a switch is one frame, and it is what the page is read for.
  if (!switches.empty()) out += "<g class=\"switches\">\n";
  for (std::size_t k = 0; k < switches.size(); ++k) {
    const page_switch& s = switches[k];
    const std::string from = std::to_string(s.previous_tracker_id);
    const std::string to = std::to_string(s.tracker_id);
    const std::string cause = html_escape(s.cause);
    rect(out, layout.switches[k]);
    out += " data-switch=\"" + std::to_string(s.frame) + "," + std::to_string(s.gt_id) +
           "\" data-ids=\"" + from + "," + to + "\" data-cause=\"" + cause + "\"><title>frame " +
           std::to_string(s.frame) + ": ground truth " + std::to_string(s.gt_id) + " from track " +
           from + " to " + to + (cause.empty() ? "" : " (" + cause + ")") + "</title></rect>\n";
  }
  if (!switches.empty()) out += "</g>\n";
  out += "<rect id=\"cursor\" x=\"0\" y=\"0\" width=\"1\" height=\"" +
         std::to_string(layout.height) + "\"></rect>\n</svg>\n</section>\n";
  return out;
}

const char kViewerStyle[] = R"(<style>
[hidden] { display: none !important; }
#viewer { margin: 0 0 1.2em; }
#viewer video { display: block; min-width: min(100%, 640px); max-width: 100%; max-height: 60vh; background: #000; }
#viewer .controls { margin: .4em 0; display: flex; gap: .6em; align-items: center; flex-wrap: wrap; }
#viewer #frame { font-variant-numeric: tabular-nums; font-weight: bold; min-width: 4em; display: inline-block; }
#timeline { display: block; width: 100%; background: #f6f6f6; border: 1px solid #ccc; cursor: crosshair; }
#timeline .encounters rect { fill: #555; fill-opacity: .5; }
#timeline .encounters rect.risk { fill: #e8590c; fill-opacity: .7; }
#timeline .switches rect { fill: #c92a2a; stroke: #c92a2a; stroke-width: 3px; vector-effect: non-scaling-stroke; }
#timeline #cursor { fill: #000; fill-opacity: .35; pointer-events: none; }
#encounters tbody tr, #switches tbody tr { cursor: pointer; }
#encounters tbody tr.current td, #switches tbody tr.current td { outline: 2px solid #1c7ed6; outline-offset: -2px; }
</style>
)";

// The frame on screen is the one whose span holds the video's time: from
// each presented frame's own time where the browser reports it
// (requestVideoFrameCallback), else from currentTime on timeupdate. A seek
// goes to the middle of the frame's span (seek_time).
const char kViewerScript[] = R"(<script>
(function () {
  var viewer = document.getElementById('viewer');
  if (!viewer) return;
  var fps = +viewer.getAttribute('data-fps'), first = +viewer.getAttribute('data-first');
  var last = +viewer.getAttribute('data-last');
  var video = document.getElementById('overlay'), shown = document.getElementById('frame');
  var timeline = document.getElementById('timeline'), cursor = document.getElementById('cursor');
  var filter = document.getElementById('filter'), table = document.getElementById('encounters');
  var current = first;
  function show(f) {
    current = f;
    shown.textContent = f;
    cursor.setAttribute('x', f - first);
  }
  function frameAt(t) {
    return Math.max(first, Math.min(last, first + Math.floor(t * fps + 1e-6)));
  }
  function seek(f) {
    f = Math.max(first, Math.min(last, f));
    if (video) {
      video.pause();
      video.currentTime = (f - first + 0.5) / fps;
    }
    show(f);
  }
  if (video) {
    var play = document.getElementById('play');
    if ('requestVideoFrameCallback' in video) {
      var presented = function (now, meta) {
        show(frameAt(meta.mediaTime));
        video.requestVideoFrameCallback(presented);
      };
      video.requestVideoFrameCallback(presented);
    } else {
      video.addEventListener('timeupdate', function () { show(frameAt(video.currentTime)); });
    }
    play.addEventListener('click', function () {
      if (video.paused) video.play(); else video.pause();
    });
    video.addEventListener('play', function () { play.textContent = 'pause'; });
    video.addEventListener('pause', function () { play.textContent = 'play'; });
    document.getElementById('back').addEventListener('click', function () { seek(current - 1); });
    document.getElementById('forward').addEventListener('click', function () { seek(current + 1); });
  }
  timeline.addEventListener('click', function (event) {
    var box = timeline.getBoundingClientRect();
    seek(first + Math.floor((event.clientX - box.left) / box.width * (last - first + 1)));
  });
  var marked = null;
  // A row of either table shows its frame: an encounter's closest, a switch's own.
  [[table, 'data-frame'], [document.getElementById('switches'), 'data-switch-frame']].forEach(function (t) {
    if (t[0]) t[0].tBodies[0].addEventListener('click', function (event) {
      var row = event.target.closest('tr[' + t[1] + ']');
      if (!row) return;
      if (marked) marked.classList.remove('current');
      marked = row;
      row.classList.add('current');
      seek(+row.getAttribute(t[1]));
    });
  });
  // Kept: an element with one of the ids typed (all without any), and of the
  // cause chosen when it has one.
  var cause = document.getElementById('cause');
  function refilter() {
    var wanted = {}, any = false, only = cause ? cause.value : '';
    filter.value.split(',').forEach(function (id) {
      id = id.trim();
      if (id !== '') { wanted[id] = true; any = true; }
    });
    document.querySelectorAll('[data-ids]').forEach(function (el) {
      var keep = !any || el.getAttribute('data-ids').split(',').some(function (id) {
        return wanted[id] === true;
      });
      if (only !== '' && el.hasAttribute('data-cause') && el.getAttribute('data-cause') !== only) keep = false;
      if (keep) el.removeAttribute('hidden'); else el.setAttribute('hidden', '');
    });
  }
  filter.addEventListener('input', refilter);
  if (cause) cause.addEventListener('change', refilter);
})();
</script>
)";

}  // namespace trackvideo
