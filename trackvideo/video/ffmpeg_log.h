// trackvideo/video/ffmpeg_log.h - FFmpeg's log kept away from the terminal, and what
// it says about one reader's or writer's contexts kept for its messages.
//
// The process has one log callback (installed once by install_quiet_log): it
// prints nothing. A context whose `opaque` is a live ffmpeg_log (an
// AVCodecContext or AVFormatContext; FFmpeg copies a codec context's opaque
// into the contexts of its threads) has its first messages kept there: the
// (de)muxer's first error, the codec's first error or warning (errors only
// when `codec_warnings` is false). Another user of FFmpeg may set `opaque` to
// anything: only pointers registered by a live ffmpeg_log are followed.
//
// Ownership: the caller owns its ffmpeg_log and must free the contexts that
// point at it before it (it registers itself when made, unregisters when
// destroyed). Cost: keeping a line is O(its length), under a mutex.
#ifndef TRACKVIDEO_VIDEO_FFMPEG_LOG_H
#define TRACKVIDEO_VIDEO_FFMPEG_LOG_H

#include <mutex>
#include <string>

namespace trackvideo {

struct ffmpeg_log {
  ffmpeg_log();
  ~ffmpeg_log();
  ffmpeg_log(const ffmpeg_log&) = delete;
  ffmpeg_log& operator=(const ffmpeg_log&) = delete;

  // The first line kept from the (de)muxer or the codec; "" when none.
  std::string format_line();
  std::string codec_line();
  // Forgets what was kept.
  void clear();

  bool codec_warnings = true;  // set before the contexts log anything

  std::mutex mutex;  // guards the lines: the codec's threads log concurrently
  std::string format, codec;
};

// Makes FFmpeg's log callback the quiet one; idempotent, thread-safe.
void install_quiet_log();

// FFmpeg's text for an AVERROR code ("No space left on device", ...).
std::string error_text(int code);

}  // namespace trackvideo

#endif  // TRACKVIDEO_VIDEO_FFMPEG_LOG_H
