// common/tokens.h - the tokens of the programs' text inputs: one integer
// grammar, and one way to quote a token (or a file name) in a message.
//
// Pure functions of their arguments; nothing is kept. Used by trackpair's
// detection files, histfeat's box lists and trackvideo's tracks file, so that
// the three programs accept and quote the same way.
#ifndef COMMON_TOKENS_H
#define COMMON_TOKENS_H

#include <string>

namespace common {

// True when [begin, end) is an integer: an optional sign and decimal digits
// whose value fits an int, nothing else ("+7", "-0" and "007" are integers;
// "12.5", "5x", " 5", "0x1" and "2147483648" are not). Its value goes to
// `value` (left alone otherwise). O(length); reads nothing outside the range.
bool parse_int_token(const char* begin, const char* end, int& value);
inline bool parse_int_token(const std::string& token, int& value) {
  return parse_int_token(token.data(), token.data() + token.size(), value);
}

// A token as messages quote it: between single quotes, bytes outside
// printable ASCII shown as '?', cut to 40 bytes with "..." after it. Used for
// file names too, so that a newline or an escape byte never reaches a
// terminal raw. O(min(length, 40)).
std::string quote_token(const char* begin, const char* end);
inline std::string quote_token(const std::string& token) {
  return quote_token(token.data(), token.data() + token.size());
}

// A file name as messages give it: as it is when every byte is printable
// ASCII, else quoted as quote_token quotes it. O(length).
std::string shown_name(const std::string& name);

// `name` in the folder `dir` ("dir/name"; "name" for an empty dir).
std::string in_folder(const std::string& dir, const std::string& name);

}  // namespace common

#endif  // COMMON_TOKENS_H
