// trackvideo/video/video_encoder.cpp - H.264 in MP4 and Motion-JPEG in AVI through
// FFmpeg's libraries (see video_encoder.h).
#include "trackvideo/video/video_encoder.h"

#include "trackvideo/video/ffmpeg_log.h"

#include <opencv2/core.hpp>

#include <cerrno>
#include <cmath>
#include <new>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/rational.h>
#include <libswscale/swscale.h>
}

namespace trackvideo {

namespace {

// What each format is made of. H.264: constant quality, about what the eye
// leaves alone in drawn overlays, at a speed that keeps up with the run on a
// small machine. Motion-JPEG: every frame a JPEG of full-range YUV 4:2:0 at a
// fixed quantiser scale (kMjpegQscale), about the quality of a JPEG saved at
// 95 %.
struct format_traits {
  const char* muxer;
  const char* encoder;
  const char* codec_name;  // for messages
  const char* container;   // for messages
  AVPixelFormat pixels;
  bool even_size;  // 4:2:0 in H.264 needs even sizes; JPEG does not
};
const format_traits& traits(video_format format) {
  static const format_traits mp4 = {"mp4", "libx264", "H.264", "MP4", AV_PIX_FMT_YUV420P, true};
  static const format_traits avi = {"avi", "mjpeg", "Motion-JPEG", "AVI", AV_PIX_FMT_YUVJ420P,
                                    false};
  return format == video_format::mp4_h264 ? mp4 : avi;
}
constexpr const char* kCrf = "23";
constexpr const char* kPreset = "veryfast";
constexpr int kMjpegQscale = 2;
// The frame rate as a rational with a denominator of at most this (NTSC's
// 30000/1001 is found exactly).
constexpr int kMaxRateDenominator = 1 << 16;

void* check_alloc(void* p) {
  if (!p) throw std::bad_alloc();
  return p;
}

}  // namespace

// FFmpeg's objects, freed in reverse order by the destructor; `log` first, so
// that it outlives every context pointing at it.
struct video_encoder::state {
  ffmpeg_log log;
  AVFormatContext* format = nullptr;
  AVCodecContext* codec = nullptr;
  AVStream* stream = nullptr;  // owned by `format`
  AVFrame* picture = nullptr;  // the encoder's pixels, at the encoded size
  AVPacket* packet = nullptr;
  SwsContext* scaler = nullptr;
  cv::Mat padded;  // the frame grown to the even size, when it is odd

  ~state() {
    sws_freeContext(scaler);
    av_packet_free(&packet);
    av_frame_free(&picture);
    avcodec_free_context(&codec);
    if (format) {
      if (format->pb) avio_closep(&format->pb);
      avformat_free_context(format);
    }
  }
};

video_encoder::video_encoder() = default;
video_encoder::~video_encoder() = default;

std::string video_encoder::fail(int code, bool from_codec) {
  if (code == AVERROR(ENOMEM)) throw std::bad_alloc();
  // The muxer's errors are mostly the file's (disk full, a limit): errno's
  // text says them best; the codec's own line says more than EINVAL.
  std::string reason;
  if (from_codec)
    reason = s_->log.codec_line();
  else if (code == AVERROR(EINVAL))
    reason = s_->log.format_line();
  if (reason.empty()) reason = error_text(code);
  return "cannot write " + shown_ + ": " + reason;
}

std::string video_encoder::open(const std::string& path, const std::string& shown,
                                video_format format, double fps, int width, int height) {
  if (s_) return "cannot open " + shown + ": " + shown_ + " is still open";
  const format_traits& kind = traits(format);
  shown_ = shown;
  if (!(fps > 0) || !std::isfinite(fps))
    return "cannot write " + shown + ": frame rate " + std::to_string(fps) + " is not positive";
  const AVRational rate = av_d2q(fps, kMaxRateDenominator);
  if (rate.num <= 0 || rate.den <= 0 || rate.den > kMaxRateDenominator)
    return "cannot write " + shown + ": frame rate " + std::to_string(fps) + " is outside what " +
           kind.codec_name + " in " + kind.container + " can carry";
  if (width <= 0 || height <= 0 || width >= (1 << 16) || height >= (1 << 16))
    return "cannot write " + shown + ": frame size " + std::to_string(width) + " x " +
           std::to_string(height) + " cannot be encoded";
  install_quiet_log();
  const AVCodec* encoder = avcodec_find_encoder_by_name(kind.encoder);
  if (!encoder)
    return "cannot write " + shown + ": no " + kind.codec_name +
           " encoder is available (FFmpeg's libavcodec was built without " + kind.encoder + ")";

  format_ = format;
  size_ = cv::Size(width, height);
  encoded_ = kind.even_size ? cv::Size(width + (width & 1), height + (height & 1)) : size_;
  frames_ = 0;
  failed_.clear();
  s_ = std::make_unique<state>();  // fail() reads its log
  try {
    const std::string why = start(path, encoder, fps);
    if (!why.empty()) s_.reset();
    return why;
  } catch (...) {
    s_.reset();
    throw;
  }
}

// open()'s FFmpeg part: the muxer, the encoder, the stream, the file and its
// header, the picture and the converter. "" or what is wrong.
std::string video_encoder::start(const std::string& path, const AVCodec* encoder, double fps) {
  state& st = *s_;
  st.log.codec_warnings = false;  // x264's advice is no failure
  const format_traits& kind = traits(format_);
  const bool mp4 = format_ == video_format::mp4_h264;
  std::string why;

  int err = avformat_alloc_output_context2(&st.format, nullptr, kind.muxer, path.c_str());
  if (err < 0) why = fail(err, false);
  if (why.empty()) {
    st.format->opaque = &st.log;
    st.codec = static_cast<AVCodecContext*>(check_alloc(avcodec_alloc_context3(encoder)));
    AVCodecContext& c = *st.codec;
    const AVRational rate = av_d2q(fps, kMaxRateDenominator);  // checked by open()
    c.opaque = &st.log;
    c.width = encoded_.width;
    c.height = encoded_.height;
    c.pix_fmt = kind.pixels;
    c.time_base = av_inv_q(rate);
    c.framerate = rate;
    c.sample_aspect_ratio = AVRational{1, 1};
    // What swscale's default conversion produces, said in the stream: BT.601,
    // limited range for H.264, full range (as JPEG files are) for Motion-JPEG.
    c.colorspace = mp4 ? AVCOL_SPC_SMPTE170M : AVCOL_SPC_BT470BG;
    c.color_primaries = AVCOL_PRI_SMPTE170M;
    c.color_trc = AVCOL_TRC_SMPTE170M;
    c.color_range = mp4 ? AVCOL_RANGE_MPEG : AVCOL_RANGE_JPEG;
    if (!mp4) {
      c.flags |= AV_CODEC_FLAG_QSCALE;
      c.global_quality = FF_QP2LAMBDA * kMjpegQscale;
    }
    if (st.format->oformat->flags & AVFMT_GLOBALHEADER) c.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary* options = nullptr;
    if (mp4) {
      av_dict_set(&options, "preset", kPreset, 0);
      av_dict_set(&options, "crf", kCrf, 0);
    }
    err = avcodec_open2(st.codec, encoder, &options);
    av_dict_free(&options);
    if (err < 0) why = fail(err, true);
  }
  if (why.empty()) {
    st.stream = static_cast<AVStream*>(check_alloc(avformat_new_stream(st.format, nullptr)));
    err = avcodec_parameters_from_context(st.stream->codecpar, st.codec);
    if (err < 0) why = fail(err, false);
    st.stream->time_base = st.codec->time_base;
    st.stream->avg_frame_rate = st.codec->framerate;
  }
  if (why.empty() && (err = avio_open(&st.format->pb, path.c_str(), AVIO_FLAG_WRITE)) < 0)
    why = fail(err, false);
  if (why.empty()) {
    AVDictionary* options = nullptr;
    if (mp4) av_dict_set(&options, "movflags", "+faststart", 0);
    err = avformat_write_header(st.format, &options);
    av_dict_free(&options);
    if (err < 0) why = fail(err, false);
  }
  if (why.empty()) {
    st.picture = static_cast<AVFrame*>(check_alloc(av_frame_alloc()));
    st.picture->format = kind.pixels;
    st.picture->width = encoded_.width;
    st.picture->height = encoded_.height;
    if ((err = av_frame_get_buffer(st.picture, 0)) < 0) why = fail(err, false);
    st.packet = static_cast<AVPacket*>(check_alloc(av_packet_alloc()));
    st.scaler = static_cast<SwsContext*>(check_alloc(sws_getContext(
        encoded_.width, encoded_.height, AV_PIX_FMT_BGR24, encoded_.width, encoded_.height,
        kind.pixels, SWS_BICUBIC | SWS_ACCURATE_RND, nullptr, nullptr, nullptr)));
  }
  return why;
}

std::string video_encoder::drain(bool flush) {
  state& st = *s_;
  for (;;) {
    int err = avcodec_receive_packet(st.codec, st.packet);
    if (err == AVERROR(EAGAIN) && !flush) return "";
    if (err == AVERROR_EOF) return "";
    if (err < 0) return fail(err, true);
    av_packet_rescale_ts(st.packet, st.codec->time_base, st.stream->time_base);
    st.packet->stream_index = st.stream->index;
    err = av_interleaved_write_frame(st.format, st.packet);  // takes the packet's data
    if (err < 0) return fail(err, false);
  }
}

std::string video_encoder::refusal(int width, int height, int channels, bool eight_bit) const {
  if (!s_) return "cannot add a frame: the video is not open";
  if (!eight_bit || channels != 3 || cv::Size(width, height) != size_)
    return "cannot add a frame of " + std::to_string(width) + " x " + std::to_string(height) +
           " (" + std::to_string(channels) + " channels) to " + shown_ + ": its frames are " +
           std::to_string(size_.width) + " x " + std::to_string(size_.height) + ", 8-bit BGR";
  return "";
}

std::string video_encoder::write(const cv::Mat& frame) {
  if (std::string why = refusal(frame.cols, frame.rows, frame.channels(), frame.depth() == CV_8U);
      !why.empty())
    return why;
  if (!failed_.empty()) return failed_;
  state& st = *s_;
  const cv::Mat* source = &frame;
  if (encoded_ != size_) {
    cv::copyMakeBorder(frame, st.padded, 0, encoded_.height - size_.height, 0,
                       encoded_.width - size_.width, cv::BORDER_REPLICATE);
    source = &st.padded;
  }
  int err = av_frame_make_writable(st.picture);  // the encoder may hold the last one
  if (err < 0) return failed_ = fail(err, false);
  const std::uint8_t* planes[1] = {source->data};
  const int strides[1] = {static_cast<int>(source->step[0])};
  sws_scale(st.scaler, planes, strides, 0, encoded_.height, st.picture->data, st.picture->linesize);
  st.picture->pts = frames_;
  if (st.codec->flags & AV_CODEC_FLAG_QSCALE) st.picture->quality = st.codec->global_quality;
  err = avcodec_send_frame(st.codec, st.picture);
  if (err < 0) return failed_ = fail(err, true);
  if (std::string why = drain(false); !why.empty()) return failed_ = why;
  ++frames_;
  return "";
}

std::string video_encoder::close() {
  if (!s_) return "";
  std::string why = failed_;
  if (why.empty()) {
    const int err = avcodec_send_frame(s_->codec, nullptr);
    why = err < 0 ? fail(err, true) : drain(true);
  }
  int err = 0;
  if (why.empty() && (err = av_write_trailer(s_->format)) < 0) why = fail(err, false);
  // The trailer leaves bytes in the buffer when it fails: closing writes them.
  err = avio_closep(&s_->format->pb);
  if (why.empty() && err < 0) why = fail(err, false);
  s_.reset();
  return why;
}

}  // namespace trackvideo
