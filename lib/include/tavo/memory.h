// tavo/memory.h - the size-class memory manager behind every library object.
//
// What it is
//   For every exact object size s in 1 .. max_size the manager keeps a singly
//   linked free list of equal chunks carved from blocks of 8188 bytes taken
//   from malloc. Larger requests ("vectors") go to malloc with an 8-byte
//   length header. Chunks carry no header: whoever releases a chunk passes the
//   size it asked for, and the chunk returns to that class. Free chunks are
//   reused last in, first out; nothing is coalesced; a class gives its blocks
//   back to the system only through clear() (when all its chunks are free),
//   kill() and destroy().
//
// Ownership
//   One global instance, std_memory_mgr, serves the whole library. It is set
//   up by the first memory_manager_init guard constructed in the process and
//   torn down by the last one destroyed (see tavo/startup.h), so it outlives
//   every static object of every unit. Further instances may be constructed;
//   they set themselves up in their constructor and destroy() in their
//   destructor. A chunk belongs to its user from allocation to release; the
//   blocks belong to the manager.
//
// Layout (u = chunk length of class s, see chunk_length())
//   block:  [ link to previous block of the class | chunk 1 | ... | chunk k ]
//           bytes 0..u-1                  u           k*u,  k = L/u - 1
//           L = 8188 for a standard block, (n+1)*u for a block of n chunks.
//   chunk:  a free chunk's first word (a pointer) is the link to the next
//           free chunk. Chunks are only 4-byte aligned, so links are read and
//           written with memcpy (a plain mov on x86).
//   vector: [ whole length n+8 | unused ] user bytes...  (8-byte header; the
//           length is one pointer-sized word, the rest is never written)
//   Chunks per standard block: 8188/u - 1, e.g. 681 for classes 9..12, 510 for
//   13..16, 30 for 253..255, and 8188/sizeof(void*) - 1 for the classes whose
//   size is below a pointer (2046 on 32-bit, 1022 on 64-bit).
//
// Invariants per class i (checked by verify()):
//   chunk_count[i] == chunks in use + chunks on free_list[i]   (so the free
//                     list is acyclic and holds at most chunk_count[i] chunks)
//   block_count[i] == blocks on block_list[i];  no block => no chunk
//   every free chunk of class i lies at a whole chunk offset inside a block of
//   class i
//
// Cost
//   allocate_bytes / deallocate_bytes / the class hook: an array index and a
//   list pop or push, one unlikely branch to the out-of-line refill(); malloc
//   once per block. allocate_block: O(chunks carved). allocate_list: O(n);
//   deallocate_list: O(1). clear(): O(free chunks + blocks). kill(): O(blocks).
//   Vectors: one malloc / free each.
//
// Failure
//   A size of 0 or above max_size reaching allocate_block is reported with
//   error_handler(1, "allocate_block: illegal size (%d bytes)"). malloc
//   failing (for a block, a vector or the tables of init) writes an end of
//   line to cerr, prints the statistics table and reports
//   error_handler(999, "TAVO Memory Manager: Out of memory."). Both are fatal
//   under the standard handler; should an installed handler return, the
//   counters are taken back, nothing is dereferenced and the operation yields
//   null (or leaves the class unchanged). Wrong sizes, double or foreign
//   releases are not detected on the fast paths; deallocate_bytes_with_check
//   and verify() find double releases.
#ifndef TAVO_MEMORY_H
#define TAVO_MEMORY_H

#include <cstddef>
#include <cstdint>
#include <cstring>

// The free-list machinery and the checking tools' hooks (AddressSanitizer,
// valgrind) live in tavo/internal/memory_impl.h.
#include "tavo/internal/memory_impl.h"

class memory_manager;

// The class allocation hook's storage functions (defined below).
inline void* tavo_hook_allocate(std::size_t s);
inline void tavo_hook_release(void* p, std::size_t s);

class memory_manager {
 public:
  // Length of a standard block in bytes.
  static constexpr int block_bytes = 8188;

  // Chunk length of class s: s rounded up to whole 4-byte words, but at least
  // one pointer, since a free chunk holds a link.
  static constexpr std::size_t chunk_length(std::size_t s) {
    return tavo_memory_internal::chunk_length(s);
  }

  // Constructs an instance named "USR_MEMORY_MGR" / `name` by calling init.
  // Does nothing when the object is std_memory_mgr (the guard set it up).
  explicit memory_manager(int table_size);
  memory_manager(int table_size, const char* name);
  // destroy(), except for std_memory_mgr, which the last guard destroys.
  ~memory_manager();

  memory_manager(const memory_manager&) = delete;
  memory_manager& operator=(const memory_manager&) = delete;

  // Requires table_size >= 1. max_size = table_size - 1; copies `name`,
  // truncated to 63 characters; allocates the four tables (free lists, block
  // lists, chunk counts, block counts) and zeroes them; alloc_count = 0. If
  // malloc fails the tables obtained are given back, the instance stays
  // uninitialised (tables null) and out of memory is reported.
  void init(int table_size, const char* name);

  // --- small objects -------------------------------------------------------
  // bytes >= max_size: a vector. Otherwise a chunk of class `bytes`, carving a
  // new standard block when the class has no free chunk. 0 bytes is fatal
  // (illegal size), even when entry 0 holds a kept-back vector.
  inline void* allocate_bytes(std::size_t bytes);
  // bytes >= max_size: deallocate_vector(p). Otherwise p goes to the front of
  // free_list[bytes]. p is not tested.
  inline void deallocate_bytes(void* p, std::size_t bytes);
  // Adds a block of class `bytes`: n < 0 a standard block, n > 0 a block of n
  // chunks, n == 0 nothing (not even the size test). The counters are raised
  // before malloc is asked. The new chunks go in front of the free list, in
  // ascending address order. Illegal size and out of memory are fatal.
  void allocate_block(std::size_t bytes, int n);
  // Takes n chunks of class `bytes` (1 .. max_size) off the free list at once,
  // as a chain linked through their first words, and returns the first. The
  // n-th chunk's link still points into the free list: use exactly n chunks.
  // With only m < n free chunks, a block of n - m chunks is added: the chain
  // is the n - m new chunks, then the m old ones, and the list is left empty.
  // n <= 0 takes nothing and returns the head of the free list (not a chunk).
  void* allocate_list(std::size_t bytes, int n);
  // Gives back, in constant time, a chain head .. tail of class `bytes`
  // (1 .. max_size): tail's link takes the old head, head becomes the head.
  void deallocate_list(void* head, void* tail, std::size_t bytes);

  // --- vectors --------------------------------------------------------------
  // One malloc of bytes + 8 with the length in the header; 0 bytes gives a
  // valid address with no usable byte. Counted in entry 0 while a guard is
  // alive (memory_manager_init::count != 0) and the instance is initialised.
  // Out of memory (including bytes + 8 overflowing) is reported like a
  // failing block; null if an installed handler returns.
  void* allocate_vector(std::size_t bytes);
  // Releases a vector (uncounting it as above); null is ignored.
  void deallocate_vector(void* p);
  // Releases a vector but keeps its memory in entry 0 of the free lists until
  // the next such call (which frees the older one) or destroy(). p must not be
  // null. On an uninitialised instance the memory is freed at once.
  void deallocate_vector_with_delay(void* p);

  // --- housekeeping (clear and kill do nothing on an uninitialised instance) -
  // Frees the blocks of every class whose chunks are all free (a class with
  // any chunk in use keeps all its blocks). alloc_count and the vector entries
  // are left as they are.
  void clear();
  // Frees every block of every class, in use or not, and zeroes the class
  // entries; alloc_count = 0. Vectors and entry 0 stay. Chunks handed out
  // before are invalid afterwards.
  void kill();
  // Prints the leak report, then the statistics table, if TAVO::option_list
  // contains "show_memory_leaks" / "show_memory_statistics"; clear()s; frees
  // the kept-back vector and the tables (all set to null); alloc_count = 0.
  // Blocks of classes still in use stay until the process ends. A second call
  // does nothing.
  void destroy();
  // Bytes taken from the system and counted as in use (alloc_count).
  std::int64_t used_memory() const { return alloc_count; }

  // Checks the invariants above for every class; returns false (and says why
  // on stderr) when one does not hold. O(free chunks x blocks); for tests.
  bool verify() const;

  // --- checks and reports ---------------------------------------------------
  // allocate_bytes under another name; it tests nothing more.
  void* allocate_bytes_with_check(std::size_t bytes);
  // deallocate_bytes with two tests, both error 999: a class that never had a
  // block ("no block allocated") and p already free ("TAVO memory: pointer %d
  // deleted twice", the address as a signed integer). O(free chunks of the
  // class). If an installed handler returns, a p found free is left as it
  // is (the free list unchanged); after "no block allocated" p is released.
  void deallocate_bytes_with_check(void* p, std::size_t bytes);
  // Prints on stderr ("0x%lx\n", ascending) the address of every chunk in use
  // in the newest block of class `bytes`, which must be a standard block.
  // Works for every class 1 .. max_size: the free chunks are recognised with
  // a bitmap on the stack, nothing is written into them. O(free chunks).
  void check_free_list(int bytes);
  // Statistics table on stderr: one row per class holding blocks, the vector
  // row if vectors were allocated, time and space. O(free chunks).
  void print_statistics();
  // Leak report on stderr: one row per class with chunks in use; nothing at
  // all if there is none. Vectors are not shown. O(free chunks).
  void print_used_memory();

  // --- read-only views for reports and tests --------------------------------
  int table_max() const { return max_size; }
  const char* manager_name() const { return name; }
  bool initialised() const { return free_list != nullptr; }
  std::int64_t chunks(int i) const { return chunk_count[i]; }
  std::int64_t blocks(int i) const { return block_count[i]; }
  void* first_block(int i) const { return block_list[i]; }
  void* first_free(int i) const { return free_list[i]; }
  // Number of chunks on free_list[i] (walks the list).
  std::int64_t free_chunks(int i) const;

  // The link in the first word of a chunk in use (a chain from
  // allocate_list, a dlink chain before deallocate_list) or of a block.
  TAVO_LINK_ACCESS static void* link(const void* chunk) {
    return tavo_memory_internal::load_word(chunk);
  }
  TAVO_LINK_ACCESS static void set_link(void* chunk, void* next) {
    tavo_memory_internal::store_word(chunk, next);
  }

 private:
  friend void* tavo_hook_allocate(std::size_t s);
  friend void tavo_hook_release(void* p, std::size_t s);
  // Slow path of allocate_bytes and the hook (not inlined): carves a standard
  // block for class s and pops its first chunk. s == 0 is reported as an
  // illegal size; returns null only when an installed handler returns from a
  // fatal report.
  void* refill(std::size_t s);

  // Opens the n chunks of a chain just taken off a free list to the checking
  // tools (nothing without them).
  void mark_chain_taken(void* head, int n, std::size_t s);
  // End of line on cerr, the statistics table, then error 999.
  void out_of_memory();

  // Fields (no default member initialisers: std_memory_mgr is set up by the
  // guard before its own constructor runs, and that constructor must not
  // overwrite what the guard wrote).
  int max_size;              // largest class served from free lists
  char name[64];             // NUL-terminated, at most 63 characters
  std::int64_t alloc_count;  // block bytes + whole lengths of live vectors
  // Tables of table_size entries. Entry i >= 1 describes class i; entry 0:
  //   chunk_count[0] = bytes of live vectors (headers included)
  //   block_count[0] = vectors allocated so far (never lowered)
  //   free_list[0]   = the vector kept back by deallocate_vector_with_delay
  std::int64_t* chunk_count;  // chunks carved for class i and still held by it
  std::int64_t* block_count;  // blocks held by class i
  void** block_list;          // newest block of class i; blocks chain through word 0
  void** free_list;           // first free chunk of class i; null: uninitialised
};

// The library's global manager, 256 table entries (classes 1 .. 255).
extern memory_manager std_memory_mgr;

// Start-up guard: every library unit and every program unit using the library
// holds one (tavo/startup.h). The first one constructed initialises
// std_memory_mgr ("STD_MEMORY_MGR", 256 entries) and reads the options; the
// one that brings `count` back to 0 destroys it.
class memory_manager_init {
 public:
  static int count;  // guards constructed and not yet destroyed
  memory_manager_init();
  ~memory_manager_init();
};

// ---- inline fast paths ------------------------------------------------------

// Each is a bound test, an index and the one pop (push) of
// tavo/internal/memory_impl.h, with one unlikely branch to refill().

inline void* memory_manager::allocate_bytes(std::size_t bytes) {
  if (bytes >= static_cast<std::size_t>(max_size)) return allocate_vector(bytes);
  if (__builtin_expect(free_list[bytes] == nullptr || bytes == 0, 0)) return refill(bytes);
  return tavo_memory_internal::pop_chunk(free_list[bytes], bytes);
}

inline void memory_manager::deallocate_bytes(void* p, std::size_t bytes) {
  if (bytes >= static_cast<std::size_t>(max_size)) {
    deallocate_vector(p);
    return;
  }
  tavo_memory_internal::push_chunk(free_list[bytes], p, bytes);
}

// The class allocation hook: objects of 1 .. 255 bytes come from the free list
// of exactly their size in std_memory_mgr, larger ones from allocate_bytes.
// The bound 255 belongs to the hook, not to the instance's max_size.
constexpr std::size_t tavo_hook_limit = 255;

inline void* tavo_hook_allocate(std::size_t s) {
  if (s > tavo_hook_limit) return std_memory_mgr.allocate_bytes(s);
  void*& head = std_memory_mgr.free_list[s];
  if (__builtin_expect(head == nullptr, 0)) return std_memory_mgr.refill(s);
  return tavo_memory_internal::pop_chunk(head, s);
}

inline void tavo_hook_release(void* p, std::size_t s) {
  if (s > tavo_hook_limit) {
    std_memory_mgr.deallocate_bytes(p, s);
    return;
  }
  tavo_memory_internal::push_chunk(std_memory_mgr.free_list[s], p, s);
}

// Declares the class allocation hook inside a class body: new and delete of
// the class take their storage from std_memory_mgr with the object's size.
#define TAVO_MEMORY_HOOK                                \
  static void* operator new(std::size_t s) {            \
    return ::tavo_hook_allocate(s);                     \
  }                                                     \
  static void operator delete(void* p, std::size_t s) { \
    ::tavo_hook_release(p, s);                          \
  }

// The hook plus the placement form new (where, 0) that constructs in place.
#define TAVO_MEMORY_HOOK_WITH_PLACEMENT                      \
  TAVO_MEMORY_HOOK                                           \
  static void* operator new(std::size_t, void* where, int) { \
    return where;                                            \
  }                                                          \
  static void operator delete(void*, void*, int) {}

// Whoever includes this header gets the unit's start-up guard too, so its own
// static objects may use std_memory_mgr.
#include "tavo/startup.h"

#endif  // TAVO_MEMORY_H
