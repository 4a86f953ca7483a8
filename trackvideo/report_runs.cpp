// trackvideo/report_runs.cpp - the report as per-object runs (see
// report_runs.h).
#include "trackvideo/report_runs.h"

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

std::string report_runs::add_frame(const frame_records& r,
                                   const std::vector<std::pair<int, int>>& pairs) {
  if (r.frame < 2) return "";
  const std::size_t n = r.boxes();
  if (hits_.size() < n) hits_.resize(n);
  for (std::size_t k = 0; k < n; ++k) hits_[k].clear();
  // Second of a pair first: all lower objects' hits, then the higher ones'.
  for (const auto& [a, b] : pairs) hits_[static_cast<std::size_t>(b)].push_back(a);
  for (const auto& [a, b] : pairs) hits_[static_cast<std::size_t>(a)].push_back(b);
  for (std::size_t k = 0; k < n; ++k) {
    const track_box& box = tracks_.boxes[r.first + k];
    std::string& text = pending_[static_cast<std::size_t>(box.object)];
    const std::size_t before = text.size();
    number(text, box.object);
    number(text, r.frame - 1);
    number(text, box.det);
    for (const int h : hits_[k]) {
      const track_box& other = tracks_.boxes[r.first + static_cast<std::size_t>(h)];
      number(text, other.object);
      number(text, other.det);
    }
    text += '\n';
    pending_bytes_ += text.size() - before;
  }
  return pending_bytes_ >= pending_limit_ ? spill() : "";
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
