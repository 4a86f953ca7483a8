// The encounters page: its rows and thumbnails read back out of the HTML, the
// title escaped; the thumbnail's area against boxes at the edges of the frame
// and outside it; the thumbnail's pixels against the frame's; the viewer's seek
// time, timeline geometry and contract.

#include "trackvideo/sinks/html_page.h"
#include "trackvideo/sinks/overlay.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <regex>
#include <string>
#include <vector>

using namespace trackvideo;

namespace {

track_box box(int x1, int y1, int x2, int y2) {
  return track_box{1, 0, 0, 1, x1, y1, x2, y2};
}

encounter make(int id_a, int id_b, int first, const track_box& a, const track_box& b) {
  encounter e;
  e.id_a = id_a;
  e.id_b = id_b;
  e.first_frame = e.min_l1_frame = first;
  e.last_frame = first + 4;
  e.frames = 5;
  e.box_a = a;
  e.box_b = b;
  return e;
}

std::size_t count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// The rows of the page's table body, each as its <tr ...> tag and its cells' texts.
struct row {
  std::string tag;
  std::vector<std::string> cells;
};

std::vector<row> body_rows(const std::string& page) {
  const std::size_t from = page.find("<tbody>"), to = page.find("</tbody>");
  if (from == std::string::npos || to == std::string::npos) return {};
  const std::string body = page.substr(from, to - from);
  std::vector<row> rows;
  const std::regex tr("(<tr[^>]*>)(.*?)</tr>"), td("<td[^>]*>(.*?)</td>");
  for (std::sregex_iterator r(body.begin(), body.end(), tr), end; r != end; ++r) {
    rows.push_back({(*r)[1].str(), {}});
    const std::string inner = (*r)[2].str();
    for (std::sregex_iterator c(inner.begin(), inner.end(), td); c != end; ++c)
      rows.back().cells.push_back((*c)[1].str());
  }
  return rows;
}

// A frame whose pixels differ from their neighbours in every plane.
cv::Mat gradient(int width, int height) {
  cv::Mat frame(height, width, CV_8UC3);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      frame.at<cv::Vec3b>(y, x) = cv::Vec3b(x & 255, y & 255, (x * 7 + y * 13) & 255);
  return frame;
}

bool same(const cv::Mat& a, const cv::Mat& b) {
  return a.size() == b.size() && a.type() == b.type() && cv::norm(a, b, cv::NORM_INF) == 0;
}

}  // namespace

// Every encounter is one row, in the order given, with its own thumbnail and
// every column of the table; only at-risk rows are marked; the page loads
// nothing but the thumbnails.
TEST(HtmlPage, OneRowAndOneThumbnailPerEncounterWithEveryColumn) {
  std::vector<encounter> es = {make(-3, 7, 12, box(0, 0, 9, 9), box(5, 5, 20, 20)),
                               make(2, 5, 3, box(0, 0, 9, 9), box(5, 5, 20, 20)),
                               make(2, 5, 40, box(0, 0, 9, 9), box(5, 5, 20, 20))};
  es[0].min_l1 = 17179869180LL;  // beyond 32 bits
  es[0].max_iou = 0.25;
  es[0].min_hist_l1 = 1.0 / 3;
  es[0].min_hist_hellinger = std::nan("");
  es[1].b_ends = true;
  es[2].a_starts = true;
  es[2].switches = 3;
  const page_summary s{"run", 30, 4, 360, 95};
  const std::string page = html_page(s, es);

  const std::vector<row> rows = body_rows(page);
  ASSERT_EQ(rows.size(), es.size());
  EXPECT_EQ(count(page, "src="), es.size());  // no script, style or font fetched
  EXPECT_EQ(count(page, "loading=\"lazy\""), es.size());
  for (std::size_t i = 0; i < es.size(); ++i) {
    ASSERT_EQ(rows[i].cells.size(), 16u) << "row " << i;
    EXPECT_NE(rows[i].cells[0].find("src=\"" + thumbnail_name(es[i]) + "\""), std::string::npos)
        << rows[i].cells[0];
    EXPECT_EQ(rows[i].tag.find("risk") != std::string::npos, es[i].at_risk()) << "row " << i;
  }
  const std::vector<std::string> first = {"-3",          "7",  "12",       "16",       "5",
                                          "17179869180", "12", "0.250000", "0.333333", "",
                                          "0",           "0",  "0",        "0",        "0"};
  EXPECT_EQ(std::vector<std::string>(rows[0].cells.begin() + 1, rows[0].cells.end()), first);
  EXPECT_EQ(rows[1].cells[14], "1");  // b_ends
  EXPECT_EQ(rows[2].cells[11], "1");  // a_starts
  EXPECT_EQ(rows[2].cells[15], "3");  // switches
  for (const char* column : {"id_a", "min_l1_frame", "min_hist_hellinger", "b_ends", "switches"})
    EXPECT_NE(page.find(std::string(">") + column + "</th>"), std::string::npos) << column;
  EXPECT_NE(page.find(">95</b> candidate pairs"), std::string::npos);
  EXPECT_NE(page.find(">3</b> encounters"), std::string::npos);
}

// Each <img> states the size of its own thumbnail (a wrong one would stretch
// it), whatever the size of the frame it was cut from; without sizes, none.
// An encounter left without a thumbnail by the cap has no <img>, and the page
// says how many are left out. A large table's columns are fixed to them.
TEST(HtmlPage, ImageSizesAreThoseOfTheThumbnailsAndLeftOutOnesAreSaid) {
  const cv::Mat big(300, 300, CV_8UC3, cv::Scalar::all(0)), small(17, 33, CV_8UC3);
  const std::vector<encounter> es = {make(1, 2, 1, box(0, 0, 3, 3), box(2, 2, 5, 5)),
                                     make(1, 3, 1, box(10, 10, 290, 200), box(5, 5, 20, 20)),
                                     make(2, 3, 1, box(100, 50, 140, 130), box(120, 60, 167, 147))};
  page_summary s{"run", 1, 3, 3, 3};
  EXPECT_EQ(html_page(s, es).find(" width="), std::string::npos);
  const cv::Mat* frames[] = {&small, &big, &big};
  for (std::size_t i = 0; i < es.size(); ++i)
    s.thumbnails.push_back(encounter_thumbnail(*frames[i], es[i]).size());
  s.thumbnails[2] = cv::Size();  // left out
  s.thumbnail_cap = 2;
  const std::string page = html_page(s, es);
  const std::vector<row> rows = body_rows(page);
  ASSERT_EQ(rows.size(), es.size());
  const std::regex size("width=\"([0-9]+)\" height=\"([0-9]+)\"");
  for (std::size_t i = 0; i < 2; ++i) {
    std::smatch m;
    ASSERT_TRUE(std::regex_search(rows[i].cells[0], m, size)) << rows[i].cells[0];
    EXPECT_EQ(cv::Size(std::stoi(m[1]), std::stoi(m[2])),
              encounter_thumbnail(*frames[i], es[i]).size())
        << "row " << i;
  }
  EXPECT_EQ(rows[2].cells[0].find("<img"), std::string::npos);
  EXPECT_NE(page.find("1 encounter has no picture: only the first 2 by risk"), std::string::npos);
  // Over a thousand rows, a grid of fixed columns, the first as wide as the
  // widest thumbnail (and its padding).
  EXPECT_EQ(page.find("class=\"large\""), std::string::npos);
  std::vector<encounter> many;
  for (int k = 0; k < 1001; ++k)
    many.push_back(make(1, 2 + k, 1, box(0, 0, 3, 3), box(2, 2, 5, 5)));
  page_summary m{"run", 1, 1002, 2002, 1001};
  m.thumbnails.assign(many.size(), cv::Size(50, 60));
  m.thumbnails[7] = cv::Size(131, 90);
  const std::string large = html_page(m, many);
  EXPECT_NE(large.find("<table id=\"encounters\" class=\"large\">"), std::string::npos);
  EXPECT_NE(large.find("grid-template-columns: max(137px, 7em) "), std::string::npos);
}

// The cap keeps the encounters where a track starts or ends first, then the
// closest, ties in the order given; a cap at or above the count keeps all.
TEST(HtmlPage, ThumbnailsGoToTheRiskiestEncountersFirst) {
  std::vector<encounter> es;
  const long long l1[] = {40, 10, 30, 10, 20};
  const bool risky[] = {false, false, true, false, true};
  for (int k = 0; k < 5; ++k) {
    es.push_back(make(k, k + 1, 1, box(0, 0, 3, 3), box(2, 2, 5, 5)));
    es.back().min_l1 = l1[k];
    es.back().b_ends = risky[k];
  }
  EXPECT_EQ(thumbnail_choice(es, 3), (std::vector<bool>{false, true, true, false, true}));
  EXPECT_EQ(thumbnail_choice(es, 4), (std::vector<bool>{false, true, true, true, true}));
  EXPECT_EQ(thumbnail_choice(es, 0), std::vector<bool>(5, false));
  EXPECT_EQ(thumbnail_choice(es, 5), std::vector<bool>(5, true));
}

TEST(HtmlPage, NoEncountersSaysSoWithoutATable) {
  const std::string page = html_page(page_summary{"run", 30, 4, 360, 0}, {});
  EXPECT_NE(page.find("no encounters"), std::string::npos);
  EXPECT_EQ(page.find("<table"), std::string::npos);
  EXPECT_EQ(page.find("<img"), std::string::npos);
}

// A file name can hold markup; it must show as text, in the heading and the
// window title alike.
TEST(HtmlPage, TitleIsEscaped) {
  const std::string title = "a<script>x</script>&\"b'\x01.avi";
  const std::string page = html_page(page_summary{title, 1, 1, 1, 0}, {});
  EXPECT_EQ(page.find("<script>x"), std::string::npos);
  const std::string escaped = "a&lt;script&gt;x&lt;/script&gt;&amp;&quot;b&#39;\xEF\xBF\xBD.avi";
  EXPECT_EQ(html_escape(title), escaped);
  EXPECT_EQ(count(page, escaped), 2u);  // <title> and <h1>
}

// A switch's pictures: before from previous_frame, at from its frame, each
// around the boxes of both tracker ids there, or the one there (a new id not
// there yet before); only the first `cap` switches, by frame; frames of a
// file numbered from 0 found all the same.
TEST(SwitchPictures, TheFrameBeforeAndTheSwitchsFrameAroundTheBoxesThere) {
  tracks t;
  ASSERT_EQ(parse_tracks("1,1,10,10,5,5\n2,1,12,10,5,5\n3,1,14,10,5,5\n3,2,40,30,5,5\n"
                         "4,2,42,30,5,5\n4,1,80,60,5,5\n",
                         "t.txt", t),
            "");
  const std::vector<page_switch> sw = {
      {4, 1, 7, 1, 2, 1, "", ""}, {3, 2, 8, 2, 1, 1, "", ""}, {4, 3, 9, 2, 1, 1, "", ""}};
  const std::vector<switch_picture> p = plan_switch_pictures(t, sw, 2);
  ASSERT_EQ(p.size(), 4u);
  const int frames[] = {1, 2, 3, 4}, index[] = {0, 1, 1, 0};
  for (std::size_t k = 0; k < 4; ++k) {
    EXPECT_EQ(p[k].frame, frames[k]);
    EXPECT_EQ(p[k].index, static_cast<std::size_t>(index[k]));
    EXPECT_EQ(p[k].before, k < 2);
  }
  // Frame 2: the previous tracker id 1 there, the new 2 not yet: around 1's
  // box alone.
  EXPECT_TRUE(p[1].has_a && !p[1].has_b);
  EXPECT_EQ(p[1].a.x1, 12);
  EXPECT_EQ(switch_picture_area(320, 240, p[1]), thumbnail_area(320, 240, &p[1].a, nullptr));
  EXPECT_EQ(p[1].name, "switch_3_8_before.png");
  // Frame 3: both, the same area as an encounter of those boxes.
  ASSERT_TRUE(p[2].has_a && p[2].has_b);
  encounter e = make(1, 2, 3, p[2].a, p[2].b);
  EXPECT_EQ(switch_picture_area(320, 240, p[2]), thumbnail_area(320, 240, e));
  EXPECT_EQ(p[2].b.x1, 40);
  EXPECT_TRUE(plan_switch_pictures(t, sw, 0).empty());
  t.first_frame_number = 0;  // the same switches, numbered from 0
  EXPECT_EQ(plan_switch_pictures(t, {{3, 0, 7, 1, 2, 1, "", ""}}, 1).at(0).frame, 1);
}

TEST(HtmlPage, ThumbnailNameKeepsTheSignOfIds) {
  EXPECT_EQ(thumbnail_name(make(-3, 7, 12, box(0, 0, 1, 1), box(0, 0, 1, 1))), "enc_-3_7_12.png");
  EXPECT_EQ(thumbnail_name(make(-20, -4, 1, box(0, 0, 1, 1), box(0, 0, 1, 1))), "enc_-20_-4_1.png");
}

// The area lies in the frame, holds what is in the frame of both boxes, with
// the margin wherever the frame leaves room for it.
TEST(ThumbnailArea, InsideTheFrameAndHoldingBothBoxes) {
  const int w = 320, h = 240;
  const cv::Rect frame(0, 0, w, h);
  struct test_case {
    const char* what;
    track_box a, b;
  };
  const test_case cases[] = {
      {"overlapping in the middle", box(100, 80, 140, 160), box(120, 90, 170, 150)},
      {"apart", box(10, 100, 30, 140), box(250, 20, 290, 60)},
      {"top-left corner", box(0, 0, 9, 9), box(3, 3, 12, 30)},
      {"bottom-right corner", box(300, 220, 319, 239), box(310, 200, 319, 239)},
      {"across the left edge", box(-30, 50, 5, 90), box(20, 60, 40, 100)},
      {"a one-pixel box on the last column", box(319, 120, 319, 120), box(319, 120, 319, 120)},
      {"one wholly outside", box(400, 10, 450, 60), box(200, 100, 220, 140)},
      {"both wholly outside", box(-50, -50, -1, -1), box(320, 240, 400, 300)},
      {"extreme corners", box(INT_MIN, INT_MIN, INT_MAX, INT_MAX), box(INT_MIN, 5, -1, 6)},
      {"covering the frame", box(-10, -10, 330, 250), box(0, 0, 319, 239)},
  };
  for (const test_case& c : cases) {
    SCOPED_TRACE(c.what);
    const cv::Rect area = thumbnail_area(w, h, make(1, 2, 1, c.a, c.b));
    ASSERT_FALSE(area.empty());
    EXPECT_EQ(area & frame, area);
    bool any = false;
    cv::Rect held;  // what is in the frame of both boxes
    for (const track_box& b : {c.a, c.b}) {
      const long long x1 = std::max(b.x1, 0), y1 = std::max(b.y1, 0);
      const long long x2 = std::min(b.x2, w - 1), y2 = std::min(b.y2, h - 1);
      if (x1 > x2 || y1 > y2) continue;  // nothing of it in the frame
      any = true;
      const cv::Rect inside(x1, y1, x2 - x1 + 1, y2 - y1 + 1);
      EXPECT_EQ(area & inside, inside) << inside << " in " << area;
      held = held.empty() ? inside : (held | inside);
      // The margin, or the frame's edge.
      EXPECT_TRUE(area.x == 0 || area.x <= x1 - kThumbnailMargin) << area;
      EXPECT_TRUE(area.y == 0 || area.y <= y1 - kThumbnailMargin) << area;
      EXPECT_TRUE(area.br().x == w || area.br().x - 1 >= x2 + kThumbnailMargin) << area;
      EXPECT_TRUE(area.br().y == h || area.br().y - 1 >= y2 + kThumbnailMargin) << area;
    }
    if (!any) {
      EXPECT_EQ(area, frame);
    } else {  // and not much more: the margin is at most the larger side
      const int side = std::max({held.width, held.height, kThumbnailMargin});
      const cv::Rect most(held.x - side, held.y - side, held.width + 2 * side,
                          held.height + 2 * side);
      EXPECT_EQ(area & most, area) << area << " around " << held;
    }
  }
  EXPECT_TRUE(thumbnail_area(0, 240, make(1, 2, 1, box(0, 0, 1, 1), box(0, 0, 1, 1))).empty());
}

// The thumbnail is the frame's area: as it is when it fits the table, each
// pixel a whole block when enlarged, shrunk to the largest side allowed.
TEST(Thumbnail, PixelsAreThoseOfTheFrameArea) {
  const cv::Mat frame = gradient(320, 240);
  {  // 100 x 80 with the margins: kept as it is
    const encounter e = make(1, 2, 1, box(100, 100, 140, 130), box(120, 110, 167, 147));
    const cv::Rect area = thumbnail_area(frame.cols, frame.rows, e);
    ASSERT_GE(std::max(area.width, area.height), kThumbnailMin);
    ASSERT_LE(std::max(area.width, area.height), kThumbnailMax);
    EXPECT_TRUE(same(encounter_thumbnail(frame, e), frame(area)));
  }
  {  // a small box in a corner: enlarged by a whole factor
    const encounter e = make(1, 2, 1, box(0, 0, 3, 3), box(2, 2, 5, 5));
    const cv::Mat crop = frame(thumbnail_area(frame.cols, frame.rows, e));
    const cv::Mat thumb = encounter_thumbnail(frame, e);
    ASSERT_FALSE(thumb.empty());
    const int k = thumb.cols / crop.cols;
    EXPECT_GE(k, 2);
    EXPECT_EQ(thumb.size(), cv::Size(crop.cols * k, crop.rows * k));
    EXPECT_GE(std::max(thumb.cols, thumb.rows), kThumbnailMin);
    EXPECT_LE(std::max(thumb.cols, thumb.rows), kThumbnailMax);
    for (int y = 0; y < thumb.rows; ++y)
      for (int x = 0; x < thumb.cols; ++x)
        ASSERT_EQ(thumb.at<cv::Vec3b>(y, x), crop.at<cv::Vec3b>(y / k, x / k)) << x << "," << y;
  }
  {  // a large area of one colour: shrunk, proportions and colour kept
    const cv::Mat solid(800, 1000, CV_8UC3, cv::Scalar(30, 140, 220));
    const encounter e = make(1, 2, 1, box(50, 100, 500, 400), box(400, 300, 900, 600));
    const cv::Rect area = thumbnail_area(solid.cols, solid.rows, e);
    const cv::Mat thumb = encounter_thumbnail(solid, e);
    EXPECT_EQ(thumb.cols, kThumbnailMax);
    EXPECT_NEAR(thumb.rows, static_cast<double>(area.height) * kThumbnailMax / area.width, 1.0);
    EXPECT_EQ(cv::norm(thumb, cv::Mat(thumb.size(), thumb.type(), cv::Scalar(30, 140, 220)),
                       cv::NORM_INF),
              0);
  }
  EXPECT_TRUE(
      encounter_thumbnail(cv::Mat(), make(1, 2, 1, box(0, 0, 1, 1), box(0, 0, 1, 1))).empty());
}

// A seek lands in the middle of its frame's span, so the page's reading back
// (first + floor(t * fps)) gives the frame again whatever the rate.
TEST(HtmlViewer, SeekTimeIsTheMiddleOfItsFrame) {
  EXPECT_DOUBLE_EQ(seek_time(1, 1, 10), 0.05);
  EXPECT_DOUBLE_EQ(seek_time(28, 1, 10), 2.75);
  for (const double fps : {10.0, 25.0, 30000.0 / 1001, 59.94})
    for (int f = 1; f <= 100000; f += 997)
      EXPECT_EQ(1 + static_cast<int>(std::floor(seek_time(f, 1, fps) * fps)), f) << fps;
}

// Rows in the order of the spans; a bar covers [first, last + 1) in frames
// from the timeline's first; a mark its encounter's frames, from the middle
// of one track's bar to the other's, whichever row comes first.
TEST(HtmlViewer, TimelineBarsCoverTheirFramesAndMarksJoinTheirTracks) {
  const std::vector<track_span> spans = {{3, 1, 30}, {7, 5, 10}, {9, 20, 20}};
  encounter e = make(3, 9, 20, box(0, 0, 1, 1), box(0, 0, 1, 1));  // frames 20 .. 24
  const timeline_layout t = lay_out_timeline(spans, {e}, 1, 30);
  EXPECT_EQ(t.width, 30);
  EXPECT_EQ(t.height, 3 * kTimelineRow);
  ASSERT_EQ(t.bars.size(), 3u);
  const int inset = (kTimelineRow - kTimelineBar) / 2;
  for (std::size_t k = 0; k < spans.size(); ++k) {
    EXPECT_EQ(t.bars[k].x, spans[k].first - 1);
    EXPECT_EQ(t.bars[k].width, spans[k].last - spans[k].first + 1);
    EXPECT_EQ(t.bars[k].y, static_cast<int>(k) * kTimelineRow + inset);
    EXPECT_EQ(t.bars[k].height, kTimelineBar);
  }
  std::swap(e.id_a, e.id_b);  // the same rows whichever id is first
  const timeline_rect m = lay_out_timeline(spans, {e}, 1, 30).marks.at(0);
  EXPECT_EQ(m.x, 19);
  EXPECT_EQ(m.width, 5);
  EXPECT_EQ(m.y, t.bars[0].y);
  EXPECT_EQ(m.y + m.height, t.bars[2].y + t.bars[2].height);
  // A switch covers its frame, from one tracker id's bar to the other's; an
  // id without a row (the evaluation may keep rows the tracks leave out)
  // adds none, and with neither it spans every row.
  const std::vector<page_switch> ws = {
      {22, 21, 1, 3, 9, 1, "", ""}, {22, 21, 1, 42, 7, 1, "", ""}, {5, 4, 1, 41, 42, 1, "", ""}};
  const std::vector<timeline_rect> sw = lay_out_timeline(spans, {}, 1, 30, ws).switches;
  ASSERT_EQ(sw.size(), 3u);
  EXPECT_EQ(sw[0].x, 21);
  EXPECT_EQ(sw[0].width, 1);
  EXPECT_EQ(sw[0].y, t.bars[0].y);
  EXPECT_EQ(sw[0].y + sw[0].height, t.bars[2].y + t.bars[2].height);
  EXPECT_EQ(sw[1].y, t.bars[1].y);
  EXPECT_EQ(sw[1].height, kTimelineBar);
  EXPECT_EQ(sw[2].y, t.bars[0].y);
  EXPECT_EQ(sw[2].y + sw[2].height, t.bars[2].y + t.bars[2].height);
  const cv::Scalar c = track_colour(7);
  char hex[8];
  std::snprintf(hex, sizeof hex, "#%02x%02x%02x", int(c[2]), int(c[1]), int(c[0]));
  EXPECT_EQ(css_colour(7), hex);
}

// The page's contract (html_viewer.h) as its scripts read it; no video
// element without a video.
TEST(HtmlViewer, PageCarriesTheViewersContract) {
  page_summary s{"run", 30, 2, 40, 9};
  s.video = kPageVideo;
  s.fps = 10;
  s.spans = {{2, 1, 30}, {5, 3, 28}};
  encounter e = make(2, 5, 4, box(0, 0, 1, 1), box(0, 0, 1, 1));
  e.min_l1_frame = 6;
  const std::string page = html_page(s, {e});
  for (const char* part :
       {"<video id=\"overlay\" src=\"overlay.mp4\"", "id=\"frame\"", "<svg id=\"timeline\"",
        "data-track=\"5\" data-ids=\"5\" data-first=\"3\" data-last=\"28\"",
        "data-encounter=\"2,5,4\"", "<tr data-frame=\"6\" data-ids=\"2,5\"", "input id=\"filter\"",
        "media-src 'self' file:", "data-fps=\"10\" data-first=\"1\" data-last=\"30\""})
    EXPECT_NE(page.find(part), std::string::npos) << part;
  // With an evaluation, each switch a mark; with --events also a row (its
  // pictures, a cause filter), and the second switch left without pictures
  // by the cap is said; without --events a line instead of the table.
  s.evaluated = true;
  s.switches = {{7, 6, 1, 5, 2, 0.75, "meeting", "2_5_4"}, {9, 8, 3, 2, 5, 1, "<b>", ""}};
  s.switch_table = true;
  s.switch_pictures = {{cv::Size(96, 120), cv::Size(100, 120)}, {}};
  s.thumbnail_cap = 1;
  const std::string both = html_page(s, {e});
  for (const char* part :
       {"<g class=\"switches\">\n<rect x=\"6\" y=\"2\" width=\"1\" height=\"16\" "
        "data-switch=\"7,1\" data-ids=\"2,5\" data-cause=\"meeting\"",
        "<tr data-switch-frame=\"7\" data-ids=\"2,5\" data-cause=\"meeting\"><td "
        "class=\"thumb\"><img src=\"switch_7_1_before.png\"",
        "src=\"switch_7_1_at.png\" loading=\"lazy\" alt=\"tracks 2 and 5 in frame 7\" "
        "width=\"100\" height=\"120\"",
        "<td>7</td><td>1</td><td>5</td><td>2</td><td>6</td><td>0.75</td><td "
        "class=\"text\">meeting</td><td class=\"text\">2_5_4</td></tr>",
        "data-cause=\"&lt;b&gt;\"><td class=\"thumb none\">no picture</td>",
        "1 switch has no pictures: only the first 1", "<select id=\"cause\"",
        ">2</b> identity switches"})
    EXPECT_NE(both.find(part), std::string::npos) << part;
  s.switch_table = false;
  const std::string marks = html_page(s, {e});
  EXPECT_NE(marks.find("data-switch=\"9,3\""), std::string::npos);
  EXPECT_EQ(marks.find("<tr data-switch-frame"), std::string::npos);
  EXPECT_NE(marks.find("The timeline marks 2 identity switches; with --events"), std::string::npos);
  s.video.clear();
  EXPECT_EQ(html_page(s, {e}).find("<video"), std::string::npos);
  EXPECT_NE(html_page(s, {e}).find("<svg id=\"timeline\""), std::string::npos);
}
