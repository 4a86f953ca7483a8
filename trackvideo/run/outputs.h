// trackvideo/run/outputs.h - the output files of a run, written as temporaries
// and committed together, all or none, once the whole run has succeeded.
//
// Every file is a common::atomic_file (a temporary beside its final path, or
// in a private folder for the video encoder, removed by discard, by the
// destructor and when SIGINT, SIGTERM or SIGHUP ends the process). Files are
// closed after writing, so thousands may wait for their commit while only a
// few descriptors are open. An output folder that does not exist is created
// when prepared and removed again when the run fails or a signal ends it (it
// is then empty).
//
// What is refused, before anything is written: an output that is an input
// (checked against the inputs' device and inode, identified once); two outputs
// naming the same file (by device and inode of an existing file, else by the
// device and inode of its folder and its name), including a file that is one
// of the names an output folder will hold; an output folder that is, or is
// inside, an input folder, or that holds one (compared by device and inode up
// the parents). An output folder may lie inside another as long as its name is
// not one of the other's file names.
//
// What processes that no longer exist left in the folders a set writes into
// (their ".tmp-<pid>-" temporaries) is removed when the folder is first used
// (common::remove_dead_temporaries).
//
// Ownership: the set owns its files and folders; a pointer from open() stays
// valid until commit_all() or discard_all() (files live in a deque). Cost:
// building the set stats every input once; open is one file creation, a few
// stat calls and hash look-ups; commit_all a few stat calls and one rename per
// file, and one unlink per replaced file.
#ifndef TRACKVIDEO_RUN_OUTPUTS_H
#define TRACKVIDEO_RUN_OUTPUTS_H

#include <sys/types.h>

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "common/atomic_file.h"

namespace trackvideo {

// Whether a file name (no folder part) is one of those an output folder holds.
using name_filter = std::function<bool(const std::string&)>;

class output_set {
 public:
  // `inputs`: files no output may replace (the tracks file, the video, the
  // images); `input_folders`: folders no output folder may be in or hold.
  explicit output_set(const std::vector<std::string>& inputs,
                      const std::vector<std::string>& input_folders = {});
  ~output_set() { discard_all(); }
  output_set(const output_set&) = delete;
  output_set& operator=(const output_set&) = delete;

  // Makes sure `dir` is a folder files can go in, creating it when missing;
  // `role` ("the overlay pictures") names it in messages, `names` says which
  // file names it will hold. Folders are prepared before files are opened; a
  // folder inside another is prepared after it. "" or "cannot create DIR:
  // <reason>", "DIR is not a folder", "cannot write into DIR: <reason>".
  std::string prepare_folder(const std::string& dir, const std::string& role, name_filter names);
  // A new pending file for `path`, `role` ("the table") naming it in messages;
  // with `private_name`, its temporary is that name in a private folder (see
  // atomic_file::open). "" with `file` set, or what is wrong.
  std::string open(const std::string& path, const std::string& role, common::atomic_file*& file,
                   const std::string& private_name = "");
  // Writes `text` to a new pending file for `path` (in a prepared folder, whose
  // role it takes) and closes it.
  std::string write_closed(const std::string& path, const std::string& text);
  // Commits every pending file, all or none: checks first that every rename
  // may succeed, then puts the files in place in the order opened, and if one
  // still fails puts back those already in place. SIGINT, SIGTERM and SIGHUP
  // wait until it is done. `before_rename(k)`, when given, runs before the
  // rename of file k (tests use it to make a rename fail). On failure the files
  // stay pending (discard_all removes them).
  std::string commit_all(const std::function<void(std::size_t)>& before_rename = {});
  // Removes every uncommitted temporary and the folders this set created.
  void discard_all();

 private:
  struct folder {
    std::string path, role;
    name_filter names;
    dev_t dev;
    ino_t ino;
  };
  // The folder `path`'s name would be in among the prepared folders, or nullptr.
  const folder* folder_of(const common::file_key& key) const;
  // "" or why `path` (key `key`) may not be written as `role`; then holds it.
  std::string claim(const std::string& path, const common::file_key& key, const std::string& role);
  // The identity of the folder of `path` and its last name, the folder's
  // identity cached by its text.
  std::string name_in_folder(const std::string& path, common::file_key& key);

  // Removes dead processes' temporaries from `dir` the first time it is used.
  void sweep(const std::string& dir);

  common::input_set inputs_;
  std::vector<std::pair<dev_t, ino_t>> swept_;  // folders swept
  std::vector<std::pair<std::string, std::vector<std::pair<dev_t, ino_t>>>> input_folders_;
  std::deque<common::atomic_file> files_;
  std::deque<common::temporary_folder> created_;  // folders made by prepare_folder
  std::vector<folder> folders_;
  std::vector<std::string> roles_;
  std::unordered_map<common::file_key, std::size_t, common::file_key_hash> claimed_;  // -> role
  std::string last_dir_;  // identify's cache: the folder part and its identity
  dev_t last_dev_ = 0;
  ino_t last_ino_ = 0;
};

// The device and inode of `dir` and of each folder above it up to the root,
// itself first; "" or why it cannot be walked.
std::string folder_chain(const std::string& dir, std::vector<std::pair<dev_t, ino_t>>& chain);

}  // namespace trackvideo

#endif  // TRACKVIDEO_RUN_OUTPUTS_H
