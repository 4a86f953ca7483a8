// tavo/random.h - the library's pseudo-random number source.
//
// What it is
//   An additive lagged-Fibonacci generator over the trinomial x^31 + x^3 + 1:
//   31 state words of 32 bits, two positions three words apart; a draw adds
//   the rear word into the front word and returns the sum's upper 31 bits.
//   Seeding fills the table with a linear congruential sequence (multiplier
//   1103515245, increment 12345) and throws the first 310 draws away, ten
//   turns of the table, so that the seed's low-quality bits are mixed out.
//   A source turns draws into
//     - precision mode: integers of a given number of bits (the low bits of a
//       draw, through `mask`);
//     - range mode: integers in [low, low + diff], by rejection with the
//       smallest mask 2^k - 1 that covers diff (fewer than two draws per value
//       on average);
//     - values of the built-in types through the extraction operators.
//   Every new source is seeded with time(0) times the number of sources built
//   so far, so that two sources created in the same second differ.
//
// Ownership and threads
//   A source is a plain value (copying copies the state, both then produce the
//   same sequence). The instance counter is advanced under
//   random_mutex_count; draws take no lock, so a source, the global rand_int
//   included, is used by one thread at a time.
//
// Cost
//   get_rand31: one addition, one shift, two position advances. get_rand32:
//   one draw, plus one refill draw per 31 results. operator()(): one draw in
//   precision mode, on average fewer than two in range mode. set_seed: 310
//   draws. Construction: set_seed plus time().
//
// Ranges that a 31-bit draw cannot cover
//   A range with high - low >= 2^31 cannot be covered by one draw, and the
//   mask search would never end for it. Such ranges are clamped: diff becomes
//   2^31 - 1, so the values lie in [low, low + 2^31 - 1], a sub-range of
//   [low, high]. (Before the clamp, high - low is computed in 64 bits, so it
//   cannot overflow.)
//
// Failure
//   Nothing is reported. high < low gives diff 0 (the source then returns low
//   every time); operator()(low, high) with high < low returns 0.
#ifndef TAVO_RANDOM_H
#define TAVO_RANDOM_H

#include <cstdint>

#include "tavo/startup.h"
#include "tavo/mutex.h"

class tavo_random_source {
 public:
  static constexpr int table_size = 31;  // state words
  static constexpr int separation = 3;   // front starts this many words after rear

  // Precision mode with 31 bits: draws are returned unmasked. Seeds from the
  // clock and the instance counter.
  tavo_random_source();
  // Precision mode with p bits: mask 2^p - 1 for 1 <= p <= 31, all ones (31
  // bits) for any other p. Seeds as above.
  explicit tavo_random_source(int p);
  // Range mode for [low, high] (see set_range). Seeds as above.
  tavo_random_source(int low, int high);

  // Loads the fixed initial state (the table seed 1 produces) and puts rear
  // at word 0, front at word 3. The constructors call it before seeding.
  void init_table();
  // Restarts the generator from seed s: linear congruential fill of all 31
  // words, positions back to 0 and 3, 310 draws discarded. Two sources seeded
  // with the same s produce the same sequence.
  void set_seed(int s);

  // One draw: 0 .. 2^31 - 1.
  unsigned get_rand31() {
    table[front] += table[rear];  // modulo 2^32
    const unsigned r = table[front] >> 1;
    if (++front == table_end) front = 0;
    if (++rear == table_end) rear = 0;
    return r;
  }
  // A 32-bit value: one draw for the low 31 bits, the top bit taken from a
  // buffer of spare bits that one extra draw refills every 31 calls.
  unsigned get_rand32();

  // Range mode for [low, high]. high < low: diff 0 (always low). A range of
  // 2^31 or more values is clamped to [low, low + 2^31 - 1] (see above).
  void set_range(int low, int high);
  // Precision mode with p bits (mask as in the precision constructor); low
  // and diff are kept. Returns the previous precision.
  int set_precision(int p);

  // The next value of the current mode: a masked draw, or a value in
  // [low, low + diff] by rejection.
  int operator()();
  // The p most significant bits of one draw, for 1 <= p <= 31; the mode is
  // neither read nor changed. p >= 31 gives the whole draw; p <= 0 gives 0
  // (zero bits), still consuming one draw so the sequence advances the same.
  int operator()(int p);
  // One value in [low, high] (clamped as in set_range); 0 when high < low.
  // The mode, low, diff and mask are the same afterwards.
  int operator()(int low, int high);

  // Extraction: each stores one value and returns the source.
  //   bool: bit 16 of a draw; char, unsigned char: operator()() & 0xff;
  //   int, long and their unsigned forms: operator()();
  //   float: draw / 2^31 rounded to float (1.0 for the 64 largest draws);
  //   double: draw / (2^31 - 1), in [0, 1].
  tavo_random_source& operator>>(bool& x);
  tavo_random_source& operator>>(char& x);
  tavo_random_source& operator>>(unsigned char& x);
  tavo_random_source& operator>>(int& x);
  tavo_random_source& operator>>(long& x);
  tavo_random_source& operator>>(unsigned int& x);
  tavo_random_source& operator>>(unsigned long& x);
  tavo_random_source& operator>>(float& x);
  tavo_random_source& operator>>(double& x);

  // Read-only views for tests and diagnostics.
  std::uint32_t state_word(int i) const { return table[i]; }
  int rear_position() const { return rear; }
  int front_position() const { return front; }
  std::uint32_t current_mask() const { return mask; }
  int current_precision() const { return precision; }
  int range_low() const { return low; }
  std::uint32_t range_diff() const { return diff; }
  bool in_precision_mode() const { return precision_mode; }

  // Sources constructed so far in the process (rand_int is the first).
  static int count;
  // Held while count is advanced and the new source seeded.
  static tavo_mutex random_mutex_count;

 private:
  // init_table(), then set_seed(time * ++count) under the lock.
  void seed_from_clock();
  // 2^p - 1 for 1 <= p <= 31, else all ones.
  static std::uint32_t mask_for(int p);

  // Invariants: 0 <= rear, front < table_end == 31 and
  // front == (rear + 3) mod 31 (both advance together);
  // precision mode: mask = mask_for(precision);
  // range mode: mask = 2^k - 1 with 2^(k-1) <= diff < 2^k (0 when diff = 0)
  // and diff <= 2^31 - 1; bit_buffer != 0 (1 means empty).
  std::uint32_t table[table_size];  // generator state
  int rear;                         // word added in
  int front;                        // word updated and returned
  int table_end;                    // one past the last word (31)
  std::uint32_t mask;               // applied to each draw by operator()()
  int precision;                    // requested bits (precision mode)
  int low;                          // lower bound (range mode)
  std::uint32_t diff;               // high - low, clamped (range mode)
  bool precision_mode;              // true: masked draws; false: range values
  std::uint32_t bit_buffer;         // spare top bits for get_rand32; 1 = empty
};

// The global source, seeded at start-up with the clock; list permutation
// draws from it. Built after the unit's start-up guard and
// random_mutex_count; never destroyed explicitly.
extern tavo_random_source rand_int;

#endif  // TAVO_RANDOM_H
