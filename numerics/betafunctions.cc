// numerics/betafunctions.cc: through Boost.Math, with a policy that keeps
// every intermediate in double (no promotion to long double, whose results
// differ between platforms) and reports errors by value.
#include "numerics/betafunctions.h"

#include <boost/math/special_functions/beta.hpp>
#include <boost/math/special_functions/gamma.hpp>

namespace {

using namespace boost::math::policies;
using DoublePolicy =
    policy<promote_float<false>, promote_double<false>,
           domain_error<ignore_error>, pole_error<ignore_error>,
           overflow_error<ignore_error>, underflow_error<ignore_error>,
           denorm_error<ignore_error>, evaluation_error<ignore_error>,
           rounding_error<ignore_error>,
           indeterminate_result_error<ignore_error>>;

}  // namespace

double lngammafn(double x) { return boost::math::lgamma(x, DoublePolicy()); }

double betaupper(double a, double b, double x) {
  return boost::math::ibetac(a, b, x, DoublePolicy());
}
