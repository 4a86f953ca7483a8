// common/tokens.h - the tokens of the programs' text inputs: one integer
// grammar, and one way to quote a token (or a file name) in a message.
//
// Pure functions of their arguments; nothing is kept. Used by trackpair's
// detection files, histfeat's box lists and trackvideo's tracks file, so that
// the three programs accept and quote the same way.
#ifndef COMMON_TOKENS_H
#define COMMON_TOKENS_H

#include <climits>
#include <cstring>
#include <string>

namespace common {

// The one integer grammar of every text the programs read (options, list
// lines, markers, configuration files, data files): an optional sign and
// decimal digits, nothing else ("+7", "-0" and "007" are integers; "", "+",
// "12.5", "5x", " 5", "0x1" and "1e3" are not). Callers check the range.
enum class integer_read {
  ok,            // `value` holds it
  not_integer,   // not of the grammar
  out_of_range,  // of the grammar, but beyond [min, max] (`value` left alone)
};
// Reads [begin, end) as an integer in [min, max] (min <= max). Never
// overflows, however many digits; reads nothing outside the range. O(length).
integer_read parse_integer(const char* begin, const char* end, long long min, long long max,
                           long long& value);
inline integer_read parse_integer(const std::string& token, long long min, long long max,
                                  long long& value) {
  return parse_integer(token.data(), token.data() + token.size(), min, max, value);
}

// The common real of data files, read without strtod: a plain decimal of at
// most 15 digits and no exponent ("1437.34", "-0.5", ".5", "7."), as its
// correctly rounded double (the digits and the power of ten are exact
// doubles, so their quotient is the value strtod gives). False, with `value`
// left alone, for anything else, which the caller reads the general way.
// O(length).
bool parse_short_decimal(const char* begin, const char* end, double& value);

// The same number read where it starts: the longest run of that grammar at
// `p` (before `end`) sets `value` and moves `p` past it. False, with both
// left alone, when no digit starts there or it has more than 15 digits. The
// caller checks what follows (a field's end). O(length).
bool read_short_decimal(const char*& p, const char* end, double& value);

// True when [begin, end) is an integer of the grammar above whose value fits
// an int ("2147483648" is not). Its value goes to `value` (left alone
// otherwise).
bool parse_int_token(const char* begin, const char* end, int& value);
inline bool parse_int_token(const std::string& token, int& value) {
  return parse_int_token(token.data(), token.data() + token.size(), value);
}

// A blank of data files: space, tab or carriage return.
inline bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\r';
}

// The rows of a data file's text: row(line, begin, end) for each line
// holding more than blanks (after one UTF-8 byte-order mark), lines numbered
// from 1 and given without their '\n'. The first such line that starts
// neither like a number (a digit, a sign, '.') nor with a comma is a header,
// given to header(line) instead: a row mistyped after its first byte stays
// an error. Stops at the first line `row` refuses ("" goes on) and returns
// what it said; "NAME: too many lines" at line INT_MAX (`name` names the
// file). O(text).
template <class Row, class Header>
std::string for_each_row(const std::string& text, const std::string& name, Row&& row,
                         Header&& header);

// One field of a line: the bytes [begin, end) of the line's text.
struct field {
  const char* begin = nullptr;
  const char* end = nullptr;
  std::size_t size() const { return static_cast<std::size_t>(end - begin); }
};

// Splits a line [p, end) (without its '\n') into its first `max` fields, as
// the data files' rows are split: a field ends at a blank (space, tab, CR) or
// a comma, and blanks around a comma belong to the separator. Returns the
// number of fields found (at most `max`), or -1 - i when field i is empty
// (two commas in a row, a comma first, a comma last before the `max`-th
// field). O(bytes read).
int split_fields(const char* p, const char* end, field* out, int max);

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

template <class Row, class Header>
std::string for_each_row(const std::string& text, const std::string& name, Row&& row,
                         Header&& header) {
  const char* p = text.data();
  const char* const end = p + text.size();
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) p += 3;
  bool first = true;  // no line but blank ones so far
  for (int line = 1; p < end; ++line) {
    const char* eol =
        static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
    if (eol == nullptr) eol = end;
    const char* q = p;
    while (q < eol && is_blank(*q)) ++q;
    if (q < eol) {
      if (line == INT_MAX) return shown_name(name) + ": too many lines";
      const bool numeric =
          (*q >= '0' && *q <= '9') || *q == '+' || *q == '-' || *q == '.' || *q == ',';
      if (first && !numeric) {
        header(line);
      } else if (std::string why = row(line, p, eol); !why.empty()) {
        return why;
      }
      first = false;
    }
    p = eol + (eol < end ? 1 : 0);
  }
  return "";
}

}  // namespace common

#endif  // COMMON_TOKENS_H
