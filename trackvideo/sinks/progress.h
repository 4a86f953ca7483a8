// trackvideo/sinks/progress.h - the progress line on standard error.
//
// One line "trackvideo: frame n of N (p%), s s" rewritten in place with '\r'
// (n and N numbered as the tracks number frames, shown_frame),
// at most every kInterval (the first and the last frame always), ended with a
// newline by finish(). A disabled progress writes nothing at all. The stream
// is borrowed. Cost: a clock read per update; a write only when shown.
#ifndef TRACKVIDEO_SINKS_PROGRESS_H
#define TRACKVIDEO_SINKS_PROGRESS_H

#include <chrono>
#include <cstdio>


namespace trackvideo {

class progress {
 public:
  using clock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds kInterval{100};

  // shift: what the shown numbers add to n and total (tracks::shown_frame(1) - 1).
  progress(bool enabled, long long total, std::FILE* err, int shift = 0)
      : enabled_(enabled), total_(total), shift_(shift), err_(err), start_(clock::now()) {}
  ~progress() { finish(); }
  progress(const progress&) = delete;
  progress& operator=(const progress&) = delete;
  // Frame `n` (1 .. total) is done.
  void update(long long n);
  // Ends the line, if any was shown; later calls do nothing.
  void finish();

 private:
  void show(long long n, clock::time_point now);

  bool enabled_;
  long long total_;
  int shift_;
  std::FILE* err_;
  clock::time_point start_, last_{};
  bool shown_ = false;
};

}  // namespace trackvideo

#endif  // TRACKVIDEO_SINKS_PROGRESS_H
