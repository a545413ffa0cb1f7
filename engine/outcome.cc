// engine/outcome.cc: trial outcomes and their sums.
#include "engine/outcome.h"

#include <algorithm>

const char* trialendname(TrialEnd reason) {
  switch (reason) {
    case TrialEnd::kSelected: return "selected";
    case TrialEnd::kPhase1Stopped: return "phase1_stopped";
    case TrialEnd::kNoneAdmissible: return "none_admissible";
    case TrialEnd::kAllClosed: return "all_closed";
    case TrialEnd::kNoPositiveMean: return "no_positive_mean";
  }
  return "selected";
}

void addoutcome(OutcomeSums& sums, const TrialOutcome& outcome) {
  const std::int64_t n = outcome.patients;
  const std::int64_t x = outcome.toxicities;
  const std::int64_t y = outcome.responses;
  const std::int64_t o = outcome.overtoxic;
  sums.minpatients = sums.ntrial == 0 ? n : std::min(sums.minpatients, n);
  sums.maxpatients = sums.ntrial == 0 ? n : std::max(sums.maxpatients, n);
  sums.ntrial += 1;
  sums.reasons[static_cast<int>(outcome.reason)] += 1;
  sums.patients += n;
  sums.patients2 += n * n;
  sums.toxicities += x;
  sums.toxicities2 += x * x;
  sums.responses += y;
  sums.responses2 += y * y;
  sums.overtoxic += o;
  sums.overtoxic2 += o * o;
  sums.patientsovertoxic += n * o;
  const std::int64_t u = outcome.untried;
  const std::int64_t v = outcome.phase2patients;
  sums.untried += u;
  sums.untried2 += u * u;
  sums.phase2patients += v;
  sums.phase2patients2 += v * v;
  sums.untriedphase2 += u * v;
  sums.coarseupdates += outcome.coarseupdates;
}

bool addoutcomesums(OutcomeSums& sums, const OutcomeSums& part) {
  OutcomeSums total = sums;
  bool overflow = false;
  const auto add = [&overflow](std::int64_t& to, std::int64_t v) {
    overflow = __builtin_add_overflow(to, v, &to) || overflow;
  };
  add(total.ntrial, part.ntrial);
  for (int k = 0; k < kNumTrialEnds; ++k) add(total.reasons[k], part.reasons[k]);
  add(total.patients, part.patients);
  add(total.patients2, part.patients2);
  add(total.toxicities, part.toxicities);
  add(total.toxicities2, part.toxicities2);
  add(total.responses, part.responses);
  add(total.responses2, part.responses2);
  add(total.overtoxic, part.overtoxic);
  add(total.overtoxic2, part.overtoxic2);
  add(total.patientsovertoxic, part.patientsovertoxic);
  add(total.untried, part.untried);
  add(total.untried2, part.untried2);
  add(total.phase2patients, part.phase2patients);
  add(total.phase2patients2, part.phase2patients2);
  add(total.untriedphase2, part.untriedphase2);
  add(total.coarseupdates, part.coarseupdates);
  if (overflow) return false;
  if (part.ntrial > 0) {
    total.minpatients = sums.ntrial == 0 ? part.minpatients
                                         : std::min(sums.minpatients, part.minpatients);
    total.maxpatients = sums.ntrial == 0 ? part.maxpatients
                                         : std::max(sums.maxpatients, part.maxpatients);
  }
  sums = total;
  return true;
}
