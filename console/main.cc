// console/main.cc: combosim, the console program. Reads the scenario from the
// console, simulates the trials and writes the report; every exit status is
// one of formats/exitcodes.h.
#include <iostream>

#include "console/program.h"

int main() {
  // `settings.outdir` already holds "./": it is set when `settings` is
  // initialised, before main runs.
  return runprogram(std::cin, std::cout);
}
