// trackvideo's frames: videos decoded to OpenCV's pixels, hostile videos
// refused with one line naming their cause, folder images decoded as histfeat
// decodes them, and folder order. OpenCV's own FFmpeg capture is the reference.

#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/videoio.hpp>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>

#include "child.h"
#include "trackvideo/input/frame_source.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/display.h>
}

namespace fs = std::filesystem;
using trackvideo::frame_source;

namespace {

std::string bytes_of(const fs::path& p) {
  return tavo_test::file_text(p);
}

void write_bytes(const fs::path& p, const std::string& bytes) {
  std::ofstream(p, std::ios::binary) << bytes;
}

// A test video: moving squares over a gradient, with noise, so that every
// chroma sample and every frame differ.
fs::path make_video(const fs::path& p, int fourcc, int frames, cv::Size size) {
  cv::VideoWriter writer(p.string(), cv::CAP_FFMPEG, fourcc, 25.0, size);
  if (!writer.isOpened()) return {};
  std::mt19937 random(7);
  for (int f = 0; f < frames; ++f) {
    cv::Mat m(size, CV_8UC3);
    for (int y = 0; y < size.height; ++y)
      for (int x = 0; x < size.width; ++x)
        m.at<cv::Vec3b>(y, x) = cv::Vec3b(static_cast<uchar>(3 * x + f), static_cast<uchar>(4 * y),
                                          static_cast<uchar>(random() % 256));
    m(cv::Rect(5 + 3 * f, 7 + 2 * f, 21, 17) & cv::Rect(0, 0, size.width, size.height))
        .setTo(cv::Scalar(20, 200, 90));
    writer.write(m);
  }
  writer.release();
  return p;
}

std::vector<cv::Mat> opencv_frames(const fs::path& p) {
  cv::VideoCapture capture(p.string(), cv::CAP_FFMPEG);
  std::vector<cv::Mat> frames;
  for (cv::Mat m; capture.read(m);) frames.push_back(m.clone());
  return frames;
}

// Reads frames until one fails: their number and the failure.
std::pair<int, std::string> read_all(frame_source& src) {
  cv::Mat m;
  int n = 0;
  std::string why;
  while ((why = src.next(m)).empty()) ++n;
  return {n, why};
}

// Copies the first stream of `in` into `out` with a display matrix that turns
// it by `degrees` counterclockwise, as a phone marks its videos. False on failure.
bool remux_turned(const fs::path& in, const fs::path& out, double degrees) {
  AVFormatContext* from = nullptr;
  if (avformat_open_input(&from, in.c_str(), nullptr, nullptr) < 0) return false;
  AVFormatContext* to = nullptr;
  bool ok = avformat_find_stream_info(from, nullptr) >= 0 &&
            avformat_alloc_output_context2(&to, nullptr, nullptr, out.c_str()) >= 0;
  AVStream* stream = ok ? avformat_new_stream(to, nullptr) : nullptr;
  ok = stream && avcodec_parameters_copy(stream->codecpar, from->streams[0]->codecpar) >= 0;
  if (ok) {
    stream->codecpar->codec_tag = 0;
    stream->time_base = from->streams[0]->time_base;
    auto* matrix = reinterpret_cast<std::int32_t*>(
        av_stream_new_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, 9 * sizeof(std::int32_t)));
    ok = matrix != nullptr;
    if (ok) av_display_rotation_set(matrix, degrees);
  }
  ok = ok && avio_open(&to->pb, out.c_str(), AVIO_FLAG_WRITE) >= 0 &&
       avformat_write_header(to, nullptr) >= 0;
  AVPacket* packet = av_packet_alloc();
  while (ok && av_read_frame(from, packet) >= 0) {
    if (packet->stream_index == 0) {
      av_packet_rescale_ts(packet, from->streams[0]->time_base, stream->time_base);
      ok = av_interleaved_write_frame(to, packet) >= 0;
    }
    av_packet_unref(packet);
  }
  ok = ok && av_write_trailer(to) >= 0;
  av_packet_free(&packet);
  if (to && to->pb) avio_closep(&to->pb);
  avformat_free_context(to);
  avformat_close_input(&from);
  return ok;
}

const int kMjpg = cv::VideoWriter::fourcc('M', 'J', 'P', 'G');
const int kAvc1 = cv::VideoWriter::fourcc('a', 'v', 'c', '1');

}  // namespace

// ---- videos ------------------------------------------------------------------------

TEST(TrackvideoVideoDecoder, EveryPixelAndTheRateAsOpenCVInAviMp4MkvTsAndMpg) {
  tavo_test::scratch_dir s;
  // 100 x 74: H.264 codes 112 x 80, so the cut to the stream's size is checked.
  // MPEG-TS and MPEG-1 program streams: formats FFmpeg guesses weakly from the
  // first bytes.
  const int mpeg1 = cv::VideoWriter::fourcc('P', 'I', 'M', '1');
  for (const auto& [name, fourcc] :
       {std::pair{"v.avi", kMjpg}, std::pair{"v.mp4", kAvc1}, std::pair{"v.mkv", kAvc1},
        std::pair{"v.ts", kAvc1}, std::pair{"v.mpg", mpeg1}}) {
    const fs::path p = make_video(s.path() / name, fourcc, 14, cv::Size(100, 74));
    ASSERT_FALSE(p.empty()) << name << ": no encoder";
    const std::vector<cv::Mat> expected = opencv_frames(p);
    ASSERT_EQ(expected.size(), 14u) << name;
    frame_source src;
    ASSERT_EQ(src.open_video(p.string()), "") << name;
    EXPECT_DOUBLE_EQ(src.fps(), cv::VideoCapture(p.string(), cv::CAP_FFMPEG).get(cv::CAP_PROP_FPS));
    cv::Mat m;
    for (std::size_t f = 0; f < expected.size(); ++f) {
      // Every third frame passed over: the frames after it are still right.
      if (f % 3 == 1) {
        ASSERT_EQ(src.skip(), "") << name << " frame " << f + 1;
        continue;
      }
      ASSERT_EQ(src.next(m), "") << name << " frame " << f + 1;
      ASSERT_EQ(m.size(), expected[f].size()) << name;
      EXPECT_EQ(cv::norm(m, expected[f], cv::NORM_INF), 0) << name << " frame " << f + 1;
    }
    EXPECT_EQ(src.next(m), p.string() + ": no frame 15 (the video ends after 14 frames)");
  }
}

// A phone's video is stored unturned with a matrix saying how to show it;
// OpenCV turns the frames, and so must we (each angle its own way).
TEST(TrackvideoVideoDecoder, TurnedAsOpenCVTurnsByTheDisplayMatrix) {
  tavo_test::scratch_dir s;
  const fs::path plain = make_video(s.path() / "plain.mp4", kAvc1, 3, cv::Size(48, 32));
  ASSERT_FALSE(plain.empty());
  for (const double degrees : {90.0, 180.0, 270.0}) {
    const fs::path turned = s.path() / ("turned" + std::to_string(int(degrees)) + ".mp4");
    ASSERT_TRUE(remux_turned(plain, turned, degrees)) << degrees;
    const std::vector<cv::Mat> expected = opencv_frames(turned);
    ASSERT_EQ(expected.size(), 3u);
    ASSERT_EQ(expected[0].size(), degrees == 180 ? cv::Size(48, 32) : cv::Size(32, 48));
    frame_source src;
    ASSERT_EQ(src.open_video(turned.string()), "");
    cv::Mat m;
    for (const cv::Mat& e : expected) {
      ASSERT_EQ(src.next(m), "") << degrees;
      ASSERT_EQ(m.size(), e.size()) << degrees;
      EXPECT_EQ(cv::norm(m, e, cv::NORM_INF), 0) << degrees;
    }
  }
}

TEST(TrackvideoVideoDecoder, HostileVideosFailWithOneLineAndTheirCause) {
  tavo_test::scratch_dir s;
  const fs::path avi = make_video(s.path() / "v.avi", kMjpg, 12, cv::Size(64, 48));
  const fs::path mp4 = make_video(s.path() / "v.mp4", kAvc1, 30, cv::Size(160, 120));
  const fs::path one = make_video(s.path() / "one.avi", kMjpg, 1, cv::Size(16, 16));
  ASSERT_FALSE(avi.empty() || mp4.empty() || one.empty());

  std::mt19937 random(11);
  std::string noise(200 * 1024, '\0');
  for (char& c : noise) c = static_cast<char>(random());
  write_bytes(s.path() / "random.avi", noise);
  // Extensions of demuxers without a signature: "bin" (text as pictures), and
  // "h261", whose stream of random bytes even has a pixel format.
  write_bytes(s.path() / "random.bin", noise);
  write_bytes(s.path() / "random.h261", noise);
  write_bytes(s.path() / "tracks.txt", "1,1,10,10,5,5,1,-1,-1,-1\n");
  write_bytes(s.path() / "art.ans", "\x1b[31mred\x1b[0m text\n");
  // Sound alone: a real container without a video stream.
  std::string wav(
      "RIFF\x24\x10\0\0WAVEfmt \x10\0\0\0\x01\0\x01\0\x40\x1f\0\0\x80\x3e\0\0\x02\0"
      "\x10\0data\0\x10\0\0",
      44);
  write_bytes(s.path() / "sound.wav", wav + std::string(4096, '\x10'));
  const std::string avi_bytes = bytes_of(avi);
  write_bytes(s.path() / "cut.avi", avi_bytes.substr(0, avi_bytes.size() / 2));
  // The middle of the coded frames (the index is at the end) overwritten.
  std::string mp4_bytes = bytes_of(mp4);
  for (std::size_t i = mp4_bytes.size() * 2 / 5; i < mp4_bytes.size() * 2 / 5 + 800; ++i)
    mp4_bytes[i] = static_cast<char>(random());
  write_bytes(s.path() / "damaged.mp4", mp4_bytes);

  struct hostile {
    const char* name;
    std::string open_error, read_error;  // what the line holds after the path
  };
  const hostile cases[] = {
      {"random.avi", " as a video", ""},
      {"random.bin", " as a video", ""},
      {"random.h261", " as a video", ""},
      {"tracks.txt", " as a video", ""},
      {"art.ans", " as a video", ""},
      {"sound.wav", " as a video", ""},
      {"cut.avi", "", ": no frame "},
      {"damaged.mp4", "", " cannot be decoded: "},
      {"one.avi", "", ": no frame 2 (the video ends after 1 frame)"},
  };
  for (const hostile& c : cases) {
    const std::string p = (s.path() / c.name).string();
    frame_source src;
    const std::string opened = src.open_video(p);
    if (!c.open_error.empty()) {
      EXPECT_EQ(opened, "cannot open " + p + c.open_error) << c.name;
      continue;
    }
    ASSERT_EQ(opened, "") << c.name;
    const auto [frames, why] = read_all(src);
    EXPECT_EQ(why.find('\n'), std::string::npos) << c.name;
    EXPECT_EQ(why.rfind(p, 0), 0u) << c.name << ": " << why;
    EXPECT_NE(why.find(c.read_error), std::string::npos) << c.name << ": " << why;
    if (c.name == std::string("cut.avi")) {  // frames stop early, and it says where
      EXPECT_GT(frames, 0);
      EXPECT_LT(frames, 12);
      EXPECT_EQ(why, p + ": no frame " + std::to_string(frames + 1) + " (the video ends after " +
                         std::to_string(frames) + " frames)");
    }
    if (c.name == std::string("damaged.mp4")) {  // damage, not an early end
      EXPECT_LT(frames, 30);
      EXPECT_EQ(why.find("ends after"), std::string::npos) << why;
      EXPECT_NE(why.find(": frame " + std::to_string(frames + 1) + " cannot"), std::string::npos);
    }
  }

  // A name with a line break is quoted, so the message stays one line.
  const fs::path odd = s.path() / "a\nb.avi";
  write_bytes(odd, noise);
  const std::string odd_line = frame_source().open_video(odd.string());
  EXPECT_EQ(odd_line.rfind("cannot open '", 0), 0u) << odd_line;
  EXPECT_EQ(odd_line.find('\n'), std::string::npos) << odd_line;

  // The pixel limit, for the whole stream at opening.
  frame_source small(64 * 48 - 1);
  EXPECT_EQ(small.open_video(avi.string()),
            avi.string() + ": 64 x 48 pixels, more than the limit of 3071");
}

// The real program: FFmpeg's own messages (the H.264 decoder complains loudly of
// damage) never reach the terminal; the one line is ours.
TEST(HostileTrackvideoVideo, NothingOfTheLibrariesOnStandardError) {
  tavo_test::scratch_dir s;
  const fs::path mp4 = make_video(s.path() / "v.mp4", kAvc1, 30, cv::Size(160, 120));
  ASSERT_FALSE(mp4.empty());
  std::string bytes = bytes_of(mp4);
  std::mt19937 random(5);
  for (std::size_t i = bytes.size() * 2 / 5; i < bytes.size() * 2 / 5 + 800; ++i)
    bytes[i] = static_cast<char>(random());
  write_bytes(s.path() / "damaged.mp4", bytes);
  write_bytes(s.path() / "cut.mp4", bytes_of(mp4).substr(0, bytes.size() / 2));
  const fs::path tracks = s.write("t.txt", "30,1,10,10,20,20,1,-1,-1,-1\n");
  for (const char* name : {"damaged.mp4", "cut.mp4"}) {
    const auto r = tavo_test::run_child(
        {TRACKVIDEO_EXE, "--tracks", tracks.string(), "--video", (s.path() / name).string()});
    EXPECT_EQ(r.status, 1) << name;
    EXPECT_EQ(r.out, "") << name;
    EXPECT_EQ(r.err.rfind("trackvideo: ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find((s.path() / name).string()), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  }
  // --max-pixels reaches the decoder.
  const auto limited = tavo_test::run_child({TRACKVIDEO_EXE, "--tracks", tracks.string(),
                                             "--video", mp4.string(), "--max-pixels", "19199"});
  EXPECT_EQ(limited.status, 1);
  EXPECT_EQ(limited.err,
            "trackvideo: " + mp4.string() + ": 160 x 120 pixels, more than the limit of 19199\n");
}

// ---- folders -----------------------------------------------------------------------

namespace {

// `jpeg` with an APP1 Exif segment saying "rotate 90 degrees to display"
// (orientation 6) right after its start marker.
std::string with_exif_orientation_6(const std::string& jpeg) {
  const std::string tiff(
      "II*\0\x08\0\0\0"           // little-endian TIFF, first IFD at 8
      "\x01\0"                    // one entry:
      "\x12\x01\x03\0\x01\0\0\0"  // orientation, SHORT, count 1,
      "\x06\0\0\0"                // value 6
      "\0\0\0\0",                 // no next IFD
      26);
  const std::string body = std::string("Exif\0\0", 6) + tiff;
  const std::size_t length = body.size() + 2;
  std::string segment = "\xFF\xE1";
  segment += static_cast<char>(length >> 8);
  segment += static_cast<char>(length & 0xFF);
  return jpeg.substr(0, 2) + segment + body + jpeg.substr(2);
}

std::string encoded_jpeg(cv::Size size) {
  cv::Mat m(size, CV_8UC3);
  cv::randu(m, 0, 256);
  std::vector<uchar> out;
  cv::imencode(".jpg", m, out);
  return std::string(out.begin(), out.end());
}

}  // namespace

// Through both programs: trackvideo's detection file is histfeat's for the same
// boxes, and a file histfeat refuses is refused with histfeat's line.
TEST(EndToEndTrackvideoImages, ExifRotatedAndCutJpegAsHistfeat) {
  tavo_test::scratch_dir s;
  const std::string jpeg = encoded_jpeg(cv::Size(64, 40));
  fs::create_directories(s.path() / "rotated");
  fs::create_directories(s.path() / "cut");
  const fs::path rotated = s.path() / "rotated" / "1.jpg", cut = s.path() / "cut" / "1.jpg";
  write_bytes(rotated, with_exif_orientation_6(jpeg));
  write_bytes(cut, jpeg.substr(0, jpeg.size() * 3 / 5));
  // The orientation is real: OpenCV turns the picture unless told not to.
  ASSERT_EQ(cv::imread(rotated.string()).size(), cv::Size(40, 64));

  // Three boxes (histfeat's line), the first fitting only the unturned 64 x 40
  // picture.
  const fs::path tracks = s.write("t.txt",
                                  "1,1,30,5,30,30,1,-1,-1,-1\n"
                                  "1,1,0,0,10,10,1,-1,-1,-1\n"
                                  "1,1,40,20,24,20,1,-1,-1,-1\n");
  const fs::path pos = s.write("pos.txt", "30 5 59 34 0 0 9 9 40 20 63 39\n");
  const fs::path det = s.path() / "det", expected = s.path() / "expected.txt";
  const auto tv =
      tavo_test::run_child({TRACKVIDEO_EXE, "--tracks", tracks.string(), "--frames",
                            (s.path() / "rotated").string(), "--detections", det.string()});
  ASSERT_EQ(tv.status, 0) << tv.err;
  const auto hf =
      tavo_test::run_child({HISTFEAT_EXE, rotated.string(), pos.string(), expected.string()});
  ASSERT_EQ(hf.status, 0) << hf.err;
  std::vector<fs::path> files;
  for (const auto& e : fs::directory_iterator(det)) files.push_back(e.path());
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(bytes_of(files[0]), bytes_of(expected));

  const auto tv_cut = tavo_test::run_child(
      {TRACKVIDEO_EXE, "--tracks", tracks.string(), "--frames", (s.path() / "cut").string()});
  const auto hf_cut =
      tavo_test::run_child({HISTFEAT_EXE, cut.string(), pos.string(), expected.string()});
  EXPECT_EQ(tv_cut.status, 1);
  EXPECT_EQ(hf_cut.status, 1);
  EXPECT_EQ(std::count(tv_cut.err.begin(), tv_cut.err.end(), '\n'), 1) << tv_cut.err;
  ASSERT_EQ(tv_cut.err.rfind("trackvideo: ", 0), 0u) << tv_cut.err;
  ASSERT_EQ(hf_cut.err.rfind("histfeat: ", 0), 0u) << hf_cut.err;
  EXPECT_NE(tv_cut.err.find(cut.string() + ": "), std::string::npos) << tv_cut.err;
  EXPECT_EQ(tv_cut.err.substr(12), hf_cut.err.substr(10));
}

// trackvideo reads JPEG and PNG frames only (histfeat, with OpenCV behind it,
// reads the others): a frame of another format ends the run with one line
// naming the file.
TEST(EndToEndTrackvideoImages, OtherFormatsRefusedWithOneLineHistfeatReadsThem) {
  tavo_test::scratch_dir s;
  const fs::path tracks = s.write("t.txt", "1,1,0,0,4,4\n");
  const fs::path pos = s.write("pos.txt", "0 0 3 3 1 1 4 4 2 2 5 5\n");
  for (const char* extension : {".bmp", ".tif", ".webp", ".ppm"}) {
    const fs::path dir = s.path() / (std::string("frames") + extension);
    fs::create_directories(dir);
    const fs::path frame = dir / (std::string("1") + extension);
    ASSERT_TRUE(cv::imwrite(frame.string(), cv::Mat(8, 8, CV_8UC3, cv::Scalar(1, 2, 3))))
        << extension;
    const auto tv = tavo_test::run_child(
        {TRACKVIDEO_EXE, "--tracks", tracks.string(), "--frames", dir.string()});
    EXPECT_EQ(tv.status, 1) << extension;
    EXPECT_EQ(tv.err,
              "trackvideo: cannot decode " + frame.string() + ": not a JPEG or PNG image\n");
    const auto hf = tavo_test::run_child(
        {HISTFEAT_EXE, frame.string(), pos.string(), (s.path() / "out.txt").string()});
    EXPECT_EQ(hf.status, 0) << extension << ": " << hf.err;
  }
}

TEST(TrackvideoFrameSource, NaturalCaseFoldedOrderHiddenFilesSkippedImagesOnly) {
  std::vector<std::string> names = {"f10.png",  "f2.png",   "f02.png", "f1b.png", "a",     "f1.png",
                                    "IMG5.JPG", "img1.jpg", "B",       "b",       "F3.png"};
  std::sort(names.begin(), names.end(), trackvideo::natural_less);
  EXPECT_EQ(names,
            (std::vector<std::string>{"a", "B", "b", "f1.png", "f1b.png", "f02.png", "f2.png",
                                      "F3.png", "f10.png", "img1.jpg", "IMG5.JPG"}));
  for (const char* yes : {"a.JPG", "b.jpeg", "c.Png", "d.bmp", "e.tif", "f.TIFF", "g.webp", "h.ppm",
                          "i.pgm", "j.pnm"})
    EXPECT_TRUE(trackvideo::has_image_extension(yes)) << yes;
  for (const char* no : {"tracks.txt", "png", ".png", "x.png.bak", "y.gif"})
    EXPECT_FALSE(trackvideo::has_image_extension(no)) << no;

  tavo_test::scratch_dir s;
  const cv::Mat grey(4, 6, CV_8UC1, cv::Scalar(7));
  cv::imwrite((s.path() / "10.png").string(), grey);
  cv::imwrite((s.path() / "2.PNG").string(), cv::Mat(5, 3, CV_8UC3, cv::Scalar(1, 2, 3)));
  cv::imwrite((s.path() / "._2.png").string(), grey);  // a copying tool's leftovers
  cv::imwrite((s.path() / ".hidden.png").string(), grey);
  s.write("notes.txt", "not a frame");
  s.write("30.png", "");  // empty: listed, then refused
  fs::create_directory(s.path() / "sub.png");
  frame_source src;
  ASSERT_EQ(src.open_folder(s.path().string()), "");
  ASSERT_EQ(src.images().size(), 3u);
  cv::Mat frame;
  ASSERT_EQ(src.next(frame), "");
  EXPECT_EQ(frame.cols, 3);  // 2.PNG before 10.png and 30.png
  EXPECT_EQ(frame.at<cv::Vec3b>(0, 0), cv::Vec3b(1, 2, 3));
  ASSERT_EQ(src.next(frame), "");
  EXPECT_EQ(frame.type(), CV_8UC3);  // a grey image comes as three channels
  EXPECT_EQ(frame.at<cv::Vec3b>(3, 5), cv::Vec3b(7, 7, 7));
  const std::string empty = (s.path() / "30.png").string();
  EXPECT_EQ(src.next(frame), "cannot decode " + empty + " as a colour image");

  // A name swapped for a FIFO after the listing is refused, not waited on.
  frame_source swapped;
  ASSERT_EQ(swapped.open_folder(s.path().string()), "");
  const fs::path first = s.path() / "2.PNG";
  fs::remove(first);
  ASSERT_EQ(::mkfifo(first.c_str(), 0600), 0);
  EXPECT_EQ(swapped.next(frame), "cannot open " + first.string() + ": not a regular file");
  EXPECT_NE(src.open_folder((s.path() / "none").string()), "");
}
