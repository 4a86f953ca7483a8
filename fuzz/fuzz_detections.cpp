// Fuzz target: trackpair's detection-file parser on arbitrary bytes.
//
// Checks beyond "no crash": a success yields exactly the announced number of
// boxes, whose values are the file's integers; a failure says what is wrong in
// one line; the real validator agrees with strtof on every token.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/tokens.h"
#include "trackpair/detections.h"

namespace {

void require(bool ok) {
  if (!ok) std::abort();
}

bool blank(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> tokens;
  for (std::size_t at = 0; at < text.size();) {
    if (blank(text[at])) {
      ++at;
      continue;
    }
    const std::size_t begin = at;
    while (at < text.size() && !blank(text[at])) ++at;
    tokens.push_back(text.substr(begin, at - begin));
    const std::string& t = tokens.back();
    char* stop = nullptr;
    std::strtof(t.c_str(), &stop);
    require(trackpair::is_real_token(t.c_str(), t.c_str() + t.size()) ==
            (stop == t.c_str() + t.size()));
  }

  std::vector<trackpair::file_box> boxes;
  const std::string error = trackpair::parse_detection_text(text, boxes);
  if (!error.empty()) {
    require(error.find('\n') == std::string::npos);
    return 0;
  }
  int count = 0;
  if (!tokens.empty())
    require(common::parse_int_token(tokens[0].data(), tokens[0].data() + tokens[0].size(), count));
  require(boxes.size() == static_cast<std::size_t>(count));
  for (std::size_t s = 0; s < boxes.size(); ++s)
    for (int k = 0; k < 4; ++k) {
      const std::string& t = tokens[1 + s * trackpair::record_tokens + k];
      int v = 0;
      require(common::parse_int_token(t.data(), t.data() + t.size(), v) && v == boxes[s][k]);
    }
  return 0;
}
