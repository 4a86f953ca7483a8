// trackvideo/base/failure.h - what an exception that ends a run says: one line, as
// every other failure of the run.
//
// Running out of memory (std::bad_alloc, or OpenCV's "insufficient memory")
// is "out of memory"; an OpenCV error is its short description; anything else
// its what() with line breaks made blanks. The result never holds a newline.
// Nothing is thrown: should the text itself not fit in memory, it is "out of
// memory". O(length of the message).
#ifndef TRACKVIDEO_BASE_FAILURE_H
#define TRACKVIDEO_BASE_FAILURE_H

#include <exception>
#include <string>

namespace trackvideo {

// Short enough for std::string's inline buffer: assigning it never allocates.
constexpr char kOutOfMemory[] = "out of memory";

std::string failure_text(const std::exception& e) noexcept;

}  // namespace trackvideo

#endif  // TRACKVIDEO_BASE_FAILURE_H
