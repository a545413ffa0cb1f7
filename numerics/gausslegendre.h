// numerics/gausslegendre.h: Gauss-Legendre rules and the Lagrange
// interpolation through their nodes.
#ifndef COMBOSIM_NUMERICS_GAUSSLEGENDRE_H_
#define COMBOSIM_NUMERICS_GAUSSLEGENDRE_H_

#include <vector>

// The n-point Gauss-Legendre rule on [lo, hi]: nodes ascending, weights summing
// to hi - lo; exact for polynomials of degree up to 2n - 1. The same n, lo and
// hi give the same doubles on every call. REQUIRES: n >= 1, lo < hi.
struct GaussRule {
  std::vector<double> x;
  std::vector<double> w;
};
GaussRule gausslegendre(int n, double lo, double hi);

// The barycentric weights of the nodes of `rule`, for lagrangebasis.
std::vector<double> barycentric(const GaussRule& rule);

// Writes the value at z of every Lagrange basis polynomial through the nodes
// of `rule` into l[0..n-1] (the polynomial of node i is 1 there and 0 at the
// other nodes); `bary` is barycentric(rule).
void lagrangebasis(const GaussRule& rule, const std::vector<double>& bary,
                   double z, double* l);

#endif  // COMBOSIM_NUMERICS_GAUSSLEGENDRE_H_
