// The record of a box: clipping, splitting a frame into planes, and the text of
// a record (see record.h for the exact values).

#include "histfeat/internal.h"
#include "histfeat/record.h"

#include <algorithm>
#include <cassert>
#include <charconv>
#include <cstdio>
#include <cstring>

namespace histfeat {

namespace {

// Appends `value` as "%f " prints it. A value in [0, 1) is m / 2^k exactly (m the
// significand, k >= 24), so value * 10^6 = m * 10^6 / 2^k with m * 10^6 < 2^44:
// its quotient and remainder are exact integers and give the six decimals
// rounded to nearest, ties to even, as printf rounds. Anything else (negative
// values and zero, 1 and more, NaN) goes to snprintf.
void append_value(std::string& text, float value) {
  std::uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  if (bits >= 0x3f800000u) {  // sign set, or >= 1.0f, or not finite
    char buffer[64];
    int len = std::snprintf(buffer, sizeof buffer, "%f ", static_cast<double>(value));
    text.append(buffer, static_cast<std::size_t>(std::min<int>(len, sizeof buffer - 1)));
    return;
  }
  const std::uint32_t exponent = bits >> 23, fraction = bits & 0x7fffffu;
  const std::uint64_t significand = exponent ? fraction | 0x800000u : fraction;
  const int k = exponent ? 150 - static_cast<int>(exponent) : 149;
  std::uint64_t millionths = 0;
  if (k < 64) {  // else value * 10^6 < 2^44 / 2^64: rounds to 0
    const std::uint64_t scaled = significand * 1000000u;
    const std::uint64_t rest = scaled & ((std::uint64_t{1} << k) - 1),
                        half = std::uint64_t{1} << (k - 1);
    millionths = scaled >> k;
    if (rest > half || (rest == half && (millionths & 1))) ++millionths;
  }
  char digits[] = "0.000000 ";
  if (millionths == 1000000) {
    digits[0] = '1';
  } else {
    for (int i = 7; i >= 2; --i, millionths /= 10)
      digits[i] = static_cast<char>('0' + millionths % 10);
  }
  text.append(digits, sizeof digits - 1);
}

}  // namespace

void append_int(std::string& text, int value) {
  char buffer[16];
  auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  assert(ec == std::errc() && "an int fits");
  text.append(buffer, end);
}

std::optional<region> clip_box(const box& b, int width, int height) {
  assert(b.x1 <= b.x2 && b.y1 <= b.y2 && "box corners in order");
  long long x1 = std::max<long long>(b.x1, 0), x2 = std::min<long long>(b.x2, width - 1LL);
  long long y1 = std::max<long long>(b.y1, 0), y2 = std::min<long long>(b.y2, height - 1LL);
  if (x1 > x2 || y1 > y2) return std::nullopt;
  return region{static_cast<int>(x1), static_cast<int>(y1), static_cast<int>(x2 - x1 + 1),
                static_cast<int>(y2 - y1 + 1)};
}

frame_planes split_frame(const std::uint8_t* pixels, int width, int height, std::size_t row_bytes,
                         std::vector<std::uint8_t>& storage) {
  assert(width >= 1 && height >= 1 && row_bytes >= 3 * static_cast<std::size_t>(width) &&
         "a whole image");
  const std::size_t w = static_cast<std::size_t>(width),
                    area = w * static_cast<std::size_t>(height);
  storage.resize(3 * area);
  std::uint8_t* plane[3];
  for (std::size_t k = 0; k < 3; ++k) plane[k] = storage.data() + k * area;
  for (std::size_t y = 0; y < static_cast<std::size_t>(height); ++y) {
    const std::uint8_t* p = pixels + y * row_bytes;
    std::uint8_t *c0 = plane[0] + y * w, *c1 = plane[1] + y * w, *c2 = plane[2] + y * w;
    for (std::size_t x = 0; x < w; ++x, p += 3) {
      c0[x] = p[0];
      c1[x] = p[1];
      c2[x] = p[2];
    }
  }
  auto view = [&](const std::uint8_t* p) { return sample_plane{p, width, height, w}; };
  return frame_planes{view(plane[0]), view(plane[1]), view(plane[2])};
}

void append_record(std::string& text, const box& b, const histograms& h) {
  for (int corner : {b.x1, b.x2, b.y1, b.y2}) {
    append_int(text, corner);
    text += ' ';
  }
  auto put = [&text](const std::vector<float>& hist, int n) {
    assert(static_cast<int>(hist.size()) >= n && "histogram has the written bins");
    for (int i = 0; i < n; ++i) append_value(text, hist[static_cast<std::size_t>(i)]);
  };
  put(h.rhist, kWrittenColourBins);
  put(h.ghist, kWrittenColourBins);
  put(h.bhist, kBlueBins);
  text += '\n';
}

std::string format_record(const box& b, const histograms& h) {
  std::string line;
  append_record(line, b, h);
  return line;
}

std::string box_record_histograms(const frame_planes& planes, const box& b, histograms& h) {
  auto pair = [](int low, int high) {
    return " (" + std::to_string(high) + " < " + std::to_string(low) + ")";
  };
  if (b.x2 < b.x1) return "has x2 < x1" + pair(b.x1, b.x2);
  if (b.y2 < b.y1) return "has y2 < y1" + pair(b.y1, b.y2);
  const int width = planes.red.width, height = planes.red.height;
  std::optional<region> selection = clip_box(b, width, height);
  if (!selection)
    return "(" + std::to_string(b.x1) + ' ' + std::to_string(b.y1) + ' ' + std::to_string(b.x2) +
           ' ' + std::to_string(b.y2) + ") lies outside the " + std::to_string(width) + " x " +
           std::to_string(height) + " image";
  box_histograms(planes, *selection, h);
  return "";
}

std::string append_box_record(std::string& text, const frame_planes& planes, const box& b,
                              histograms& h) {
  std::string why = box_record_histograms(planes, b, h);
  if (why.empty()) append_record(text, b, h);
  return why;
}

}  // namespace histfeat
