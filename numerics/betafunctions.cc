// numerics/betafunctions.cc: through Boost.Math, under the program's double
// policy (numerics/doublepolicy.h).
#include "numerics/betafunctions.h"

#include <boost/math/special_functions/beta.hpp>
#include <boost/math/special_functions/gamma.hpp>

#include "numerics/doublepolicy.h"


double lngammafn(double x) { return boost::math::lgamma(x, DoublePolicy()); }

double betaupper(double a, double b, double x) {
  return boost::math::ibetac(a, b, x, DoublePolicy());
}
