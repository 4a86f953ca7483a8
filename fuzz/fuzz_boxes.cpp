// Fuzz target: histfeat's box reader on arbitrary bytes, and clip_box on the
// boxes it accepts.
//
// read_box either gives four integers or a reason; a box it accepts, when it
// is ordered, clips to a region inside the image or to nothing.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "histfeat/histfeat.h"
#include "histfeat/internal.h"

namespace {

void require(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The first two bytes pick an image size (1 .. 256 each way); the rest is
  // the box list.
  if (size < 2) return 0;
  const int width = data[0] + 1;
  const int height = data[1] + 1;
  std::istringstream in(std::string(reinterpret_cast<const char*>(data + 2), size - 2));
  for (int i = 0; i < histfeat::kBoxCount; ++i) {
    histfeat::box b{};
    const std::string why = histfeat::read_box(in, i, b);
    if (!why.empty()) return 0;
    if (b.x2 < b.x1 || b.y2 < b.y1) continue;
    const auto r = histfeat::clip_box(b, width, height);
    if (!r) {
      require(b.x2 < 0 || b.y2 < 0 || b.x1 >= width || b.y1 >= height);
      continue;
    }
    require(r->width >= 1 && r->height >= 1 && r->x >= 0 && r->y >= 0);
    require(r->x + r->width <= width && r->y + r->height <= height);
  }
  return 0;
}
