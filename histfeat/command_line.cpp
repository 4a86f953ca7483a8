// The command line: the single-frame run, batches, usage and options.

#include "histfeat/histfeat.h"

#include <opencv2/core/utils/logger.hpp>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <istream>
#include <ostream>
#include <sstream>

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

void quiet_opencv() {
  // Every failure is reported as one line of ours; keep OpenCV's own log quiet.
  cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
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

int run(const std::string& image_file, const std::string& boxes_file,
        const std::string& output_file, std::ostream& out, std::ostream& err) {
  quiet_opencv();
  frame_cache frames(0);  // keeps the one frame
  std::string why = process_frame(frames, image_file, boxes_file, output_file, out);
  if (why.empty()) return 0;
  err << "histfeat: " << why << '\n';
  return 1;
}

int run_batch(std::istream& list, const std::string& list_name, std::ostream& out,
              std::ostream& err) {
  quiet_opencv();
  frame_cache frames;
  int status = 0;
  long long number = 0;
  std::string line, field[3];
  while (std::getline(list, line)) {
    ++number;
    std::istringstream fields(line);
    int count = 0;
    for (std::string f; fields >> f; ++count)
      if (count < 3) field[count] = std::move(f);
    if (count == 0 || field[0][0] == '#') continue;  // blank line or comment
    std::string why;
    if (count != 3)
      why = "expected 3 fields (IMAGE BOXES OUTPUT), found " + std::to_string(count);
    else
      why = process_frame(frames, field[0], field[1], field[2], out);
    if (!why.empty()) {
      err << "histfeat: " << list_name << ':' << number << ": " << why << '\n';
      status = 1;
    }
  }
  if (list.bad()) {
    err << "histfeat: cannot read " << list_name << '\n';
    status = 1;
  }
  return status;
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
         "  --help              this text\n"
         "  --version           the version\n"
         "\n"
         "An output file is replaced only when its frame succeeds. Exit status: 0 done,\n"
         "1 the frame or a line of the batch failed, 2 wrong usage.\n";
}

int histfeat_main(int argc, const char* const* argv, std::istream& in, std::ostream& out,
                  std::ostream& err) {
  std::vector<std::string> args(argv + 1, argv + argc);
  auto misuse = [&err](const std::string& what) {
    err << "histfeat: " << what << '\n' << usage();
    return 2;
  };
  for (const std::string& a : args)
    if (a.size() > 1 && a[0] == '-' && a != "--help" && a != "--version" && a != "--batch")
      return misuse("unknown option '" + a + "'");
  if (args.empty()) return run("v200.jpg", "pos.txt", "objects_info_1.txt", out, err);

  const std::string& first = args[0];
  const std::size_t wanted = first == "--batch" ? 2 : first[0] == '-' && first != "-" ? 1 : 3;
  if (args.size() != wanted) return misuse("wrong number of arguments");
  for (std::size_t i = 1; i < args.size(); ++i)
    if (args[i].size() > 1 && args[i][0] == '-')
      return misuse("option " + args[i] + " out of place");
  if (first == "--help") {
    out << usage();
    return 0;
  }
  if (first == "--version") {
    out << "histfeat " HISTFEAT_VERSION "\n";
    return 0;
  }
  if (first == "--batch") {
    const std::string& name = args[1];
    if (name == "-") return run_batch(in, "(standard input)", out, err);
    std::ifstream list(name);
    if (!list) {
      err << "histfeat: cannot open " << name << ": " << std::strerror(errno) << '\n';
      return 1;
    }
    return run_batch(list, name, out, err);
  }
  return run(args[0], args[1], args[2], out, err);
}

}  // namespace histfeat
