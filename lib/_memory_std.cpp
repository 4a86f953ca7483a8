// _memory_std.cpp - the size-class memory manager, its checks and reports,
// and the start-up guard that sets up std_memory_mgr.
//
// The unit's own guard (from tavo/startup.h) must be defined before
// std_memory_mgr, so that in this unit, too, the allocator is initialised
// before its constructor runs; hence startup.h comes first.
#include "tavo/startup.h"

#include "tavo/error.h"
#include "tavo/memory.h"
#include "tavo/runtime.h"
#include "tavo/string.h"

#include <cassert>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "tavo/internal/memory_impl.h"

// The machinery's link access, checking-tool hooks, pop and push.
using tavo_memory_internal::free_link;
using tavo_memory_internal::note_released;
using tavo_memory_internal::note_taken;
using tavo_memory_internal::pop_chunk;
using tavo_memory_internal::push_chunk;
using tavo_memory_internal::set_free_link;

// Constant-initialised: guards of units initialised before this one count on
// it being 0 at program start.
int memory_manager_init::count = 0;

// Its constructor does nothing: the first guard has initialised it already.
memory_manager std_memory_mgr(256);

namespace {

// Length of the vector header; the whole length lives in its first word.
constexpr std::size_t vector_header = 8;

const char rule_line[] = "\t+--------------------------------------------------+\n";
const char head_line[] = "\t|   size     used     free     blocks     bytes    |\n";

void report_illegal_size(std::size_t s) {
  const tavo_string text("allocate_block: illegal size (%" PRIdPTR " bytes)",
                         static_cast<std::intptr_t>(s));
  error_handler(1, text);
}

void print_time_line(float space_bytes) {
  const float time = TAVO::used_time();
  const float space = space_bytes / 1024.0f;
  std::fprintf(stderr, "\t|   time:%6.2f sec              space:%8.2f kb |\n",
               static_cast<double>(time), static_cast<double>(space));
}

std::size_t read_vector_length(const void* header) {
  std::size_t length;
  std::memcpy(&length, header, sizeof length);
  return length;
}

}  // namespace

// ---- construction -----------------------------------------------------------

memory_manager::memory_manager(int table_size) {
  if (this == &std_memory_mgr) return;
  init(table_size, "USR_MEMORY_MGR");
}

memory_manager::memory_manager(int table_size, const char* name) {
  if (this == &std_memory_mgr) return;
  init(table_size, name);
}

memory_manager::~memory_manager() {
  if (this != &std_memory_mgr) destroy();
}

void memory_manager::init(int table_size, const char* name_text) {
  assert(table_size >= 1 && "a manager needs at least entry 0");
  max_size = table_size - 1;
  if (name_text == nullptr) name_text = "";
  const std::size_t name_length = strnlen(name_text, sizeof name - 1);
  std::memcpy(name, name_text, name_length);
  name[name_length] = '\0';
  alloc_count = 0;
  free_list = nullptr;
  block_list = nullptr;
  chunk_count = nullptr;
  block_count = nullptr;

  const std::size_t entries = static_cast<std::size_t>(table_size);
  void** fl = static_cast<void**>(std::malloc(entries * sizeof(void*)));
  void** bl = static_cast<void**>(std::malloc(entries * sizeof(void*)));
  auto* cc = static_cast<std::int64_t*>(std::malloc(entries * sizeof(std::int64_t)));
  auto* bc = static_cast<std::int64_t*>(std::malloc(entries * sizeof(std::int64_t)));
  if (fl == nullptr || bl == nullptr || cc == nullptr || bc == nullptr) {
    std::free(fl);
    std::free(bl);
    std::free(cc);
    std::free(bc);
    out_of_memory();  // the table shows no class: the instance has none
    return;
  }
  for (std::size_t i = 0; i < entries; ++i) {
    fl[i] = nullptr;
    bl[i] = nullptr;
    cc[i] = 0;
    bc[i] = 0;
  }
  free_list = fl;
  block_list = bl;
  chunk_count = cc;
  block_count = bc;
}

// ---- blocks and chunks ----------------------------------------------------------

void memory_manager::allocate_block(std::size_t s, int n) {
  if (n == 0) return;
  if (s == 0 || s > static_cast<std::size_t>(max_size)) {
    report_illegal_size(s);
    return;
  }
  const std::size_t u = chunk_length(s);
  // 64-bit arithmetic: (n + 1) * u cannot overflow it, whatever size_t is.
  const std::uint64_t length = n < 0 ? block_bytes : (static_cast<std::uint64_t>(n) + 1) * u;
  const std::int64_t k = static_cast<std::int64_t>(length / u) - 1;

  // The counters go up before malloc is asked, so the table printed on
  // failure includes the request.
  alloc_count += static_cast<std::int64_t>(length);
  block_count[s] += 1;
  chunk_count[s] += k;
  char* block = nullptr;
  if (length <= static_cast<std::uint64_t>(PTRDIFF_MAX)) {
    block = static_cast<char*>(std::malloc(static_cast<std::size_t>(length)));
  }
  if (block == nullptr) {
    out_of_memory();
    // Only reached if an installed handler returned: leave the class as it was.
    alloc_count -= static_cast<std::int64_t>(length);
    block_count[s] -= 1;
    chunk_count[s] -= k;
    return;
  }

  set_link(block, block_list[s]);
  block_list[s] = block;

  // One carving pass: chunk j at block + j*u links to chunk j+1, the last one
  // to the chunks that were free already.
  char* const first = block + u;
  char* const last = block + static_cast<std::size_t>(k) * u;
  for (char* c = first; c != last; c += u) set_free_link(c, c + u);
  set_free_link(last, free_list[s]);
  free_list[s] = first;
  // The new chunks are free: closed to the checking tools in one call.
#ifdef TAVO_CHECK_ASAN
  ASAN_POISON_MEMORY_REGION(first, static_cast<std::size_t>(k) * u);
#endif
#ifdef TAVO_CHECK_VALGRIND
  VALGRIND_MAKE_MEM_NOACCESS(first, static_cast<std::size_t>(k) * u);
#endif
}

void* memory_manager::refill(std::size_t s) {
  allocate_block(s, -1);
  if (s == 0 || s > static_cast<std::size_t>(max_size)) return nullptr;
  if (free_list[s] == nullptr) return nullptr;  // out of memory and the handler returned
  return pop_chunk(free_list[s], s);
}

void memory_manager::out_of_memory() {
  // This may run during static initialisation, before this unit's stream
  // set-up: make sure cerr is constructed.
  static const std::ios_base::Init streams;
  std::cerr << std::endl;
  print_statistics();
  error_handler(999, "TAVO Memory Manager: Out of memory.");
}

void* memory_manager::allocate_list(std::size_t s, int n) {
  assert(s >= 1 && s <= static_cast<std::size_t>(max_size) && "allocate_list: not a size class");
  void* const head = free_list[s];
  if (n <= 0) return head;

  void* p = head;
  int m = 0;
  while (m < n && p != nullptr) {
    p = free_link(p);
    ++m;
  }
  if (m == n) {
    free_list[s] = p;  // the n-th chunk still links here
    mark_chain_taken(head, n, s);
    return head;
  }
  // Only m < n free: n - m new chunks go in front of the m old ones.
  allocate_block(s, n - m);
  void* const chain = free_list[s];
  if (chain == head) return nullptr;  // out of memory and the handler returned
  free_list[s] = nullptr;
  mark_chain_taken(chain, n, s);
  return chain;
}

void memory_manager::mark_chain_taken(void* head, int n, std::size_t s) {
#if defined(TAVO_CHECK_ASAN) || defined(TAVO_CHECK_VALGRIND)
  // Each chunk's link is read before the chunk is opened, as it is free until
  // then; its link stays readable (link()) for the caller.
  void* c = head;
  for (int j = 0; j < n; ++j) {
    void* const next = free_link(c);
    note_taken(c, s);
#ifdef TAVO_CHECK_VALGRIND
    VALGRIND_MAKE_MEM_DEFINED(c, sizeof(void*));
#endif
    c = next;
  }
#else
  (void)head;
  (void)n;
  (void)s;
#endif
}

void memory_manager::deallocate_list(void* head, void* tail, std::size_t s) {
#if defined(TAVO_CHECK_ASAN) || defined(TAVO_CHECK_VALGRIND)
  // With checking every chunk of the chain is closed: one walk.
  for (void* c = head; c != tail;) {
    void* const next = link(c);
    note_released(c, s);
    c = next;
  }
  set_free_link(tail, free_list[s]);
  note_released(tail, s);
#else
  set_link(tail, free_list[s]);
#endif
  free_list[s] = head;
}

std::int64_t memory_manager::free_chunks(int i) const {
  std::int64_t f = 0;
  for (void* c = free_list[i]; c != nullptr; c = free_link(c)) ++f;
  return f;
}

// ---- vectors ----------------------------------------------------------------

void* memory_manager::allocate_vector(std::size_t bytes) {
  if (bytes > static_cast<std::size_t>(PTRDIFF_MAX) - vector_header) {
    out_of_memory();  // bytes + 8 does not even fit the address space
    return nullptr;
  }
  const std::size_t length = bytes + vector_header;
  // Counted only while a guard is alive: static objects built before the
  // first guard or destroyed after the last one may still use vectors.
  const bool counted = memory_manager_init::count != 0 && free_list != nullptr;
  if (counted) {
    alloc_count += static_cast<std::int64_t>(length);
    chunk_count[0] += static_cast<std::int64_t>(length);
    block_count[0] += 1;
  }
  char* header = static_cast<char*>(std::malloc(length));
  if (header == nullptr) {
    out_of_memory();
    if (counted) {  // only reached if an installed handler returned
      alloc_count -= static_cast<std::int64_t>(length);
      chunk_count[0] -= static_cast<std::int64_t>(length);
      block_count[0] -= 1;
    }
    return nullptr;
  }
  std::memcpy(header, &length, sizeof length);
  return header + vector_header;
}

void memory_manager::deallocate_vector(void* p) {
  if (p == nullptr) return;
  char* header = static_cast<char*>(p) - vector_header;
  if (memory_manager_init::count != 0 && free_list != nullptr) {
    const auto length = static_cast<std::int64_t>(read_vector_length(header));
    alloc_count -= length;
    chunk_count[0] -= length;
  }
  std::free(header);
}

void memory_manager::deallocate_vector_with_delay(void* p) {
  assert(p != nullptr && "deallocate_vector_with_delay: null vector");
  char* header = static_cast<char*>(p) - vector_header;
  if (free_list == nullptr) {  // nowhere to keep it
    std::free(header);
    return;
  }
  if (memory_manager_init::count != 0) {
    const auto length = static_cast<std::int64_t>(read_vector_length(header));
    alloc_count -= length;
    chunk_count[0] -= length;
  }
  std::free(free_list[0]);  // the vector kept back before, if any
  free_list[0] = header;
}

// ---- housekeeping -----------------------------------------------------------

void memory_manager::clear() {
  if (free_list == nullptr) return;  // uninitialised or destroyed
  for (int i = 1; i <= max_size; ++i) {
    if (block_list[i] == nullptr && chunk_count[i] == 0) continue;  // never used
    if (chunk_count[i] - free_chunks(i) != 0) continue;             // a chunk in use
    void* block = block_list[i];
    while (block != nullptr) {
      void* older = link(block);
      std::free(block);
      block_count[i] -= 1;
      block = older;
    }
    block_list[i] = nullptr;
    free_list[i] = nullptr;
    chunk_count[i] = 0;
  }
}

void memory_manager::kill() {
  if (free_list == nullptr) return;  // uninitialised or destroyed
  for (int i = 1; i <= max_size; ++i) {
    void* block = block_list[i];
    while (block != nullptr) {
      void* older = link(block);
      std::free(block);
      block = older;
    }
    block_list[i] = nullptr;
    free_list[i] = nullptr;
    chunk_count[i] = 0;
    block_count[i] = 0;
  }
  alloc_count = 0;
}

void memory_manager::destroy() {
  if (free_list == nullptr) return;

  bool show_leaks = false;
  bool show_statistics = false;
  if (TAVO::option_list != nullptr) {
    show_leaks = std::strstr(TAVO::option_list, "show_memory_leaks") != nullptr;
    show_statistics = std::strstr(TAVO::option_list, "show_memory_statistics") != nullptr;
  }
  if (show_leaks) print_used_memory();
  if (show_statistics) print_statistics();

  clear();
  std::free(free_list[0]);  // the vector kept back, if any

  std::free(free_list);
  std::free(block_list);
  std::free(chunk_count);
  std::free(block_count);
  free_list = nullptr;
  block_list = nullptr;
  chunk_count = nullptr;
  block_count = nullptr;
  alloc_count = 0;
}

bool memory_manager::verify() const {
  if (free_list == nullptr) return true;  // uninitialised or destroyed
  bool ok = true;
  auto fail = [&](int i, const char* why) {
    std::fprintf(stderr, "memory_manager::verify (%s): class %d: %s\n", name, i, why);
    ok = false;
  };
  if (chunk_count[0] < 0) fail(0, "negative byte count of live vectors");
  if (block_count[0] < 0) fail(0, "negative vector count");

  for (int i = 1; i <= max_size; ++i) {
    const std::int64_t chunks_held = chunk_count[i];
    const std::int64_t blocks_held = block_count[i];
    std::int64_t on_chain = 0;
    for (void* b = block_list[i]; b != nullptr && on_chain <= blocks_held; b = link(b)) ++on_chain;
    if (on_chain != blocks_held) fail(i, "block chain length differs from block_count");
    if (blocks_held == 0 && (chunks_held != 0 || free_list[i] != nullptr)) {
      fail(i, "chunks without a block");
      continue;
    }
    if (chunks_held < blocks_held) fail(i, "fewer chunks than blocks");

    // At most chunks_held free chunks; more means a cycle (a double release).
    std::int64_t free_seen = 0;
    void* c = free_list[i];
    for (; c != nullptr && free_seen <= chunks_held; c = free_link(c)) ++free_seen;
    if (c != nullptr) {
      fail(i, "more free chunks than chunks carved (a chunk released twice?)");
      continue;
    }

    // Every free chunk at a whole chunk offset inside a block of the class.
    const auto u = static_cast<std::uintptr_t>(chunk_length(static_cast<std::size_t>(i)));
    const std::int64_t standard_k = block_bytes / static_cast<std::int64_t>(u) - 1;
    const auto k_max =
        static_cast<std::uintptr_t>(chunks_held > standard_k ? chunks_held : standard_k);
    for (c = free_list[i]; c != nullptr; c = free_link(c)) {
      const auto addr = reinterpret_cast<std::uintptr_t>(c);
      bool inside = false;
      for (void* b = block_list[i]; b != nullptr && !inside; b = link(b)) {
        const auto start = reinterpret_cast<std::uintptr_t>(b);
        inside = addr > start && (addr - start) % u == 0 && (addr - start) / u <= k_max;
      }
      if (!inside) {
        fail(i, "free chunk outside the blocks of its class");
        break;
      }
    }
  }
  return ok;
}

// ---- checks and reports ---------------------------------------------------------

void* memory_manager::allocate_bytes_with_check(std::size_t bytes) {
  return allocate_bytes(bytes);
}

void memory_manager::deallocate_bytes_with_check(void* p, std::size_t bytes) {
  if (bytes >= static_cast<std::size_t>(max_size)) {
    deallocate_vector(p);
    return;
  }
  if (bytes == 0) {  // entry 0 is no class; never touch the kept-back vector
    error_handler(999, "no block allocated");
    return;
  }
  if (block_count[bytes] == 0) error_handler(999, "no block allocated");
  for (void* c = free_list[bytes]; c != nullptr; c = free_link(c)) {
    if (c == p) {
      const tavo_string text("TAVO memory: pointer %" PRIdPTR " deleted twice",
                             reinterpret_cast<std::intptr_t>(p));
      error_handler(999, text);
      return;  // a returning handler: p is on the list once already
    }
  }
  push_chunk(free_list[bytes], p, bytes);
}

void memory_manager::check_free_list(int bytes) {
  if (free_list == nullptr || bytes < 1 || bytes > max_size) return;
  char* const block = static_cast<char*>(block_list[bytes]);
  if (block == nullptr) return;

  // Chunk j (1 .. k) of the newest block is free when bit j is set. A
  // standard block has at most 8188/4 - 1 chunks.
  const std::size_t u = chunk_length(static_cast<std::size_t>(bytes));
  const std::size_t k = block_bytes / u - 1;
  unsigned char is_free[block_bytes / 4 / 8 + 1] = {};
  const auto start = reinterpret_cast<std::uintptr_t>(block);
  for (void* c = free_list[bytes]; c != nullptr; c = free_link(c)) {
    const auto addr = reinterpret_cast<std::uintptr_t>(c);
    if (addr <= start || (addr - start) % u != 0) continue;
    const std::size_t j = (addr - start) / u;
    if (j <= k) is_free[j / 8] |= static_cast<unsigned char>(1u << (j % 8));
  }
  for (std::size_t j = 1; j <= k; ++j) {
    if ((is_free[j / 8] >> (j % 8)) & 1u) continue;
    std::fprintf(stderr, "0x%lx\n", static_cast<unsigned long>(start + j * u));
  }
}

void memory_manager::print_statistics() {
  std::fputs("\n", stderr);
  std::fprintf(stderr, "\t %s (memory status)\n", name);
  std::fputs(rule_line, stderr);
  std::fputs(head_line, stderr);
  std::fputs(rule_line, stderr);
  if (free_list != nullptr) {
    for (int i = 1; i <= max_size; ++i) {
      if (block_count[i] == 0) continue;
      std::fprintf(stderr, "\t|   %3d    ", i);
      std::fflush(stderr);  // the size is out before the walk of a long list
      const std::int64_t f = free_chunks(i);
      std::fprintf(stderr, "%6ld   %6ld    %6ld   %8ld    |\n",
                   static_cast<long>(chunk_count[i] - f), static_cast<long>(f),
                   static_cast<long>(block_count[i]), static_cast<long>(chunk_count[i] * i));
    }
    if (block_count[0] != 0) {
      std::fprintf(stderr, "\t| > %3d         -        -    %6ld   %8ld    |\n", max_size,
                   static_cast<long>(block_count[0]), static_cast<long>(chunk_count[0]));
    }
  }
  std::fputs(rule_line, stderr);
  print_time_line(static_cast<float>(alloc_count));
  std::fputs(rule_line, stderr);
  std::fputs("\n", stderr);
  std::fflush(stderr);
}

void memory_manager::print_used_memory() {
  if (free_list == nullptr) return;
  bool printed = false;
  std::int64_t bytes_held = 0;  // of every class visited, in use or not
  for (int i = 1; i <= max_size; ++i) {
    if (chunk_count[i] <= 0 && free_list[i] == nullptr) continue;
    const std::int64_t f = free_chunks(i);
    bytes_held += chunk_count[i] * i;
    const std::int64_t used = chunk_count[i] - f;
    if (used <= 0) continue;
    if (!printed) {
      std::fputs("\n", stderr);
      std::fprintf(stderr, "\t %s (memory still in use)\n", name);
      std::fputs(rule_line, stderr);
      std::fputs(head_line, stderr);
      std::fputs(rule_line, stderr);
      printed = true;
    }
    std::fprintf(stderr, "\t|   %3d    %6ld   %6ld    %6ld   %8ld    |\n", i,
                 static_cast<long>(used), static_cast<long>(f), static_cast<long>(block_count[i]),
                 static_cast<long>(chunk_count[i] * i));
  }
  if (!printed) return;
  std::fputs(rule_line, stderr);
  print_time_line(static_cast<float>(bytes_held));
  std::fputs(rule_line, stderr);
  std::fputs("\n", stderr);
  std::fflush(stderr);
}

// ---- start-up guard ---------------------------------------------------------

memory_manager_init::memory_manager_init() {
  if (++count == 1) {
    std_memory_mgr.init(256, "STD_MEMORY_MGR");
    TAVO::read_options();
    TAVO::check_version_420();
  }
}

memory_manager_init::~memory_manager_init() {
  if (--count == 0) std_memory_mgr.destroy();
}
