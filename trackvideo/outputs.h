// trackvideo/outputs.h - the output files of a run, written as temporaries
// and committed together once the whole run has succeeded.
//
// Every file is a common::atomic_file (a temporary beside its final path,
// removed by discard, by the destructor and when SIGINT, SIGTERM or SIGHUP
// ends the process). Files are closed after writing, so thousands may wait
// for their commit while only a few descriptors are open. An output folder
// that does not exist is created when prepared and removed again when the run
// fails (it is then empty).
//
// Ownership: the set owns its files; a pointer from open() stays valid until
// commit_all() or discard_all() (files live in a deque). Cost: open is one
// file creation and the checks of atomic_file::open against the inputs;
// commit_all one rename per file.
#ifndef TRACKVIDEO_OUTPUTS_H
#define TRACKVIDEO_OUTPUTS_H

#include <deque>
#include <string>
#include <vector>

#include "common/atomic_file.h"

namespace trackvideo {

class output_set {
 public:
  // `inputs`: files no output may replace (the tracks file, the video, the images).
  explicit output_set(std::vector<std::string> inputs) : inputs_(std::move(inputs)) {}
  ~output_set() { discard_all(); }
  output_set(const output_set&) = delete;
  output_set& operator=(const output_set&) = delete;

  // Makes sure `dir` is a folder files can go in, creating it when missing.
  // "" or "cannot create DIR: <reason>" / "DIR is not a folder".
  std::string prepare_folder(const std::string& dir);
  // A new pending file for `path`; "" with `file` set, or what is wrong (as
  // atomic_file::open, with the path named).
  std::string open(const std::string& path, common::atomic_file*& file);
  // Writes `text` to a new pending file for `path` and closes it.
  std::string write_closed(const std::string& path, const std::string& text);
  // Commits every pending file in the order opened; stops at the first failure.
  std::string commit_all();
  // Removes every uncommitted temporary and the folders this set created.
  void discard_all();

 private:
  std::vector<std::string> inputs_;
  std::deque<common::atomic_file> files_;
  std::vector<std::string> created_;  // folders made by prepare_folder
};

}  // namespace trackvideo

#endif  // TRACKVIDEO_OUTPUTS_H
