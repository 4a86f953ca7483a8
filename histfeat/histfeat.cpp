// histfeat: box reading, clipping, histograms, records and the whole run.
// See histfeat.h for the file layouts and the exact values.

#include "histfeat.h"

#include <opencv2/core.hpp>
#include <opencv2/core/utils/logger.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <istream>
#include <limits>
#include <ostream>

#if defined(__x86_64__) || defined(__i386__)
#include <xmmintrin.h>
#define HISTFEAT_X86 1
#else
#define HISTFEAT_X86 0
#endif

namespace histfeat {

namespace {

// OpenCV counts a histogram in float, exact up to 2^24 per bin; tiles of at most
// this many samples keep every count exact.
constexpr long long kMaxTileSamples = 1LL << 24;

std::string errno_text(int e) {
  return std::strerror(e);
}

// A cv::Mat header over the width x height samples of `plane` at (x, y), no copy;
// calcHist only reads through it.
cv::Mat view(const sample_plane& plane, int x, int y, int width, int height) {
  auto* first = const_cast<std::uint8_t*>(plane.data) + static_cast<std::size_t>(y) * plane.stride +
                static_cast<std::size_t>(x);
  return cv::Mat(height, width, CV_8UC1, first, plane.stride);
}

sample_plane plane_of(const cv::Mat& m) {
  assert(m.type() == CV_8UC1 && "planes hold 8-bit samples");
  return sample_plane{m.ptr<std::uint8_t>(0), m.cols, m.rows, m.step[0]};
}

#if HISTFEAT_X86
__attribute__((target("sse"))) void set_mxcsr_bits(unsigned bits) {
  _mm_setcsr(_mm_getcsr() | bits);
}
#endif

}  // namespace

// --- Box list -----------------------------------------------------------------

bool parse_int(const std::string& token, int& value) {
  if (token.empty() || std::isspace(static_cast<unsigned char>(token[0]))) return false;
  errno = 0;
  char* end = nullptr;
  long long v = std::strtoll(token.c_str(), &end, 10);
  if (errno != 0 || end != token.c_str() + token.size()) return false;
  if (v < std::numeric_limits<int>::min() || v > std::numeric_limits<int>::max()) return false;
  value = static_cast<int>(v);
  return true;
}

std::string read_box(std::istream& in, int box_index, box& out) {
  int v[4];
  for (int k = 0; k < 4; ++k) {
    std::string token;
    if (!(in >> token)) return "fewer than twelve integers";
    if (!parse_int(token, v[k]))
      return "item " + std::to_string(box_index * 4 + k + 1) + " ('" + token +
             "') is not an integer";
  }
  out = box{v[0], v[1], v[2], v[3]};
  return "";
}

std::optional<region> clip_box(const box& b, int width, int height) {
  assert(b.x1 <= b.x2 && b.y1 <= b.y2 && "box corners in order");
  long long x1 = std::max<long long>(b.x1, 0), x2 = std::min<long long>(b.x2, width - 1LL);
  long long y1 = std::max<long long>(b.y1, 0), y2 = std::min<long long>(b.y2, height - 1LL);
  if (x1 > x2 || y1 > y2) return std::nullopt;
  return region{static_cast<int>(x1), static_cast<int>(y1), static_cast<int>(x2 - x1 + 1),
                static_cast<int>(y2 - y1 + 1)};
}

// --- Histograms ---------------------------------------------------------------

std::vector<double> bin_counts(const sample_plane& plane, const sample_plane* mask,
                               const region& selection, int bins) {
  assert(bins > 0 && 256 % bins == 0 && "bins divide the 256 sample values");
  assert(selection.x >= 0 && selection.y >= 0 && selection.width >= 1 && selection.height >= 1 &&
         selection.x + selection.width <= plane.width &&
         selection.y + selection.height <= plane.height && "selection inside the plane");
  std::vector<double> counts(static_cast<std::size_t>(bins), 0.0);
  // Range [0, 256): sample v lands in bin floor(v * bins / 256), 255 in the last.
  const float range[] = {0.0f, 256.0f};
  const float* ranges[] = {range};
  const int channels[] = {0};
  const int tile_width = static_cast<int>(std::min<long long>(selection.width, kMaxTileSamples));
  const int tile_height = static_cast<int>(
      std::min<long long>(selection.height, std::max(1LL, kMaxTileSamples / tile_width)));
  cv::Mat hist;
  for (int y = 0; y < selection.height; y += tile_height) {
    for (int x = 0; x < selection.width; x += tile_width) {
      int w = std::min(tile_width, selection.width - x);
      int h = std::min(tile_height, selection.height - y);
      cv::Mat samples = view(plane, selection.x + x, selection.y + y, w, h);
      cv::Mat selected = mask ? view(*mask, selection.x + x, selection.y + y, w, h) : cv::Mat();
      cv::calcHist(&samples, 1, channels, selected, hist, 1, &bins, ranges, true, false);
      for (int i = 0; i < bins; ++i) counts[static_cast<std::size_t>(i)] += hist.at<float>(i);
    }
  }
  return counts;
}

float normalised_bin(double count, double total) {
  return static_cast<float>(count * (kHistogramSum / total));
}

std::vector<float> normalise(const std::vector<double>& counts) {
  double total = 0;
  for (double c : counts) total += c;
  std::vector<float> values(counts.size(), 0.0f);
  if (total > 0)
    for (std::size_t i = 0; i < counts.size(); ++i) values[i] = normalised_bin(counts[i], total);
  return values;
}

histograms box_histograms(const frame_planes& planes, const region& selection) {
  histograms h;
  h.rhist = normalise(bin_counts(planes.red, &planes.mask, selection, kColourBins));
  h.ghist = normalise(bin_counts(planes.green, &planes.mask, selection, kColourBins));
  h.bhist = normalise(bin_counts(planes.blue, &planes.mask, selection, kBlueBins));
  return h;
}

// --- Records ------------------------------------------------------------------

std::string format_record(const box& b, const histograms& h) {
  std::string line = std::to_string(b.x1) + ' ' + std::to_string(b.x2) + ' ' +
                     std::to_string(b.y1) + ' ' + std::to_string(b.y2) + ' ';
  auto put = [&line](const std::vector<float>& hist, int n) {
    assert(static_cast<int>(hist.size()) >= n && "histogram has the written bins");
    char text[64];
    for (int i = 0; i < n; ++i) {
      int len = std::snprintf(text, sizeof text, "%f ", static_cast<double>(hist[i]));
      line.append(text, static_cast<std::size_t>(std::min<int>(len, sizeof text - 1)));
    }
  };
  put(h.rhist, kWrittenColourBins);
  put(h.ghist, kWrittenColourBins);
  put(h.bhist, kBlueBins);
  line += '\n';
  return line;
}

std::string write_file_replacing(const std::string& path, const std::string& text) {
  const std::string failure = "cannot write " + path + ": ";
  std::string temp = path + ".XXXXXX";
  int fd = ::mkstemp(temp.data());
  if (fd < 0) return failure + errno_text(errno);
  mode_t mask = ::umask(0);
  ::umask(mask);
  int error = ::fchmod(fd, 0666 & ~mask) == 0 ? 0 : errno;
  for (std::size_t done = 0; error == 0 && done < text.size();) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno != EINTR) error = errno;
    if (n > 0) done += static_cast<std::size_t>(n);
  }
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && std::rename(temp.c_str(), path.c_str()) != 0) error = errno;
  if (error != 0) {
    ::unlink(temp.c_str());
    return failure + errno_text(error);
  }
  return "";
}

// --- The program --------------------------------------------------------------

void enable_flush_to_zero() {
#if HISTFEAT_X86
  constexpr unsigned kFlushToZero = 1u << 15, kDenormalsAreZero = 1u << 6;
  __builtin_cpu_init();
  if (!__builtin_cpu_supports("sse")) return;
  // Denormals-are-zero came with SSE2; setting it without faults the processor.
  set_mxcsr_bits(__builtin_cpu_supports("sse2") ? kFlushToZero | kDenormalsAreZero : kFlushToZero);
#endif
}

int run(const std::string& image_file, const std::string& boxes_file,
        const std::string& output_file, std::ostream& out, std::ostream& err) {
  auto fail = [&err](const std::string& what) {
    err << "histfeat: " << what << '\n';
    return 1;
  };
  // Every failure is reported here as one line; keep OpenCV's own log quiet.
  cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);

  if (std::FILE* probe = std::fopen(image_file.c_str(), "rb")) {
    std::fclose(probe);
  } else {
    return fail("cannot open " + image_file + ": " + errno_text(errno));
  }
  // The old loader never turned an image by its EXIF orientation; neither do we.
  cv::Mat input_image = cv::imread(image_file, cv::IMREAD_COLOR | cv::IMREAD_IGNORE_ORIENTATION);
  if (input_image.empty() || input_image.type() != CV_8UC3)
    return fail("cannot decode " + image_file + " as a colour image");

  // Channel 0 (blue in a JPEG) goes to `red`, channel 2 to `blue`: the records
  // have always been written in this order.
  cv::Mat channels[3];
  cv::split(input_image, channels);
  cv::Mat mask(input_image.size(), CV_8UC1, cv::Scalar(255));
  const frame_planes planes{plane_of(channels[0]), plane_of(channels[1]), plane_of(channels[2]),
                            plane_of(mask)};

  std::ifstream fp_pos(boxes_file);
  if (!fp_pos) return fail("cannot open " + boxes_file + ": " + errno_text(errno));

  std::string records = std::to_string(kBoxCount) + '\n';
  for (int n = 0; n < kBoxCount; ++n) {
    box b{};
    std::string why = read_box(fp_pos, n, b);
    if (!why.empty()) return fail(boxes_file + ": " + why);
    out << b.x1 << ' ' << b.y1 << ' ' << b.x2 << ' ' << b.y2 << '\n';

    const std::string which = "box " + std::to_string(n + 1) + " in " + boxes_file;
    if (b.x2 < b.x1)
      return fail(which + " has x2 < x1 (" + std::to_string(b.x2) + " < " + std::to_string(b.x1) +
                  ")");
    if (b.y2 < b.y1)
      return fail(which + " has y2 < y1 (" + std::to_string(b.y2) + " < " + std::to_string(b.y1) +
                  ")");
    std::optional<region> selection = clip_box(b, input_image.cols, input_image.rows);
    if (!selection)
      return fail(which + " (" + std::to_string(b.x1) + ' ' + std::to_string(b.y1) + ' ' +
                  std::to_string(b.x2) + ' ' + std::to_string(b.y2) + ") lies outside the " +
                  std::to_string(input_image.cols) + " x " + std::to_string(input_image.rows) +
                  " image " + image_file);
    records += format_record(b, box_histograms(planes, *selection));
  }

  std::string why = write_file_replacing(output_file, records);
  if (!why.empty()) return fail(why);
  return 0;
}

}  // namespace histfeat
