// histfeat: writes the colour histograms of the three boxes in "pos.txt" over
// the frame "v200.jpg" to "objects_info_1.txt", all in the current directory.
// Takes no arguments (any given are ignored). Exit status 0, or 1 after one line
// "histfeat: <what is wrong>" on standard error.

#include "histfeat.h"

#include <iostream>
#include <string>

int main(int, char**) {
  histfeat::enable_flush_to_zero();
  const std::string fname = "objects_info_1.txt";
  return histfeat::run("v200.jpg", "pos.txt", fname, std::cout, std::cerr);
}
