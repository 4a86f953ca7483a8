// trackvideo/run/command_line.h - the process and its command line: standard
// streams, signals, options, and the one line and status every failure ends
// in.
//
// trackvideo_main: usage errors give one line "trackvideo: ...", the usage on
// `err` and status 2; --help (usage on `out`) and --version give 0; a failed
// run one line "trackvideo: ..." on `err` and 1; success 0. A failed write to
// `out` is "cannot write to standard output: <reason>" and 1; out_error != 0
// (errno's value) says `out` cannot be written at all, and the run then stops
// before writing anything. A batch (--batch) reports its own lines and status
// (batch.h).
//
// program_main: the process around it. Its threads share one malloc arena
// (the address space a run needs stays that of one thread). SIGPIPE and SIGXFSZ are ignored, so
// that a write to a pipe without reader or beyond the file-size limit fails
// with EPIPE or EFBIG and is reported as the run's line (nothing is left
// behind) instead of ending the process; a closed descriptor 0, 1 or 2 is
// given /dev/null (a closed standard output is reported as such); then
// trackvideo_main on stdout and stderr. SIGINT, SIGTERM and SIGHUP end the
// process after the outputs' temporaries are removed (common/temporaries.h).
#ifndef TRACKVIDEO_RUN_COMMAND_LINE_H
#define TRACKVIDEO_RUN_COMMAND_LINE_H

#include <cstdio>

namespace trackvideo {

int trackvideo_main(int argc, const char* const* argv, std::FILE* out, std::FILE* err,
                    int out_error = 0);

int program_main(int argc, const char* const* argv);

}  // namespace trackvideo

#endif  // TRACKVIDEO_RUN_COMMAND_LINE_H
