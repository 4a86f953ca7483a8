// trackvideo/video/video_support.cpp - finding, loading and checking the video
// module, and the C++ reader and writer over its C table (see
// video_support.h). No FFmpeg here.
#include "trackvideo/video/video_support.h"
#include "trackvideo/base/failure.h"

#include "common/input_file.h"
#include "common/tokens.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#ifndef TRACKVIDEO_VIDEO_STAMP
#error "TRACKVIDEO_VIDEO_STAMP is defined by trackvideo/CMakeLists.txt"
#endif

// Defined only in programs linked with the module's code (the tests): weak, so
// that the program itself leaves it null and loads the module instead.
extern "C" const trackvideo_video_table* trackvideo_video_module(void) __attribute__((weak));

namespace trackvideo {

namespace {

constexpr const char* kModuleVariable = "TRACKVIDEO_FFMPEG_MODULE";
// The module's folder in an installed tree, from the program's (set by the build).
constexpr const char* kInstalledFolder = TRACKVIDEO_INSTALLED_MODULE_DIR;
// This build's stamp: a module's table must carry the same.
constexpr const char* kStamp = TRACKVIDEO_VIDEO_STAMP;
// Room for any line of the module: it names at most two files of PATH_MAX
// (4096) bytes. On the stack of the calling thread.
constexpr std::size_t kMessageBytes = 16 * 1024;

std::mutex load_mutex;
const trackvideo_video_table* loaded = nullptr;

// The executable's folder ("" when /proc is not there).
std::string executable_folder() {
  std::vector<char> buffer(4096);
  for (;;) {
    const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return "";
    if (static_cast<std::size_t>(n) < buffer.size()) {
      const std::string exe(buffer.data(), static_cast<std::size_t>(n));
      return exe.substr(0, exe.rfind('/'));
    }
    buffer.resize(buffer.size() * 2);
  }
}

// "" when `table` is one this program can use, else why not, naming the
// module `shown`. Nothing of the table is read beyond the size it states.
std::string check_table(const trackvideo_video_table* table, const std::string& shown) {
  if (!table) return shown + " is not a video module of this version of trackvideo";
  if (table->size < sizeof(trackvideo_video_table))
    return shown + ": its table has " + std::to_string(table->size) + " bytes, fewer than the " +
           std::to_string(sizeof(trackvideo_video_table)) + " of this program";
  if (table->version != TRACKVIDEO_VIDEO_INTERFACE)
    return shown + ": its interface is version " + std::to_string(table->version) +
           ", this program's " + std::to_string(TRACKVIDEO_VIDEO_INTERFACE);
  if (!table->stamp || std::strcmp(table->stamp, kStamp) != 0)
    return shown + ": it was built apart from this program (build stamp " +
           common::quote_token(table->stamp ? table->stamp : "") + ", this program's " +
           common::quote_token(kStamp) + ")";
  return "";
}

// The dynamic loader's `error` for a file it was given as `alias`, naming it
// `shown` instead, with bytes outside printable ASCII (from the file's own
// contents) shown as '?'.
std::string loader_error(const char* error, const std::string& alias, const std::string& shown) {
  std::string text = error ? error : alias + ": unknown error";
  if (text.compare(0, alias.size() + 1, alias + ":") == 0) text.replace(0, alias.size(), shown);
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7f) c = '?';
  return text;
}

// Whether the dynamic loader answers to `name` with an object it keeps.
bool loader_knows(const std::string& name) {
  void* known = ::dlopen(name.c_str(), RTLD_LAZY | RTLD_NOLOAD);
  if (known) ::dlclose(known);
  return known != nullptr;
}

// Loads the file `path` and takes its table. "" or why not. The loader is
// given the descriptor the file was checked on (/proc/self/fd/N), never the
// name: a name could be swapped for a FIFO after the check, and a name
// without '/' would send it along the library path. The loader then knows
// the object it keeps by that name too (the module, a refused one it cannot
// unload, a library it had loaded already), and would answer to it without
// opening anything: so N stays open while it does, never naming another file.
std::string load_file(const std::string& path, const trackvideo_video_table*& table) {
  const std::string shown = common::shown_name(path);
  int fd = -1;
  struct stat st;
  if (std::string why = common::open_regular(path, fd, st); !why.empty())
    return shown + ": cannot open shared object file: " + why;
  const std::string alias = "/proc/self/fd/" + std::to_string(fd);
  std::string why;
  void* module = ::dlopen(alias.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!module) {
    why = loader_error(::dlerror(), alias, shown);
  } else {
    const auto entry =
        reinterpret_cast<trackvideo_video_entry>(::dlsym(module, TRACKVIDEO_VIDEO_ENTRY));
    const trackvideo_video_table* found = entry ? entry() : nullptr;
    why = check_table(found, shown);
    if (why.empty())
      table = found;  // stays loaded
    else
      ::dlclose(module);
  }
  if (!why.empty() && !loader_knows(alias)) ::close(fd);
  return why;
}

// Opens the module and takes its table. "" or why not: the reason for the one
// place tried or for the first file found, else where it looked.
std::string load(const trackvideo_video_table*& table) {
  const char* chosen = std::getenv(kModuleVariable);
  if (chosen && *chosen) return load_file(chosen, table);
  const std::string folder = executable_folder();
  const std::string folders[2] = {folder, folder + "/" + kInstalledFolder};
  for (const std::string& f : folders) {
    const std::string path = f + "/" + kVideoSupportModule;
    if (::access(path.c_str(), F_OK) == 0) return load_file(path, table);
  }
  return "it is neither in " + common::shown_name(folders[0]) + " nor in " +
         common::shown_name(folders[1]);
}

std::string support(const trackvideo_video_table*& table) {
  std::lock_guard<std::mutex> lock(load_mutex);
  std::string why;
  if (!loaded && trackvideo_video_module) {
    const trackvideo_video_table* linked = trackvideo_video_module();
    why = check_table(linked, "the video code linked into this program");
    if (why.empty()) loaded = linked;
  } else if (!loaded) {
    why = load(loaded);
  }
  if (!why.empty())
    return std::string("the video support (") + kVideoSupportModule + ") cannot be loaded: " + why;
  table = loaded;
  return "";
}

// The line of a call that returned `code`: the module's message.
std::string failure(int code, const char* message) {
  if (code == TRACKVIDEO_VIDEO_NO_MEMORY) return kOutOfMemory;
  return *message ? message : "the video module failed (code " + std::to_string(code) + ")";
}

// An entry's result: "" or the line; running out of memory throws.
std::string checked(int code, const char* message) {
  if (code == TRACKVIDEO_VIDEO_OK) return "";
  if (code == TRACKVIDEO_VIDEO_NO_MEMORY) throw std::bad_alloc();
  return failure(code, message);
}

}  // namespace

video_reader::video_reader(const trackvideo_video_table* table, trackvideo_video_reader* handle)
    : table_(table), handle_(handle) {}

video_reader::~video_reader() {
  table_->reader_free(handle_);
}

std::string video_reader::open(const std::string& path, long long max_pixels, int threads) {
  char message[kMessageBytes];
  const int code =
      table_->reader_open(handle_, path.c_str(), max_pixels, threads, message, sizeof message);
  return code == TRACKVIDEO_VIDEO_OK ? "" : failure(code, message);
}

std::string video_reader::next(cv::Mat* frame, bool& ended) {
  char message[kMessageBytes];
  int end = 0, width = 0, height = 0;
  int code = table_->reader_next(handle_, frame != nullptr, &end, &width, &height, message,
                                 sizeof message);
  ended = end != 0;
  if (code != TRACKVIDEO_VIDEO_OK) return failure(code, message);
  if (ended || !frame) return "";
  frame->create(height, width, CV_8UC3);  // kept when it is of that size already
  code = table_->reader_copy(handle_, frame->data, frame->step[0], width, height, message,
                             sizeof message);
  return code == TRACKVIDEO_VIDEO_OK ? "" : failure(code, message);
}

double video_reader::fps(double fallback) const {
  return table_->reader_fps(handle_, fallback);
}

long long video_reader::frames() const {
  return table_->reader_frames(handle_);
}

video_writer::video_writer(const trackvideo_video_table* table, trackvideo_video_writer* handle)
    : table_(table), handle_(handle) {}

video_writer::~video_writer() {
  table_->writer_free(handle_);
}

std::string video_writer::open(const std::string& path, const std::string& shown,
                               video_format format, double fps, int width, int height) {
  char message[kMessageBytes];
  return checked(table_->writer_open(handle_, path.c_str(), shown.c_str(), static_cast<int>(format),
                                     fps, width, height, message, sizeof message),
                 message);
}

std::string video_writer::write(const cv::Mat& frame) {
  char message[kMessageBytes];
  return checked(table_->writer_write(handle_, frame.data, frame.step[0], frame.cols, frame.rows,
                                      frame.channels(), static_cast<int>(frame.elemSize1()),
                                      message, sizeof message),
                 message);
}

std::string video_writer::close() {
  char message[kMessageBytes];
  return checked(table_->writer_close(handle_, message, sizeof message), message);
}

bool video_writer::is_open() const {
  return table_->writer_is_open(handle_) != 0;
}

long long video_writer::frames() const {
  return table_->writer_frames(handle_);
}

std::string new_video_reader(std::unique_ptr<video_reader>& reader) {
  const trackvideo_video_table* table = nullptr;
  if (std::string why = support(table); !why.empty()) return why;
  char message[kMessageBytes];
  trackvideo_video_reader* handle = nullptr;
  if (std::string why = checked(table->reader_new(&handle, message, sizeof message), message);
      !why.empty())
    return why;
  try {
    reader.reset(new video_reader(table, handle));
  } catch (...) {
    table->reader_free(handle);
    throw;
  }
  return "";
}

std::string new_video_writer(std::unique_ptr<video_writer>& writer) {
  const trackvideo_video_table* table = nullptr;
  if (std::string why = support(table); !why.empty()) return why;
  char message[kMessageBytes];
  trackvideo_video_writer* handle = nullptr;
  if (std::string why = checked(table->writer_new(&handle, message, sizeof message), message);
      !why.empty())
    return why;
  try {
    writer.reset(new video_writer(table, handle));
  } catch (...) {
    table->writer_free(handle);
    throw;
  }
  return "";
}

}  // namespace trackvideo
