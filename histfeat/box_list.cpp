// Reading the box list: twelve whitespace-separated integers, x1 y1 x2 y2 per box.

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

std::string read_box(std::istream& in, int box_index, box& out) {
  int v[4];
  for (int k = 0; k < 4; ++k) {
    std::string token;
    if (!(in >> token)) return "fewer than twelve integers";
    if (!parse_int(token, v[k]))
      return "item " + std::to_string(box_index * 4 + k + 1) + " ('" + token +
             "') is not an integer";
  }
  out = box{v[0], v[1], v[2], v[3]};
  return "";
}

}  // namespace histfeat
