// trackvideo/base/failure.cpp - one line for an exception (see failure.h).
#include "trackvideo/base/failure.h"

#include <opencv2/core.hpp>

#include <algorithm>
#include <new>

namespace trackvideo {

static_assert(sizeof kOutOfMemory <= 16, "kOutOfMemory must fit std::string's inline buffer");

std::string failure_text(const std::exception& e) noexcept {
  try {
    if (dynamic_cast<const std::bad_alloc*>(&e)) return kOutOfMemory;
    std::string text = e.what();
    if (const auto* cv_error = dynamic_cast<const cv::Exception*>(&e)) {
      if (cv_error->code == cv::Error::StsNoMem) return kOutOfMemory;
      if (!cv_error->err.empty()) text = cv_error->err;
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    std::replace(text.begin(), text.end(), '\n', ' ');
    std::replace(text.begin(), text.end(), '\r', ' ');
    return text.empty() ? "internal error" : text;
  } catch (...) {
    return kOutOfMemory;
  }
}

}  // namespace trackvideo
