// batch/merge.cc: the exact merge of a scenario's parts.
#include "batch/merge.h"

#include <algorithm>
#include <utility>

#include "engine/simulate.h"

namespace {

using Table = std::int64_t[kMaxDose][kMaxDose];

}  // namespace

std::string mergeresults(const std::vector<BatchResult>& parts,
                         BatchResult& merged) {
  if (parts.empty()) return "nothing to merge";
  std::vector<const BatchResult*> ordered;
  for (const BatchResult& p : parts) ordered.push_back(&p);
  std::sort(ordered.begin(), ordered.end(),
            [](const BatchResult* a, const BatchResult* b) {
              return a->shards.front() < b->shards.front();
            });
  const BatchResult& first = *ordered.front();
  const Json scenario = scenariotojson(first.scenario);
  std::vector<int> seen(static_cast<std::size_t>(first.nshard) + 1, 0);
  for (const BatchResult* p : ordered) {
    if (scenariotojson(p->scenario) != scenario) {
      return "the parts hold different scenarios";
    }
    if (rulestojson(p->rules) != rulestojson(first.rules)) {
      return "the parts ran under different design rules";
    }
    if (!(p->posterior == first.posterior)) {
      const auto words = [](const PosteriorChoice& c) {
        return posteriorwords(c.method, c.quadrature);
      };
      return "the parts ran under different posterior methods (" +
             words(first.posterior) + "; " + words(p->posterior) + ")";
    }
    if (p->boost != first.boost) {
      return "the parts ran on different versions of Boost (" + first.boost +
             ", " + p->boost + ")";
    }
    if (p->random.seeded != first.random.seeded ||
        p->random.seed != first.random.seed) {
      return "the parts ran on different generators or seeds";
    }
    if (p->random.paired != first.random.paired) {
      return "the parts mix paired streams (--paired) with shard streams";
    }
    if (p->mathlib != first.mathlib) {
      return "the parts ran on different implementations of pow, log and "
             "exp (" + first.mathlib + ", " + p->mathlib + ")";
    }
    if (p->nshard != first.nshard) {
      return "the parts split the trials into different numbers of shards";
    }
    for (int k : p->shards) {
      if (seen[static_cast<std::size_t>(k)]++ > 0) {
        return "shard " + std::to_string(k) + " of " +
               std::to_string(first.nshard) + " is given more than once";
      }
    }
  }
  std::vector<int> missing;
  for (int k = 1; k <= first.nshard; ++k) {
    if (seen[static_cast<std::size_t>(k)] == 0) missing.push_back(k);
  }
  if (!missing.empty()) {
    return (missing.size() == 1 ? "shard " : "shards ") + shardlist(missing) +
           " of " + std::to_string(first.nshard) + " missing";
  }

  merged = first;
  merged.shards.clear();
  for (int k = 1; k <= first.nshard; ++k) merged.shards.push_back(k);
  merged.ntrial = 0;
  merged.acc = Accumulators{};
  merged.outcomes = OutcomeSums{};
  merged.cpuseconds = 0;
  for (const BatchResult* p : ordered) {
    if (!addoutcomesums(merged.outcomes, p->outcomes)) {
      return "the outcome sums overflow 64 bits";
    }
    merged.ntrial += p->ntrial;
    merged.cpuseconds += p->cpuseconds;
    const std::pair<const char*, Table Accumulators::*> tables[] = {
        {"patients", &Accumulators::sumpat},
        {"toxicities", &Accumulators::sumtox},
        {"responses", &Accumulators::sumresp},
        {"selections", &Accumulators::nselect}};
    for (const auto& [field, table] : tables) {
      for (int d1 = 0; d1 < kMaxDose; ++d1) {
        for (int d2 = 0; d2 < kMaxDose; ++d2) {
          std::int64_t& sum = (merged.acc.*table)[d1][d2];
          if (__builtin_add_overflow(sum, (p->acc.*table)[d1][d2], &sum)) {
            return std::string("the sums of ") + cellname(field, d1, d2) +
                   " overflow 64 bits";
          }
        }
      }
    }
  }
  return "";
}
