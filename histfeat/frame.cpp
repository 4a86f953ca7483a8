// One frame: an image and a box list in, the records out.

#include "histfeat/histfeat.h"
#include "histfeat/internal.h"

#include "common/atomic_file.h"
#include "common/input_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <istream>
#include <ostream>

namespace histfeat {

std::string process_frame(frame_cache& frames, const std::string& image_file,
                          const std::string& boxes_file, const std::string& output_file,
                          std::ostream& out) {
  const common::input_set inputs({image_file, boxes_file});  // identified once
  if (std::string refused = common::check_output(output_file, inputs); !refused.empty())
    return refused;
  std::string why;
  const frame_planes* planes = frames.load(image_file, why);
  if (!planes) return why;

  int fd = -1;
  struct stat box_state;
  why = common::open_regular(boxes_file, fd, box_state);
  if (fd < 0) return "cannot open " + boxes_file + ": " + why;
  common::fd_reader box_bytes(fd);
  std::istream fp_pos(&box_bytes);

  // Built in memory, no allocation per box: the histograms and the record text
  // are reused from box to box.
  std::string records, echo;
  records.reserve(2048);
  histograms h;
  append_int(records, kBoxCount);
  records += '\n';
  for (int n = 0; n < kBoxCount; ++n) {
    box b{};
    why = read_box(fp_pos, n, b);
    if (!why.empty()) return boxes_file + ": " + why;
    echo.clear();
    for (int corner : {b.x1, b.y1, b.x2, b.y2}) {
      append_int(echo, corner);
      echo += ' ';
    }
    echo.back() = '\n';
    out.write(echo.data(), static_cast<std::streamsize>(echo.size()));

    why = append_box_record(records, *planes, b, h);
    if (!why.empty()) {
      // A box outside the image names the image too.
      const bool outside = why[0] == '(';
      return "box " + std::to_string(n + 1) + " in " + boxes_file + ' ' + why +
             (outside ? ' ' + image_file : "");
    }
  }
  common::atomic_file file;
  why = file.open(output_file, inputs);
  if (why.empty()) why = file.write(records.data(), records.size());
  if (why.empty()) why = file.commit();
  return why;
}

}  // namespace histfeat
