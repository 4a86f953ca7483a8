// _error.cpp - the error-report entry point and the standard handler.
#include "tavo/error.h"

#include <cstdlib>
#include <iostream>

// A function address: constant initialisation, in place before any unit's
// dynamic initialisation can report an error.
tavo_error_handler_type std_error_handler = default_error_handler;

void error_handler(int code, const char* msg) {
  (*std_error_handler)(code, msg);
}

void default_error_handler(int code, const char* msg) {
  // Reports may come from the static initialisation of any unit, possibly
  // before this one's stream set-up: make sure cerr is constructed.
  static const std::ios_base::Init streams;
  std::cerr << std::endl;
  std::cerr << (code == 0 ? "TAVO WARNING" : "TAVO ERROR HANDLER") << std::endl;
  std::cerr << "\t" << msg << std::endl;
  std::cerr << std::endl;
  if (code > 0) {
    // With signal catching in place, it is switched off here so that abort()
    // is not caught. Then the stack trace: no tracing is provided, so the
    // trace writes only its closing end of line.
    std::cerr << std::endl;
    std::cerr.flush();
    std::abort();
  }
}
