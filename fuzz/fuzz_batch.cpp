// Fuzz target: trackvideo --batch's two readers of outside files, the LIST
// and a sequence's done marker, on arbitrary bytes.
//
// Checks beyond "no crash": every sequence line has a line number above the
// one before and within the text, a folder field without blanks that does not
// start a comment; a marker that parses is rebuilt by marker_text into one
// that parses to the same identity, outputs and figures.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_bytes.h"
#include "trackvideo/run/batch.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  int last = 0;
  for (const trackvideo::batch_line& l : trackvideo::parse_batch_list(text)) {
    fuzz_require(l.line > last && static_cast<std::size_t>(l.line) <= size);
    last = l.line;
    fuzz_require(!l.seqdir.empty() && l.seqdir[0] != '#');
    fuzz_require(l.seqdir.find_first_of(" \t\n") == std::string::npos);
    fuzz_require(l.tracks.find_first_of(" \t\n") == std::string::npos);
  }
  std::string identity, with;
  trackvideo::run_figures f;
  double seconds = 0;
  if (!trackvideo::parse_marker(text, identity, with, f, seconds)) return 0;
  std::string identity2, with2;
  trackvideo::run_figures g;
  double seconds2 = 0;
  fuzz_require(trackvideo::parse_marker(trackvideo::marker_text(identity, with, f, 0), identity2,
                                        with2, g, seconds2));
  fuzz_require(identity2 == identity && with2 == with && g.frames == f.frames &&
               g.tracks == f.tracks && g.boxes == f.boxes && g.ignored_rows == f.ignored_rows &&
               g.pairs == f.pairs);
  return 0;
}
