// trackvideo/run/batch_runner.h - the sequences of a --batch run, each in a
// process of its own, up to --jobs at once, and the stop signals.
//
// Each sequence runs in a child process (fork): a sequence that fails,
// crashes or is killed loses nothing of the others; what a killed one left in
// its folder (temporaries, folders it made) is removed. The child holds an
// exclusive flock on DIR/<name> (made when missing) for its whole run,
// waiting while another run holds it and then skipping the sequence if that
// run did it with these settings. A child whose parent dies gets SIGTERM. The
// child tells its parent how it went through a pipe, in one write.
//
// SIGINT, SIGTERM and SIGHUP (those not ignored) are blocked in the parent
// and read between the children's messages: it starts nothing more, passes
// the signal on to its children and waits for them (each removes its
// temporaries); the caller then ends the process by the same signal.
//
// Ownership: the runner owns its children (a runner destroyed with children
// alive, by an exception, stops them with SIGTERM and reaps them); it holds
// pointers to the batch_line items it was given, which must outlive it.
// Cost: one fork per sequence; the parent polls the children's pipes and the
// signals, O(jobs) per wake-up.
#ifndef TRACKVIDEO_RUN_BATCH_RUNNER_H
#define TRACKVIDEO_RUN_BATCH_RUNNER_H

#include <signal.h>
#include <sys/types.h>

#include <cstdio>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "trackvideo/run/batch_list.h"
#include "trackvideo/run/options.h"

namespace trackvideo {

// The stop signals, blocked for the parent's lifetime and read from a
// signalfd between the children's messages, so that the parent sees them at
// one place of its loop; the children get the mask as it was.
class stop_signals {
 public:
  stop_signals();
  // Restores the mask: a stop signal still pending then acts as it would have.
  ~stop_signals();
  stop_signals(const stop_signals&) = delete;
  stop_signals& operator=(const stop_signals&) = delete;
  int fd() const { return fd_; }
  const sigset_t& saved() const { return saved_; }
  // The stop signal that arrived, or 0.
  int take();
  // Ends the process by `sig`, as its default action would.
  [[noreturn]] void die_of(int sig);

 private:
  sigset_t set_, saved_;
  int fd_ = -1;
};

class batch_runner {
 public:
  // `list` is LIST as messages name it.
  batch_runner(const options& o, std::FILE* err, const std::string& list, stop_signals& stops);
  // Should the parent fail (an exception), its children stop with it.
  ~batch_runner();
  batch_runner(const batch_runner&) = delete;
  batch_runner& operator=(const batch_runner&) = delete;

  // Runs `todo` (with the identities of their markers), up to jobs_ at once.
  // A stop signal starts nothing more: it is passed on to the children, which
  // are waited for.
  void run_all(const std::vector<std::pair<const batch_line*, std::string>>& todo);

  // "trackvideo: LIST:N: <name>: <why>" (a folder batch: ROOT:FOLDER) on
  // `err`; the batch has failed.
  void fail(const batch_line& l, const std::string& why);
  // "trackvideo: <name>: <what>" on `err`, unless --progress never.
  void note(const batch_line& l, const std::string& what);
  bool failed() const { return failed_; }
  // Whether this run failed the sequence of `l`.
  bool failed(const batch_line& l) const { return failed_lines_.count(&l) != 0; }
  // The stop signal the run got, or 0.
  int stopped() const { return stopped_; }

 private:
  // A sequence running in a child process.
  struct running {
    const batch_line* line = nullptr;
    pid_t pid = -1;
    int fd = -1;          // the read end of the child's pipe
    std::string message;  // what it said so far
    // The sequence's folder, overlay/, detections/ and page/, and whether
    // each existed before the child started.
    static constexpr int kFolders = 4;
    std::string folders[kFolders];
    bool existed[kFolders] = {};
  };

  void stop(int sig);
  void start(const batch_line& l, const std::string& identity);
  // Reads what the children say until at least one has ended or a stop
  // signal came, and reports it.
  void wait_some();
  // The child's pipe has ended: reaps it and reports how the sequence went.
  void finish(running& r);

  const options& o_;
  std::FILE* const err_;
  const std::string list_;  // LIST as messages name it
  stop_signals& stops_;
  const int processors_;  // this process may use
  const int jobs_;
  int threads_ = 1;  // each sequence's --threads
  std::vector<running> live_;
  bool failed_ = false;
  std::unordered_set<const batch_line*> failed_lines_;
  int stopped_ = 0;
};

}  // namespace trackvideo

#endif  // TRACKVIDEO_RUN_BATCH_RUNNER_H
