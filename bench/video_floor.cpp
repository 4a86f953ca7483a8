// bench/video_floor.cpp - the least any program reading a video's frames as
// BGR pictures does: trackvideo's floor in bench/trackvideo.sh.
//
//   video_floor [--threads N] VIDEO
//
// Decodes every frame of the first video stream with libavformat and
// libavcodec, frame and slice threads as trackvideo's decoder asks for them
// (N threads; 0, the default, lets FFmpeg take as many as there are cores),
// converts each to BGR24 with swscale at the decoder's coded size (bicubic,
// as trackvideo and OpenCV do) and prints the number of frames. Nothing else:
// no checks of the frames, no copies. Exit status 1 with a line on standard
// error when the video cannot be read.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

namespace {

[[noreturn]] void fail(const std::string& why) {
  std::fprintf(stderr, "video_floor: %s\n", why.c_str());
  std::exit(1);
}

}  // namespace

int main(int argc, char** argv) {
  int threads = 0;
  const char* path = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--threads") == 0 && i + 1 < argc)
      threads = std::atoi(argv[++i]);
    else if (!path)
      path = argv[i];
    else
      path = nullptr, i = argc;
  }
  if (!path || threads < 0) {
    std::fprintf(stderr, "usage: video_floor [--threads N] VIDEO\n");
    return 2;
  }
  av_log_set_level(AV_LOG_QUIET);

  AVFormatContext* format = nullptr;
  if (avformat_open_input(&format, path, nullptr, nullptr) < 0)
    fail(std::string("cannot open ") + path);
  if (avformat_find_stream_info(format, nullptr) < 0)
    fail(std::string("cannot read the streams of ") + path);
  const AVCodec* decoder = nullptr;
  const int stream = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0);
  if (stream < 0 || !decoder) fail(std::string("no video stream to decode in ") + path);
  AVCodecContext* codec = avcodec_alloc_context3(decoder);
  if (!codec || avcodec_parameters_to_context(codec, format->streams[stream]->codecpar) < 0)
    fail("cannot set up the decoder");
  codec->thread_count = threads;
  codec->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
  if (avcodec_open2(codec, decoder, nullptr) < 0) fail("cannot open the decoder");

  AVPacket* packet = av_packet_alloc();
  AVFrame* picture = av_frame_alloc();
  AVFrame* bgr = av_frame_alloc();
  SwsContext* scaler = nullptr;
  if (!packet || !picture || !bgr) fail("out of memory");
  long long frames = 0;

  // Hands out (converts) every frame the decoder has ready.
  auto receive = [&]() {
    while (avcodec_receive_frame(codec, picture) == 0) {
      const int width = codec->coded_width > 0 ? codec->coded_width : picture->width;
      const int height = codec->coded_height > 0 ? codec->coded_height : picture->height;
      if (!bgr->data[0] || bgr->width != width || bgr->height != height) {
        av_frame_unref(bgr);
        bgr->format = AV_PIX_FMT_BGR24;
        bgr->width = width;
        bgr->height = height;
        if (av_frame_get_buffer(bgr, 32) < 0) fail("out of memory");
      }
      scaler = sws_getCachedContext(scaler, width, height,
                                    static_cast<AVPixelFormat>(picture->format), width, height,
                                    AV_PIX_FMT_BGR24, SWS_BICUBIC, nullptr, nullptr, nullptr);
      if (!scaler) fail("cannot convert the pixel format");
      sws_scale(scaler, picture->data, picture->linesize, 0, picture->height, bgr->data,
                bgr->linesize);
      av_frame_unref(picture);
      ++frames;
    }
  };

  while (av_read_frame(format, packet) >= 0) {
    if (packet->stream_index == stream) {
      if (avcodec_send_packet(codec, packet) < 0)
        fail("frame " + std::to_string(frames + 1) + " cannot be decoded");
      receive();
    }
    av_packet_unref(packet);
  }
  avcodec_send_packet(codec, nullptr);
  receive();

  sws_freeContext(scaler);
  av_frame_free(&bgr);
  av_frame_free(&picture);
  av_packet_free(&packet);
  avcodec_free_context(&codec);
  avformat_close_input(&format);
  std::printf("%lld\n", frames);
  return 0;
}
