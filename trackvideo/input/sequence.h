// trackvideo/input/sequence.h - a sequence folder: DIR/seqinfo.ini, the frames
// DIR/<imDir>/000001<imExt> ..., the ground truth DIR/gt/gt.txt.
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
//   frameRate  frames per second, > 0 (else kFolderFramesPerSecond)
//   imWidth, imHeight   the frames' size, whole numbers >= 1 (0 when absent)
// No state; parsing is O(n) in the file's size.
// Failure: "" on success, else one line, "FILE:LINE: ..." or "FILE: ...",
// FILE shown as in messages (quoted as tokens are when it holds a byte
// outside printable ASCII).
#ifndef TRACKVIDEO_INPUT_SEQUENCE_H
#define TRACKVIDEO_INPUT_SEQUENCE_H

#include <string>

#include "trackvideo/input/tracks.h"

namespace trackvideo {

struct seqinfo {
  std::string name, im_dir, im_ext;  // im_dir and im_ext never empty after success
  int seq_length = 0;                // >= 1
  double frame_rate = 0;             // > 0
  int im_width = 0, im_height = 0;   // 0 when not given, else >= 1
};

// Parses the text of seqinfo.ini; `file` names it in messages, `folder_name`
// is the name used when the file gives none.
std::string parse_seqinfo(const std::string& text, const std::string& file,
                          const std::string& folder_name, seqinfo& out);
// Reads DIR/seqinfo.ini (a regular file only). "cannot open DIR/seqinfo.ini:
// <reason>" or what parse_seqinfo says.
std::string read_seqinfo(const std::string& dir, seqinfo& out);
// The name of the folder DIR ("seq" for "data/seq/" and for "." in it), the
// sequence's name when seqinfo.ini gives none.
std::string sequence_folder_name(const std::string& dir);

// DIR/<imDir>, and the path of frame f (>= 1) in it: six digits at least.
std::string frames_folder(const std::string& dir, const seqinfo& s);
std::string frame_path(const std::string& dir, const seqinfo& s, int f);
// DIR/gt/gt.txt.
std::string ground_truth_path(const std::string& dir);

// Reads --classes: "all", or class numbers (whole, >= 0) separated by commas.
// "" or what is wrong.
std::string parse_classes(const std::string& text, gt_rules& out);

}  // namespace trackvideo

#endif  // TRACKVIDEO_INPUT_SEQUENCE_H
