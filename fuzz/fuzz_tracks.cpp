// Fuzz target: trackvideo's tracks file parser on arbitrary bytes.
//
// Checks beyond "no crash": a success passes verify(), holds one box per
// line that is neither blank nor the skipped header, and the header, when
// one was skipped, is the first such line; a failure is one line of printable
// ASCII naming the file as quoted (its name holds an escape byte), so that no
// byte of the input or the name reaches a terminal raw.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_bytes.h"
#include "trackvideo/input/tracks.h"

namespace {

const char kName[] = "t\x1b.txt";
const char kShownName[] = "'t?.txt'";

bool blank(char c) {
  return c == ' ' || c == '\t' || c == '\r';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  trackvideo::tracks t;
  const std::string error = trackvideo::parse_tracks(text, kName, t);
  if (!error.empty()) {
    fuzz_require_message_naming(error, kShownName);
    return 0;
  }
  fuzz_require(t.verify().empty());

  // The lines that are not blank, counted apart from the parser.
  std::size_t at = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  std::size_t filled = 0;
  int first_filled = 0;
  for (int line = 1; at < text.size(); ++line) {
    std::size_t eol = text.find('\n', at);
    if (eol == std::string::npos) eol = text.size();
    bool is_blank = true;
    for (std::size_t i = at; i < eol && is_blank; ++i) is_blank = blank(text[i]);
    if (!is_blank && filled++ == 0) first_filled = line;
    at = eol + 1;
  }
  fuzz_require(t.header_line == 0 || t.header_line == first_filled);
  fuzz_require(t.boxes.size() == filled - (t.header_line != 0 ? 1 : 0));
  fuzz_require(trackvideo::header_message(t).empty() == (t.header_line == 0));
  return 0;
}
