// trackvideo/video/ffmpeg_log.cpp - FFmpeg's quiet log (see ffmpeg_log.h).
#include "trackvideo/video/ffmpeg_log.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <set>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
#include <libavutil/log.h>
}

namespace trackvideo {

namespace {

void keep_line(std::string& into, const char* fmt, va_list args) {
  if (!into.empty()) return;
  char line[256];
  std::vsnprintf(line, sizeof line, fmt, args);
  std::size_t n = std::strlen(line);
  while (n > 0 && (line[n - 1] == '\n' || line[n - 1] == '\r' || line[n - 1] == ' ')) --n;
  into.assign(line, n);
  for (char& c : into)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
  if (into.empty()) into = "unspecified error";
}

// The logs alive: a context's `opaque` is taken for one only when it is here.
std::mutex logs_mutex;
std::set<const void*> live_logs;

// The process's one log callback: nothing is printed; messages of our contexts
// are kept in their log (the contexts' `opaque`).
extern "C" void quiet_log(void* context, int level, const char* fmt, va_list args) {
  if (context == nullptr || level > AV_LOG_WARNING) return;
  const AVClass* type = *static_cast<const AVClass* const*>(context);
  void* opaque = nullptr;
  const bool from_codec = type == avcodec_get_class();
  if (from_codec)
    opaque = static_cast<AVCodecContext*>(context)->opaque;
  else if (type == avformat_get_class() && level <= AV_LOG_ERROR)
    opaque = static_cast<AVFormatContext*>(context)->opaque;
  if (opaque == nullptr) return;
  std::lock_guard<std::mutex> registry(logs_mutex);  // the log outlives this call
  if (live_logs.count(opaque) == 0) return;
  ffmpeg_log* log = static_cast<ffmpeg_log*>(opaque);
  std::lock_guard<std::mutex> lock(log->mutex);
  if (from_codec && level > AV_LOG_ERROR && !log->codec_warnings) return;
  keep_line(from_codec ? log->codec : log->format, fmt, args);
}

}  // namespace

ffmpeg_log::ffmpeg_log() {
  std::lock_guard<std::mutex> lock(logs_mutex);
  live_logs.insert(this);
}

ffmpeg_log::~ffmpeg_log() {
  std::lock_guard<std::mutex> lock(logs_mutex);
  live_logs.erase(this);
}

std::string ffmpeg_log::format_line() {
  std::lock_guard<std::mutex> lock(mutex);
  return format;
}

std::string ffmpeg_log::codec_line() {
  std::lock_guard<std::mutex> lock(mutex);
  return codec;
}

void ffmpeg_log::clear() {
  std::lock_guard<std::mutex> lock(mutex);
  format.clear();
  codec.clear();
}

void install_quiet_log() {
  static std::once_flag once;
  std::call_once(once, [] { av_log_set_callback(quiet_log); });
}

std::string error_text(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

}  // namespace trackvideo
