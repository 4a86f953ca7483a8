// _random.cpp - the random source and the global source rand_int.
//
// The header brings the unit's start-up (tavo/startup.h) first, so the
// allocator is set up before random_mutex_count and rand_int are built, in
// that order (definitions below).
#include "tavo/random.h"

#include <ctime>

int tavo_random_source::count = 0;  // constant-initialised: 0 before any unit starts
tavo_mutex tavo_random_source::random_mutex_count;
tavo_random_source rand_int;

namespace {

// The state that set_seed(1) leaves (its fill and 310 draws end with rear at
// word 0 and front at word 3, where init_table puts them).
constexpr std::uint32_t initial_table[tavo_random_source::table_size] = {
    0x9a319039, 0x32d9c024, 0x9b663182, 0x5da1f342, 0xde3b81e0, 0xdf0a6fb5, 0xf103bc02, 0x48f340fb,
    0x7449e56b, 0xbeb1dbb0, 0xab5c5918, 0x946554fd, 0x8c2e680f, 0xeb3d799f, 0xb11ee0b7, 0x2d436b86,
    0xda672e2a, 0x1588ca88, 0xe369735d, 0x904f35f7, 0xd7158fd6, 0x6fa6f051, 0x616e6b96, 0xac94efdc,
    0x36413f93, 0xc622c298, 0xf5a42ab8, 0x8a88d77b, 0xf5ad9d0e, 0x8999220b, 0x27fb47b9};

// Draws have 31 bits: the widest range one draw can cover.
constexpr std::uint32_t max_diff = 0x7fffffffu;

}  // namespace

std::uint32_t tavo_random_source::mask_for(int p) {
  return (p >= 1 && p <= 31) ? (std::uint32_t(1) << p) - 1 : ~std::uint32_t(0);
}

tavo_random_source::tavo_random_source()
    : mask(~std::uint32_t(0)), precision(31), low(0), diff(0), precision_mode(true), bit_buffer(1) {
  seed_from_clock();
}

tavo_random_source::tavo_random_source(int p)
    : mask(mask_for(p)), precision(p), low(0), diff(0), precision_mode(true), bit_buffer(1) {
  seed_from_clock();
}

tavo_random_source::tavo_random_source(int lo, int hi)
    : mask(0), precision(31), low(0), diff(0), precision_mode(false), bit_buffer(1) {
  seed_from_clock();
  set_range(lo, hi);
}

void tavo_random_source::seed_from_clock() {
  init_table();
  const std::uint32_t t = static_cast<std::uint32_t>(std::time(nullptr));
  tavo_lock_guard hold(random_mutex_count);
  ++count;
  // 32-bit product, wrapping (done unsigned: no signed overflow).
  set_seed(static_cast<int>(t * static_cast<std::uint32_t>(count)));
}

void tavo_random_source::init_table() {
  for (int i = 0; i < table_size; ++i) table[i] = initial_table[i];
  rear = 0;
  front = separation;
  table_end = table_size;
}

void tavo_random_source::set_seed(int s) {
  table[0] = static_cast<std::uint32_t>(s);
  for (int i = 1; i < table_size; ++i) table[i] = table[i - 1] * 1103515245u + 12345u;
  rear = 0;
  front = separation;
  for (int i = 0; i < 10 * table_size; ++i) get_rand31();
}

unsigned tavo_random_source::get_rand32() {
  // The marker bit 31 reaches bit 0 after 31 shifts; the buffer then reads 1.
  if (bit_buffer == 1) bit_buffer = get_rand31() | 0x80000000u;
  unsigned r = get_rand31();
  if (bit_buffer & 1) r |= 0x80000000u;
  bit_buffer >>= 1;
  return r;
}

void tavo_random_source::set_range(int lo, int hi) {
  low = lo;
  const std::int64_t d = std::int64_t(hi) - std::int64_t(lo);
  diff = d <= 0 ? 0 : (d > std::int64_t(max_diff) ? max_diff : static_cast<std::uint32_t>(d));
  precision_mode = false;
  // Smallest 2^k - 1 with 2^k > diff; diff < 2^31 keeps mask from overflowing.
  mask = 1;
  while (mask <= diff) mask <<= 1;
  mask -= 1;
}

int tavo_random_source::set_precision(int p) {
  const int previous = precision;
  precision = p;
  mask = mask_for(p);
  precision_mode = true;
  return previous;
}

int tavo_random_source::operator()() {
  std::uint32_t r = get_rand31() & mask;
  if (precision_mode) return static_cast<int>(r);
  while (r > diff) r = get_rand31() & mask;
  // low + r <= low + diff <= high: computed unsigned, the result fits an int.
  return static_cast<int>(static_cast<std::uint32_t>(low) + r);
}

int tavo_random_source::operator()(int p) {
  const std::uint32_t r = get_rand31();
  if (p <= 0) return 0;
  if (p >= 31) return static_cast<int>(r);
  return static_cast<int>((r >> (31 - p)) & ((std::uint32_t(1) << p) - 1));
}

int tavo_random_source::operator()(int lo, int hi) {
  if (hi < lo) return 0;
  const int saved_low = low;
  const std::uint32_t saved_diff = diff;
  const std::uint32_t saved_mask = mask;
  const bool saved_mode = precision_mode;
  set_range(lo, hi);
  const int r = (*this)();
  low = saved_low;
  diff = saved_diff;
  mask = saved_mask;
  precision_mode = saved_mode;
  return r;
}

tavo_random_source& tavo_random_source::operator>>(bool& x) {
  x = (get_rand31() >> 16) & 1;
  return *this;
}
tavo_random_source& tavo_random_source::operator>>(char& x) {
  x = static_cast<char>((*this)() & 0xff);
  return *this;
}
tavo_random_source& tavo_random_source::operator>>(unsigned char& x) {
  x = static_cast<unsigned char>((*this)() & 0xff);
  return *this;
}
tavo_random_source& tavo_random_source::operator>>(int& x) {
  x = (*this)();
  return *this;
}
tavo_random_source& tavo_random_source::operator>>(long& x) {
  x = (*this)();
  return *this;
}
tavo_random_source& tavo_random_source::operator>>(unsigned int& x) {
  x = static_cast<unsigned int>((*this)());
  return *this;
}
tavo_random_source& tavo_random_source::operator>>(unsigned long& x) {
  x = static_cast<unsigned long>(static_cast<unsigned int>((*this)()));
  return *this;
}
tavo_random_source& tavo_random_source::operator>>(float& x) {
  x = static_cast<float>(double(get_rand31()) / 2147483648.0);
  return *this;
}
tavo_random_source& tavo_random_source::operator>>(double& x) {
  x = double(get_rand31()) / 2147483647.0;
  return *this;
}
