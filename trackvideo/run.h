// trackvideo/run.h - the program: a tracks file and frames in; the candidate
// report, the table, the pictures and the detection files out.
//
// run() reads and checks the whole tracks file, opens the frames, then walks
// frames 1 .. F (F the last frame of the tracks) once, in order: a
// frame_reader decodes them and makes their records one frame ahead, in a
// thread of its own, while this thread finds the pairs, writes the rows and
// pictures of the frame before. Every output
// file is written as a temporary and committed only when every frame has been
// processed; the report is kept in an anonymous temporary file and copied to
// standard output after the commit, so a failed run prints nothing there and
// leaves no output file created or changed.
//
// Memory: two decoded frames, the boxes (tracks and the report's dictionary,
// O(rows)) and at most one block of pending table rows; the report itself is
// on disk. Cost per frame: one decode plus the records' and pairs' costs.
#ifndef TRACKVIDEO_RUN_H
#define TRACKVIDEO_RUN_H

#include <cstdio>
#include <string>

#include "trackvideo/options.h"

namespace trackvideo {

// Frames larger than this, in either direction, with no pair found anywhere,
// earn the hint that the radius is in pixels.
constexpr int kHintWidth = 320, kHintHeight = 240;

// The whole run for parsed options. Writes the report on `out` and progress
// and the hint on `err`. "" or what is wrong (the text after "trackvideo: ").
std::string run(const options& o, std::FILE* out, std::FILE* err);

// The command line: usage errors give one line "trackvideo: ...", the usage
// on `err` and status 2; --help (usage on `out`) and --version give 0; a
// failed run one line "trackvideo: ..." on `err` and 1; success 0.
int trackvideo_main(int argc, const char* const* argv, std::FILE* out, std::FILE* err);

}  // namespace trackvideo

#endif  // TRACKVIDEO_RUN_H
