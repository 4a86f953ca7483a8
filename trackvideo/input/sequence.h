// trackvideo/input/sequence.h - a sequence folder: DIR/seqinfo.ini, the frames
// DIR/<imDir>/000001<imExt> ... (or 00000001<imExt> ..., any width of zero-padded
// numbers), the ground truth DIR/gt/gt.txt.
//
// seqinfo.ini holds a [Sequence] section of "key=value" lines: blanks around
// the '=' and around the line, lines starting with ';' or '#' (comments),
// blank lines, CRLF endings and one UTF-8 byte-order mark are accepted; keys
// and section names compare without regard to case; keys of other sections
// and unknown keys are ignored; a key given twice in [Sequence] is refused.
//   imDir      the frames' folder, relative to DIR (needed)
//   imExt      the frames' extension, one trackvideo decodes, e.g. ".jpg" (needed)
//   seqLength  the frame count, a whole number >= 1 (needed)
//   name       the sequence's name (else the folder's name)
//   frameRate  frames per second, a plain decimal ("25", "29.97", ".5": no
//              sign, no exponent) from kMinFrameRate to kMaxFrameRate (else
//              kFolderFramesPerSecond)
//   imWidth, imHeight   the frames' size, whole numbers >= 1, both or neither
//              (0 when absent)
// Whole numbers (seqLength, imWidth, imHeight, the --classes numbers) are
// those of the one integer grammar of common/tokens.h ("+7", "007").
// imDir stays inside DIR: not absolute, no ".." leading out of it, and, when
// it exists, not resolved by a symbolic link to a folder outside DIR (a
// missing imDir fails later, when its first frame cannot be opened).
// The frames' names are frame numbers zero-padded to one width for every
// frame: the width of the name the folder holds for frame 1 (six digits, or
// eight, or any other; six when it holds none: its frame 1 then fails to open).
// No state; parsing is O(n) in the file's size, which is at most
// kMaxSeqinfoBytes; reading lists the frames' folder once.
// Failure: "" on success, else one line, "FILE:LINE: ..." or "FILE: ...",
// FILE shown as in messages (quoted as tokens are when it holds a byte
// outside printable ASCII).
#ifndef TRACKVIDEO_INPUT_SEQUENCE_H
#define TRACKVIDEO_INPUT_SEQUENCE_H

#include <cstddef>
#include <string>

#include "trackvideo/input/tracks.h"

namespace trackvideo {

// The frame rates the video encoder carries as given into both containers:
// it keeps a rate as the nearest fraction of terms at most 65536 (29.97,
// 12.5 and 30000/1001 exactly), and MP4 and AVI both hold that fraction
// unchanged from 1/100 to 1000 frames a second. Above 1000 the AVI muxer puts
// in a rate of its own and the video fails at its second frame; near 1/50000
// an H.264 frame's display delay, a few frames' time in ticks of the rate,
// passes the 32 bits MP4 gives it. (--overlay-video's AVI is written at the
// rate rounded to whole frames a second, as its players expect.)
constexpr double kMinFrameRate = 0.01, kMaxFrameRate = 1000;
// The largest seqinfo.ini read: a few lines hold it; a larger file is refused
// before it is read whole.
constexpr std::size_t kMaxSeqinfoBytes = 1 << 20;
// The width of the frames' names unless the folder's frame 1 says otherwise.
constexpr int kFrameDigits = 6;

struct seqinfo {
  std::string name, im_dir, im_ext;  // im_dir and im_ext never empty after success
  int seq_length = 0;                // >= 1
  double frame_rate = 0;             // kMinFrameRate .. kMaxFrameRate
  int im_width = 0, im_height = 0;   // 0 when not given, else >= 1
  int frame_digits = kFrameDigits;   // the frames' names' width, >= 1 (read_seqinfo)
};

// Parses the text of seqinfo.ini; `file` names it in messages, `folder_name`
// is the name used when the file gives none.
std::string parse_seqinfo(const std::string& text, const std::string& file,
                          const std::string& folder_name, seqinfo& out);
// Reads DIR/seqinfo.ini (a regular file of at most kMaxSeqinfoBytes),
// checks that DIR/<imDir>, resolved, lies in DIR resolved, and finds the
// width of the frames' names in it (one listing of the folder). "cannot open
// DIR/seqinfo.ini: <reason>", "DIR/seqinfo.ini: larger than ...", "...: imDir
// '...' is not a folder inside the sequence", "IMG/00000001.jpg and
// IMG/000002.jpg: frame names of different widths (8 and 6 digits)" (frame k
// of 1 .. seqLength named with another width than frame 1, and not with
// that one) or what parse_seqinfo says.
std::string read_seqinfo(const std::string& dir, seqinfo& out);
// The name of the folder DIR ("seq" for "data/seq/" and for "." in it), the
// sequence's name when seqinfo.ini gives none.
std::string sequence_folder_name(const std::string& dir);

// DIR/<imDir>, and the path of frame f (>= 1) in it: s.frame_digits digits at
// least.
std::string frames_folder(const std::string& dir, const seqinfo& s);
std::string frame_path(const std::string& dir, const seqinfo& s, int f);
// DIR/gt/gt.txt.
std::string ground_truth_path(const std::string& dir);

// Reads --classes: "all", or class numbers (whole, 0 .. INT_MAX) separated by
// commas.
// "" or what is wrong.
std::string parse_classes(const std::string& text, gt_rules& out);

}  // namespace trackvideo

#endif  // TRACKVIDEO_INPUT_SEQUENCE_H
