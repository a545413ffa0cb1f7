// design/rules.cc: checks of the design's thresholds.
#include "design/rules.h"

#include <utility>

std::string checkrules(const DesignRules& rules) {
  const std::pair<const char*, double> thresholds[] = {
      {"escalate", rules.escalate}, {"deescalate", rules.deescalate},
      {"admissible", rules.admissible}, {"safety", rules.safety},
      {"futility", rules.futility}};
  for (const auto& [field, value] : thresholds) {
    // Written so that NaN fails too.
    if (!(value > 0 && value < 1)) {
      return std::string(field) + ": must lie strictly between 0 and 1";
    }
  }
  if (!(rules.deescalate < rules.escalate)) {
    return "deescalate: must be below escalate";
  }
  if (rules.minpatients < 0) return "minpatients: must not be negative";
  return "";
}
