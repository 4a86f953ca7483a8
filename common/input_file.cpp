// common/input_file.cpp - regular files only, checked on the open descriptor
// (see input_file.h).
#include "common/input_file.h"

#include "common/tokens.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace common {

const char kLargerThanLimit[] = "larger than the limit";

std::string not_regular(const struct stat& st) {
  if (S_ISREG(st.st_mode)) return "";
  return S_ISDIR(st.st_mode) ? std::strerror(EISDIR) : "not a regular file";
}

std::string open_regular(const std::string& path, int& fd, struct stat& st) {
  // O_NONBLOCK: opening a FIFO does not wait for a writer. Regular files ignore it.
  fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return std::strerror(errno);
  std::string refused = ::fstat(fd, &st) == 0 ? not_regular(st) : std::strerror(errno);
  if (refused.empty()) return "";
  ::close(fd);
  fd = -1;
  return refused;
}

std::string read_file(const std::string& path, std::string& text, struct stat* st,
                      std::size_t limit) {
  int fd = -1;
  struct stat state;
  std::string refused = open_regular(path, fd, state);
  if (!refused.empty()) {
    text.clear();
    return refused;
  }
  const struct closer {
    int fd;
    ~closer() { ::close(fd); }
  } closing{fd};
  if (st) *st = state;
  if (static_cast<unsigned long long>(state.st_size) > limit) {
    text.clear();
    return kLargerThanLimit;
  }
  // Room for the whole file and one byte more: a read that does not fill it
  // has met the end, and a regular file thus costs one read.
  std::size_t size = 0, room = static_cast<std::size_t>(state.st_size) + 1;
  for (;;) {
    if (text.size() < size + room) text.resize(size + room);
    const ssize_t n = ::read(fd, &text[size], room);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) refused = std::strerror(errno);
    if (n <= 0) break;
    size += static_cast<std::size_t>(n);
    if (size > limit) {
      refused = kLargerThanLimit;  // the file grew since fstat
      break;
    }
    if (static_cast<std::size_t>(n) < room) break;
    room = std::max<std::size_t>(size, 4096);
  }
  text.resize(refused.empty() ? size : 0);
  return refused;
}

std::string read_text(const std::string& path, std::string& text) {
  const std::string why = read_file(path, text);
  return why.empty() ? "" : "cannot open " + shown_name(path) + ": " + why;
}

fd_reader::~fd_reader() {
  if (fd_ >= 0) ::close(fd_);
}

fd_reader::int_type fd_reader::underflow() {
  ssize_t n;
  do {
    n = ::read(fd_, buffer_, sizeof buffer_);
  } while (n < 0 && errno == EINTR);
  if (n <= 0) return traits_type::eof();
  setg(buffer_, buffer_, buffer_ + n);
  return traits_type::to_int_type(buffer_[0]);
}

}  // namespace common
