// design/quadrature.h: the posteriors by numerical integration over the
// model's parameters, free of sampling noise.
//
// Toxicity: a product Gauss rule in (ln alpha, ln beta, ln gamma) over the
// sampling intervals of design/toxmodel.h. The posterior mean toxicity of a
// combination is the rule's weighted mean of its probtox at the nodes.
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
// Efficacy: a product Gauss rule in (ln a, ln b) on [kEffLower, kEffUpper],
// the likelihood of every admissible entry, open or closed, integrated over
// the response probabilities. meaneff is the mean of (a + r) / (a + b + n),
// admpreff the mean of the Beta(a + r, b + n - r) upper tail at mineff.
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

#include "design/design.h"
#include "design/posterior.h"

// Each update records the effective number of nodes behind it in effnodes:
// (sum of weights)^2 / (sum of squared weights), the smaller of the two
// rules' in phase II. Below this many, the posterior is too narrow for the
// rule to promise its accuracy.
constexpr double kMinEffNodes = 20;

// True when the last update of `s` was a quadrature update whose posterior
// was too narrow for its nodes.
inline bool coarseupdate(const TrialState& s) {
  return s.effnodes > 0 && s.effnodes < kMinEffNodes;
}

// The quadrature posterior of `design` (design.quadrature gives the nodes and
// the draws per randomisation). Forms its tables here, once.
// REQUIRES: at least 2 nodes per parameter; ndraws from kMinQuadDraws to
// kMaxQuadDraws.
std::unique_ptr<const Posterior> makequadrature(const Design& design);

#endif  // COMBOSIM_DESIGN_QUADRATURE_H_
