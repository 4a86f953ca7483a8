// _tavo.cpp - process-wide library data, environment options, processor time
// and the floating-point start-up.
#include "tavo/runtime.h"

#include <sys/times.h>
#include <unistd.h>

#include <cstdlib>

// Constant-initialised on purpose: the first guard may run read_options()
// from another unit before this unit's dynamic initialisation, which must not
// overwrite what it read.
char* TAVO::option_list = nullptr;
int TAVO::node_data_slots = 0;
int TAVO::edge_data_slots = 0;

void TAVO::read_options() {
  option_list = std::getenv("TAVO_INIT");
  // The other environment options (TAVO_CATCH_SYSTEM_ERRORS, TAVO_NODE_DATA,
  // TAVO_EDGE_DATA and their echo on stderr) are read here too, once the
  // signal catching and the slot counts are in place.
}

void TAVO::check_version_420() {}

float TAVO::used_time() {
  struct tms t;
  times(&t);
  return static_cast<float>(static_cast<double>(t.tms_utime) /
                            static_cast<double>(sysconf(_SC_CLK_TCK)));
}

// 0x127F: all six exceptions masked, 53-bit significand (double precision
// instead of the extended 0x037F default), round to nearest, infinity bit.
int tavo_init_fpu() {
#if defined(__i386__) || defined(__x86_64__)
  const unsigned short control_word = 0x127F;
  __asm__ volatile("fldcw %0" : : "m"(control_word));
#endif
  return 0;
}
