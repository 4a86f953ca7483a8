// Fuzz target: trackpair's detection-file parser on arbitrary bytes.
//
// Checks beyond "no crash": the tokenizer never leaves the buffer, a success
// yields exactly the announced number of boxes and a `stop` inside the text,
// and a success whose `stop` lies before the end gives the same boxes when the
// text is cut right after `stop` (the promise the first-block read relies on).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "detections.h"

namespace {

void require(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const char* begin = text.data();
  const char* end = begin + text.size();

  // Tokens stay inside the text, in order, and hold no whitespace at the ends.
  trackpair::token_reader reader(begin, end);
  const char* tb = nullptr;
  const char* te = nullptr;
  const char* last = begin;
  while (reader.next(tb, te)) {
    require(tb >= last && tb < te && te <= end);
    last = te;
    int iv = 0;
    (void)trackpair::parse_int_token(tb, te, iv);
    float fv = 0;
    require(trackpair::is_real_token(tb, te) == trackpair::parse_real_token(tb, te, fv));
    (void)trackpair::quote_token(tb, te);
  }

  std::vector<trackpair::file_box> boxes;
  std::string error;
  const char* stop = nullptr;
  const bool ok = trackpair::parse_detection_text(begin, end, boxes, error, &stop);
  if (!ok) {
    require(!error.empty());
    return 0;
  }
  require(stop != nullptr && stop >= begin && stop <= end);
  trackpair::token_reader first(begin, end);
  int count = 0;
  if (first.next(tb, te)) require(trackpair::parse_int_token(tb, te, count));
  require(boxes.size() == static_cast<std::size_t>(count));
  if (stop < end) {
    const std::string cut(begin, stop + 1);  // [begin, stop]: a blank ends it
    std::vector<trackpair::file_box> again;
    std::string error2;
    require(trackpair::parse_detection_text(cut, again, error2));
    require(again == boxes);
  }
  return 0;
}
