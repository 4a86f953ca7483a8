// Reading the box list: twelve whitespace-separated integers, x1 y1 x2 y2 per
// box; items 1 to 11 are whole tokens, the twelfth is read as "%d" reads it.

#include "histfeat/histfeat.h"
#include "histfeat/internal.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <istream>
#include <limits>

namespace histfeat {

bool parse_int(const std::string& token, int& value) {
  if (token.empty() || std::isspace(static_cast<unsigned char>(token[0]))) return false;
  errno = 0;
  char* end = nullptr;
  long long v = std::strtoll(token.c_str(), &end, 10);
  if (errno != 0 || end != token.c_str() + token.size()) return false;
  if (v < std::numeric_limits<int>::min() || v > std::numeric_limits<int>::max()) return false;
  value = static_cast<int>(v);
  return true;
}

std::string quote_token(const std::string& token) {
  constexpr std::size_t kShown = 40;
  std::string quoted = "'";
  for (std::size_t i = 0; i < token.size() && i < kShown; ++i) {
    const unsigned char c = static_cast<unsigned char>(token[i]);
    quoted += c >= 0x20 && c < 0x7f ? token[i] : '?';
  }
  quoted += '\'';
  if (token.size() > kShown) quoted += "...";
  return quoted;
}

namespace {

// The last item is read as "%d" reads it: an int at the start of the token,
// whatever follows it (the rest of the list is not read).
bool parse_int_prefix(const std::string& token, int& value) {
  std::size_t digits = token[0] == '+' || token[0] == '-' ? 1 : 0;
  while (digits < token.size() && std::isdigit(static_cast<unsigned char>(token[digits]))) ++digits;
  return parse_int(token.substr(0, digits), value);
}

}  // namespace

std::string read_box(std::istream& in, int box_index, box& out) {
  int v[4];
  for (int k = 0; k < 4; ++k) {
    std::string token;
    if (!(in >> token)) return "fewer than twelve integers";
    const int item = box_index * 4 + k + 1;
    if (!(item == 4 * kBoxCount ? parse_int_prefix(token, v[k]) : parse_int(token, v[k])))
      return "item " + std::to_string(item) + " (" + quote_token(token) + ") is not an integer";
  }
  out = box{v[0], v[1], v[2], v[3]};
  return "";
}

}  // namespace histfeat
