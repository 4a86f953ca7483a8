// tavo/dictionary.h - the typed ordered dictionary tavo_dictionary<K,I>.
//
// What it is
//   A thin typed layer over the untyped (a,b)-tree (tavo/ab_tree.h, a virtual
//   base): it overrides the tree's hooks for K and I and offers typed
//   operations. Keys are unique and kept in increasing order of compare(K,K)
//   (tavo/tuple.h); int, float and double keys are compared directly by the
//   tree's search.
//
// Ownership
//   The dictionary owns a copy of every stored key and information: narrow
//   values lie in the tree's slots, wide ones (double, the tuples, classes
//   wider than a pointer) are heap copies, released by clear() and by the
//   destructor. Arguments are passed by const reference and never retained.
//
// Items
//   An item (ab_tree_node*) is the position of one entry. It stays valid, and
//   key(item) references stay valid, until the entry is removed or the
//   dictionary is cleared or destroyed; inf(item) references until then or
//   until the information is replaced. Insertion and the deletion of other
//   entries do not move entries.
//
// Cost
//   insert, lookup, defined, access, del: O(log n); del_item: O(log n) for
//   the rebalancing. change_inf: constant (one copy and one release of the
//   information). key, inf, first_item, last_item, next_item, size, empty:
//   constant. clear, copying: O(n).
//
// Failure
//   access(k) requires k to be defined; key, inf and operator[] require a
//   non-null item; del_item an item of this dictionary (not one deleted
//   before). In hardened mode (tavo/error.h) each is checked and reported
//   with code 1 ("tavo_dictionary: access of an undefined key.",
//   "tavo_dictionary: key of a nil item.", "tavo_dictionary: inf of a nil
//   item.", "tavo_dictionary: operator[] of a nil item.", "ab_tree: del_item
//   of an item not in this tree."); the item check of del_item costs
//   O(b log n). Otherwise they are not tested.
#ifndef TAVO_DICTIONARY_H
#define TAVO_DICTIONARY_H

#include "tavo/ab_tree.h"
#include "tavo/error.h"
#include "tavo/slot.h"
#include "tavo/startup.h"
#include "tavo/tuple.h"

template <class K, class I>
class tavo_dictionary : public virtual ab_tree {
 public:
  typedef ab_tree_node* item;
  typedef int (*cmp_fn)(const K&, const K&);

  // An empty dictionary ordered by compare(K,K), over an (a,b)-tree with
  // a = 2, b = 16.
  tavo_dictionary()
      : ab_tree(2, 16),
        cmp_object(nullptr),
        cmp_function(&default_compare),
        owned_object(nullptr),
        key_type(tavo_type_id<K>()) {}

  // An independent copy: every key and information is copied.
  tavo_dictionary(const tavo_dictionary& d)
      : ab_tree(d),
        cmp_object(d.cmp_object),
        cmp_function(d.cmp_function),
        owned_object(nullptr),
        key_type(d.key_type) {}

  tavo_dictionary& operator=(const tavo_dictionary& d) {
    if (&d != this) {
      clear();
      cmp_function = d.cmp_function;
      cmp_object = d.cmp_object;
      key_type = d.key_type;
      ab_tree::operator=(d);
    }
    return *this;
  }

  // Releases every stored key and information while the typed hooks are in
  // force (the base destructor runs with the base hooks, which release
  // nothing), then the owned comparison object.
  ~tavo_dictionary() override {
    clear();
    delete owned_object;
  }

  // The stored key / information of a (non-null) item.
  virtual const K& key(item it) const {
    TAVO_PRECONDITION(it != nullptr, "tavo_dictionary: key of a nil item.");
    return tavo_const_access<K>(it->key());
  }
  virtual const I& inf(item it) const {
    TAVO_PRECONDITION(it != nullptr, "tavo_dictionary: inf of a nil item.");
    return tavo_const_access<I>(it->inf());
  }
  virtual const I& operator[](item it) const { return inf(it); }
  // A modifiable reference to the stored information. Must not change what
  // the key's order depends on (only the information is reachable).
  virtual I& operator[](item it) {
    TAVO_PRECONDITION(it != nullptr, "tavo_dictionary: operator[] of a nil item.");
    return tavo_access<I>(it->inf());
  }

  // Whether k has an entry. O(log n).
  virtual bool defined(const K& k) const { return lookup(k) != nullptr; }
  // Stores (k, i): a new entry, or i replaces the information of k's entry
  // (i may be that very information). Returns k's item. O(log n).
  virtual item insert(const K& k, const I& i) {
    return ab_tree::insert(tavo_cast(k), tavo_cast(i));
  }
  // k's item, or null. O(log n).
  virtual item lookup(const K& k) const { return ab_tree::lookup(tavo_cast(k)); }
  // Removes k's entry if there is one. O(log n).
  virtual void del(const K& k) { ab_tree::del(tavo_cast(k)); }
  // Removes the entry of the (non-null) item; the item is invalid afterwards.
  virtual void del_item(item it) { ab_tree::del_item(it); }
  // Replaces the item's information by a copy of i (i may be that very
  // information).
  virtual void change_inf(item it, const I& i) { ab_tree::change_inf(it, tavo_cast(i)); }
  // The information of k, which must be defined. O(log n).
  virtual I access(const K& k) const {
    const item it = lookup(k);
    TAVO_PRECONDITION(it != nullptr, "tavo_dictionary: access of an undefined key.");
    return inf(it);
  }
  // Removes every entry.
  virtual void clear() { ab_tree::clear(); }
  virtual int size() const { return count; }
  virtual bool empty() const { return size() == 0; }
  virtual item first_item() const { return minimum; }
  virtual item last_item() const { return maximum; }
  // The next item in key order; null after the last item and for null.
  virtual item next_item(item it) const { return it ? it->succ() : nullptr; }

  // The tree's hooks for K and I.
  int key_type_id() const override { return key_type; }
  // The default ordering is called directly (inlined into the hook) rather
  // than through the function pointer: the same function, one indirect call
  // less per comparison of the search.
  int cmp(value_slot x, value_slot y) const override {
    const K& kx = tavo_const_access<K>(x);
    const K& ky = tavo_const_access<K>(y);
    if (cmp_function == &default_compare) return default_compare(kx, ky);
    return cmp_function ? cmp_function(kx, ky) : (*cmp_object)(kx, ky);
  }
  void clear_key(value_slot& p) const override { tavo_clear(tavo_access<K>(p)); }
  void clear_inf(value_slot& p) const override { tavo_clear(tavo_access<I>(p)); }
  void copy_key(value_slot& p) const override { p = tavo_copy(tavo_const_access<K>(p)); }
  void copy_inf(value_slot& p) const override { p = tavo_copy(tavo_const_access<I>(p)); }

 private:
  // compare(K,K), found at instantiation (also through argument-dependent
  // lookup), so a key type's compare may be declared after this header.
  static int default_compare(const K& x, const K& y) { return compare(x, y); }

  tavo_cmp_base<K>* cmp_object;    // used when cmp_function is null
  cmp_fn cmp_function;             // the ordering; compare(K,K) by default
  tavo_cmp_base<K>* owned_object;  // deleted by the destructor when set
  int key_type;                    // tavo_type_id<K>()
};

#endif  // TAVO_DICTIONARY_H
