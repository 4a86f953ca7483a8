// tavo/startup.h - the static start-up every unit that uses the library runs.
//
// Including this header (every library header does, tavo/memory.h at its end)
// gives the including translation unit, before any of its own static objects,
// two file-local objects:
//   1. set_double_ieee_for_linux = tavo_init_fpu(): the x87 control word is
//      set to 0x127F (53-bit precision, round to nearest, all exceptions
//      masked) on x86; elsewhere nothing happens.
//   2. memory_mgr_init, a memory_manager_init guard: the first guard in the
//      process initialises std_memory_mgr, the last one destroyed tears it
//      down (tavo/memory.h).
// Static objects of a unit are initialised in the order of their definitions,
// so whatever order the linker runs the units in, the allocator is ready
// before the first static object of any unit that includes this header, and
// it outlives the last one. Include it before defining static objects.
#ifndef TAVO_STARTUP_H
#define TAVO_STARTUP_H

#include "tavo/memory.h"

// Loads 0x127F into the x87 control word (x86 only) and returns 0.
int tavo_init_fpu();

namespace {
[[maybe_unused]] int set_double_ieee_for_linux = tavo_init_fpu();
[[maybe_unused]] memory_manager_init memory_mgr_init;
}  // namespace

#endif  // TAVO_STARTUP_H
