// The atomic output writer and the clean-up of its temporaries on a signal.

#include "histfeat/atomic_file.h"

#include "histfeat/internal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace histfeat {

// Every uncommitted temporary of the process is on one circular list, so that a
// signal handler can remove them all. Invariant: a node is on the list exactly
// while its file may exist; `name` changes only while the node is off the list.
struct detail::temporary {
  temporary* prev;
  temporary* next;
  std::string name;
};

namespace {

using node = detail::temporary;
node list_head{&list_head, &list_head, {}};

// The list is changed only under `list_busy`. A signal that finds it busy (its
// handler may run on the very thread that holds it) records itself in
// `pending_signal`; the holder sees it on release and finishes the job. Lock-free
// atomics, so both are safe in a signal handler.
std::atomic<int> list_busy{0}, pending_signal{0};

void remove_temporaries_and_die(int sig) {
  for (node* n = list_head.next; n != &list_head; n = n->next) ::unlink(n->name.c_str());
  ::signal(sig, SIG_DFL);
  ::raise(sig);  // in a handler: delivered, and fatal, when the handler returns
}

extern "C" void on_fatal_signal(int sig) {
  pending_signal.store(sig);
  if (list_busy.exchange(1) == 0) remove_temporaries_and_die(sig);
}

// Holds the list. Only a handler on another thread, which ends the process, can
// keep it from us for long.
struct list_lock {
  list_lock() {
    while (list_busy.exchange(1) != 0) {
    }
  }
  ~list_lock() {
    list_busy.store(0);
    if (int sig = pending_signal.load(); sig != 0 && list_busy.exchange(1) == 0)
      remove_temporaries_and_die(sig);
  }
};

// Installed once, for each signal that still has its default action: a signal
// the program ignores (nohup) or handles itself is left alone.
void install_handlers() {
  static const bool installed = [] {
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
      struct sigaction old {};
      if (::sigaction(sig, nullptr, &old) != 0 || (old.sa_flags & SA_SIGINFO) ||
          old.sa_handler != SIG_DFL)
        continue;
      struct sigaction ours {};
      ours.sa_handler = on_fatal_signal;
      sigemptyset(&ours.sa_mask);
      ::sigaction(sig, &ours, nullptr);
    }
    return true;
  }();
  (void)installed;
}

void link(node* n) {
  n->prev = list_head.prev;
  n->next = &list_head;
  list_head.prev->next = n;
  list_head.prev = n;
}
void unlink_node(node* n) {
  n->prev->next = n->next;
  n->next->prev = n->prev;
  n->prev = n->next = n;
}

std::string directory_of(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

// A name no other process uses: this process's id and a counter. The file is
// created with O_EXCL, so a leftover of an earlier process with the same id only
// costs another try.
std::string temporary_name(const std::string& directory) {
  static std::atomic<unsigned long> counter{0};
  return directory + ".tmp-" + std::to_string(::getpid()) + '-' + std::to_string(counter++);
}

}  // namespace

std::string not_regular(const struct stat& st) {
  if (S_ISREG(st.st_mode)) return "";
  return S_ISDIR(st.st_mode) ? std::strerror(EISDIR) : "not a regular file";
}

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
    other.fd_ = -1;
  }
  return *this;
}

std::string atomic_file::open(const std::string& path, const std::vector<std::string>& inputs) {
  discard();
  std::string target;
  if (std::string why = check_output(path, inputs, &target); !why.empty()) return why;
  install_handlers();
  const std::string directory = directory_of(target);
  node* t = new node{nullptr, nullptr, {}};
  int fd = -1, error = 0;
  for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
    t->name = temporary_name(directory);
    list_lock hold;  // created and listed at once: a signal in between still removes it
    fd = ::open(t->name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    error = errno;
    if (fd >= 0) link(t);
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
    list_lock hold;
    unlink_node(temp_);
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
    list_lock hold;
    ::unlink(temp_->name.c_str());
    unlink_node(temp_);
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

}  // namespace histfeat
