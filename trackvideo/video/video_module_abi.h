/* trackvideo/video_module_abi.h - what the program and the video module
 * (trackvideo-ffmpeg.so) pass each other: C types only, so that the module's
 * C++ (its standard library, OpenCV's classes, its exceptions) stays its own.
 *
 * The module exports one function, trackvideo_video_module(), that returns its
 * table. The program loads the table only when it carries
 *   size    >= sizeof(trackvideo_video_table) as the program was built,
 *   version == TRACKVIDEO_VIDEO_INTERFACE, and
 *   stamp   == the program's build stamp (a string the build makes once for
 *              the program and the module: the project's version, the
 *              compiler and a digest of this header; a module of another
 *              build, or built from another text of this header, differs).
 * Anything else is refused before a function of the table is called.
 *
 * Handles: a reader and a writer are opaque, made by *_new and freed by
 * *_free (which accept null); each is used by one thread at a time.
 * Failures: every function that can fail returns a code and writes one line
 * (no newline) into the caller's `message` of `capacity` bytes, cut to
 * capacity - 1 bytes and always terminated when capacity > 0 (nothing is
 * written when message is null). Nothing thrown ever leaves a function of the
 * table: each catches everything and turns it into a code and a line.
 * Frames: the caller owns every pixel buffer. A reader tells the size of the
 * frame it decoded (reader_next), then writes it into the caller's buffer of
 * that size (reader_copy); a writer reads the caller's buffer (writer_write).
 * Pixels are 8-bit blue, green, red, 3 bytes a pixel, rows `stride` bytes
 * apart (stride >= 3 * width).
 *
 * The table grows only at its end; TRACKVIDEO_VIDEO_INTERFACE changes when a
 * field's meaning or a function's contract changes. */
#ifndef TRACKVIDEO_VIDEO_VIDEO_MODULE_ABI_H
#define TRACKVIDEO_VIDEO_VIDEO_MODULE_ABI_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

#define TRACKVIDEO_VIDEO_INTERFACE 2

/* The name the module exports its entry under (trackvideo_video_module). */
#define TRACKVIDEO_VIDEO_ENTRY "trackvideo_video_module"

/* What a function returns. */
enum {
  TRACKVIDEO_VIDEO_OK = 0,
  /* The message says what is wrong: a file, a frame, the encoder. */
  TRACKVIDEO_VIDEO_FAILED = 1,
  /* An allocation failed; the message is "out of memory". */
  TRACKVIDEO_VIDEO_NO_MEMORY = 2,
  /* The caller's mistake: a null or foreign handle, a null or short buffer, a
   * size other than the frame's, an unknown format. Nothing was done. */
  TRACKVIDEO_VIDEO_BAD_CALL = 3
};

/* The containers and codecs a writer writes. */
enum {
  TRACKVIDEO_VIDEO_MP4_H264 = 0, /* H.264 (libx264) in an MP4 */
  TRACKVIDEO_VIDEO_AVI_MJPEG = 1 /* Motion-JPEG (fourcc MJPG) in an AVI */
};

typedef struct trackvideo_video_reader trackvideo_video_reader;
typedef struct trackvideo_video_writer trackvideo_video_writer;

typedef struct trackvideo_video_table {
  size_t size;       /* sizeof(trackvideo_video_table) in the module's build */
  int version;       /* TRACKVIDEO_VIDEO_INTERFACE of the module's build */
  const char* stamp; /* the module's build stamp, a printable string */

  /* A new reader into *reader (null on failure). */
  int (*reader_new)(trackvideo_video_reader** reader, char* message, size_t capacity);
  void (*reader_free)(trackvideo_video_reader* reader);
  /* Opens the video file `path`: frames of more than `max_pixels` are
   * refused; `threads` decoding threads (0: one per core, 1: none besides the
   * caller's). The messages of video_decoder.h ("cannot open PATH: ..."). */
  int (*reader_open)(trackvideo_video_reader* reader, const char* path, long long max_pixels,
                     int threads, char* message, size_t capacity);
  /* Decodes the next frame. *ended = 1 when there is none. When `keep` is not
   * 0, the frame is converted and held for reader_copy, and *width, *height
   * say its size (as displayed: a turned stream's sides swapped); else it is
   * only passed over. O(pixels). */
  int (*reader_next)(trackvideo_video_reader* reader, int keep, int* ended, int* width, int* height,
                     char* message, size_t capacity);
  /* Writes the frame held into `data`; width and height must be those
   * reader_next gave. O(pixels). */
  int (*reader_copy)(trackvideo_video_reader* reader, unsigned char* data, size_t stride, int width,
                     int height, char* message, size_t capacity);
  /* The stream's frame rate if finite and in (0, 1000), else `fallback`. */
  double (*reader_fps)(const trackvideo_video_reader* reader, double fallback);
  long long (*reader_frames)(const trackvideo_video_reader* reader); /* delivered so far */

  /* A new writer into *writer (null on failure). */
  int (*writer_new)(trackvideo_video_writer** writer, char* message, size_t capacity);
  void (*writer_free)(trackvideo_video_writer* writer); /* an unfinished file stays */
  /* Creates `path` in `format` (TRACKVIDEO_VIDEO_*), whatever its name, for
   * frames of width x height at `fps`; `shown` names it in messages. */
  int (*writer_open)(trackvideo_video_writer* writer, const char* path, const char* shown,
                     int format, double fps, int width, int height, char* message, size_t capacity);
  /* Encodes one frame of `channels` samples a pixel, `bytes_per_sample`
   * bytes each. Only 3 samples of 1 byte (blue, green, red) are taken: a
   * frame of another kind or size is refused with the encoder's line (FAILED)
   * and the writer stays usable. O(pixels). */
  int (*writer_write)(trackvideo_video_writer* writer, const unsigned char* data, size_t stride,
                      int width, int height, int channels, int bytes_per_sample, char* message,
                      size_t capacity);
  /* Finishes and closes the file, checking each step; OK when not open. */
  int (*writer_close)(trackvideo_video_writer* writer, char* message, size_t capacity);
  int (*writer_is_open)(const trackvideo_video_writer* writer);
  long long (*writer_frames)(const trackvideo_video_writer* writer); /* written since open */
} trackvideo_video_table;

/* The module's entry: its table, never null. */
typedef const trackvideo_video_table* (*trackvideo_video_entry)(void);
const trackvideo_video_table* trackvideo_video_module(void);

#ifdef __cplusplus
}
#endif

#endif /* TRACKVIDEO_VIDEO_VIDEO_MODULE_ABI_H */
