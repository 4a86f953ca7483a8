// Fuzz target: tavo_string's text operations against the same operations
// written with std::string, after the rules in tavo/string.h (clamping of
// sub, -1 from pos, non-overlapping replacement).
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_bytes.h"
#include "tavo/string.h"

namespace {

// sub(i, j) by its rule: j >= length becomes length-1, i < 0 becomes 0, ""
// when j < i then.
std::string model_sub(const std::string& t, int i, int j) {
  const int n = static_cast<int>(t.size());
  if (j >= n) j = n - 1;
  if (i < 0) i = 0;
  if (j < i) return "";
  return t.substr(static_cast<std::size_t>(i), static_cast<std::size_t>(j - i + 1));
}

int model_pos(const std::string& t, const std::string& s, int i) {
  if (s.empty() || i >= static_cast<int>(t.size())) return -1;
  if (i < 0) i = 0;
  const auto p = t.find(s, static_cast<std::size_t>(i));
  return p == std::string::npos ? -1 : static_cast<int>(p);
}

std::string model_replace(const std::string& t, const std::string& a, const std::string& b, int n) {
  if (a.empty() || n < 0) return t;
  std::string out;
  std::size_t from = 0;
  int seen = 0;
  bool replaced = false;
  for (std::size_t p = t.find(a); p != std::string::npos; p = t.find(a, p + a.size())) {
    ++seen;
    if (n == 0 || seen == n) {
      out.append(t, from, p - from);
      out += b;
      from = p + a.size();
      replaced = true;
    }
  }
  if (!replaced) return t;
  out.append(t, from, std::string::npos);
  return out;
}

// Texts over a small alphabet, so that searches find something; no NUL.
std::string word(fuzz_bytes& in, int max_length) {
  std::string s = in.text(max_length);
  for (char& c : s) c = static_cast<char>('a' + static_cast<unsigned char>(c) % 4);
  return s;
}

void same(const tavo_string& x, const std::string& m) {
  fuzz_require(x.length() == static_cast<int>(m.size()));
  fuzz_require(std::string(x.cstring()) == m);
  fuzz_require(x[x.length()] == '\0');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz_bytes in(data, size);
  std::string m = word(in, 16);
  tavo_string x(m.c_str());
  same(x, m);
  while (!in.empty()) {
    const int i = in.below(40) - 10;  // positions before, inside and past the text
    const int j = in.below(40) - 10;
    switch (in.below(9)) {
      case 0:
        same(x.sub(i, j), model_sub(m, i, j));
        break;
      case 1: {
        const std::string s = word(in, 4);
        fuzz_require(x.pos(tavo_string(s.c_str()), i) == model_pos(m, s, i));
        break;
      }
      case 2: {
        const std::string s = word(in, 6);
        m = model_sub(m, 0, i - 1) + s + model_sub(m, i, static_cast<int>(m.size()) - 1);
        x = x.insert(tavo_string(s.c_str()), i);
        break;
      }
      case 3:
        m = model_sub(m, 0, i - 1) + model_sub(m, j + 1, static_cast<int>(m.size()) - 1);
        x = x.del(i, j);
        break;
      case 4: {
        const std::string s = word(in, 6);
        m = model_sub(m, 0, i - 1) + s + model_sub(m, j + 1, static_cast<int>(m.size()) - 1);
        x = x.replace(i, j, tavo_string(s.c_str()));
        break;
      }
      case 5: {
        const std::string a = word(in, 3);
        const std::string b = word(in, 3);
        const int n = in.below(5) - 1;
        m = model_replace(m, a, b, n);
        x = x.replace(tavo_string(a.c_str()), tavo_string(b.c_str()), n);
        break;
      }
      case 6: {
        const std::string a = word(in, 3);
        m = model_replace(m, a, "", 0);
        x = x.del(tavo_string(a.c_str()), 0);
        break;
      }
      case 7: {  // += (itself included), sharing: a copy must not change
        const tavo_string before = x;
        const std::string old = m;
        if (in.below(2) == 0) {
          m += m;
          x += x;
        } else {
          const std::string s = word(in, 8);
          m += s;
          x += tavo_string(s.c_str());
        }
        same(before, old);
        break;
      }
      case 8:  // a private copy on write through operator[]
        if (!m.empty()) {
          const tavo_string shared = x;
          const std::string old = m;
          const int k = (i < 0 ? -i : i) % static_cast<int>(m.size());
          x[k] = 'z';
          m[static_cast<std::size_t>(k)] = 'z';
          same(shared, old);
        }
        break;
    }
    same(x, m);
    if (m.size() > 4096) {  // keep each input fast
      m = model_sub(m, 0, 63);
      x = x.sub(0, 63);
    }
  }
  return 0;
}
