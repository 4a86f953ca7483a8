// html_sample FRAMES_DIR TRACKS OUT_DIR: an encounters page (OUT_DIR/index.html)
// and its thumbnails, made from a folder of frames and a tracks file without a
// trackvideo run, for looking at the page in a browser (scripts/html-check.sh
// uses it on a trackvideo that does not write pages). Not a test.
//
// The encounters are found the plain way: runs of consecutive frames in which
// the first boxes of two tracks lie within 80 pixels (L1 over the corners);
// no histograms (those columns are NaN). A run is cut after kMaxRun frames,
// so that a short footage with few tracks still gives a table of some length
// (the page is what is looked at, not the encounters). The frames are the folder's .jpg and
// .png files in name order. Beside the page, encounters.csv holds the same
// table as a run's --encounters would. OUT_DIR is created; its files are
// replaced.
#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "trackvideo/html_page.h"
#include "trackvideo/overlay.h"
#include "trackvideo/tracks.h"

namespace fs = std::filesystem;
using namespace trackvideo;

namespace {

constexpr int kMaxRun = 6;

long long l1(const track_box& a, const track_box& b) {
  return std::llabs(static_cast<long long>(a.x1) - b.x1) +
         std::llabs(static_cast<long long>(a.y1) - b.y1) +
         std::llabs(static_cast<long long>(a.x2) - b.x2) +
         std::llabs(static_cast<long long>(a.y2) - b.y2);
}

double iou(const track_box& a, const track_box& b) {
  const double w = std::min(a.x2, b.x2) - std::max(a.x1, b.x1) + 1.0;
  const double h = std::min(a.y2, b.y2) - std::max(a.y1, b.y1) + 1.0;
  if (w <= 0 || h <= 0) return 0;
  const auto area = [](const track_box& s) { return (s.x2 - s.x1 + 1.0) * (s.y2 - s.y1 + 1.0); };
  return w * h / (area(a) + area(b) - w * h);
}

int fail(const std::string& what) {
  std::fprintf(stderr, "html_sample: %s\n", what.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: html_sample FRAMES_DIR TRACKS OUT_DIR\n");
    return 2;
  }
  std::vector<std::string> frames;
  for (const auto& entry : fs::directory_iterator(argv[1])) {
    const std::string ext = entry.path().extension().string();
    if (ext == ".jpg" || ext == ".png") frames.push_back(entry.path().string());
  }
  std::sort(frames.begin(), frames.end());
  tracks t;
  if (const std::string why = read_tracks(argv[2], t); !why.empty()) return fail(why);

  // Per object its first box of each frame, and its first and last frames.
  std::map<std::pair<int, int>, track_box> first_box;  // by (frame, object)
  std::vector<int> first(t.ids.size(), 0), last(t.ids.size(), 0);
  for (const track_box& b : t.boxes) {
    if (b.det != 0 || b.frame > static_cast<int>(frames.size())) continue;
    first_box[{b.frame, b.object}] = b;
    if (first[b.object] == 0) first[b.object] = b.frame;
    last[b.object] = b.frame;
  }

  std::map<std::pair<int, int>, encounter> open;  // by the two objects
  std::vector<encounter> found;
  long long pairs = 0;
  for (int f = 1; f <= static_cast<int>(frames.size()); ++f) {
    for (int q = 0; q < t.objects(); ++q)
      for (int r = q + 1; r < t.objects(); ++r) {
        const auto a = first_box.find({f, q}), b = first_box.find({f, r});
        if (a == first_box.end() || b == first_box.end() || l1(a->second, b->second) >= 80)
          continue;
        ++pairs;
        const long long d = l1(a->second, b->second);
        auto it = open.find({q, r});
        if (it != open.end() &&
            (it->second.last_frame != f - 1 || f - it->second.first_frame >= kMaxRun)) {
          found.push_back(it->second);
          open.erase(it);
          it = open.end();
        }
        if (it == open.end()) {
          encounter e;
          e.id_a = t.ids[q];
          e.id_b = t.ids[r];
          e.object_a = q;
          e.object_b = r;
          e.first_frame = f;
          e.min_l1 = d + 1;
          e.min_hist_l1 = e.min_hist_hellinger = std::nan("");
          it = open.emplace(std::make_pair(q, r), e).first;
        }
        encounter& e = it->second;
        e.last_frame = f;
        ++e.frames;
        e.max_iou = std::max(e.max_iou, iou(a->second, b->second));
        if (d < e.min_l1) {
          e.min_l1 = d;
          e.min_l1_frame = f;
          e.box_a = a->second;
          e.box_b = b->second;
        }
      }
  }
  for (const auto& [objects, e] : open) found.push_back(e);
  for (encounter& e : found) {
    const auto in = [&e](int frame) { return frame >= e.first_frame && frame <= e.last_frame; };
    e.a_starts = in(first[e.object_a]);
    e.a_ends = in(last[e.object_a]);
    e.b_starts = in(first[e.object_b]);
    e.b_ends = in(last[e.object_b]);
  }
  std::sort(found.begin(), found.end(), [](const encounter& a, const encounter& b) {
    return std::tie(a.first_frame, a.id_a, a.id_b) < std::tie(b.first_frame, b.id_a, b.id_b);
  });

  const fs::path out = argv[3];
  fs::create_directories(out);
  for (const encounter& e : found) {
    cv::Mat frame = cv::imread(frames[e.min_l1_frame - 1], cv::IMREAD_COLOR);
    if (frame.empty()) return fail("cannot read " + frames[e.min_l1_frame - 1]);
    std::vector<drawn_box> drawn;
    for (const track_box& b : t.boxes)
      if (b.frame == e.min_l1_frame) drawn.push_back({t.ids[b.object], {b.x1, b.y1, b.x2, b.y2}});
    draw_overlay(frame, drawn, {});
    if (!cv::imwrite((out / thumbnail_name(e)).string(), encounter_thumbnail(frame, e)))
      return fail("cannot write " + (out / thumbnail_name(e)).string());
  }
  // A title with the characters a file name may hold that markup does not allow.
  page_summary s{std::string("sample of ") + argv[2] + " <&'\">", static_cast<int>(frames.size()),
                 t.objects(), static_cast<long long>(t.boxes.size()), pairs};
  if (!frames.empty()) {
    const cv::Mat one = cv::imread(frames[0], cv::IMREAD_COLOR);
    s.frame_width = one.cols;
    s.frame_height = one.rows;
  }
  // The encounters table beside it, as a run writes it with --encounters.
  std::string csv =
      "id_a,id_b,first_frame,last_frame,frames,min_l1,min_l1_frame,max_iou,min_hist_l1,"
      "min_hist_hellinger,a_starts,a_ends,b_starts,b_ends\n";
  for (const encounter& e : found) {
    const auto real = [](double v) {
      char text[64];
      std::snprintf(text, sizeof text, "%.6f", v);
      return std::isnan(v) ? std::string() : std::string(text);
    };
    csv += std::to_string(e.id_a) + "," + std::to_string(e.id_b) + "," +
           std::to_string(e.first_frame) + "," + std::to_string(e.last_frame) + "," +
           std::to_string(e.frames) + "," + std::to_string(e.min_l1) + "," +
           std::to_string(e.min_l1_frame) + "," + real(e.max_iou) + "," + real(e.min_hist_l1) +
           "," + real(e.min_hist_hellinger) + "," + (e.a_starts ? "1," : "0,") +
           (e.a_ends ? "1," : "0,") + (e.b_starts ? "1," : "0,") + (e.b_ends ? "1\n" : "0\n");
  }
  std::ofstream table(out / "encounters.csv", std::ios::binary);
  table << csv;
  table.close();
  if (!table) return fail("cannot write " + (out / "encounters.csv").string());
  std::ofstream page(out / "index.html", std::ios::binary);
  page << html_page(s, found);
  page.close();
  if (!page) return fail("cannot write " + (out / "index.html").string());
  std::printf("html_sample: %zu encounters, %lld pairs in %zu frames\n", found.size(), pairs,
              frames.size());
  return 0;
}
