// bench/trackpair_gen.cpp - writes the trackpair benchmark input.
//
//   trackpair_gen DIR [OBJECTS [FRAMES [DETECTIONS]]]      (default 100 500 3)
//
// Writes into DIR (which must exist) one detection file per object q and frame
// number 2 .. FRAMES, "objects_info_h<q+1>_<frame>.txt", in the layout histfeat
// writes: the count line, then per detection "x1 x2 y1 y2 " and 64 histogram
// values "0.dddddd ", and a newline. Frame number 1 is not written, since
// trackpair never reads it: 100 x 500 x 3 gives 49,900 files, about 90 MB.
//
// Every object follows a smooth track through a 320 x 240 frame: its centre
// moves on a sum of two slow smooth waves per axis, its box has its own size
// (16..72 wide, 32..128 high) that breathes slowly, and each file holds that
// many jittered copies of the box (corners moved by up to 4 pixels), as a
// detector proposing a few candidates would. With 100 objects in the frame,
// a detection typically has a handful of detections of other objects within
// L1 distance 80.
//
// The output depends only on the arguments: the numbers come from a fixed
// 64-bit generator, the waves use nothing but IEEE arithmetic (no libm), and
// everything is printed from integers, so every machine writes the same bytes. Prints the number of
// files and bytes on stdout.
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/generator.h"

namespace {

struct track {
  double cx, cy;        // mean centre
  double ax[2], ay[2];  // amplitudes of the two waves per axis
  double wx[2], wy[2];  // speeds in cycles per frame
  double px[2], py[2];  // phases
  int width, height;    // mean box size
  double size_wave, size_phase;
};

constexpr int frame_width = 320;
constexpr int frame_height = 240;

// A smooth periodic wave of period 1 with values in [-1, 1]: a triangle wave
// rounded by a cubic, so that it has no corners.
double wave(double u) {
  const double f = u - std::floor(u);
  const double tri = f < 0.5 ? 4 * f - 1 : 3 - 4 * f;
  return tri * (1.5 - 0.5 * tri * tri);
}

int clamp(int v, int lo, int hi) {
  return v < lo ? lo : (v > hi ? hi : v);
}

track make_track(generator& g) {
  track t;
  t.width = g.uniform(16, 72);
  t.height = g.uniform(32, 128);
  t.cx = g.uniform(t.width / 2, frame_width - t.width / 2);
  t.cy = g.uniform(t.height / 2, frame_height - t.height / 2);
  for (int k = 0; k < 2; ++k) {
    t.ax[k] = 10 + 40 * g.real();
    t.ay[k] = 5 + 30 * g.real();
    t.wx[k] = 0.001 + 0.005 * g.real();
    t.wy[k] = 0.001 + 0.005 * g.real();
    t.px[k] = g.real();
    t.py[k] = g.real();
  }
  t.size_wave = 0.0005 + 0.002 * g.real();
  t.size_phase = g.real();
  return t;
}

// Appends v in decimal (v may be negative).
void put_int(std::string& out, int v) {
  char text[16];
  const int n = std::snprintf(text, sizeof text, "%d ", v);
  out.append(text, static_cast<std::size_t>(n));
}

// Appends 64 values that look like histfeat's bins: three histograms (24, 24
// and 16 bins) each summing to about 1/3, printed as "0.dddddd ".
void put_histograms(std::string& out, generator& g) {
  static const int bins[3] = {24, 24, 16};
  for (int h = 0; h < 3; ++h) {
    std::uint32_t weight[24];
    std::uint64_t total = 0;
    for (int i = 0; i < bins[h]; ++i) {
      // Mostly small values, a few large ones, as colour histograms are.
      std::uint64_t r = g.next();
      weight[i] = static_cast<std::uint32_t>((r & 0xff) * ((r >> 8) & 3 ? 1 : 16));
      total += weight[i];
    }
    if (total == 0) total = 1;
    for (int i = 0; i < bins[h]; ++i) {
      // 333333 millionths shared out, printed as %f would print it.
      const std::uint64_t micro = weight[i] * 333333ULL / total;
      char text[16];
      const int n = std::snprintf(text, sizeof text, "0.%06u ", static_cast<unsigned>(micro));
      out.append(text, static_cast<std::size_t>(n));
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s DIR [OBJECTS [FRAMES [DETECTIONS]]]\n", argv[0]);
    return 2;
  }
  const std::string dir = argv[1];
  const int objects = argc > 2 ? std::atoi(argv[2]) : 100;
  const int frames = argc > 3 ? std::atoi(argv[3]) : 500;
  const int detections = argc > 4 ? std::atoi(argv[4]) : 3;
  if (objects < 1 || frames < 2 || detections < 0) {
    std::fprintf(stderr, "trackpair_gen: need OBJECTS >= 1, FRAMES >= 2, DETECTIONS >= 0\n");
    return 2;
  }

  generator g(20240611);
  std::vector<track> tracks;
  for (int q = 0; q < objects; ++q) tracks.push_back(make_track(g));

  std::string text;
  long long files = 0, bytes = 0;
  for (int q = 0; q < objects; ++q) {
    const track& t = tracks[q];
    generator jitter(1000003ULL * static_cast<std::uint64_t>(q + 1));
    for (int frame = 2; frame <= frames; ++frame) {
      const double f = frame;
      double x = t.cx, y = t.cy;
      for (int k = 0; k < 2; ++k) {
        x += t.ax[k] * wave(t.wx[k] * f + t.px[k]);
        y += t.ay[k] * wave(t.wy[k] * f + t.py[k]);
      }
      const double scale = 1 + 0.15 * wave(t.size_wave * f + t.size_phase);
      const int w = static_cast<int>(t.width * scale), h = static_cast<int>(t.height * scale);
      const int x1 = static_cast<int>(std::floor(x + 0.5)) - w / 2;
      const int y1 = static_cast<int>(std::floor(y + 0.5)) - h / 2;

      text.clear();
      text += std::to_string(detections) + "\n";
      for (int s = 0; s < detections; ++s) {
        const int bx1 = clamp(x1 + jitter.uniform(-4, 4), 0, frame_width - 1);
        const int bx2 = clamp(x1 + w + jitter.uniform(-4, 4), 0, frame_width - 1);
        const int by1 = clamp(y1 + jitter.uniform(-4, 4), 0, frame_height - 1);
        const int by2 = clamp(y1 + h + jitter.uniform(-4, 4), 0, frame_height - 1);
        put_int(text, bx1);
        put_int(text, bx2);
        put_int(text, by1);
        put_int(text, by2);
        put_histograms(text, jitter);
        text += '\n';
      }

      const std::string name =
          dir + "/objects_info_h" + std::to_string(q + 1) + "_" + std::to_string(frame) + ".txt";
      std::FILE* out = std::fopen(name.c_str(), "wb");
      if (out == nullptr || std::fwrite(text.data(), 1, text.size(), out) != text.size() ||
          std::fclose(out) != 0) {
        std::fprintf(stderr, "trackpair_gen: cannot write %s: %s\n", name.c_str(),
                     std::strerror(errno));
        return 1;
      }
      ++files;
      bytes += static_cast<long long>(text.size());
    }
  }
  std::printf("%lld files, %lld bytes\n", files, bytes);
  return 0;
}
