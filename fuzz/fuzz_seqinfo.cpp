// Fuzz target: trackvideo's seqinfo.ini reader on arbitrary bytes.
//
// Checks beyond "no crash": a success gives every needed key a usable value
// (imDir and imExt set, imExt an image extension, seqLength >= 1, a finite
// frame rate > 0, sizes 0 or >= 1, a name, the folder's when none is given)
// and frame paths of six digits; a failure is one line of printable ASCII
// naming the file as quoted (its name holds an escape byte), so that no byte
// of the input or the name reaches a terminal raw.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_bytes.h"
#include "trackvideo/input/frame_source.h"
#include "trackvideo/input/sequence.h"

namespace {

const char kName[] = "s\x1b.ini";
const char kShownName[] = "'s?.ini'";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  trackvideo::seqinfo s;
  const std::string error = trackvideo::parse_seqinfo(text, kName, "folder", s);
  if (!error.empty()) {
    fuzz_require_message_naming(error, kShownName);
    return 0;
  }
  fuzz_require(!s.im_dir.empty() && s.im_dir[0] != '/');
  fuzz_require(trackvideo::has_image_extension("f" + s.im_ext) && s.im_ext[0] == '.');
  fuzz_require(s.seq_length >= 1);
  fuzz_require(std::isfinite(s.frame_rate) && s.frame_rate > 0);
  fuzz_require(s.im_width >= 0 && s.im_height >= 0);
  fuzz_require(!s.name.empty());
  const std::string first = trackvideo::frame_path("d", s, 1);
  const std::string tail = "/000001" + s.im_ext;
  fuzz_require(first.rfind("d/" + s.im_dir, 0) == 0 && first.size() >= tail.size() &&
               first.compare(first.size() - tail.size(), tail.size(), tail) == 0);
  // The same text parses the same way again (no state between calls).
  trackvideo::seqinfo again;
  fuzz_require(trackvideo::parse_seqinfo(text, kName, "folder", again).empty());
  fuzz_require(again.im_dir == s.im_dir && again.seq_length == s.seq_length &&
               again.name == s.name);
  return 0;
}
