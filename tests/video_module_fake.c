/* tests/video_module_fake.c - a video module whose table is wrong as the
 * environment variable TAVO_FAKE_VIDEO_TABLE says ("small": shorter than the
 * program's, "version": another interface version, "stamp": another build),
 * for the program's checks of a module's table, which must refuse it before
 * calling anything in it. Written in C: video_module_abi.h must stay C. */
#include <stdlib.h>
#include <string.h>

#include "trackvideo/video/video_module_abi.h"

__attribute__((visibility("default"))) const trackvideo_video_table* trackvideo_video_module(void) {
  static trackvideo_video_table table;
  const char* defect = getenv("TAVO_FAKE_VIDEO_TABLE");
  memset(&table, 0, sizeof table);
  table.size = sizeof table;
  table.version = TRACKVIDEO_VIDEO_INTERFACE;
  table.stamp = TRACKVIDEO_VIDEO_STAMP;
  if (defect && strcmp(defect, "small") == 0) table.size -= sizeof table.writer_frames;
  if (defect && strcmp(defect, "version") == 0) table.version += 1;
  if (defect && strcmp(defect, "stamp") == 0) table.stamp = "4.1/GNU-12.2.0/\x1b[31m";
  return &table;
}
