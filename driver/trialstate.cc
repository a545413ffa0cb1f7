// driver/trialstate.cc: the one definition of the process-wide settings.
#include "driver/trialstate.h"

SimulationSettings settings;
