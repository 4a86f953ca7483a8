// tavo/runtime.h - process-wide library data and functions: environment
// options, processor time, sleeping, the stack-trace hook, version data and
// logging.
//
// struct TAVO is used as a namespace: it has no instances, only static
// members. Its option data is set once, by the first start-up guard
// (memory_manager_init, tavo/startup.h), before any static object of a unit
// that includes a library header is built, and is read until the process
// ends (the last guard's destroy() of std_memory_mgr reads option_list after
// main has returned). Changing the environment later has no effect.
//
// Environment options (read by read_options):
//   TAVO_INIT                 free text, kept in option_list; at exit
//                             "show_memory_leaks" / "show_memory_statistics"
//                             switch on the memory reports (tavo/memory.h)
//   TAVO_CATCH_SYSTEM_ERRORS  presence: catch_system_errors(true)
//   TAVO_NODE_DATA            atoi value: node_data_slots
//   TAVO_EDGE_DATA            atoi value: edge_data_slots
//   TAVO_NO_LOG               presence: write_log and user_log do nothing
//
// Cost: constant time, except sleep (the wait itself) and the log functions
// (a stat, an open and one write of a line).
//
// Failure: nothing here reports through error_handler; logging errors are
// ignored.
#ifndef TAVO_RUNTIME_H
#define TAVO_RUNTIME_H

#include "tavo/startup.h"

#include <iosfwd>

struct TAVO {
  // Value of the environment variable TAVO_INIT, or null when it is not set.
  // Searched by memory_manager::destroy() for "show_memory_leaks" and
  // "show_memory_statistics". Points into the environment; not owned.
  static char* option_list;
  // Slot counts from TAVO_NODE_DATA / TAVO_EDGE_DATA; 0 until set. Nothing
  // in the library reads them.
  static int node_data_slots;
  static int edge_data_slots;
  // "TAVO 4.2" and the library's build date "Apr 29 2007" (month day year).
  static const char* version_string;
  static const char* compile_date;

  // Reads the environment options above. Called once, by the first guard.
  // When TAVO_NODE_DATA or TAVO_EDGE_DATA is set it echoes both counts on
  // stderr: "\n", "node_data_slots = %d\n", "edge_data_slots = %d\n", "\n".
  // An unset TAVO_CATCH_SYSTEM_ERRORS leaves signal catching as it is.
  static void read_options();
  // Version hook, called by the first guard after read_options(); does
  // nothing.
  static void check_version_420();

  // User processor time the process has consumed so far, in seconds (times()
  // clock ticks divided by the tick rate).
  static float used_time();
  // Stores used_time() into T and returns the new T minus the old one, both
  // as floats: T = used_time() starts a measurement, used_time(T) reads and
  // restarts it.
  static float used_time(float& T);

  // Waits sec seconds with select() on no descriptor, to the microsecond
  // (the count is truncated toward zero); a signal ends the wait early and it
  // is not resumed. The count is a signed 32-bit number of microseconds, so
  // durations are clamped into 0 .. 2147.483647 s: a negative one (or NaN)
  // does not wait, a longer one waits 2147.483647 s.
  static void sleep(double sec);

  // Stack-trace hook: would fill up to 256 entries of `frames` with lines in
  // arrays from new[] and return their number. No stack tracing is provided:
  // returns 0 and writes nothing.
  static int trace_stack(char** frames);
  // Writes entries 1 .. n-1 of trace_stack(table of 256), each followed by an
  // end of line, releasing every non-null entry (entry 0 included) with
  // delete[]; then one end of line. Without tracing: just that end of line.
  static void trace_stack(std::ostream& out);

  // Writes "GNU gcc-2.95" into buf, which must hold 13 characters.
  static void compiler_string(char* buf);

  // Append to the log file "/TAVO/LOGFILE" when it exists as a regular file
  // and TAVO_NO_LOG was not set at start-up (otherwise they do nothing). The
  // file is opened for appending with permissions 0664, following no
  // symbolic link, and written only if the open file is a regular file; each
  // call writes one line with one write(). Errors are ignored.
  //   write_log: a tab, msg and an end of line.
  //   user_log:  "%8s@%-10s " (login name of the effective user, "unknown"
  //              when there is none; host name), then "%s (%s %s)  "
  //              (version_string, compiler_string, the first six characters
  //              of compile_date), then the current time as ctime() writes
  //              it, which ends the line.
  static void write_log(const char* msg);
  static void user_log();
};

// The log functions on another file: what TAVO::write_log and TAVO::user_log
// do with "/TAVO/LOGFILE". For tests.
namespace tavo_internal {
void write_log_to(const char* path, const char* msg);
void user_log_to(const char* path);
}  // namespace tavo_internal

#endif  // TAVO_RUNTIME_H
