// trackvideo/run/command_line.cpp - the process and its command line (see
// command_line.h).
#include "trackvideo/run/command_line.h"

#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <string>

#include "trackvideo/run/batch.h"
#include "trackvideo/run/options.h"
#include "trackvideo/run/run.h"

namespace trackvideo {

namespace {

// Writes `text` on `out`; "" or what is wrong. `out_error`: see trackvideo_main.
std::string write_out(const std::string& text, std::FILE* out, int out_error) {
  errno = out_error;
  if (out_error == 0 && std::fputs(text.c_str(), out) >= 0 && std::fflush(out) == 0) return "";
  return std::string("cannot write to standard output: ") + std::strerror(errno != 0 ? errno : EIO);
}

}  // namespace

int trackvideo_main(int argc, const char* const* argv, std::FILE* out, std::FILE* err,
                    int out_error) {
  options o;
  std::string why = parse_options(argc, argv, o);
  if (!why.empty()) {
    std::fprintf(err, "trackvideo: %s\n%s", why.c_str(), usage().c_str());
    return 2;
  }
  if (o.help) {
    why = write_out(usage(), out, out_error);
  } else if (o.version) {
    why = write_out(std::string("trackvideo ") + TRACKVIDEO_VERSION + "\n", out, out_error);
  } else if (out_error != 0) {
    why = write_out("", out, out_error);
  } else if (!o.batch.empty()) {
    return run_batch(o, err);
  } else {
    why = guarded_run(o, out, err);
  }
  if (why.empty()) return 0;
  std::fprintf(err, "trackvideo: %s\n", why.c_str());
  return 1;
}

int program_main(int argc, const char* const* argv) {
  // One malloc arena for every thread: the workers reuse their buffers from
  // frame to frame and allocate little, while each further arena reserves 64
  // MiB of address space, which a limit on it (ulimit -v, a cluster's) counts.
  mallopt(M_ARENA_MAX, 1);
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
  // A closed standard descriptor gets /dev/null, so that no file is opened
  // under its number; a closed standard output is still reported.
  const bool output_closed = ::fcntl(1, F_GETFD) < 0;
  for (int fd = 0; fd <= 2; ++fd)
    if (::fcntl(fd, F_GETFD) < 0 && ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY) < 0)
      return 1;
  return trackvideo_main(argc, argv, stdout, stderr, output_closed ? EBADF : 0);
}

}  // namespace trackvideo
