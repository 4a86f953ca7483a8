// tavo/sort.h - array quicksorts for int, float and double, and the
// quicksort scheme they share with the list's quick_sort (tavo/dlist.h).
//
// What it is
//   QUICKSORT_C sorts one array; QUICKSORT_P sorts a value array and applies
//   every exchange to a parallel array of pointers as well (the list sorts
//   its items that way). Both sort ascending by tavo_smaller, IEEE `<` for
//   float and double, so a NaN is never smaller and never larger: arrays with
//   NaNs end in some order without a guarantee, but the sort terminates.
//   Neither is stable.
//
// The scheme (for a range l..r of at least two entries; "less" is
// tavo_smaller or the list's cmp < 0; an exchange moves the parallel entries
// too):
//   1. A[r] less than A[l]: exchange. r = l + 1: done.
//   2. m = l + (r - l) / 2. A[m] less than A[l]: exchange l, m; else A[r]
//      less than A[m]: exchange m, r. Now A[l] <= A[m] <= A[r].
//      r = l + 2: done.
//   3. Exchange A[l+1] and A[m]: the pivot is A[l+1]; A[l] and A[r] stop the
//      scans, so neither needs a bound test.
//   4. i = l + 1, j = r; repeat: ++i while A[i] less than pivot (at least
//      once), --j while pivot less than A[j] (at least once); stop when
//      i >= j, else exchange A[i], A[j].
//   5. Exchange A[l+1] and A[j]: the pivot is in place at j.
//   6. Sort l..j-1 (if j > l + 1) and j+1..r (if r > j + 1).
//   No cut-off to another method: ranges of two and three entries are done
//   by steps 1 and 2. Step 6 recurses into the smaller part and loops on the
//   larger one: the two parts are disjoint, so the exchanges within each and
//   the result are those of sorting left then right, and each call works on
//   at most half of its caller's range.
//
// Cost
//   O(n log n) comparisons expected, O(n^2) in the worst case; the recursion
//   depth is at most log2(n) frames. No memory is allocated.
#ifndef TAVO_SORT_H
#define TAVO_SORT_H

#include "tavo/startup.h"

// True when a < b (IEEE for float and double: false if a NaN takes part).
template <class T>
inline bool tavo_smaller(const T& a, const T& b) {
  return a < b;
}

// Exchanges two values (values, element slots and item pointers alike).
template <class T>
inline void tavo_swap(T& a, T& b) {
  T t = a;
  a = b;
  b = t;
}

// Sorts l .. r inclusive ascending by tavo_smaller.
void QUICKSORT_C(int* l, int* r);
void QUICKSORT_C(float* l, float* r);
void QUICKSORT_C(double* l, double* r);

// Sorts A[l..r] ascending by tavo_smaller; every exchange of A is applied to
// B too.
void QUICKSORT_P(int* A, void** B, int l, int r);
void QUICKSORT_P(float* A, void** B, int l, int r);
void QUICKSORT_P(double* A, void** B, int l, int r);

namespace tavo_detail {

// The scheme above on index range l..r. less(i, j): entry i is less than
// entry j. exchange(i, j): exchanges entries i and j (and their parallel
// entries).
template <class Index, class Less, class Exchange>
void quicksort_scheme(Index l, Index r, Less less, Exchange exchange) {
  while (r > l) {
    if (less(r, l)) exchange(l, r);
    if (r == l + 1) return;
    const Index m = l + (r - l) / 2;
    if (less(m, l)) {
      exchange(l, m);
    } else if (less(r, m)) {
      exchange(m, r);
    }
    if (r == l + 2) return;
    exchange(l + 1, m);
    const Index p = l + 1;  // the pivot's index during the scans
    Index i = l + 1, j = r;
    for (;;) {
      do ++i;
      while (less(i, p));
      do --j;
      while (less(p, j));
      if (i >= j) break;
      exchange(i, j);
    }
    exchange(l + 1, j);
    // The smaller part in a call, the larger one in this frame.
    if (j - l < r - j) {
      if (j > l + 1) quicksort_scheme(l, j - 1, less, exchange);
      l = j + 1;
    } else {
      if (r > j + 1) quicksort_scheme(j + 1, r, less, exchange);
      r = j - 1;
    }
  }
}

}  // namespace tavo_detail

#endif  // TAVO_SORT_H
