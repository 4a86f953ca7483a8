// _sort.cpp - QUICKSORT_C and QUICKSORT_P for int, float and double.
//
// Both follow the scheme in tavo/sort.h; the values are compared directly
// with tavo_smaller, so the inner scans are a compare and an increment.
#include "tavo/sort.h"

#include <cstddef>

namespace {

template <class T>
void sort_one(T* l, T* r) {
  if (r <= l) return;
  tavo_detail::quicksort_scheme(
      std::ptrdiff_t(0), r - l,
      [l](std::ptrdiff_t i, std::ptrdiff_t j) { return tavo_smaller(l[i], l[j]); },
      [l](std::ptrdiff_t i, std::ptrdiff_t j) { tavo_swap(l[i], l[j]); });
}

template <class T>
void sort_parallel(T* A, void** B, int l, int r) {
  tavo_detail::quicksort_scheme(
      l, r, [A](int i, int j) { return tavo_smaller(A[i], A[j]); },
      [A, B](int i, int j) {
        tavo_swap(A[i], A[j]);
        tavo_swap(B[i], B[j]);
      });
}

}  // namespace

void QUICKSORT_C(int* l, int* r) {
  sort_one(l, r);
}
void QUICKSORT_C(float* l, float* r) {
  sort_one(l, r);
}
void QUICKSORT_C(double* l, double* r) {
  sort_one(l, r);
}

void QUICKSORT_P(int* A, void** B, int l, int r) {
  sort_parallel(A, B, l, r);
}
void QUICKSORT_P(float* A, void** B, int l, int r) {
  sort_parallel(A, B, l, r);
}
void QUICKSORT_P(double* A, void** B, int l, int r) {
  sort_parallel(A, B, l, r);
}
