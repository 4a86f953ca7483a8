// The main unit of the link-order program: the library's start-up must work
// whatever order the linker gives the units' static initialisation. The
// program is linked from the library's sources directly, once with the units
// in their usual order and the main unit last, once in the reverse order with
// the main unit first (see CMakeLists.txt beside it).
//
// This unit builds static objects from std_memory_mgr during its own static
// initialisation, which in the reverse order runs before that of every
// library unit, the allocator's own unit included. main() then shows on
// stdout that they survived the rest of the start-up. One three-tuple is
// deliberately never released, so that the leak report at exit has exactly
// one row (class 12, one chunk in use). With the argument "segv" the program
// writes through a null pointer after that.
//
// Output, one item per line:
//   guards <memory_manager_init::count when this unit's objects were built>
//   manager <std_memory_mgr's name then> <its name now>
//   text <a string built before main>
//   table <key>=<value> ... (a dictionary built before main)
#include "tavo/tavo.h"

#include <cstring>
#include <iostream>

namespace {

// Number of guards constructed before this unit's first object: 1 when this
// unit runs first, one per library unit more when it runs last.
const int guards_at_start = memory_manager_init::count;
const char* const name_at_start =
    std_memory_mgr.initialised() ? std_memory_mgr.manager_name() : "(none)";

const tavo_string text_at_start("%d chunks before main", 3);

tavo_dictionary<int, tavo_string> make_table() {
  tavo_dictionary<int, tavo_string> table;
  for (int k : {30, 10, 20}) table.insert(k, tavo_string("v%d", k));
  return table;
}
const tavo_dictionary<int, tavo_string> table_at_start = make_table();

// Never released: the leak report's one row.
tavo_three_tuple<int, int, int>* const kept = new tavo_three_tuple<int, int, int>(1, 2, 3);

__attribute__((no_sanitize("address", "undefined"))) void write_through_null() {
  static int* volatile nowhere = nullptr;
  *nowhere = 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::cout << "guards " << guards_at_start << '\n';
  std::cout << "manager " << name_at_start << ' ' << std_memory_mgr.manager_name() << '\n';
  std::cout << "text " << text_at_start << '\n';
  std::cout << "table";
  for (auto it = table_at_start.first_item(); it != nullptr; it = table_at_start.next_item(it))
    std::cout << ' ' << table_at_start.key(it) << '=' << table_at_start.inf(it);
  std::cout << std::endl;
  if (kept->second() != 2) return 1;
  if (argc > 1 && std::strcmp(argv[1], "segv") == 0) write_through_null();
  return 0;
}
