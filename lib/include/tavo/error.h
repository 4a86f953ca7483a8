// tavo/error.h - the library's single error-report entry point.
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
#ifndef TAVO_ERROR_H
#define TAVO_ERROR_H

#include "tavo/startup.h"

typedef void (*tavo_error_handler_type)(int code, const char* msg);

// The installed handler; default_error_handler from program load (constant
// initialisation, so it is in place before any static object is built).
extern tavo_error_handler_type std_error_handler;

// Calls (*std_error_handler)(code, msg) and nothing else.
void error_handler(int code, const char* msg);

// The standard handler. On std::cerr: an empty line, "TAVO WARNING" (code 0)
// or "TAVO ERROR HANDLER" (any other code), a tab and the message, an empty
// line. For code > 0 then the stack-trace line (just an end of line, as no
// stack tracing is provided), a flush and abort(); otherwise it returns.
void default_error_handler(int code, const char* msg);

#endif  // TAVO_ERROR_H
