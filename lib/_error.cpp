// _error.cpp - the error-report entry point, the standard handler and the
// catching of fatal system signals.
#include "tavo/error.h"

#include <csignal>
#include <cstdlib>
#include <iostream>

#include "tavo/runtime.h"
#include "tavo/string.h"

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
  // A null message is an empty text: inserting a null char pointer would put
  // cerr into its failed state and silence every later report.
  std::cerr << "\t" << (msg != nullptr ? msg : "") << std::endl;
  std::cerr << std::endl;
  if (code > 0) {
    // Signal catching off first, so that a fault from here on is not
    // reported again, then the stack trace (its closing end of line only).
    catch_system_errors(false);
    TAVO::trace_stack(std::cerr);
    std::cerr.flush();
    std::abort();
  }
}

tavo_error_handler_type set_error_handler(tavo_error_handler_type handler) {
  const tavo_error_handler_type previous = std_error_handler;
  // error_handler as the handler would forward to itself for ever.
  if (handler == nullptr || handler == &error_handler) handler = default_error_handler;
  std_error_handler = handler;
  return previous;
}

void tavo_precondition_failed(const char* msg) {
  error_handler(1, msg);
  std::abort();  // the caller cannot go on past a breached precondition
}

bool tavo_assert(bool cond, const char* msg, int code) {
  if (!cond) error_handler(code, msg);
  return cond;
}

void catch_system_errors(bool on) {
  const auto action = on ? &handle_system_errors : SIG_DFL;
  std::signal(SIGBUS, action);
  std::signal(SIGSEGV, action);
  std::signal(SIGILL, action);
}

void handle_system_errors(int sig) {
  tavo_string text("System Error: ");
  switch (sig) {
    case SIGINT:
      text += "Interrupt.";
      break;
    case SIGILL:
      text += "Illegal instruction.";
      break;
    case SIGBUS:
      text += "Bus error.";
      break;
    case SIGSEGV:
      text += "Segmentation violation.";
      break;
    default:
      text += "Unknown error.";
      break;
  }
  error_handler(1, text);
}
