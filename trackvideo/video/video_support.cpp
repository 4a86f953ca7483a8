// trackvideo/video/video_support.cpp - finding and loading the video module (see
// video_support.h). No FFmpeg here.
#include "trackvideo/video/video_support.h"

#include "common/tokens.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>
#include <vector>

// Defined only in programs linked with the module's code (the tests): weak, so
// that the program itself leaves it null and loads the module instead.
extern "C" const trackvideo::video_support_table* trackvideo_ffmpeg_support(int version)
    __attribute__((weak));

namespace trackvideo {

namespace {

constexpr const char* kModuleVariable = "TRACKVIDEO_FFMPEG_MODULE";
// The module's folder in an installed tree, from the program's (set by the build).
constexpr const char* kInstalledFolder = TRACKVIDEO_INSTALLED_MODULE_DIR;

std::mutex load_mutex;
const video_support_table* loaded = nullptr;

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

// Opens the module and takes its table. "" or why not: the loader's reason
// for the one place tried or for the first file found, else where it looked.
std::string load(const video_support_table*& table) {
  std::vector<std::string> folders;
  const char* chosen = std::getenv(kModuleVariable);
  std::vector<std::string> candidates;
  if (chosen && *chosen) {
    candidates.push_back(chosen);
  } else {
    const std::string folder = executable_folder();
    folders = {folder, folder + "/" + kInstalledFolder};
    for (const std::string& f : folders) candidates.push_back(f + "/" + kVideoSupportModule);
  }
  std::string why;
  for (const std::string& path : candidates) {
    const bool there = ::access(path.c_str(), F_OK) == 0;
    if (!there && candidates.size() > 1) continue;
    void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) {
      const char* error = ::dlerror();
      why = error ? error : path + ": unknown error";
      break;
    }
    using entry = const video_support_table* (*)(int);
    const auto find = reinterpret_cast<entry>(::dlsym(module, "trackvideo_ffmpeg_support"));
    table = find ? find(kVideoSupportVersion) : nullptr;
    if (table) return "";  // stays loaded
    ::dlclose(module);
    return common::shown_name(path) + " is not a video module of this version of trackvideo";
  }
  if (why.empty())
    why = "it is neither in " + common::shown_name(folders[0]) + " nor in " +
          common::shown_name(folders[1]);
  return why;
}

std::string support(const video_support_table*& table) {
  std::lock_guard<std::mutex> lock(load_mutex);
  if (!loaded && trackvideo_ffmpeg_support)
    loaded = trackvideo_ffmpeg_support(kVideoSupportVersion);
  if (!loaded) {
    if (std::string why = load(loaded); !why.empty())
      return std::string("the video support (") + kVideoSupportModule +
             ") cannot be loaded: " + why;
  }
  table = loaded;
  return "";
}

}  // namespace

std::string new_video_reader(std::unique_ptr<video_reader>& reader) {
  const video_support_table* table = nullptr;
  if (std::string why = support(table); !why.empty()) return why;
  reader.reset(table->new_reader());
  return "";
}

std::string new_video_writer(std::unique_ptr<video_writer>& writer) {
  const video_support_table* table = nullptr;
  if (std::string why = support(table); !why.empty()) return why;
  writer.reset(table->new_writer());
  return "";
}

}  // namespace trackvideo
