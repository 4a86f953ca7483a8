// trackvideo/sinks/html_page.cpp - the page of a run's encounters (see html_page.h).
#include "trackvideo/sinks/html_page.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>

namespace trackvideo {

std::string thumbnail_name(const encounter& e) {
  return "enc_" + std::to_string(e.id_a) + "_" + std::to_string(e.id_b) + "_" +
         std::to_string(e.first_frame) + ".png";
}

namespace {

// A rectangle of inclusive corners in 64 bits: no int corner overflows it.
struct span {
  long long x1, y1, x2, y2;
};

// The part of `b` inside a w x h frame; false when there is none.
bool clip(const track_box& b, long long w, long long h, span& out) {
  out = {std::max<long long>(b.x1, 0), std::max<long long>(b.y1, 0),
         std::min<long long>(b.x2, w - 1), std::min<long long>(b.y2, h - 1)};
  return out.x1 <= out.x2 && out.y1 <= out.y2;
}

}  // namespace

cv::Rect thumbnail_area(int frame_width, int frame_height, const encounter& e) {
  return thumbnail_area(frame_width, frame_height, &e.box_a, &e.box_b);
}

cv::Rect thumbnail_area(int frame_width, int frame_height, const track_box* box_a,
                        const track_box* box_b) {
  if (frame_width <= 0 || frame_height <= 0) return cv::Rect();
  const cv::Rect whole(0, 0, frame_width, frame_height);
  span a, b, u;
  const bool has_a = box_a && clip(*box_a, frame_width, frame_height, a);
  const bool has_b = box_b && clip(*box_b, frame_width, frame_height, b);
  if (has_a && has_b)
    u = {std::min(a.x1, b.x1), std::min(a.y1, b.y1), std::max(a.x2, b.x2), std::max(a.y2, b.y2)};
  else if (has_a)
    u = a;
  else if (has_b)
    u = b;
  else
    return whole;
  const long long side = std::max(u.x2 - u.x1 + 1, u.y2 - u.y1 + 1);
  const long long margin = std::max<long long>(kThumbnailMargin, side / 4);
  const long long x1 = std::max(u.x1 - margin, 0LL), y1 = std::max(u.y1 - margin, 0LL);
  const long long x2 = std::min(u.x2 + margin, frame_width - 1LL);
  const long long y2 = std::min(u.y2 + margin, frame_height - 1LL);
  return cv::Rect(static_cast<int>(x1), static_cast<int>(y1), static_cast<int>(x2 - x1 + 1),
                  static_cast<int>(y2 - y1 + 1));
}

cv::Size thumbnail_size(cv::Size area) {
  const int side = std::max(area.width, area.height);
  if (area.empty()) return cv::Size();
  if (side > kThumbnailMax) {
    // The larger side becomes kThumbnailMax exactly, the other in proportion.
    const double scale = static_cast<double>(kThumbnailMax) / side;
    const auto other = [scale](int v) {
      return std::max(1, static_cast<int>(std::lround(v * scale)));
    };
    return area.width >= area.height ? cv::Size(kThumbnailMax, other(area.height))
                                     : cv::Size(other(area.width), kThumbnailMax);
  }
  if (side < kThumbnailMin) {
    const int k = (kThumbnailMin + side - 1) / side;
    return cv::Size(area.width * k, area.height * k);
  }
  return area;
}

cv::Mat encounter_thumbnail(const cv::Mat& drawn_frame, const encounter& e) {
  return cut_thumbnail(drawn_frame, thumbnail_area(drawn_frame.cols, drawn_frame.rows, e));
}

cv::Mat cut_thumbnail(const cv::Mat& drawn_frame, cv::Rect area) {
  if (drawn_frame.empty()) return cv::Mat();
  const cv::Mat crop = drawn_frame(area);
  const cv::Size size = thumbnail_size(crop.size());
  cv::Mat out;
  if (size.width < crop.cols) {
    cv::resize(crop, out, size, 0, 0, cv::INTER_AREA);
  } else if (size.width > crop.cols) {
    // Nearest neighbour by a whole factor, written out: every pixel becomes a
    // k x k block exactly (a floating-point source index could miss one).
    const int k = size.width / crop.cols;
    out.create(size, crop.type());
    const std::size_t pixel = crop.elemSize();
    for (int y = 0; y < out.rows; ++y) {
      const unsigned char* from = crop.ptr(y / k);
      unsigned char* to = out.ptr(y);
      for (int x = 0; x < out.cols; ++x) std::memcpy(to + x * pixel, from + (x / k) * pixel, pixel);
    }
  } else {
    crop.copyTo(out);
  }
  return out;
}

std::vector<bool> thumbnail_choice(const std::vector<encounter>& encounters, long long cap) {
  std::vector<bool> chosen(encounters.size(), false);
  if (cap <= 0) return chosen;
  if (static_cast<unsigned long long>(cap) >= encounters.size()) {
    chosen.assign(encounters.size(), true);
    return chosen;
  }
  std::vector<std::size_t> order(encounters.size());
  for (std::size_t k = 0; k < order.size(); ++k) order[k] = k;
  const auto riskier = [&encounters](std::size_t a, std::size_t b) {
    const encounter& x = encounters[a];
    const encounter& y = encounters[b];
    if (x.at_risk() != y.at_risk()) return x.at_risk();
    return x.min_l1 != y.min_l1 ? x.min_l1 < y.min_l1 : a < b;
  };
  const auto last = order.begin() + static_cast<std::ptrdiff_t>(cap);
  std::partial_sort(order.begin(), last, order.end(), riskier);
  for (auto it = order.begin(); it != last; ++it) chosen[*it] = true;
  return chosen;
}

void thumbnail_cell(std::string& out, const std::string& name, const std::string& alt,
                    cv::Size size) {
  if (size.width == 0) {
    out += "<td class=\"thumb none\">no picture</td>";
    return;
  }
  out += "<td class=\"thumb\"><img src=\"" + html_escape(name) + "\" loading=\"lazy\" alt=\"" +
         html_escape(alt) + "\"";
  // Its size known before it loads: the rows keep their height.
  if (size.width > 0)
    out += " width=\"" + std::to_string(size.width) + "\" height=\"" + std::to_string(size.height) +
           "\"";
  out += "></td>";
}

std::string html_escape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        if ((u < 0x20 && c != '\t' && c != '\n') || u == 0x7f)
          out += "\xEF\xBF\xBD";  // U+FFFD
        else
          out += c;
    }
  }
  return out;
}

namespace {

// The columns of the encounters table, in its order.
const char* const kColumns[] = {
    "id_a",     "id_b",         "first_frame", "last_frame",  "frames",
    "min_l1",   "min_l1_frame", "max_iou",     "min_hist_l1", "min_hist_hellinger",
    "a_starts", "a_ends",       "b_starts",    "b_ends",      "switches"};

// What a header says when hovered.
const char* const kColumnHints[] = {"the lower track id",
                                    "the higher track id",
                                    "the first frame with a candidate pair",
                                    "the last frame with a candidate pair",
                                    "frames of the run with a candidate pair",
                                    "the smallest box distance (L1, pixels)",
                                    "the first frame reaching min_l1 (the thumbnail's frame)",
                                    "the largest intersection over union",
                                    "the smallest histogram L1 distance",
                                    "the smallest histogram Hellinger distance",
                                    "track id_a starts here",
                                    "track id_a ends here",
                                    "track id_b starts here",
                                    "track id_b ends here",
                                    "identity switches here (with ground truth)"};

static_assert(std::size(kColumns) == std::size(kColumnHints), "a hint per column");

void cell(std::string& out, long long v) {
  out += "<td>";
  out += std::to_string(v);
  out += "</td>";
}

void cell(std::string& out, double v) {
  if (std::isnan(v)) {  // no histograms: an empty cell, as in the table's file
    out += "<td></td>";
    return;
  }
  char text[400];  // "%.6f" of any double fits: at most 309 digits before the point
  std::snprintf(text, sizeof text, "%.6f", v);
  out += "<td>";
  out += text;
  out += "</td>";
}

void flag(std::string& out, bool on) {
  out += on ? "<td class=\"on\">1</td>" : "<td>0</td>";
}

const char kStyle[] = R"(<style>
body { font: 14px/1.4 system-ui, sans-serif; margin: 1.5em; color: #1b1b1b; background: #fff; }
h1 { font-size: 1.4em; overflow-wrap: anywhere; }
.summary { display: flex; flex-wrap: wrap; gap: .4em 1.6em; margin: 0 0 1em; padding: 0; list-style: none; }
.summary b { font-variant-numeric: tabular-nums; }
table { border-collapse: collapse; font-variant-numeric: tabular-nums; }
th, td { border: 1px solid #ccc; padding: .2em .5em; text-align: right; vertical-align: middle; }
th { background: #eee; position: sticky; top: 0; white-space: nowrap; }
th[data-sort] { cursor: pointer; user-select: none; }
th[data-sort]:hover, th[data-sort]:focus { background: #dde; }
th[aria-sort=ascending]::after { content: " \25B2"; }
th[aria-sort=descending]::after { content: " \25BC"; }
td.thumb { padding: 2px; text-align: center; }
td.thumb img { display: block; image-rendering: pixelated; }
td.on { font-weight: bold; color: #a33200; }
tr.risk td { background: #fff0e0; }
tr.risk td:first-child { border-left: 6px solid #e8590c; }
.legend { margin: 0 0 .8em; color: #555; }
.legend .mark { display: inline-block; width: 1.2em; height: .9em; vertical-align: middle;
  background: #fff0e0; border: 1px solid #ccc; border-left: 6px solid #e8590c; }
</style>
)";

// Sorts the rows of a table (the encounters', the switches', the dataset's)
// by a clicked column: numbers ascending, descending on a second click of the
// same column (text in a column whose header says data-sort="text"); empty
// cells (NaN) and other non-numbers last either way; ties keep the order they
// had (the position before the sort breaks them, so the sort is stable
// whatever the engine's). The table's id goes between the two halves.
const char kScriptHead[] = R"(<script>
(function () {
  var table = document.getElementById(')";
const char kScriptBody[] = R"(');
  if (!table) return;
  var body = table.tBodies[0], heads = table.tHead.rows[0].cells;
  var current = -1, ascending = true;
  function key(row, col) {
    var text = row.cells[col].textContent;
    if (heads[col].getAttribute('data-sort') === 'text') return text === '' ? null : text;
    var v = parseFloat(text);
    return isNaN(v) ? null : v;
  }
  function sortBy(col) {
    ascending = col === current ? !ascending : true;
    current = col;
    var rows = Array.prototype.map.call(body.rows, function (row, i) {
      return { row: row, key: key(row, col), i: i };
    });
    rows.sort(function (a, b) {
      if (a.key !== b.key) {
        if (a.key === null) return 1;
        if (b.key === null) return -1;
        return (a.key < b.key) === ascending ? -1 : 1;
      }
      return a.i - b.i;
    });
    var sorted = document.createDocumentFragment();
    rows.forEach(function (r) { sorted.appendChild(r.row); });
    body.appendChild(sorted);
    for (var c = 0; c < heads.length; ++c) heads[c].removeAttribute('aria-sort');
    heads[col].setAttribute('aria-sort', ascending ? 'ascending' : 'descending');
  }
  Array.prototype.forEach.call(heads, function (head, col) {
    if (!head.hasAttribute('data-sort')) return;
    head.addEventListener('click', function () { sortBy(col); });
    head.addEventListener('keydown', function (event) {
      if (event.key === 'Enter' || event.key === ' ') { event.preventDefault(); sortBy(col); }
    });
  });
})();
</script>
)";

// A table of more rows than this is laid out as a grid of fixed columns
// whose rows the browser skips while they are off screen: a table's own
// layout measures every cell, on opening and after every sort (2 to 5
// seconds for 10,000 encounters; a tenth of that so).
constexpr std::size_t kLargeTable = 1000;

// The style of the large encounters table: every row a grid of the same
// columns (the widest thumbnail, then each column wide enough for its header
// and its sort mark, or for "%.6f" numbers), the header row kept on top.
std::string large_table_style(int widest_thumbnail) {
  std::string columns = "max(" + std::to_string(widest_thumbnail + 6) + "px, 7em)";
  for (const char* name : kColumns)
    columns +=
        " calc(" + std::to_string(std::max<std::size_t>(std::strlen(name) + 2, 9)) + "ch + 1.2em)";
  return "<style>\n"
         "#encounters.large, #encounters.large > thead, #encounters.large > tbody "
         "{ display: block; }\n"
         "#encounters.large > thead { position: sticky; top: 0; z-index: 1; }\n"
         "#encounters.large th { position: static; }\n"
         "#encounters.large tr { display: grid; grid-template-columns: " +
         columns +
         "; }\n"
         "#encounters.large > tbody > tr { content-visibility: auto; contain-intrinsic-size: auto "
         "2.2em; }\n"
         "</style>\n";
}

}  // namespace

std::string page_head(const std::string& title, const char* policy) {
  return std::string("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n") +
         "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n" +
         "<meta http-equiv=\"Content-Security-Policy\" content=\"" + policy + "\">\n" + "<title>" +
         title + "</title>\n";
}

const char* page_style() {
  return kStyle;
}

std::string sort_script(const std::string& table_id) {
  return kScriptHead + table_id + kScriptBody;
}

std::string html_page(const page_summary& s, const std::vector<encounter>& encounters) {
  const std::string title = html_escape(s.title);
  const auto at_risk = std::count_if(encounters.begin(), encounters.end(),
                                     [](const encounter& e) { return e.at_risk(); });
  std::string out;
  out.reserve(8192 + encounters.size() * 600);
  // Nothing but the thumbnails and the video beside the page may load, and only inline style
  // and script run. Images from file: too, since not every browser counts a
  // file beside a page opened from disk as 'self'.
  out += page_head(title + " \xE2\x80\x93 encounters",
                   "default-src 'none'; img-src 'self' file:; media-src 'self' file:; style-src "
                   "'unsafe-inline'; script-src 'unsafe-inline'");
  out += kStyle;
  const bool large = encounters.size() > kLargeTable;
  if (large) {
    int widest = 0;
    for (const cv::Size& t : s.thumbnails) widest = std::max(widest, t.width);
    out += large_table_style(s.thumbnails.empty() ? kThumbnailMax : widest);
  }
  if (!s.spans.empty()) out += kViewerStyle;
  if (s.evaluated) out += kSwitchesStyle;
  out += "</head>\n<body>\n<h1>" + title + "</h1>\n<ul class=\"summary\">\n";
  const auto figure = [&out](long long v, const char* what) {
    out += "<li><b>" + std::to_string(v) + "</b> " + what + "</li>\n";
  };
  figure(s.frames, "frames");
  figure(s.tracks, "tracks");
  figure(s.boxes, "boxes");
  figure(s.pairs, "candidate pairs");
  figure(static_cast<long long>(encounters.size()), "encounters");
  figure(at_risk, "where a track starts or ends");
  if (s.evaluated) figure(static_cast<long long>(s.switches.size()), "identity switches");
  out += "</ul>\n";
  if (!s.spans.empty())
    out += viewer_html(s.video, s.fps, s.first, s.first + s.frames - 1, s.spans, encounters,
                       s.switches);
  // After the tables: the sorting, then the viewer's clicks and filters.
  const std::string scripts = (encounters.empty() ? "" : sort_script("encounters")) +
                              (s.switch_table ? sort_script("switches") : "") +
                              std::string(s.spans.empty() ? "" : kViewerScript) +
                              "</body>\n</html>\n";
  const std::string switches =
      s.evaluated ? switches_html(s.switches, s.switch_table, s.switch_pictures, s.thumbnail_cap)
                  : "";
  if (encounters.empty()) {
    out += "<p id=\"none\">There are no encounters: no two tracks have a candidate pair.</p>\n";
    out += switches;
    out += scripts;
    return out;
  }
  out +=
      "<p class=\"legend\">Click a column header to sort by it (again to reverse). "
      "<span class=\"mark\"></span> a track starts or ends at the encounter. "
      "The thumbnail shows the closest pair, in frame min_l1_frame";
  out += s.spans.empty() ? ".</p>\n" : "; click a row to show that frame above.</p>\n";
  const auto left_out = std::count_if(s.thumbnails.begin(), s.thumbnails.end(),
                                      [](const cv::Size& t) { return t.width == 0; });
  if (left_out > 0)
    out += "<p id=\"left-out\">" + std::to_string(left_out) +
           (left_out == 1 ? " encounter has" : " encounters have") +
           " no picture: only the first " + std::to_string(s.thumbnail_cap) +
           " by risk get one (--thumbnails N changes it).</p>\n";
  out += large ? "<table id=\"encounters\" class=\"large\">\n<thead><tr><th>thumbnail</th>"
               : "<table id=\"encounters\">\n<thead><tr><th>thumbnail</th>";
  for (std::size_t c = 0; c < std::size(kColumns); ++c) {
    out += "<th data-sort tabindex=\"0\" title=\"";
    out += kColumnHints[c];
    out += "\">";
    out += kColumns[c];
    out += "</th>";
  }
  out += "</tr></thead>\n<tbody>\n";
  for (std::size_t k = 0; k < encounters.size(); ++k) {
    const encounter& e = encounters[k];
    out += "<tr data-frame=\"" + std::to_string(e.min_l1_frame) + "\" data-ids=\"" +
           std::to_string(e.id_a) + "," + std::to_string(e.id_b) + "\"";
    out += e.at_risk() ? " class=\"risk\" title=\"a track starts or ends here\">" : ">";
    const std::string alt = "tracks " + std::to_string(e.id_a) + " and " + std::to_string(e.id_b) +
                            " in frame " + std::to_string(e.min_l1_frame);
    const cv::Size size = s.thumbnails.empty() ? cv::Size(-1, -1) : s.thumbnails[k];
    thumbnail_cell(out, thumbnail_name(e), alt, size);
    cell(out, static_cast<long long>(e.id_a));
    cell(out, static_cast<long long>(e.id_b));
    cell(out, static_cast<long long>(e.first_frame));
    cell(out, static_cast<long long>(e.last_frame));
    cell(out, static_cast<long long>(e.frames));
    cell(out, e.min_l1);
    cell(out, static_cast<long long>(e.min_l1_frame));
    cell(out, e.max_iou);
    cell(out, e.min_hist_l1);
    cell(out, e.min_hist_hellinger);
    flag(out, e.a_starts);
    flag(out, e.a_ends);
    flag(out, e.b_starts);
    flag(out, e.b_ends);
    cell(out, static_cast<long long>(e.switches));
    out += "</tr>\n";
  }
  out += "</tbody>\n</table>\n";
  out += switches;
  out += scripts;
  return out;
}

}  // namespace trackvideo
