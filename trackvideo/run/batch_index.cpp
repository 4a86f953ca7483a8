// trackvideo/run/batch_index.cpp - the dataset's page (see batch_index.h).
#include "trackvideo/run/batch_index.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <vector>

#include "common/input_file.h"
#include "common/tokens.h"
#include "trackvideo/run/batch_marker.h"
#include "trackvideo/sinks/encounters.h"
#include "trackvideo/sinks/html_page.h"

namespace trackvideo {

namespace {

// The columns of encounters.csv the page counts (kEncountersHeader's order).
constexpr std::size_t kFirstFlag = 10, kSwitches = 14, kEncounterFields = 15;

void cell(std::string& out, long long v) {
  out += "<td>" + std::to_string(v) + "</td>";
}

void percent(std::string& out, double fraction) {
  char text[64];
  std::snprintf(text, sizeof text, "<td>%.1f</td>", 100 * fraction);
  out += text;
}

// The cells after the name: the figures, the counts and the scores, empty
// where there are none.
void figures(std::string& out, const index_row& r, bool scored) {
  const bool done = r.state == index_row::state::done;
  if (done) {
    cell(out, r.figures.frames);
    cell(out, r.figures.tracks);
  } else {
    out += "<td></td><td></td>";
  }
  if (done && r.counted) {
    cell(out, r.encounters);
    cell(out, r.at_risk);
  } else {
    out += "<td></td><td></td>";
  }
  if (!scored) return;
  if (r.scores) {
    percent(out, evaluation::alpha_mean(r.scores->hota));
    percent(out, r.scores->mota);
    percent(out, r.scores->idf1);
    cell(out, r.scores->idsw);
  } else {
    out += "<td></td><td></td><td></td><td></td>";
  }
  if (r.scores && r.counted)
    cell(out, r.tied_switches);
  else
    out += "<td></td>";
}

const char* const kHeads[][2] = {
    {"frames", "frames read"},
    {"tracks", "distinct track ids"},
    {"encounters", "two tracks' runs of frames with candidate pairs"},
    {"at risk", "encounters where a track starts or ends"},
    {"HOTA %", "higher order tracking accuracy"},
    {"MOTA %", "multiple object tracking accuracy"},
    {"IDF1 %", "identity F1 score"},
    {"IDSW", "identity switches"},
    {"tied switches", "identity switches at an encounter (cause meeting or crowd)"}};
constexpr std::size_t kUnscoredHeads = 4;

const char kIndexStyle[] = R"(<style>
tr.combined td { background: #f4f4f8; font-weight: bold; }
td.name { text-align: left; }
.state { color: #a33200; }
</style>
)";

}  // namespace

bool count_encounters(const std::string& text, index_row& row) {
  if (text.rfind(kEncountersHeader, 0) != 0) return false;
  long long rows = 0, at_risk = 0, tied = 0;
  const std::size_t header = std::char_traits<char>::length(kEncountersHeader);
  for (std::size_t start = header, end; start < text.size(); start = end + 1) {
    end = text.find('\n', start);
    if (end == std::string::npos) return false;  // a table cut short
    std::vector<std::string> f;
    for (std::size_t at = start, comma;; at = comma + 1) {
      comma = std::min(text.find(',', at), end);
      f.push_back(text.substr(at, comma - at));
      if (comma == end) break;
    }
    long long switches = 0;
    if (f.size() != kEncounterFields || !read_count(f[kSwitches], switches)) return false;
    ++rows;
    bool risk = false;
    for (std::size_t k = kFirstFlag; k < kSwitches; ++k) risk = risk || f[k] == "1";
    at_risk += risk;
    tied += switches;
  }
  row.counted = true;
  row.encounters = rows;
  row.at_risk = at_risk;
  row.tied_switches = tied;
  return true;
}

std::string page_address(const std::string& name) {
  std::string out;
  for (const char c : name) {
    const auto u = static_cast<unsigned char>(c);
    if ((u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || c == '-' ||
        c == '.' || c == '_' || c == '~') {
      out += c;
    } else {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", u);
      out += hex;
    }
  }
  return out + "/" + kPageFolder + "/" + kIndexName;
}

std::string dataset_page(const std::string& title, const std::vector<index_row>& rows, bool scored,
                         const evaluation::mot_scores* combined) {
  const std::string heading = html_escape(title);
  // Nothing loads: the page is its own style and script; its links are
  // followed, not fetched.
  std::string out = page_head(heading + " \xE2\x80\x93 sequences",
                              "default-src 'none'; style-src 'unsafe-inline'; script-src "
                              "'unsafe-inline'");
  out += page_style();
  out += kIndexStyle;
  out += "</head>\n<body>\n<h1>" + heading + "</h1>\n";
  out +=
      "<p class=\"legend\">A row per sequence, linking to its page; COMBINED, the dataset "
      "whole, stays on top. Click a column header to sort by it (again to reverse).</p>\n";
  out += "<table id=\"sequences\">\n<thead><tr><th>sequence</th>";
  const std::size_t heads = scored ? std::size(kHeads) : kUnscoredHeads;
  for (std::size_t c = 0; c < heads; ++c)
    out += std::string("<th data-sort tabindex=\"0\" title=\"") + kHeads[c][1] + "\">" +
           kHeads[c][0] + "</th>";
  out += "</tr>\n";
  index_row all;
  all.state = index_row::state::done;
  all.counted = true;
  all.scores = combined;
  for (const index_row& r : rows) {
    if (r.state != index_row::state::done) continue;
    all.figures.frames += r.figures.frames;
    all.figures.tracks += r.figures.tracks;
    all.encounters += r.encounters;
    all.at_risk += r.at_risk;
    if (r.scores) all.tied_switches += r.tied_switches;
    all.counted = all.counted && r.counted;
  }
  out += "<tr class=\"combined\"><td class=\"name\">COMBINED</td>";
  figures(out, all, scored);
  out += "</tr>\n</thead>\n<tbody>\n";
  for (const index_row& r : rows) {
    const std::string name = html_escape(r.name);
    if (r.state == index_row::state::done)
      out += "<tr><td class=\"name\"><a data-sequence=\"" + name + "\" href=\"" +
             html_escape(page_address(r.name)) + "\">" + name + "</a></td>";
    else
      out += "<tr><td class=\"name\">" + name + " <span class=\"state\">(" +
             (r.state == index_row::state::failed ? "failed" : "not done") + ")</span></td>";
    figures(out, r, scored);
    out += "</tr>\n";
  }
  out += "</tbody>\n</table>\n";
  out += sort_script("sequences");
  out += "</body>\n</html>\n";
  return out;
}

std::string batch_index_text(const std::vector<batch_line>& lines, const options& o,
                             const std::vector<bool>& failed,
                             const std::vector<sequence_scores>& scored) {
  std::vector<index_row> rows(lines.size());
  std::vector<evaluation::mot_scores> scores;
  std::size_t next = 0;
  for (std::size_t k = 0; k < lines.size(); ++k) {
    const batch_line& l = lines[k];
    index_row& r = rows[k];
    r.name = l.name;
    double seconds = 0;
    if (marker_matches(l, o, r.figures, seconds)) {
      r.state = index_row::state::done;
      std::string text;
      const std::string csv = common::in_folder(common::in_folder(o.out, l.name), "encounters.csv");
      if (common::read_file(csv, text).empty()) count_encounters(text, r);
    } else if (failed[k]) {
      r.state = index_row::state::failed;
    }
    // `scored` is in LIST order, a subset of the lines done. KITTI's scores
    // are a class's, two a sequence: metrics.csv has them, the page not.
    if (!o.kitti && next < scored.size() && scored[next].line == &l) {
      r.scores = &scored[next].scores;
      scores.push_back(scored[next++].scores);
    }
  }
  const evaluation::mot_scores combined =
      scores.empty() ? evaluation::mot_scores{} : evaluation::combine_sequences(scores);
  const std::string title = o.batch == "-" ? "standard input" : common::shown_name(o.batch);
  return dataset_page(title, rows, o.with_metrics && !o.kitti,
                      scores.empty() ? nullptr : &combined);
}

}  // namespace trackvideo
