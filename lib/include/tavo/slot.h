// tavo/slot.h - how typed values live in the untyped containers.
//
// A value_slot is one pointer-sized word. The untyped containers (ab_tree,
// dlist) store keys, information and elements in slots and never look inside
// them; the typed templates below are the only code that knows how a T is
// represented:
//
//   narrow T  (tavo_in_slot<T>: no wider and no more aligned than a slot, and
//             not double) - the value itself lies in the slot's bytes.
//             int, float, pointers, one-pointer handles such as tavo_string.
//   wide T    (everything else: double, the tuples, large classes) - the slot
//             holds the address of a T. A slot stored in a container points
//             to a heap copy the container owns; a slot made by tavo_cast for
//             one operation points to the caller's object.
//
// double is kept wide on every platform, even where it fits a word, because
// the fast paths for tavo_id_double read a double through the slot's address.
//
// Ownership: tavo_copy makes a stored representation (a new heap copy for
// wide T; a copy constructed in the slot for narrow T); tavo_clear releases
// exactly one stored representation. Heap copies of class types use the
// class's own operator new (the tuples draw from std_memory_mgr); heap copies
// of wide built-in types (double) come from std_memory_mgr by their size.
//
// Cost: every operation is constant time; nothing allocates except tavo_copy
// of a wide T.
#ifndef TAVO_SLOT_H
#define TAVO_SLOT_H

#include <cstring>
#include <new>
#include <type_traits>

#include "tavo/startup.h"

// Narrow values are stored in a slot's bytes and read back as their own type,
// while the containers copy slots as words: the slot type may alias any
// object, so neither access can be reordered past the other.
typedef void* value_slot __attribute__((__may_alias__));

template <class T>
struct tavo_in_slot
    : std::integral_constant<bool, sizeof(T) <= sizeof(void*) && alignof(T) <= alignof(void*) &&
                                       !std::is_same<T, double>::value> {};

namespace tavo_detail {
// The T constructed in a slot's bytes.
template <class T>
inline T* in_slot(value_slot& p) {
  return std::launder(reinterpret_cast<T*>(&p));
}
template <class T>
inline const T* in_slot(const value_slot& p) {
  return std::launder(reinterpret_cast<const T*>(&p));
}
}  // namespace tavo_detail

// The slot that represents the caller's x for one operation: for wide T the
// address of x, for narrow T a bitwise image of x (no copy is constructed, so
// the slot must not be cleared).
template <class T>
inline value_slot tavo_cast(const T& x) {
  if constexpr (tavo_in_slot<T>::value) {
    value_slot p = nullptr;
    std::memcpy(static_cast<void*>(&p), static_cast<const void*>(&x), sizeof(T));
    return p;
  } else {
    return const_cast<void*>(static_cast<const void*>(&x));
  }
}

// A stored representation of a copy of x.
template <class T>
inline value_slot tavo_copy(const T& x) {
  if constexpr (tavo_in_slot<T>::value) {
    value_slot p = nullptr;
    ::new (static_cast<void*>(&p)) T(x);
    return p;
  } else if constexpr (std::is_class<T>::value) {
    return new T(x);
  } else {
    return ::new (std_memory_mgr.allocate_bytes(sizeof(T))) T(x);
  }
}

// Releases a stored representation, given as the T it represents
// (tavo_clear(tavo_access<T>(slot))): destroys a narrow T in place, deletes
// the heap copy of a wide T.
template <class T>
inline void tavo_clear(T& x) {
  if constexpr (tavo_in_slot<T>::value) {
    x.~T();
  } else if constexpr (std::is_class<T>::value) {
    delete &x;
  } else {
    std_memory_mgr.deallocate_bytes(&x, sizeof(T));
  }
}

// The T that slot p represents.
template <class T>
inline T& tavo_access(value_slot& p) {
  if constexpr (tavo_in_slot<T>::value) {
    return *tavo_detail::in_slot<T>(p);
  } else {
    return *static_cast<T*>(p);
  }
}

template <class T>
inline const T& tavo_const_access(const value_slot& p) {
  if constexpr (tavo_in_slot<T>::value) {
    return *tavo_detail::in_slot<T>(p);
  } else {
    return *static_cast<const T*>(p);
  }
}

// Type ids, which the containers' hooks report (ab_tree::key_type_id,
// dlist::el_type_id) so that the fast paths can compare, copy and clear
// without a virtual call. The values are fixed.
constexpr int tavo_id_other = 0;   // any type: compared, copied, cleared by the hooks
constexpr int tavo_id_int = 3;     // int in the slot
constexpr int tavo_id_float = 5;   // float in the slot
constexpr int tavo_id_double = 6;  // the address of a double
constexpr int tavo_id_word = 7;    // lists only: a word that needs no copy and no clear

// The id of T for the fast paths: int, float, double, else tavo_id_other.
template <class T>
constexpr int tavo_type_id() {
  if constexpr (std::is_same<T, int>::value) return tavo_id_int;
  if constexpr (std::is_same<T, float>::value) return tavo_id_float;
  if constexpr (std::is_same<T, double>::value) return tavo_id_double;
  return tavo_id_other;
}

// Reading built-in values out of slots, for the untyped fast paths.
inline int tavo_slot_int(value_slot p) {
  int v;
  std::memcpy(&v, &p, sizeof v);
  return v;
}
inline float tavo_slot_float(value_slot p) {
  float v;
  std::memcpy(&v, &p, sizeof v);
  return v;
}
inline double tavo_slot_double(value_slot p) {
  return *static_cast<const double*>(p);
}

#endif  // TAVO_SLOT_H
