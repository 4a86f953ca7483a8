// tavo/tuple.h - small value classes and the library's comparison functions.
//
// tavo_three_tuple<T1,T2,T3> and tavo_four_tuple<T1,T2,T3,T4> hold their
// values by value and hand out references through first() .. fourth(). Their
// storage comes from std_memory_mgr through the class allocation hook: new
// and delete of a tuple take a chunk of exactly the tuple's size (12 bytes
// for three ints, 16 for four), so a container's heap copies cost a free-list
// pop and push.
//
// compare(x, y) returns -1, 0 or 1 for x < y, x == y, x > y. It is defined
// for the built-in arithmetic types and, lexicographically, for the tuples
// whose component types have a compare. The dictionary and the typed list use
// it as their default ordering.
#ifndef TAVO_TUPLE_H
#define TAVO_TUPLE_H

#include <type_traits>

#include "tavo/error.h"
#include "tavo/memory.h"
#include "tavo/startup.h"

template <class T1, class T2, class T3>
class tavo_three_tuple {
 public:
  tavo_three_tuple() : f1_(), f2_(), f3_() {}
  tavo_three_tuple(const T1& a, const T2& b, const T3& c) : f1_(a), f2_(b), f3_(c) {}

  T1& first() { return f1_; }
  T2& second() { return f2_; }
  T3& third() { return f3_; }
  const T1& first() const { return f1_; }
  const T2& second() const { return f2_; }
  const T3& third() const { return f3_; }

  TAVO_MEMORY_HOOK_WITH_PLACEMENT

 private:
  T1 f1_;
  T2 f2_;
  T3 f3_;
};

template <class T1, class T2, class T3, class T4>
class tavo_four_tuple {
 public:
  tavo_four_tuple() : f1_(), f2_(), f3_(), f4_() {}
  tavo_four_tuple(const T1& a, const T2& b, const T3& c, const T4& d)
      : f1_(a), f2_(b), f3_(c), f4_(d) {}

  T1& first() { return f1_; }
  T2& second() { return f2_; }
  T3& third() { return f3_; }
  T4& fourth() { return f4_; }
  const T1& first() const { return f1_; }
  const T2& second() const { return f2_; }
  const T3& third() const { return f3_; }
  const T4& fourth() const { return f4_; }

  TAVO_MEMORY_HOOK_WITH_PLACEMENT

 private:
  T1 f1_;
  T2 f2_;
  T3 f3_;
  T4 f4_;
};

// -1, 0 or 1. Unordered floating-point values compare as equal.
inline int compare(const int& x, const int& y) {
  return x < y ? -1 : (x > y ? 1 : 0);
}

template <class T>
inline typename std::enable_if<std::is_arithmetic<T>::value, int>::type compare(const T& x,
                                                                                const T& y) {
  return x < y ? -1 : (x > y ? 1 : 0);
}

// Lexicographic: first, then second, then third.
template <class T1, class T2, class T3>
inline int compare(const tavo_three_tuple<T1, T2, T3>& x, const tavo_three_tuple<T1, T2, T3>& y) {
  if (int c = compare(x.first(), y.first())) return c;
  if (int c = compare(x.second(), y.second())) return c;
  return compare(x.third(), y.third());
}

// Lexicographic: first .. fourth.
template <class T1, class T2, class T3, class T4>
inline int compare(const tavo_four_tuple<T1, T2, T3, T4>& x,
                   const tavo_four_tuple<T1, T2, T3, T4>& y) {
  if (int c = compare(x.first(), y.first())) return c;
  if (int c = compare(x.second(), y.second())) return c;
  if (int c = compare(x.third(), y.third())) return c;
  return compare(x.fourth(), y.fourth());
}

// The comparison object of the typed containers: holds a comparison function
// and calls it. A derived class may override the call operator instead.
template <class K>
class tavo_cmp_base {
 public:
  typedef int (*cmp_fn)(const K&, const K&);

  explicit tavo_cmp_base(cmp_fn f = nullptr) : cmp_function(f) {}
  virtual ~tavo_cmp_base() = default;

  // Negative, zero or positive. Without a function: reports
  // error_handler(1, "tavo_cmp_base: compare undefined") and returns 0 if the
  // handler returns.
  virtual int operator()(const K& x, const K& y) const;

  cmp_fn cmp_function;
};

template <class K>
int tavo_cmp_base<K>::operator()(const K& x, const K& y) const {
  if (cmp_function == nullptr) {
    error_handler(1, "tavo_cmp_base: compare undefined");
    return 0;
  }
  return cmp_function(x, y);
}

#endif  // TAVO_TUPLE_H
