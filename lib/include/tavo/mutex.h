// tavo/mutex.h - the library's lock type.
//
// The library runs in one thread; tavo_mutex keeps the places that would need
// a lock marked (the numbering of tree nodes, the release of a shared string
// representation, the counting of random sources) and does nothing.
#ifndef TAVO_MUTEX_H
#define TAVO_MUTEX_H

class tavo_mutex {
 public:
  tavo_mutex() = default;
  tavo_mutex(const tavo_mutex&) = delete;
  tavo_mutex& operator=(const tavo_mutex&) = delete;
  // Both do nothing in the single-threaded configuration.
  void lock() {}
  void unlock() {}
};

// Holds a tavo_mutex for the lifetime of the object.
class tavo_lock_guard {
 public:
  explicit tavo_lock_guard(tavo_mutex& m) : m_(m) { m_.lock(); }
  ~tavo_lock_guard() { m_.unlock(); }
  tavo_lock_guard(const tavo_lock_guard&) = delete;
  tavo_lock_guard& operator=(const tavo_lock_guard&) = delete;

 private:
  tavo_mutex& m_;
};

#endif  // TAVO_MUTEX_H
