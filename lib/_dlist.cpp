// _dlist.cpp - the doubly linked list: copying, access, removal,
// restructuring, printing and reading, and its sorting operations (merge,
// merge_sort, quick_sort, bucket_sort, permute).
//
// The header brings the unit's start-up (tavo/startup.h) first; this unit
// has no static objects of its own.
#include "tavo/dlist.h"

#include <cctype>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <streambuf>
#include <type_traits>

#include "tavo/random.h"
#include "tavo/sort.h"

namespace {

// The orders the sorting operations compare by: the built-in values of the
// slots (direct comparisons) or the list's cmp hook. le: x <= y, lt: x < y,
// eq: x == y.
struct int_order {
  static int v(value_slot x) { return tavo_slot_int(x); }
  bool le(value_slot x, value_slot y) const { return v(x) <= v(y); }
  bool lt(value_slot x, value_slot y) const { return v(x) < v(y); }
  bool eq(value_slot x, value_slot y) const { return v(x) == v(y); }
};
struct float_order {
  static float v(value_slot x) { return tavo_slot_float(x); }
  bool le(value_slot x, value_slot y) const { return v(x) <= v(y); }
  bool lt(value_slot x, value_slot y) const { return v(x) < v(y); }
  bool eq(value_slot x, value_slot y) const { return v(x) == v(y); }
};
struct double_order {
  static double v(value_slot x) { return tavo_slot_double(x); }
  bool le(value_slot x, value_slot y) const { return v(x) <= v(y); }
  bool lt(value_slot x, value_slot y) const { return v(x) < v(y); }
  bool eq(value_slot x, value_slot y) const { return v(x) == v(y); }
};
// A stream buffer over another one that counts the characters taken from
// it: whether a read hook consumed anything, on any stream (a pipe has no
// position to compare). Unbuffered, so that the underlying buffer is exactly
// where the reader stopped when the stream is given back its own buffer.
class counting_buffer : public std::streambuf {
 public:
  explicit counting_buffer(std::streambuf* source) : source_(source) {}
  long long taken() const { return taken_; }

 protected:
  int_type underflow() override { return source_->sgetc(); }
  int_type uflow() override {
    const int_type c = source_->sbumpc();
    if (!traits_type::eq_int_type(c, traits_type::eof())) ++taken_;
    return c;
  }
  int_type pbackfail(int_type c) override {
    const int_type r = traits_type::eq_int_type(c, traits_type::eof())
                           ? source_->sungetc()
                           : source_->sputbackc(traits_type::to_char_type(c));
    if (!traits_type::eq_int_type(r, traits_type::eof())) --taken_;
    return r;
  }
  std::streamsize showmanyc() override { return source_->in_avail(); }

 private:
  std::streambuf* source_;
  long long taken_ = 0;
};

struct hook_order {
  const dlist* list;
  bool le(value_slot x, value_slot y) const { return list->cmp(x, y) <= 0; }
  bool lt(value_slot x, value_slot y) const { return list->cmp(x, y) < 0; }
  bool eq(value_slot x, value_slot y) const { return list->cmp(x, y) == 0; }
};

// Calls f with the order for direct type id `id` (int, float, double), or the hook
// order for 0.
template <class F>
void with_order(const dlist& L, int id, F&& f) {
  switch (id) {
    case tavo_id_int:
      f(int_order());
      break;
    case tavo_id_float:
      f(float_order());
      break;
    case tavo_id_double:
      f(double_order());
      break;
    default:
      f(hook_order{&L});
      break;
  }
}

bool plain_type(int id) {
  return id == tavo_id_int || id == tavo_id_float || id == tavo_id_word;
}

// The item array and value arrays of quick_sort and permute.
template <class T>
T* take_vector(int n) {
  return static_cast<T*>(std_memory_mgr.allocate_vector(std::size_t(n) * sizeof(T)));
}

}  // namespace

// ---- construction and copying ---------------------------------------------------

dlist::dlist(value_slot x) : head(nullptr), tail(nullptr), count(1), natural_order(false) {
  head = tail = new dlink(x, nullptr, nullptr);
}

dlist::dlist(const dlist& L) : head(nullptr), tail(nullptr), count(0), natural_order(false) {
  copy_items(L, L);
}

dlist::dlist(dlist&& L) noexcept
    : head(L.head), tail(L.tail), count(L.count), natural_order(false) {
  L.head = L.tail = nullptr;
  L.count = 0;
}

dlist& dlist::operator=(const dlist& L) {
  if (&L == this) return *this;
  clear();
  copy_items(L, *this);
  return *this;
}

// The first new item gets the copy; every later one keeps the value it took
// from L, and L's item receives the fresh copy. Both lists end with equal,
// independent elements.
void dlist::copy_items(const dlist& L, const dlist& with) {
  const int n = L.length();
  if (n == 0) {
    head = tail = nullptr;
    count = 0;
    return;
  }
  const bool plain = plain_type(with.el_type_id());
  dlink* p = L.head;
  dlink* q = new dlink(p->value, nullptr, nullptr);
  head = q;
  if (!plain) with.copy_el(q->value);
  for (p = p->succ; p != nullptr; p = p->succ) {
    dlink* r = new dlink(p->value, q, nullptr);
    q->succ = r;
    q = r;
    if (!plain) with.copy_el(p->value);
  }
  tail = q;
  count = n;
}

dlist dlist::operator+(const dlist& L) const {
  dlist joined(L);
  for (dlink* p = tail; p != nullptr; p = p->pred) {
    joined.push(p->value);
    L.copy_el(p->value);  // this list keeps a fresh copy, the result the old value
  }
  return dlist(std::move(joined));
}

// ---- cold paths of the inline operations ------------------------------------------

value_slot dlist::report_empty(const char* msg) {
  error_handler(1, msg);
  return nullptr;
}

bool dlist::holds(item it) const {
  for (const dlink* p = head; p != nullptr; p = p->succ) {
    if (p == it) return true;
  }
  return false;
}

value_slot dlist::report_nil_item() {
  error_handler(999, "dlist: delete nil-item");
  return nullptr;
}

// ---- access -----------------------------------------------------------------------

int dlist::recompute_length() const {
  int n = 0;
  for (const dlink* p = head; p != nullptr; p = p->succ) ++n;
  count = n;
  return n;
}

dlink* dlist::get_item(int i) const {
  if (i < 0 || i >= length()) {
    error_handler(1, "dlist::get_item: index out of range");
    return nullptr;
  }
  dlink* p = head;
  while (i-- > 0) p = p->succ;
  return p;
}

dlink* dlist::succ(dlink* it, int i) const {
  // A negative i never reaches 0: the walk runs off the end.
  while (it != nullptr && i != 0) {
    it = it->succ;
    --i;
  }
  return it;
}

dlink* dlist::pred(dlink* it, int i) const {
  while (it != nullptr && i != 0) {
    it = it->pred;
    --i;
  }
  return it;
}

dlink* dlist::search(value_slot x) const {
  for (dlink* p = head; p != nullptr; p = p->succ)
    if (cmp(p->value, x) == 0) return p;
  return nullptr;
}

int dlist::rank(value_slot x) const {
  int r = 1;
  for (dlink* p = head; p != nullptr; p = p->succ, ++r)
    if (cmp(p->value, x) == 0) return r;
  return 0;
}

dlink* dlist::max() const {
  dlink* best = head;
  if (best == nullptr) return nullptr;
  for (dlink* p = best->succ; p != nullptr; p = p->succ)
    if (cmp(p->value, best->value) > 0) best = p;
  return best;
}

dlink* dlist::min() const {
  dlink* best = head;
  if (best == nullptr) return nullptr;
  for (dlink* p = best->succ; p != nullptr; p = p->succ)
    if (cmp(p->value, best->value) < 0) best = p;
  return best;
}

// ---- insertion and removal ----------------------------------------------------------

dlink* dlist::insert(value_slot x, dlink* it, int dir) {
  if (dir != 0 && dir != 1) {
    error_handler(1, "dlist::insert: illegal dir argument.");
    return nullptr;
  }
  if (it == nullptr) return append(x);
  dlink* p;
  if (dir == 0) {
    if (it == tail) return append(x);
    p = new dlink(x, it, it->succ);
    it->succ->pred = p;
    it->succ = p;
  } else {
    if (it == head) return push(x);
    p = new dlink(x, it->pred, it);
    it->pred->succ = p;
    it->pred = p;
  }
  if (count >= 0) ++count;
  return p;
}

void dlist::remove(value_slot x) {
  const int id = el_type_id();
  dlink* next;
  for (dlink* p = head; p != nullptr; p = next) {
    next = p->succ;  // kept before p goes, so neighbouring matches all go
    if (id == tavo_id_int) {
      if (tavo_slot_int(p->value) == tavo_slot_int(x)) del(p);
    } else if (id == tavo_id_double) {
      if (tavo_slot_double(p->value) == tavo_slot_double(x)) {
        std_memory_mgr.deallocate_bytes(p->value, sizeof(double));
        del(p);
      }
    } else if (cmp(p->value, x) == 0) {
      clear_el(p->value);
      del(p);
    }
  }
}

void dlist::clear() {
  if (head == nullptr) return;
  if (!plain_type(el_type_id()))
    for (dlink* p = head; p != nullptr; p = p->succ) clear_el(p->value);
  std_memory_mgr.deallocate_list(head, tail, sizeof(dlink));
  head = tail = nullptr;
  count = 0;
}

void dlist::unique() {
  if (head == nullptr || head->succ == nullptr) return;
  const int id = direct_type();
  with_order(*this, id, [&](const auto& order) {
    dlink* kept = head;
    dlink* next;
    for (dlink* p = head->succ; p != nullptr; p = next) {
      next = p->succ;
      if (!order.eq(kept->value, p->value)) {
        kept = p;
        continue;
      }
      if (id == tavo_id_double) {
        std_memory_mgr.deallocate_bytes(p->value, sizeof(double));
      } else if (id == tavo_id_other) {
        clear_el(p->value);
      }
      kept->succ = next;
      if (next != nullptr) next->pred = kept;
      delete p;
      --count;
    }
    tail = kept;
  });
}

// ---- restructuring ----------------------------------------------------------------------

void dlist::swap(dlist& L) {
  tavo_swap(head, L.head);
  tavo_swap(tail, L.tail);
  tavo_swap(count, L.count);
}

void dlist::conc(dlist& L, int dir) {
  TAVO_PRECONDITION(&L != this, "dlist: conc of a list with itself.");
  assert(&L != this && "conc of a list with itself");
  if (head == nullptr) {
    head = L.head;
    tail = L.tail;
    count = L.count;
  } else {
    if (dir != 0 && dir != 1) {
      error_handler(1, "dlist::conc: illegal dir argument.");
      return;
    }
    if (L.head != nullptr) {
      if (dir == 0) {
        tail->succ = L.head;
        L.head->pred = tail;
        tail = L.tail;
      } else {
        L.tail->succ = head;
        head->pred = L.tail;
        head = L.head;
      }
    }
    count = (count < 0 || L.count < 0) ? -1 : count + L.count;
  }
  L.head = L.tail = nullptr;
  L.count = 0;
}

void dlist::split(dlink* it, dlist& L1, dlist& L2, int dir) {
  if (head == nullptr) {
    error_handler(1, "dlist::split: list is empty.");
    return;
  }
  if (&L1 == &L2) {
    error_handler(1, "dlist::split: identical arguments.");
    return;
  }
  if (dir != 0 && dir != 1) {
    error_handler(1, "dlist::split: illegal dir argument.");
    return;
  }
  if (&L1 != this) L1.clear();
  if (&L2 != this) L2.clear();
  if (it == nullptr) {
    it = head;
    dir = 1;
  }
  dlink* const first = head;
  dlink* const last = tail;
  head = tail = nullptr;
  count = 0;
  // Front part first1 .. last1, back part first2 .. last2 (either may be
  // empty).
  dlink *first1, *last1, *first2, *last2;
  if (dir == 1) {
    first1 = it == first ? nullptr : first;
    last1 = it->pred;
    first2 = it;
    last2 = last;
  } else {
    first1 = first;
    last1 = it;
    first2 = it->succ;
    last2 = first2 == nullptr ? nullptr : last;
  }
  if (last1 != nullptr) last1->succ = nullptr;
  if (first2 != nullptr) first2->pred = nullptr;
  L1.head = first1;
  L1.tail = last1;
  L1.count = -1;
  L2.head = first2;
  L2.tail = last2;
  L2.count = -1;
}

void dlist::splice(dlink* it, dlist& L) {
  if (&L == this) {
    error_handler(1, "list::splice: cannot splice list into itself");
    return;
  }
  if (L.head == nullptr) return;
  if (it == nullptr) {
    conc(L, 0);
    return;
  }
  dlist rest;
  split(it, *this, rest, 1);
  conc(L, 0);
  conc(rest, 0);
}

void dlist::splice(dlink* it, dlist& L, dlink* it1, dlink* it2) {
  if (L.head == nullptr) return;
  dlist moved;
  L.split(it1, L, moved, 1);
  if (it2 != nullptr) {
    dlist after;
    moved.split(it2, moved, after, 1);
    L.conc(after, 0);
  }
  splice(it, moved);
}

void dlist::splice(dlink* it, dlist& L, dlink* it1) {
  if (it1 == nullptr || it == it1 || it == it1->succ) return;
  splice(it, L, it1, it1->succ);
}

void dlist::move_to_front(dlink* it) {
  if (it == nullptr) {
    error_handler(1, "dlist::move_to_front: nil argument");
    return;
  }
  if (it == head) return;
  it->pred->succ = it->succ;
  if (it->succ != nullptr) {
    it->succ->pred = it->pred;
  } else {
    tail = it->pred;
  }
  it->pred = nullptr;
  it->succ = head;
  head->pred = it;
  head = it;
}

void dlist::move_to_back(dlink* it) {
  if (it == nullptr) {
    error_handler(1, "dlist::move_to_back: nil argument");
    return;
  }
  if (it == tail) return;
  it->succ->pred = it->pred;
  if (it->pred != nullptr) {
    it->pred->succ = it->succ;
  } else {
    head = it->succ;
  }
  it->succ = nullptr;
  it->pred = tail;
  tail->succ = it;
  tail = it;
}

void dlist::reverse_items() {
  for (dlink* p = head; p != nullptr; p = p->pred) tavo_swap(p->succ, p->pred);
  tavo_swap(head, tail);
}

void dlist::reverse_items(dlink* it1, dlink* it2) {
  if (head == nullptr) {
    error_handler(1, "dlist::reverse_items:  empty list.");
    return;
  }
  if (it2 == nullptr) it2 = tail;
  if (it1 == nullptr) {
    error_handler(1, "dlist::reverse_items: illegal arguments.");
    return;
  }
  if (it1 == it2) return;
  dlink* p = it1;
  while (p != nullptr && p != it2) p = p->succ;
  if (p == nullptr) {
    error_handler(1, "dlist::reverse_items(it1,it2): it1 not before it2");
    return;
  }
  const int n = length();
  dlist after;  // it1's successor .. the last item
  split(it1, *this, after, 0);
  dlist middle;  // strictly between it1 and it2
  after.split(it2, middle, after, 1);
  middle.reverse_items();
  conc(middle, 0);
  conc(after, 0);
  count = n;
}

void dlist::reverse(dlink* it1, dlink* it2) {
  for (;;) {
    if (it1 == it2) return;
    if (it2 == nullptr) break;
    if (it2->succ == it1) return;
    if (it1 == nullptr) break;
    tavo_swap(it1->value, it2->value);
    it1 = it1->succ;
    it2 = it2->pred;
  }
  error_handler(1, "list::reverse(it1,it2): illegal arguments.");
}

void dlist::reverse() {
  if (head != nullptr) reverse(head, tail);
}

// ---- other -----------------------------------------------------------------------------

void dlist::apply() {
  for (dlink* p = head; p != nullptr; p = p->succ) app(p->value);
}

void dlist::print(std::ostream& out, tavo_string s, char sep) const {
  std::cout << s;
  if (head != nullptr) {
    print_el(head->value, out);
    const char separator[2] = {sep, '\0'};  // the text of sep ("" for NUL)
    for (dlink* p = head->succ; p != nullptr; p = p->succ) {
      out << separator;
      print_el(p->value, out);
    }
  }
  out.flush();
}

void dlist::read(std::istream& in, tavo_string s, int delim) {
  std::cout << s;
  clear();
  char ch;
  while (in.get(ch)) {
    const bool blank = std::isspace(static_cast<unsigned char>(ch)) != 0;
    if (delim != -1 && ch == delim) break;
    if (blank) continue;
    in.putback(ch);
    value_slot x = nullptr;
    long long taken;
    {
      // The hook reads through a counting buffer; the stream gets its own
      // buffer back with the state the hook left.
      std::streambuf* const own = in.rdbuf();
      counting_buffer counter(own);
      in.rdbuf(&counter);  // clears the state, which is good here
      read_el(x, in);
      taken = counter.taken();
      const std::ios::iostate state = in.rdstate();
      in.rdbuf(own);
      in.clear(state);
    }
    if (in.fail()) break;  // no element: nothing to append
    if (taken == 0) {
      in.setstate(std::ios::failbit);  // read_el consumed nothing
      break;
    }
    append(x);
  }
}

// ---- merging and sorting -------------------------------------------------------------------

int dlist::direct_type() const {
  if (!natural_order) return 0;
  const int id = el_type_id();
  return (id == tavo_id_int || id == tavo_id_float || id == tavo_id_double) ? id : tavo_id_other;
}

void dlist::merge(dlist& L) {
  assert(&L != this && "merge of a list with itself");
  if (head == nullptr && L.head == nullptr) return;
  // The start test always asks the hook.
  dlink* start;
  dlink* other;
  if (head == nullptr || (L.head != nullptr && cmp(head->value, L.head->value) > 0)) {
    start = L.head;
    other = head;
  } else {
    start = head;
    other = L.head;
  }
  dlink* node = start;
  with_order(*this, direct_type(), [&](const auto& order) {
    dlink* cur = node->succ;
    while (other != nullptr) {
      while (cur != nullptr && order.le(cur->value, other->value)) {
        node = cur;
        cur = cur->succ;
      }
      node->succ = other;  // switch to the other chain
      other->pred = node;
      node = other;
      other = cur;
      cur = node->succ;
    }
  });
  while (node->succ != nullptr) node = node->succ;
  head = start;
  tail = node;
  count = (count < 0 || L.count < 0) ? -1 : count + L.count;
  L.head = L.tail = nullptr;
  L.count = 0;
}

namespace {

// One ascending run of a merge_sort: first .. last along succ. Inside the run
// every item but the first has a valid pred; last->succ is not looked at (it
// may still lead on into the list).
struct run_span {
  dlink* first;
  dlink* last;
};

// Merges run b into run a: while both have items, a's first item is taken
// when a's element <= b's, else b's; then the rest of whichever is left.
// Sets the pred of every item taken (the merged run's first pred null), so
// the links of the result are whole but for last->succ.
template <class Order>
inline run_span merge_runs(const Order& order, run_span a, run_span b) {
  dlink dummy(nullptr, nullptr, nullptr);  // the merged run's dummy head
  dlink* t = &dummy;
  dlink* x = a.first;
  dlink* y = b.first;
  run_span merged;
  for (;;) {
    if (order.le(x->value, y->value)) {
      t->succ = x;
      x->pred = t;
      t = x;
      if (x == a.last) {
        t->succ = y;
        y->pred = t;
        merged.last = b.last;
        break;
      }
      x = x->succ;
    } else {
      t->succ = y;
      y->pred = t;
      t = y;
      if (y == b.last) {
        t->succ = x;
        x->pred = t;
        merged.last = a.last;
        break;
      }
      y = y->succ;
    }
  }
  merged.first = dummy.succ;
  merged.first->pred = nullptr;
  return merged;
}

// The merges of a natural merge sort over k runs, pass by pass: pass 1 takes
// the runs in list order in pairs (a, b) = (left, right), an unpaired run
// going on unchanged; every pass puts its results in front of the next
// chain, so the chain order reverses from one pass to the next and pass 2
// pairs from the right end with (a, b) = (right, left), an unpaired run
// being the leftmost; pass 3 pairs from the left again, and so on. With
// width[l] runs after pass l (width[0] = k, width[l + 1] = ceil(width[l] / 2)),
// result l, i (left to right) is therefore the merge of the results below it
// that `node` names, and the merge tree is fixed by k alone.
//
// The tree is evaluated depth first, left child first: the same merges of
// the same runs in the same roles (so the same comparisons and the same
// final order of equal elements as pass by pass), but each subtree is
// finished while its items are still in the cache, instead of every pass
// walking the whole list. The leaves, runs 0 .. k-1, are taken in list order
// from a chain in which each run's first item points through pred to the
// run's last item, whose succ leads to the next run's first. The stack holds
// one frame per level (at most 32 for the int length).
template <class Order>
class merge_tree {
 public:
  merge_tree(const Order& order, dlink* runs, int k) : order_(order), next_(runs), levels_(0) {
    width_[0] = k;
    while (width_[levels_] > 1) {
      width_[levels_ + 1] = (width_[levels_] + 1) / 2;
      ++levels_;
    }
  }
  run_span result() { return node(levels_, 0); }

 private:
  run_span node(int level, int i) {
    if (level == 0) {
      run_span r{next_, next_->pred};
      next_ = r.last->succ;
      return r;
    }
    const int below = width_[level - 1];
    const bool from_left = level % 2 == 1;  // odd passes pair from the left
    int left, right;                        // right < 0: no partner
    if (from_left) {
      left = 2 * i;
      right = 2 * i + 1 < below ? 2 * i + 1 : -1;
    } else if (below % 2 == 0) {
      left = 2 * i;
      right = 2 * i + 1;
    } else if (i == 0) {
      left = 0;
      right = -1;
    } else {
      left = 2 * i - 1;
      right = 2 * i;
    }
    const run_span l = node(level - 1, left);
    if (right < 0) return l;
    const run_span r = node(level - 1, right);
    return from_left ? merge_runs(order_, l, r) : merge_runs(order_, r, l);
  }

  const Order& order_;
  dlink* next_;    // first item of the next run to take
  int width_[33];  // results after each pass; 2^31 runs need 31 passes
  int levels_;     // number of passes
};

}  // namespace

void dlist::merge_sort() {
  if (head == nullptr || head->succ == nullptr) {
    length();  // caches a stale count, as for any other list
    return;
  }
  with_order(*this, direct_type(), [&](const auto& order) {
    // Cut the list into maximal ascending runs (n - 1 comparisons): each
    // run's first item points through pred to its last item; the last
    // item's succ still leads to the next run. Counts the items on the way.
    int k = 0, n = 0;
    dlink* p = head;
    for (;;) {
      dlink* start = p;
      ++n;
      while (p->succ != nullptr && order.le(p->value, p->succ->value)) {
        p = p->succ;
        ++n;
      }
      start->pred = p;
      ++k;
      if (p->succ == nullptr) break;
      p = p->succ;
    }
    count = n;
    run_span sorted{head, p};  // one run: already in order, links whole
    if (k > 1) {
      using order_type = std::decay_t<decltype(order)>;
      sorted = merge_tree<order_type>(order, head, k).result();
    }
    head = sorted.first;
    head->pred = nullptr;
    tail = sorted.last;
    tail->succ = nullptr;
  });
}

template <class P>
void dlist::relink_from(P* items, int n) {
  items[0] = nullptr;
  items[n + 1] = nullptr;
  for (int k = 1; k <= n; ++k) {
    dlink* p = static_cast<dlink*>(items[k]);
    p->succ = static_cast<dlink*>(items[k + 1]);
    p->pred = static_cast<dlink*>(items[k - 1]);
  }
  head = static_cast<dlink*>(items[1]);
  tail = static_cast<dlink*>(items[n]);
}

namespace {

// quick_sort with direct comparisons: values of type T copied out of the
// items, sorted with QUICKSORT_P, the item array moved in step.
template <class T, class Read>
void sort_by_values(void** items, int n, Read read) {
  T* values = take_vector<T>(n + 2);
  for (int k = 1; k <= n; ++k) values[k] = read(static_cast<dlink*>(items[k])->value);
  QUICKSORT_P(values, items, 1, n);
  std_memory_mgr.deallocate_vector(values);
}

}  // namespace

void dlist::quick_sort() {
  const int n = length();
  if (n <= 1) return;
  const int id = direct_type();
  if (id != tavo_id_other) {
    void** items = take_vector<void*>(n + 2);
    int k = 0;
    for (dlink* p = head; p != nullptr; p = p->succ) items[++k] = p;
    if (id == tavo_id_int) {
      sort_by_values<int>(items, n, tavo_slot_int);
    } else if (id == tavo_id_float) {
      sort_by_values<float>(items, n, tavo_slot_float);
    } else {
      sort_by_values<double>(items, n, tavo_slot_double);
    }
    relink_from(items, n);
    std_memory_mgr.deallocate_vector(items);
  } else {
    dlink** items = take_vector<dlink*>(n + 2);
    value_slot* values = take_vector<value_slot>(n + 2);
    int k = 0;
    for (dlink* p = head; p != nullptr; p = p->succ) {
      items[++k] = p;
      values[k] = p->value;
    }
    gen_quick_sort(values, items, 1, n);
    std_memory_mgr.deallocate_vector(values);
    relink_from(items, n);
    std_memory_mgr.deallocate_vector(items);
  }
}

void dlist::gen_quick_sort(value_slot* A, dlink** B, int l, int r) {
  tavo_detail::quicksort_scheme(
      l, r, [this, A](int i, int j) { return cmp(A[i], A[j]) < 0; },
      [A, B](int i, int j) {
        tavo_swap(A[i], A[j]);
        tavo_swap(B[i], B[j]);
      });
}

void dlist::gen_insertion_sort(dlink** l, dlink** r, dlink** m) {
  // The smallest element of l..m (the caller's promise: of l..r) to l, as
  // the sentinel that stops every inner walk.
  dlink** least = l;
  for (dlink** q = l + 1; q <= m; ++q)
    if (cmp((*q)->value, (*least)->value) < 0) least = q;
  tavo_swap(*l, *least);
  if (r == l + 1) return;
  for (dlink** q = l + 2; q <= r; ++q) {
    dlink* x = *q;
    dlink** k = q - 1;
    while (cmp(x->value, (*k)->value) < 0) {
      k[1] = k[0];
      --k;
    }
    k[1] = x;
  }
}

void dlist::bucket_sort(int i, int j) {
  if (head == nullptr) return;
  // Buckets i .. j; computed in 64 bits, so a range wider than an int is
  // reported instead of overflowing.
  const std::int64_t n = std::int64_t(j) - std::int64_t(i) + 1;
  const std::int64_t buckets = n > 0 ? n : 1;  // j < i: every key is out of range
  dlink** bucket = nullptr;
  if (buckets <= INT_MAX && std::uint64_t(buckets + 1) <= SIZE_MAX / sizeof(dlink*))
    bucket = take_vector<dlink*>(int(buckets + 1));
  if (bucket == nullptr) {
    char text[96];
    std::snprintf(text, sizeof text,
                  "list::bucketsort: cannot allocate %lld buckets (out of memory)",
                  static_cast<long long>(n));
    error_handler(1, text);
    return;
  }
  for (std::int64_t k = 0; k <= buckets; ++k) bucket[k] = nullptr;

  // Deal the items into the buckets in list order: each bucket is a chain
  // through pred from its last item; succ links are set as items follow.
  for (dlink* p = head; p != nullptr;) {
    dlink* next = p->succ;
    const int key = ord(p->value);
    std::int64_t b = std::int64_t(key) - i;
    if (key < i || key > j) {
      char text[64];
      std::snprintf(text, sizeof text, "bucket_sort: value %d out of range", key);
      error_handler(4, text);
      b = (key < i || n <= 0) ? 0 : buckets - 1;  // should the handler return
    }
    p->pred = bucket[b];
    if (bucket[b] != nullptr) bucket[b]->succ = p;
    bucket[b] = p;
    p = next;
  }

  // Chain the buckets from the highest down.
  std::int64_t b = buckets;  // entry `buckets` is always empty
  while (bucket[b] == nullptr) --b;
  tail = bucket[b];
  tail->succ = nullptr;
  dlink* first = tail;
  while (first->pred != nullptr) first = first->pred;
  while (--b >= 0) {
    dlink* last = bucket[b];
    if (last == nullptr) continue;
    last->succ = first;
    first->pred = last;
    first = last;
    while (first->pred != nullptr) first = first->pred;
  }
  head = first;
  std_memory_mgr.deallocate_vector(bucket);
}

void dlist::bucket_sort() {
  if (head == nullptr) return;
  int lo = ord(head->value);
  int hi = lo;
  for (dlink* p = head->succ; p != nullptr; p = p->succ) {
    const int k = ord(p->value);
    if (k < lo) lo = k;
    if (k > hi) hi = k;
  }
  bucket_sort(lo, hi);
}

void dlist::permute() {
  const int n = length();
  if (n <= 1) return;  // no draw, nothing to move
  void** items = take_vector<void*>(n + 2);
  int k = 0;
  for (dlink* p = head; p != nullptr; p = p->succ) items[++k] = p;
  for (int j = 1; j < n; ++j) tavo_swap(items[j], items[rand_int(j, n)]);
  relink_from(items, n);
  std_memory_mgr.deallocate_vector(items);
}

void dlist::permute(dlink** A) {
  const int n = length();
  if (n == 0) return;
  head = A[0];
  tail = A[n - 1];
  for (int k = 0; k < n; ++k) {
    A[k]->pred = k > 0 ? A[k - 1] : nullptr;
    A[k]->succ = k < n - 1 ? A[k + 1] : nullptr;
  }
}

// ---- verification ------------------------------------------------------------------------------

bool dlist::verify() const {
  auto fail = [](const char* why) {
    std::fprintf(stderr, "dlist::verify: %s\n", why);
    return false;
  };
  if ((head == nullptr) != (tail == nullptr)) return fail("head and tail disagree on emptiness");
  if (head == nullptr) {
    if (count > 0) return fail("empty list with a positive count");
    return true;
  }
  if (head->pred != nullptr) return fail("head has a predecessor");
  if (tail->succ != nullptr) return fail("tail has a successor");
  int n = 1;
  const dlink* p = head;
  for (; p->succ != nullptr; p = p->succ, ++n)
    if (p->succ->pred != p) return fail("pred does not mirror succ");
  if (p != tail) return fail("succ chain from head does not end at tail");
  if (count >= 0 && count != n) return fail("count differs from the number of items");
  if (natural_order) {
    const int id = el_type_id();
    if (id != tavo_id_int && id != tavo_id_float && id != tavo_id_double)
      return fail("natural_order on a type without direct order");
    bool ordered = true;
    with_order(*this, id, [&](const auto& order) {
      for (const dlink* q = head; q->succ != nullptr; q = q->succ)
        if (order.lt(q->succ->value, q->value)) ordered = false;
    });
    if (!ordered) return fail("natural_order set on a list out of order");
  }
  return true;
}
