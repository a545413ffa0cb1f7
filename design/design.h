// design/design.h: the record that defines a design for one scenario.
//
// The models, the rules, the trial loop and the report read the design only
// from a Design passed to them; nothing keeps one for the process. Two
// designs can therefore be run one after the other, or side by side, in one
// process.
#ifndef COMBOSIM_DESIGN_DESIGN_H_
#define COMBOSIM_DESIGN_DESIGN_H_

#include <string>
#include <vector>

#include "design/rules.h"
#include "records/trialstate.h"

// How the posteriors are computed.
enum class PosteriorMethod {
  kGibbs,       // the Gibbs samplers of design/toxmodel.h and design/effmodel.h
  kQuadrature,  // numerical integration over the parameters
                // (design/quadrature.h)
};

// The draws per randomisation the quadrature method allows.
constexpr int kMinQuadDraws = 100;
constexpr int kMaxQuadDraws = kNumDraws;

// The rules of the quadrature method: Gauss nodes per parameter, on the
// logarithm of each, and the joint efficacy draws behind each randomisation.
struct QuadratureSettings {
  int toxnodes[3] = {48, 48, 8};   // alpha, beta, gamma
  int effnodes[2] = {24, 24};      // a, b
  int ndraws = kMaxQuadDraws;      // kMinQuadDraws to kMaxQuadDraws
};

struct Design {
  SimulationSettings settings;   // the grid, targettox, mineff, the cohorts
                                 // and their sizes; ntrial and outdir belong
                                 // to a run of simulations
  double prior1[kMaxDose] = {};  // prior toxicity guesses, drug-1 levels
  double prior2[kMaxDose] = {};  // prior toxicity guesses, drug-2 levels
  DesignRules rules;
  PosteriorMethod method = PosteriorMethod::kGibbs;
  QuadratureSettings quadrature;  // read only by the quadrature method
  // Names of the dose levels for the conduct's words, one per level of each
  // drug (at most kMaxLabel printable characters each), or empty: the levels
  // go by number. No rule reads them.
  std::vector<std::string> labels1;
  std::vector<std::string> labels2;
};

constexpr int kMaxLabel = 20;  // characters in a dose level's name

#endif  // COMBOSIM_DESIGN_DESIGN_H_
