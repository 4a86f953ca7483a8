// tavo/internal/memory_impl.h - the memory manager's machinery: the free-list
// links, the checking tools' hooks, and the one pop and the one push that
// every allocation and release path uses. Included by tavo/memory.h for its
// inline fast paths; users of the library need not read it.
//
// Free-list links live in the first word of a chunk, which may be only 4-byte
// aligned: they are read and written as unaligned words (a plain mov on x86).
//
// Checking tools
//   Chunks come from blocks the manager owns, so neither AddressSanitizer nor
//   valgrind sees them come and go on their own. Two builds tell them:
//   - AddressSanitizer (detected from the compiler): a free chunk is poisoned
//     whole, link word included; allocation unpoisons the bytes asked for.
//     The links are read and written by functions exempt from the sanitizer
//     (TAVO_LINK_ACCESS), so the links can live in poisoned words and every
//     walk of a free list (verify, clear, check_free_list, the statistics)
//     stays silent. A read or write through a released object is then
//     reported as a use after poison.
//   - valgrind (-DTAVO_VALGRIND=ON and <valgrind/memcheck.h> present): a
//     chunk handed out is a MALLOCLIKE block, a released one a FREELIKE block
//     (no access); free_link and set_free_link open the link word for the
//     duration of the access and close it again. In this build link() and
//     set_link() are for chains of chunks in use only.
//   In other builds none of this is compiled: the fast paths are unchanged.
//   With checking, deallocate_list walks the chain it releases (O(length))
//   and allocate_list marks each chunk it hands out.
#ifndef TAVO_INTERNAL_MEMORY_IMPL_H
#define TAVO_INTERNAL_MEMORY_IMPL_H

#include <cstddef>
#include <cstring>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TAVO_CHECK_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) && !defined(TAVO_CHECK_ASAN)
#define TAVO_CHECK_ASAN 1
#endif
#if defined(TAVO_VALGRIND) && defined(__has_include)
#if __has_include(<valgrind/memcheck.h>)
#define TAVO_CHECK_VALGRIND 1
#endif
#endif

#ifdef TAVO_CHECK_ASAN
#include <sanitizer/asan_interface.h>
#define TAVO_LINK_ACCESS __attribute__((no_sanitize_address))
#else
#define TAVO_LINK_ACCESS
#endif
#ifdef TAVO_CHECK_VALGRIND
#include <valgrind/memcheck.h>
#include <valgrind/valgrind.h>
#endif

namespace tavo_memory_internal {

// Chunk length of class s: s rounded up to whole 4-byte words, but at least
// one pointer, since a free chunk holds a link.
constexpr std::size_t chunk_length(std::size_t s) {
  return ((s + 3) / 4) * 4 < sizeof(void*) ? sizeof(void*) : ((s + 3) / 4) * 4;
}

// One pointer-sized word at a possibly 4-byte aligned address. With
// AddressSanitizer a plain load / store in an exempt function (a memcpy
// could become a checked library call in an unoptimised build).
#ifdef TAVO_CHECK_ASAN
struct __attribute__((packed, may_alias)) unaligned_word {
  void* value;
};
TAVO_LINK_ACCESS inline void* load_word(const void* at) {
  return static_cast<const unaligned_word*>(at)->value;
}
TAVO_LINK_ACCESS inline void store_word(void* at, void* value) {
  static_cast<unaligned_word*>(at)->value = value;
}
#else
inline void* load_word(const void* at) {
  void* value;
  std::memcpy(&value, at, sizeof value);
  return value;
}
inline void store_word(void* at, void* value) {
  std::memcpy(at, &value, sizeof value);
}
#endif

// The link of a free chunk (see "Checking tools").
TAVO_LINK_ACCESS inline void* free_link(const void* chunk) {
#ifdef TAVO_CHECK_VALGRIND
  VALGRIND_MAKE_MEM_DEFINED(chunk, sizeof(void*));
  void* next = load_word(chunk);
  VALGRIND_MAKE_MEM_NOACCESS(chunk, sizeof(void*));
  return next;
#else
  return load_word(chunk);
#endif
}
TAVO_LINK_ACCESS inline void set_free_link(void* chunk, void* next) {
#ifdef TAVO_CHECK_VALGRIND
  VALGRIND_MAKE_MEM_UNDEFINED(chunk, sizeof(void*));
  store_word(chunk, next);
  VALGRIND_MAKE_MEM_NOACCESS(chunk, sizeof(void*));
#else
  store_word(chunk, next);
#endif
}

// A chunk of class s leaves / joins a free list: tells the checking tools
// (nothing in a build without them). `taken` opens the s bytes asked for;
// `released` closes the whole chunk and must come after its link was written.
inline void note_taken(void* p, std::size_t s) {
#ifdef TAVO_CHECK_ASAN
  ASAN_UNPOISON_MEMORY_REGION(p, s);
#endif
#ifdef TAVO_CHECK_VALGRIND
  VALGRIND_MALLOCLIKE_BLOCK(p, s, 0, 0);
#endif
  (void)p;
  (void)s;
}
inline void note_released(void* p, std::size_t s) {
#ifdef TAVO_CHECK_VALGRIND
  VALGRIND_FREELIKE_BLOCK(p, 0);
  VALGRIND_MAKE_MEM_NOACCESS(p, chunk_length(s));
#endif
#ifdef TAVO_CHECK_ASAN
  ASAN_POISON_MEMORY_REGION(p, chunk_length(s));
#endif
  (void)p;
  (void)s;
}

// The pop: takes the first chunk off a non-empty free list `head` of class s
// and opens it. One load and one store without the checking tools.
inline void* pop_chunk(void*& head, std::size_t s) {
  void* const p = head;
  head = free_link(p);
  note_taken(p, s);
  return p;
}

// The push: puts chunk p of class s in front of the free list `head` and
// closes it. Two stores without the checking tools.
inline void push_chunk(void*& head, void* p, std::size_t s) {
  set_free_link(p, head);
  head = p;
  note_released(p, s);
}

}  // namespace tavo_memory_internal

#endif  // TAVO_INTERNAL_MEMORY_IMPL_H
