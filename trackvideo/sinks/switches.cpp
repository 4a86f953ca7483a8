// trackvideo/sinks/switches.cpp - the identity switches on the page (see
// switches.h).
#include "trackvideo/sinks/switches.h"

#include <algorithm>
#include <charconv>
#include <iterator>
#include <map>
#include <unordered_map>

#include "trackvideo/sinks/html_page.h"

namespace trackvideo {

std::string switch_picture_name(const page_switch& s, bool before) {
  return "switch_" + std::to_string(s.frame) + "_" + std::to_string(s.gt_id) +
         (before ? "_before.png" : "_at.png");
}

std::vector<switch_picture> plan_switch_pictures(const tracks& t,
                                                 const std::vector<page_switch>& switches,
                                                 long long cap) {
  std::vector<switch_picture> out;
  if (cap <= 0 || switches.empty()) return out;
  std::unordered_map<int, int> object;  // tracker id -> object index
  object.reserve(t.ids.size());
  for (std::size_t q = 0; q < t.ids.size(); ++q) object.emplace(t.ids[q], static_cast<int>(q));
  // The first box of tracker id `id` in frame f (from 1), or nullptr.
  const auto box_of = [&](int f, int id) -> const track_box* {
    const auto q = object.find(id);
    if (q == object.end()) return nullptr;
    const auto at = std::lower_bound(t.boxes.begin(), t.boxes.end(), std::pair{f, q->second},
                                     [](const track_box& b, const std::pair<int, int>& key) {
                                       return b.frame != key.first ? b.frame < key.first
                                                                   : b.object < key.second;
                                     });
    return at != t.boxes.end() && at->frame == f && at->object == q->second ? &*at : nullptr;
  };
  const std::size_t n =
      std::min<unsigned long long>(static_cast<unsigned long long>(cap), switches.size());
  out.reserve(2 * n);
  for (std::size_t k = 0; k < n; ++k) {
    const page_switch& s = switches[k];
    for (const bool before : {true, false}) {
      switch_picture p;
      p.index = k;
      p.before = before;
      // Shown numbers back to the program's, from 1.
      p.frame = (before ? s.previous_frame : s.frame) + 1 - t.first_frame_number;
      const track_box* a = box_of(p.frame, s.previous_tracker_id);
      const track_box* b = box_of(p.frame, s.tracker_id);
      p.has_a = a != nullptr;
      p.has_b = b != nullptr;
      if (a) p.a = *a;
      if (b) p.b = *b;
      p.name = switch_picture_name(s, before);
      out.push_back(std::move(p));
    }
  }
  std::stable_sort(out.begin(), out.end(), [](const switch_picture& x, const switch_picture& y) {
    return x.frame < y.frame;
  });
  return out;
}

cv::Rect switch_picture_area(int frame_width, int frame_height, const switch_picture& p) {
  return thumbnail_area(frame_width, frame_height, p.has_a ? &p.a : nullptr,
                        p.has_b ? &p.b : nullptr);
}

namespace {

// The columns after the two pictures: the events table's, less its type.
const char* const kColumns[] = {"frame",          "gt_id", "tracker_id", "previous_tracker_id",
                                "previous_frame", "iou",   "cause",      "encounter"};
const char* const kColumnHints[] = {"the frame of the switch",
                                    "the ground-truth id",
                                    "the tracker id it is matched to from this frame",
                                    "the tracker id it was matched to before",
                                    "the frame of that match",
                                    "the overlap of the match in this frame",
                                    "why it happened, told from the tracks",
                                    "the encounter of meeting and crowd (id_a_id_b_first_frame)"};
static_assert(std::size(kColumns) == std::size(kColumnHints), "a hint per column");

}  // namespace

const char kSwitchesStyle[] = R"(<style>
#identity-switches h2 { font-size: 1.2em; margin: 1.6em 0 .4em; }
#switches td.text { text-align: left; }
#identity-switches .controls { margin: 0 0 .8em; }
</style>
)";

std::string switches_html(const std::vector<page_switch>& switches, bool table,
                          const std::vector<std::pair<cv::Size, cv::Size>>& pictures,
                          long long cap) {
  std::string out;
  out.reserve(1024 + switches.size() * 700);
  out += "<section id=\"identity-switches\">\n<h2>Identity switches</h2>\n";
  if (!table || switches.empty()) {
    out += switches.empty()
               ? "<p id=\"no-switches\">The evaluation found no identity switch.</p>\n"
               : "<p id=\"switches-untabled\">The timeline marks " +
                     std::to_string(switches.size()) +
                     (switches.size() == 1 ? " identity switch" : " identity switches") +
                     "; with --events FILE they are listed here too, each with the frame before "
                     "it and its own.</p>\n";
    out += "</section>\n";
    return out;
  }
  out +=
      "<p class=\"legend\">A ground-truth id matched to another tracker id than before. "
      "Pictures: the frame before the switch (previous_frame) and the frame of the switch, "
      "around both tracker ids' boxes; click a row to show its frame above.</p>\n";
  const auto left_out = std::count_if(pictures.begin(), pictures.end(),
                                      [](const auto& p) { return p.first.width == 0; });
  if (left_out > 0)
    out += "<p id=\"switches-left-out\">" + std::to_string(left_out) +
           (left_out == 1 ? " switch has" : " switches have") + " no pictures: only the first " +
           std::to_string(cap) + " get them (--thumbnails N changes it).</p>\n";
  std::map<std::string, int> causes;
  for (const page_switch& s : switches) ++causes[s.cause];
  out +=
      "<div class=\"controls\"><label>cause <select id=\"cause\" title=\"only the switches of "
      "this cause\"><option value=\"\">every cause</option>";
  for (const auto& [cause, n] : causes)
    out += "<option value=\"" + html_escape(cause) + "\">" + html_escape(cause) + " (" +
           std::to_string(n) + ")</option>";
  out += "</select></label></div>\n<table id=\"switches\">\n<thead><tr>";
  // When one tracker id has no box in a frame, its picture is cut around the
  // other's: the headers say so.
  out +=
      "<th title=\"frame previous_frame, around both tracker ids' boxes (around the one that "
      "has a box there when the other has none)\">before</th>"
      "<th title=\"frame frame, around both tracker ids' boxes (around the one that has a box "
      "there when the other has none)\">at</th>";
  for (std::size_t c = 0; c < std::size(kColumns); ++c) {
    const bool text = c >= 6;  // cause, encounter
    out += std::string("<th data-sort") + (text ? "=\"text\"" : "") + " tabindex=\"0\" title=\"" +
           kColumnHints[c] + "\">" + kColumns[c] + "</th>";
  }
  out += "</tr></thead>\n<tbody>\n";
  for (std::size_t k = 0; k < switches.size(); ++k) {
    const page_switch& s = switches[k];
    const std::string from = std::to_string(s.previous_tracker_id);
    const std::string to = std::to_string(s.tracker_id);
    const std::string cause = html_escape(s.cause);
    out += "<tr data-switch-frame=\"" + std::to_string(s.frame) + "\" data-ids=\"" + from + "," +
           to + "\" data-cause=\"" + cause + "\">";
    const auto sizes =
        k < pictures.size() ? pictures[k] : std::pair{cv::Size(-1, -1), cv::Size(-1, -1)};
    const std::string tracks = "tracks " + from + " and " + to + " in frame ";
    thumbnail_cell(out, switch_picture_name(s, true), tracks + std::to_string(s.previous_frame),
                   sizes.first);
    thumbnail_cell(out, switch_picture_name(s, false), tracks + std::to_string(s.frame),
                   sizes.second);
    char iou[32];
    const auto end = std::to_chars(iou, iou + sizeof iou, s.iou).ptr;
    for (const long long v :
         {static_cast<long long>(s.frame), static_cast<long long>(s.gt_id),
          static_cast<long long>(s.tracker_id), static_cast<long long>(s.previous_tracker_id),
          static_cast<long long>(s.previous_frame)})
      out += "<td>" + std::to_string(v) + "</td>";
    out += "<td>" + std::string(iou, end) + "</td><td class=\"text\">" + cause +
           "</td><td class=\"text\">" + html_escape(s.encounter) + "</td></tr>\n";
  }
  out += "</tbody>\n</table>\n</section>\n";
  return out;
}

}  // namespace trackvideo
