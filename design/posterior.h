// design/posterior.h: the posteriors the design's rules read, behind one
// interface; the design's method chooses what stands behind it.
//
// Every method fills the same fields of the trial record from the trial's
// counts, and draws only from the streams it is given:
// - toxicity(): meantox and prsafe of every combination of the grid, in
//   phase I; without `wholegrid` a method may fill only those the phase I
//   rule reads (the current combination, s.cur1 and s.cur2, and the
//   neighbours it moves to: one level apart in one drug, or in both drugs in
//   opposite directions), each with the value the whole grid would give it,
//   and leave the others as they were;
// - phase2(): admprsafe, admpreff and meaneff of every admissible entry, and
//   effdraws, the retained efficacy draws (the first ndraws of each open
//   entry) from which the randomisation computes its probabilities; with
//   `wholegrid` also meantox and prsafe of every combination of the grid.
// The rules that read them, the randomisation included, are the same for
// every method. Data a method computes once for a design belong to its
// object, which holds nothing else that changes: one object can serve any
// number of trials, one after another or side by side. The quadrature
// method's updates also set effectivenodes; under Gibbs it stays 0.
#ifndef COMBOSIM_DESIGN_POSTERIOR_H_
#define COMBOSIM_DESIGN_POSTERIOR_H_

#include <memory>

#include "design/design.h"
#include "design/drawstatus.h"
#include "numerics/streams.h"
#include "records/trialstate.h"

class Posterior {
 public:
  virtual ~Posterior() = default;
  // Each returns the failed draw, if any; the fields are then not to be used.
  virtual DrawStatus toxicity(TrialState& s, StreamState& streams,
                              bool wholegrid) const = 0;
  virtual DrawStatus phase2(TrialState& s, StreamState& streams,
                            bool wholegrid) const = 0;
};

// The posterior of design.method for `design`, which it copies.
//
// kGibbs: the Gibbs samplers of design/toxmodel.h (updatetox) and
// design/effmodel.h (phase2gibbs), whose phase II update is one unit: each
// iteration draws the toxicity parameters, then the response probabilities,
// then the efficacy hyper-parameters, and that order of draws is the method.
//
// kQuadrature: numerical integration over the parameters
// (design/quadrature.h); only its randomisation draws use the streams.
std::unique_ptr<const Posterior> makeposterior(const Design& design);

#endif  // COMBOSIM_DESIGN_POSTERIOR_H_
