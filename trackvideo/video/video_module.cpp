// trackvideo/video/video_module.cpp - the video module's entry (see video_support.h):
// its table of factories of the FFmpeg reader and writer.
#include "trackvideo/video/video_decoder.h"
#include "trackvideo/video/video_encoder.h"
#include "trackvideo/video/video_support.h"

namespace {

trackvideo::video_reader* new_reader() {
  return new trackvideo::video_decoder();
}

trackvideo::video_writer* new_writer() {
  return new trackvideo::video_encoder();
}

constexpr trackvideo::video_support_table kTable = {trackvideo::kVideoSupportVersion, new_reader,
                                                    new_writer};

}  // namespace

extern "C" __attribute__((visibility("default"))) const trackvideo::video_support_table*
trackvideo_ffmpeg_support(int version) {
  return version == trackvideo::kVideoSupportVersion ? &kTable : nullptr;
}
