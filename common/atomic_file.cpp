// The atomic output writer (the temporaries it leaves to a signal's clean-up
// are listed in temporaries.cpp).

#include "common/atomic_file.h"

#include "common/input_file.h"
#include "common/temporaries.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace common {

namespace {

// The directory part of `path` ("" or ending in '/') and the extension of its
// last component: ".avi" of "out/run.avi". Writers that pick a format by the
// name (video encoders) see the final name's extension on the temporary; a long
// one is left off, so that the temporary's name stays short.
constexpr std::size_t kMaxKeptExtension = 16;
std::string directory_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}
std::string extension_of(const std::string& path) {
  const std::size_t start = path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1;
  const std::size_t dot = path.rfind('.');
  if (dot == std::string::npos || dot <= start || path.size() - dot > kMaxKeptExtension) return "";
  return path.substr(dot);
}

// A name no other process uses: this process's id and a counter. The file is
// created with O_EXCL, so a leftover of an earlier process with the same id only
// costs another try.
std::string temporary_name(const std::string& directory, const std::string& extension) {
  static std::atomic<unsigned long> counter{0};
  return directory + ".tmp-" + std::to_string(::getpid()) + '-' + std::to_string(counter++) +
         extension;
}

}  // namespace

std::string check_output(const std::string& path, const std::vector<std::string>& inputs,
                         std::string* target) {
  const std::string failure = "cannot write " + path + ": ";
  if (target) *target = path;
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return "";  // a new file (or the create will say why not)
  for (const std::string& input : inputs) {
    struct stat in;
    if (::stat(input.c_str(), &in) == 0 && in.st_dev == st.st_dev && in.st_ino == st.st_ino)
      return failure + "the same file as the input " + input;
  }
  if (std::string why = not_regular(st); !why.empty()) return failure + why;
  if (::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0)
    return failure + std::strerror(errno);
  struct stat link;
  if (target && ::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (!resolved) return failure + std::strerror(errno);
    *target = resolved;
    std::free(resolved);
  }
  return "";
}

atomic_file::atomic_file() = default;

atomic_file::~atomic_file() {
  discard();
}

atomic_file::atomic_file(atomic_file&& other) noexcept
    : temp_(other.temp_),
      path_(std::move(other.path_)),
      target_(std::move(other.target_)),
      fd_(other.fd_) {
  other.temp_ = nullptr;
  other.path_.clear();
  other.target_.clear();
  other.fd_ = -1;
}

atomic_file& atomic_file::operator=(atomic_file&& other) noexcept {
  if (this != &other) {
    discard();
    temp_ = other.temp_;
    path_ = std::move(other.path_);
    target_ = std::move(other.target_);
    fd_ = other.fd_;
    other.temp_ = nullptr;
    other.path_.clear();
    other.target_.clear();
    other.fd_ = -1;
  }
  return *this;
}

std::string atomic_file::open(const std::string& path, const std::vector<std::string>& inputs) {
  discard();
  std::string target;
  if (std::string why = check_output(path, inputs, &target); !why.empty()) return why;
  install_cleanup_handlers();
  const std::string directory = directory_of(target), extension = extension_of(target);
  detail::temporary* t = new detail::temporary{nullptr, nullptr, {}};
  int fd = -1, error = 0;
  for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
    t->name = temporary_name(directory, extension);
    temporaries_lock hold;  // created and listed at once: a signal in between still removes it
    fd = ::open(t->name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    error = errno;
    if (fd >= 0) list_temporary(t);
    if (fd < 0 && error != EEXIST) break;
  }
  if (fd < 0) {
    delete t;
    return "cannot write " + path + ": " + std::strerror(error);
  }
  temp_ = t;
  fd_ = fd;
  path_ = path;
  target_ = target;
  return "";
}

std::string atomic_file::write(const void* data, std::size_t n) {
  const std::string failure = "cannot write " + path_ + ": ";
  if (!temp_) return failure + "not open";
  if (fd_ < 0) fd_ = ::open(temp_->name.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  if (fd_ < 0) return failure + std::strerror(errno);
  const char* bytes = static_cast<const char*>(data);
  for (std::size_t done = 0; done < n;) {
    ssize_t wrote = ::write(fd_, bytes + done, n - done);
    if (wrote < 0 && errno != EINTR) return failure + std::strerror(errno);
    if (wrote > 0) done += static_cast<std::size_t>(wrote);
  }
  return "";
}

std::string atomic_file::close() {
  if (fd_ < 0) return "";
  const int result = ::close(fd_);
  fd_ = -1;
  return result == 0 ? "" : "cannot write " + path_ + ": " + std::strerror(errno);
}

const std::string& atomic_file::temp_path() const {
  static const std::string none;
  return temp_ ? temp_->name : none;
}

std::string atomic_file::commit() {
  if (!temp_) return "cannot write " + path_ + ": not open";
  std::string why = close();
  // Chown first: it may clear set-user-id bits that the chmod then restores.
  struct stat old;
  if (why.empty() && ::stat(target_.c_str(), &old) == 0) {
    if (::chown(temp_->name.c_str(), old.st_uid, old.st_gid) != 0 && errno != EPERM)
      why = "cannot write " + path_ + ": " + std::strerror(errno);
    else if (::chmod(temp_->name.c_str(), old.st_mode & 07777) != 0)
      why = "cannot write " + path_ + ": " + std::strerror(errno);
  }
  if (why.empty() && std::rename(temp_->name.c_str(), target_.c_str()) != 0)
    why = "cannot write " + path_ + ": " + std::strerror(errno);
  if (!why.empty()) {
    discard();
    return why;
  }
  {
    temporaries_lock hold;
    unlist_temporary(temp_);
  }
  delete temp_;
  temp_ = nullptr;
  return "";
}

void atomic_file::discard() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!temp_) return;
  {
    temporaries_lock hold;
    ::unlink(temp_->name.c_str());
    unlist_temporary(temp_);
  }
  delete temp_;
  temp_ = nullptr;
}

std::string write_file_replacing(const std::string& path, const std::string& text,
                                 const std::vector<std::string>& inputs) {
  atomic_file file;
  std::string why = file.open(path, inputs);
  if (why.empty()) why = file.write(text.data(), text.size());
  if (why.empty()) why = file.commit();
  return why;
}

}  // namespace common
