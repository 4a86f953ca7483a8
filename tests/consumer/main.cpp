// tavo_consumer: a few words counted in a dictionary keyed by string, printed
// in key order, then the library's version next to the package's. Its output
// is fixed; check_install.cmake compares it.
#include <cstdio>

#include "tavo/tavo.h"

int main() {
  tavo_dictionary<tavo_string, int> counts;
  const char* const words[] = {"pear", "fig", "apple", "fig", "quince", "pear", "fig"};
  for (const char* w : words) {
    const tavo_string word(w);
    const auto it = counts.lookup(word);
    counts.insert(word, it != nullptr ? counts.inf(it) + 1 : 1);
  }
  counts.del(tavo_string("quince"));

  for (auto it = counts.first_item(); it != nullptr; it = counts.next_item(it)) {
    const tavo_string line("%s %d", counts.key(it).cstring(), counts.inf(it));
    std::printf("%s\n", line.cstring());
  }
  std::printf("%d words\n", counts.size());
  std::printf("package %s, library %s\n", TAVO_PACKAGE_VERSION, TAVO::version_string);
  return 0;
}
