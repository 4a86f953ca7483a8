// trackvideo's pictures: tracked boxes and candidate pairs drawn over a frame,
// and the drawn frames written out as PNG files or as one video: a Motion-JPEG
// AVI, or H.264 in an MP4 (see video_encoder.h).
//
// Drawing. Each box is a one-pixel outline exactly on its inclusive corners, in
// its track's colour (`track_colour`), so a reader can check a box pixel by pixel
// against the tracks file (a thicker or antialiased outline would hide where the
// box ends). Its id sits in a small tag of the same colour just
// above its top-left corner (inside the box when there is no room above). Tags
// are drawn before any outline, so no tag hides an edge pixel of any box; the
// pair lines come last, over everything, in `pair_colour()` (white: no track has
// it).
//
// Ownership. Nothing here keeps a frame: draw_overlay changes the caller's frame
// in place; encode_png appends to the caller's buffer; overlay_video owns its
// open writer and, when opened by path, its file.
//
// Errors. Drawing never fails (what cannot be drawn is skipped, nothing throws);
// encoding and writing return "" or one line saying what is wrong, in the form
// the program prints after "trackvideo: ".

#ifndef TRACKVIDEO_SINKS_OVERLAY_H
#define TRACKVIDEO_SINKS_OVERLAY_H

#include <opencv2/core.hpp>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "common/atomic_file.h"

#include "trackvideo/input/tracks.h"
#include "trackvideo/video/video_support.h"

namespace trackvideo {

// The boxes drawn on a frame: a run of the tracks' boxes, by their inclusive
// corners (x column, y row; any int values, x2 < x1 or y2 < y1 draws
// nothing), each in its track's colour with its id, ids[box.object]. A view:
// the boxes and ids are the caller's.
struct frame_boxes {
  const track_box* first = nullptr;
  const track_box* last = nullptr;
  const std::vector<int>* ids = nullptr;

  std::size_t size() const { return static_cast<std::size_t>(last - first); }
  const track_box& operator[](std::size_t k) const { return first[k]; }
  int id(std::size_t k) const { return (*ids)[static_cast<std::size_t>(first[k].object)]; }
};

// The colour (B, G, R) of track `id`, for any int: a function of the id alone
// (stable across runs and machines). Hues step by the golden angle, so ids next
// to each other differ by at least 137 degrees of hue and 100 consecutive ids
// never collide; saturation and brightness stay high, so no colour is near black
// or white. Constant time.
cv::Scalar track_colour(int id);

// The colour of the lines between candidate pairs.
cv::Scalar pair_colour();

// Draws onto `frame` (CV_8UC3, BGR; anything else is left as it is): the tags,
// then the outlines, each clipped to the frame and skipped when wholly outside;
// then, for each pair (i, j) of indices into `boxes`, a one-pixel line between
// the centres ((x1 + x2) / 2, (y1 + y2) / 2) of boxes[i] and boxes[j], clipped
// (pairs with an index out of range are skipped). Cost: O(perimeter) per box,
// plus its tag (a few hundred pixels) and O(length) per line.
void draw_overlay(cv::Mat& frame, const frame_boxes& boxes,
                  const std::vector<std::pair<int, int>>& pairs);

// What an overlay draws besides boxes and pairs.
struct overlay_extras {
  int frame = -1;  // >= 0: "frame N" in white on black at the top left
  // Per track: its id and the centres of its last frames, oldest first, joined
  // by one-pixel lines in the track's colour.
  std::vector<std::pair<int, std::vector<cv::Point>>> trails;
  // Per pair (as `pairs`): drawn three pixels wide (a track starts or ends at
  // its encounter); missing entries are thin.
  std::vector<bool> thick;
};

// draw_overlay with the extras: the frame number first, then the trails, then
// as above (so neither hides an edge pixel of a box). Cost: the above plus
// O(points) per trail and a few hundred pixels for the number.
void draw_overlay(cv::Mat& frame, const frame_boxes& boxes,
                  const std::vector<std::pair<int, int>>& pairs, const overlay_extras& extras);

// The frame (1, 3 or 4 channels, blue green red [alpha] or grey; 16-bit kept,
// other depths converted to 8 bits) as PNG file bytes, written with libpng
// into `out` after clearing it: the bytes OpenCV's PNG writer gives at the
// same level. "" or what is wrong (an empty frame, another channel count, a
// frame libpng refuses, such as one over a million pixels wide), `out` then
// empty; throws std::bad_alloc when memory runs out, as the rest of the run
// does. Prints nothing and shares no state (threads may encode at once).
// O(pixels): deflate at its fastest level, since overlays are written for
// every frame of a run.
std::string encode_png(const cv::Mat& frame, std::vector<unsigned char>& out);

// The video format a name asks for: ".avi" or ".mp4" when the last component
// of `path` is NAME.avi or NAME.mp4 (in any case, NAME not empty), else "".
std::string video_extension(const std::string& path);

// A video of the drawn frames, its format chosen by the name of the file (the
// user's, file.path()): NAME.mp4 is H.264, anything else an AVI of Motion-JPEG
// frames, both written by FFmpeg's libraries (video_encoder.h) in the video
// module (video_support.h), loaded by the first open(). The writer opens its
// file by name; so the file is a common::atomic_file opened with a private
// name ("overlay.avi" or "overlay.mp4" in a private folder nobody else can
// write in). An AVI is also read back by close(): its size must be the one its
// RIFF headers give and its index must hold one entry per frame written. The
// AVI's frame rate is kept as a whole number of frames a second (rounded), 1
// to 1000; the MP4's as a rational. Not copyable: it owns the open writer.
// Memory: one encoded frame for an AVI; the MP4 encoder's frames in flight.
class overlay_video {
 public:
  // The name of the temporary the writer is given for a video named `path`
  // ("overlay.avi" or "overlay.mp4": the writers choose a container by it).
  static const char* private_name(const std::string& path);

  overlay_video();
  overlay_video(const overlay_video&) = delete;
  overlay_video& operator=(const overlay_video&) = delete;
  ~overlay_video();

  // Starts the video in `file`, opened by the caller with private_name (the
  // caller commits it after close()). fps > 0; width, height > 0; not open
  // already. "" or what is wrong, naming file.path() ("cannot write PATH: the
  // video support (...) cannot be loaded: <reason>" when the module is not
  // there; the file is then left as it was).
  std::string open(common::atomic_file& file, double fps, int width, int height);
  // The same into a file of its own for `path`, committed by close() ("cannot
  // write PATH: No such file or directory", ...); a failed open or close leaves
  // no file behind and `path` as it was.
  std::string open(const std::string& path, double fps, int width, int height);

  // Appends one frame: CV_8UC3, of the size given to open. "" or what is wrong;
  // a wrong frame is not written and the file stays usable.
  std::string write(const cv::Mat& frame);

  // Finishes the file (the frame count is written into its header) and checks
  // it: "cannot write PATH: the video is incomplete (...)" when the disk was
  // full or a limit was hit (an MP4: its encoder's message for the step that
  // failed). Then commits the file of its own, or discards it
  // on failure. "" or what is wrong; nothing to do when not open. Done by the
  // destructor too, whose message is lost.
  std::string close();

  bool is_open() const { return file_ != nullptr; }
  long long frames() const { return frames_; }  // frames written since open

 private:
  std::unique_ptr<video_writer> writer_;  // made by the first open()
  bool avi_ = false;                      // what the open file is
  common::atomic_file own_;               // the file of open(path, ...)
  common::atomic_file* file_ = nullptr;   // the file written, while open
  cv::Size size_;
  long long frames_ = 0;
};

// "" when the AVI file `path` is whole: its RIFF chunks (the first, and the
// extensions of a file beyond 1 GiB) fill it exactly, and, when it has one
// RIFF, its index (idx1) holds `frames` video entries (a longer file is
// indexed per extension, which is not counted); else what is wrong ("the
// video is incomplete (...)"). Reads the chunk headers only.
std::string check_avi(const std::string& path, long long frames);

}  // namespace trackvideo

#endif  // TRACKVIDEO_SINKS_OVERLAY_H
