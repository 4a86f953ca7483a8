// histfeat: colour histograms of three boxes of one frame, written as the
// records of a detection file. The program's functions, which the command line
// calls and the tests call directly.
//
// One frame: a colour image ("v200.jpg" when the program is given no arguments)
// and three boxes ("pos.txt", twelve integers x1 y1 x2 y2 ...) give the output
// ("objects_info_1.txt"):
//
//   3
//   x1 x2 y1 y2 r0 .. r23 g0 .. g23 b0 .. b15      one record per box, input order
//
// (record.h has the record and its exact values.)
//
// Failure. A failed run writes one line "histfeat: <what is wrong>" to the error
// stream, returns 1 and leaves an existing output file as it was: the output goes
// through an atomic_file (common/atomic_file.h).
//
// Batch. `histfeat --batch LIST` processes many frames in one process through
// one frame_cache (frame_source.h), so a frame listed again (the same file, also
// under another name or link) is decoded once while unchanged.
//
// Errors: a function that can fail returns "" or what is wrong, one line without
// the program's name; the command line prints "histfeat: <text>" and picks the
// status.

#ifndef HISTFEAT_HISTFEAT_H
#define HISTFEAT_HISTFEAT_H

#include "histfeat/frame_source.h"
#include "histfeat/record.h"

#include <iosfwd>
#include <string>

namespace histfeat {

constexpr int kBoxCount = 3;  // boxes read from the box list, records written

// Sets the SSE unit to flush denormal results to zero and to read denormal
// inputs as zero, where the processor has SSE; otherwise does nothing.
void enable_flush_to_zero();

// One frame: refuses an output that may not be replaced (see atomic_file::open;
// the image and the box list are its inputs) before reading anything, loads
// `image_file` through `frames`, reads three boxes from `boxes_file` (each echoed
// to `out` as "x1 y1 x2 y2\n" right after it is read, before it is checked, so a
// failed frame has echoed the boxes read so far), writes the records to
// `output_file`. Returns "" or what is wrong. Cost: a load (see frame_cache),
// O(area) per box.
std::string process_frame(frame_cache& frames, const std::string& image_file,
                          const std::string& boxes_file, const std::string& output_file,
                          std::ostream& out);

// The whole run for one frame: process_frame with a cache of its own that
// refuses images of more than `max_pixels`. Returns 0, or 1 after one line
// "histfeat: ..." on `err` ("histfeat: out of memory" when memory ran out).
int run(const std::string& image_file, const std::string& boxes_file,
        const std::string& output_file, std::ostream& out, std::ostream& err,
        long long max_pixels = kDefaultMaxPixels);

// Batch: every line of `list` (named `list_name` in messages) that is neither
// blank nor a comment (first non-blank character '#') holds three
// whitespace-separated fields IMAGE BOXES OUTPUT and is processed as one frame,
// in order, all through one frame_cache. A failed line (a wrong number of
// fields, a NUL byte, a failed frame, memory run out) writes one line
// "histfeat: LIST:N: <what is wrong>" (N counts every line from 1) on `err`, and
// its output file is not written; the other lines go on. The whole list is
// read first: a line whose output is the list itself, an image or box list of
// another line, or the output of another line (both lines then) fails before
// any line runs. Returns 0, or 1 when any
// line failed or `list` could not be read to its end.
int run_batch(std::istream& list, const std::string& list_name, std::ostream& out,
              std::ostream& err, long long max_pixels = kDefaultMaxPixels);

// The usage text that --help prints.
std::string usage();

// The command line: no arguments (the fixed files of the current directory),
// "IMAGE BOXES OUTPUT", "--batch LIST" (LIST "-" reads `in`), "--help" (usage on
// `out`, 0), "--version" ("histfeat <version>" on `out`, 0), each of the first
// three after an optional "--max-pixels N". Anything else: an option other than
// these (an argument starting with '-', except "-" itself) or a wrong number of
// arguments writes one line "histfeat: ..." and the usage on `err` and returns
// 2. Otherwise returns what run or run_batch returns, or 1 after one line
// "histfeat: cannot write to standard output: <reason>" when writing to `out`
// failed (reported once, at the end).
int histfeat_main(int argc, const char* const* argv, std::istream& in, std::ostream& out,
                  std::ostream& err);

// The process: flush-to-zero, SIGPIPE ignored, closed standard descriptors
// given /dev/null, standard output through a writer that remembers why a write
// failed; then histfeat_main on the process's streams.
int program_main(int argc, const char* const* argv);

}  // namespace histfeat

#endif  // HISTFEAT_HISTFEAT_H
