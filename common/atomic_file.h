// common/atomic_file.h - the atomic output writer: every output file is
// written under a temporary name and renamed over its final path only when
// complete, so a reader sees the old file or the new one, never a part, and a
// failed run leaves the old one as it was.
//
// An atomic_file owns its temporary until commit() (which gives it away by
// renaming it) or discard() (which removes it); the destructor discards. The
// temporary is a short name (".tmp-<pid>-<n>", then the final name's extension
// of up to 16 bytes, such as ".avi") in the directory of the final path, or of a symbolic link's
// target when the path is a link to a regular file (the link stays). While uncommitted temporaries
// exist, SIGINT, SIGTERM and SIGHUP (unless ignored or handled by the program) remove them all
// before the signal ends the process.
//
// Cost: open() is a few stat calls and one create; write() one write call per
// call; commit() a stat, chown, chmod and rename. Descriptors: one while the
// file is open, none after close(), so a program may keep thousands of closed,
// uncommitted atomic_files and commit them at the end of its run. Not shared
// between threads (the clean-up on a signal is safe from any thread).
//
// Failures are returned, never thrown: "" on success, else one line
// "cannot write PATH: <reason>" (PATH as given to open()).

#ifndef COMMON_ATOMIC_FILE_H
#define COMMON_ATOMIC_FILE_H

#include <cstddef>
#include <string>
#include <vector>

namespace common {

namespace detail {
struct temporary;  // a listed temporary name (temporaries.h)
}

class atomic_file {
 public:
  atomic_file();
  ~atomic_file();  // discard()
  atomic_file(atomic_file&& other) noexcept;
  atomic_file& operator=(atomic_file&& other) noexcept;  // discards this file's temporary first
  atomic_file(const atomic_file&) = delete;
  atomic_file& operator=(const atomic_file&) = delete;

  // Refuses (returns what is wrong, nothing created) when `path` is the same file
  // (device and inode) as one of `inputs`, exists and is not a regular file (FIFO,
  // device, socket, directory), or exists and may not be written by the caller;
  // else creates the temporary. Discards an earlier temporary of this object.
  std::string open(const std::string& path, const std::vector<std::string>& inputs = {});
  // Appends n bytes (reopening the temporary after close()). Fails when not open.
  std::string write(const void* data, std::size_t n);
  // Closes the descriptor; the temporary waits for commit(). "" when not open.
  std::string close();
  // The temporary's name ("" when there is none), for writers that need a file
  // name (video encoders); valid until commit() or discard().
  const std::string& temp_path() const;
  // Closes if needed, gives the temporary the existing file's mode (and owner and
  // group where the process may set them; a new file keeps 0666 less umask) and
  // renames it over the final path. On failure the temporary is removed.
  std::string commit();
  // Removes the temporary, if any. Never fails.
  void discard();

 private:
  detail::temporary* temp_ = nullptr;
  std::string path_, target_;  // as given; where the rename goes
  int fd_ = -1;
};

// The checks atomic_file::open makes before creating anything: "" when `path`
// may be replaced, else "cannot write PATH: <reason>". `target` (when given)
// receives where the rename goes: the link's target for a link to a regular file.
std::string check_output(const std::string& path, const std::vector<std::string>& inputs,
                         std::string* target = nullptr);

// open, write, commit in one call: `path` holds `text` afterwards, or is as it
// was and the reason is returned.
std::string write_file_replacing(const std::string& path, const std::string& text,
                                 const std::vector<std::string>& inputs = {});

}  // namespace common

#endif  // COMMON_ATOMIC_FILE_H
