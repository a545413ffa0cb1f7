// fuzz/dialogue_check.h: what the scenario dialogue promises for any input
// whatever, checked in one place for the fuzz target (fuzz/dialogue_fuzz.cc)
// and the randomised dialogue test (tests/dialogue_random_test.cc).
//
// For every input the dialogue must return kExitOk, kExitBadInput or
// kExitBadDoseCount; end its output with a whole line (the notice box, or a
// one-line message naming what went wrong, never a bare prompt); print at
// most a bounded amount per byte of input (so it cannot loop without reading);
// and, when it returns kExitOk, leave a scenario the simulation can run.
#ifndef COMBOSIM_FUZZ_DIALOGUE_CHECK_H_
#define COMBOSIM_FUZZ_DIALOGUE_CHECK_H_

#include <cmath>
#include <sstream>
#include <string>

#include "formats/dialogue.h"
#include "formats/exitcodes.h"
#include "records/trialstate.h"

namespace dialoguecheck {

// Output allowed per byte of input, beyond a fixed part for the banner and
// the first prompt. Every prompt waits for a token, and the costliest tokens
// print about 50 bytes per input byte: "2" where a probability is asked (a
// one-line complaint) or "n" to a 10 by 10 block (its echo, then 100 prompts
// for 200 bytes of answers). A dialogue that printed without reading would
// soon pass the bound.
constexpr std::size_t kOutputPerByte = 200;
constexpr std::size_t kOutputFixed = 1024;

struct Outcome {
  int status = -1;    // readscenario's result
  std::string out;    // everything the dialogue printed
  std::string fault;  // "" when every promise holds, else the broken one
};

namespace internal {

// The last line of `text` without its newline; "" when `text` does not end
// with one (a prompt left waiting).
inline std::string lastline(const std::string& text) {
  if (text.empty() || text.back() != '\n') return "";
  const std::string body = text.substr(0, text.size() - 1);
  const std::size_t newline = body.rfind('\n');
  return newline == std::string::npos ? body : body.substr(newline + 1);
}

inline bool contains(const std::string& s, const char* part) {
  return s.find(part) != std::string::npos;
}

inline bool endswith(const std::string& s, const std::string& suffix) {
  return s.size() >= suffix.size() &&
         s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// Every field of a confirmed scenario lies where the simulation needs it.
inline std::string checkscenario(const SimulationSettings& s,
                                 const ScenarioInput& scen) {
  if (s.ndose1 < 1 || s.ndose1 > kMaxDose || s.ndose2 < 1 ||
      s.ndose2 > kMaxDose) {
    return "dose counts outside 1..10 accepted";
  }
  for (int d1 = 0; d1 < s.ndose1; ++d1) {
    for (int d2 = 0; d2 < s.ndose2; ++d2) {
      if (!(scen.scentox[d1][d2] <= 1) || !std::isfinite(scen.scentox[d1][d2]))
        return "true toxicity above 1 or not finite accepted";
      if (!(scen.sceneff[d1][d2] <= 1) || !std::isfinite(scen.sceneff[d1][d2]))
        return "true response above 1 or not finite accepted";
    }
  }
  if (!(s.targettox <= 1) || !std::isfinite(s.targettox))
    return "target toxicity above 1 or not finite accepted";
  if (!(s.mineff <= 1) || !std::isfinite(s.mineff))
    return "lowest response rate above 1 or not finite accepted";
  for (int d = 0; d < s.ndose1; ++d) {
    if (!(scen.scenprior1[d] > 0 && scen.scenprior1[d] < 1))
      return "drug-1 prior outside (0, 1) accepted";
  }
  for (int d = 0; d < s.ndose2; ++d) {
    if (!(scen.scenprior2[d] > 0 && scen.scenprior2[d] < 1))
      return "drug-2 prior outside (0, 1) accepted";
  }
  if (s.ncohort1 < 1 || s.cohortsize1 < 1 || s.ncohort2 < 0 ||
      s.cohortsize2 < 1 || s.ntrial < 1) {
    return "cohort or trial count out of range accepted";
  }
  return "";
}

}  // namespace internal

// Runs readscenario on `input` into `s` and `scen` and checks its promises.
inline Outcome rundialogue(const std::string& input, SimulationSettings& s,
                           ScenarioInput& scen) {
  using namespace internal;
  Outcome o;
  std::istringstream in(input);
  std::ostringstream out;
  o.status = readscenario(in, out, s, scen);
  o.out = out.str();

  if (o.out.size() > kOutputFixed + kOutputPerByte * input.size()) {
    o.fault = "printed " + std::to_string(o.out.size()) + " bytes for " +
              std::to_string(input.size()) + " bytes of input";
    return o;
  }
  const std::string last = lastline(o.out);
  switch (o.status) {
    case kExitOk:
      if (!endswith(o.out, "///////////////////////////////////////////////"
                           "//////////////////\n\n")) {
        o.fault = "returned 0 without the notice box";
      } else {
        o.fault = checkscenario(s, scen);
      }
      break;
    case kExitBadInput:
      // The message follows the prompt it answers on the same line.
      if (!contains(last, "Invalid input for ") &&
          !contains(last, "Unexpected end of input while reading ")) {
        o.fault = "returned 2 without its message; last line: " + last;
      }
      break;
    case kExitBadDoseCount:
      if (!endswith(last, " is too large") && !endswith(last, " is too small")) {
        o.fault = "returned 9 without its message; last line: " + last;
      }
      break;
    default:
      o.fault = "returned " + std::to_string(o.status);
  }
  return o;
}

}  // namespace dialoguecheck

#endif  // COMBOSIM_FUZZ_DIALOGUE_CHECK_H_
