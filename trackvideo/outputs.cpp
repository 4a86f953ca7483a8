// trackvideo/outputs.cpp - pending output files (see outputs.h).
#include "trackvideo/outputs.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace trackvideo {

std::string output_set::prepare_folder(const std::string& dir) {
  struct stat st;
  if (::stat(dir.c_str(), &st) == 0) {
    if (!S_ISDIR(st.st_mode)) return dir + " is not a folder";
    return "";
  }
  if (errno != ENOENT) return "cannot use " + dir + ": " + std::strerror(errno);
  if (::mkdir(dir.c_str(), 0777) != 0) return "cannot create " + dir + ": " + std::strerror(errno);
  created_.push_back(dir);
  return "";
}

std::string output_set::open(const std::string& path, common::atomic_file*& file) {
  files_.emplace_back();
  const std::string why = files_.back().open(path, inputs_);
  if (!why.empty()) {
    files_.pop_back();
    return why;
  }
  file = &files_.back();
  return "";
}

std::string output_set::write_closed(const std::string& path, const std::string& text) {
  common::atomic_file* file = nullptr;
  std::string why = open(path, file);
  if (why.empty()) why = file->write(text.data(), text.size());
  if (why.empty()) why = file->close();
  return why;
}

std::string output_set::commit_all() {
  for (common::atomic_file& f : files_) {
    const std::string why = f.commit();
    if (!why.empty()) return why;
  }
  files_.clear();
  created_.clear();
  return "";
}

void output_set::discard_all() {
  for (common::atomic_file& f : files_) f.discard();
  files_.clear();
  // Newest first, so that a folder made inside another goes before it.
  for (auto it = created_.rbegin(); it != created_.rend(); ++it) ::rmdir(it->c_str());
  created_.clear();
}

}  // namespace trackvideo
