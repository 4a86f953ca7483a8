// bench/bench_library.cpp - the library against its peers, side by side in one
// Google Benchmark binary, so that every ratio is read from one run.
//
//   bench_library [Google Benchmark flags]     (bench/library.sh runs it)
//
// Memory manager (the class allocation hook: tavo_hook_allocate and
// tavo_hook_release, the inline bodies of TAVO_MEMORY_HOOK's operators)
// against the C library's malloc/free, mimalloc's mi_malloc/mi_free and
// jemalloc's mallocx/dallocx:
//   BM_AllocFree32/<peer>   one 32-byte allocation released at once;
//   BM_Batch1000/<peer>     1,000 objects of mixed sizes 1..255 (fixed
//                           random sizes), released in a shuffled order.
// Dictionary (tavo_dictionary, an (a,b)-tree with a = 2, b = 16) against
// std::map and absl::btree_map, int keys and tavo_three_tuple<int,int,int>
// keys, int information:
//   BM_Insert/<map>/<key>/N  N distinct random keys into an empty map;
//   BM_Find/<map>/<key>/N    lookups of the N keys in shuffled order in a
//                            map holding them.
// Lists: tavo_list<int>::merge_sort and ::sort (quicksort) against
// std::list<int>::sort on 10^6 ints:
//   BM_ListSort/<sort>/<order>/<layout>   order: random or sorted values;
//                           layout: fresh (items linked in address order)
//                           or scattered (items in a random memory order);
//                           the counter "adjacent" tells the share of items
//                           whose successor follows within 64 bytes.
// Strings: tavo_string against std::string:
//   BM_StringAppend/<string>   100 pieces of 10 characters appended to an
//                              empty string, one by one;
//   BM_StringSub/<string>      a substring of 100 characters from a text of
//                              1,000;
//   BM_StringPos/<string>      the first place of a 6-character pattern in
//                              a text of 1,000 where it occurs only at the end.
// All report "per_item": the time of one allocation and release, one
// insertion or one lookup, one element sorted, one string operation.
//
// mimalloc and jemalloc are kept from replacing malloc in this process (see
// CMakeLists.txt): mi_malloc and mi_free are called through the addresses
// that dlopen/dlsym give, jemalloc is linked statically.
#include <dlfcn.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <list>
#include <map>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include <absl/container/btree_map.h>
#include <benchmark/benchmark.h>
#include <jemalloc/jemalloc.h>

#include "tavo/dictionary.h"
#include "tavo/dlist.h"
#include "tavo/memory.h"
#include "tavo/string.h"

namespace {

// ---- the allocators ---------------------------------------------------------------

struct tavo_hook {
  static void* allocate(std::size_t s) { return tavo_hook_allocate(s); }
  static void release(void* p, std::size_t s) { tavo_hook_release(p, s); }
};

struct libc_malloc {
  static void* allocate(std::size_t s) { return std::malloc(s); }
  static void release(void* p, std::size_t) { std::free(p); }
};

// mimalloc, opened at run time so that its malloc stays out of the process.
struct mimalloc {
  using malloc_fn = void* (*)(std::size_t);
  using free_fn = void (*)(void*);
  static malloc_fn mi_malloc;
  static free_fn mi_free;
  static bool load() {
    void* lib = dlopen(TAVO_MIMALLOC_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    if (lib == nullptr) {
      std::fprintf(stderr, "bench_library: %s\n", dlerror());
      return false;
    }
    mi_malloc = reinterpret_cast<malloc_fn>(dlsym(lib, "mi_malloc"));
    mi_free = reinterpret_cast<free_fn>(dlsym(lib, "mi_free"));
    return mi_malloc != nullptr && mi_free != nullptr;
  }
  static void* allocate(std::size_t s) { return mi_malloc(s); }
  static void release(void* p, std::size_t) { mi_free(p); }
};
mimalloc::malloc_fn mimalloc::mi_malloc = nullptr;
mimalloc::free_fn mimalloc::mi_free = nullptr;

struct jemalloc {
  static void* allocate(std::size_t s) { return mallocx(s, 0); }
  static void release(void* p, std::size_t) { dallocx(p, 0); }
};

template <class A>
void BM_AllocFree32(benchmark::State& state) {
  for (auto _ : state) {
    void* p = A::allocate(32);
    benchmark::DoNotOptimize(p);
    A::release(p, 32);
  }
  state.counters["per_item"] = benchmark::Counter(
      1, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// Sizes 1..255 and a release order, the same for every allocator.
struct batch_plan {
  std::vector<std::size_t> sizes;
  std::vector<std::size_t> order;
  explicit batch_plan(std::size_t n) : sizes(n), order(n) {
    std::mt19937 gen(1234);
    std::uniform_int_distribution<std::size_t> size(1, 255);
    for (auto& s : sizes) s = size(gen);
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::shuffle(order.begin(), order.end(), gen);
  }
};

template <class A>
void BM_Batch1000(benchmark::State& state) {
  static const batch_plan plan(1000);
  std::vector<void*> objects(plan.sizes.size());
  for (auto _ : state) {
    for (std::size_t i = 0; i < objects.size(); ++i) objects[i] = A::allocate(plan.sizes[i]);
    benchmark::DoNotOptimize(objects.data());
    benchmark::ClobberMemory();
    for (const std::size_t i : plan.order) A::release(objects[i], plan.sizes[i]);
  }
  state.counters["per_item"] = benchmark::Counter(
      static_cast<double>(objects.size()),
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// ---- the dictionaries -----------------------------------------------------------------

using triple = tavo_three_tuple<int, int, int>;

struct triple_less {
  bool operator()(const triple& x, const triple& y) const { return compare(x, y) < 0; }
};

template <class K>
struct key_order {
  using type = std::less<K>;
};
template <>
struct key_order<triple> {
  using type = triple_less;
};

template <class K>
struct tavo_map {
  tavo_dictionary<K, int> d;
  void insert(const K& k, int v) { d.insert(k, v); }
  bool find(const K& k) const { return d.lookup(k) != nullptr; }
};

template <class K>
struct std_map {
  std::map<K, int, typename key_order<K>::type> m;
  void insert(const K& k, int v) { m.emplace(k, v); }
  bool find(const K& k) const { return m.find(k) != m.end(); }
};

template <class K>
struct absl_map {
  absl::btree_map<K, int, typename key_order<K>::type> m;
  void insert(const K& k, int v) { m.emplace(k, v); }
  bool find(const K& k) const { return m.find(k) != m.end(); }
};

// n distinct random keys, in random order.
template <class K>
std::vector<K> random_keys(std::size_t n);

template <>
std::vector<int> random_keys<int>(std::size_t n) {
  std::mt19937 gen(42);
  std::vector<int> keys;
  keys.reserve(n);
  std::vector<bool> taken(16 * n, false);  // keys from a range 16 times n wide
  std::uniform_int_distribution<int> pick(0, static_cast<int>(16 * n) - 1);
  while (keys.size() < n) {
    const int k = pick(gen);
    if (!taken[static_cast<std::size_t>(k)]) {
      taken[static_cast<std::size_t>(k)] = true;
      keys.push_back(k - static_cast<int>(8 * n));
    }
  }
  return keys;
}

// Triples spread like trackpair's (object, frame, detection) keys, but over
// wider ranges: the first two parts repeat a lot, so that comparisons often
// go on to the second and third parts.
template <>
std::vector<triple> random_keys<triple>(std::size_t n) {
  const std::vector<int> ints = random_keys<int>(n);
  std::vector<triple> keys;
  keys.reserve(n);
  for (const int k : ints) {
    const unsigned u = static_cast<unsigned>(k) * 2654435761u;  // scatter the bits
    keys.emplace_back(static_cast<int>(u % 100), static_cast<int>((u / 100) % 500), k);
  }
  return keys;
}

template <class Map, class K>
void BM_Insert(benchmark::State& state) {
  const std::size_t n = static_cast<std::size_t>(state.range(0));
  const std::vector<K> keys = random_keys<K>(n);
  for (auto _ : state) {
    auto* map = new Map;
    for (std::size_t i = 0; i < n; ++i) map->insert(keys[i], static_cast<int>(i));
    benchmark::DoNotOptimize(map);
    state.PauseTiming();
    delete map;
    state.ResumeTiming();
  }
  state.counters["per_item"] =
      benchmark::Counter(static_cast<double>(n), benchmark::Counter::kIsIterationInvariantRate |
                                                     benchmark::Counter::kInvert);
}

template <class Map, class K>
void BM_Find(benchmark::State& state) {
  const std::size_t n = static_cast<std::size_t>(state.range(0));
  std::vector<K> keys = random_keys<K>(n);
  Map map;
  for (std::size_t i = 0; i < n; ++i) map.insert(keys[i], static_cast<int>(i));
  std::shuffle(keys.begin(), keys.end(), std::mt19937(7));
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(map.find(keys[i]));
    if (++i == n) i = 0;
  }
  state.counters["per_item"] = benchmark::Counter(
      1, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// ---- the lists ----------------------------------------------------------------------------

constexpr std::size_t list_length = 1000000;

enum class list_order { random, sorted };
enum class list_layout { fresh, scattered };

// The values in list order.
std::vector<int> list_values(list_order order) {
  std::vector<int> v(list_length);
  std::iota(v.begin(), v.end(), 0);
  if (order == list_order::random) std::shuffle(v.begin(), v.end(), std::mt19937(99));
  return v;
}

// A list of the values whose items lie in memory in list order (fresh) or in
// a random order (scattered). Fresh is made explicitly, by linking the items
// in address order, for both list types: both allocators hand back the
// chunks of the list deleted before in that list's last order, so a list
// merely appended anew after a sort is scattered (the tavo memory manager's
// free lists and glibc's bins are last in, first out).
void build(tavo_list<int>& list, const std::vector<int>& values, list_layout layout) {
  for (const int v : values) list.append(v);
  if (layout == list_layout::fresh) {
    std::vector<dlink*> items;
    items.reserve(values.size());
    for (auto it = list.first_item(); it != nullptr; it = list.next_item(it)) items.push_back(it);
    std::sort(items.begin(), items.end(), std::less<dlink*>());
    list.permute(items.data());
  } else {
    list.permute();  // relinks the items: list order no longer memory order
  }
  auto it = list.first_item();
  for (const int v : values) {
    list[it] = v;
    it = list.next_item(it);
  }
}

void build(std::list<int>& list, const std::vector<int>& values, list_layout layout) {
  std::list<int> items(values.size());
  std::vector<std::list<int>::iterator> order;
  order.reserve(values.size());
  for (auto it = items.begin(); it != items.end(); ++it) order.push_back(it);
  if (layout == list_layout::fresh) {
    std::sort(order.begin(), order.end(),
              [](const std::list<int>::iterator& x, const std::list<int>::iterator& y) {
                return std::less<const int*>()(&*x, &*y);
              });
  } else {
    std::shuffle(order.begin(), order.end(), std::mt19937(5));
  }
  for (const auto& it : order) list.splice(list.end(), items, it);
  auto v = values.begin();
  for (int& x : list) x = *v++;
}

// The share of items whose successor follows within 64 bytes above them in
// memory: about 1 for a fresh list, about 0 for a scattered one.
template <class List>
double adjacent_share(const List& list) {
  std::size_t pairs = 0, adjacent = 0;
  const int* prev = nullptr;
  for (const int& x : list) {
    if (prev != nullptr) {
      const std::uintptr_t a = reinterpret_cast<std::uintptr_t>(prev);
      const std::uintptr_t b = reinterpret_cast<std::uintptr_t>(&x);
      ++pairs;
      if (b > a && b - a <= 64) ++adjacent;
    }
    prev = &x;
  }
  return pairs == 0 ? 1.0 : static_cast<double>(adjacent) / static_cast<double>(pairs);
}

struct tavo_merge_sort {
  using list = tavo_list<int>;
  static void sort(list& l) { l.merge_sort(); }
};
struct tavo_quick_sort {
  using list = tavo_list<int>;
  static void sort(list& l) { l.sort(); }
};
struct std_list_sort {
  using list = std::list<int>;
  static void sort(list& l) { l.sort(); }
};

template <class Sort, list_order Order, list_layout Layout>
void BM_ListSort(benchmark::State& state) {
  const std::vector<int> values = list_values(Order);
  double adjacent = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto* list = new typename Sort::list;
    build(*list, values, Layout);
    adjacent = adjacent_share(*list);
    state.ResumeTiming();
    Sort::sort(*list);
    benchmark::ClobberMemory();
    state.PauseTiming();
    delete list;
    state.ResumeTiming();
  }
  state.counters["per_item"] = benchmark::Counter(
      static_cast<double>(list_length),
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  state.counters["adjacent"] = adjacent;  // of the last list sorted
}

// ---- the strings -------------------------------------------------------------------------

const std::string& thousand_characters() {
  static const std::string text = [] {
    std::string t;
    std::mt19937 gen(3);
    std::uniform_int_distribution<int> letter('a', 'y');  // no 'z' before the end
    for (int i = 0; i < 994; ++i) t += static_cast<char>(letter(gen));
    return t + "zzzzzz";
  }();
  return text;
}

struct tavo_text {
  using type = tavo_string;
  static type make(const std::string& s) { return tavo_string(s.c_str()); }
  static type sub(const type& s, int i, int j) { return s.sub(i, j); }
  static int pos(const type& s, const type& p) { return s.pos(p); }
};
struct std_text {
  using type = std::string;
  static type make(const std::string& s) { return s; }
  static type sub(const type& s, int i, int j) {
    return s.substr(static_cast<std::size_t>(i), static_cast<std::size_t>(j - i + 1));
  }
  static int pos(const type& s, const type& p) {
    const std::size_t at = s.find(p);
    return at == std::string::npos ? -1 : static_cast<int>(at);
  }
};

template <class S>
void BM_StringAppend(benchmark::State& state) {
  const typename S::type piece = S::make("0123456789");
  for (auto _ : state) {
    typename S::type s = S::make("");
    for (int i = 0; i < 100; ++i) s += piece;
    benchmark::DoNotOptimize(s);
  }
  state.counters["per_item"] = benchmark::Counter(
      100, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

template <class S>
void BM_StringSub(benchmark::State& state) {
  const typename S::type text = S::make(thousand_characters());
  int i = 0;
  for (auto _ : state) {
    typename S::type part = S::sub(text, i, i + 99);
    benchmark::DoNotOptimize(part);
    i = (i + 37) % 900;
  }
  state.counters["per_item"] = benchmark::Counter(
      1, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

template <class S>
void BM_StringPos(benchmark::State& state) {
  const typename S::type text = S::make(thousand_characters());
  const typename S::type pattern = S::make("zzzzzz");
  for (auto _ : state) benchmark::DoNotOptimize(S::pos(text, pattern));
  state.counters["per_item"] = benchmark::Counter(
      1, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

}  // namespace

// ---- registration ------------------------------------------------------------------------

BENCHMARK_TEMPLATE(BM_AllocFree32, tavo_hook)->Name("BM_AllocFree32/tavo_hook");
BENCHMARK_TEMPLATE(BM_AllocFree32, libc_malloc)->Name("BM_AllocFree32/malloc");
BENCHMARK_TEMPLATE(BM_AllocFree32, mimalloc)->Name("BM_AllocFree32/mimalloc");
BENCHMARK_TEMPLATE(BM_AllocFree32, jemalloc)->Name("BM_AllocFree32/jemalloc");
BENCHMARK_TEMPLATE(BM_Batch1000, tavo_hook)->Name("BM_Batch1000/tavo_hook");
BENCHMARK_TEMPLATE(BM_Batch1000, libc_malloc)->Name("BM_Batch1000/malloc");
BENCHMARK_TEMPLATE(BM_Batch1000, mimalloc)->Name("BM_Batch1000/mimalloc");
BENCHMARK_TEMPLATE(BM_Batch1000, jemalloc)->Name("BM_Batch1000/jemalloc");

#define TAVO_MAP_BENCHMARKS(KEY, KEYNAME)           \
  BENCHMARK_TEMPLATE(BM_Insert, tavo_map<KEY>, KEY) \
      ->Name("BM_Insert/tavo_dictionary/" KEYNAME)  \
      ->Arg(100000)                                 \
      ->Arg(1000000)                                \
      ->Unit(benchmark::kMillisecond);              \
  BENCHMARK_TEMPLATE(BM_Insert, std_map<KEY>, KEY)  \
      ->Name("BM_Insert/std::map/" KEYNAME)         \
      ->Arg(100000)                                 \
      ->Arg(1000000)                                \
      ->Unit(benchmark::kMillisecond);              \
  BENCHMARK_TEMPLATE(BM_Insert, absl_map<KEY>, KEY) \
      ->Name("BM_Insert/absl::btree_map/" KEYNAME)  \
      ->Arg(100000)                                 \
      ->Arg(1000000)                                \
      ->Unit(benchmark::kMillisecond);              \
  BENCHMARK_TEMPLATE(BM_Find, tavo_map<KEY>, KEY)   \
      ->Name("BM_Find/tavo_dictionary/" KEYNAME)    \
      ->Arg(100000)                                 \
      ->Arg(1000000);                               \
  BENCHMARK_TEMPLATE(BM_Find, std_map<KEY>, KEY)    \
      ->Name("BM_Find/std::map/" KEYNAME)           \
      ->Arg(100000)                                 \
      ->Arg(1000000);                               \
  BENCHMARK_TEMPLATE(BM_Find, absl_map<KEY>, KEY)   \
      ->Name("BM_Find/absl::btree_map/" KEYNAME)    \
      ->Arg(100000)                                 \
      ->Arg(1000000)

TAVO_MAP_BENCHMARKS(int, "int");
TAVO_MAP_BENCHMARKS(triple, "three_tuple");

#define TAVO_LIST_BENCHMARKS(SORT, NAME)                                            \
  BENCHMARK_TEMPLATE(BM_ListSort, SORT, list_order::random, list_layout::fresh)     \
      ->Name("BM_ListSort/" NAME "/random/fresh")                                   \
      ->Unit(benchmark::kMillisecond);                                              \
  BENCHMARK_TEMPLATE(BM_ListSort, SORT, list_order::random, list_layout::scattered) \
      ->Name("BM_ListSort/" NAME "/random/scattered")                               \
      ->Unit(benchmark::kMillisecond);                                              \
  BENCHMARK_TEMPLATE(BM_ListSort, SORT, list_order::sorted, list_layout::fresh)     \
      ->Name("BM_ListSort/" NAME "/sorted/fresh")                                   \
      ->Unit(benchmark::kMillisecond);                                              \
  BENCHMARK_TEMPLATE(BM_ListSort, SORT, list_order::sorted, list_layout::scattered) \
      ->Name("BM_ListSort/" NAME "/sorted/scattered")                               \
      ->Unit(benchmark::kMillisecond)

TAVO_LIST_BENCHMARKS(tavo_merge_sort, "tavo_list::merge_sort");
TAVO_LIST_BENCHMARKS(tavo_quick_sort, "tavo_list::sort");
TAVO_LIST_BENCHMARKS(std_list_sort, "std::list::sort");

BENCHMARK_TEMPLATE(BM_StringAppend, tavo_text)->Name("BM_StringAppend/tavo_string");
BENCHMARK_TEMPLATE(BM_StringAppend, std_text)->Name("BM_StringAppend/std::string");
BENCHMARK_TEMPLATE(BM_StringSub, tavo_text)->Name("BM_StringSub/tavo_string");
BENCHMARK_TEMPLATE(BM_StringSub, std_text)->Name("BM_StringSub/std::string");
BENCHMARK_TEMPLATE(BM_StringPos, tavo_text)->Name("BM_StringPos/tavo_string");
BENCHMARK_TEMPLATE(BM_StringPos, std_text)->Name("BM_StringPos/std::string");

int main(int argc, char** argv) {
  if (!mimalloc::load()) return 1;
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
