// cut_footage: one-off tool that turns a stretch of pedestrian video into the
// bundled demo sequence under examples/.
//
//   cut_footage VIDEO OUTDIR [FIRST [COUNT [STEP]]]
//
// Reads COUNT frames (default 30) of VIDEO, starting at frame FIRST (default
// 300, counted from 0) and taking every STEP-th frame (default 1). Each frame is
// scaled to 320 x 240 and written as OUTDIR/frame_NN.jpg (NN from 01). People are
// detected with OpenCV's stock HOG people detector on the frame enlarged to
// twice its size (people of 80 pixels fall short of the detector's 128-pixel
// window),
// detections are linked frame to frame into objects, and OUTDIR/boxes.txt gets,
// for every object present throughout the sequence and every frame, three
// candidate boxes in 320 x 240 coordinates:
//
//   object frame  x1 y1 x2 y2  x1 y1 x2 y2  x1 y1 x2 y2
//
// (inclusive corners, objects and frames counted from 1). The candidates are
// the object's box in that frame, its box of the previous frame (where it would
// be had it stood still) and the box predicted from its last motion.
//
// Costs a few seconds per frame; needs OpenCV's videoio and objdetect modules,
// which is why it builds only with TAVO_BUILD_TOOLS=ON. Failures print one line
// "cut_footage: <what is wrong>" and exit with status 1.

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/objdetect.hpp>
#include <opencv2/videoio.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 240;
constexpr double kMinWeight = 1.0;    // weaker HOG responses are mostly clutter
constexpr double kMinOverlap = 0.3;   // intersection over union linking two frames
constexpr int kMaxGap = 3;            // frames an object may go undetected
constexpr double kDetectScale = 2.0;  // enlargement of the video frame for detection
constexpr double kMinTravel = 3.0;    // pixels; a "person" that never moves is clutter

struct track {
  std::vector<cv::Rect2d> boxes;  // one per frame; empty rectangle where undetected
  int last_seen = -1;
};

double overlap(const cv::Rect2d& a, const cv::Rect2d& b) {
  double inter = (a & b).area();
  double uni = a.area() + b.area() - inter;
  return uni > 0 ? inter / uni : 0;
}

// People in one frame, in 320 x 240 coordinates, strongest first.
std::vector<cv::Rect2d> detect_people(const cv::HOGDescriptor& hog, const cv::Mat& frame) {
  cv::Mat large;
  cv::resize(frame, large, cv::Size(), kDetectScale, kDetectScale, cv::INTER_LINEAR);
  std::vector<cv::Rect> found;
  std::vector<double> weights;
  hog.detectMultiScale(large, found, weights, 0, cv::Size(8, 8), cv::Size(0, 0), 1.05, 2.0);
  std::vector<std::pair<double, cv::Rect2d>> kept;
  double sx = double(kWidth) / large.cols, sy = double(kHeight) / large.rows;
  for (size_t i = 0; i < found.size(); ++i) {
    if (weights[i] < kMinWeight) continue;
    const cv::Rect& r = found[i];
    kept.push_back({weights[i], cv::Rect2d(r.x * sx, r.y * sy, r.width * sx, r.height * sy)});
  }
  std::sort(kept.begin(), kept.end(),
            [](const auto& a, const auto& b) { return a.first > b.first; });
  std::vector<cv::Rect2d> out;
  for (const auto& k : kept) out.push_back(k.second);
  return out;
}

// Greedy linking, strongest detection first: each detection joins the track,
// not yet taken in this frame and seen within kMaxGap frames, whose last box it
// overlaps most (at least kMinOverlap); otherwise it starts a new track.
void link(std::vector<track>& tracks, const std::vector<cv::Rect2d>& found, int frame, int frames) {
  std::vector<bool> taken(tracks.size(), false);
  for (const cv::Rect2d& d : found) {
    int best = -1;
    double best_overlap = kMinOverlap;
    for (size_t t = 0; t < tracks.size(); ++t) {
      if (taken[t] || frame - tracks[t].last_seen > kMaxGap + 1) continue;
      double o = overlap(tracks[t].boxes[tracks[t].last_seen], d);
      if (o > best_overlap) best_overlap = o, best = int(t);
    }
    if (best < 0) {
      tracks.push_back(track{std::vector<cv::Rect2d>(frames), -1});
      taken.push_back(false);
      best = int(tracks.size()) - 1;
    }
    tracks[best].boxes[frame] = d;
    tracks[best].last_seen = frame;
    taken[best] = true;
  }
}

// Fills the gaps of a track by linear interpolation; false if the track misses
// the first or last frame, has a gap longer than kMaxGap or does not move (a
// door or a sign the detector mistakes for a person).
bool complete(track& t) {
  int frames = int(t.boxes.size());
  if (t.boxes.front().empty() || t.boxes.back().empty()) return false;
  int prev = 0;
  for (int f = 1; f < frames; ++f) {
    if (t.boxes[f].empty()) continue;
    if (f - prev - 1 > kMaxGap) return false;
    for (int g = prev + 1; g < f; ++g) {
      double a = double(g - prev) / (f - prev);
      const cv::Rect2d &p = t.boxes[prev], &q = t.boxes[f];
      t.boxes[g] =
          cv::Rect2d(p.x + a * (q.x - p.x), p.y + a * (q.y - p.y),
                     p.width + a * (q.width - p.width), p.height + a * (q.height - p.height));
    }
    prev = f;
  }
  cv::Point2d start = (t.boxes.front().tl() + t.boxes.front().br()) * 0.5;
  cv::Point2d end = (t.boxes.back().tl() + t.boxes.back().br()) * 0.5;
  return cv::norm(end - start) >= kMinTravel;
}

// Inclusive integer corners inside the 320 x 240 frame.
cv::Vec4i corners(const cv::Rect2d& r) {
  auto clampi = [](double v, int hi) { return std::clamp(int(std::lround(v)), 0, hi); };
  int x1 = clampi(r.x, kWidth - 1), y1 = clampi(r.y, kHeight - 1);
  int x2 = clampi(r.x + r.width - 1, kWidth - 1), y2 = clampi(r.y + r.height - 1, kHeight - 1);
  return cv::Vec4i(x1, y1, std::max(x1, x2), std::max(y1, y2));
}

int fail(const std::string& what) {
  std::cerr << "cut_footage: " << what << "\n";
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || argc > 6) return fail("usage: cut_footage VIDEO OUTDIR [FIRST [COUNT [STEP]]]");
  const std::string video = argv[1], outdir = argv[2];
  const int first = argc > 3 ? std::atoi(argv[3]) : 300;
  const int count = argc > 4 ? std::atoi(argv[4]) : 30;
  const int step = argc > 5 ? std::atoi(argv[5]) : 1;
  if (first < 0 || count < 2 || count > 99 || step < 1) return fail("bad FIRST, COUNT or STEP");

  cv::VideoCapture capture(video);
  if (!capture.isOpened()) return fail("cannot open video " + video);
  cv::HOGDescriptor hog;
  hog.setSVMDetector(cv::HOGDescriptor::getDefaultPeopleDetector());

  std::vector<track> tracks;
  cv::Mat frame, small;
  for (int index = 0, taken = 0; taken < count; ++index) {
    if (!capture.read(frame)) return fail("video " + video + " ends before the last frame");
    if (index < first || (index - first) % step != 0) continue;
    cv::resize(frame, small, cv::Size(kWidth, kHeight), 0, 0, cv::INTER_AREA);
    char name[64];
    std::snprintf(name, sizeof name, "/frame_%02d.jpg", taken + 1);
    if (!cv::imwrite(outdir + name, small, {cv::IMWRITE_JPEG_QUALITY, 90}))
      return fail("cannot write " + outdir + name);
    link(tracks, detect_people(hog, frame), taken, count);
    std::cerr << "frame " << taken + 1 << " (video frame " << index << ")\n";
    ++taken;
  }

  std::ofstream boxes(outdir + "/boxes.txt");
  boxes << "# object frame, then three candidate boxes x1 y1 x2 y2 (inclusive, 320 x 240)\n";
  int object = 0;
  for (track& t : tracks) {
    int seen = int(std::count_if(t.boxes.begin(), t.boxes.end(),
                                 [](const cv::Rect2d& r) { return !r.empty(); }));
    if (!complete(t)) {
      if (seen > 1) std::cerr << "dropped a track seen in " << seen << " frames\n";
      continue;
    }
    ++object;
    for (int f = 0; f < count; ++f) {
      const cv::Rect2d& now = t.boxes[f];
      const cv::Rect2d& before = t.boxes[std::max(f - 1, 0)];
      const cv::Rect2d& earlier = t.boxes[std::max(f - 2, 0)];
      cv::Rect2d predicted(2 * before.x - earlier.x, 2 * before.y - earlier.y, before.width,
                           before.height);
      boxes << object << ' ' << f + 1;
      for (const cv::Rect2d& r : {now, before, predicted}) {
        cv::Vec4i c = corners(r);
        boxes << "  " << c[0] << ' ' << c[1] << ' ' << c[2] << ' ' << c[3];
      }
      boxes << '\n';
    }
  }
  if (!boxes.flush()) return fail("cannot write " + outdir + "/boxes.txt");
  std::cerr << object << " objects over " << count << " frames\n";
  return object > 0 ? 0 : fail("no object is present throughout the sequence");
}
