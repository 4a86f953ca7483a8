// The atomic output writer (the temporaries it leaves to a signal's clean-up
// are listed in temporaries.cpp).

#include "common/atomic_file.h"

#include "common/input_file.h"
#include "common/temporaries.h"
#include "common/tokens.h"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>

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
std::string last_name(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
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

bool all_of(const char* begin, const char* end, int (*is)(int)) {
  for (; begin != end; ++begin)
    if (!is(static_cast<unsigned char>(*begin))) return false;
  return true;
}

// The process whose temporary `name` is, by the forms above: 0 when the name
// is not exactly one of them; `folder` says it is a private folder's form.
pid_t owner_of(const std::string& name, bool& folder) {
  constexpr std::size_t kPrefix = 5;  // ".tmp-"
  if (name.compare(0, kPrefix, ".tmp-") != 0) return 0;
  const std::size_t dash = name.find('-', kPrefix);
  if (dash == std::string::npos || dash == kPrefix || name[kPrefix] == '0') return 0;
  long long pid = 0;
  if (!all_of(name.data() + kPrefix, name.data() + dash, ::isdigit) ||
      parse_integer(name.data() + kPrefix, name.data() + dash, 1, INT_MAX, pid) != integer_read::ok)
    return 0;
  // The counter (decimal, no leading zero) and the final name's extension.
  const std::string rest = name.substr(dash + 1);
  folder = rest.size() == 6 && all_of(rest.data(), rest.data() + 6, ::isalnum);
  const std::size_t dot = std::min(rest.find('.'), rest.size());
  const bool file = dot > 0 && (rest[0] != '0' || dot == 1) &&
                    all_of(rest.data(), rest.data() + dot, ::isdigit) &&
                    rest.size() - dot <= kMaxKeptExtension &&
                    rest.find_first_of("./", dot + 1) == std::string::npos;
  return folder || file ? static_cast<pid_t>(pid) : 0;
}

// Whether process `pid` is gone: no such process, or one that has ended and
// waits to be reaped (a zombie writes nothing any more; orphans wait for an
// init that may be slow to reap them).
bool gone(pid_t pid) {
  if (::kill(pid, 0) != 0) return errno == ESRCH;
  char path[32], text[256];
  std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  const ssize_t n = fd < 0 ? -1 : ::read(fd, text, sizeof text - 1);
  if (fd >= 0) ::close(fd);
  if (n <= 0) return false;
  text[n] = '\0';
  const char* state = std::strrchr(text, ')');  // "pid (name) S ...", the name may hold ')'
  return state && (state[1] == ' ') && (state[2] == 'Z' || state[2] == 'X');
}

std::string failure(const std::string& path, int error) {
  return "cannot write " + path + ": " + std::strerror(error);
}

// Exchanges the files at `a` and `b` (both must exist); errno EINVAL where the
// file system cannot.
int exchange(const std::string& a, const std::string& b) {
  return ::renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE);
}

void drop(detail::temporary*& t, bool remove) {
  if (!t) return;
  {
    temporaries_lock hold;
    if (remove) t->folder ? ::rmdir(t->name.c_str()) : ::unlink(t->name.c_str());
    unlist_temporary(t);
  }
  delete t;
  t = nullptr;
}

}  // namespace

std::size_t file_key_hash::operator()(const file_key& k) const {
  return std::hash<std::string>()(k.name) ^ (std::hash<unsigned long long>()(k.ino) * 31) ^
         std::hash<unsigned long long>()(k.dev);
}

std::string identify(const std::string& path, file_key& key) {
  struct stat st;
  if (::stat(path.c_str(), &st) == 0) {
    key = file_key{st.st_dev, st.st_ino, ""};
    return "";
  }
  const std::string dir = directory_of(path);
  if (::stat(dir.empty() ? "." : dir.c_str(), &st) != 0) return failure(path, errno);
  key = file_key{st.st_dev, st.st_ino, last_name(path)};
  return "";
}

input_set::input_set(const std::vector<std::string>& paths) {
  for (const std::string& p : paths) add(p);
}

void input_set::add(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) == 0) files_.emplace(file_key{st.st_dev, st.st_ino, ""}, path);
}

const std::string* input_set::find(dev_t dev, ino_t ino) const {
  const auto it = files_.find(file_key{dev, ino, ""});
  return it == files_.end() ? nullptr : &it->second;
}

std::string check_output(const std::string& path, const input_set& inputs, std::string* target) {
  const std::string failed = "cannot write " + path + ": ";
  if (target) *target = path;
  struct stat st, link;
  if (::stat(path.c_str(), &st) != 0) {
    const int error = errno;
    if (error != ENOENT) return failure(path, error);  // a loop of links, a file as a folder
    if (::lstat(path.c_str(), &link) == 0)
      return failed + "a symbolic link to a file that does not exist";
    return "";  // a new file (or the create will say why not)
  }
  if (const std::string* input = inputs.find(st.st_dev, st.st_ino))
    return failed + "the same file as the input " + *input;
  if (std::string why = not_regular(st); !why.empty()) return failed + why;
  if (::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0) return failure(path, errno);
  if (target && ::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (!resolved) return failure(path, errno);
    *target = resolved;
    std::free(resolved);
  }
  return "";
}

std::string check_output(const std::string& path, const std::vector<std::string>& inputs,
                         std::string* target) {
  return check_output(path, input_set(inputs), target);
}

atomic_file::atomic_file() = default;

atomic_file::~atomic_file() {
  discard();
}

atomic_file::atomic_file(atomic_file&& other) noexcept
    : temp_(other.temp_),
      folder_(other.folder_),
      path_(std::move(other.path_)),
      target_(std::move(other.target_)),
      fd_(other.fd_),
      swapped_(other.swapped_),
      replaced_(other.replaced_) {
  other.temp_ = other.folder_ = nullptr;
  other.path_.clear();
  other.target_.clear();
  other.fd_ = -1;
  other.swapped_ = other.replaced_ = false;
}

atomic_file& atomic_file::operator=(atomic_file&& other) noexcept {
  if (this != &other) {
    discard();
    temp_ = other.temp_;
    folder_ = other.folder_;
    path_ = std::move(other.path_);
    target_ = std::move(other.target_);
    fd_ = other.fd_;
    swapped_ = other.swapped_;
    replaced_ = other.replaced_;
    other.temp_ = other.folder_ = nullptr;
    other.path_.clear();
    other.target_.clear();
    other.fd_ = -1;
    other.swapped_ = other.replaced_ = false;
  }
  return *this;
}

std::string atomic_file::open(const std::string& path, const std::vector<std::string>& inputs) {
  return open(path, input_set(inputs));
}

std::string atomic_file::open(const std::string& path, const input_set& inputs,
                              const std::string& private_name) {
  discard();
  std::string target;
  if (std::string why = check_output(path, inputs, &target); !why.empty()) return why;
  install_cleanup_handlers();
  const std::string directory = directory_of(target);
  if (!private_name.empty()) {
    // Made and listed at once: a signal in between still removes it.
    temporaries_lock hold;
    std::string name = directory + ".tmp-" + std::to_string(::getpid()) + "-XXXXXX";
    if (::mkdtemp(name.data()) == nullptr) return failure(path, errno);
    folder_ = new detail::temporary{nullptr, nullptr, name, true};
    list_temporary(folder_);
  }
  detail::temporary* t = new detail::temporary{nullptr, nullptr, {}, false};
  int fd = -1, error = 0;
  for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
    t->name = folder_ ? folder_->name + '/' + private_name
                      : temporary_name(directory, extension_of(target));
    temporaries_lock hold;  // created and listed at once: a signal in between still removes it
    fd = ::open(t->name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    error = errno;
    if (fd >= 0) list_temporary(t);
    if (fd < 0 && (error != EEXIST || folder_)) break;
  }
  if (fd < 0) {
    delete t;
    drop(folder_, true);
    return failure(path, error);
  }
  temp_ = t;
  fd_ = fd;
  path_ = path;
  target_ = target;
  return "";
}

std::string atomic_file::write(const void* data, std::size_t n) {
  if (!temp_ || swapped_) return "cannot write " + path_ + ": not open";
  if (fd_ < 0) fd_ = ::open(temp_->name.c_str(), O_WRONLY | O_APPEND | O_NOFOLLOW | O_CLOEXEC);
  if (fd_ < 0) return failure(path_, errno);
  const char* bytes = static_cast<const char*>(data);
  for (std::size_t done = 0; done < n;) {
    ssize_t wrote = ::write(fd_, bytes + done, n - done);
    if (wrote < 0 && errno != EINTR) return failure(path_, errno);
    if (wrote > 0) done += static_cast<std::size_t>(wrote);
  }
  return "";
}

std::string atomic_file::close() {
  if (fd_ < 0) return "";
  const int result = ::close(fd_);
  fd_ = -1;
  return result == 0 ? "" : failure(path_, errno);
}

const std::string& atomic_file::temp_path() const {
  static const std::string none;
  return temp_ ? temp_->name : none;
}

std::string atomic_file::can_commit() const {
  if (!temp_ || swapped_) return "cannot write " + path_ + ": not open";
  const std::string dir = directory_of(target_).empty() ? "." : directory_of(target_);
  if (::faccessat(AT_FDCWD, dir.c_str(), W_OK | X_OK, AT_EACCESS) != 0)
    return failure(path_, errno);
  struct stat folder, old;
  if (::stat(dir.c_str(), &folder) != 0) return failure(path_, errno);
  if (::lstat(target_.c_str(), &old) != 0) return errno == ENOENT ? "" : failure(path_, errno);
  if (S_ISDIR(old.st_mode)) return failure(path_, EISDIR);
  // In a sticky folder only the file's owner, the folder's owner or a
  // privileged process may replace a file.
  const uid_t me = ::geteuid();
  if ((folder.st_mode & S_ISVTX) && me != 0 && me != old.st_uid && me != folder.st_uid)
    return failure(path_, EPERM);
  return "";
}

std::string atomic_file::swap_in() {
  if (!temp_ || swapped_) return "cannot write " + path_ + ": not open";
  if (std::string why = close(); !why.empty()) return why;
  // Chown first: it may clear set-user-id bits that the chmod then restores.
  struct stat old;
  if (::stat(target_.c_str(), &old) == 0) {
    if (::chown(temp_->name.c_str(), old.st_uid, old.st_gid) != 0 && errno != EPERM)
      return failure(path_, errno);
    if (::chmod(temp_->name.c_str(), old.st_mode & 07777) != 0) return failure(path_, errno);
  }
  replaced_ = exchange(temp_->name, target_) == 0;
  if (!replaced_) {
    // No old file to keep (ENOENT), or a file system that cannot exchange: a
    // plain rename, which cannot be undone over an old file.
    if (errno != ENOENT && errno != EINVAL) return failure(path_, errno);
    if (std::rename(temp_->name.c_str(), target_.c_str()) != 0) return failure(path_, errno);
  }
  swapped_ = true;
  return "";
}

void atomic_file::undo() {
  if (!swapped_) return;
  if (replaced_)
    exchange(temp_->name, target_);
  else
    std::rename(target_.c_str(), temp_->name.c_str());
  swapped_ = replaced_ = false;
}

void atomic_file::finish() {
  if (!swapped_) return;
  drop(temp_, replaced_);  // the old file, now under the temporary's name
  drop(folder_, true);
  swapped_ = replaced_ = false;
}

std::string atomic_file::commit() {
  commit_guard hold;
  std::string why = can_commit();
  if (why.empty()) why = swap_in();
  if (!why.empty()) {
    discard();
    return why;
  }
  finish();
  return "";
}

void atomic_file::discard() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (swapped_) undo();
  drop(temp_, true);
  drop(folder_, true);
}

std::string write_file_replacing(const std::string& path, const std::string& text,
                                 const std::vector<std::string>& inputs) {
  atomic_file file;
  std::string why = file.open(path, inputs);
  if (why.empty()) why = file.write(text.data(), text.size());
  if (why.empty()) why = file.commit();
  return why;
}

// ---- commit_guard, temporary_folder

namespace {
sigset_t ending_signals() {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&set, sig);
  return set;
}
}  // namespace

commit_guard::commit_guard() {
  const sigset_t block = ending_signals();
  ::pthread_sigmask(SIG_BLOCK, &block, &saved_);
  lock_ = new temporaries_lock;
}

commit_guard::~commit_guard() {
  // Unblocked first: a signal then pending finds the list busy, and the
  // lock's release acts on it.
  ::pthread_sigmask(SIG_SETMASK, &saved_, nullptr);
  delete lock_;
}

std::string temporary_folder::make(const std::string& path) {
  discard();
  install_cleanup_handlers();
  temporaries_lock hold;  // made and listed at once
  if (::mkdir(path.c_str(), 0777) != 0)
    return "cannot create " + path + ": " + std::strerror(errno);
  node_ = new detail::temporary{nullptr, nullptr, path, true};
  list_temporary(node_);
  return "";
}

void temporary_folder::keep() {
  drop(node_, false);
}

void temporary_folder::discard() {
  drop(node_, true);
}

void remove_dead_temporaries(const std::string& dir) {
  DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
  if (!d) return;
  std::vector<std::string> dead;
  while (const dirent* e = ::readdir(d)) {
    bool folder = false;
    const pid_t pid = owner_of(e->d_name, folder);
    if (pid != 0 && pid != ::getpid() && gone(pid)) dead.push_back(e->d_name);
  }
  ::closedir(d);
  const std::string prefix = dir.empty() || dir.back() == '/' ? dir : dir + '/';
  for (const std::string& name : dead) {
    const std::string path = prefix + name;
    bool folder = false;
    owner_of(name, folder);
    if (::unlink(path.c_str()) == 0 || errno != EISDIR || !folder) continue;
    // A private folder: the encoder's file(s), then the folder.
    if (DIR* inner = ::opendir(path.c_str())) {
      while (const dirent* e = ::readdir(inner))
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
          ::unlink((path + '/' + e->d_name).c_str());
      ::closedir(inner);
    }
    ::rmdir(path.c_str());
  }
}

}  // namespace common
