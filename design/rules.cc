// design/rules.cc: checks of the design's thresholds and options.
#include "design/rules.h"

#include <utility>

namespace {

constexpr std::pair<Phase2Scope, const char*> kScopeNames[] = {
    {Phase2Scope::kAdmissible, "admissible"},
    {Phase2Scope::kTreated, "treated"},
    {Phase2Scope::kAdjacent, "adjacent"}};

}  // namespace

const char* phase2scopename(Phase2Scope scope) {
  for (const auto& [s, name] : kScopeNames) {
    if (s == scope) return name;
  }
  return "admissible";
}

bool phase2scopefromname(const std::string& name, Phase2Scope& scope) {
  for (const auto& [s, n] : kScopeNames) {
    if (name == n) {
      scope = s;
      return true;
    }
  }
  return false;
}

bool defaultoptions(const DesignRules& rules) {
  return rules.minpatients_stop == rules.minpatients_close &&
         rules.phase2 == Phase2Scope::kAdmissible && rules.start1 == 0 &&
         rules.start2 == 0;
}

std::string optionstext(const DesignRules& rules) {
  std::string text;
  const auto add = [&text](const std::string& pair) {
    text += (text.empty() ? "" : ";") + pair;
  };
  if (rules.minpatients_stop != rules.minpatients_close) {
    add("minpatients_stop=" + std::to_string(rules.minpatients_stop));
  }
  if (rules.phase2 != Phase2Scope::kAdmissible) {
    add(std::string("phase2=") + phase2scopename(rules.phase2));
  }
  if (rules.start1 != 0 || rules.start2 != 0) {
    add("start=[" + std::to_string(rules.start1 + 1) + "," +
        std::to_string(rules.start2 + 1) + "]");
  }
  return text;
}

std::string checkrules(const DesignRules& rules, int ndose1, int ndose2) {
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
  if (rules.minpatients_stop < 0) return "minpatients_stop: must not be negative";
  if (rules.minpatients_close < 0) {
    return "minpatients_close: must not be negative";
  }
  if (rules.start1 < 0 || rules.start1 >= ndose1 || rules.start2 < 0 ||
      rules.start2 >= ndose2) {
    return "start: [" + std::to_string(rules.start1 + 1) + ", " +
           std::to_string(rules.start2 + 1) + "] lies outside the " +
           std::to_string(ndose1) + " by " + std::to_string(ndose2) + " grid";
  }
  return "";
}
