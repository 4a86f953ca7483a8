// Reading the box list: twelve whitespace-separated integers, x1 y1 x2 y2 per
// box; items 1 to 11 are whole tokens, the twelfth is read as "%d" reads it.

#include "histfeat/histfeat.h"
#include "histfeat/internal.h"

#include "common/tokens.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <istream>
#include <limits>

namespace histfeat {

namespace {

// The last item is read as "%d" reads it: an int at the start of the token,
// whatever follows it (the rest of the list is not read).
bool parse_int_prefix(const std::string& token, int& value) {
  std::size_t digits = token[0] == '+' || token[0] == '-' ? 1 : 0;
  while (digits < token.size() && std::isdigit(static_cast<unsigned char>(token[digits]))) ++digits;
  return common::parse_int_token(token.data(), token.data() + digits, value);
}

}  // namespace

std::string read_box(std::istream& in, int box_index, box& out) {
  int v[4];
  for (int k = 0; k < 4; ++k) {
    std::string token;
    if (!(in >> token)) return "fewer than twelve integers";
    const int item = box_index * 4 + k + 1;
    if (!(item == 4 * kBoxCount ? parse_int_prefix(token, v[k])
                                : common::parse_int_token(token, v[k])))
      return "item " + std::to_string(item) + " (" + common::quote_token(token) +
             ") is not an integer";
  }
  out = box{v[0], v[1], v[2], v[3]};
  return "";
}

}  // namespace histfeat
