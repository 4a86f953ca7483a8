// trackvideo/video/video_decoder.cpp - video frames through FFmpeg's libraries (see
// video_decoder.h).
#include "trackvideo/video/video_decoder.h"
#include "trackvideo/base/failure.h"

#include "common/input_file.h"
#include "common/tokens.h"
#include "trackvideo/video/ffmpeg_log.h"

#include <sys/stat.h>
#include <unistd.h>

#include <opencv2/core.hpp>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

namespace trackvideo {

namespace {

// Formats are guessed from the content alone (the name's extension would
// make any file of that extension a candidate of the formats that have no
// signature: random bytes named .h261 "open" as an H.261 stream), over its
// first kProbeBytes, and a guess must score above AVPROBE_SCORE_RETRY, the
// score at which FFmpeg itself stops reading for a better guess. Random bytes
// score at most 5 (a subtitle format seeing a bracket, measured over 80 files of
// 200 KB and 1 MB); AVI, MP4, Matroska, MPEG-TS and FLV score 100, an MPEG
// program stream 26 or more.
constexpr int kMinProbeScore = AVPROBE_SCORE_RETRY + 1;
constexpr std::size_t kProbeBytes = std::size_t{1} << 20;

// Reads the open descriptor (a regular file) for the demuxer.
struct file_input {
  int fd = -1;
  long long size = 0;
};

extern "C" int read_input(void* opaque, std::uint8_t* buffer, int n) {
  const file_input* in = static_cast<const file_input*>(opaque);
  ssize_t got;
  do {
    got = ::read(in->fd, buffer, static_cast<std::size_t>(n));
  } while (got < 0 && errno == EINTR);
  if (got < 0) return AVERROR(errno);
  return got == 0 ? AVERROR_EOF : static_cast<int>(got);
}

extern "C" std::int64_t seek_input(void* opaque, std::int64_t offset, int whence) {
  const file_input* in = static_cast<const file_input*>(opaque);
  if (whence & AVSEEK_SIZE) return in->size;
  const off_t at = ::lseek(in->fd, static_cast<off_t>(offset), whence & ~AVSEEK_FORCE);
  return at < 0 ? AVERROR(errno) : static_cast<std::int64_t>(at);
}

// The format of the file open as `fd` (`size` bytes), guessed from its first
// bytes alone, and its score; nullptr when none fits. Reads with pread (the
// offset stays 0). Throws std::bad_alloc.
const AVInputFormat* guess_format(int fd, long long size, int& score) {
  const std::size_t want =
      static_cast<std::size_t>(std::min<long long>(std::max(size, 0LL), kProbeBytes));
  std::vector<unsigned char> head(want + AVPROBE_PADDING_SIZE, 0);  // zero padding
  std::size_t got = 0;
  while (got < want) {
    const ssize_t n = ::pread(fd, head.data() + got, want - got, static_cast<off_t>(got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  AVProbeData probe{"", head.data(), static_cast<int>(got), nullptr};
  score = 0;
  return av_probe_input_format3(&probe, 1, &score);
}

bool text_picture_codec(AVCodecID id) {
  return id == AV_CODEC_ID_ANSI || id == AV_CODEC_ID_BINTEXT || id == AV_CODEC_ID_XBIN ||
         id == AV_CODEC_ID_IDF;
}

}  // namespace

// FFmpeg's objects, freed in reverse order by the destructor.
struct video_decoder::state {
  ffmpeg_log log;  // the demuxer's and the decoder's first complaints
  file_input input;
  AVIOContext* io = nullptr;
  AVFormatContext* format = nullptr;
  AVCodecContext* codec = nullptr;
  AVPacket* packet = nullptr;
  AVFrame* picture = nullptr;
  AVFrame* bgr = nullptr;  // the converted picture, at the coded size
  SwsContext* scaler = nullptr;
  int stream = -1;
  int width = 0, height = 0;            // the stream's size
  int held_width = 0, held_height = 0;  // the part of `bgr` handed out
  // Minus the display matrix's angle, in [0, 360): 90 turns the frames a
  // quarter counterclockwise, 270 clockwise, 180 half round (as OpenCV does).
  int rotation = 0;
  bool draining = false;  // the input has ended; the decoder gives what it holds
  ~state() {
    sws_freeContext(scaler);
    av_frame_free(&bgr);
    av_frame_free(&picture);
    av_packet_free(&packet);
    avcodec_free_context(&codec);
    avformat_close_input(&format);
    if (io) av_freep(&io->buffer);
    avio_context_free(&io);
    if (input.fd >= 0) ::close(input.fd);
  }
};

video_decoder::video_decoder() = default;
video_decoder::~video_decoder() = default;

std::string video_decoder::open(const std::string& path, long long max_pixels, int threads) {
  install_quiet_log();
  name_ = common::shown_name(path);
  max_pixels_ = max_pixels;
  frames_ = 0;
  held_ = false;
  s_.reset();
  s_ = std::make_unique<state>();
  state& s = *s_;
  const std::string refused = "cannot open " + name_ + " as a video";
  const std::string no_memory = kOutOfMemory;
  auto too_large = [&](int width, int height) {
    return name_ + ": " + std::to_string(width) + " x " + std::to_string(height) +
           " pixels, more than the limit of " + std::to_string(max_pixels);
  };

  struct stat st;
  const std::string why = common::open_regular(path, s.input.fd, st);
  if (!why.empty()) return "cannot open " + name_ + ": " + why;
  s.input.size = static_cast<long long>(st.st_size);

  constexpr int kBufferBytes = 1 << 16;
  auto* buffer = static_cast<unsigned char*>(av_malloc(kBufferBytes));
  if (!buffer) return no_memory;
  s.io = avio_alloc_context(buffer, kBufferBytes, 0, &s.input, read_input, nullptr, seek_input);
  if (!s.io) {
    av_free(buffer);
    return no_memory;
  }
  s.format = avformat_alloc_context();
  if (!s.format) return no_memory;
  s.format->pb = s.io;
  s.format->flags |= AVFMT_FLAG_CUSTOM_IO;
  s.format->opaque = &s.log;
  int score = 0;
  const AVInputFormat* format = guess_format(s.input.fd, s.input.size, score);
  if (!format || score < kMinProbeScore || std::strcmp(format->name, "tty") == 0) return refused;
  int err = avformat_open_input(&s.format, path.c_str(), format, nullptr);
  if (err == AVERROR(ENOMEM)) return no_memory;
  if (err < 0) return refused;  // s.format freed by FFmpeg
  // The size a container states is checked before probing decodes anything.
  for (unsigned i = 0; i < s.format->nb_streams; ++i) {
    const AVCodecParameters* par = s.format->streams[i]->codecpar;
    if (par->codec_type != AVMEDIA_TYPE_VIDEO) continue;
    if (static_cast<long long>(par->width) * par->height > max_pixels)
      return too_large(par->width, par->height);
    break;
  }
  {
    // Probing decodes a few frames: none larger than the limit either.
    std::vector<AVDictionary*> options(s.format->nb_streams, nullptr);
    const std::string limit = std::to_string(max_pixels);
    for (AVDictionary*& o : options) av_dict_set(&o, "max_pixels", limit.c_str(), 0);
    err = avformat_find_stream_info(s.format, options.empty() ? nullptr : options.data());
    for (AVDictionary*& o : options) av_dict_free(&o);
  }
  if (err == AVERROR(ENOMEM)) return no_memory;
  const int probed = err;

  // The first video stream, as OpenCV takes it.
  for (unsigned i = 0; i < s.format->nb_streams; ++i)
    if (s.format->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
      s.stream = static_cast<int>(i);
      break;
    }
  if (s.stream < 0) return refused;
  AVStream* stream = s.format->streams[s.stream];
  const AVCodecParameters* par = stream->codecpar;
  if (static_cast<long long>(par->width) * par->height > max_pixels)
    return too_large(par->width, par->height);
  if (probed < 0) return refused;
  if (text_picture_codec(par->codec_id) || par->format == AV_PIX_FMT_NONE || par->width <= 0 ||
      par->height <= 0)
    return refused;
  const AVCodec* decoder = avcodec_find_decoder(par->codec_id);
  if (!decoder) return refused;
  s.codec = avcodec_alloc_context3(decoder);
  if (!s.codec) return no_memory;
  err = avcodec_parameters_to_context(s.codec, par);
  if (err < 0) return err == AVERROR(ENOMEM) ? no_memory : refused;
  s.codec->opaque = &s.log;
  // Frame and slice threads, as many as asked (0: as many as cores, FFmpeg's
  // choice).
  s.codec->thread_count = std::max(threads, 0);
  s.codec->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
  s.codec->max_pixels = max_pixels;
  err = avcodec_open2(s.codec, decoder, nullptr);
  if (err == AVERROR(ENOMEM)) return no_memory;
  if (err < 0) return refused;
  // A size the decoder changed at opening stays the stream's (as in OpenCV).
  if (par->width && s.codec->width != par->width) s.codec->width = par->width;
  if (par->height && s.codec->height != par->height) s.codec->height = par->height;
  s.width = par->width;
  s.height = par->height;

  const std::uint8_t* matrix = av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, nullptr);
  if (matrix) {
    const double angle = av_display_rotation_get(reinterpret_cast<const std::int32_t*>(matrix));
    if (std::isfinite(angle)) {
      int turn = -static_cast<int>(std::lround(angle));
      if (turn < 0) turn += 360;
      s.rotation = turn == 90 || turn == 180 || turn == 270 ? turn : 0;
    }
  }

  s.packet = av_packet_alloc();
  s.picture = av_frame_alloc();
  s.bgr = av_frame_alloc();
  if (!s.packet || !s.picture || !s.bgr) return no_memory;
  s.log.clear();  // what the guessing and probing said of other formats
  return "";
}

double video_decoder::fps(double fallback) const {
  if (!s_ || !s_->format || s_->stream < 0) return fallback;
  const AVRational r = av_guess_frame_rate(s_->format, s_->format->streams[s_->stream], nullptr);
  const double rate = r.num == 0 || r.den == 0 ? 0.0 : av_q2d(r);
  return std::isfinite(rate) && rate > 0 && rate < 1000 ? rate : fallback;
}

std::string video_decoder::fail_frame(const std::string& reason) {
  return name_ + ": frame " + std::to_string(frames_ + 1) + " cannot be decoded: " + reason;
}

std::string video_decoder::next(cv::Mat* frame, bool& ended) {
  std::string why = decode(frame != nullptr, ended);
  if (why.empty() && !ended && frame) copy_held(*frame);
  return why;
}

std::string video_decoder::decode(bool keep, bool& ended) {
  state& s = *s_;
  ended = false;
  held_ = false;
  auto logged = [&s](bool demuxer) { return demuxer ? s.log.format_line() : s.log.codec_line(); };
  for (;;) {
    int err = avcodec_receive_frame(s.codec, s.picture);
    if (err == 0) {
      const std::string complaint = logged(false);
      // A complaint may come from this frame or from one decoded after it but
      // not yet handed out (in another frame thread, or held back for
      // reordering): it fails this frame, so that no damaged frame is ever
      // handed out (the damage may lie a few frames later). The decoder's own
      // mark is not enough: with frame threads it may be set too late.
      if (!complaint.empty()) return fail_frame(complaint);
      if ((s.picture->flags & AV_FRAME_FLAG_CORRUPT) || s.picture->decode_error_flags)
        return fail_frame("the decoder marks it damaged");
      if (static_cast<long long>(s.picture->width) * s.picture->height > max_pixels_)
        return name_ + ": frame " + std::to_string(frames_ + 1) + " has " +
               std::to_string(s.picture->width) + " x " + std::to_string(s.picture->height) +
               " pixels, more than the limit of " + std::to_string(max_pixels_);
      std::string why = keep ? convert() : "";
      av_frame_unref(s.picture);
      if (!why.empty()) return why;
      ++frames_;
      return "";
    }
    if (err == AVERROR(ENOMEM)) return kOutOfMemory;
    if (err == AVERROR_EOF) {
      // A complaint about a frame the decoder then dropped: the video is damaged,
      // not short.
      const std::string complaint = logged(false);
      if (!complaint.empty()) return fail_frame(complaint);
      ended = true;
      return "";
    }
    if (err != AVERROR(EAGAIN)) {
      const std::string complaint = logged(false);
      return fail_frame(complaint.empty() ? error_text(err) : complaint);
    }
    if (s.draining) {  // nothing more will come
      ended = true;
      return "";
    }

    err = av_read_frame(s.format, s.packet);
    bool end_of_input = false;
    if (err == AVERROR(ENOMEM)) return kOutOfMemory;
    if (err < 0) {
      // The end of the file, or a demuxer that found the file cut short: the
      // frames end here. Any other failure is damage.
      if (err != AVERROR_EOF && !avio_feof(s.format->pb)) {
        const std::string complaint = logged(true);
        return fail_frame(complaint.empty() ? error_text(err) : complaint);
      }
      end_of_input = true;
    } else if (s.packet->stream_index != s.stream) {
      av_packet_unref(s.packet);
      continue;
    } else if (s.packet->flags & AV_PKT_FLAG_CORRUPT) {
      // Marked by the demuxer: cut by the end of the file (the frames end
      // here), else damaged.
      av_packet_unref(s.packet);
      if (!avio_feof(s.format->pb)) return fail_frame("the container marks its data damaged");
      end_of_input = true;
    }
    if (end_of_input) {
      s.draining = true;
      err = avcodec_send_packet(s.codec, nullptr);
    } else {
      err = avcodec_send_packet(s.codec, s.packet);
      av_packet_unref(s.packet);
    }
    if (err == AVERROR(ENOMEM)) return kOutOfMemory;
    if (err < 0 && err != AVERROR(EAGAIN) && err != AVERROR_EOF) {
      const std::string complaint = logged(false);
      return fail_frame(complaint.empty() ? error_text(err) : complaint);
    }
  }
}

// As OpenCV converts: swscale at the decoder's coded size (bicubic), into a
// picture of that size, of which copy_held() hands out the stream's size.
std::string video_decoder::convert() {
  state& s = *s_;
  const AVFrame* p = s.picture;
  const int buffer_width = s.codec->coded_width > 0 ? s.codec->coded_width : p->width;
  const int buffer_height = s.codec->coded_height > 0 ? s.codec->coded_height : p->height;
  if (static_cast<long long>(buffer_width) * buffer_height > max_pixels_)
    return name_ + ": frame " + std::to_string(frames_ + 1) + " has " +
           std::to_string(buffer_width) + " x " + std::to_string(buffer_height) +
           " pixels, more than the limit of " + std::to_string(max_pixels_);
  if (!s.bgr->data[0] || s.bgr->width != buffer_width || s.bgr->height != buffer_height) {
    av_frame_unref(s.bgr);
    s.bgr->format = AV_PIX_FMT_BGR24;
    s.bgr->width = buffer_width;
    s.bgr->height = buffer_height;
    if (av_frame_get_buffer(s.bgr, 32) < 0) return kOutOfMemory;
  }
  s.scaler = sws_getCachedContext(
      s.scaler, buffer_width, buffer_height, static_cast<AVPixelFormat>(p->format), buffer_width,
      buffer_height, AV_PIX_FMT_BGR24, SWS_BICUBIC, nullptr, nullptr, nullptr);
  if (!s.scaler) return fail_frame("its pixel format cannot be converted");
  sws_scale(s.scaler, p->data, p->linesize, 0, p->height, s.bgr->data, s.bgr->linesize);
  // The stream's size, within what was converted.
  s.held_width = std::min(s.width > 0 ? s.width : p->width, buffer_width);
  s.held_height = std::min(s.height > 0 ? s.height : p->height, buffer_height);
  held_ = true;
  return "";
}

cv::Size video_decoder::held_size() const {
  if (!held_) return cv::Size(0, 0);
  const bool sideways = s_->rotation == 90 || s_->rotation == 270;
  return sideways ? cv::Size(s_->held_height, s_->held_width)
                  : cv::Size(s_->held_width, s_->held_height);
}

void video_decoder::copy_held(cv::Mat& frame) const {
  const state& s = *s_;
  const cv::Mat converted(s.held_height, s.held_width, CV_8UC3, s.bgr->data[0],
                          static_cast<std::size_t>(s.bgr->linesize[0]));
  switch (s.rotation) {
    case 90:
      cv::rotate(converted, frame, cv::ROTATE_90_COUNTERCLOCKWISE);
      break;
    case 180:
      cv::rotate(converted, frame, cv::ROTATE_180);
      break;
    case 270:
      cv::rotate(converted, frame, cv::ROTATE_90_CLOCKWISE);
      break;
    default:
      converted.copyTo(frame);
  }
}

}  // namespace trackvideo
