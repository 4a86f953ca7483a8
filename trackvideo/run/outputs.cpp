// trackvideo/run/outputs.cpp - pending output files (see outputs.h).
#include "trackvideo/run/outputs.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace trackvideo {

namespace {

// A folder chain longer than this is not a real one.
constexpr int kMaxDepth = 4096;

// "" or the folder part of `path`, ending in '/'.
std::string folder_part(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

// `dir` without its trailing slashes, split into its folder part and its name.
void split_folder(const std::string& dir, std::string& parent, std::string& name) {
  std::string d = dir;
  while (d.size() > 1 && d.back() == '/') d.pop_back();
  parent = folder_part(d);
  name = d.substr(parent.size());
}

// The path with every link and dot resolved, when it exists; else as given.
std::string resolved(const std::string& path) {
  char* r = ::realpath(path.c_str(), nullptr);
  if (!r) return path;
  std::string out = r;
  std::free(r);
  return out;
}

bool in_chain(const std::vector<std::pair<dev_t, ino_t>>& chain, std::pair<dev_t, ino_t> id) {
  return std::find(chain.begin(), chain.end(), id) != chain.end();
}

}  // namespace

std::string folder_chain(const std::string& dir, std::vector<std::pair<dev_t, ino_t>>& chain) {
  chain.clear();
  int fd = ::open(dir.empty() ? "." : dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  for (int depth = 0; fd >= 0 && depth < kMaxDepth; ++depth) {
    struct stat st;
    if (::fstat(fd, &st) != 0) break;
    const std::pair<dev_t, ino_t> id{st.st_dev, st.st_ino};
    if (!chain.empty() && chain.back() == id) {  // the root is its own parent
      ::close(fd);
      return "";
    }
    chain.push_back(id);
    const int up = ::openat(fd, "..", O_PATH | O_DIRECTORY | O_CLOEXEC);
    ::close(fd);
    fd = up;
  }
  const int error = errno;
  if (fd >= 0) ::close(fd);
  return std::strerror(error);
}

output_set::output_set(const std::vector<std::string>& inputs,
                       const std::vector<std::string>& input_folders)
    : inputs_(inputs) {
  for (const std::string& dir : input_folders) {
    std::vector<std::pair<dev_t, ino_t>> chain;
    if (folder_chain(dir, chain).empty()) input_folders_.emplace_back(dir, std::move(chain));
  }
}

std::string output_set::prepare_folder(const std::string& dir, const std::string& role,
                                       name_filter names) {
  struct stat st;
  const bool exists = ::stat(dir.c_str(), &st) == 0;
  if (exists && !S_ISDIR(st.st_mode)) return dir + " is not a folder";
  if (!exists && errno != ENOENT) return "cannot use " + dir + ": " + std::strerror(errno);
  // Where it is: its own chain, or its parent's when it is still to be made.
  std::string parent, name;
  split_folder(exists ? resolved(dir) : dir, parent, name);
  std::vector<std::pair<dev_t, ino_t>> chain;
  if (std::string why = folder_chain(exists ? dir : parent, chain); !why.empty())
    return "cannot create " + dir + ": " + why;
  const std::string refused = "cannot write into " + dir + ": ";
  for (const auto& [input, input_chain] : input_folders_) {
    if (in_chain(chain, input_chain.front()))
      return refused +
             (exists && chain.front() == input_chain.front() ? "it is the input folder "
                                                             : "it is inside the input folder ") +
             input;
    if (exists && in_chain(input_chain, chain.front()))
      return refused + "the input folder " + input + " is inside it";
  }
  const std::pair<dev_t, ino_t> in = exists && chain.size() > 1 ? chain[1] : chain.front();
  for (const folder& f : folders_)
    if (f.dev == in.first && f.ino == in.second && f.names(name))
      return refused + "it is also one of " + f.role;
  if (!exists) {
    created_.emplace_back();
    if (std::string why = created_.back().make(dir); !why.empty()) {
      created_.pop_back();
      return why;
    }
    if (::stat(dir.c_str(), &st) != 0) return "cannot use " + dir + ": " + std::strerror(errno);
  }
  folders_.push_back(folder{dir, role, std::move(names), st.st_dev, st.st_ino});
  sweep(dir);
  return "";
}

void output_set::sweep(const std::string& dir) {
  struct stat st;
  if (::stat(dir.empty() ? "." : dir.c_str(), &st) != 0 || in_chain(swept_, {st.st_dev, st.st_ino}))
    return;
  swept_.emplace_back(st.st_dev, st.st_ino);
  common::remove_dead_temporaries(dir);
}

std::string output_set::name_in_folder(const std::string& path, common::file_key& key) {
  const std::string dir = folder_part(path);
  if (dir != last_dir_ || (last_dev_ == 0 && last_ino_ == 0)) {
    struct stat st;
    if (::stat(dir.empty() ? "." : dir.c_str(), &st) != 0)
      return "cannot write " + path + ": " + std::strerror(errno);
    last_dir_ = dir;
    last_dev_ = st.st_dev;
    last_ino_ = st.st_ino;
  }
  key = common::file_key{last_dev_, last_ino_, path.substr(dir.size())};
  return "";
}

const output_set::folder* output_set::folder_of(const common::file_key& key) const {
  for (const folder& f : folders_)
    if (f.dev == key.dev && f.ino == key.ino && f.names(key.name)) return &f;
  return nullptr;
}

std::string output_set::claim(const std::string& path, const common::file_key& key,
                              const std::string& role) {
  const auto [it, added] = claimed_.emplace(key, roles_.size());
  if (!added) return "cannot write " + path + ": it is also " + roles_[it->second];
  roles_.push_back(role);
  return "";
}

std::string output_set::open(const std::string& path, const std::string& role,
                             common::atomic_file*& file, const std::string& private_name) {
  // Named by where it is (links resolved) and, when it exists, by the file.
  common::file_key in_folder, own;
  const std::string where = resolved(path);
  sweep(folder_part(where));
  if (name_in_folder(where, in_folder).empty()) {
    if (const folder* f = folder_of(in_folder))
      return "cannot write " + path + ": it is also one of " + f->role;
    if (std::string why = claim(path, in_folder, role); !why.empty()) return why;
  }
  if (common::identify(path, own).empty() && own.name.empty())
    if (std::string why = claim(path, own, role); !why.empty()) return why;
  files_.emplace_back();
  const std::string why = files_.back().open(path, inputs_, private_name);
  if (!why.empty()) {
    files_.pop_back();
    return why;
  }
  file = &files_.back();
  return "";
}

std::string output_set::write_closed(const std::string& path, const std::string& text) {
  common::file_key key;
  std::string why = name_in_folder(path, key);
  if (why.empty() && !folder_of(key)) why = claim(path, key, "an output of this run");
  if (!why.empty()) return why;
  sweep(folder_part(path));
  files_.emplace_back();
  common::atomic_file& file = files_.back();
  why = file.open(path, inputs_);
  if (why.empty()) why = file.write(text.data(), text.size());
  if (why.empty()) why = file.close();
  if (!why.empty()) files_.pop_back();
  return why;
}

std::string output_set::commit_all(const std::function<void(std::size_t)>& before_rename) {
  common::commit_guard hold;
  for (const common::atomic_file& f : files_)
    if (std::string why = f.can_commit(); !why.empty()) return why;
  std::string why;
  std::size_t k = 0;
  for (; k < files_.size() && why.empty(); ++k) {
    if (before_rename) before_rename(k);
    why = files_[k].swap_in();
  }
  if (!why.empty()) {
    for (--k; k-- > 0;) files_[k].undo();
    return why;
  }
  for (common::atomic_file& f : files_) f.finish();
  files_.clear();
  for (common::temporary_folder& d : created_) d.keep();
  created_.clear();
  return "";
}

void output_set::discard_all() {
  for (common::atomic_file& f : files_) f.discard();
  files_.clear();
  // Newest first, so that a folder made inside another goes before it.
  while (!created_.empty()) created_.pop_back();
}

}  // namespace trackvideo
