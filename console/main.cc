// console/main.cc: combosim, the console program. Reads the scenario from the
// console, simulates the trials and writes the report; every exit status is
// one of formats/exitcodes.h.
#include <unistd.h>

#include <iostream>

#include "console/program.h"

int main() {
  setupprocess();
  return runprogram(std::cin, std::cout, isatty(STDIN_FILENO) != 0);
}
