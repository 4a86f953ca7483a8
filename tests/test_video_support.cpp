// trackvideo's video module: found and loaded by the first video opened (not
// linked in here, so the real module is loaded), refused when it is missing,
// not a shared object, lacks the entry or has a table of another size,
// interface or build; the variable naming it a path to a regular file; the
// program end to end with the module and without it.
#include "trackvideo/video/video_support.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/child.h"

namespace fs = std::filesystem;
using namespace trackvideo;
using tavo_test::child_options;
using tavo_test::run_child;

namespace {

const fs::path kFootage = fs::path(TAVO_EXAMPLES_DIR) / "footage";
const fs::path kTracks = kFootage / "tracks.txt";
const std::string kModule = TRACKVIDEO_MODULE;
const std::string kVariable = "TRACKVIDEO_FFMPEG_MODULE";

tavo_test::child_result run_trackvideo(std::vector<std::string> args,
                                       std::vector<std::string> env = {}) {
  args.insert(args.begin(), TRACKVIDEO_EXE);
  child_options o;
  o.env = std::move(env);
  return run_child(args, o);
}

std::string no_file(const std::string& path) {
  return path + ": cannot open shared object file: No such file or directory";
}

std::string cannot_load(const std::string& path) {
  return "the video support (trackvideo-ffmpeg.so) cannot be loaded: " + no_file(path);
}

// The file of the C library's maths, loaded in this process already.
std::string libm_path() {
  Dl_info info{};
  const auto cosine = static_cast<double (*)(double)>(&::cos);
  return ::dladdr(reinterpret_cast<void*>(cosine), &info) && info.dli_fname ? info.dli_fname : "";
}

}  // namespace

// In order, in one process: each bad module is refused with its reason and
// the next call tries again; the real module then makes readers and writers
// (after a library the loader had loaded already and keeps).
TEST(VideoSupport, ABadModuleIsRefusedAndRetriedTheRealOneLoaded) {
  tavo_test::scratch_dir dir;
  const std::string missing = (dir.path() / "none.so").string();
  const std::string text = dir.write("text.so", std::string(200, 'x')).string();
  const std::string libm = libm_path(), fake = FAKE_MODULE;
  ASSERT_NE(libm, "");
  const std::string stamp = TRACKVIDEO_VIDEO_STAMP;
  struct bad_case {
    std::string module, table, reason;
  };
  const bad_case cases[] = {
      {missing, "", no_file(missing)},
      {text, "", text + ": invalid ELF header"},
      {libm, "", libm + " is not a video module of this version of trackvideo"},
      {fake, "small",
       fake + ": its table has " + std::to_string(sizeof(trackvideo_video_table) - sizeof(void*)) +
           " bytes, fewer than the " + std::to_string(sizeof(trackvideo_video_table)) +
           " of this program"},
      {fake, "version",
       fake + ": its interface is version " + std::to_string(TRACKVIDEO_VIDEO_INTERFACE + 1) +
           ", this program's " + std::to_string(TRACKVIDEO_VIDEO_INTERFACE)},
      {fake, "stamp",
       fake + ": it was built apart from this program (build stamp '4.1/GNU-12.2.0/?[31m', " +
           "this program's '" + stamp + "')"},
  };
  for (const bad_case& c : cases) {
    ASSERT_EQ(::setenv(kVariable.c_str(), c.module.c_str(), 1), 0);
    ASSERT_EQ(::setenv("TAVO_FAKE_VIDEO_TABLE", c.table.c_str(), 1), 0);
    std::unique_ptr<video_reader> reader;
    const std::string why = new_video_reader(reader);
    EXPECT_EQ(why, "the video support (trackvideo-ffmpeg.so) cannot be loaded: " + c.reason);
    EXPECT_EQ(reader, nullptr);
    std::unique_ptr<video_writer> writer;
    EXPECT_EQ(new_video_writer(writer), why);
  }

  ASSERT_EQ(::setenv(kVariable.c_str(), kModule.c_str(), 1), 0);
  std::unique_ptr<video_writer> writer;
  ASSERT_EQ(new_video_writer(writer), "");
  const std::string avi = (dir.path() / "v.avi").string();
  ASSERT_EQ(writer->open(avi, "v.avi", video_format::avi_mjpeg, 5, 32, 24), "");
  for (int k = 0; k < 3; ++k)
    ASSERT_EQ(writer->write(cv::Mat(24, 32, CV_8UC3, cv::Scalar::all(k * 80))), "");
  ASSERT_EQ(writer->close(), "");
  // Loaded once: a bad path now changes nothing.
  ASSERT_EQ(::setenv(kVariable.c_str(), missing.c_str(), 1), 0);
  std::unique_ptr<video_reader> reader;
  ASSERT_EQ(new_video_reader(reader), "");
  ASSERT_EQ(reader->open(avi, 1 << 20, 1), "");
  EXPECT_EQ(reader->fps(0), 5);
  cv::Mat frame;
  bool ended = false;
  for (int k = 0; k < 3; ++k) {
    ASSERT_EQ(reader->next(&frame, ended), "");
    ASSERT_FALSE(ended);
    EXPECT_NEAR(cv::mean(frame)[0], k * 80, 3) << k;
  }
  ASSERT_EQ(reader->next(&frame, ended), "");
  EXPECT_TRUE(ended);
  ::unsetenv(kVariable.c_str());
  ::unsetenv("TAVO_FAKE_VIDEO_TABLE");
}

// The program needs no FFmpeg and no video I/O of OpenCV to start: the
// dynamic loader's list of what it loads names none of them.
TEST(EndToEndVideoModule, TheProgramLinksNoFfmpegAndNoVideoIo) {
  const auto r = run_trackvideo({"--version"}, {"LD_TRACE_LOADED_OBJECTS=1"});
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_NE(r.out.find("libopencv_core"), std::string::npos) << r.out;
  for (const char* library : {"libavformat", "libavcodec", "libswscale", "libopencv_videoio"})
    EXPECT_EQ(r.out.find(library), std::string::npos) << library << " in\n" << r.out;
}

// Without the module, what needs no video works; a video to read or to write
// fails with one line naming it, and nothing is written. With the module
// beside the program, a video written by one run is read by the next.
TEST(EndToEndVideoModule, OnlyRunsWithAVideoNeedTheModule) {
  tavo_test::scratch_dir dir;
  const fs::path csv = dir.path() / "pairs.csv", avi = dir.path() / "o.avi";
  const std::string missing = (dir.path() / "gone" / "trackvideo-ffmpeg.so").string();
  const std::vector<std::string> no_module = {kVariable + "=" + missing};
  const std::vector<std::string> frames = {"--tracks", kTracks.string(), "--frames",
                                           kFootage.string(), "--quiet"};
  auto with = [](std::vector<std::string> args, const std::vector<std::string>& more) {
    args.insert(args.end(), more.begin(), more.end());
    return args;
  };

  EXPECT_EQ(run_trackvideo({"--version"}, no_module).status, 0);
  const auto from_folder = run_trackvideo(with(frames, {"--csv", csv.string()}), no_module);
  EXPECT_EQ(from_folder.status, 0) << from_folder.err;
  EXPECT_TRUE(fs::exists(csv));
  fs::remove(csv);

  const auto to_video = run_trackvideo(
      with(frames, {"--csv", csv.string(), "--overlay-video", avi.string()}), no_module);
  EXPECT_EQ(to_video.status, 1);
  EXPECT_EQ(to_video.err,
            "trackvideo: cannot write " + avi.string() + ": " + cannot_load(missing) + "\n");
  EXPECT_TRUE(fs::is_empty(dir.path())) << "nothing written";

  const auto written = run_trackvideo(with(frames, {"--overlay-video", avi.string()}));
  ASSERT_EQ(written.status, 0) << written.err;
  const std::vector<std::string> video = {"--tracks",   kTracks.string(), "--video",
                                          avi.string(), "--csv",          csv.string()};
  const auto from_video = run_trackvideo(video, no_module);
  EXPECT_EQ(from_video.status, 1);
  EXPECT_EQ(from_video.err,
            "trackvideo: cannot read " + avi.string() + ": " + cannot_load(missing) + "\n");
  EXPECT_FALSE(fs::exists(csv));

  // All 30 frames of the tracks read back (a short video fails the run).
  const auto read = run_trackvideo(video);
  EXPECT_EQ(read.status, 0) << read.err;
  EXPECT_TRUE(fs::exists(csv));
}

// The variable is a path, and only a regular file is loaded: a FIFO is one
// line at once (no wait for a writer), a bare name a file of the current
// folder (never one on the library path), a byte outside printable ASCII in
// the name shown as '?'.
TEST(EndToEndVideoModule, TheVariableIsThePathOfARegularFile) {
  tavo_test::scratch_dir dir;
  fs::copy_file(kModule, dir.path() / "mod.so");
  ASSERT_EQ(::mkfifo((dir.path() / "fifo.so").c_str(), 0600), 0);
  const fs::path avi = dir.path() / "o.avi";
  auto run_with = [&](const std::string& module) {
    child_options o;
    o.dir = dir.path().string();
    o.env = {kVariable + "=" + module};
    return run_child({TRACKVIDEO_EXE, "--tracks", kTracks.string(), "--frames", kFootage.string(),
                      "--overlay-video", avi.string()},
                     o);
  };
  const std::pair<std::string, std::string> cases[] = {
      {"fifo.so", "fifo.so: cannot open shared object file: not a regular file"},
      {"libm.so.6", no_file("libm.so.6")},
      {"a\x01\x1b.so", no_file("'a??.so'")},
  };
  for (const auto& [module, reason] : cases) {
    const auto r = run_with(module);
    EXPECT_EQ(r.status, 1) << module;
    EXPECT_EQ(r.err, "trackvideo: cannot write " + avi.string() +
                         ": the video support (trackvideo-ffmpeg.so) cannot be loaded: " + reason +
                         "\n");
  }
  EXPECT_FALSE(fs::exists(avi));
  const auto r = run_with("mod.so");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::exists(avi));
}

// Without the variable, the module is looked for beside the program, then
// where the install rule puts it; a broken file found first is reported, not
// passed over.
TEST(EndToEndVideoModule, FoundBesideTheProgramOrInItsLibraryFolder) {
  tavo_test::scratch_dir dir;
  const fs::path bin = dir.path() / "bin", lib = dir.path() / "lib" / "trackvideo";
  fs::create_directories(bin);
  fs::create_directories(lib);
  const fs::path program = bin / "trackvideo", avi = dir.path() / "o.avi";
  fs::copy_file(TRACKVIDEO_EXE, program);
  const std::vector<std::string> args = {program.string(), "--tracks",        kTracks.string(),
                                         "--frames",       kFootage.string(), "--overlay-video",
                                         avi.string()};
  child_options o;
  o.env = {kVariable + "="};  // empty: as if unset
  auto r = run_child(args, o);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "trackvideo: cannot write " + avi.string() +
                       ": the video support (trackvideo-ffmpeg.so) cannot be loaded: it is "
                       "neither in " +
                       bin.string() + " nor in " + bin.string() + "/../lib/trackvideo\n");

  fs::copy_file(kModule, lib / "trackvideo-ffmpeg.so");
  r = run_child(args, o);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::exists(avi));

  tavo_test::write_file(bin / "trackvideo-ffmpeg.so", std::string(200, 'x'));
  r = run_child(args, o);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "trackvideo: cannot write " + avi.string() +
                       ": the video support (trackvideo-ffmpeg.so) cannot be loaded: " +
                       (bin / "trackvideo-ffmpeg.so").string() + ": invalid ELF header\n");
}
