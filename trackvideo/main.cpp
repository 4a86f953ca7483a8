// trackvideo: tracks and a video in; the candidate report, a table of pairs,
// overlay pictures and detection files out. Everything lives in
// trackvideo_core (run.h), where the tests call it.
#include "trackvideo/run/command_line.h"

int main(int argc, char** argv) {
  return trackvideo::program_main(argc, argv);
}
