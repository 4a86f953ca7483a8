// tavo/error.h - the library's single error-report entry point, the standard
// handler, and the catching of fatal system signals.
//
// Every error the library detects is reported through error_handler(code,
// msg), which forwards to the installed handler std_error_handler. Nothing in
// the library throws or returns error codes for such conditions.
//
// Codes: 0 warning (the handler returns and the caller carries on); a positive
// code is fatal (the standard handler aborts the process); a negative code
// prints the error heading and returns. In use: 1 argument or state errors,
// 4 bucket-sort key out of range, 999 memory manager failures and deleting a
// nil list item.
//
// A replacement handler must not return from a positive code: the reporting
// code does not provide for carrying on past its error.
//
// Signals: catch_system_errors(true) turns SIGBUS, SIGSEGV and SIGILL into a
// fatal report ("System Error: ..."). It is off at start; the library's
// start-up switches it on when TAVO_CATCH_SYSTEM_ERRORS is set, and the
// standard handler switches it off before it aborts.
//
// Hardened mode: with the macro TAVO_HARDENED defined to 1 (the CMake option
// TAVO_HARDENED, on in Debug builds; the library's tests always use it), the
// containers check the preconditions whose breach would otherwise corrupt
// memory (a list concatenated with itself, head() of an empty list, a nil or
// foreign item, a missing key) and report them with code 1, naming the class
// and the operation ("dlist: conc of a list with itself."). The process ends
// even if an installed handler returns. Without the macro the checks are not
// compiled and the documented preconditions are the caller's to keep. The
// macro applies where the code is compiled: the library and the program
// using it should agree (the CMake option sets it for both).
//
// Threads: one. The handler variable is a plain global.
#ifndef TAVO_ERROR_H
#define TAVO_ERROR_H

#include "tavo/startup.h"

typedef void (*tavo_error_handler_type)(int code, const char* msg);

// The installed handler; default_error_handler from program load (constant
// initialisation, so it is in place before any static object is built).
// Never null and never error_handler itself.
extern tavo_error_handler_type std_error_handler;

// Calls (*std_error_handler)(code, msg) and nothing else.
void error_handler(int code, const char* msg);

// The standard handler. On std::cerr: an empty line, "TAVO WARNING" (code 0)
// or "TAVO ERROR HANDLER" (any other code), a tab and the message, an empty
// line; a null message is printed as an empty text. For code > 0 it then switches signal catching
// off, writes the stack trace (TAVO::trace_stack(cerr): just an end of line, as no stack tracing is
// provided), flushes and calls abort(); otherwise it returns.
void default_error_handler(int code, const char* msg);

// Installs `handler` for every later report and returns the handler it
// replaces, which may be passed back to restore it. A null handler, or the
// entry point error_handler itself (which would call itself without end),
// installs default_error_handler instead. Constant time.
tavo_error_handler_type set_error_handler(tavo_error_handler_type handler);

// cond false: error_handler(code, msg). Returns cond. Note the argument order,
// msg before code.
bool tavo_assert(bool cond, const char* msg, int code);

// error_handler(1, msg), then abort() should the handler return: the report
// of a breached precondition in hardened mode.
[[noreturn]] void tavo_precondition_failed(const char* msg);

// TAVO_PRECONDITION(cond, msg): in hardened mode, cond false reports msg
// through tavo_precondition_failed; otherwise nothing is evaluated.
#if defined(TAVO_HARDENED) && TAVO_HARDENED
#define TAVO_PRECONDITION(cond, msg) \
  (__builtin_expect(!!(cond), 1) ? static_cast<void>(0) : tavo_precondition_failed(msg))
#else
#define TAVO_PRECONDITION(cond, msg) static_cast<void>(0)
#endif

// on true: handle_system_errors becomes the action of SIGBUS, SIGSEGV and
// SIGILL (in this order, through signal()); on false: their default action is
// restored. SIGINT is left alone.
void catch_system_errors(bool on);

// The signal handler: error_handler(1, "System Error: " + the signal's text):
// SIGINT "Interrupt.", SIGILL "Illegal instruction.", SIGBUS "Bus error.",
// SIGSEGV "Segmentation violation.", any other "Unknown error.". Fatal under
// the standard handler, which restores the default actions first. It uses
// the library's strings and streams: a last act before abort(), not an
// async-signal-safe one.
void handle_system_errors(int sig);

#endif  // TAVO_ERROR_H
