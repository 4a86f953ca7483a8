// Fuzz target: random operation sequences on tavo_list<int>, mirrored on
// std::list<int>, with dlist::verify() and a full comparison after every step.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <list>

#include "fuzz/fuzz_bytes.h"
#include "tavo/dlist.h"

namespace {

void same(const tavo_list<int>& l, const std::list<int>& s) {
  fuzz_require(l.verify());
  fuzz_require(l.length() == static_cast<int>(s.size()));
  auto it = s.begin();
  for (auto i = l.first(); i != nullptr; i = l.next_item(i), ++it) {
    fuzz_require(it != s.end() && l[i] == *it);
  }
  fuzz_require(it == s.end());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz_bytes in(data, size);
  tavo_list<int> l;
  std::list<int> s;
  auto value = [&in]() { return in.below(2) == 0 ? in.below(16) : in.small_int(); };
  while (!in.empty()) {
    switch (in.below(12)) {
      case 0: {
        const int v = value();
        l.push(v);
        s.push_front(v);
        break;
      }
      case 1: {
        const int v = value();
        l.append(v);
        s.push_back(v);
        break;
      }
      case 2:  // insert after (dir 0) or before (dir 1) the item at a position
        if (!s.empty()) {
          const int pos = in.below(static_cast<int>(s.size()));
          const int dir = in.below(2);
          const int v = value();
          l.insert(v, l.get_item(pos), dir);
          auto at = std::next(s.begin(), pos);
          s.insert(dir == 0 ? std::next(at) : at, v);
        }
        break;
      case 3:
        if (!s.empty()) {
          fuzz_require(l.pop() == s.front());
          s.pop_front();
        }
        break;
      case 4:
        if (!s.empty()) {
          fuzz_require(l.Pop() == s.back());
          s.pop_back();
        }
        break;
      case 5:
        if (!s.empty()) {
          const int pos = in.below(static_cast<int>(s.size()));
          l.del_item(l.get_item(pos));
          s.erase(std::next(s.begin(), pos));
        }
        break;
      case 6: {
        const int v = value();
        l.remove(v);
        s.remove(v);
        break;
      }
      case 7:
        l.sort();
        s.sort();
        break;
      case 8:
        l.merge_sort();
        s.sort();
        break;
      case 9:
        l.reverse();
        s.reverse();
        break;
      case 10: {  // conc: another list's items move to the end (dir 0) or front
        tavo_list<int> other;
        std::list<int> mirror;
        const int n = in.below(8);
        for (int i = 0; i < n; ++i) {
          const int v = value();
          other.append(v);
          mirror.push_back(v);
        }
        const int dir = in.below(2);
        l.conc(other, dir);
        s.splice(dir == 0 ? s.end() : s.begin(), mirror);
        fuzz_require(other.empty());
        break;
      }
      case 11: {  // unique, copy, assignment, search
        const int what = in.below(3);
        if (what == 0) {
          l.unique();
          s.unique();
        } else if (what == 1) {
          tavo_list<int> copy(l);
          same(copy, s);
          copy.append(1);
          copy = l;
          same(copy, s);
        } else {
          const int v = value();
          auto item = l.search(v);
          const auto found = std::find(s.begin(), s.end(), v);
          fuzz_require((item != nullptr) == (found != s.end()));
          if (item != nullptr)
            fuzz_require(l.rank(v) == 1 + static_cast<int>(std::distance(s.begin(), found)));
        }
        break;
      }
    }
    same(l, s);
  }
  return 0;
}
