// Fuzz target: random operation sequences on tavo_dictionary<int, int>,
// mirrored on std::map, with the tree's verify() after every step and a
// comparison of the whole contents (in key order) after every step.
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <map>

#include "fuzz/fuzz_bytes.h"
#include "tavo/dictionary.h"

namespace {

void same(const tavo_dictionary<int, int>& d, const std::map<int, int>& m) {
  fuzz_require(d.verify());
  fuzz_require(d.size() == static_cast<int>(m.size()));
  auto it = m.begin();
  for (auto i = d.first_item(); i != nullptr; i = d.next_item(i), ++it) {
    fuzz_require(it != m.end() && d.key(i) == it->first && d.inf(i) == it->second);
  }
  fuzz_require(it == m.end());
  if (!m.empty()) {
    fuzz_require(d.key(d.last_item()) == m.rbegin()->first);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz_bytes in(data, size);
  tavo_dictionary<int, int> d;
  std::map<int, int> m;
  // Keys from a narrow range (many hits) or from the whole int16 range.
  auto key = [&in]() { return in.below(2) == 0 ? in.below(64) : in.small_int(); };
  while (!in.empty()) {
    switch (in.below(8)) {
      case 0:
      case 1: {  // insert or replace
        const int k = key();
        const int v = in.small_int();
        auto item = d.insert(k, v);
        fuzz_require(item != nullptr && d.key(item) == k && d.inf(item) == v);
        m[k] = v;
        break;
      }
      case 2: {  // delete by key (present or not)
        const int k = key();
        d.del(k);
        m.erase(k);
        break;
      }
      case 3: {  // lookup / defined / access
        const int k = key();
        auto item = d.lookup(k);
        const auto found = m.find(k);
        fuzz_require((item != nullptr) == (found != m.end()));
        fuzz_require(d.defined(k) == (found != m.end()));
        if (item != nullptr)
          fuzz_require(d.inf(item) == found->second && d.access(k) == found->second);
        break;
      }
      case 4: {  // delete the item at a position
        if (m.empty()) break;
        const int pos = in.below(static_cast<int>(m.size()));
        auto item = d.first_item();
        for (int i = 0; i < pos; ++i) item = d.next_item(item);
        m.erase(std::next(m.begin(), pos));
        d.del_item(item);
        break;
      }
      case 5: {  // change the information of a looked-up entry
        const int k = key();
        const int v = in.small_int();
        auto item = d.lookup(k);
        if (item != nullptr) {
          d.change_inf(item, v);
          m[k] = v;
        }
        break;
      }
      case 6: {  // copy and assignment leave two equal, independent dictionaries
        tavo_dictionary<int, int> copy(d);
        same(copy, m);
        copy.insert(key(), 1);
        copy = d;
        same(copy, m);
        break;
      }
      case 7:
        if (in.below(8) == 0) {
          d.clear();
          m.clear();
        }
        break;
    }
    same(d, m);
  }
  return 0;
}
