// Fuzz target: trackvideo --batch's readers of outside files, the LIST, a
// benchmark folder's seqmap and a sequence's done marker, on arbitrary bytes.
//
// Checks beyond "no crash": every sequence line has a line number above the
// one before and within the text, a folder field without blanks that does not
// start a comment; a seqmap that parses gives distinct names without blanks,
// NUL or line breaks on lines above the header's, and the same names again
// when written back one a line (CRLF) under "name"; one that does not says
// so in one line of printable ASCII naming the file as quoted; a marker that
// parses is rebuilt by marker_text into one that parses to the same
// identity, outputs, figures and seconds (to the millisecond it writes).
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "fuzz/fuzz_bytes.h"
#include "trackvideo/run/batch.h"
#include "trackvideo/run/batch_folder.h"

namespace {

void check_seqmap(const std::string& text) {
  const std::string shown = "'m?p'";  // the shown name of "m\x1bp"
  std::vector<std::pair<int, std::string>> names;
  const std::string why = trackvideo::parse_seqmap(text, shown, names);
  if (!why.empty()) {
    fuzz_require_message_naming(why, shown);
    return;
  }
  std::set<std::string> seen;
  // Written back with CRLF breaks, so that a name ending in CR keeps it.
  std::string written = "name\r\n";
  int last = 1;
  for (const auto& [line, name] : names) {
    fuzz_require(line > last && static_cast<std::size_t>(line) <= text.size());
    last = line;
    fuzz_require(!name.empty() &&
                 name.find_first_of(std::string(" \t\n\0", 4)) == std::string::npos);
    fuzz_require(seen.insert(name).second);
    written += name + "\r\n";
  }
  std::vector<std::pair<int, std::string>> again;
  fuzz_require(trackvideo::parse_seqmap(written, shown, again).empty() &&
               again.size() == names.size());
  for (std::size_t i = 0; i < names.size(); ++i) fuzz_require(again[i].second == names[i].second);
}

}  // namespace

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
  check_seqmap(text);
  std::string identity, with;
  trackvideo::run_figures f;
  double seconds = 0;
  if (!trackvideo::parse_marker(text, identity, with, f, seconds)) return 0;
  std::string identity2, with2;
  trackvideo::run_figures g;
  double seconds2 = 0;
  fuzz_require(std::isfinite(seconds) && seconds >= 0);
  // Seconds the marker could not write back are no run's (a run of 30 years).
  const double written = seconds < 1e9 ? seconds : 0;
  fuzz_require(trackvideo::parse_marker(trackvideo::marker_text(identity, with, f, written),
                                        identity2, with2, g, seconds2));
  fuzz_require(std::fabs(seconds2 - written) <= 0.0005 + 1e-12 + 1e-9 * written);
  fuzz_require(identity2 == identity && with2 == with && g.frames == f.frames &&
               g.tracks == f.tracks && g.boxes == f.boxes && g.ignored_rows == f.ignored_rows &&
               g.pairs == f.pairs);
  return 0;
}
