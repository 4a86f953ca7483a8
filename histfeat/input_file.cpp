// Opening inputs: only regular files are read, and the check is made on the
// open descriptor, so a name swapped for a FIFO or a device between a check and
// the open cannot make a run wait or read for ever.

#include "histfeat/internal.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace histfeat {

std::string not_regular(const struct stat& st) {
  if (S_ISREG(st.st_mode)) return "";
  return S_ISDIR(st.st_mode) ? std::strerror(EISDIR) : "not a regular file";
}

std::string open_regular(const std::string& path, int& fd, struct stat& st) {
  // O_NONBLOCK: opening a FIFO does not wait for a writer.
  fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return "cannot open " + path + ": " + std::strerror(errno);
  std::string refused = ::fstat(fd, &st) == 0 ? not_regular(st) : std::strerror(errno);
  if (refused.empty()) return "";
  ::close(fd);
  fd = -1;
  return "cannot open " + path + ": " + refused;
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

}  // namespace histfeat
