// tavo/dlist.h - the doubly linked list: items (dlink), the untyped list
// (dlist) with its sorting operations, and the typed layer tavo_list<T>.
//
// What it is
//   dlist is an untyped doubly linked list of value_slots (tavo/slot.h). It
//   never looks inside an element: comparing, ordering keys, applying a
//   function, reading, printing, destroying and copying elements are virtual
//   hooks that the typed layer tavo_list<T> overrides for T. Unlike a list
//   with a sentinel node, the list object holds head and tail pointers and
//   the items hold nothing but their two links and the element, three words
//   (sizeof(dlink): 12 bytes on 32-bit, 24 on 64-bit).
//
// Ownership
//   The list owns its items. Elements are owned through the hooks: a typed
//   list owns a copy of every element (narrow T in the slot, wide T as a heap
//   copy, tavo/slot.h) and destroys them in clear() and its destructor. The
//   untyped operations push, append, insert take a slot as it is (no copy)
//   and pop, Pop, del hand the slot back without destroying it; remove,
//   unique and clear destroy what they drop.
//   Items come from std_memory_mgr through the class allocation hook, one
//   chunk of sizeof(dlink) bytes each; clear() gives a whole chain back with
//   one deallocate_list call (which links through `succ`, the first word).
//
// Items (dlink*) as positions
//   An item stays valid, and keeps its element, until it is deleted or its
//   list is cleared or destroyed. Restructuring (conc, split, splice, merge,
//   the sorts, permute, reverse_items, move_to_*) relinks items and never
//   copies or destroys an element, so held positions stay valid; items may
//   move from one list to another. reverse() exchanges elements, not items.
//
// The length cache
//   `count` is the number of items, or negative when stale. Joining and
//   cutting (split, conc, merge, splice) does not walk the lists: a result
//   whose parts were not all counted gets -1. length() recomputes a stale
//   count with one walk and caches it. Adding one item keeps a stale count
//   stale; removing one decrements it whatever its sign (it stays negative).
//
// Element type ids (el_type_id)
//   The names of tavo/slot.h: tavo_id_int and tavo_id_float (in the slot),
//   tavo_id_double (the slot holds the address of an 8-byte copy from
//   std_memory_mgr), tavo_id_word for any other word-sized element that needs
//   neither copy nor clear (pointers, char, short, enums...: trivially
//   copyable and destructible), tavo_id_other for everything else. Copy and
//   clear work is skipped for int, float and word. With int, float or double
//   and natural_order set, unique, merge, merge_sort and quick_sort compare
//   the values directly (IEEE: a NaN is neither less than, equal to nor
//   greater than anything) instead of calling cmp; remove compares ints and
//   doubles directly always.
//
// Cost
//   push, append, insert, pop, Pop, del, conc, swap, move_to_front,
//   move_to_back, split, splice (all forms), first/last access: constant time
//   (split also clears its target lists). length(): constant while the count
//   is known, one walk when it is stale. clear(): one hook call per element
//   for ids other than int, float and word, plus one constant-time release of the chain.
//   get_item, succ(it, i), pred(it, i): O(i). search, rank, min, max,
//   remove, unique, apply, copying, reverse, reverse_items: O(n).
//   merge_sort: O(n log r) for r ascending runs, O(n) when sorted;
//   quick_sort: O(n log n) expected, O(n^2) worst; merge: O(n + m);
//   bucket_sort(i, j): O(n + j - i); permute: O(n). The sorts relink items;
//   quick_sort and permute take a temporary array of n + 2 pointers (and
//   quick_sort one of n + 2 values), bucket_sort one of j - i + 2 pointers,
//   all from std_memory_mgr's vectors. Nothing else allocates beyond the
//   items themselves.
//
// Failure
//   Errors go to error_handler with the texts given per operation; every
//   code used here (1, 4, 999) ends the program under the standard handler.
//   Every condition is checked before the list is changed (reverse(it1, it2)
//   finds nil positions during its walk, after the exchanges made so far).
//   Hardened mode (tavo/error.h) checks, with code 1: conc of a list with
//   itself ("dlist: conc of a list with itself."), head() / tail() of an
//   empty typed list ("tavo_list: head on empty list.", "tavo_list: tail on
//   empty list.") and del of an item that is not in the list, deleted before
//   or of another list ("dlist: del of an item not in this list."; one walk,
//   O(n), unless the item is the first or the last). Other preconditions
//   (items belonging to the list in the other operations, a sorted list for
//   merge) are not tested.
#ifndef TAVO_DLIST_H
#define TAVO_DLIST_H

#include "tavo/startup.h"

#include <cassert>
#include <cstddef>
#include <cstring>
#include <initializer_list>
#include <iosfwd>
#include <istream>
#include <iterator>
#include <new>
#include <ostream>
#include <type_traits>
#include <utility>

#include "tavo/error.h"
#include "tavo/memory.h"
#include "tavo/slot.h"
#include "tavo/string.h"
#include "tavo/tuple.h"

// One list item: three words, `succ` first (deallocate_list links through the
// first word of each chunk).
//   succ   next item, null for the last item of its list
//   pred   previous item, null for the first item
//   value  the element
class dlink {
 public:
  // Stores the three words, nothing else. Note the order: value, pred, succ.
  dlink(value_slot a, dlink* p, dlink* s) : succ(s), pred(p), value(a) {}

  dlink* succ;
  dlink* pred;
  value_slot value;

  TAVO_MEMORY_HOOK
};

static_assert(sizeof(dlink) == 3 * sizeof(void*), "an item is three words");
static_assert(offsetof(dlink, succ) == 0, "deallocate_list links through succ");

class dlist {
 public:
  typedef dlink* item;

  // --- construction, copy, destruction -----------------------------------------
  // Empty list: count 0, natural_order false.
  dlist() : head(nullptr), tail(nullptr), count(0), natural_order(false) {}
  // The list of the one element x (taken as it is): count 1.
  explicit dlist(value_slot x);
  // count = L.length(); one new item per item of L, elements copied with L's
  // hooks (not this object's: its overrides are not in force yet) unless
  // L's type id is int, float or word. O(n).
  dlist(const dlist& L);
  // Takes L's items (no element is touched); L is left empty. Constant time.
  // natural_order is false, like every constructor's.
  dlist(dlist&& L) noexcept;
  // Nothing when L is this list; else clear() and copy as the copy
  // constructor, with this list's own hooks. natural_order stays. O(n + m).
  dlist& operator=(const dlist& L);
  // A new list (with the dlist hooks) of this list's elements followed by L's,
  // all copied with L's copy_el: the result takes the values this list's
  // items held, and those items receive the fresh copies. O(n + m).
  dlist operator+(const dlist& L) const;
  // clear() with the dlist hooks (they destroy nothing): a typed layer
  // clears first in its own destructor.
  virtual ~dlist() { clear(); }

  // --- hooks (the dlist versions do nothing and return 0) ---------------------
  // <0, 0, >0 as x is less than, equal to, greater than y.
  virtual int cmp(value_slot, value_slot) const { return 0; }
  // Integer key of x for bucket sorting.
  virtual int ord(value_slot) const { return 0; }
  // Applies the list's function to x.
  virtual void app(value_slot&) const {}
  // Reads one element from in into x.
  virtual void read_el(value_slot&, std::istream&) const {}
  // Writes the element to out.
  virtual void print_el(value_slot&, std::ostream&) const {}
  // Destroys the element held in x.
  virtual void clear_el(value_slot&) const {}
  // Replaces x by a fresh copy of the element it holds.
  virtual void copy_el(value_slot&) const {}
  // Type id of the elements (see the header comment).
  virtual int el_type_id() const { return 0; }

  // --- access ------------------------------------------------------------------
  // Number of items: the cached count, or one walk when it is stale.
  int length() const { return count >= 0 ? count : recompute_length(); }
  int size() const { return length(); }
  bool empty() const { return head == nullptr; }
  // Walks the list, caches and returns the number of items. O(n).
  int recompute_length() const;
  item first_item() const { return head; }
  item last_item() const { return tail; }
  item first() const { return head; }
  item last() const { return tail; }
  // it's neighbours (it not nil).
  item next_item(item it) const { return it->succ; }
  item pred_item(item it) const { return it->pred; }
  // The element slot of an item (it not nil).
  value_slot inf(item it) const { return it->value; }
  // The item at 0-based position i. O(i). i < 0 or i >= length():
  // error_handler(1, "dlist::get_item: index out of range").
  item get_item(int i) const;
  // Follows succ (pred) i times from it, stopping at nil. i = 0 gives it; a
  // negative i walks off the end and gives nil. O(i).
  item succ(item it, int i = 1) const;
  item pred(item it, int i = 1) const;
  // it's successor, or head after the last item (tail before the first for
  // cyclic_pred); nil for nil.
  item cyclic_succ(item it) const { return it == nullptr ? nullptr : (it->succ ? it->succ : head); }
  item cyclic_pred(item it) const { return it == nullptr ? nullptr : (it->pred ? it->pred : tail); }
  // The first item p with cmp(p->value, x) == 0, or nil. O(n).
  item search(value_slot x) const;
  // The 1-based position of that item, or 0. O(n).
  int rank(value_slot x) const;
  // The first item with the largest (smallest) element by cmp, nil when
  // empty. O(n).
  item max() const;
  item min() const;

  // --- insertion (constant time; the slot is taken as it is) --------------------
  // New first / last item holding x; returns it.
  item push(value_slot x) {
    dlink* p = new dlink(x, nullptr, head);
    if (head) {
      head->pred = p;
    } else {
      tail = p;
    }
    head = p;
    if (count >= 0) ++count;
    return p;
  }
  item append(value_slot x) {
    dlink* p = new dlink(x, tail, nullptr);
    if (tail) {
      tail->succ = p;
    } else {
      head = p;
    }
    tail = p;
    if (count >= 0) ++count;
    return p;
  }
  // A new item holding x after it (dir 0) or before it (dir 1); it nil
  // appends. Other dir: error_handler(1, "dlist::insert: illegal dir
  // argument.").
  item insert(value_slot x, item it, int dir = 0);

  // --- removal (constant time; the element is handed back, not destroyed) ------
  // Unlinks and frees the first (last) item; returns its element. Empty:
  // error_handler(1, "dlist: pop on empty list.") / (1, "dlist: Pop on empty
  // list.").
  value_slot pop() {
    dlink* p = head;
    if (__builtin_expect(p == nullptr, 0)) return report_empty("dlist: pop on empty list.");
    head = p->succ;
    if (head) {
      head->pred = nullptr;
    } else {
      tail = nullptr;
    }
    --count;
    value_slot x = p->value;
    delete p;
    return x;
  }
  value_slot Pop() {
    dlink* p = tail;
    if (__builtin_expect(p == nullptr, 0)) return report_empty("dlist: Pop on empty list.");
    tail = p->pred;
    if (tail) {
      tail->succ = nullptr;
    } else {
      head = nullptr;
    }
    --count;
    value_slot x = p->value;
    delete p;
    return x;
  }
  // Unlinks and frees it; returns its element. Nil: error_handler(999,
  // "dlist: delete nil-item").
  value_slot del(item it) {
    if (__builtin_expect(it == nullptr, 0)) return report_nil_item();
    TAVO_PRECONDITION(it == head || it == tail || holds(it),
                      "dlist: del of an item not in this list.");
    if (it == head) return pop();
    if (it == tail) return Pop();
    it->pred->succ = it->succ;
    it->succ->pred = it->pred;
    --count;
    value_slot x = it->value;
    delete it;
    return x;
  }
  // Deletes every item whose element equals x and destroys those elements:
  // id int compares ints, id double doubles (freeing each match's 8-byte copy),
  // other ids cmp(p->value, x) == 0 and clear_el. O(n).
  void remove(value_slot x);
  // Destroys every element (clear_el, skipped for ids int, float, word), returns all
  // items with one deallocate_list; count 0.
  void clear();
  // Keeps the first item of every run of equal neighbours and destroys the
  // others' elements (clear_el; 8-byte release for id double on the direct path).
  // O(n).
  void unique();

  // --- restructuring (no element copied; O(1) unless said) -----------------------
  // Exchanges head, tail and count with L; hooks and natural_order stay.
  void swap(dlist& L);
  // Moves L's items behind the last item (dir 0) or before the first (dir 1);
  // L becomes empty. An empty list takes L's count and ignores dir. Other
  // dir: error_handler(1, "dlist::conc: illegal dir argument."). The count
  // is the sum, or -1 if either was stale.
  void conc(dlist& L, int dir = 0);
  // Cuts this list before it (dir 1) or after it (dir 0) into L1 (the front
  // part) and L2; it nil means before the first item. L1 and L2 are cleared
  // first unless they are this list; this list may be either. Both parts get
  // count -1. Reports (1): "dlist::split: list is empty.", "dlist::split:
  // identical arguments." (L1 is L2), "dlist::split: illegal dir argument.".
  void split(item it, dlist& L1, dlist& L2, int dir);
  // Moves all items of L in front of it (to the end for nil); L becomes
  // empty. L this list: error_handler(1, "list::splice: cannot splice list
  // into itself").
  void splice(item it, dlist& L);
  // Moves L's items from it1 up to, not including, it2 (nil: L's end; it1
  // nil: L's first item) in front of it. L may be this list if it lies
  // outside the moved range.
  void splice(item it, dlist& L, item it1, item it2);
  // Moves the one item it1 of L in front of it; nothing when it1 is nil, it
  // is it1 or it1's successor.
  void splice(item it, dlist& L, item it1);
  // Relinks it as the first (last) item. Nil: error_handler(1,
  // "dlist::move_to_front: nil argument") / (1, "dlist::move_to_back: nil
  // argument").
  void move_to_front(item it);
  void move_to_back(item it);
  // Reverses the order of the items (each keeps its element). O(n).
  void reverse_items();
  // Reverses the items strictly between it1 and it2 (it2 nil: the last item);
  // it1 and it2 stay. The count is kept. Reports (1): "dlist::reverse_items:
  //  empty list.", "dlist::reverse_items: illegal arguments." (it1 nil),
  // "dlist::reverse_items(it1,it2): it1 not before it2". O(n).
  void reverse_items(item it1, item it2);
  // Reverses the elements from it1 to it2 by exchanging slots; the items stay
  // in place. it2 not after it1 runs into nil: error_handler(1,
  // "list::reverse(it1,it2): illegal arguments.").
  void reverse(item it1, item it2);
  // reverse(first, last) for a non-empty list.
  void reverse();

  // --- other ---------------------------------------------------------------------
  // app(p->value) for every item, first to last.
  void apply();
  // Writes s to the standard output as a prompt; then the elements to out
  // through print_el, separated by sep; flushes out.
  void print(std::ostream& out, tavo_string s, char sep = ' ') const;
  // Writes s to the standard output as a prompt, clears the list, then reads
  // elements through read_el and appends them. delim -1: blanks are skipped,
  // the end of the stream ends the list; another delim: blanks other than
  // delim are skipped, delim (consumed) or the end ends it. An element whose
  // read fails is not appended (read_el must then leave nothing to destroy
  // in x) and ends the reading. A read_el that consumes nothing ends it with
  // failbit set, instead of reading the same character for ever, on every
  // kind of stream (the hook reads through a buffer that counts what it
  // takes, so a pipe needs no position).
  void read(std::istream& in, tavo_string s, int delim = -1);

  // --- sorting (relinking: every item keeps its element) --------------------------
  // Merges L (sorted) into this (sorted) list; L becomes empty; the count is
  // the sum, or -1 if either was stale. Equal elements come first from the
  // chain being walked. O(n + m).
  void merge(dlist& L);
  // Natural merge sort by relinking: the maximal ascending runs (n - 1
  // comparisons) merged in pairs, pass after pass, each pass's results
  // chained in reverse order for the next; not stable (the passes alternate
  // which of two equal elements comes first). The merges of all passes are
  // carried out depth first, so small merges finish while their items are
  // in the cache; order and comparisons are those of the passes. A sorted
  // list costs one walk. Extra memory: one item and one small frame per pass
  // (at most 32) on the stack.
  void merge_sort();
  // Quicksort through an item array and a value array (median of three, no
  // cut-off); not stable.
  void quick_sort();
  // The same sort; the argument is not used (kept for callers that pass one).
  void quick_sort(int) { quick_sort(); }
  // Quicksort of A[l..r] by cmp, moving B[l..r] in step.
  void gen_quick_sort(value_slot* A, dlink** B, int l, int r);
  // Insertion sort of the item array l..r by the elements' order; the
  // smallest element of l..r must lie in l..m (it becomes the sentinel).
  void gen_insertion_sort(dlink** l, dlink** r, dlink** m);
  // Stable sort by ord(x), which must lie in [i, j]: O(n + j - i), one array
  // of j - i + 2 pointers. Reports: error_handler(1, "list::bucketsort:
  // cannot allocate %d buckets (out of memory)") when the array cannot be had
  // (also when j - i + 1 exceeds the int range); error_handler(4,
  // "bucket_sort: value %d out of range") for a key outside [i, j] (found
  // while the items are dealt: should a handler return, the item goes to the
  // nearest bucket and the list stays whole, not sorted).
  void bucket_sort(int i, int j);
  // bucket_sort(min, max) over the keys of all elements (one ord call each).
  void bucket_sort();
  // Uniformly random order: one rand_int(j, n) draw per position j < n.
  void permute();
  // Relinks the list in the order A[0] .. A[n-1], which holds each item of
  // the list once (n = length()).
  void permute(dlink** A);

  // --- checks and views ------------------------------------------------------------
  // Checks the invariants below (with `count` when it is not stale, and the
  // order when natural_order is set); says what is wrong on stderr and
  // returns false. O(n).
  bool verify() const;
  // The cached count as it is (negative when stale), for tests.
  int cached_count() const { return count; }
  bool in_natural_order() const { return natural_order; }

 protected:
  // Invariants (verify()):
  //   head == nullptr exactly when tail == nullptr; head->pred and tail->succ
  //   are null; following succ from head reaches tail, and p->succ->pred == p
  //   for every item p but the last (so there is no cycle);
  //   count < 0 (stale) or count == the number of items;
  //   natural_order only with el_type_id() int, float or double and the elements in
  //   ascending order (no item less than its predecessor).
  dlink* head;
  dlink* tail;
  mutable int count;  // number of items; negative: stale
  bool natural_order;

 private:
  // Whether it is one of this list's items (compares addresses only, so a
  // released item is not read). O(n).
  bool holds(item it) const;
  // Cold paths of the inline operations: report, then return null.
  value_slot report_empty(const char* msg);
  value_slot report_nil_item();
  // Builds this (empty) list's items from L's, copying elements with
  // with.copy_el unless with's type id is int, float or word.
  void copy_items(const dlist& L, const dlist& with);
  // Direct comparisons allowed: id int, float or double and natural_order.
  int direct_type() const;
  // Relinks the list from items[1..n] (items[0], items[n+1] null).
  template <class P>
  void relink_from(P* items, int n);
};

// ---- the typed layer ------------------------------------------------------------

// Type id reported by tavo_list<T>: tavo_type_id<T>() (int, float, double),
// else tavo_id_word for a word-sized T that needs no copy and no clear, else
// tavo_id_other.
template <class T>
constexpr int tavo_list_type_id() {
  if constexpr (tavo_type_id<T>() != tavo_id_other) {
    return tavo_type_id<T>();
  } else if constexpr (tavo_in_slot<T>::value && std::is_trivially_copyable<T>::value &&
                       std::is_trivially_destructible<T>::value) {
    return tavo_id_word;
  } else {
    return tavo_id_other;
  }
}

namespace tavo_detail {
// compare(T, T) if there is one, else null (the compare object then reports
// "tavo_cmp_base: compare undefined" when asked).
template <class T, class = void>
struct default_compare {
  static constexpr int (*function)(const T&, const T&) = nullptr;
};
template <class T>
struct default_compare<T, decltype((void)compare(std::declval<const T&>(),
                                                 std::declval<const T&>()))> {
  static int call(const T& x, const T& y) { return compare(x, y); }
  static constexpr int (*function)(const T&, const T&) = call;
};
}  // namespace tavo_detail

// tavo_list<T>: a dlist whose hooks know T. It owns a copy of every element
// (made with tavo_copy, destroyed with tavo_clear). The ordering is chosen by
// the operation: by compare(T, T) (sort(), search(x), ...) or by a function
// passed in (sort(f), search(x, f), ...); the choice is stored in
// cmp_function / cmp_object before the untyped operation runs. For int,
// float and double, ordering by compare uses direct comparisons: natural_order
// is set for the duration of sort(), merge_sort(), merge() and unique() only,
// so no later change of the order (push, reverse, a dlist& caller...) can
// leave it set on a list that is not in order. Element references stay valid
// as items do (for wide T the heap copy never moves; for narrow T the element
// lives in its item).
//   The constructors point cmp_object at one compare object per T (over
// compare(T, T), or reporting "tavo_cmp_base: compare undefined" for a T
// without one), so a hook called before any typed operation chose an order
// never follows a wild pointer; ord_function and app_function start null and
// are set by bucket_sort(f) and apply(f). Type
// ids: see tavo_list_type_id. Arithmetic T are printed and read with the
// stream operators; other T (tavo_string, tuples) keep the dlist print and
// read hooks, which do nothing.
template <class T>
class tavo_list : public dlist {
 public:
  typedef dlink* item;
  typedef int (*cmp_fn)(const T&, const T&);
  typedef int (*ord_fn)(const T&);
  typedef void (*app_fn)(T&);

  tavo_list()
      : cmp_object(default_object()),
        cmp_function(nullptr),
        ord_function(nullptr),
        app_function(nullptr) {}
  // An independent copy: every element copied. O(n).
  tavo_list(const tavo_list& L)
      : dlist(L),
        cmp_object(default_object()),
        cmp_function(nullptr),
        ord_function(nullptr),
        app_function(nullptr) {}
  // Takes L's items; L is left empty. Constant time.
  tavo_list(tavo_list&& L) noexcept
      : dlist(std::move(static_cast<dlist&>(L))),
        cmp_object(default_object()),
        cmp_function(nullptr),
        ord_function(nullptr),
        app_function(nullptr) {}
  // A list of copies of the given elements, in order.
  tavo_list(std::initializer_list<T> elements) : tavo_list() {
    for (const T& x : elements) append(x);
  }
  tavo_list& operator=(const tavo_list& L) {
    dlist::operator=(L);
    return *this;
  }
  // Destroys this list's elements and takes L's items; L is left empty.
  tavo_list& operator=(tavo_list&& L) noexcept {
    if (&L != this) {
      clear();
      swap(L);
    }
    return *this;
  }
  // Destroys every element as a T (the dlist destructor's hooks would not).
  ~tavo_list() override { clear(); }

  // A new list of copies of this list's elements followed by L's. O(n + m).
  tavo_list operator+(const tavo_list& L) const {
    tavo_list result;
    dlist joined = dlist::operator+(L);
    result.dlist::swap(joined);
    return result;
  }

  // --- hooks ---------------------------------------------------------------------
  int cmp(value_slot x, value_slot y) const override {
    const T& a = tavo_const_access<T>(x);
    const T& b = tavo_const_access<T>(y);
    return cmp_function ? cmp_function(a, b) : (*cmp_object)(a, b);
  }
  int ord(value_slot x) const override {
    assert(ord_function && "bucket_sort needs a key function");
    return ord_function(tavo_const_access<T>(x));
  }
  void app(value_slot& x) const override {
    assert(app_function && "apply needs a function");
    app_function(tavo_access<T>(x));
  }
  void clear_el(value_slot& x) const override { tavo_clear(tavo_access<T>(x)); }
  void copy_el(value_slot& x) const override { x = tavo_copy(tavo_const_access<T>(x)); }
  int el_type_id() const override { return tavo_list_type_id<T>(); }
  // Arithmetic elements are read and written with the stream operators;
  // other types keep the dlist hooks, which do nothing.
  void read_el(value_slot& x, std::istream& in) const override {
    if constexpr (std::is_arithmetic<T>::value) {
      T v{};
      if (in >> v) x = tavo_copy(v);
    } else {
      dlist::read_el(x, in);
    }
  }
  void print_el(value_slot& x, std::ostream& out) const override {
    if constexpr (std::is_arithmetic<T>::value) {
      out << tavo_const_access<T>(x);
    } else {
      dlist::print_el(x, out);
    }
  }

  // --- elements ------------------------------------------------------------------
  // The element of an item (it not nil).
  T& operator[](item it) { return tavo_access<T>(it->value); }
  const T& operator[](item it) const { return tavo_const_access<T>(it->value); }
  T& inf(item it) { return tavo_access<T>(it->value); }
  const T& inf(item it) const { return tavo_const_access<T>(it->value); }
  // The first / last element; the list must not be empty.
  T& head() { return (*this)[nonempty(first_item(), "tavo_list: head on empty list.")]; }
  const T& head() const {
    return (*this)[nonempty(first_item(), "tavo_list: head on empty list.")];
  }
  T& tail() { return (*this)[nonempty(last_item(), "tavo_list: tail on empty list.")]; }
  const T& tail() const { return (*this)[nonempty(last_item(), "tavo_list: tail on empty list.")]; }

  // --- insertion and removal (constant time) ---------------------------------------
  // A copy of x as the new first / last item, or next to it (dir 0 after, 1
  // before; it nil appends).
  item push(const T& x) { return dlist::push(tavo_copy(x)); }
  item append(const T& x) { return dlist::append(tavo_copy(x)); }
  item insert(const T& x, item it, int dir = 0) {
    if (dir != 0 && dir != 1) return dlist::insert(nullptr, it, dir);  // reported
    return dlist::insert(tavo_copy(x), it, dir);
  }
  // Removes the first (last) item and returns its element. Empty: reported
  // as by dlist::pop / dlist::Pop.
  T pop() { return take(dlist::pop()); }
  T Pop() { return take(dlist::Pop()); }
  // Removes it and destroys its element. Nil: reported as by dlist::del.
  void del_item(item it) { destroy(dlist::del(it)); }
  // Removes every element equal to x by compare(T, T) (ints and doubles
  // compared directly) and destroys them. x may be an element of this list:
  // a copy is compared. O(n).
  void remove(const T& x) {
    const T copy(x);
    use_compare();
    dlist::remove(tavo_cast(copy));
  }

  // --- searching (O(n)) ---------------------------------------------------------------
  // The first item whose element equals x, or nil; its 1-based position, or
  // 0. By compare(T, T), or by f.
  item search(const T& x) const {
    use_compare();
    return dlist::search(tavo_cast(x));
  }
  item search(const T& x, cmp_fn f) const {
    use_function(f);
    return dlist::search(tavo_cast(x));
  }
  int rank(const T& x) const {
    use_compare();
    return dlist::rank(tavo_cast(x));
  }
  int rank(const T& x, cmp_fn f) const {
    use_function(f);
    return dlist::rank(tavo_cast(x));
  }
  // The first item with the largest (smallest) element, nil when empty.
  item max() const {
    use_compare();
    return dlist::max();
  }
  item max(cmp_fn f) const {
    use_function(f);
    return dlist::max();
  }
  item min() const {
    use_compare();
    return dlist::min();
  }
  item min(cmp_fn f) const {
    use_function(f);
    return dlist::min();
  }

  // --- ordering ------------------------------------------------------------------------
  // Sorts by compare(T, T) (quicksort; direct comparisons for int, float,
  // double), or by f. Not stable. O(n log n) expected.
  void sort() {
    use_compare();
    natural_scope scope(*this);
    dlist::quick_sort();
  }
  void sort(cmp_fn f) {
    use_function(f);
    dlist::quick_sort();
  }
  // Natural merge sort (linear on sorted input). Not stable.
  void merge_sort() {
    use_compare();
    natural_scope scope(*this);
    dlist::merge_sort();
  }
  void merge_sort(cmp_fn f) {
    use_function(f);
    dlist::merge_sort();
  }
  // Merges L into this list; both sorted by compare(T, T) (by f).
  void merge(tavo_list& L) {
    use_compare();
    natural_scope scope(*this);
    dlist::merge(L);
  }
  void merge(tavo_list& L, cmp_fn f) {
    use_function(f);
    dlist::merge(L);
  }
  // Removes equal neighbours by compare(T, T) (by f), keeping the first of
  // each run. For float and double a NaN is never equal (direct ==).
  void unique() {
    use_compare();
    natural_scope scope(*this);
    dlist::unique();
  }
  void unique(cmp_fn f) {
    use_function(f);
    dlist::unique();
  }
  // Stable sort by the integer key f(x): over [min, max] of the keys, or
  // over [i, j] (a key outside is reported with code 4).
  void bucket_sort(ord_fn f) {
    ord_function = f;
    dlist::bucket_sort();
  }
  void bucket_sort(int i, int j, ord_fn f) {
    ord_function = f;
    dlist::bucket_sort(i, j);
  }
  // f(x) for every element, first to last.
  void apply(app_fn f) {
    app_function = f;
    dlist::apply();
  }

  // --- iteration: for (T& x : L) -----------------------------------------------------
  template <class R>
  class basic_iterator {
   public:
    typedef std::forward_iterator_tag iterator_category;
    typedef T value_type;
    typedef std::ptrdiff_t difference_type;
    typedef R* pointer;
    typedef R& reference;

    basic_iterator(item p) : p_(p) {}
    R& operator*() const { return tavo_access<T>(p_->value); }  // R: T or const T
    R* operator->() const { return &**this; }
    basic_iterator& operator++() {
      p_ = p_->succ;
      return *this;
    }
    bool operator==(const basic_iterator& o) const { return p_ == o.p_; }
    bool operator!=(const basic_iterator& o) const { return p_ != o.p_; }
    item position() const { return p_; }

   private:
    item p_;
  };
  typedef basic_iterator<T> iterator;
  typedef basic_iterator<const T> const_iterator;
  iterator begin() { return iterator(first_item()); }
  iterator end() { return iterator(nullptr); }
  const_iterator begin() const { return const_iterator(first_item()); }
  const_iterator end() const { return const_iterator(nullptr); }

  // Read-only views for tests.
  cmp_fn compare_function() const { return cmp_function; }
  const tavo_cmp_base<T>* compare_object() const { return cmp_object; }

 private:
  // Sets natural_order for one call when T is int, float or double.
  class natural_scope {
   public:
    explicit natural_scope(tavo_list& l) : l_(l) {
      if constexpr (tavo_type_id<T>() != tavo_id_other) l_.natural_order = true;
    }
    ~natural_scope() { l_.natural_order = false; }
    natural_scope(const natural_scope&) = delete;
    natural_scope& operator=(const natural_scope&) = delete;

   private:
    tavo_list& l_;
  };

  // The compare object over compare(T, T) shared by all lists of T.
  static tavo_cmp_base<T>* default_object() {
    static tavo_cmp_base<T> object(tavo_detail::default_compare<T>::function);
    return &object;
  }
  void use_compare() const {
    cmp_function = nullptr;
    cmp_object = default_object();
  }
  void use_function(cmp_fn f) const { cmp_function = f; }
  static item nonempty(item it, const char* msg) {
    TAVO_PRECONDITION(it != nullptr, msg);
    (void)msg;
    assert(it && "element access on an empty list");
    return it;
  }
  // The element a removed slot represents, its stored representation
  // destroyed. A narrow T is taken from a byte copy of the slot: the slot
  // variable itself is a pointer object, and reading it as a T after an
  // inlined pop would let the optimiser assume the two never alias.
  static T take(value_slot x) {
    if constexpr (tavo_in_slot<T>::value) {
      alignas(value_slot) unsigned char bytes[sizeof(value_slot)];
      std::memcpy(bytes, &x, sizeof x);
      T& stored = *std::launder(reinterpret_cast<T*>(bytes));
      T result(std::move(stored));
      stored.~T();
      return result;
    } else {
      T& stored = tavo_access<T>(x);
      T result(std::move(stored));
      tavo_clear(stored);
      return result;
    }
  }
  // Destroys the element a removed slot represents (see take).
  static void destroy(value_slot x) {
    if constexpr (tavo_in_slot<T>::value) {
      alignas(value_slot) unsigned char bytes[sizeof(value_slot)];
      std::memcpy(bytes, &x, sizeof x);
      std::launder(reinterpret_cast<T*>(bytes))->~T();
    } else {
      tavo_clear(tavo_access<T>(x));
    }
  }

  // The ordering the hooks use: cmp_function when set, else cmp_object. Set
  // by the operation that is about to order (hence mutable: searching is a
  // const operation).
  mutable tavo_cmp_base<T>* cmp_object;
  mutable cmp_fn cmp_function;
  ord_fn ord_function;  // key for bucket_sort, set by bucket_sort(f)
  app_fn app_function;  // set by apply(f)
};

#endif  // TAVO_DLIST_H
