// The untyped (a,b)-tree: search, insertion with node splitting, deletion
// with rebalancing, the sequence operations, copying, clearing, printing and
// the invariant checker. See tavo/ab_tree.h.
#include "tavo/ab_tree.h"

#include <cassert>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include "tavo/error.h"

int ab_tree_node::id_count = 0;
tavo_mutex ab_tree_node::mutex_id_count;

ab_tree_node* new_ab_tree_node(int k, int height, ab_tree_node* parent, int capacity) {
  auto* v = static_cast<ab_tree_node*>(std_memory_mgr.allocate_bytes(node_bytes(capacity)));
  v->height = height;
  v->capacity = capacity;
  v->parent = parent;
  v->last_elem = v->elems + (k - 1);
  tavo_lock_guard hold(ab_tree_node::mutex_id_count);
  // Ids wrap from INT_MAX to 0: they name nodes in reports, they are not
  // unique over the life of a long process.
  v->id = ab_tree_node::id_count;
  ab_tree_node::id_count = v->id == INT_MAX ? 0 : v->id + 1;
  return v;
}

void delete_ab_tree_node(ab_tree_node* v) {
  std_memory_mgr.deallocate_bytes(v, node_bytes(v->capacity));
}

namespace {

// The elem of v whose child is c (c must be a child of v).
inline ab_tree_elem* elem_of(ab_tree_node* v, const ab_tree_node* c) {
  ab_tree_elem* e = v->elems;
  while (e->child != c) ++e;
  return e;
}

// The rightmost leaf below v.
inline const ab_tree_node* rightmost_leaf(const ab_tree_node* v) {
  while (v->height > 0) v = v->last_elem->child;
  return v;
}

}  // namespace

// ---- construction, copying, destruction ----------------------------------

ab_tree::ab_tree(int a_, int b_)
    : a(a_), b(b_), height(-1), count(0), root(nullptr), minimum(nullptr), maximum(nullptr) {
  // 2a - 1 in 64 bits: no overflow for any int a.
  if (a_ < 2 || b_ < 2 * std::int64_t{a_} - 1) {
    error_handler(1, "ab_tree: illegal arguments (a,b) in tree constructor");
    // Reached only if the handler returns: the nearest legal pair, so that
    // every node stays within its b + 1 elems.
    if (a < 2) a = 2;
    if (a > INT_MAX / 2) a = INT_MAX / 2;
    if (b < 2 * a - 1) b = 2 * a - 1;
  }
}

ab_tree::ab_tree(const ab_tree& t)
    : a(t.a), b(t.b), height(-1), count(0), root(nullptr), minimum(nullptr), maximum(nullptr) {
  copy_from(t, t);
}

ab_tree& ab_tree::operator=(const ab_tree& t) {
  if (&t == this) return *this;
  clear();
  a = t.a;
  b = t.b;
  copy_from(t, *this);
  return *this;
}

ab_tree::~ab_tree() {
  clear();
}

void ab_tree::copy_from(const ab_tree& t, const ab_tree& with) {
  if (t.root == nullptr) return;
  ab_tree_node* last = nullptr;
  root = with.copy_ab_tree(t.root, last, t.b);
  maximum = last;
  maximum->succ() = nullptr;
  ab_tree_node* v = root;
  while (v->height > 0) v = v->elems[0].child;
  minimum = v;
  height = t.height;
  count = t.count;
}

ab_tree_node* ab_tree::copy_ab_tree(ab_tree_node* v, ab_tree_node*& last, int b_) const {
  if (v->height <= 0) {
    ab_tree_node* leaf = new_ab_tree_node(0, 0, nullptr, 2);
    value_slot k = v->key();
    value_slot i = v->inf();
    copy_key(k);
    copy_inf(i);
    leaf->key() = k;
    leaf->inf() = i;
    leaf->pred() = last;
    if (last != nullptr) last->succ() = leaf;
    last = leaf;
    return leaf;
  }
  const int k = v->children();
  ab_tree_node* w = new_ab_tree_node(k, v->height, nullptr, b_ + 1);
  for (int i = 0; i < k; i++) {
    ab_tree_node* c = copy_ab_tree(v->elems[i].child, last, b_);
    c->parent = w;
    w->elems[i].child = c;
    if (i < k - 1) w->elems[i].key = last->key();
  }
  return w;
}

void ab_tree::clear() {
  if (root != nullptr) del_tree(root);
  root = minimum = maximum = nullptr;
  count = 0;
  height = -1;
}

void ab_tree::del_tree(ab_tree_node* v) {
  if (v->height <= 0) {
    clear_key(v->key());
    clear_inf(v->inf());
  } else {
    for (ab_tree_elem* e = v->elems; e <= v->last_elem; ++e) del_tree(e->child);
  }
  delete_ab_tree_node(v);
}

// ---- searching ---------------------------------------------------------------

// Descends from the inner node v to the leaf with the least key >= k, where k
// is known to be <= the maximum key; sets `found` to whether that leaf's key
// equals k. `greater(s)` is "k > the key of word s", `equal(s, routing)` "k ==
// the key of word s", where `routing` tells that s is the routing key at which
// the last call of `greater` stopped; the sentinel x written into each node's
// last elem makes `greater` false there.
//
// KeysByAddress: the slots hold the addresses of the keys (double keys and,
// usually, the generic path's wide keys); the node's keys are then
// prefetched before the scan.
//
// At height 1 the elem where the scan stops holds, unless it is the
// sentinel, the very key word of the leaf it leads to (routing invariant 4),
// so equality is decided there, and the leaf itself is not read; only a stop
// at the sentinel compares with the leaf's key.
template <bool KeysByAddress, class Greater, class Equal>
static inline ab_tree_node* descend(ab_tree_node* v, value_slot x, Greater greater, Equal equal,
                                    bool& found, ab_tree_node*& parent) {
  for (;;) {
    v->last_elem->key = x;
    ab_tree_elem* e = v->elems;
    if (KeysByAddress) {
      // Each comparison reads the key its routing word points to, scattered
      // over the heap: ask for all of this node's keys at once, so that their
      // cache misses overlap instead of following one another. (A prefetch
      // never faults, so a slot holding something other than an address is
      // harmless.)
      for (const ab_tree_elem* f = v->elems; f < v->last_elem; ++f) __builtin_prefetch(f->key);
    }
    while (greater(e->key)) ++e;
    ab_tree_node* const c = e->child;
    if (v->height == 1) {
      found = e != v->last_elem ? equal(e->key, true) : equal(c->key(), false);
      parent = v;
      return c;
    }
    v = c;
  }
}

// locate for keys compared directly as numbers of type T, read from their
// slots with Read (the int, float and double fast paths). A key that is not <=
// the maximum (also a NaN) lies beyond every leaf.
template <bool KeysByAddress, class T, T (*Read)(value_slot)>
static inline ab_tree_node* locate_number(ab_tree_node* root, ab_tree_node* maximum, value_slot x,
                                          bool& found, ab_tree_node*& parent) {
  const T k = Read(x);
  if (!(k <= Read(maximum->key()))) return nullptr;
  if (root->height == 0) {
    found = k == Read(root->key());
    return root;
  }
  return descend<KeysByAddress>(
      root, x, [k](value_slot s) { return k > Read(s); },
      [k](value_slot s, bool) { return k == Read(s); }, found, parent);
}

ab_tree::item ab_tree::locate(value_slot x, bool& found) const {
  ab_tree_node* parent;
  return locate_with_parent(x, found, parent);
}

inline ab_tree::item ab_tree::locate_with_parent(value_slot x, bool& found,
                                                 ab_tree_node*& parent) const {
  found = false;
  parent = nullptr;
  if (root == nullptr) return nullptr;
  switch (key_type_id()) {
    case tavo_id_int:
      return locate_number<false, int, tavo_slot_int>(root, maximum, x, found, parent);
    case tavo_id_float:
      return locate_number<false, float, tavo_slot_float>(root, maximum, x, found, parent);
    case tavo_id_double:
      return locate_number<true, double, tavo_slot_double>(root, maximum, x, found, parent);
    default: {
      const int r = cmp(x, maximum->key());
      if (r > 0) return nullptr;
      if (r == 0) {
        found = true;
        return maximum;
      }
      if (root->height == 0) return root;  // the one key, greater than x
      // `last` keeps the scan's last comparison, which is the equality test
      // when the scan stops at a routing key.
      int last = 0;
      return descend<true>(
          root, x,
          [this, x, &last](value_slot s) {
            last = cmp(x, s);
            return last > 0;
          },
          [this, x, &last](value_slot s, bool routing) {
            return routing ? last == 0 : cmp(x, s) == 0;
          },
          found, parent);
    }
  }
}

ab_tree::item ab_tree::locate_pred(value_slot x) const {
  bool found;
  ab_tree_node* p = locate(x, found);
  if (p == nullptr) return maximum;
  if (found) return p;
  return p->pred();
}

// ---- insertion -----------------------------------------------------------------

ab_tree_node* ab_tree::new_leaf(value_slot x, value_slot y) {
  copy_key(x);
  copy_inf(y);
  ab_tree_node* u = new_ab_tree_node(0, 0, nullptr, 2);
  u->key() = x;
  u->inf() = y;
  return u;
}

void ab_tree::replace_inf(ab_tree_node* p, value_slot y) {
  // Copy first: y may be the stored information itself.
  copy_inf(y);
  clear_inf(p->inf());
  p->inf() = y;
}

ab_tree::item ab_tree::insert(value_slot x, value_slot y) {
  if (root == nullptr) {
    ab_tree_node* u = new_leaf(x, y);
    u->succ() = u->pred() = nullptr;
    height = 0;
    root = minimum = maximum = u;
    count = 1;
    return u;
  }
  bool found;
  ab_tree_node* v;
  ab_tree_node* p = locate_with_parent(x, found, v);
  if (found) {
    replace_inf(p, y);
    return p;
  }
  if (p == nullptr) return insert_at_item(maximum, x, y, 1);
  if (v == nullptr) return insert_at_item(p, x, y, 0);
  ab_tree_node* u = new_leaf(x, y);
  count++;
  return link_leaf(u, p, v, 0);
}

ab_tree::item ab_tree::insert_at_item(item p, value_slot x, value_slot y) {
  const int r = cmp(x, p->key());
  if (r == 0) {
    replace_inf(p, y);
    return p;
  }
  return insert_at_item(p, x, y, r < 0 ? 0 : 1);
}

ab_tree::item ab_tree::insert_at_item(item p, value_slot x, value_slot y, int dir) {
  return insert_item_at_item(new_leaf(x, y), p, dir);
}

ab_tree_elem* ab_tree::expand(ab_tree_node* v, ab_tree_node* p, ab_tree_node* w, int dir) {
  ab_tree_elem* e = elem_of(v, p);
  if (dir != 0) ++e;  // w goes right after p's elem; else w takes p's place
  std::memmove(static_cast<void*>(e + 1), static_cast<const void*>(e),
               static_cast<std::size_t>(v->last_elem - e + 1) * sizeof(ab_tree_elem));
  ++v->last_elem;
  e->child = w;
  return e;
}

ab_tree::item ab_tree::insert_item_at_item(item u, item p, int dir) {
  count++;
  if (p == root) {
    // One leaf so far: a new inner root with two leaves.
    ab_tree_node* left = dir != 0 ? p : u;
    ab_tree_node* right = dir != 0 ? u : p;
    ab_tree_node* r = new_ab_tree_node(2, 1, nullptr, b + 1);
    r->elems[0].child = left;
    r->elems[1].child = right;
    r->elems[0].key = left->key();
    left->parent = right->parent = r;
    left->succ() = right;
    right->pred() = left;
    left->pred() = right->succ() = nullptr;
    root = r;
    height = 1;
    minimum = left;
    maximum = right;
    return u;
  }

  return link_leaf(u, p, p->parent, dir);
}

ab_tree::item ab_tree::link_leaf(item u, item p, ab_tree_node* v, int dir) {
  u->parent = v;
  ab_tree_elem* e = expand(v, p, u, dir);
  if (dir == 0) {
    // Leaves of one parent are neighbours in the leaf chain, so p's
    // predecessor is, but for v's first child, the child before u's elem:
    // taken from v, which the search has just read, p and its predecessor
    // are only written to, and their cache misses need not be waited for.
    ab_tree_node* s = e != v->elems ? (e - 1)->child : p->pred();
    assert(s == p->pred() && "leaf chain follows the children of v");
    u->succ() = p;
    u->pred() = s;
    p->pred() = u;
    e->key = u->key();
    if (s == nullptr) {
      minimum = u;
    } else {
      s->succ() = u;
    }
  } else {
    ab_tree_node* s = p->succ();
    u->pred() = p;
    u->succ() = s;
    p->succ() = u;
    if (s == nullptr) {
      maximum = u;
      (e - 1)->key = p->key();
    } else {
      e->key = u->key();
      s->pred() = u;
      if (e == v->last_elem) {
        // p was v's last child but not the last leaf: p's elem now routes to
        // p, and the ancestor elem that recorded p as the maximum below v
        // records u.
        (e - 1)->key = p->key();
        ab_tree_node* c = v;
        while (c->parent->last_elem->child == c) c = c->parent;
        elem_of(c->parent, c)->key = u->key();
      }
    }
  }
  if (v->last_elem == v->elems + b) split_node(v);
  return u;
}

void ab_tree::split_node(ab_tree_node* v) {
  while (v->last_elem == v->elems + b) {
    if (v == root) {
      ab_tree_node* r = new_ab_tree_node(1, v->height + 1, nullptr, b + 1);
      r->elems[0].child = v;
      v->parent = r;
      root = r;
      height++;
    }
    ab_tree_node* u = v->parent;
    ab_tree_node* w = new_ab_tree_node(0, v->height, u, b + 1);
    ab_tree_elem* e = expand(u, v, w, 1);

    const int m = (b + 1) / 2;
    e->key = (e - 1)->key;               // v's old maximum now lies below w
    (e - 1)->key = v->elems[m - 1].key;  // v's new maximum

    const int moved = b + 1 - m;
    std::memcpy(static_cast<void*>(w->elems), static_cast<const void*>(v->elems + m),
                static_cast<std::size_t>(moved) * sizeof(ab_tree_elem));
    for (int i = 0; i < moved; i++) w->elems[i].child->parent = w;
    v->last_elem = v->elems + (m - 1);
    w->last_elem = w->elems + (moved - 1);
    v = u;
  }
}

// ---- deletion -------------------------------------------------------------------

ab_tree_elem* ab_tree::index(ab_tree_node* v, ab_tree_node* w) const {
  return elem_of(v, w);
}

ab_tree_elem* ab_tree::same(item p) const {
  if (p->succ() == nullptr) return nullptr;
  ab_tree_node* c = p;
  while (c->parent->last_elem->child == c) c = c->parent;
  return elem_of(c->parent, c);
}

void ab_tree::del(value_slot x) {
  if (root == nullptr) return;
  bool found;
  ab_tree_node* p = locate(x, found);
  if (found) del_item(p);
}

bool ab_tree::holds(item p) const {
  if (root == nullptr) return false;
  if (p == root) return true;
#ifdef TAVO_CHECK_ASAN
  // A released leaf is poisoned: not read, and not in the tree.
  if (__asan_address_is_poisoned(p)) return false;
#endif
  // p must be a child of its parent (a released leaf was taken out of it),
  // and the parent's ancestors must end at this tree's root. The scan of an
  // elem array stays within the b + 1 elems of the node.
  const ab_tree_node* v = p;
  for (int level = 0; level < height; ++level) {
    const ab_tree_node* u = v->parent;
    if (u == nullptr) return false;
    const ab_tree_elem* e = u->elems;
    const ab_tree_elem* const end = u->elems + b;
    while (e->child != v && e != end && e != u->last_elem) ++e;
    if (e->child != v) return false;
    v = u;
  }
  return v == root;
}

void ab_tree::del_item(item p) {
  TAVO_PRECONDITION(p == nullptr || holds(p), "ab_tree: del_item of an item not in this tree.");
  remove_item(p);
  if (p == nullptr) return;  // reported; reached only if the handler returns
  clear_key(p->key());
  clear_inf(p->inf());
  delete_ab_tree_node(p);
}

value_slot ab_tree::shrink(ab_tree_node* v, ab_tree_elem* e) {
  value_slot k = e->key;
  std::memmove(static_cast<void*>(e), static_cast<const void*>(e + 1),
               static_cast<std::size_t>(v->last_elem - e) * sizeof(ab_tree_elem));
  --v->last_elem;
  return k;
}

void ab_tree::remove_item(item p) {
  if (p == nullptr) {
    error_handler(1, "ab_tree: nil item in del_item");
    return;
  }
  if (--count == 0) {
    root = minimum = maximum = nullptr;
    height = -1;
    return;
  }
  // Unlink from the chain; p keeps its own links (same() reads p's succ).
  ab_tree_node* s = p->succ();
  ab_tree_node* r = p->pred();
  if (r != nullptr) {
    r->succ() = s;
  } else {
    minimum = s;
  }
  if (s != nullptr) {
    s->pred() = r;
  } else {
    maximum = r;
  }

  ab_tree_node* v = p->parent;
  ab_tree_elem* e = index(v, p);
  if (e == v->last_elem) {
    // p's predecessor, p's left neighbour in v, is now the maximum where p was.
    if (ab_tree_elem* q = same(p)) q->key = r->key();
    --v->last_elem;
  } else {
    shrink(v, e);
  }

  // Rebalance from v upwards.
  while (v->children() < a) {
    if (v == root) {
      if (v->children() == 1) {
        root = v->elems[0].child;
        root->parent = nullptr;
        height--;
        delete_ab_tree_node(v);
      }
      return;
    }
    ab_tree_node* u = v->parent;
    ab_tree_elem* ev = index(u, v);
    ab_tree_node* left = ev > u->elems ? (ev - 1)->child : nullptr;
    ab_tree_node* right = ev < u->last_elem ? (ev + 1)->child : nullptr;
    if (right != nullptr && right->children() > a) {
      share(v, right, 1);
      return;
    }
    if (left != nullptr && left->children() > a) {
      share(v, left, 0);
      return;
    }
    if (left != nullptr) {
      fuse(left, v);
    } else {
      fuse(v, right);
    }
    v = u;
  }
}

void ab_tree::share(ab_tree_node* v, ab_tree_node* w, int dir) {
  ab_tree_node* u = v->parent;
  if (dir != 0) {
    // w's first child becomes v's last; v's old last now routes v's old maximum.
    ab_tree_elem* e = index(u, v);
    v->last_elem->key = e->key;
    ++v->last_elem;
    v->last_elem->child = w->elems[0].child;
    v->last_elem->child->parent = v;
    e->key = shrink(w, w->elems);
  } else {
    // w's last child becomes v's first, routed by w's old maximum.
    ab_tree_elem* e = index(u, w);
    std::memmove(static_cast<void*>(v->elems + 1), static_cast<const void*>(v->elems),
                 static_cast<std::size_t>(v->last_elem - v->elems + 1) * sizeof(ab_tree_elem));
    ++v->last_elem;
    v->elems[0].child = w->last_elem->child;
    v->elems[0].key = e->key;
    v->elems[0].child->parent = v;
    --w->last_elem;
    e->key = w->last_elem->key;
  }
}

void ab_tree::fuse(ab_tree_node* v, ab_tree_node* w) {
  ab_tree_node* u = v->parent;
  ab_tree_elem* e = index(u, v);
  v->last_elem->key = e->key;
  e->key = shrink(u, e + 1);
  const int k = w->children();
  std::memcpy(static_cast<void*>(v->last_elem + 1), static_cast<const void*>(w->elems),
              static_cast<std::size_t>(k) * sizeof(ab_tree_elem));
  for (int i = 0; i < k; i++) w->elems[i].child->parent = v;
  v->last_elem += k;
  delete_ab_tree_node(w);
}

// ---- changing entries -------------------------------------------------------------

void ab_tree::change_inf(item p, value_slot y) {
  replace_inf(p, y);
}

void ab_tree::decrease_key(item p, value_slot x) {
  // Own copies of both: p's key and information go with p, and x may be p's
  // stored key itself.
  value_slot i = p->inf();
  copy_inf(i);
  copy_key(x);
  del_item(p);
  insert(x, i);
  clear_key(x);
  clear_inf(i);
}

// ---- the leaves as a sequence -------------------------------------------------------

void ab_tree::flip_leaves(item p, item q, ab_tree_node* v) {
  ab_tree_elem* e = index(v, p);
  ab_tree_elem* f = e + 1;
  ab_tree_elem* r = f == v->last_elem ? same(q) : nullptr;
  e->child = q;
  e->key = q->key();
  f->child = p;
  if (r != nullptr) {
    r->key = p->key();
  } else {
    f->key = p->key();
  }
  ab_tree_node* pp = p->pred();
  ab_tree_node* sq = q->succ();
  q->succ() = p;
  q->pred() = pp;
  if (pp != nullptr) pp->succ() = q;
  p->pred() = q;
  p->succ() = sq;
  if (sq != nullptr) sq->pred() = p;
  if (minimum == p) minimum = q;
  if (maximum == q) maximum = p;
}

void ab_tree::exchange_leaves(item p, item q) {
  value_slot kp = p->key(), kq = q->key();
  ab_tree_node* vp = p->parent;
  ab_tree_node* vq = q->parent;
  ab_tree_elem* ep = index(vp, p);
  ab_tree_elem* eq = index(vq, q);
  ab_tree_elem* rp = same(p);
  ab_tree_elem* rq = same(q);

  // Each position's routing key now names the leaf that moves there.
  if (rp != nullptr) rp->key = kq;
  if (rq != nullptr) rq->key = kp;
  ep->child = q;
  q->parent = vp;
  eq->child = p;
  p->parent = vq;

  ab_tree_node* pp = p->pred();
  ab_tree_node* sp = p->succ();
  ab_tree_node* pq = q->pred();
  ab_tree_node* sq = q->succ();
  q->pred() = pp;
  if (pp != nullptr) pp->succ() = q;
  if (sp != q) {
    q->succ() = sp;
    sp->pred() = q;
  }
  if (pq == p) pq = q;  // neighbours
  p->pred() = pq;
  p->succ() = sq;
  pq->succ() = p;
  if (sq != nullptr) sq->pred() = p;
  if (minimum == p) minimum = q;
  if (maximum == q) maximum = p;
}

void ab_tree::reverse_items(item p, item q) {
  if (p == q) return;
  if (q == p->succ() && p->parent == q->parent) {
    flip_leaves(p, q, p->parent);
    return;
  }
  for (;;) {
    exchange_leaves(p, q);
    ab_tree_node* t = p->pred();  // p stands where q stood
    if (t == q) return;           // they were neighbours
    p = q->succ();                // q stands where p stood
    if (p == t) return;           // odd count: the middle item stays
    q = t;
  }
}

void ab_tree::conc(ab_tree&, int) {
  error_handler(1, "sorry, not implemented: ab_tree::conc(ab_tree)\n");
}

void ab_tree::split_at_item(item, ab_tree&, ab_tree&, int) {
  error_handler(1, "sorry, not implemented: ab_tree::split_at_item(item,ab_tree,ab_tree,int)\n");
}

// ---- printing -------------------------------------------------------------------------

void ab_tree::pr_ab_tree(ab_tree_node* v, int indent) const {
  const std::string blanks(static_cast<std::size_t>(indent > 0 ? indent : 0), ' ');
  if (v == nullptr) {
    std::cout << blanks << "NIL\n";
    return;
  }
  if (v->height == 0) {
    std::cout << blanks;
    print_key(v->key());
    std::cout << "\n";
    return;
  }
  for (ab_tree_elem* e = v->elems; e < v->last_elem; ++e) {
    pr_ab_tree(e->child, indent + 10);
    std::cout << blanks;
    print_key(e->key);
    std::cout << std::endl;
  }
  pr_ab_tree(v->last_elem->child, indent + 10);
}

// ---- invariants ----------------------------------------------------------------

#define TAVO_CHECK(cond, ...)                    \
  do {                                           \
    if (!(cond)) {                               \
      std::fprintf(stderr, "ab_tree::verify: "); \
      std::fprintf(stderr, __VA_ARGS__);         \
      std::fputc('\n', stderr);                  \
      return false;                              \
    }                                            \
  } while (0)

bool ab_tree::verify_node(const ab_tree_node* v, const ab_tree_node* parent, int depth,
                          const ab_tree_node*& last_leaf, int& leaves) const {
  TAVO_CHECK(v->parent == parent, "node %d: parent link is wrong", v->id);
  TAVO_CHECK(v->height == height - depth, "node %d: height %d at depth %d of %d", v->id, v->height,
             depth, height);
  if (v->height == 0) {
    TAVO_CHECK(v->capacity == 2, "leaf %d: capacity %d", v->id, v->capacity);
    const ab_tree_node* lp = last_leaf;
    TAVO_CHECK(v->elems[1].child == lp, "leaf %d: pred is not the previous leaf", v->id);
    if (lp != nullptr) {
      TAVO_CHECK(lp->elems[0].child == v, "leaf %d: succ is not the next leaf", lp->id);
    } else {
      TAVO_CHECK(v == minimum, "leaf %d: first leaf is not minimum", v->id);
    }
    last_leaf = v;
    leaves++;
    return true;
  }
  TAVO_CHECK(v->capacity == b + 1, "node %d: capacity %d, not b+1", v->id, v->capacity);
  const int k = v->children();
  TAVO_CHECK(k <= b, "node %d: %d children, more than b = %d", v->id, k, b);
  if (v == root) {
    TAVO_CHECK(k >= 2, "root %d: %d children", v->id, k);
  } else {
    TAVO_CHECK(k >= a, "node %d: %d children, fewer than a = %d", v->id, k, a);
  }
  for (int i = 0; i < k; i++) {
    const ab_tree_node* c = v->elems[i].child;
    TAVO_CHECK(c != nullptr, "node %d: child %d is null", v->id, i);
    if (!verify_node(c, v, depth + 1, last_leaf, leaves)) return false;
    if (i < k - 1) {
      TAVO_CHECK(v->elems[i].key == rightmost_leaf(c)->elems[0].key,
                 "node %d: routing key %d is not the key word of the rightmost leaf below "
                 "child %d",
                 v->id, i, i);
    }
  }
  return true;
}

bool ab_tree::verify(bool check_order) const {
  if (root == nullptr) {
    TAVO_CHECK(height == -1 && count == 0 && minimum == nullptr && maximum == nullptr,
               "empty tree with height %d, count %d or leaf pointers set", height, count);
    return true;
  }
  TAVO_CHECK(root->parent == nullptr, "root has a parent");
  TAVO_CHECK(height == root->height, "tree height %d, root height %d", height, root->height);
  const ab_tree_node* last_leaf = nullptr;
  int leaves = 0;
  if (!verify_node(root, nullptr, 0, last_leaf, leaves)) return false;
  TAVO_CHECK(last_leaf == maximum, "last leaf is not maximum");
  TAVO_CHECK(maximum->elems[0].child == nullptr, "maximum has a successor");
  TAVO_CHECK(leaves == count, "count %d, but %d leaves", count, leaves);
  if (check_order) {
    for (const ab_tree_node* p = minimum; p != maximum; p = p->elems[0].child) {
      TAVO_CHECK(cmp(p->elems[0].key, p->elems[0].child->elems[0].key) < 0,
                 "leaves %d and %d are not in increasing key order", p->id, p->elems[0].child->id);
    }
  }
  return true;
}

#undef TAVO_CHECK
