// trackpair/detections.h - trackpair's detection files: the token grammar,
// the regular-file read, the parser and the reading pass into a dictionary.
//
// File layout (whitespace-separated tokens; line breaks carry no meaning)
//   count N                       an integer >= 0; no token at all means N = 0
//   N records, each of 68 tokens  4 integers b1 b2 b3 b4, then 64 reals
//   Tokens after the N-th record are not read.
//
// Tokens
//   integer: common::parse_int_token (common/tokens.h): an optional sign and
//            decimal digits whose value fits an int, nothing else.
//   real:    a token that strtof reads whole ("1e-3", "nan", "inf", "0x1p3"
//            and out-of-range values such as "1e50" included).
//   Whitespace is what isspace() accepts in the "C" locale: blank, \t, \n,
//   \v, \f, \r. Any other byte, NUL included, belongs to a token.
//
// Failure: "" on success, else one line saying what is wrong (no program name,
// no newline). Nothing here prints.
#ifndef TRACKPAIR_DETECTIONS_H
#define TRACKPAIR_DETECTIONS_H

#include <array>
#include <string>
#include <vector>

#include "trackpair/trackpair_core.h"

namespace trackpair {

constexpr int max_objects = 100;  // the limits of the program's command line
constexpr int max_frames = 500;

constexpr int hist_bins = 64;  // histogram reals after the four box integers
constexpr int record_tokens = 4 + hist_bins;

// The four box integers of one record in file order (b1 b2 b3 b4).
using file_box = std::array<int, 4>;

// True when strtof reads the token [begin, end) whole. Precondition: *end is
// whitespace or NUL, where strtof stops. Plain decimals ("0.015625", "-7",
// ".5") are decided by one scan of their bytes, the rest by strtof. O(length).
bool is_real_token(const char* begin, const char* end);

// Checks a command-line count: an integer no greater than `limit`. `what`
// names it in the message ("num_of_objects '5x' is not a whole number",
// "num_of_frames 501 exceeds 500").
std::string parse_count_argument(const char* what, const char* text, int limit, int& value);

// Parses the text of one detection file into the boxes of its N records, in
// file order (`boxes` is replaced). On bad input says what is wrong: "the
// count 'x' is not an integer", "the count -3 is negative", "record 4: '12.5'
// is not an integer", "record 4: 'abc' is not a number", "record 2:
// incomplete, the file ends after 10 of its 68 values". O(length of text).
std::string parse_detection_text(const std::string& text, std::vector<file_box>& boxes);

// "objects_info_h<q+1>_<r+1>.txt", the detection file of object q, frame index r.
std::string detection_file_name(int q, int r);

// The reading pass: for q < objects and 1 <= r < frames, in that order, reads
// the file of (q, r) from the current directory (common::read_file: regular
// files only) and inserts the boxes of its N records with keys
// (q, r, 0 .. N-1) as (b1, b3, b2, b4).
// Preconditions: objects <= max_objects, frames <= max_frames, none of the
// keys in `boxes`. Stops at the first bad file, naming it
// ("objects_info_h1_2.txt: record 4: 'abc' is not a number"); none of that
// file's boxes is inserted. "out of memory" when a
// buffer cannot grow. Cost: the files' size plus O(log n) per detection.
std::string read_detections(int objects, int frames, box_dictionary& boxes);

}  // namespace trackpair

#endif  // TRACKPAIR_DETECTIONS_H
