// _version.cpp - the library's version data and version hook.
#include "tavo/runtime.h"

// Pointers to literals: constant initialisation, readable from any unit's
// static start-up.
const char* TAVO::version_string = "TAVO 4.2";
const char* TAVO::compile_date = "Apr 29 2007";

// Called by the first start-up guard after read_options(); nothing to check.
void TAVO::check_version_420() {}
