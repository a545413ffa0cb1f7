// engine/observer.cc: the observer's callbacks that do nothing.
#include "engine/observer.h"

bool Observer::starttrial(std::int64_t) { return true; }
void Observer::endtrial(std::int64_t, const TrialOutcome&) {}
void Observer::beforeupdate(const TrialState&, const StreamState&) {}
