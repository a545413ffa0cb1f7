// driver/main.cc: combosim, the console program. Reads the scenario from the
// console; every exit status is one of driver/exitcodes.h.
#include <iostream>

#include "driver/dialogue.h"
#include "driver/exitcodes.h"
#include "driver/trialstate.h"

int main() {
  // `settings.outdir` already holds "./": it is set when `settings` is
  // initialised, before main runs.
  ScenarioInput scenario;
  if (int status = readscenario(std::cin, std::cout, settings, scenario)) {
    return status;
  }
  return kExitOk;
}
