// trackpair/trackpair.cpp - the program's main unit. Everything it does lives
// in trackpair_core (association.h), where the tests can call it; including
// that header also gives this unit the library's static start-up.
#include <cstdio>

#include "association.h"

int main(int argc, char** argv) {
  return trackpair::trackpair_main(argc, argv, stdout, stderr);
}
