// numerics/betafunctions.h: the Beta function's logarithm and the Beta
// distribution's upper tail, computed in doubles throughout, their errors
// returned as values (NaN or an infinity), never thrown.
#ifndef COMBOSIM_NUMERICS_BETAFUNCTIONS_H_
#define COMBOSIM_NUMERICS_BETAFUNCTIONS_H_

// Returns ln Gamma(x). REQUIRES: x > 0.
double lngammafn(double x);

// Returns P(X > x) for X ~ Beta(a, b), the regularised incomplete Beta
// function's complement. REQUIRES: a > 0, b > 0, 0 <= x <= 1.
double betaupper(double a, double b, double x);

#endif  // COMBOSIM_NUMERICS_BETAFUNCTIONS_H_
