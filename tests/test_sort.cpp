// The array quicksorts QUICKSORT_C and QUICKSORT_P: results against
// std::sort, the parallel array against the exchanges made, and the exact
// scheme (which decides where equal keys end up) against a literal,
// recursive transcription of it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "tavo/sort.h"

namespace {

// The scheme as stated, recursion on both sides, on a key array with a
// parallel tag array.
template <class T>
void reference_scheme(std::vector<T>& A, std::vector<int>& B, int l, int r) {
  if (r - l < 1) return;
  auto exchange = [&](int i, int j) {
    std::swap(A[i], A[j]);
    std::swap(B[i], B[j]);
  };
  if (A[r] < A[l]) exchange(l, r);
  if (r == l + 1) return;
  const int m = (l + r) / 2;
  if (A[m] < A[l]) {
    exchange(l, m);
  } else if (A[r] < A[m]) {
    exchange(m, r);
  }
  if (r == l + 2) return;
  exchange(l + 1, m);
  const T pivot = A[l + 1];
  int i = l + 1, j = r;
  for (;;) {
    ++i;
    while (A[i] < pivot) ++i;
    --j;
    while (pivot < A[j]) --j;
    if (i >= j) break;
    exchange(i, j);
  }
  exchange(l + 1, j);
  if (j > l + 1) reference_scheme(A, B, l, j - 1);
  if (r > j + 1) reference_scheme(A, B, j + 1, r);
}

// Inputs that stress a median-of-three quicksort, plus plain random ones.
template <class T>
std::vector<std::vector<T>> inputs(std::mt19937& rng) {
  std::vector<std::vector<T>> all;
  for (int n : {0, 1, 2, 3, 4, 5, 7, 16, 33, 100, 1000}) {
    std::vector<T> random(n), few(n), sorted(n), reversed(n), organ(n), equal(n, T(7));
    for (int k = 0; k < n; ++k) {
      random[k] = T(int(rng() % 2001) - 1000) / T(4);
      few[k] = T(int(rng() % 3));
      sorted[k] = T(k);
      reversed[k] = T(n - k);
      organ[k] = T(std::min(k, n - k));
    }
    for (auto* v : {&random, &few, &sorted, &reversed, &organ, &equal}) all.push_back(*v);
  }
  return all;
}

template <class T>
void check_against_std_sort_and_scheme() {
  std::mt19937 rng(1234);
  for (const std::vector<T>& input : inputs<T>(rng)) {
    const int n = int(input.size());
    std::vector<T> c = input;
    if (n > 0) QUICKSORT_C(c.data(), c.data() + n - 1);
    std::vector<T> expected = input;
    std::sort(expected.begin(), expected.end());
    ASSERT_EQ(c, expected) << "n " << n;

    // QUICKSORT_P from index 1, as the list uses it; B points at the tags.
    std::vector<T> a(n + 2, T(-99999));
    std::vector<int> tags(n + 2);
    std::vector<void*> b(n + 2, nullptr);
    for (int k = 1; k <= n; ++k) {
      a[k] = input[k - 1];
      tags[k] = k - 1;
      b[k] = &tags[k];
    }
    QUICKSORT_P(a.data(), b.data(), 1, n);
    std::vector<T> ref_a = input;
    std::vector<int> ref_b(n);
    for (int k = 0; k < n; ++k) ref_b[k] = k;
    reference_scheme(ref_a, ref_b, 0, n - 1);
    EXPECT_EQ(a[0], T(-99999));  // outside l..r untouched
    EXPECT_EQ(a[n + 1], T(-99999));
    for (int k = 1; k <= n; ++k) {
      ASSERT_EQ(a[k], expected[k - 1]);
      const int tag = *static_cast<int*>(b[k]);
      ASSERT_EQ(input[tag], a[k]) << "pointer moved apart from its value";
      ASSERT_EQ(tag, ref_b[k - 1]) << "n " << n << ": exchanges differ from the scheme at " << k;
    }
  }
}

TEST(ArrayQuicksort, IntsMatchStdSortAndTheSchemeExactly) {
  check_against_std_sort_and_scheme<int>();
}
TEST(ArrayQuicksort, FloatsMatchStdSortAndTheSchemeExactly) {
  check_against_std_sort_and_scheme<float>();
}
TEST(ArrayQuicksort, DoublesMatchStdSortAndTheSchemeExactly) {
  check_against_std_sort_and_scheme<double>();
}

TEST(ArrayQuicksort, FiveDownToOneSorts) {
  int a[] = {5, 4, 3, 2, 1};
  QUICKSORT_C(a, a + 4);
  EXPECT_EQ(std::vector<int>(a, a + 5), (std::vector<int>{1, 2, 3, 4, 5}));
}

TEST(ArrayQuicksort, TwoEqualEntriesAreNotExchanged) {
  int a[] = {0, 3, 3};
  int p = 0, q = 0;
  void* b[] = {nullptr, &p, &q};
  QUICKSORT_P(a, b, 1, 2);
  EXPECT_EQ(b[1], &p);
  EXPECT_EQ(b[2], &q);
  double d[] = {2.0, 2.0};
  QUICKSORT_C(d, d + 1);
  EXPECT_EQ(d[0], 2.0);
}

TEST(ArrayQuicksort, ParallelPointersFollowTheirValues) {
  double a[] = {2.5, 1.5};
  int p = 0, q = 0;
  void* b[] = {&p, &q};
  QUICKSORT_P(a, b, 0, 1);
  EXPECT_EQ(a[0], 1.5);
  EXPECT_EQ(a[1], 2.5);
  EXPECT_EQ(b[0], &q);
  EXPECT_EQ(b[1], &p);
}

TEST(ArrayQuicksort, RangeOfFewerThanTwoEntriesIsLeftAlone) {
  float a[] = {3.0f, 1.0f};
  QUICKSORT_C(a + 1, a);  // r before l: nothing
  QUICKSORT_C(a, a);
  void* b[] = {nullptr, nullptr};
  QUICKSORT_P(a, b, 1, 0);
  EXPECT_EQ(a[0], 3.0f);
  EXPECT_EQ(a[1], 1.0f);
}

TEST(ArrayQuicksort, NaNsEndTheSortWithoutLosingValues) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  std::mt19937 rng(5);
  for (int round = 0; round < 50; ++round) {
    std::vector<double> a;
    for (int k = 0; k < 40; ++k) a.push_back(rng() % 4 == 0 ? nan : double(rng() % 10));
    std::vector<double> sorted = a;
    QUICKSORT_C(sorted.data(), sorted.data() + sorted.size() - 1);
    auto numbers = [](std::vector<double> v) {
      v.erase(std::remove_if(v.begin(), v.end(), [](double x) { return std::isnan(x); }), v.end());
      std::sort(v.begin(), v.end());
      return v;
    };
    EXPECT_EQ(numbers(sorted), numbers(a));  // a permutation: nothing lost or duplicated
  }
}

TEST(ArrayQuicksort, LargeAdversarialInputsSortWithinTheStack) {
  // Sorted, reversed and all-equal inputs of 200000 entries: the median of
  // three keeps the partitions balanced, so the recursion stays shallow.
  for (int kind = 0; kind < 3; ++kind) {
    std::vector<int> a(200000);
    for (int k = 0; k < int(a.size()); ++k) a[k] = kind == 0 ? k : kind == 1 ? -k : 42;
    QUICKSORT_C(a.data(), a.data() + a.size() - 1);
    EXPECT_TRUE(std::is_sorted(a.begin(), a.end()));
  }
}

// The stack in use at the call, as an address (the lowest local of a frame
// that is never inlined).
__attribute__((noinline)) std::uintptr_t stack_here() {
  volatile char mark = 0;
  return reinterpret_cast<std::uintptr_t>(&mark);
}

// An input that drives every partition to its worst split with the large
// part on the left: values are fixed only when compared (an adversary after
// McIlroy's, mirrored), the largest first, so every pivot is as large as the
// median of three allows. Stack use is measured from inside the comparisons.
TEST(ArrayQuicksort, WorstCaseRecursionStaysLogarithmic) {
  const int n = 20000, gas = -1;
  std::vector<int> at(n), value(n, gas);
  for (int k = 0; k < n; ++k) at[k] = k;
  int next = n, candidate = -1;
  std::uintptr_t lowest = UINTPTR_MAX, highest = 0;
  long long comparisons = 0;
  auto less = [&](int i, int j) {
    const std::uintptr_t sp = stack_here();
    lowest = std::min(lowest, sp);
    highest = std::max(highest, sp);
    ++comparisons;
    const int x = at[i], y = at[j];
    if (value[x] == gas && value[y] == gas) value[x == candidate ? x : y] = --next;
    if (value[x] == gas) {
      candidate = x;
    } else if (value[y] == gas) {
      candidate = y;
    }
    return value[x] < value[y];
  };
  tavo_detail::quicksort_scheme(0, n - 1, less, [&](int i, int j) { std::swap(at[i], at[j]); });
  // The adversary did its work: far more than n log n comparisons.
  EXPECT_GT(comparisons, 10LL * n * 15);
  // Sorted by the values fixed (an entry never fixed is below them all).
  int last = gas;
  for (int k = 0; k < n; ++k) {
    if (value[at[k]] == gas) continue;
    ASSERT_GT(value[at[k]], last) << k;
    last = value[at[k]];
  }
  // log2(20000) < 15 frames of a few hundred bytes; a frame per partition
  // would be thousands.
  EXPECT_LT(highest - lowest, 32u * 1024) << "stack bytes";
}

}  // namespace
