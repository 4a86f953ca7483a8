// tavo/runtime.h - process-wide library data and functions.
//
// struct TAVO is used as a namespace: it has no instances, only static
// members. Its data is set once, by the first start-up guard
// (memory_manager_init, tavo/startup.h), before any static object of a unit
// that includes a library header is built, and is read until the process
// ends (the last guard's destroy() of std_memory_mgr reads option_list after
// main has returned). Nothing here reports through error_handler.
#ifndef TAVO_RUNTIME_H
#define TAVO_RUNTIME_H

#include "tavo/startup.h"

struct TAVO {
  // Value of the environment variable TAVO_INIT, or null when it is not set.
  // Searched by memory_manager::destroy() for "show_memory_leaks" and
  // "show_memory_statistics". Points into the environment; not owned.
  static char* option_list;
  // Slot counts from TAVO_NODE_DATA / TAVO_EDGE_DATA; 0 until set.
  static int node_data_slots;
  static int edge_data_slots;

  // Reads the environment options into the members above. Called once, by the
  // first guard; reading the environment again later changes nothing.
  static void read_options();
  // Version hook, called by the first guard after read_options(); does
  // nothing.
  static void check_version_420();
  // User processor time the process has consumed so far, in seconds (times()
  // clock ticks divided by the tick rate).
  static float used_time();
};

#endif  // TAVO_RUNTIME_H
