// numerics/doublepolicy.h: the Boost.Math policy of every special function
// the program takes from Boost: every intermediate stays in double (no
// promotion to long double, whose results differ between platforms) and
// errors are reported by value, never by exception.
#ifndef COMBOSIM_NUMERICS_DOUBLEPOLICY_H_
#define COMBOSIM_NUMERICS_DOUBLEPOLICY_H_

#include <boost/math/policies/policy.hpp>

namespace doublepolicy {
using namespace boost::math::policies;
using DoublePolicy =
    policy<promote_float<false>, promote_double<false>,
           domain_error<ignore_error>, pole_error<ignore_error>,
           overflow_error<ignore_error>, underflow_error<ignore_error>,
           denorm_error<ignore_error>, evaluation_error<ignore_error>,
           rounding_error<ignore_error>,
           indeterminate_result_error<ignore_error>>;
}  // namespace doublepolicy

using doublepolicy::DoublePolicy;

#endif  // COMBOSIM_NUMERICS_DOUBLEPOLICY_H_
