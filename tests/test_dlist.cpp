// The doubly linked list: items and the length cache, the operations and
// their reports, the type-id fast paths, copying, printing and reading, the
// typed layer, and the list sorts - against std::list / std::sort, with
// verify() after every change.
#include <gtest/gtest.h>
#include <unistd.h>

#include <ext/stdio_filebuf.h>

#include "tests/support.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <list>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "tavo/dlist.h"
#include "tavo/random.h"
#include "tavo/sort.h"

namespace {

using namespace tavo_test;

typedef std::vector<int> ints;
typedef std::vector<dlink*> positions;

// An untyped list of ints held in the slots, with a type id chosen per list
// (tavo_id_int: the direct int paths; tavo_id_other: everything through the hooks) and counted
// hook calls.
class int_dlist : public dlist {
 public:
  int_dlist(std::initializer_list<int> v = {}, int id = tavo_id_int) : id(id) {
    for (int x : v) add(x);
  }
  int_dlist(const int_dlist& L) : dlist(L), id(L.id) {}
  int_dlist& operator=(const int_dlist& L) {
    dlist::operator=(L);  // with this list's hooks
    return *this;
  }
  int el_type_id() const override { return id; }
  int cmp(value_slot x, value_slot y) const override {
    ++cmp_calls;
    return compare(tavo_slot_int(x), tavo_slot_int(y));
  }
  int ord(value_slot x) const override { return tavo_slot_int(x) / 10; }
  void app(value_slot& x) const override { x = tavo_cast(tavo_slot_int(x) * 10); }
  void clear_el(value_slot&) const override { ++clear_calls; }
  void copy_el(value_slot&) const override { ++copy_calls; }
  void print_el(value_slot& x, std::ostream& out) const override { out << tavo_slot_int(x); }
  void read_el(value_slot& x, std::istream& in) const override {
    int v;
    if (in >> v) x = tavo_cast(v);
  }
  dlink* add(int v) { return append(tavo_cast(v)); }
  void set_natural(bool on) { natural_order = on; }

  int id;
  mutable int cmp_calls = 0, clear_calls = 0, copy_calls = 0;
};

ints values(const dlist& L) {
  ints v;
  for (dlink* p = L.first_item(); p; p = p->succ) v.push_back(tavo_slot_int(p->value));
  return v;
}
template <class T>
std::vector<T> elements(const tavo_list<T>& L) {
  return std::vector<T>(L.begin(), L.end());
}
positions items(const dlist& L) {
  positions v;
  for (dlink* p = L.first_item(); p; p = p->succ) v.push_back(p);
  return v;
}
int key_mod5(const int& x) {
  return x % 5;
}
int descending(const int& x, const int& y) {
  return compare(y, x);
}

// Every test ends with as many items and 8-byte double copies in use as it
// began with: clear, the destructors and the removals give everything back.
class ListTest : public testing::Test {
 protected:
  void SetUp() override { before = {used_chunks(sizeof(dlink)), used_chunks(sizeof(double))}; }
  void TearDown() override {
    EXPECT_EQ(used_chunks(sizeof(dlink)), before.first) << "items leaked or freed twice";
    EXPECT_EQ(used_chunks(sizeof(double)), before.second) << "double copies leaked";
  }
  std::pair<std::int64_t, std::int64_t> before;
};
using ListBasics = ListTest;
using ListRestructure = ListTest;
using ListCopyAndIO = ListTest;
using ListSort = ListTest;
using TypedList = ListTest;
using ListDifferential = ListTest;
using ListDeathTest = ListTest;

// Reports: the exact output of the standard handler, and the code.
void print_code_and_abort(int code, const char* msg) {
  std::fprintf(stderr, "[%d] %s\n", code, msg);
  std::abort();
}
void expect_report(const std::function<void()>& stmt, int code, const std::string& msg) {
  EXPECT_DEATH(stmt(), fatal_report(msg));
  EXPECT_DEATH((std_error_handler = print_code_and_abort, stmt()),
               "\\[" + std::to_string(code) + "\\] " + regex_escaped(msg));
}
#define EXPECT_REPORT(stmt, code, msg)       \
  do {                                       \
    SCOPED_TRACE(msg);                       \
    expect_report([&] { stmt; }, code, msg); \
  } while (0)

// ---- items, insertion, access, removal ----------------------------------------------

TEST_F(ListBasics, ItemsAreThreeWordsFromTheClassHook) {
  EXPECT_EQ(sizeof(dlink), 3 * sizeof(void*));
  int a = 1;
  dlink* p = new dlink(&a, nullptr, nullptr);  // (value, pred, succ)
  EXPECT_EQ(used_chunks(sizeof(dlink)), before.first + 1);
  dlink q(nullptr, p, nullptr);
  EXPECT_EQ(q.pred, p);
  EXPECT_EQ(p->value, &a);
  delete p;
  int_dlist E;
  EXPECT_TRUE(E.verify() && E.empty());
  EXPECT_EQ(E.max(), nullptr);
  EXPECT_EQ(E.cyclic_succ(nullptr), nullptr);
  EXPECT_EQ(E.cyclic_pred(nullptr), nullptr);
  E.reverse();
  E.clear();
  dlist one(tavo_cast(5));
  EXPECT_EQ(values(one), ints{5});
  EXPECT_EQ(one.cached_count(), 1);
}

TEST_F(ListBasics, InsertPlacesItemsAndMovesHeadAndTail) {
  int_dlist L;
  dlink* b = L.add(2);
  dlink* a = L.push(tavo_cast(1));
  dlink* first = L.insert(tavo_cast(0), a, 1);  // before the first: new head
  dlink* last = L.insert(tavo_cast(9), b, 0);   // after the last: new tail
  L.insert(tavo_cast(3), b, 0);
  L.insert(tavo_cast(4), last, 1);
  L.insert(tavo_cast(7), nullptr, 0);  // nil appends for both dirs
  L.insert(tavo_cast(8), nullptr, 1);
  EXPECT_TRUE(L.verify());
  EXPECT_EQ(L.first_item(), first);
  EXPECT_EQ(values(L), (ints{0, 1, 2, 3, 4, 9, 7, 8}));
  EXPECT_EQ(L.cached_count(), 8);
}

TEST_F(ListBasics, PositionalAccessWalksAndStopsAtNil) {
  int_dlist L{3, 7, 1, 7, 1};
  const positions it = items(L);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(L.get_item(i), it[i]);
  EXPECT_EQ(L.succ(it[1], 0), it[1]);
  EXPECT_EQ(L.succ(it[1], 3), it[4]);
  EXPECT_EQ(L.succ(it[0], 100), nullptr);
  EXPECT_EQ(L.succ(it[0], -1), nullptr);  // a negative count walks off the end
  EXPECT_EQ(L.pred(it[4], 2), it[2]);
  EXPECT_EQ(L.cyclic_succ(it[4]), it[0]);
  EXPECT_EQ(L.cyclic_pred(it[0]), it[4]);
  EXPECT_EQ(L.cyclic_pred(it[3]), it[2]);
  EXPECT_EQ(L.max(), it[1]);  // the first of the largest
  EXPECT_EQ(L.min(), it[2]);
  EXPECT_EQ(L.search(tavo_cast(7)), it[1]);
  EXPECT_EQ(L.search(tavo_cast(4)), nullptr);
  EXPECT_EQ(L.rank(tavo_cast(1)), 3);
  EXPECT_EQ(L.rank(tavo_cast(4)), 0);
}

TEST_F(ListBasics, PopAndDelHandBackTheElementAndFreeTheItem) {
  int_dlist L{1, 2, 3, 4, 5};
  EXPECT_EQ(tavo_slot_int(L.pop()), 1);
  EXPECT_EQ(tavo_slot_int(L.Pop()), 5);
  EXPECT_EQ(tavo_slot_int(L.del(L.get_item(1))), 3);
  EXPECT_EQ(used_chunks(sizeof(dlink)), before.first + 2);
  EXPECT_EQ(tavo_slot_int(L.del(L.last_item())), 4);
  EXPECT_EQ(tavo_slot_int(L.del(L.first_item())), 2);  // the only item
  EXPECT_TRUE(L.verify() && L.empty());
  EXPECT_EQ(L.last_item(), nullptr);
}

TEST_F(ListBasics, ClearReturnsTheChainInOneCallAndClearsOnlyWhatNeedsIt) {
  for (int id : {tavo_id_int, tavo_id_float, tavo_id_word, tavo_id_other, tavo_id_double}) {
    int_dlist L({1, 2, 3, 4}, id);
    L.clear();
    EXPECT_EQ(L.clear_calls, (id == tavo_id_other || id == tavo_id_double) ? 4 : 0) << "id " << id;
    EXPECT_TRUE(L.verify());
  }
  int_dlist L{1, 2, 3};
  void* free_head = std_memory_mgr.first_free(int(sizeof(dlink)));
  dlink* first = L.first_item();
  dlink* last = L.last_item();
  L.clear();
  EXPECT_EQ(std_memory_mgr.first_free(int(sizeof(dlink))), first);
  EXPECT_EQ(memory_manager::link(last), free_head);
}

TEST_F(ListBasics, RemoveOfIntsAndDoublesComparesValuesOtherTypesUseTheHooks) {
  int_dlist L{4, 1, 4, 4, 2, 4}, G({4, 1, 4, 4}, tavo_id_other);
  L.remove(tavo_cast(4));  // id int, natural_order false: still direct
  EXPECT_EQ(values(L), (ints{1, 2}));
  EXPECT_EQ(L.cmp_calls + L.clear_calls, 0);
  G.remove(tavo_cast(4));
  EXPECT_EQ(values(G), ints{1});
  EXPECT_EQ(G.clear_calls, 3);
  EXPECT_TRUE(L.verify() && G.verify());
  tavo_list<double> D{1.5, 2.5, 1.5, 1.5};
  const std::int64_t copies = used_chunks(sizeof(double));
  D.remove(1.5);
  EXPECT_EQ(used_chunks(sizeof(double)), copies - 3);
  D.remove(D.head());  // an element of the list itself
  EXPECT_TRUE(D.empty());
}

TEST_F(ListBasics, UniqueKeepsTheFirstOfEachRunDirectlyOnlyInNaturalOrder) {
  for (int id : {tavo_id_int, tavo_id_other}) {
    for (bool natural : {true, false}) {
      int_dlist L({1, 1, 2, 2, 2, 1}, id);
      L.set_natural(natural);
      dlink* last = L.last_item();
      L.unique();
      EXPECT_EQ(values(L), (ints{1, 2, 1}));
      EXPECT_EQ(L.last_item(), last);
      EXPECT_EQ(L.cached_count(), 3);
      const bool direct = id == tavo_id_int && natural;
      EXPECT_EQ(L.cmp_calls == 0, direct);
      EXPECT_EQ(L.clear_calls, direct ? 0 : 3);
    }
  }
  const double nan = std::numeric_limits<double>::quiet_NaN();
  tavo_list<double> D{nan, nan, 2.0, 2.0};  // a NaN equals nothing
  D.unique();
  EXPECT_EQ(D.length(), 3);
  EXPECT_FALSE(D.in_natural_order());  // set only during the call
}

// ---- the length cache and restructuring ------------------------------------------------

TEST_F(ListRestructure, SplitLeavesStaleCountsThatLengthRecomputes) {
  for (int dir : {1, 0}) {
    int_dlist L{1, 2, 3, 4, 5}, A{9}, B;
    L.split(L.get_item(2), A, B, dir);  // A is cleared first
    EXPECT_TRUE(A.verify() && B.verify() && L.verify() && L.empty());
    EXPECT_LT(A.cached_count(), 0);
    EXPECT_EQ(A.length(), dir == 1 ? 2 : 3);
    EXPECT_EQ(A.cached_count(), A.length());  // cached now
    EXPECT_EQ(values(B), dir == 1 ? (ints{3, 4, 5}) : (ints{4, 5}));
    B.add(6);  // a stale count stays stale when adding, drops when removing
    B.pop();
    EXPECT_LT(B.cached_count(), 0);
  }
  int_dlist L{1, 2, 3}, B;
  L.split(nullptr, L, B, 0);  // nil: everything to L2; this list may be L1
  EXPECT_TRUE(L.empty());
  EXPECT_EQ(values(B), (ints{1, 2, 3}));
}

TEST_F(ListRestructure, ConcAddsCountsOrLeavesThemStale) {
  int_dlist E, L{1, 2}, M{3}, A, B;
  E.conc(L, 7);  // an empty list takes L's count; dir is not examined
  E.conc(M, 1);
  EXPECT_EQ(values(E), (ints{3, 1, 2}));
  EXPECT_EQ(E.cached_count(), 3);
  EXPECT_EQ(M.cached_count(), 0);
  E.split(E.get_item(1), A, B, 1);
  A.conc(B, 0);
  EXPECT_LT(A.cached_count(), 0);
  EXPECT_EQ(A.length(), 3);
  A.swap(E);
  EXPECT_EQ(values(E), (ints{3, 1, 2}));
}

TEST_F(ListRestructure, SpliceMovesListsRangesAndSingleItems) {
  int_dlist L{1, 2, 3}, M{7, 8}, N{5, 6}, R{20, 21, 22, 23, 24};
  L.splice(nullptr, M);         // nil appends
  L.splice(L.first_item(), M);  // empty: nothing
  L.splice(L.get_item(1), N);
  EXPECT_EQ(values(L), (ints{1, 5, 6, 2, 3, 7, 8}));
  L.splice(L.first_item(), R, R.get_item(1), R.get_item(3));
  EXPECT_EQ(values(R), (ints{20, 23, 24}));
  L.splice(nullptr, R, nullptr, R.last_item());         // it1 nil: from R's first item
  L.splice(L.get_item(2), R, R.first_item(), nullptr);  // it2 nil: to R's end
  EXPECT_EQ(values(L), (ints{21, 22, 24, 1, 5, 6, 2, 3, 7, 8, 20, 23}));
  L.splice(nullptr, L, L.get_item(4), L.get_item(6));  // within one list
  EXPECT_EQ(values(L), (ints{21, 22, 24, 1, 2, 3, 7, 8, 20, 23, 5, 6}));
  const positions it = items(L);
  L.splice(it[2], L, it[1]);  // in front of its own successor: nothing
  L.splice(it[1], L, it[1]);
  L.splice(it[0], L, it[11]);
  EXPECT_EQ(items(L)[0], it[11]);
  EXPECT_EQ(L.length(), 12);
  EXPECT_TRUE(L.verify() && R.verify() && R.empty());
}

TEST_F(ListRestructure, MoveToFrontAndBackRelinkTheItem) {
  int_dlist L{1, 2, 3, 4};
  const positions it = items(L);
  L.move_to_front(it[2]);
  L.move_to_front(it[2]);  // already first
  L.move_to_back(it[0]);
  L.move_to_back(it[0]);  // already last
  EXPECT_EQ(values(L), (ints{3, 2, 4, 1}));
  L.move_to_back(it[2]);   // from the front
  L.move_to_front(it[2]);  // from the back
  EXPECT_EQ(items(L), (positions{it[2], it[1], it[3], it[0]}));
  EXPECT_TRUE(L.verify());
}

TEST_F(ListRestructure, ReverseMovesElementsAndReverseItemsMovesItems) {
  int_dlist L{1, 2, 3}, M{1, 2, 3};  // items p1 p2 p3 holding x y z
  const positions p = items(L), q = items(M);
  L.reverse();
  EXPECT_EQ(items(L), p);
  EXPECT_EQ(values(L), (ints{3, 2, 1}));
  M.reverse_items();
  EXPECT_EQ(items(M), (positions{q[2], q[1], q[0]}));
  EXPECT_EQ(values(M), (ints{3, 2, 1}));
  for (int n : {2, 5, 6}) {  // elements strictly inside the ends
    int_dlist R;
    for (int k = 0; k < n; ++k) R.add(k);
    ints expected = values(R);
    std::reverse(expected.begin() + 1, expected.end() - 1);
    R.reverse(R.get_item(1), R.get_item(n - 2));
    EXPECT_EQ(values(R), expected) << n;
  }
  int_dlist F{1, 2, 3, 4, 5};
  const positions it = items(F);
  F.reverse_items(it[0], it[4]);  // the middle three
  EXPECT_EQ(items(F), (positions{it[0], it[3], it[2], it[1], it[4]}));
  EXPECT_EQ(F.cached_count(), 5);   // restored, not stale
  F.reverse_items(it[3], it[2]);    // it2 right after it1: nothing
  F.reverse_items(it[0], nullptr);  // nil: up to the last item
  EXPECT_EQ(values(F), (ints{1, 2, 3, 4, 5}));
  EXPECT_TRUE(L.verify() && M.verify() && F.verify());
}

// ---- copying, printing, reading ---------------------------------------------------------

TEST_F(ListCopyAndIO, CopyUsesTheSourceHooksAssignmentItsOwn) {
  for (int id : {tavo_id_int, tavo_id_float, tavo_id_word, tavo_id_other}) {
    int_dlist L({1, 2, 3}, id);
    L.set_natural(true);
    int_dlist C(L);
    EXPECT_EQ(values(C), (ints{1, 2, 3}));
    EXPECT_EQ(L.copy_calls, id == tavo_id_other ? 3 : 0) << id;
    EXPECT_FALSE(C.in_natural_order());
    EXPECT_NE(C.first_item(), L.first_item());
  }
  int_dlist L({1, 2, 3}, tavo_id_other), A({9}, tavo_id_other);
  A.set_natural(true);
  A = L;
  EXPECT_EQ(values(A), (ints{1, 2, 3}));
  EXPECT_EQ(A.copy_calls, 3);
  EXPECT_EQ(A.clear_calls, 1);  // the old element
  EXPECT_EQ(L.copy_calls, 0);
  EXPECT_TRUE(A.in_natural_order());  // assignment leaves it
  const positions kept = items(A);
  A = A;
  EXPECT_EQ(items(A), kept);
}

TEST_F(ListCopyAndIO, TypedCopiesPlusAndMovesAreIndependent) {
  tavo_list<double> L{1.0, 2.0, 3.0}, C(L), A, B{4.0};
  A = L;
  C[C.first_item()] = 10.0;
  A.tail() = 30.0;
  tavo_list<double> S = L + B;
  S.head() = -1.0;
  EXPECT_EQ(elements(L), (std::vector<double>{1.0, 2.0, 3.0}));
  EXPECT_EQ(elements(C), (std::vector<double>{10.0, 2.0, 3.0}));
  EXPECT_EQ(elements(A), (std::vector<double>{1.0, 2.0, 30.0}));
  EXPECT_EQ(elements(S), (std::vector<double>{-1.0, 2.0, 3.0, 4.0}));
  EXPECT_TRUE(S.verify());
  dlink* first = S.first_item();
  tavo_list<double> M(std::move(S));
  EXPECT_EQ(M.first_item(), first);
  B = std::move(M);
  EXPECT_EQ(B.length(), 4);
  EXPECT_TRUE(M.empty() && S.empty());
  int_dlist X{1, 2}, Y{3};
  dlist Z = X + Y;  // untyped: the result has the dlist hooks
  EXPECT_EQ(values(Z), (ints{1, 2, 3}));
  EXPECT_EQ(Y.copy_calls, 2);  // L's copy_el on this list's two items
}

TEST_F(ListCopyAndIO, PrintWritesThePromptToStdoutAndTheElementsToOut) {
  int_dlist L{1, 22, 333}, E;
  std::ostringstream out, none, glued;
  testing::internal::CaptureStdout();
  L.print(out, "list: ", ' ');
  E.print(none, "empty", ',');
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "list: empty");
  EXPECT_EQ(out.str(), "1 22 333");
  EXPECT_EQ(none.str(), "");
  L.print(glued, "", '\0');  // the text of NUL is empty
  EXPECT_EQ(glued.str(), "122333");
}

TEST_F(ListCopyAndIO, ReadStopsAtTheDelimiterOrTheEndOfTheStream) {
  int_dlist L{99};
  std::istringstream in("  1 2\t3\n4 5\n"), commas("7 8,9");
  testing::internal::CaptureStdout();
  L.read(in, "numbers? ", '\n');
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "numbers? ");
  EXPECT_EQ(values(L), (ints{1, 2, 3}));
  EXPECT_EQ(in.peek(), '4');  // the newline was consumed
  L.read(in, "", -1);
  EXPECT_EQ(values(L), (ints{4, 5}));
  L.read(commas, "", ',');
  EXPECT_EQ(values(L), (ints{7, 8}));
  EXPECT_EQ(commas.peek(), '9');
  tavo_list<double> D;
  std::istringstream reals("0.5 -2.25 x 3");
  D.read(reals, "", -1);  // a failed element is not appended
  EXPECT_EQ(elements(D), (std::vector<double>{0.5, -2.25}));
  EXPECT_TRUE(L.verify() && D.verify());
}

// ---- sorting ----------------------------------------------------------------------------------

std::vector<ints> sort_inputs() {
  std::mt19937 rng(3);
  std::vector<ints> all = {{}, {1}, {2, 1}, {1, 2}, {3, 1, 2}, {5, 5}};
  for (int n : {7, 20, 100, 500}) {
    ints random(n), few(n), down(n);
    for (int k = 0; k < n; ++k) {
      random[k] = int(rng() % 1000);
      few[k] = int(rng() % 3);
      down[k] = n - k;
    }
    all.insert(all.end(), {random, few, down});
  }
  return all;
}

TEST_F(ListSort, SortsMatchStdSortAndEveryItemKeepsItsElement) {
  for (const ints& input : sort_inputs()) {
    for (int algorithm = 0; algorithm < 2; ++algorithm) {
      for (bool direct : {true, false}) {
        int_dlist L({}, direct ? 3 : 0), A, B;
        L.set_natural(direct);
        std::map<dlink*, int> held;
        for (int x : input) held[L.add(x)] = x;
        if (L.length() > 3) {  // through a stale count
          L.split(L.get_item(2), A, B, 0);
          L.conc(A, 0);
          L.conc(B, 0);
        }
        algorithm == 0 ? L.quick_sort() : L.merge_sort();
        ints expected = input;
        std::sort(expected.begin(), expected.end());
        ASSERT_EQ(values(L), expected);
        ASSERT_TRUE(L.verify());  // in natural order, verify checks the order too
        for (dlink* p : items(L)) ASSERT_EQ(tavo_slot_int(p->value), held.at(p));
        if (direct) {
          ASSERT_EQ(L.cmp_calls, 0);
        }
      }
    }
  }
}

TEST_F(ListSort, QuickSortMakesTheExchangesOfTheArraySort) {
  // Equal keys reveal the exchanges: the hook path, the direct path and
  // QUICKSORT_P on the same keys leave the same items in each place.
  std::mt19937 rng(17);
  for (int round = 0; round < 20; ++round) {
    int_dlist H({}, tavo_id_other), D;
    D.set_natural(true);
    ints keys(60), a(62), tag(62);
    std::vector<void*> b(62, nullptr);
    std::map<dlink*, int> index;
    for (int k = 0; k < 60; ++k) {
      keys[k] = int(rng() % 5);
      index[H.add(keys[k])] = index[D.add(keys[k])] = k;
      a[k + 1] = keys[k];
      tag[k + 1] = k;
      b[k + 1] = &tag[k + 1];
    }
    H.quick_sort();
    D.quick_sort();
    QUICKSORT_P(a.data(), b.data(), 1, 60);
    const positions h = items(H), d = items(D);
    for (int k = 0; k < 60; ++k) {
      ASSERT_EQ(index.at(h[k]), *static_cast<int*>(b[k + 1]));
      ASSERT_EQ(index.at(d[k]), *static_cast<int*>(b[k + 1]));
    }
  }
}

TEST_F(ListSort, QuickSortWithAnArgumentSortsAsWithout) {
  // Callers may pass an int; whatever its value, the items end in the same
  // places after the same comparisons as with quick_sort().
  std::mt19937 rng(29);
  for (int id : {tavo_id_int, tavo_id_other}) {
    for (int arg : {0, 1, -7, INT_MAX}) {
      int_dlist A({}, id), B({}, id);
      A.set_natural(id == tavo_id_int);
      B.set_natural(id == tavo_id_int);
      std::map<dlink*, int> index;
      for (int k = 0; k < 80; ++k) {
        const int key = int(rng() % 7);
        index[A.add(key)] = index[B.add(key)] = k;
      }
      A.quick_sort();
      B.quick_sort(arg);
      ASSERT_EQ(values(B), values(A));
      const positions a = items(A), b = items(B);
      for (std::size_t k = 0; k < a.size(); ++k) ASSERT_EQ(index.at(b[k]), index.at(a[k]));
      EXPECT_EQ(B.cmp_calls, A.cmp_calls);
      EXPECT_TRUE(B.verify());
    }
  }
  tavo_list<int> T{5, 3, 9, 1, 3}, U = T;
  T.sort();
  U.quick_sort(3);  // the typed list offers it too
  EXPECT_EQ(elements(U), elements(T));
}

// The natural merge sort pass by pass, as defined, on (key, tag) pairs with
// the order `le` on keys: the final order of the tags and the number of
// comparisons (n - 1 to find the runs, one per item taken while both runs of
// a merge have items).
template <class Le>
std::pair<ints, long> merge_sort_model(const ints& keys, Le le) {
  typedef std::vector<std::pair<int, int>> run;
  long comparisons = 0;
  std::vector<run> chain;
  for (int k = 0; k < int(keys.size()); ++k) {
    if (k > 0) ++comparisons;
    if (chain.empty() || !le(chain.back().back().first, keys[k])) chain.push_back({});
    chain.back().push_back({keys[k], k});
  }
  while (chain.size() > 1) {
    std::vector<run> next;
    for (std::size_t k = 0; k < chain.size(); k += 2) {
      run m = chain[k];
      if (k + 1 < chain.size()) {
        m.clear();
        const run &a = chain[k], &b = chain[k + 1];
        std::size_t i = 0, j = 0;
        while (i < a.size() && j < b.size()) {
          ++comparisons;
          m.push_back(le(a[i].first, b[j].first) ? a[i++] : b[j++]);
        }
        m.insert(m.end(), a.begin() + long(i), a.end());
        m.insert(m.end(), b.begin() + long(j), b.end());
      }
      next.insert(next.begin(), m);
    }
    chain = next;
  }
  ints tags;
  if (!chain.empty())
    for (const auto& e : chain[0]) tags.push_back(e.second);
  return {tags, comparisons};
}

TEST_F(ListSort, MergeSortMergesRunsInTheReversingChainOrder) {
  // Random keys with many equal ones: the items end in the order of the
  // pass-by-pass definition.
  std::mt19937 rng(8);
  for (int round = 0; round < 50; ++round) {
    int_dlist L({}, tavo_id_other);
    std::map<dlink*, int> tag;
    ints keys;
    for (int k = 0, n = int(rng() % 40); k < n; ++k) {
      keys.push_back(int(rng() % 4));
      tag[L.add(keys.back())] = k;
    }
    const ints expected = merge_sort_model(keys, [](int x, int y) { return x <= y; }).first;
    L.merge_sort();
    const positions it = items(L);
    for (std::size_t k = 0; k < it.size(); ++k) ASSERT_EQ(tag.at(it[k]), expected[k]);
  }
  int_dlist S({1, 2, 2, 3, 4, 5}, tavo_id_other);
  S.merge_sort();  // one run: found with n - 1 comparisons, nothing merged
  EXPECT_EQ(S.cmp_calls, 5);
  EXPECT_TRUE(S.verify());
}

// Inputs whose run counts give the merge tree odd and even widths on many
// levels: every length 0 .. 70, then longer ones; random with few keys (many
// equal elements), ascending, descending (one run per item), all equal, and
// short ascending stretches.
std::vector<ints> merge_sort_inputs() {
  std::mt19937 rng(12);
  std::vector<ints> all;
  std::vector<int> lengths;
  for (int n = 0; n <= 70; ++n) lengths.push_back(n);
  for (int n : {127, 128, 129, 255, 257, 1000, 1023, 1025, 4097}) lengths.push_back(n);
  for (int n : lengths) {
    ints few(n), up(n), down(n), same(n, 7), saw(n);
    for (int k = 0; k < n; ++k) {
      few[k] = int(rng() % 4);
      up[k] = k / 3;
      down[k] = n - k;
      saw[k] = k % (2 + n % 5) + int(rng() % 2);
    }
    all.insert(all.end(), {few, up, down, same, saw});
  }
  return all;
}

TEST_F(ListSort, MergeSortOfManyRunsMatchesThePassByPassDefinition) {
  // The same final order of every item (equal keys included) and the same
  // comparisons as the passes of the definition; links, tail and count whole.
  for (const ints& input : merge_sort_inputs()) {
    const auto model = merge_sort_model(input, [](int x, int y) { return x <= y; });
    for (bool direct : {false, true}) {
      int_dlist L({}, direct ? 3 : 0), A, B;
      L.set_natural(direct);
      std::map<dlink*, int> tag;
      for (int k = 0; k < int(input.size()); ++k) tag[L.add(input[k])] = k;
      if (L.length() > 3) {  // through a stale count
        L.split(L.get_item(1), A, B, 0);
        L.conc(A, 0);
        L.conc(B, 0);
        ASSERT_LT(L.cached_count(), 0);
      }
      L.merge_sort();
      ints tags;
      for (dlink* p : items(L)) tags.push_back(tag.at(p));
      ASSERT_EQ(tags, model.first) << "length " << input.size() << (direct ? " direct" : " hook");
      ASSERT_EQ(L.cmp_calls, direct ? 0 : model.second) << "length " << input.size();
      ASSERT_EQ(L.cached_count(), int(input.size()));
      ASSERT_TRUE(L.verify());
      if (!input.empty()) {
        ASSERT_EQ(L.first_item()->pred, nullptr);
        ASSERT_EQ(L.last_item()->succ, nullptr);
        ASSERT_EQ(L.last_item(), L.get_item(int(input.size()) - 1));
      }
    }
  }
}

TEST_F(ListSort, TypedMergeSortWithAFunctionOrdersByItsKeysOnly) {
  // By the tens digit only: elements with equal keys stay distinguishable,
  // and end in the order the definition gives; the list stays usable.
  auto tens = [](const int& x, const int& y) { return compare(x / 10, y / 10); };
  std::mt19937 rng(5);
  for (int n : {0, 1, 2, 3, 17, 64, 65, 999}) {
    ints input(n);
    for (int& x : input) x = int(rng() % 60);
    tavo_list<int> L;
    for (int x : input) L.append(x);
    L.merge_sort(tens);
    ints keys;
    for (int x : input) keys.push_back(x / 10);
    const ints order = merge_sort_model(keys, [](int x, int y) { return x <= y; }).first;
    ints expected;
    for (int k : order) expected.push_back(input[std::size_t(k)]);
    ASSERT_EQ(elements(L), expected) << "length " << n;
    ASSERT_TRUE(L.verify());
    L.append(100);  // head, tail and count still right
    ASSERT_EQ(L.tail(), 100);
    ASSERT_EQ(L.length(), n + 1);
  }
  tavo_list<double> D{2.5, -1.0, 2.5, 0.0, -7.25, 3.0};  // the double path
  D.merge_sort();
  EXPECT_EQ(elements(D), (std::vector<double>{-7.25, -1.0, 0.0, 2.5, 2.5, 3.0}));
  EXPECT_TRUE(D.verify());
}

TEST_F(ListSort, MergeTakesEqualElementsFromTheChainBeingWalked) {
  // 1a 2a with 1b 2b: start with 1a (1a > 1b fails), walk to 2a > 1b,
  // switch to 1b, walk on 2b <= 2a, switch back: 1a 1b 2b 2a.
  int_dlist A{1, 2}, B{1, 2};
  const positions a = items(A), b = items(B);
  A.merge(B);
  EXPECT_EQ(items(A), (positions{a[0], b[0], b[1], a[1]}));
  EXPECT_EQ(A.cached_count(), 4);
  EXPECT_EQ(B.cached_count(), 0);
  std::mt19937 rng(21);
  for (int round = 0; round < 200; ++round) {
    int_dlist X({}, round % 2 ? 3 : 0), Y;
    X.set_natural(round % 2);
    ints x(rng() % 8), y(rng() % 8), expected;
    for (int& v : x) v = int(rng() % 10);
    for (int& v : y) v = int(rng() % 10);
    std::sort(x.begin(), x.end());
    std::sort(y.begin(), y.end());
    for (int v : x) X.add(v);
    for (int v : y) Y.add(v);
    X.merge(Y);  // includes merging into and from empty lists
    std::merge(x.begin(), x.end(), y.begin(), y.end(), std::back_inserter(expected));
    ASSERT_EQ(values(X), expected);
    ASSERT_TRUE(X.verify() && Y.verify() && Y.empty());
  }
}

TEST_F(ListSort, InsertionSortUsesTheSmallestOfTheHeadRangeAsSentinel) {
  int_dlist L({5, 3, 1, 4, 3, 2}, tavo_id_other);
  const positions orig = items(L);
  positions a = orig;
  L.gen_insertion_sort(&a[0], &a[5], &a[2]);  // the minimum lies in 0..2
  int_dlist S;
  for (dlink* p : a) S.add(tavo_slot_int(p->value));
  EXPECT_EQ(values(S), (ints{1, 2, 3, 3, 4, 5}));
  EXPECT_EQ(a[2], orig[1]);  // equal elements keep their order
  positions two = {orig[0], orig[1]};
  L.gen_insertion_sort(&two[0], &two[1], &two[1]);
  EXPECT_EQ(two, (positions{orig[1], orig[0]}));
}

TEST_F(ListSort, BucketSortIsStableOverTheKeyRange) {
  int_dlist L{30, 10, 31, 0}, S{55, 50}, E;  // keys 3 1 3 0; 5 5
  const positions it = items(L);
  L.bucket_sort(0, 9);
  EXPECT_EQ(items(L), (positions{it[3], it[1], it[0], it[2]}));
  S.bucket_sort();
  EXPECT_EQ(values(S), (ints{55, 50}));
  E.bucket_sort();
  std::mt19937 rng(4);
  for (int round = 0; round < 30; ++round) {
    int_dlist R;
    ints v(rng() % 50);
    for (int& x : v) R.add(x = int(rng() % 200) - 100);
    R.bucket_sort();
    std::stable_sort(v.begin(), v.end(), [](int x, int y) { return x / 10 < y / 10; });
    ASSERT_EQ(values(R), v);
    ASSERT_TRUE(R.verify());
  }
}

TEST_F(ListSort, PermuteDrawsOneRangeValuePerPositionFromRandInt) {
  int_dlist L{0, 1, 2, 3, 4, 5, 6, 7}, one{1};
  positions expected = items(L);
  rand_int.set_seed(42);
  tavo_random_source ref = rand_int;
  for (int j = 1; j < 8; ++j) std::swap(expected[j - 1], expected[ref(j, 8) - 1]);
  L.permute();
  one.permute();  // draws nothing
  EXPECT_EQ(items(L), expected);
  EXPECT_EQ(rand_int.get_rand31(), ref.get_rand31());
  EXPECT_TRUE(L.verify() && one.verify());
  std::map<ints, int> seen;
  int_dlist T{1, 2, 3};
  for (int k = 0; k < 6000; ++k) {
    T.permute();
    ++seen[values(T)];
  }
  EXPECT_EQ(seen.size(), 6u);
  for (const auto& entry : seen) EXPECT_NEAR(entry.second, 1000, 150);
  const positions it = items(L);
  positions order = {it[2], it[0], it[7], it[1], it[3], it[4], it[5], it[6]};
  L.permute(order.data());
  EXPECT_EQ(items(L), order);
  EXPECT_TRUE(L.verify());
}

// ---- the typed layer ----------------------------------------------------------------------------

TEST_F(TypedList, TypeIdsAndOwnCopiesOfTheElements) {
  EXPECT_EQ(tavo_list<int>().el_type_id(), tavo_id_int);
  EXPECT_EQ(tavo_list<float>().el_type_id(), tavo_id_float);
  EXPECT_EQ(tavo_list<double>().el_type_id(), tavo_id_double);
  EXPECT_EQ(tavo_list<char*>().el_type_id(), tavo_id_word);
  EXPECT_EQ(tavo_list<short>().el_type_id(), tavo_id_word);
  EXPECT_EQ(tavo_list<tavo_string>().el_type_id(), tavo_id_other);
  typedef tavo_three_tuple<int, int, int> triple;
  tavo_list<triple> L;
  triple t(1, 2, 3);
  L.append(t);
  L.push(triple(0, 0, 0));
  L.insert(triple(9, 9, 9), L.first_item(), 0);
  t.first() = 100;  // the list holds its own copy
  EXPECT_EQ(L.el_type_id(), tavo_id_other);
  EXPECT_EQ(L.tail().first(), 1);
  EXPECT_EQ(L.Pop().third(), 3);
  EXPECT_EQ(L.pop().first(), 0);
  L.del_item(L.first_item());
  EXPECT_TRUE(L.verify() && L.empty());
}

TEST_F(TypedList, OrderingByCompareIsDirectForBuiltInTypes) {
  struct counting : tavo_list<int> {
    using tavo_list<int>::tavo_list;
    int cmp(value_slot x, value_slot y) const override {
      ++calls;
      return tavo_list<int>::cmp(x, y);
    }
    mutable int calls = 0;
  };
  counting L{5, 3, 9, 1, 3};
  L.sort();
  EXPECT_EQ(elements(L), (ints{1, 3, 3, 5, 9}));
  EXPECT_EQ(L.calls, 0);
  EXPECT_FALSE(L.in_natural_order());
  L.sort(descending);
  EXPECT_EQ(elements(L), (ints{9, 5, 3, 3, 1}));
  EXPECT_GT(L.calls, 0);
  L.merge_sort();
  EXPECT_EQ(L.compare_function(), nullptr);  // back to compare(int, int)
  EXPECT_EQ(L[L.max(descending)], 1);
  EXPECT_EQ(L.rank(9, descending), 5);
  EXPECT_EQ(L.search(5), L.get_item(3));
  tavo_list<int> D{9, 5}, E{7, 1}, K{13, 4, 8, 20, 3};
  D.merge(E, descending);
  EXPECT_EQ(elements(D), (ints{9, 7, 5, 1}));
  K.bucket_sort(key_mod5);  // keys 3 4 3 0 3
  EXPECT_EQ(elements(K), (ints{20, 13, 8, 3, 4}));
  K.apply([](int& x) { x *= 2; });
  int sum = 0;
  for (const int& x : static_cast<const tavo_list<int>&>(K)) sum += x;
  EXPECT_EQ(sum, 96);
  tavo_list<float> F{1.0f, 3.0f}, G{2.0f, 3.0f};
  F.merge(G);
  F.unique();
  EXPECT_EQ(elements(F), (std::vector<float>{1.0f, 2.0f, 3.0f}));
}

TEST_F(TypedList, ElementsWithoutCompareReportWhenOrderedByIt) {
  struct plain {
    int v;
  };
  tavo_list<plain> L;
  L.append(plain{2});
  L.append(plain{1});
  EXPECT_DEATH(L.sort(), fatal_report("tavo_cmp_base: compare undefined"));
  L.sort([](const plain& a, const plain& b) { return compare(a.v, b.v); });
  EXPECT_EQ(L.head().v, 1);
}

TEST_F(TypedList, StringListsShareTextOwnTheirCopiesAndOrderByCompare) {
  auto* L = new tavo_list<tavo_string>;
  for (const char* s : {"pear", "apple", "fig", "apple"}) L->append(s);
  tavo_list<tavo_string> C(*L), A;
  A.append("old");
  A = *L;
  EXPECT_EQ(C.head().refs(), 3);  // L, C and A share each text
  delete L;
  EXPECT_EQ(C.head().refs(), 2);
  tavo_string keep = C.tail();
  C.remove(keep);             // through compare; the removed strings are destroyed
  EXPECT_EQ(keep.refs(), 2);  // keep and A's copy
  C.sort();
  std::vector<std::string> texts;
  for (const tavo_string& s : C) texts.push_back(s.cstring());
  EXPECT_EQ(texts, (std::vector<std::string>{"fig", "pear"}));
  A.merge_sort();
  A.unique();
  EXPECT_EQ(A.rank("pear"), 3);
  EXPECT_EQ(A.Pop(), "pear");
  tavo_list<tavo_string> M = A + C;
  EXPECT_EQ(M.length(), 4);
  std::ostringstream out;
  M.print(out, "", ',');  // no print hook for strings: only the separators
  EXPECT_EQ(out.str(), ",,,");
  std::istringstream in("x y");
  M.read(in, "", -1);  // nor a read hook: reading stops instead of spinning
  EXPECT_TRUE(M.empty() && M.verify() && C.verify());
}

// A pipe tells no position: reading with no read hook still ends (in a child
// with an alarm, so a reading that spins fails instead of hanging the suite).
TEST(TypedListDeathTest, ReadingFromAPipeWithoutAReadHookEnds) {
  const auto read_pipe = [] {
    alarm(10);
    int fds[2];
    if (pipe(fds) != 0 || write(fds[1], "a b", 3) != 3) std::_Exit(2);
    close(fds[1]);
    __gnu_cxx::stdio_filebuf<char> buffer(fds[0], std::ios::in);
    std::istream in(&buffer);
    tavo_list<tavo_string> L;
    L.read(in, "", -1);
    std::_Exit(L.empty() && in.fail() && L.verify() ? 0 : 1);
  };
  EXPECT_EXIT(read_pipe(), testing::ExitedWithCode(0), "");
}

// ---- differential test
// -----------------------------------------------------------------------------

TEST_F(ListDifferential, RandomOperationsMatchStdList) {
  std::mt19937 rng(2024);
  auto pick = [&](int n) { return int(rng() % unsigned(n)); };
  for (int round = 0; round < 12; ++round) {
    tavo_list<int> L;
    std::list<int> S;
    for (int step = 0; step < 400; ++step) {
      const int n = int(S.size()), v = pick(12), k = n ? pick(n) : 0, dir = pick(2);
      const int e = pick(n + 1);  // a position or the end
      dlink* before = e < n ? L.get_item(e) : nullptr;
      auto at = [&](int i) { return std::next(S.begin(), i); };
      tavo_list<int> M;  // a second list for splice and merge
      std::list<int> SM;
      for (int j = pick(6); j > 0; --j) {
        M.append(j + v);
        SM.push_back(j + v);
      }
      switch (pick(15)) {
        case 0:
          dir ? L.push(v) : L.append(v);
          dir ? S.push_front(v) : S.push_back(v);
          break;
        case 1:
          if (n) {
            L.insert(v, L.get_item(k), dir);
            S.insert(std::next(at(k), 1 - dir), v);
          }
          break;
        case 2:
          if (n) {
            ASSERT_EQ(dir ? L.pop() : L.Pop(), dir ? S.front() : S.back());
            dir ? S.pop_front() : S.pop_back();
          }
          break;
        case 3:
          if (n) {
            L.del_item(L.get_item(k));
            S.erase(at(k));
          }
          break;
        case 4:
          L.remove(v);
          S.remove(v);
          break;
        case 5:
          L.unique();
          S.unique();
          break;
        case 6:
          dir ? L.sort() : L.merge_sort();
          S.sort();
          break;
        case 7:
          dir ? L.reverse() : L.reverse_items();
          S.reverse();
          break;
        case 8:
          if (n) {  // cut and join again
            tavo_list<int> A, B;
            L.split(L.get_item(k), A, B, dir);
            ASSERT_EQ(A.length(), k + 1 - dir);
            L.conc(B, 0);
            L.conc(A, 1);
          }
          break;
        case 9:
          if (n) {
            const int x = *at(k);
            S.erase(at(k));
            dir ? L.move_to_front(L.get_item(k)) : L.move_to_back(L.get_item(k));
            dir ? S.push_front(x) : S.push_back(x);
          }
          break;
        case 10: {  // M's items a .. b-1 (b == m: to its end) in front of position e
          const int m = int(SM.size()), a = m ? pick(m) : 0, b = a + pick(m - a + 1);
          L.splice(before, M, m ? M.get_item(a) : nullptr, b < m ? M.get_item(b) : nullptr);
          S.splice(at(e), SM, std::next(SM.begin(), a), std::next(SM.begin(), b));
          ASSERT_EQ(elements(M), ints(SM.begin(), SM.end()));
          break;
        }
        case 11: {
          L.bucket_sort(key_mod5);
          ints s(S.begin(), S.end());
          std::stable_sort(s.begin(), s.end(), [](int x, int y) { return x % 5 < y % 5; });
          S.assign(s.begin(), s.end());
          break;
        }
        case 12:
          L.sort();
          M.sort();
          L.merge(M);
          S.sort();
          SM.sort();
          S.merge(SM);
          break;
        case 13: {
          L.permute();
          ints a = elements(L), b(S.begin(), S.end());
          std::sort(a.begin(), a.end());
          std::sort(b.begin(), b.end());
          ASSERT_EQ(a, b);
          S.assign(L.begin(), L.end());
          break;
        }
        case 14:
          L.splice(before, M);
          S.splice(at(e), SM);
          break;
      }
      ASSERT_TRUE(L.verify()) << "step " << step;
      ASSERT_EQ(elements(L), ints(S.begin(), S.end())) << "step " << step;
      ASSERT_EQ(L.length(), int(S.size()));
    }
  }
}

// ---- reports
// ---------------------------------------------------------------------------------------

TEST_F(ListDeathTest, EveryReportHasItsCodeAndText) {
  int_dlist E, L{1, 2, 3}, M{4}, F{1, 2, 3, 4}, K{30, 100, 20};  // K's keys 3 10 2
  dlink* first = L.first_item();
  dlink* last = L.last_item();
  tavo_list<int> T;
  EXPECT_REPORT(L.get_item(3), 1, "dlist::get_item: index out of range");
  EXPECT_REPORT(L.get_item(-1), 1, "dlist::get_item: index out of range");
  EXPECT_REPORT(L.insert(tavo_cast(0), first, 2), 1, "dlist::insert: illegal dir argument.");
  EXPECT_REPORT(T.insert(5, nullptr, 3), 1, "dlist::insert: illegal dir argument.");
  EXPECT_REPORT(E.pop(), 1, "dlist: pop on empty list.");
  EXPECT_REPORT(T.Pop(), 1, "dlist: Pop on empty list.");
  EXPECT_REPORT(L.del(nullptr), 999, "dlist: delete nil-item");
  EXPECT_REPORT(T.del_item(nullptr), 999, "dlist: delete nil-item");
  EXPECT_REPORT(L.conc(M, 2), 1, "dlist::conc: illegal dir argument.");
  EXPECT_REPORT(E.split(nullptr, L, M, 1), 1, "dlist::split: list is empty.");
  EXPECT_REPORT(L.split(first, M, M, 1), 1, "dlist::split: identical arguments.");
  EXPECT_REPORT(L.split(first, E, M, -1), 1, "dlist::split: illegal dir argument.");
  EXPECT_REPORT(L.splice(first, L), 1, "list::splice: cannot splice list into itself");
  EXPECT_REPORT(L.move_to_front(nullptr), 1, "dlist::move_to_front: nil argument");
  EXPECT_REPORT(L.move_to_back(nullptr), 1, "dlist::move_to_back: nil argument");
  EXPECT_REPORT(E.reverse_items(nullptr, nullptr), 1, "dlist::reverse_items:  empty list.");
  EXPECT_REPORT(L.reverse_items(nullptr, last), 1, "dlist::reverse_items: illegal arguments.");
  EXPECT_REPORT(L.reverse_items(last, first), 1,
                "dlist::reverse_items(it1,it2): it1 not before it2");
  EXPECT_REPORT(L.reverse(first, nullptr), 1, "list::reverse(it1,it2): illegal arguments.");
  // it2 before it1: the walk exchanges 3 and 1, then runs into nil.
  EXPECT_REPORT(F.reverse(F.get_item(2), F.first_item()), 1,
                "list::reverse(it1,it2): illegal arguments.");
  EXPECT_REPORT(K.bucket_sort(0, 9), 4, "bucket_sort: value 10 out of range");
  EXPECT_REPORT(K.bucket_sort(INT_MIN, INT_MAX), 1,
                "list::bucketsort: cannot allocate 4294967296 buckets (out of memory)");
}

// Misuse that would corrupt a list or read a released item: reported in
// hardened mode, which the tests always use, even under a returning handler.
TEST_F(ListDeathTest, HardenedModeReportsMisuseInsteadOfCrashing) {
  int_dlist L{1, 2, 3}, M{4};
  EXPECT_REPORT(L.conc(L), 1, "dlist: conc of a list with itself.");
  EXPECT_REPORT(L.conc(L, 1), 1, "dlist: conc of a list with itself.");
  tavo_list<double> E;
  EXPECT_REPORT(E.head(), 1, "tavo_list: head on empty list.");
  EXPECT_REPORT(E.tail(), 1, "tavo_list: tail on empty list.");
  const tavo_list<double>& C = E;
  EXPECT_REPORT(C.head(), 1, "tavo_list: head on empty list.");
  dlist::item middle = L.get_item(1);
  EXPECT_REPORT(M.del(middle), 1, "dlist: del of an item not in this list.");
  EXPECT_REPORT((L.del(middle), L.del(middle)), 1, "dlist: del of an item not in this list.");
  tavo_list<tavo_string> S{"a", "b", "c"};
  tavo_list<tavo_string>::item b = S.get_item(1);
  EXPECT_REPORT((S.del_item(b), S.del_item(b)), 1, "dlist: del of an item not in this list.");
  EXPECT_EXIT((report_recorder(), E.head()), testing::KilledBySignal(SIGABRT), "");
  // The first and the last item need no walk; a list keeps working after.
  L.del(L.last_item());
  L.del(L.first_item());
  EXPECT_EQ(values(L), (ints{2}));
  EXPECT_TRUE(L.verify());
}

TEST_F(ListDeathTest, ReportedCallsChangeNothing) {
  static std::vector<int> codes;
  codes.clear();
  const tavo_error_handler_type saved = std_error_handler;
  std_error_handler = [](int code, const char*) { codes.push_back(code); };  // returns
  int_dlist E, L{1, 2, 3}, M{4, 5};
  const positions before_calls = items(L);
  dlink* first = before_calls.front();
  EXPECT_EQ(E.pop(), nullptr);
  EXPECT_EQ(L.get_item(7), nullptr);
  EXPECT_EQ(L.insert(tavo_cast(9), first, 5), nullptr);
  EXPECT_EQ(L.del(nullptr), nullptr);
  L.conc(M, 3);
  L.split(first, M, M, 0);
  L.split(first, E, M, 4);
  L.splice(nullptr, L);
  L.reverse_items(L.last_item(), first);
  L.move_to_back(nullptr);
  std_error_handler = saved;
  EXPECT_EQ(codes, (ints{1, 1, 1, 999, 1, 1, 1, 1, 1, 1}));
  EXPECT_EQ(items(L), before_calls);
  EXPECT_EQ(values(M), (ints{4, 5}));
  EXPECT_TRUE(L.verify() && M.verify() && E.verify());
  EXPECT_EQ(L.cached_count(), 3);
}

}  // namespace
