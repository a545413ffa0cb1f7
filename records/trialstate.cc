// records/trialstate.cc: the one definition of the process-wide settings.
#include "records/trialstate.h"

SimulationSettings settings;
