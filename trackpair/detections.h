// trackpair/detections.h - reading and checking the detection files of trackpair.
//
// What it is
//   The text side of the association driver: the checks for the integer and
//   real tokens the program accepts, reading a whole file into memory, and
//   parsing the text of one detection file into its boxes. Nothing here knows
//   the dictionary; association.h stores what these functions return.
//
// File layout (whitespace-separated tokens; line breaks carry no meaning)
//   count N                      an integer >= 0; no token at all means N = 0
//   N records, each of 68 tokens  4 integers b1 b2 b3 b4, then 64 reals
//   Tokens after the N-th record are not read.
//
// Tokens
//   integer: an optional sign and decimal digits whose value fits an int,
//            nothing else ("+7", "-0" and "007" are integers; "12.5", "5x",
//            " 5" and "2147483648" are not).
//   real:    a token that strtof reads whole ("1e-3", "nan", "inf", "0x1p3"
//            and out-of-range values such as "1e50" included).
//   Whitespace is what isspace() accepts in the "C" locale: blank, \t, \n,
//   \v, \f, \r. Any other byte, NUL included, belongs to a token.
//
// Failure
//   Nothing here prints or aborts. Functions that can meet bad input return
//   false and leave a one-line description in `error` (no program name, no
//   file name, no newline); the caller adds the context.
#ifndef TRACKPAIR_DETECTIONS_H
#define TRACKPAIR_DETECTIONS_H

#include <array>
#include <cstddef>
#include <string>
#include <vector>

namespace trackpair {

// Number of histogram reals that follow the four box integers of a record.
constexpr int hist_bins = 64;
// Tokens of one record.
constexpr int record_tokens = 4 + hist_bins;

// The four box integers of one record in file order (b1 b2 b3 b4).
using file_box = std::array<int, 4>;

// True when [begin, end) is an integer as defined above; its value goes to
// `value` (left alone otherwise). O(length); never reads outside the range.
bool parse_int_token(const char* begin, const char* end, int& value);
// The same for a NUL-terminated string (a command-line argument).
bool parse_int_token(const char* text, int& value);

// True when strtof reads the non-empty token [begin, end) whole; the value goes
// to `value`. Precondition: *end is whitespace or NUL (true of every token
// that token_reader returns and of any std::string's c_str()), since strtof
// stops only there. This is the definition of a real token; is_real_token
// below is its fast form.
bool parse_real_token(const char* begin, const char* end, float& value);

// Exactly parse_real_token's answer, without the value: plain decimals
// ("0.015625", "-7", ".5", "3.") are recognised by a scan of their bytes;
// anything else (exponents, "nan", "inf", hex, garbage) goes to strtof. Same
// precondition on *end. O(length).
bool is_real_token(const char* begin, const char* end);

// Splits a buffer into whitespace-separated tokens, in order. The buffer
// [begin, end) must stay alive and be followed by a NUL at *end (as the
// contents of a std::string are). O(1) per byte; copies nothing.
class token_reader {
 public:
  token_reader(const char* begin, const char* end) : pos_(begin), end_(end) {}
  // The next token as [tok_begin, tok_end); false when only whitespace is left.
  bool next(const char*& tok_begin, const char*& tok_end);

 private:
  const char* pos_;
  const char* end_;
};

// A token as it is quoted in messages: between single quotes, bytes outside
// printable ASCII shown as '?', cut to 40 bytes with "..." after it.
std::string quote_token(const char* begin, const char* end);

// Reads files through one buffer that is kept from file to file (so reading
// many files of similar size allocates only while it grows), with open/read
// and no stdio. The bytes held are always followed by a NUL (at
// data()[size()]).
//
// A file can be read in two steps: open() reads its first block, and
// read_rest() the remainder, only when the caller needs it. A detection file
// whose records are decided by its first block (parse_detection_text's
// `stop`) thus costs three system calls: open, one read, close.
class file_buffer {
 public:
  file_buffer() = default;
  ~file_buffer() { close(); }
  file_buffer(const file_buffer&) = delete;
  file_buffer& operator=(const file_buffer&) = delete;

  // Closes the file held before, opens `name` and reads its first block (up
  // to 64 KiB). Only regular files (symbolic links followed) are read: a
  // device, FIFO or socket is refused with "not a regular file", at once
  // (opening a FIFO does not wait for a writer), so that no input can make
  // the reading endless. On failure returns false with the system's reason,
  // e.g. "No such file or directory" or "Is a directory", in `error`;
  // nothing is then held and no file is open.
  bool open(const char* name, std::string& error);
  // Reads on to the end of the open file; whole() afterwards. Failure as for
  // open(). Nothing to do when whole() already.
  bool read_rest(std::string& error);
  // open() and read_rest(), then close(): the whole file.
  bool read(const char* name, std::string& error);
  // Closes the file, if one is open; the bytes read stay.
  void close();

  // Whether the bytes held are the whole file (a read found its end).
  bool whole() const { return at_end_; }
  const char* data() const { return bytes_.data(); }
  std::size_t size() const { return size_; }

 private:
  // One read() into the free part of the buffer, growing it when full.
  bool read_block(std::string& error);

  std::vector<char> bytes_ = std::vector<char>(1, '\0');  // size_ bytes, then NUL
  std::size_t size_ = 0;
  int fd_ = -1;
  bool at_end_ = false;
};

// Parses the text of one detection file, [begin, end) with *end == NUL, and
// appends the boxes of its N records, in file order, to `boxes` (cleared
// first). The 64 reals of each record are checked (is_real_token) and not
// converted, since nothing uses their values. On bad input returns false
// with, e.g., "the count 'x' is not an integer", "the count -3 is negative",
// "record 4: '12.5' is not an integer", "record 4: 'abc' is not a number" or
// "record 2: incomplete, the file ends after 10 of its 68 values"; `boxes`
// then holds the records before the bad one. O(length of the text), one scan.
//
// `stop`, when given, receives where the scan ended after a success: just
// past the last token it used. When stop < end a blank follows that token,
// so the result depends on [begin, stop] alone and not on any text after
// `end`: a success with stop < end on the first block of a file is the
// success on the whole file.
bool parse_detection_text(const char* begin, const char* end, std::vector<file_box>& boxes,
                          std::string& error, const char** stop = nullptr);
// The same for the whole of `text`.
bool parse_detection_text(const std::string& text, std::vector<file_box>& boxes,
                          std::string& error);

}  // namespace trackpair

#endif  // TRACKPAIR_DETECTIONS_H
