// tavo/ab_tree.h - the untyped (a,b)-tree under the ordered dictionary.
//
// What it is
//   A leaf-oriented (a,b)-tree: one leaf per entry, the leaves chained in key
//   order, inner nodes holding only routing keys. Keys and information are
//   value_slots (tavo/slot.h); the tree never interprets them itself but
//   through virtual hooks (cmp, copy_key, copy_inf, clear_key, clear_inf) that
//   a typed layer (tavo_dictionary, tavo/dictionary.h) overrides. Unlike a
//   node-based search tree, inner nodes keep no key copies: a routing key is
//   the very key word of a leaf.
//
// Ownership
//   The tree owns its nodes and, through the hooks, the stored representations
//   of keys and information (copied on insertion, released on clear and
//   destruction). Nodes come from std_memory_mgr with allocate_bytes.
//
// Items
//   An item is a leaf (ab_tree_node*). It stays valid until its entry is
//   removed or the tree is cleared or destroyed; insertions elsewhere do not
//   move it.
//
// Node layout (one allocation of node_bytes(capacity) bytes)
//   height     0 for a leaf; an inner node is one higher than its children
//   capacity   elem slots: 2 for a leaf, b+1 for an inner node (a node may
//              hold one child too many until split_node splits it)
//   id         serial number from ab_tree_node::id_count, 0 .. INT_MAX (after
//              INT_MAX the count starts again at 0)
//   parent     null for the root
//   last_elem  the last used elem: an inner node with k children uses
//              elems[0 .. k-1], so elems <= last_elem <= elems + b
//   elems[]    children and routing keys
//   A leaf uses its two elems as: elems[0] = (key, succ), elems[1] = (inf, pred).
//
// Invariants of a non-empty tree (checked by verify())
//   1. All leaves have the same depth; the tree's height is the root's height.
//   2. The leaves, from minimum through succ, are in strictly increasing key
//      order and end at maximum; pred is the reverse chain; minimum.pred and
//      maximum.succ are null.
//   3. Every inner node has at most b children; every inner node but the root
//      at least a; an inner root at least 2.
//   4. Routing: for an inner node with children t0 .. t(k-1) and i < k-1,
//      elems[i].key is the very key word of the rightmost leaf below t(i):
//      every key below t(i) <= elems[i].key < every key below t(i+1).
//      elems[k-1].key carries nothing; searches write their key there as a
//      sentinel, so the scan in a node needs no bound test.
//   5. Every node's parent is the node whose elem holds it as child.
//   count is the number of leaves.
//
// Cost
//   locate, lookup, insert: O(log n) node visits with at most b comparisons
//   each; int, float and double keys (tavo_id_int, tavo_id_float, tavo_id_double)
//   are compared directly,
//   other keys cost one virtual cmp per comparison. Splitting is amortised
//   O(1) per insertion. clear, copy: O(n).
//
// Threads
//   A search writes sentinels into the nodes it passes: a tree is never used
//   by two threads at once, not even for two searches.
//
// Failure
//   ab_tree(a, b) with a < 2 or b < 2a - 1 reports error_handler(1, "ab_tree:
//   illegal arguments (a,b) in tree constructor"); should an installed
//   handler return, the tree takes the nearest legal pair (a raised to 2, b
//   to 2a - 1) and stays usable. Other preconditions (a
//   non-null item, x fitting next to p in insert_at_item) are not tested.
#ifndef TAVO_AB_TREE_H
#define TAVO_AB_TREE_H

#include <cstddef>

#include "tavo/mutex.h"
#include "tavo/slot.h"
#include "tavo/startup.h"

struct ab_tree_node;

struct ab_tree_elem {
  value_slot key;
  ab_tree_node* child;
};

struct ab_tree_node {
  int height;
  int capacity;
  int id;
  ab_tree_node* parent;
  ab_tree_elem* last_elem;
  ab_tree_elem elems[];  // `capacity` elems follow the header

  // The four words of a leaf.
  value_slot& key() { return elems[0].key; }
  value_slot& inf() { return elems[1].key; }
  ab_tree_node*& succ() { return elems[0].child; }
  ab_tree_node*& pred() { return elems[1].child; }

  // Number of children of an inner node.
  int children() const { return static_cast<int>(last_elem - elems) + 1; }

  static int id_count;               // the next id; wraps from INT_MAX to 0
  static tavo_mutex mutex_id_count;  // held while a node takes its id
};

// Allocation size of a node with n elem slots.
inline std::size_t node_bytes(int n) {
  return offsetof(ab_tree_node, elems) + static_cast<std::size_t>(n) * sizeof(ab_tree_elem);
}

// A node of node_bytes(capacity) bytes from std_memory_mgr, with last_elem at
// elems[k-1] (before elems[0] for k = 0), the given height and parent, and a
// fresh id. Elems are not initialised.
ab_tree_node* new_ab_tree_node(int k, int height, ab_tree_node* parent, int capacity);

// Returns a node made by new_ab_tree_node to std_memory_mgr.
void delete_ab_tree_node(ab_tree_node* v);

class ab_tree {
 public:
  typedef ab_tree_node* item;

  // An empty tree. Needs a >= 2 and b >= 2a - 1, else reports the illegal
  // arguments (fatal under the standard handler; a returning handler gets
  // the nearest legal pair, see Failure).
  ab_tree(int a, int b);
  // Deep copy through t's hooks (this tree's own overrides are not in force
  // while it is being constructed).
  ab_tree(const ab_tree& t);
  // Deep copy through this tree's hooks; nothing when t is this tree.
  ab_tree& operator=(const ab_tree& t);
  // clear() with the hooks in force then (the base hooks release nothing),
  // then the nodes are released.
  virtual ~ab_tree();

  // --- hooks, overridden by the typed layer --------------------------------
  virtual int key_type_id() const { return 0; }
  virtual int cmp(value_slot, value_slot) const { return 0; }
  virtual void clear_key(value_slot&) const {}
  virtual void clear_inf(value_slot&) const {}
  // Replace the slot by the stored representation of a copy of what it
  // represents.
  virtual void copy_key(value_slot&) const {}
  virtual void copy_inf(value_slot&) const {}
  virtual void print_key(value_slot) const {}
  virtual void print_inf(value_slot) const {}

  // --- searching (O(log n); writes sentinels, see Threads) -----------------
  // The leaf with the least key >= x, or null; found tells equality.
  item locate(value_slot x, bool& found) const;
  item locate_succ(value_slot x) const {
    bool found;
    return locate(x, found);
  }
  // The leaf with the greatest key <= x, or null.
  item locate_pred(value_slot x) const;
  // The leaf with key x, or null.
  item lookup(value_slot x) const {
    bool found;
    item p = locate(x, found);
    return found ? p : nullptr;
  }

  // --- insertion -------------------------------------------------------------
  // The item holding key x with information y. A new key is copied with
  // copy_key; for an existing key the stored key stays and the information is
  // replaced (the new one copied before the old one is released, so y may be
  // the stored information itself).
  item insert(value_slot x, value_slot y);
  // Inserts next to p without searching: x must belong right before or after
  // p in key order. Replaces p's information when x equals p's key.
  item insert_at_item(item p, value_slot x, value_slot y);
  // A new leaf for (x, y) after p (dir != 0) or before p (dir == 0).
  item insert_at_item(item p, value_slot x, value_slot y, int dir);
  // Links the new leaf u after (dir != 0) or before (dir == 0) the leaf p,
  // splitting full nodes; returns u. count grows by one.
  item insert_item_at_item(item u, item p, int dir);
  // Puts child w into v next to its child p (after for dir != 0, before for
  // dir == 0); returns w's elem, whose key the caller sets.
  ab_tree_elem* expand(ab_tree_node* v, ab_tree_node* p, ab_tree_node* w, int dir);
  // Splits v and its ancestors while they hold b+1 children.
  void split_node(ab_tree_node* v);

  // --- deletion (O(log n); rebalancing stops at the first node that needs no
  // change, only fusions climb) ------------------------------------------------
  // Removes the entry with key x, if there is one.
  void del(value_slot x);
  // Removes entry p and releases its key, information and leaf. A null p is
  // reported: error_handler(1, "ab_tree: nil item in del_item"). In hardened
  // mode (tavo/error.h) an item not in this tree (deleted before, or of
  // another tree) is reported too, with code 1 ("ab_tree: del_item of an
  // item not in this tree."): O(b log n), see holds().
  void del_item(item p);
  // Whether p is one of this tree's leaves: p is among its parent's children
  // and the parents lead to this tree's root, O(b log n). A released leaf is
  // read (its chunk stays in the manager's block; with AddressSanitizer it
  // is recognised as poisoned instead); its words after the first are as
  // they were, and its parent no longer holds it.
  bool holds(item p) const;
  // Unlinks leaf p and rebalances; p itself is not released. Null reported.
  void remove_item(item p);
  // Removes elem e from v (the elems after it move down); returns e's key.
  value_slot shrink(ab_tree_node* v, ab_tree_elem* e);
  // Moves one child from sibling w into v, which has a-1 children: dir = 1,
  // w is v's right neighbour (its first child moves); dir = 0, w is v's left
  // neighbour (its last child moves).
  void share(ab_tree_node* v, ab_tree_node* w, int dir);
  // Merges w, v's right neighbour, into v and releases w.
  void fuse(ab_tree_node* v, ab_tree_node* w);

  // --- changing entries ----------------------------------------------------------
  // Replaces p's information by a copy of y (y may be p's information itself).
  void change_inf(item p, value_slot y);
  // Moves p's information to key x: p is removed and the entry of x carries
  // the information (an existing entry of x has it replaced, so the tree
  // loses one entry). x may be p's stored key itself. p is invalid
  // afterwards. O(log n).
  void decrease_key(item p, value_slot x);

  // --- the leaves as a sequence (structure only: the caller keeps the key
  // order if it wants one) -------------------------------------------------------
  // Reverses the order of the items from p to q (p at or before q). O(m log n)
  // for m items.
  void reverse_items(item p, item q);
  // Swaps neighbours p and q = succ(p), both children of v. O(b).
  void flip_leaves(item p, item q, ab_tree_node* v);
  // Swaps the positions of leaves p and q, p before q. O(b + height).
  void exchange_leaves(item p, item q);
  // The elem of v whose child is w (w must be a child of v). O(b).
  ab_tree_elem* index(ab_tree_node* v, ab_tree_node* w) const;
  // The elem that routes to leaf p: p's own elem unless p is its parent's last
  // child, else the elem of the nearest ancestor in which the path from p does
  // not run through the last child. Null for the last leaf.
  ab_tree_elem* same(item p) const;
  // Not implemented: both report error_handler(1, ...) and change nothing.
  void conc(ab_tree& t, int dir);
  void split_at_item(item p, ab_tree& t1, ab_tree& t2, int dir);

  // Prints the subtree below v on standard output, children indented by 10
  // more blanks than their parent, routing keys through print_key; "NIL" for
  // a null v.
  void pr_ab_tree(ab_tree_node* v, int indent) const;

  // --- whole tree -------------------------------------------------------------
  // Removes every entry, releasing keys and information through the hooks.
  void clear();
  // Releases the subtree below v (leaves through the clear hooks).
  void del_tree(ab_tree_node* v);
  // Copies the subtree below v through the copy hooks; `last` is the last
  // leaf copied so far (chained to the new leaves).
  ab_tree_node* copy_ab_tree(ab_tree_node* v, ab_tree_node*& last, int b) const;

  // --- items (constant time) -------------------------------------------------
  value_slot key(item p) const { return p->key(); }
  value_slot inf(item p) const { return p->inf(); }
  item first_item() const { return minimum; }
  item last_item() const { return maximum; }
  item next_item(item p) const { return p ? p->succ() : nullptr; }
  item succ(item p) const { return p->succ(); }
  item pred(item p) const { return p->pred(); }
  int size() const { return count; }

  // Checks invariants 1 to 5 and count; with check_order also the key order
  // of invariant 2 through cmp. Says what is wrong on stderr and returns
  // false. O(n).
  bool verify(bool check_order = true) const;

  // Read-only views for tests and diagnostics.
  int tree_height() const { return height; }
  int min_children() const { return a; }
  int max_children() const { return b; }
  const ab_tree_node* root_node() const { return root; }

 protected:
  int a;                  // least number of children of a non-root inner node
  int b;                  // greatest number of children of an inner node
  int height;             // -1 empty, 0 a single leaf, else the root's height
  int count;              // number of leaves
  ab_tree_node* root;     // null when empty
  ab_tree_node* minimum;  // leftmost leaf, null when empty
  ab_tree_node* maximum;  // rightmost leaf, null when empty

 private:
  // locate, also giving the leaf's parent when the search descended to it
  // (else null), so that an insertion links its new leaf without reading the
  // found one first.
  item locate_with_parent(value_slot x, bool& found, ab_tree_node*& parent) const;
  // insert_item_at_item's linking below the inner node v, p's parent (p is
  // not the root); count is left to the caller.
  item link_leaf(item u, item p, ab_tree_node* v, int dir);
  // The new leaf for (x, y): both slots become stored copies.
  ab_tree_node* new_leaf(value_slot x, value_slot y);
  // Replaces p's information by a copy of y.
  void replace_inf(ab_tree_node* p, value_slot y);
  // Copies t's entries into this (empty) tree through the hooks of `with`.
  void copy_from(const ab_tree& t, const ab_tree& with);
  bool verify_node(const ab_tree_node* v, const ab_tree_node* parent, int depth,
                   const ab_tree_node*& last_leaf, int& leaves) const;
};

#endif  // TAVO_AB_TREE_H
