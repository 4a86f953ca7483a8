// The list of the process's uncommitted temporaries and its clean-up on a signal.

#include "common/temporaries.h"

#include <unistd.h>

#include <atomic>
#include <csignal>

namespace common {

namespace {

using node = detail::temporary;
node list_head{&list_head, &list_head, {}, false};

// The list is changed only under `list_busy`. A signal that finds it busy (its
// handler may run on the very thread that holds it) records itself in
// `pending_signal`; the holder sees it on release and finishes the job. Lock-free
// atomics, so both are safe in a signal handler.
std::atomic<int> list_busy{0}, pending_signal{0};

// Files first, then the folders newest first, which are then empty unless
// someone else put something there.
void remove_temporaries_and_die(int sig) {
  for (node* n = list_head.next; n != &list_head; n = n->next)
    if (!n->folder) ::unlink(n->name.c_str());
  for (node* n = list_head.prev; n != &list_head; n = n->prev)
    if (n->folder) ::rmdir(n->name.c_str());
  ::signal(sig, SIG_DFL);
  ::raise(sig);  // in a handler: delivered, and fatal, when the handler returns
}

extern "C" void on_fatal_signal(int sig) {
  pending_signal.store(sig);
  if (list_busy.exchange(1) == 0) remove_temporaries_and_die(sig);
}

}  // namespace

// How many temporaries_locks this thread holds: only the outermost one takes
// and releases `list_busy`.
static thread_local int held_here = 0;

temporaries_lock::temporaries_lock() {
  if (held_here++ > 0) return;
  while (list_busy.exchange(1) != 0) {
  }
}

temporaries_lock::~temporaries_lock() {
  if (--held_here > 0) return;
  list_busy.store(0);
  if (int sig = pending_signal.load(); sig != 0 && list_busy.exchange(1) == 0)
    remove_temporaries_and_die(sig);
}

void install_cleanup_handlers() {
  static const bool installed = [] {
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
      struct sigaction old {};
      if (::sigaction(sig, nullptr, &old) != 0 || (old.sa_flags & SA_SIGINFO) ||
          old.sa_handler != SIG_DFL)
        continue;
      struct sigaction ours {};
      ours.sa_handler = on_fatal_signal;
      sigemptyset(&ours.sa_mask);
      ::sigaction(sig, &ours, nullptr);
    }
    return true;
  }();
  (void)installed;
}

void list_temporary(node* n) {
  n->prev = list_head.prev;
  n->next = &list_head;
  list_head.prev->next = n;
  list_head.prev = n;
}

void unlist_temporary(node* n) {
  n->prev->next = n->next;
  n->next->prev = n->prev;
  n->prev = n->next = n;
}

}  // namespace common
