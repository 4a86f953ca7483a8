// trackvideo/run/batch_checks.h - what keeps a --batch run from harming its
// inputs and from meeting another run in a folder: every output checked
// against every input before anything is written, and a lock per folder of
// DIR.
//
// Before anything runs or is written, every output of the whole batch
// (summary.csv, and of each sequence its folder, report.txt, pairs.csv,
// encounters.csv, done and what --with asks for) is checked by device and
// inode against every input (LIST, each seqinfo.ini and tracks file), and
// against the folders nothing is written into (each sequence folder, its gt/
// and its frame folder); an output still to be made, by its folder.
//
// The locks are flocks of the folders themselves, held by an open descriptor
// (closing it releases the lock; a process that dies releases it).
//
// Cost: the check stats each input and output once, O(sequences) memory; a
// lock is a few system calls, waiting as long as another run holds it.
#ifndef TRACKVIDEO_RUN_BATCH_CHECKS_H
#define TRACKVIDEO_RUN_BATCH_CHECKS_H

#include <string>
#include <vector>

#include "trackvideo/run/batch_list.h"
#include "trackvideo/run/options.h"

namespace trackvideo {

// Every output of the batch against every input of it, before anything is
// written: "" or the first clash, as one line naming both ("cannot write
// OUTPUT: it is LIST:N's tracks file ..."). `list` is LIST as messages name
// it; `frame_dirs[k]` the frame folder of `lines[k]` ("" when unknown).
std::string check_outputs(const options& o, const std::string& list,
                          const std::vector<batch_line>& lines,
                          const std::vector<std::string>& frame_dirs);

// Takes an exclusive flock on the open folder `fd`, waiting unless `wait` is
// false: 1 held, 0 another process holds it, -1 failed (errno says why). A
// file system that keeps no flock on a folder opened for reading (network
// ones: EBADF, ENOLCK, EOPNOTSUPP) cannot keep runs apart: there it counts as
// held.
int lock_open_folder(int fd, bool wait);

// Makes `dir` when missing and takes an exclusive flock on the folder itself,
// waiting while another run holds it; `made` says this process made it. A
// folder removed while this waited (another run failed in it) is made again.
// "" with `fd` holding the lock (closing it releases it), or why not.
std::string lock_folder(const std::string& dir, int& fd, bool& made);

// Removes what dead processes left in `dirs` (the first of them a folder of
// DIR) while holding the first's lock, so that no run at work there (on this
// machine or another sharing DIR) loses a temporary; with `wait` false, does
// nothing when another run holds it.
void sweep_locked(const std::vector<std::string>& dirs, bool wait);

}  // namespace trackvideo

#endif  // TRACKVIDEO_RUN_BATCH_CHECKS_H
