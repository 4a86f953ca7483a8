// The process's uncommitted temporary files and the folders it made for its
// outputs (internal to the atomic writer): one list, which a handler of SIGINT,
// SIGTERM and SIGHUP walks to remove every file on it, then every folder on it
// newest first (a folder made inside another goes before it; a folder still
// holding something stays), before the signal ends the process.
//
// Invariant: a temporary is on the list exactly while its file may exist, and
// its `name` changes only while it is off the list. The list is changed only
// while a temporaries_lock is held; a signal arriving meanwhile (in the holder's
// thread or another) is acted on when the lock is released; the lock nests in
// its thread, so a commit may hold it throughout. Listing and unlisting are
// O(1); the lock is two atomic operations when uncontended.

#ifndef COMMON_TEMPORARIES_H
#define COMMON_TEMPORARIES_H

#include "common/atomic_file.h"

#include <string>

namespace common {

struct detail::temporary {
  temporary* prev;
  temporary* next;
  std::string name;
  bool folder;  // removed with rmdir, after every file
};

// Installs the handlers once, for each of the three signals that still has its
// default action: a signal the program ignores (nohup) or handles itself is
// left alone.
void install_cleanup_handlers();

// Holds the list for its lifetime (nests in one thread). Only a handler on
// another thread, which ends the process, can keep it from the caller for long.
class temporaries_lock {
 public:
  temporaries_lock();
  ~temporaries_lock();
  temporaries_lock(const temporaries_lock&) = delete;
  temporaries_lock& operator=(const temporaries_lock&) = delete;
};

// Put on and take off the list; the caller holds a temporaries_lock.
void list_temporary(detail::temporary* t);
void unlist_temporary(detail::temporary* t);

}  // namespace common

#endif  // COMMON_TEMPORARIES_H
