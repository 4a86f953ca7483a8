// common/processors.h - how many processors this process may run on: the
// default of the options that split work over processes or threads.
//
// No state; one system call per use.
#ifndef COMMON_PROCESSORS_H
#define COMMON_PROCESSORS_H

namespace common {

// The processors of this process's affinity mask (sched_getaffinity), else
// those online; at least 1. Cannot fail.
int usable_processors();

}  // namespace common

#endif  // COMMON_PROCESSORS_H
