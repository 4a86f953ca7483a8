// histfeat: colour histograms of three boxes of one frame, written as the
// records of a detection file.
//
// One frame: a colour image ("v200.jpg" when the program is given no arguments)
// and three boxes ("pos.txt", twelve integers x1 y1 x2 y2 ...) give the output
// ("objects_info_1.txt"):
//
//   3
//   x1 x2 y1 y2 r0 .. r23 g0 .. g23 b0 .. b15      one record per box, input order
//
// every item followed by one blank, so a record is 68 items and ends with a blank
// before the line feed. Note the corner order: both x values first. The
// histograms are taken over the image's channels 0, 1 and 2 (blue, green and red
// of a JPEG, held in the planes named `red`, `green` and `blue`), with 32, 32 and
// 16 uniform bins over the samples 0..255; each is scaled so that all of its bins
// sum to 0.333, and the first 24 of the 32-bin histograms are written.
//
// Exact values. Sample v falls in bin floor(v * N / 256) of an N-bin histogram
// (255 in the last bin); a bin holds the float nearest to count * (0.333 / total),
// product and quotient in double precision, total being the number of samples
// counted in the box; it is printed with "%f" from that float widened to double.
//
// Boxes. x counts columns, y rows; corners are inclusive. A box partly outside
// the image is clipped to it (the record still carries the box as read); a box
// with x2 < x1 or y2 < y1, or wholly outside the image, fails the run.
//
// Failure. A failed run writes one line "histfeat: <what is wrong>" to the error
// stream, returns 1 and leaves an existing output file as it was: the output is
// written to a temporary file beside it and renamed over it only on success.
//
// Batch. `histfeat --batch LIST` processes many frames in one process; a
// `frame_cache` keeps decoded frames between them, so a frame listed again (the
// same file, also under another name or link) is decoded once while unchanged.
//
// Apart from a `frame_cache`, nothing here keeps state between calls; the planes
// are views the caller owns. OpenCV decodes and splits the images (the
// histograms are counted here) but stays out of this header.

#ifndef HISTFEAT_HISTFEAT_H
#define HISTFEAT_HISTFEAT_H

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace histfeat {

constexpr int kBoxCount = 3;            // boxes read from the box list, records written
constexpr int kColourBins = 32;         // bins of `rhist` and `ghist`
constexpr int kWrittenColourBins = 24;  // of which the first 24 are written
constexpr int kBlueBins = 16;           // bins of `bhist`, all written
constexpr double kHistogramSum = 0.333;

// One box as read: inclusive corners, x the column and y the row.
struct box {
  int x1, y1, x2, y2;
};

// A region of interest: top-left corner and size in pixels, width and height >= 1.
struct region {
  int x, y, width, height;
};

// A read-only view of one plane of 8-bit samples: sample (row, column) is
// data[row * stride + column]. The caller owns the samples.
struct sample_plane {
  const std::uint8_t* data;
  int width, height;
  std::size_t stride;
};

// The planes of one frame, all of the same size. `mask` selects the samples that
// count: 255 everywhere in a run, so every sample of a box counts.
struct frame_planes {
  sample_plane red, green, blue, mask;
};

// The three normalised histograms of one box (all bins, not only the written ones).
struct histograms {
  std::vector<float> rhist, ghist, bhist;
};

// --- Box list -----------------------------------------------------------------

// Parses a whole token as a decimal int (optional sign); false for anything else,
// including values outside the range of int.
bool parse_int(const std::string& token, int& value);

// Reads the next four whitespace-separated tokens of `in` as x1 y1 x2 y2. On
// failure returns the reason ("fewer than twelve integers", "item 7 ('3.5') is
// not an integer", items counted from 1 over the whole list), else "".
// `box_index` (0-based) only numbers the items.
std::string read_box(std::istream& in, int box_index, box& out);

// The box's region clipped to a width x height image, or nothing when the box
// lies wholly outside it. Precondition: x1 <= x2 and y1 <= y2. Works for any int
// corners (no overflow).
std::optional<region> clip_box(const box& b, int width, int height);

// --- Histograms ---------------------------------------------------------------

// Number of samples of `plane` in `selection` that fall in each of `bins` uniform
// bins over 0..255, counting only samples whose `mask` sample is non-zero (nullptr:
// all). Precondition: `selection` lies inside the plane (and the mask, same size);
// bins divides 256. Counted by hand in 64-bit integers, so exact for any box size.
// O(width * height): one increment per sample, after one scan of the mask over
// the selection for a zero (without one, the mask is not read again).
std::vector<double> bin_counts(const sample_plane& plane, const sample_plane* mask,
                               const region& selection, int bins);

// The value of a bin holding `count` of `total` samples: the float nearest to
// count * (kHistogramSum / total), computed in double. total > 0.
float normalised_bin(double count, double total);

// Every bin normalised against the sum of all bins; all zeros when nothing counted.
std::vector<float> normalise(const std::vector<double>& counts);

// `rhist`, `ghist` and `bhist` of one box: channels 0, 1, 2 over the selection,
// 32, 32 and 16 bins, normalised. The second form reuses the vectors of `into`
// (no allocation once they have their sizes). O(area of the selection).
histograms box_histograms(const frame_planes& planes, const region& selection);
void box_histograms(const frame_planes& planes, const region& selection, histograms& into);

// --- Records ------------------------------------------------------------------

// One record, line feed included: "x1 x2 y1 y2 " then 24 + 24 + 16 values "%f ".
// append_record adds it to the end of `text`. Each value prints as "%f" would
// print it (correctly rounded, ties to even), without calling printf for the
// values in [0, 1), which are all that a record normally holds.
std::string format_record(const box& b, const histograms& h);
void append_record(std::string& text, const box& b, const histograms& h);

// Writes `text` to a temporary file in the directory of `path` and renames it to
// `path`. On failure returns the reason and leaves `path` untouched, else "".
// The file gets the permissions a newly created file would (0666 less umask).
// Cost: four system calls (create, write, close, rename) for a short text.
std::string write_file_replacing(const std::string& path, const std::string& text);

// --- Decoded frames -------------------------------------------------------------

// Decoded frames by file, least recently used dropped first. A frame is the
// image's channels 0, 1, 2 as three planes and a mask of 255, all owned by the
// cache. Frames are keyed by the file's identity (device and inode), so links and
// other names of one file share an entry; an entry is used only while the file
// still has the size, modification and change times it had when it was decoded,
// else the file is decoded again. Only regular files are read at all (a device
// or a FIFO might never end, or never start): anything else fails with "cannot
// open PATH: not a regular file" (or "Is a directory"). Files of at most
// kMaxFileBytes are kept; a larger one is decoded by name each time.
//
// Cost: one stat() per load; a miss adds reading the file and decoding it (a
// few ms for a 320 x 240 JPEG). Memory: 4 bytes per pixel and frame; the frames
// kept total at most `byte_limit` bytes, except that the frame just loaded is
// always kept. Not shared between threads.
class frame_cache {
 public:
  static constexpr std::size_t kDefaultByteLimit = std::size_t{64} << 20;
  static constexpr long long kMaxFileBytes = 64LL << 20;  // read whole, decoded in memory

  explicit frame_cache(std::size_t byte_limit = kDefaultByteLimit) : byte_limit_(byte_limit) {}

  // The planes of the image in `path`, or nullptr after setting `why` to "cannot
  // open PATH: <reason>" or "cannot decode PATH as a colour image". The planes
  // stay valid until the next call of load().
  const frame_planes* load(const std::string& path, std::string& why);

  std::size_t decodes() const { return decodes_; }  // frames decoded so far
  std::size_t bytes() const { return bytes_; }      // bytes of the frames kept now
  std::size_t frames() const { return entries_.size(); }

 private:
  struct file_id {
    unsigned long long device, inode;
    bool operator==(const file_id& o) const { return device == o.device && inode == o.inode; }
  };
  struct file_id_hash {
    std::size_t operator()(const file_id& id) const { return id.inode * 31 + id.device; }
  };
  struct entry {
    long long size, mtime_ns, ctime_ns;  // the file's state when decoded
    std::vector<std::uint8_t> samples;   // red, green, blue, mask: one plane after the other
    frame_planes planes;                 // views into `samples`
    unsigned long long last_use;
  };

  void drop_least_recent_beyond_limit(const file_id& keep);

  std::size_t byte_limit_;
  std::size_t bytes_ = 0, decodes_ = 0;
  unsigned long long uses_ = 0;
  std::unordered_map<file_id, entry, file_id_hash> entries_;
  entry unkept_{};                         // the last frame of a file not kept
  std::vector<unsigned char> file_bytes_;  // read buffer, reused
};

// --- The program --------------------------------------------------------------

// Sets the SSE unit to flush denormal results to zero and to read denormal
// inputs as zero, where the processor has SSE; otherwise does nothing.
void enable_flush_to_zero();

// One frame: loads `image_file` through `frames`, reads three boxes from
// `boxes_file` (each echoed to `out` as "x1 y1 x2 y2\n" right after it is read,
// before it is checked, so a failed frame has echoed the boxes read so far),
// writes the records to `output_file`. Returns "" or what is wrong (the text of
// the "histfeat: ..." line). Cost: a load (see frame_cache), O(area) per box.
std::string process_frame(frame_cache& frames, const std::string& image_file,
                          const std::string& boxes_file, const std::string& output_file,
                          std::ostream& out);

// The whole run for one frame: process_frame with a cache of its own. Returns 0,
// or 1 after one line "histfeat: ..." on `err`.
int run(const std::string& image_file, const std::string& boxes_file,
        const std::string& output_file, std::ostream& out, std::ostream& err);

// Batch: every line of `list` (named `list_name` in messages) that is neither
// blank nor a comment (first non-blank character '#') holds three
// whitespace-separated fields IMAGE BOXES OUTPUT and is processed as one frame,
// in order, all through one frame_cache. A failed line (a wrong number of
// fields, or a failed frame) writes one line "histfeat: LIST:N: <what is wrong>"
// (N counts every line from 1) on `err`, and its output file is not written; the
// other lines go on. Returns 0, or 1 when any line failed or `list` could not be
// read to its end.
int run_batch(std::istream& list, const std::string& list_name, std::ostream& out,
              std::ostream& err);

// The usage text that --help prints.
std::string usage();

// The command line: no arguments (the fixed files of the current directory),
// "IMAGE BOXES OUTPUT", "--batch LIST" (LIST "-" reads `in`), "--help" (usage on
// `out`, 0), "--version" ("histfeat <version>" on `out`, 0). Anything else: an
// option other than these (an argument starting with '-', except "-" itself) or
// a wrong number of arguments writes one line "histfeat: ..." and the usage on
// `err` and returns 2. Otherwise returns what run or run_batch returns.
int histfeat_main(int argc, const char* const* argv, std::istream& in, std::ostream& out,
                  std::ostream& err);

}  // namespace histfeat

#endif  // HISTFEAT_HISTFEAT_H
