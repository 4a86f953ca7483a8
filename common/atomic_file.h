// common/atomic_file.h - the atomic output writer: every output file is
// written under a temporary name and renamed over its final path only when
// complete, so a reader sees the old file or the new one, never a part, and a
// failed run leaves the old one as it was.
//
// An atomic_file owns its temporary until commit() (which gives it away by
// renaming it) or discard() (which removes it); the destructor discards. The
// temporary is a short name (".tmp-<pid>-<n>", then the final name's extension
// of up to 16 bytes, such as ".avi") in the directory of the final path, or of
// a symbolic link's target when the path is a link to a regular file (the link
// stays). It is created exclusively (O_EXCL, no link followed). For writers
// that open their file by name (video encoders), open() with a private name
// makes instead a fresh folder ".tmp-<pid>-XXXXXX" of mode 0700 beside the
// final path and the temporary inside it under that name: nobody else can put
// anything there. Every name starts ".tmp-<pid>-", so what a killed process
// left can be told from anything else (remove_dead_temporaries). Every
// temporary, private folder and temporary_folder is on one list
// (temporaries.h): while any exists, SIGINT, SIGTERM and SIGHUP (unless
// ignored or handled by the program) remove the files, then the folders
// newest first, before the signal ends the process.
//
// Commit. commit() checks that the rename can succeed (write and search
// permission on the folder, the sticky bit), then exchanges the temporary with
// the existing file, so that the old file is kept under the temporary's name
// until the new one is in place, and removes it (where the file system cannot
// exchange files, a plain rename: the old file is then not kept). Callers committing several
// files together (trackvideo's output_set) use the steps: can_commit() for
// every file, swap_in() for each, undo() of those swapped in when one fails,
// else finish() for all, under one commit_guard, which holds off the three
// signals until the set is complete or rolled back.
//
// Cost: open() is a few stat calls and one create; write() one write call per
// call; commit() a few stats, a chown, a chmod and a rename. Descriptors: one
// while the file is open, none after close(), so a program may keep thousands
// of closed, uncommitted atomic_files and commit them at the end of its run.
// Not shared between threads (the clean-up on a signal is safe from any
// thread).
//
// Failures are returned, never thrown: "" on success, else one line
// "cannot write PATH: <reason>" (PATH as given to open(), never a temporary).

#ifndef COMMON_ATOMIC_FILE_H
#define COMMON_ATOMIC_FILE_H

#include <signal.h>
#include <sys/types.h>

#include <cstddef>
#include <string>
#include <unordered_map>
#include <vector>

namespace common {

namespace detail {
struct temporary;  // a listed temporary name (temporaries.h)
}
class temporaries_lock;

// Where a path writes, comparable between names: the device and inode of the
// file when it exists (links followed), else those of its folder and the last
// component of the name (`name` empty for an existing file). Two names of the
// same file, or of the same file to be made, give equal keys.
struct file_key {
  dev_t dev = 0;
  ino_t ino = 0;
  std::string name;
  bool operator==(const file_key& o) const {
    return dev == o.dev && ino == o.ino && name == o.name;
  }
};
struct file_key_hash {
  std::size_t operator()(const file_key& k) const;
};
// "" with `key` set, or why the path cannot be identified (its folder missing).
// Two stat calls at most.
std::string identify(const std::string& path, file_key& key);

// The files a run reads, identified once (one stat per input when built), so
// that checking an output against all of them costs one hash look-up. Inputs
// that do not exist are left out (they cannot be overwritten).
class input_set {
 public:
  input_set() = default;
  explicit input_set(const std::vector<std::string>& paths);
  void add(const std::string& path);
  // The name of the input that is the file (dev, ino), or nullptr.
  const std::string* find(dev_t dev, ino_t ino) const;

 private:
  std::unordered_map<file_key, std::string, file_key_hash> files_;  // name always empty
};

class atomic_file {
 public:
  atomic_file();
  ~atomic_file();  // discard()
  atomic_file(atomic_file&& other) noexcept;
  atomic_file& operator=(atomic_file&& other) noexcept;  // discards this file's temporary first
  atomic_file(const atomic_file&) = delete;
  atomic_file& operator=(const atomic_file&) = delete;

  // Refuses (returns what is wrong, nothing created) what check_output refuses;
  // else creates the temporary, beside the final file or, when `private_name` is
  // given, under that name in a fresh private folder. Discards an earlier
  // temporary of this object.
  std::string open(const std::string& path, const input_set& inputs,
                   const std::string& private_name = "");
  std::string open(const std::string& path, const std::vector<std::string>& inputs = {});
  // Appends n bytes (reopening the temporary after close()). Fails when not open.
  std::string write(const void* data, std::size_t n);
  // Closes the descriptor; the temporary waits for commit(). "" when not open.
  std::string close();
  // The temporary's name ("" when there is none), for writers that need a file
  // name (video encoders); valid until commit() or discard(). Never shown to users.
  const std::string& temp_path() const;
  // The path as given to open() (for messages).
  const std::string& path() const { return path_; }
  // can_commit, swap_in and finish under a commit_guard; on failure the
  // temporary is removed and the final path is as it was.
  std::string commit();
  // Removes the temporary (and its private folder), if any. Never fails. After
  // swap_in, undo() first.
  void discard();

  // The steps of a commit. can_commit: "" when the rename would be allowed
  // (open, folder writable and searchable, no sticky bit forbidding the
  // replacement of another user's file, the final path not a folder). swap_in:
  // closes, gives the temporary the old file's mode (and owner and group where
  // the process may set them) and puts it in place, the old file kept under the
  // temporary's name; on failure nothing changed. undo: after swap_in, puts the
  // old file back (or removes the new one); the temporary waits again. finish:
  // after swap_in, removes the old file and the private folder.
  std::string can_commit() const;
  std::string swap_in();
  void undo();
  void finish();

 private:
  detail::temporary* temp_ = nullptr;
  detail::temporary* folder_ = nullptr;  // the private folder, if any
  std::string path_, target_;            // as given; where the rename goes
  int fd_ = -1;
  bool swapped_ = false, replaced_ = false;  // swap_in done; it exchanged with an old file
};

// Holds off SIGINT, SIGTERM and SIGHUP for its lifetime, in every thread: the
// calling thread blocks them, and a handler of ours running on another thread
// finds the temporaries busy and leaves the signal to act when the guard ends
// (then removing what is still uncommitted). Nests.
class commit_guard {
 public:
  commit_guard();
  ~commit_guard();
  commit_guard(const commit_guard&) = delete;
  commit_guard& operator=(const commit_guard&) = delete;

 private:
  sigset_t saved_;  // the thread's signal mask before
  temporaries_lock* lock_;
};

// A folder the process makes for its outputs: removed again (when empty) by
// discard(), the destructor and an ending signal, until keep().
class temporary_folder {
 public:
  temporary_folder() = default;
  ~temporary_folder() { discard(); }
  temporary_folder(const temporary_folder&) = delete;
  temporary_folder& operator=(const temporary_folder&) = delete;
  // mkdir (0777 less the umask), listed. "" or "cannot create PATH: <reason>".
  std::string make(const std::string& path);
  void keep();     // it stays; off the list
  void discard();  // rmdir (when empty); off the list

 private:
  detail::temporary* node_ = nullptr;
};

// Removes from `dir` what processes that no longer exist left there: the
// entries named exactly as open() names temporaries (".tmp-<pid>-<n>" and an
// extension of up to 16 bytes, or a private folder ".tmp-<pid>-XXXXXX" with the
// files in it) whose <pid> is no process of this system (kill(pid, 0) fails
// with ESRCH) or one that has ended (a zombie). Any other name, and the
// temporaries of live processes, stay.
// Writers call it on the folders they write into, so that a killed run's
// leftovers go with the next run. One directory walk, and per such entry a
// kill and an unlink (or a walk of the private folder). Never fails.
void remove_dead_temporaries(const std::string& dir);

// The checks atomic_file::open makes before creating anything: "" when `path`
// may be replaced, else "cannot write PATH: <reason>": the same file (device
// and inode) as one of `inputs`; a symbolic link to nothing (refused, never
// replaced by a plain file) or that cannot be followed; an existing file that
// is not a regular file (FIFO, device, socket, directory) or that the caller
// may not write. `target` (when given) receives where the rename goes: the
// link's target for a link to a regular file. Two or three stat calls and a
// hash look-up.
std::string check_output(const std::string& path, const input_set& inputs,
                         std::string* target = nullptr);
std::string check_output(const std::string& path, const std::vector<std::string>& inputs,
                         std::string* target = nullptr);

// open, write, commit in one call: `path` holds `text` afterwards, or is as it
// was and the reason is returned.
std::string write_file_replacing(const std::string& path, const std::string& text,
                                 const std::vector<std::string>& inputs = {});

}  // namespace common

#endif  // COMMON_ATOMIC_FILE_H
