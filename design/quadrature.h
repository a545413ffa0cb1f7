// design/quadrature.h: the posteriors by numerical integration over the
// model's parameters, free of sampling noise.
//
// Toxicity: a product Gauss rule in (ln alpha, ln beta, ln gamma) over the
// sampling intervals of design/toxmodel.h (48 x 48 x 8 nodes by default). The
// posterior mean toxicity of a combination is the rule's weighted mean of its
// probtox at the nodes.
// pr(toxicity < target) uses weights of its own on the same nodes: for fixed
// beta and gamma probtox falls as alpha grows, so the safe set is
// {alpha > a*(beta, gamma)} with a* in closed form; at each gamma node the
// tensor interpolant of the posterior through the (alpha, beta) nodes is
// integrated over that set (exactly in alpha, by Gauss panels in beta between
// the points where a* crosses alpha's bounds). Probtox at the nodes, its
// logarithms and those weights depend only on the design (priors, target,
// nodes), so they are tables of the object, and each update is a sum of the
// treated combinations' log likelihood terms over the nodes followed by dot
// products.
//
// Efficacy: a product Gauss rule in (ln a, ln b) on [kEffLower, kEffUpper]
// (24 x 24 nodes by default), the likelihood of every admissible entry, open
// or closed, integrated over the response probabilities. meaneff is the mean
// of (a + r) / (a + b + n), admpreff the mean of the Beta(a + r, b + n - r)
// upper tail at mineff.
//
// Randomisation: ndraws joint draws, each a node of the efficacy rule chosen
// by its posterior weight (one uniform number, through an alias table), then
// a response probability for every open entry from Beta(a + r, b + n - r),
// by betavariate when both shapes are above 1, else by betadraw. Only these
// draws use the streams; every probability above is the same under every
// seed.
//
// Nodes whose posterior weight is below e^-46 of the largest are left out
// (less than 1e-15 of the total in all).
#ifndef COMBOSIM_DESIGN_QUADRATURE_H_
#define COMBOSIM_DESIGN_QUADRATURE_H_

#include <memory>
#include <string>

#include "design/design.h"
#include "design/posterior.h"

// Each update records in effectivenodes the effective number of toxicity nodes
// behind it, (sum of weights)^2 / (sum of squared weights). The toxicity
// posterior narrows as patients accrue and pr(toxicity < target) is the first
// to lose accuracy: on a 3 by 3 grid its largest error against a rule of
// 96 x 96 x 12 nodes was 5e-6 at 440 effective nodes (108 patients), 1e-4 at
// 166 (216), 3e-4 at 68 (432) and 8e-3 at 30 (864). Below this many the rule
// no longer promises 2e-3. The efficacy rule stays within 2e-4 over the same
// range.
constexpr double kMinEffNodes = 100;

// True when the last update of `s` was a quadrature update whose posterior
// was too narrow for its nodes.
inline bool coarseupdate(const TrialState& s) {
  return s.effectivenodes > 0 && s.effectivenodes < kMinEffNodes;
}

// The node counts the quadrature method allows: each parameter's from
// kMinNodes to kMaxNodes, and at most kMaxToxNodes toxicity nodes in all,
// which keeps a 10 by 10 grid's tables under 64 MB.
constexpr int kMinNodes = 2;
constexpr int kMaxNodes = 96;
constexpr int kMaxToxNodes = 32768;

// Returns "" when `settings` are within those bounds and ndraws is from
// kMinQuadDraws to kMaxQuadDraws; otherwise one line naming the first field
// at fault, e.g. "toxnodes[2]: must be from 2 to 96".
std::string checkquadrature(const QuadratureSettings& settings);

// The quadrature posterior of `design` (design.quadrature gives the nodes and
// the draws per randomisation). Forms its tables here, once.
// REQUIRES: checkquadrature(design.quadrature) is "".
std::unique_ptr<const Posterior> makequadrature(const Design& design);

#endif  // COMBOSIM_DESIGN_QUADRATURE_H_
