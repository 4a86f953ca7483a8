// trackpair/detections.cpp - token checks, whole-file reading and the parser
// of detection files (see detections.h).
#include "detections.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace trackpair {

namespace {

// isspace() of the "C" locale, without the locale lookup.
bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

bool parse_int_token(const char* begin, const char* end, int& value) {
  const char* p = begin;
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-')) negative = (*p++ == '-');
  if (p == end) return false;  // empty, or a sign alone
  // Accumulate the magnitude; the bound keeps it from overflowing however
  // many digits follow (INT_MIN's magnitude is one more than INT_MAX).
  const long long bound = negative ? -static_cast<long long>(INT_MIN) : INT_MAX;
  long long magnitude = 0;
  for (; p < end; ++p) {
    if (*p < '0' || *p > '9') return false;
    magnitude = magnitude * 10 + (*p - '0');
    if (magnitude > bound) return false;
  }
  value = static_cast<int>(negative ? -magnitude : magnitude);
  return true;
}

bool parse_int_token(const char* text, int& value) {
  return parse_int_token(text, text + std::strlen(text), value);
}

bool parse_real_token(const char* begin, const char* end, float& value) {
  // strtof would skip leading whitespace and read the next token.
  if (begin == end || is_blank(*begin)) return false;
  char* stop = nullptr;
  const float v = std::strtof(begin, &stop);  // ERANGE still reads the token whole
  if (stop != end) return false;
  value = v;
  return true;
}

bool token_reader::next(const char*& tok_begin, const char*& tok_end) {
  while (pos_ < end_ && is_blank(*pos_)) ++pos_;
  if (pos_ == end_) return false;
  tok_begin = pos_;
  while (pos_ < end_ && !is_blank(*pos_)) ++pos_;
  tok_end = pos_;
  return true;
}

std::string quote_token(const char* begin, const char* end) {
  constexpr std::ptrdiff_t shown = 40;
  std::string q = "'";
  for (const char* p = begin; p < end && p - begin < shown; ++p)
    q += (*p >= 0x20 && *p < 0x7f) ? *p : '?';
  q += '\'';
  if (end - begin > shown) q += "...";
  return q;
}

bool read_whole_file(const char* name, std::string& contents, std::string& error) {
  contents.clear();
  std::FILE* f = std::fopen(name, "r");
  if (f == nullptr) {
    error = std::strerror(errno);
    return false;
  }
  char chunk[1 << 16];
  std::size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) contents.append(chunk, n);
  const bool failed = std::ferror(f) != 0;
  const int reason = errno;
  std::fclose(f);
  if (failed) {
    error = std::strerror(reason);
    return false;
  }
  return true;
}

bool parse_detection_text(const std::string& text, std::vector<file_box>& boxes,
                          std::string& error) {
  boxes.clear();
  token_reader tokens(text.data(), text.data() + text.size());
  const char* b;
  const char* e;
  if (!tokens.next(b, e)) return true;  // no count at all: no detections
  int count = 0;
  if (!parse_int_token(b, e, count)) {
    error = "the count " + quote_token(b, e) + " is not an integer";
    return false;
  }
  if (count < 0) {
    error = "the count " + std::to_string(count) + " is negative";
    return false;
  }
  for (int s = 0; s < count; ++s) {
    const std::string where = "record " + std::to_string(s + 1) + ": ";
    file_box box{};
    for (int t = 0; t < record_tokens; ++t) {
      if (!tokens.next(b, e)) {
        error = where + "incomplete, the file ends after " + std::to_string(t) + " of its " +
                std::to_string(record_tokens) + " values";
        return false;
      }
      float bin;
      if (t < 4 && !parse_int_token(b, e, box[t])) {
        error = where + quote_token(b, e) + " is not an integer";
        return false;
      }
      if (t >= 4 && !parse_real_token(b, e, bin)) {
        error = where + quote_token(b, e) + " is not a number";
        return false;
      }
    }
    boxes.push_back(box);
  }
  return true;
}

}  // namespace trackpair
