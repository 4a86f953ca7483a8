// tavo/tavo.h - the whole container library in one include.
#ifndef TAVO_TAVO_H
#define TAVO_TAVO_H

#include "tavo/startup.h"
#include "tavo/error.h"
#include "tavo/memory.h"
#include "tavo/mutex.h"
#include "tavo/runtime.h"
#include "tavo/slot.h"
#include "tavo/tuple.h"
#include "tavo/string.h"
#include "tavo/basic.h"
#include "tavo/ab_tree.h"
#include "tavo/dictionary.h"
#include "tavo/sort.h"
#include "tavo/random.h"
#include "tavo/dlist.h"
#include "tavo/file.h"

#endif  // TAVO_TAVO_H
