// trackvideo/sinks/progress.cpp - the progress line (see progress.h).
#include "trackvideo/sinks/progress.h"

namespace trackvideo {

void progress::update(long long n) {
  if (!enabled_) return;
  const clock::time_point now = clock::now();
  if (shown_ && n != total_ && now - last_ < kInterval) return;
  show(n, now);
}

void progress::show(long long n, clock::time_point now) {
  const double seconds = std::chrono::duration<double>(now - start_).count();
  const long long percent = total_ > 0 ? n * 100 / total_ : 100;
  std::fprintf(err_, "\rtrackvideo: frame %lld of %lld (%lld%%), %.1f s", n + shift_,
               total_ + shift_, percent, seconds);
  std::fflush(err_);
  last_ = now;
  shown_ = true;
}

void progress::finish() {
  if (enabled_ && shown_) std::fputc('\n', err_);
  enabled_ = false;
}

}  // namespace trackvideo
