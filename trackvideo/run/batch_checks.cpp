// trackvideo/run/batch_checks.cpp - outputs against inputs, and the folder
// locks (see batch_checks.h).
#include "trackvideo/run/batch_checks.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <utility>

#include "common/atomic_file.h"
#include "common/tokens.h"
#include "trackvideo/input/sequence.h"
#include "trackvideo/run/batch_folder.h"
#include "trackvideo/run/batch_marker.h"

namespace trackvideo {

using common::in_folder;

namespace {

// What each input of the whole batch is, by device and inode, as messages
// name it: the files (LIST, each seqinfo.ini and tracks file) and the folders
// nothing is written into (each sequence folder, its gt/ and its frame
// folder). A tracks file given on a line keeps its folder open to outputs.
struct batch_inputs {
  std::map<std::pair<dev_t, ino_t>, std::string> files, folders;
  void add(std::map<std::pair<dev_t, ino_t>, std::string>& to, const std::string& path,
           const std::string& what) {
    struct stat st;
    if (::stat(path.c_str(), &st) == 0)
      to.emplace(std::make_pair(st.st_dev, st.st_ino), what + " " + common::shown_name(path));
  }
};

// The folder `path` is in ("." for a bare name).
std::string parent_of(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// "" or why the output `path` (a folder when `folder`) may not be written: it
// is an input, or, when it does not exist yet, it would be made in an input
// folder.
std::string clash(const std::string& path, bool folder, const batch_inputs& in) {
  const std::string refused =
      (folder ? "cannot write into " : "cannot write ") + common::shown_name(path) + ": ";
  struct stat st;
  if (::stat(path.c_str(), &st) == 0) {
    for (const auto* known : {&in.files, &in.folders})
      if (const auto it = known->find({st.st_dev, st.st_ino}); it != known->end())
        return refused + "it is " + it->second;
    return "";
  }
  if (::stat(parent_of(path).c_str(), &st) == 0)
    if (const auto it = in.folders.find({st.st_dev, st.st_ino}); it != in.folders.end())
      return refused + "it would be in " + it->second;
  return "";
}

}  // namespace

std::string check_outputs(const options& o, const std::string& list,
                          const std::vector<batch_line>& lines,
                          const std::vector<std::string>& frame_dirs) {
  batch_inputs in;
  if (is_folder_batch(o)) {
    // Its sequences' folders and files are inputs below; ROOT itself is not
    // an output, its other entries may be.
    in.add(in.files, o.batch, "the folder of sequences");
    if (!o.seqmap.empty()) in.add(in.files, o.seqmap, "the seqmap");
  } else if (o.batch != "-") {
    in.add(in.files, o.batch, "the list");
  } else if (struct stat st; ::fstat(0, &st) == 0 && S_ISREG(st.st_mode)) {
    in.files.emplace(std::make_pair(st.st_dev, st.st_ino), "the list (standard input)");
  }
  for (std::size_t k = 0; k < lines.size(); ++k) {
    const batch_line& l = lines[k];
    const std::string where = line_place(list, l) + "'s ";
    if (o.kitti) {
      if (!l.tracks.empty()) in.add(in.files, l.tracks, where + "tracks file");
      in.add(in.files, l.labels, where + "labels");
      in.add(in.folders, parent_of(l.labels), where + "labels' folder");
    } else {
      const std::string tracks = l.tracks.empty() ? ground_truth_path(l.seqdir) : l.tracks;
      in.add(in.files, in_folder(l.seqdir, "seqinfo.ini"), where + "seqinfo.ini");
      in.add(in.files, tracks, where + "tracks file");
      in.add(in.folders, l.seqdir, where + "sequence folder");
      in.add(in.folders, parent_of(ground_truth_path(l.seqdir)), where + "ground truth's folder");
    }
    if (!frame_dirs[k].empty()) in.add(in.folders, frame_dirs[k], where + "frame folder");
  }
  std::string why = clash(o.out, true, in);
  if (why.empty()) why = clash(in_folder(o.out, kSummaryName), false, in);
  if (why.empty() && o.with_metrics) why = clash(in_folder(o.out, kMetricsName), false, in);
  if (why.empty() && o.with_html) why = clash(in_folder(o.out, kIndexName), false, in);
  for (const batch_line& l : lines) {
    if (!why.empty()) break;
    if (!l.why.empty()) continue;
    const std::string dir = in_folder(o.out, l.name);
    std::vector<std::pair<std::string, bool>> outputs = {{dir, true},
                                                         {in_folder(dir, "report.txt"), false},
                                                         {in_folder(dir, "pairs.csv"), false},
                                                         {in_folder(dir, "encounters.csv"), false},
                                                         {in_folder(dir, "done"), false}};
    if (o.with_overlay_video) outputs.emplace_back(in_folder(dir, "overlay.avi"), false);
    if (o.with_overlay) outputs.emplace_back(in_folder(dir, "overlay"), true);
    if (o.with_detections) outputs.emplace_back(in_folder(dir, "detections"), true);
    if (o.with_html) outputs.emplace_back(in_folder(dir, kPageFolder), true);
    if (evaluated(l, o) && o.with_metrics)
      outputs.emplace_back(in_folder(dir, "metrics.csv"), false);
    if (evaluated(l, o) && o.with_events) outputs.emplace_back(in_folder(dir, "events.csv"), false);
    for (const auto& [path, folder] : outputs)
      if ((why = clash(path, folder, in)).empty())
        continue;
      else
        break;
  }
  return why;
}

int lock_open_folder(int fd, bool wait) {
  int r;
  while ((r = ::flock(fd, wait ? LOCK_EX : LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
  }
  if (r == 0) return 1;
  if (errno == EWOULDBLOCK) return 0;
  return errno == EBADF || errno == ENOLCK || errno == EOPNOTSUPP ? 1 : -1;
}

std::string lock_folder(const std::string& dir, int& fd, bool& made) {
  const std::string shown = common::shown_name(dir);
  for (int attempt = 0; attempt < 100; ++attempt) {
    made = ::mkdir(dir.c_str(), 0777) == 0;
    if (!made && errno != EEXIST) return "cannot create " + shown + ": " + std::strerror(errno);
    fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) continue;
    if (fd < 0) return "cannot use " + shown + ": " + std::strerror(errno);
    if (lock_open_folder(fd, true) < 0) {
      const int error = errno;
      ::close(fd);
      return "cannot lock " + shown + ": " + std::strerror(error);
    }
    struct stat held, now;
    if (::fstat(fd, &held) == 0 && ::stat(dir.c_str(), &now) == 0 && held.st_dev == now.st_dev &&
        held.st_ino == now.st_ino)
      return "";
    ::close(fd);
  }
  return "cannot lock " + shown + ": it keeps being removed";
}

void sweep_locked(const std::vector<std::string>& dirs, bool wait) {
  const int fd = ::open(dirs.front().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  if (lock_open_folder(fd, wait) == 1)
    for (const std::string& dir : dirs) common::remove_dead_temporaries(dir);
  ::close(fd);
}

}  // namespace trackvideo
