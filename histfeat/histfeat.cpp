// histfeat: box reading, clipping, histograms, records, the frame cache, one
// frame, batches and the command line. See histfeat.h for the file layouts and
// the exact values.

#include "histfeat.h"

#include <opencv2/core.hpp>
#include <opencv2/core/utils/logger.hpp>
#include <opencv2/imgcodecs.hpp>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cassert>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <istream>
#include <limits>
#include <ostream>
#include <sstream>

#if defined(__x86_64__) || defined(__i386__)
#include <xmmintrin.h>
#define HISTFEAT_X86 1
#else
#define HISTFEAT_X86 0
#endif

namespace histfeat {

namespace {

#ifndef HISTFEAT_VERSION
#define HISTFEAT_VERSION "unknown"
#endif

constexpr int kMaxBins = 256;

std::string errno_text(int e) {
  return std::strerror(e);
}

// Inputs are read only from regular files (symbolic links followed): a device
// such as /dev/zero may never end and a FIFO may never start, so no input name
// can make a run endless. "" when `st` is a regular file, else why not.
std::string not_regular(const struct stat& st) {
  if (S_ISREG(st.st_mode)) return "";
  return S_ISDIR(st.st_mode) ? errno_text(EISDIR) : "not a regular file";
}

const std::uint8_t* row_of(const sample_plane& plane, const region& selection, int y) {
  return plane.data + static_cast<std::size_t>(selection.y + y) * plane.stride +
         static_cast<std::size_t>(selection.x);
}

// True when no mask sample of `selection` is zero, so the mask can be left unread.
bool mask_selects_all(const sample_plane& mask, const region& selection) {
  const std::size_t width = static_cast<std::size_t>(selection.width);
  for (int y = 0; y < selection.height; ++y)
    if (std::memchr(row_of(mask, selection, y), 0, width)) return false;
  return true;
}

// counts[0 .. 256 >> shift) = the samples of `selection` (where `mask` is non-zero,
// or all when mask is nullptr) by bin v >> shift. The hot loop of the program:
// one load, shift and increment per sample. Four sub-histograms taken in turn let
// a run of equal samples (common in images) proceed without waiting on the
// previous increment of the same counter.
void count_bins(const sample_plane& plane, const sample_plane* mask, const region& selection,
                int shift, std::uint64_t* counts) {
  const int bins = kMaxBins >> shift;
  std::uint64_t sub[4][kMaxBins];
  for (auto& s : sub) std::fill(s, s + bins, 0);
  const int width = selection.width;
  for (int y = 0; y < selection.height; ++y) {
    const std::uint8_t* p = row_of(plane, selection, y);
    if (mask) {
      const std::uint8_t* m = row_of(*mask, selection, y);
      for (int x = 0; x < width; ++x) sub[x & 3][p[x] >> shift] += m[x] != 0;
      continue;
    }
    int x = 0;
    for (; x + 4 <= width; x += 4) {
      ++sub[0][p[x] >> shift];
      ++sub[1][p[x + 1] >> shift];
      ++sub[2][p[x + 2] >> shift];
      ++sub[3][p[x + 3] >> shift];
    }
    for (; x < width; ++x) ++sub[x & 3][p[x] >> shift];
  }
  for (int i = 0; i < bins; ++i) counts[i] = sub[0][i] + sub[1][i] + sub[2][i] + sub[3][i];
}

// The shift that maps a sample to its bin: bins = 256 >> shift.
int bin_shift(int bins) {
  assert(bins > 0 && kMaxBins % bins == 0 && "bins divide the 256 sample values");
  int shift = 0;
  while ((kMaxBins >> shift) > bins) ++shift;
  return shift;
}

// values[i] = normalised counts[i], as normalise() computes them (the counts are
// exact integers, so their double total is the same).
void normalise_into(const std::uint64_t* counts, int bins, std::vector<float>& values) {
  double total = 0;
  for (int i = 0; i < bins; ++i) total += static_cast<double>(counts[i]);
  values.assign(static_cast<std::size_t>(bins), 0.0f);
  if (total > 0)
    for (int i = 0; i < bins; ++i)
      values[static_cast<std::size_t>(i)] = normalised_bin(static_cast<double>(counts[i]), total);
}

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

void append_int(std::string& text, int value) {
  char buffer[16];
  auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  assert(ec == std::errc() && "an int fits");
  text.append(buffer, end);
}

// A name for temporary files that no other process uses: this process's id and
// a counter. The name is taken with O_EXCL, so a leftover of an earlier process
// with the same id only costs another try.
std::string temporary_name(const std::string& path) {
  static std::atomic<unsigned long> counter{0};
  return path + '.' + std::to_string(::getpid()) + '.' + std::to_string(counter++) + ".tmp";
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
  assert(selection.x >= 0 && selection.y >= 0 && selection.width >= 1 && selection.height >= 1 &&
         selection.x + selection.width <= plane.width &&
         selection.y + selection.height <= plane.height && "selection inside the plane");
  // Sample v lands in bin floor(v * bins / 256) = v >> shift, 255 in the last.
  const int shift = bin_shift(bins);
  if (mask && mask_selects_all(*mask, selection)) mask = nullptr;
  std::uint64_t counts[kMaxBins];
  count_bins(plane, mask, selection, shift, counts);
  return std::vector<double>(counts, counts + bins);
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

void box_histograms(const frame_planes& planes, const region& selection, histograms& into) {
  // The mask is checked once for the box; a run's mask (all 255) is then not read.
  const sample_plane* mask = mask_selects_all(planes.mask, selection) ? nullptr : &planes.mask;
  std::uint64_t counts[kColourBins];
  count_bins(planes.red, mask, selection, bin_shift(kColourBins), counts);
  normalise_into(counts, kColourBins, into.rhist);
  count_bins(planes.green, mask, selection, bin_shift(kColourBins), counts);
  normalise_into(counts, kColourBins, into.ghist);
  count_bins(planes.blue, mask, selection, bin_shift(kBlueBins), counts);
  normalise_into(counts, kBlueBins, into.bhist);
}

histograms box_histograms(const frame_planes& planes, const region& selection) {
  histograms h;
  box_histograms(planes, selection, h);
  return h;
}

// --- Records ------------------------------------------------------------------

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

std::string write_file_replacing(const std::string& path, const std::string& text) {
  const std::string failure = "cannot write " + path + ": ";
  // Created with mode 0666, so the system applies the umask (and any default
  // ACL) as for any new file: no umask() or fchmod() calls.
  std::string temp;
  int fd = -1;
  for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
    temp = temporary_name(path);
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) return failure + errno_text(errno);
  int error = 0;
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

// --- Decoded frames -------------------------------------------------------------

const frame_planes* frame_cache::load(const std::string& path, std::string& why) {
  struct stat now;
  if (::stat(path.c_str(), &now) != 0) {
    why = "cannot open " + path + ": " + errno_text(errno);
    return nullptr;
  }
  auto nanoseconds = [](const timespec& t) { return t.tv_sec * 1000000000LL + t.tv_nsec; };
  const file_id id{static_cast<unsigned long long>(now.st_dev),
                   static_cast<unsigned long long>(now.st_ino)};
  auto found = entries_.find(id);
  if (found != entries_.end() && found->second.size == now.st_size &&
      found->second.mtime_ns == nanoseconds(now.st_mtim) &&
      found->second.ctime_ns == nanoseconds(now.st_ctim)) {
    found->second.last_use = ++uses_;
    return &found->second.planes;
  }
  if (found != entries_.end()) {  // the file changed since it was decoded
    bytes_ -= found->second.samples.size();
    entries_.erase(found);
  }

  // Only a regular file is read (opening does not wait for a FIFO's writer).
  // One of reasonable size is read through one descriptor, its state taken from
  // that descriptor, so the entry describes the very bytes decoded; a huge one
  // is left to OpenCV's reader and not kept.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    why = "cannot open " + path + ": " + errno_text(errno);
    return nullptr;
  }
  struct stat read_state;
  std::string refused = ::fstat(fd, &read_state) == 0 ? not_regular(read_state) : errno_text(errno);
  if (!refused.empty()) {
    ::close(fd);
    why = "cannot open " + path + ": " + refused;
    return nullptr;
  }
  bool keep = read_state.st_size <= kMaxFileBytes;
  bool readable = true;
  std::size_t got = 0;
  file_bytes_.resize(keep ? static_cast<std::size_t>(read_state.st_size) : 0);
  while (keep) {
    if (got == file_bytes_.size()) {  // the file grew since fstat
      if (got >= kMaxFileBytes) {
        keep = false;
        break;
      }
      file_bytes_.resize(std::min<std::size_t>(kMaxFileBytes, 2 * got + 65536));
    }
    ssize_t n = ::read(fd, file_bytes_.data() + got, file_bytes_.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      readable = n == 0;
      break;
    }
    got += static_cast<std::size_t>(n);
  }
  ::close(fd);
  file_bytes_.resize(got);

  // The old loader never turned an image by its EXIF orientation; neither do we.
  const int flags = cv::IMREAD_COLOR | cv::IMREAD_IGNORE_ORIENTATION;
  cv::Mat image;
  try {
    if (!keep)
      image = cv::imread(path, flags);
    else if (readable && !file_bytes_.empty())
      image = cv::imdecode(file_bytes_, flags);
  } catch (const cv::Exception&) {
    image.release();
  }
  if (image.empty() || image.type() != CV_8UC3) {
    why = "cannot decode " + path + " as a colour image";
    return nullptr;
  }
  ++decodes_;

  // Channel 0 (blue in a JPEG) goes to `red`, channel 2 to `blue`: the records
  // have always been written in this order.
  const std::size_t area = static_cast<std::size_t>(image.cols) * image.rows;
  entry e{read_state.st_size,
          nanoseconds(read_state.st_mtim),
          nanoseconds(read_state.st_ctim),
          std::vector<std::uint8_t>(4 * area),
          {},
          ++uses_};
  std::uint8_t* plane[4];
  for (int k = 0; k < 4; ++k) plane[k] = e.samples.data() + k * area;
  cv::Mat channels[3];
  for (int k = 0; k < 3; ++k) channels[k] = cv::Mat(image.rows, image.cols, CV_8UC1, plane[k]);
  cv::split(image, channels);  // into the entry's planes: same size and type, no reallocation
  assert(channels[0].data == plane[0] && "split wrote into the entry");
  std::fill(plane[3], plane[3] + area, std::uint8_t{255});
  auto view = [&image](const std::uint8_t* p) {
    return sample_plane{p, image.cols, image.rows, static_cast<std::size_t>(image.cols)};
  };
  e.planes = frame_planes{view(plane[0]), view(plane[1]), view(plane[2]), view(plane[3])};
  if (!keep) {
    unkept_ = std::move(e);
    return &unkept_.planes;
  }

  // Keyed by the identity of the file that was read (the name may have been
  // pointed elsewhere since the stat above).
  const file_id read_id{static_cast<unsigned long long>(read_state.st_dev),
                        static_cast<unsigned long long>(read_state.st_ino)};
  auto old = entries_.find(read_id);
  if (old != entries_.end()) {
    bytes_ -= old->second.samples.size();
    entries_.erase(old);
  }
  bytes_ += e.samples.size();
  const frame_planes* planes = &entries_.emplace(read_id, std::move(e)).first->second.planes;
  drop_least_recent_beyond_limit(read_id);
  return planes;
}

void frame_cache::drop_least_recent_beyond_limit(const file_id& keep) {
  while (bytes_ > byte_limit_ && entries_.size() > 1) {
    auto oldest = entries_.end();
    for (auto it = entries_.begin(); it != entries_.end(); ++it)
      if (!(it->first == keep) &&
          (oldest == entries_.end() || it->second.last_use < oldest->second.last_use))
        oldest = it;
    bytes_ -= oldest->second.samples.size();
    entries_.erase(oldest);
  }
}

// --- One frame, batches, the command line ------------------------------------------

std::string process_frame(frame_cache& frames, const std::string& image_file,
                          const std::string& boxes_file, const std::string& output_file,
                          std::ostream& out) {
  std::string why;
  const frame_planes* planes = frames.load(image_file, why);
  if (!planes) return why;
  const int width = planes->red.width, height = planes->red.height;

  struct stat box_state;
  if (::stat(boxes_file.c_str(), &box_state) != 0)
    return "cannot open " + boxes_file + ": " + errno_text(errno);
  if (std::string refused = not_regular(box_state); !refused.empty())
    return "cannot open " + boxes_file + ": " + refused;
  std::ifstream fp_pos(boxes_file);
  if (!fp_pos) return "cannot open " + boxes_file + ": " + errno_text(errno);

  // Built in memory, no allocation per box: the histograms and the record text
  // are reused from box to box.
  std::string records, echo;
  records.reserve(2048);
  histograms h;
  append_int(records, kBoxCount);
  records += '\n';
  for (int n = 0; n < kBoxCount; ++n) {
    box b{};
    why = read_box(fp_pos, n, b);
    if (!why.empty()) return boxes_file + ": " + why;
    echo.clear();
    for (int corner : {b.x1, b.y1, b.x2, b.y2}) {
      append_int(echo, corner);
      echo += ' ';
    }
    echo.back() = '\n';
    out.write(echo.data(), static_cast<std::streamsize>(echo.size()));

    auto which = [&] { return "box " + std::to_string(n + 1) + " in " + boxes_file; };
    if (b.x2 < b.x1)
      return which() + " has x2 < x1 (" + std::to_string(b.x2) + " < " + std::to_string(b.x1) + ")";
    if (b.y2 < b.y1)
      return which() + " has y2 < y1 (" + std::to_string(b.y2) + " < " + std::to_string(b.y1) + ")";
    std::optional<region> selection = clip_box(b, width, height);
    if (!selection)
      return which() + " (" + std::to_string(b.x1) + ' ' + std::to_string(b.y1) + ' ' +
             std::to_string(b.x2) + ' ' + std::to_string(b.y2) + ") lies outside the " +
             std::to_string(width) + " x " + std::to_string(height) + " image " + image_file;
    box_histograms(*planes, *selection, h);
    append_record(records, b, h);
  }
  return write_file_replacing(output_file, records);
}

namespace {

void quiet_opencv() {
  // Every failure is reported as one line of ours; keep OpenCV's own log quiet.
  cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
}

}  // namespace

int run(const std::string& image_file, const std::string& boxes_file,
        const std::string& output_file, std::ostream& out, std::ostream& err) {
  quiet_opencv();
  frame_cache frames(0);  // keeps the one frame
  std::string why = process_frame(frames, image_file, boxes_file, output_file, out);
  if (why.empty()) return 0;
  err << "histfeat: " << why << '\n';
  return 1;
}

int run_batch(std::istream& list, const std::string& list_name, std::ostream& out,
              std::ostream& err) {
  quiet_opencv();
  frame_cache frames;
  int status = 0;
  long long number = 0;
  std::string line, field[3];
  while (std::getline(list, line)) {
    ++number;
    std::istringstream fields(line);
    int count = 0;
    for (std::string f; fields >> f; ++count)
      if (count < 3) field[count] = std::move(f);
    if (count == 0 || field[0][0] == '#') continue;  // blank line or comment
    std::string why;
    if (count != 3)
      why = "expected 3 fields (IMAGE BOXES OUTPUT), found " + std::to_string(count);
    else
      why = process_frame(frames, field[0], field[1], field[2], out);
    if (!why.empty()) {
      err << "histfeat: " << list_name << ':' << number << ": " << why << '\n';
      status = 1;
    }
  }
  if (list.bad()) {
    err << "histfeat: cannot read " << list_name << '\n';
    status = 1;
  }
  return status;
}

std::string usage() {
  return "usage: histfeat\n"
         "       histfeat IMAGE BOXES OUTPUT\n"
         "       histfeat --batch LIST\n"
         "       histfeat --help | --version\n"
         "\n"
         "Writes the colour histograms of three boxes of a frame as the records of a\n"
         "detection file: the line 3, then per box \"x1 x2 y1 y2\" and 24 + 24 + 16 bins\n"
         "of the image's channels 0, 1 and 2 inside the box. Each box is echoed on\n"
         "standard output as \"x1 y1 x2 y2\".\n"
         "\n"
         "  (no arguments)      the frame v200.jpg, the boxes pos.txt (twelve integers,\n"
         "                      x1 y1 x2 y2 three times) and the output\n"
         "                      objects_info_1.txt, all in the current directory\n"
         "  IMAGE BOXES OUTPUT  the same for the given files\n"
         "  --batch LIST        every line \"IMAGE BOXES OUTPUT\" of the file LIST (- for\n"
         "                      standard input) in one process, in order; blank lines\n"
         "                      and lines starting with # are skipped; file names\n"
         "                      cannot contain blanks. A failed line is reported with\n"
         "                      its line number and skipped; the others go on.\n"
         "  --help              this text\n"
         "  --version           the version\n"
         "\n"
         "An output file is replaced only when its frame succeeds. Exit status: 0 done,\n"
         "1 the frame or a line of the batch failed, 2 wrong usage.\n";
}

int histfeat_main(int argc, const char* const* argv, std::istream& in, std::ostream& out,
                  std::ostream& err) {
  std::vector<std::string> args(argv + 1, argv + argc);
  auto misuse = [&err](const std::string& what) {
    err << "histfeat: " << what << '\n' << usage();
    return 2;
  };
  for (const std::string& a : args)
    if (a.size() > 1 && a[0] == '-' && a != "--help" && a != "--version" && a != "--batch")
      return misuse("unknown option '" + a + "'");
  if (args.empty()) return run("v200.jpg", "pos.txt", "objects_info_1.txt", out, err);

  const std::string& first = args[0];
  const std::size_t wanted = first == "--batch" ? 2 : first[0] == '-' && first != "-" ? 1 : 3;
  if (args.size() != wanted) return misuse("wrong number of arguments");
  for (std::size_t i = 1; i < args.size(); ++i)
    if (args[i].size() > 1 && args[i][0] == '-')
      return misuse("option " + args[i] + " out of place");
  if (first == "--help") {
    out << usage();
    return 0;
  }
  if (first == "--version") {
    out << "histfeat " HISTFEAT_VERSION "\n";
    return 0;
  }
  if (first == "--batch") {
    const std::string& name = args[1];
    if (name == "-") return run_batch(in, "(standard input)", out, err);
    std::ifstream list(name);
    if (!list) {
      err << "histfeat: cannot open " << name << ": " << errno_text(errno) << '\n';
      return 1;
    }
    return run_batch(list, name, out, err);
  }
  return run(args[0], args[1], args[2], out, err);
}

}  // namespace histfeat
