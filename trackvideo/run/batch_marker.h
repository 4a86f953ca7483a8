// trackvideo/run/batch_marker.h - the marker "done" of a sequence a --batch
// run finished: what it was made from, and whether it still describes the
// folder it is in.
//
// The marker names the sequence's inputs (path, size and modification time of
// seqinfo.ini, of the tracks file and of the frames' folder, and a digest of
// every frame: the 64-bit FNV-1a hash of "<size> <mtime> <name>" of frames 1,
// 2, ... up to seqLength or the first missing one, links followed), the
// settings that change the outputs (--radius, --gt, --classes, --gap, --near,
// --trail) and, when the sequence is evaluated (evaluated()), the ground
// truth as an input and the benchmark: together its identity; then what
// --with wrote, and the run's figures. It is written last, beside what it describes, and read whole
// (at most 64 KiB).
//
// Cost: an identity stats seqinfo.ini, the tracks file, the frames' folder and
// each frame once, and reads seqinfo.ini; reading a marker is one small read.
#ifndef TRACKVIDEO_RUN_BATCH_MARKER_H
#define TRACKVIDEO_RUN_BATCH_MARKER_H

#include <limits>
#include <string>

#include "common/tokens.h"
#include "trackvideo/run/batch_list.h"
#include "trackvideo/run/options.h"
#include "trackvideo/run/run.h"

namespace trackvideo {

// Whether --with metrics or events scores the sequence of `l`: its line
// names a tracker's results (and the batch's tracks are not ground truth).
bool evaluated(const batch_line& l, const options& o);

// The part of a marker that must match for a sequence to be skipped: the
// inputs (each "<what> <size> <mtime> <path>") and the settings. "" with
// `identity` set, or why an input cannot be stat'ed.
std::string marker_identity(const batch_line& l, const options& o, std::string& identity);
// A whole marker: identity, the --with outputs, the figures and the seconds.
std::string marker_text(const std::string& identity, const std::string& with, const run_figures& f,
                        double seconds);
// Reads a marker: true when it is whole and well-formed, with its identity,
// --with outputs, figures and seconds.
bool parse_marker(const std::string& text, std::string& identity, std::string& with, run_figures& f,
                  double& seconds);

// The marker of DIR/<name>, parsed; false when there is none or it is not one.
bool read_marker(const std::string& folder, std::string& identity, std::string& with,
                 run_figures& f, double& seconds);
// Whether the sequence of `l` is done: its marker in DIR/<name> names its
// inputs as they are now and these settings (what DIR's tables list), with
// the marker's figures and seconds.
bool marker_matches(const batch_line& l, const options& o, run_figures& f, double& seconds);
// Whether the sequence was done before with these inputs and settings, and
// holds what this run would write.
bool done_before(const options& o, const batch_line& l, const std::string& folder,
                 const std::string& identity);

// Whether `path` is a folder (`folder`) or a regular file, links followed.
bool is_file(const std::string& path, bool folder);

// A count as markers and messages write it: digits, within [0, max].
template <typename T>
bool read_count(const std::string& token, T& value) {
  long long v = 0;
  if (token.empty() || token[0] < '0' || token[0] > '9' ||
      common::parse_integer(token, 0, std::numeric_limits<T>::max(), v) != common::integer_read::ok)
    return false;
  value = static_cast<T>(v);
  return true;
}

// Seconds as "%.3f" writes them: digits, a point, digits.
bool read_seconds(const std::string& token, double& seconds);

}  // namespace trackvideo

#endif  // TRACKVIDEO_RUN_BATCH_MARKER_H
