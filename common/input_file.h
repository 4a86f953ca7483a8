// common/input_file.h - reading the programs' input files. Only regular files
// are read, and the check is made on the open descriptor, so a name swapped
// for a FIFO or a device between a check and the open cannot make a run wait
// or read for ever (a device such as /dev/zero never ends, a FIFO without a
// writer never starts).
//
// Failures are returned as the reason alone ("No such file or directory",
// "Is a directory", "not a regular file"); callers put the path in front.
// Nothing is kept between calls.
#ifndef COMMON_INPUT_FILE_H
#define COMMON_INPUT_FILE_H

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <streambuf>
#include <string>

namespace common {

// "" when `st` is a regular file, else why it is not read or replaced.
std::string not_regular(const struct stat& st);

// Opens `path` for reading without waiting (O_NONBLOCK, O_CLOEXEC) and keeps
// it only when the open file is a regular file: "" with `fd` open and `st`
// its state, else the reason with nothing left open (fd = -1).
std::string open_regular(const std::string& path, int& fd, struct stat& st);

// The reason read_file gives for a file larger than its limit.
extern const char kLargerThanLimit[];

// Replaces `text` by the whole regular file `path` (symbolic links followed),
// read through one descriptor: one read() when the file does not grow. `st`,
// when given, receives the state of the very file read. A file of more than
// `limit` bytes is not read (kLargerThanLimit, `text` empty). The text only
// grows where it is short, so reading many similar files fills no bytes
// again. O(file size).
std::string read_file(const std::string& path, std::string& text, struct stat* st = nullptr,
                      std::size_t limit = SIZE_MAX);

// read_file (no state, no limit) with its failure as messages give it:
// "" or "cannot open NAME: <reason>", NAME as shown_name shows it.
std::string read_text(const std::string& path, std::string& text);

// A read buffer over a descriptor it owns (closed by the destructor), for an
// std::istream. Read errors end the input like its end.
class fd_reader : public std::streambuf {
 public:
  explicit fd_reader(int fd) : fd_(fd) {}
  ~fd_reader() override;
  fd_reader(const fd_reader&) = delete;
  fd_reader& operator=(const fd_reader&) = delete;

 protected:
  int_type underflow() override;

 private:
  int fd_;
  char buffer_[1 << 16];
};

}  // namespace common

#endif  // COMMON_INPUT_FILE_H
