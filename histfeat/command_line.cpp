// The command line: options, usage, the process's standard streams and the
// report of a failed write to standard output.

#include "histfeat/histfeat.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <istream>
#include <ostream>

#if defined(__x86_64__) || defined(__i386__)
#include <xmmintrin.h>
#define HISTFEAT_X86 1
#else
#define HISTFEAT_X86 0
#endif

#ifndef HISTFEAT_VERSION
#define HISTFEAT_VERSION "unknown"
#endif

namespace histfeat {

namespace {

#if HISTFEAT_X86
__attribute__((target("sse"))) void set_mxcsr_bits(unsigned bits) {
  _mm_setcsr(_mm_getcsr() | bits);
}
#endif

// Standard output through the descriptor, remembering the first failed write
// (a closed descriptor, a full disk, a pipe without reader) so that it can be
// reported once, after the outputs are written.
class fd_writer : public std::streambuf {
 public:
  fd_writer(int fd, int error) : fd_(fd), error_(error) { setp(buffer_, buffer_ + sizeof buffer_); }
  int error() const { return error_; }

 protected:
  int_type overflow(int_type c) override {
    if (sync() != 0) return traits_type::eof();
    if (!traits_type::eq_int_type(c, traits_type::eof())) sputc(traits_type::to_char_type(c));
    return traits_type::not_eof(c);
  }
  int sync() override {
    for (const char* p = pbase(); error_ == 0 && p < pptr();) {
      const ssize_t n = ::write(fd_, p, static_cast<std::size_t>(pptr() - p));
      if (n < 0 && errno != EINTR) error_ = errno;
      if (n > 0) p += n;
    }
    setp(buffer_, buffer_ + sizeof buffer_);
    return error_ == 0 ? 0 : -1;
  }

 private:
  int fd_, error_;
  char buffer_[4096];
};

// Reports a failed write to `out` (once) and gives the status to return.
int check_output_stream(std::ostream& out, std::ostream& err, int status) {
  if (out.flush()) return status;
  const fd_writer* writer = dynamic_cast<const fd_writer*>(out.rdbuf());
  err << "histfeat: cannot write to standard output: "
      << (writer && writer->error() ? std::strerror(writer->error()) : "write error") << '\n';
  return 1;
}

}  // namespace

void enable_flush_to_zero() {
#if HISTFEAT_X86
  constexpr unsigned kFlushToZero = 1u << 15, kDenormalsAreZero = 1u << 6;
  __builtin_cpu_init();
  if (!__builtin_cpu_supports("sse")) return;
  // Denormals-are-zero came with SSE2; setting it without faults the processor.
  set_mxcsr_bits(__builtin_cpu_supports("sse2") ? kFlushToZero | kDenormalsAreZero : kFlushToZero);
#endif
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
         "  --max-pixels N      before any of the above: refuse images of more than N\n"
         "                      pixels (default " +
         std::to_string(kDefaultMaxPixels) +
         ")\n"
         "  --help              this text\n"
         "  --version           the version\n"
         "\n"
         "An output file is replaced only when its frame succeeds, and never when it is\n"
         "one of the inputs or not a regular file. Exit status: 0 done, 1 the frame or a\n"
         "line of the batch failed or standard output could not be written, 2 wrong\n"
         "usage.\n";
}

int histfeat_main(int argc, const char* const* argv, std::istream& in, std::ostream& out,
                  std::ostream& err) {
  std::vector<std::string> args(argv + 1, argv + argc);
  auto misuse = [&err](const std::string& what) {
    err << "histfeat: " << what << '\n' << usage();
    return 2;
  };
  long long max_pixels = kDefaultMaxPixels;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] != "--max-pixels") continue;
    char* end = nullptr;
    errno = 0;
    const char* value = i + 1 < args.size() ? args[i + 1].c_str() : "";
    max_pixels = std::strtoll(value, &end, 10);
    if (!*value || *end || errno || max_pixels < 1 || i != 0)
      return misuse(i != 0 ? "option --max-pixels out of place"
                           : "--max-pixels needs a positive number of pixels");
    args.erase(args.begin(), args.begin() + 2);
    break;
  }
  for (const std::string& a : args)
    if (a.size() > 1 && a[0] == '-' && a != "--help" && a != "--version" && a != "--batch")
      return misuse("unknown option '" + a + "'");
  if (args.empty())
    return check_output_stream(
        out, err, run("v200.jpg", "pos.txt", "objects_info_1.txt", out, err, max_pixels));

  const std::string& first = args[0];
  const std::size_t wanted = first == "--batch" ? 2 : first[0] == '-' && first != "-" ? 1 : 3;
  if (args.size() != wanted) return misuse("wrong number of arguments");
  for (std::size_t i = 1; i < args.size(); ++i)
    if (args[i].size() > 1 && args[i][0] == '-')
      return misuse("option " + args[i] + " out of place");
  if (first == "--help") {
    out << usage();
    return check_output_stream(out, err, 0);
  }
  if (first == "--version") {
    out << "histfeat " HISTFEAT_VERSION "\n";
    return check_output_stream(out, err, 0);
  }
  if (first == "--batch") {
    const std::string& name = args[1];
    if (name == "-")
      return check_output_stream(out, err, run_batch(in, "(standard input)", out, err, max_pixels));
    std::ifstream list(name);
    if (!list) {
      err << "histfeat: cannot open " << name << ": " << std::strerror(errno) << '\n';
      return 1;
    }
    return check_output_stream(out, err, run_batch(list, name, out, err, max_pixels));
  }
  return check_output_stream(out, err, run(args[0], args[1], args[2], out, err, max_pixels));
}

int program_main(int argc, const char* const* argv) {
  enable_flush_to_zero();
  // A write to a pipe without reader fails with EPIPE instead of ending the
  // run: the remaining outputs are still written, the failure reported.
  std::signal(SIGPIPE, SIG_IGN);
  // A closed standard descriptor gets /dev/null, so that no output file is
  // opened under its number; a closed standard output is still reported.
  const bool output_closed = ::fcntl(1, F_GETFD) < 0;
  for (int fd = 0; fd <= 2; ++fd)
    if (::fcntl(fd, F_GETFD) < 0 && ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY) < 0)
      return 1;
  fd_writer writer(1, output_closed ? EBADF : 0);
  std::ostream out(&writer);
  return histfeat_main(argc, argv, std::cin, out, std::cerr);
}

}  // namespace histfeat
