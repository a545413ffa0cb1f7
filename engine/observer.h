// engine/observer.h: what a caller of the engine sees of a run as it goes:
// each trial's start (where it may cancel), its end with its outcome, and
// every posterior update with the record and streams it starts from.
#ifndef COMBOSIM_ENGINE_OBSERVER_H_
#define COMBOSIM_ENGINE_OBSERVER_H_

#include <cstdint>

#include "engine/outcome.h"
#include "numerics/streams.h"
#include "records/trialstate.h"

// Sees a run as it goes. Every callback has a default that does nothing.
class Observer {
 public:
  virtual ~Observer() = default;

  // Before trial `trial` (from 1) starts. Returning false cancels the run.
  virtual bool starttrial(std::int64_t trial);

  // After trial `trial` ended, with its outcome.
  virtual void endtrial(std::int64_t trial, const TrialOutcome& outcome);

  // Before every posterior update (each phase I toxicity update and each
  // phase II refit), with the trial record the update starts from and the
  // random streams where the update will draw from.
  virtual void beforeupdate(const TrialState& s, const StreamState& streams);
};

#endif  // COMBOSIM_ENGINE_OBSERVER_H_
