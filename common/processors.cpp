// common/processors.cpp - the processors this process may use (see processors.h).
#include "common/processors.h"

#include <sched.h>
#include <unistd.h>

namespace common {

int usable_processors() {
  cpu_set_t set;
  if (::sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) return CPU_COUNT(&set);
  const long n = ::sysconf(_SC_NPROCESSORS_ONLN);
  return n > 0 ? static_cast<int>(n) : 1;
}

}  // namespace common
