// trackvideo/sinks/report_runs.cpp - the report as per-object runs (see
// report_runs.h).
#include "trackvideo/sinks/report_runs.h"

#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>

namespace trackvideo {

namespace {

// "v " at the end of `text`.
void number(std::string& text, int v) {
  char digits[16];
  char* const stop = std::to_chars(digits, digits + 12, v).ptr;
  *stop = ' ';
  text.append(digits, stop + 1);
}

std::string failed(int error) {
  return std::string("cannot write the report: ") + std::strerror(error != 0 ? error : EIO);
}

}  // namespace

report_runs::report_runs(const tracks& t, std::size_t pending)
    : tracks_(t),
      pending_(static_cast<std::size_t>(t.objects())),
      chunks_(static_cast<std::size_t>(t.objects())),
      pending_limit_(pending) {}

report_runs::~report_runs() {
  if (file_) std::fclose(file_);
}

void report_runs::begin_frame(const frame_records& r) {
  frame_ = r.frame;
  first_ = r.first;
  boxes_ = r.boxes();
  if (lower_.size() < boxes_) lower_.resize(boxes_);
  for (std::size_t k = 0; k < boxes_; ++k) lower_[k].clear();
  emitted_ = 0;
  run_first_ = 0;
  run_.clear();
}

void report_runs::add_pair(int a, int b) {
  if (frame_ < 2) return;
  const auto first = static_cast<std::size_t>(a);
  if (first != run_first_) emit_before(first);
  run_.push_back(b);
  lower_[static_cast<std::size_t>(b)].push_back(a);
}

// Every box before `k`: all its pairs have been seen (its lower hits as the
// second of pairs that started earlier, its higher hits as run_).
void report_runs::emit_before(std::size_t k) {
  for (; emitted_ < k && why_.empty(); ++emitted_) {
    const track_box& box = tracks_.boxes[first_ + emitted_];
    std::string& text = pending_[static_cast<std::size_t>(box.object)];
    const std::size_t before = text.size();
    number(text, box.object);
    number(text, frame_ - 1);
    number(text, box.det);
    const auto hit = [&](int h) {
      const track_box& other = tracks_.boxes[first_ + static_cast<std::size_t>(h)];
      number(text, other.object);
      number(text, other.det);
    };
    std::vector<int>& lower = lower_[emitted_];
    for (const int h : lower) hit(h);
    if (emitted_ == run_first_)
      for (const int h : run_) hit(h);
    text += '\n';
    pending_bytes_ += text.size() - before;
    // A box of thousands of hits gives its memory back.
    if (lower.capacity() > 4096) std::vector<int>().swap(lower);
    // A frame of millions of pairs does not wait whole in memory.
    if (pending_bytes_ >= pending_limit_) why_ = spill();
  }
  if (k != run_first_) {
    run_first_ = k;
    run_.clear();
  }
}

std::string report_runs::end_frame() {
  if (frame_ >= 2) emit_before(boxes_);
  std::string why;
  why.swap(why_);
  return why;
}

std::string report_runs::spill() {
  if (!file_ && !(file_ = std::tmpfile())) return failed(errno);
  for (std::size_t q = 0; q < pending_.size(); ++q) {
    std::string& text = pending_[q];
    if (text.empty()) continue;
    errno = 0;
    if (std::fwrite(text.data(), 1, text.size(), file_) != text.size()) return failed(errno);
    chunks_[q].push_back(chunk{file_size_, text.size()});
    file_size_ += static_cast<long long>(text.size());
    text.clear();
  }
  pending_bytes_ = 0;
  return "";
}

std::string report_runs::finish(const writer& write) {
  errno = 0;
  if (file_ && std::fflush(file_) != 0) return failed(errno);
  std::vector<char> buffer;
  for (std::size_t q = 0; q < pending_.size(); ++q) {
    for (const chunk& c : chunks_[q]) {
      buffer.resize(c.size);
      const int fd = ::fileno(file_);
      for (std::size_t done = 0; done < c.size;) {
        const ssize_t got = ::pread(fd, buffer.data() + done, c.size - done,
                                    static_cast<off_t>(c.offset + static_cast<long long>(done)));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return failed(got == 0 ? EIO : errno);
        done += static_cast<std::size_t>(got);
      }
      if (std::string why = write(buffer.data(), c.size); !why.empty()) return why;
    }
    const std::string& text = pending_[q];
    if (!text.empty())
      if (std::string why = write(text.data(), text.size()); !why.empty()) return why;
  }
  return "";
}

}  // namespace trackvideo
