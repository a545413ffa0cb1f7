// formats/dialogue.cc: the scenario dialogue.
//
// Every answer goes through readvalue(), which flushes the console, extracts
// one token, re-reads the same value while a check rejects it, and turns a
// failed extraction (not convertible, out of range, end of input) into a
// one-line message and `false`. Callers pass `false` up; readscenario() turns
// it into kExitBadInput. A failed stream is never read again.
#include "formats/dialogue.h"

#include <climits>
#include <iomanip>
#include <istream>
#include <ostream>
#include <string>

#include "formats/exitcodes.h"

namespace {

constexpr char kBannerRule[] =
    "///////////////////////////////////////////////////////";
constexpr char kBannerTitle[] =
    "//   Phase I/II design for drug combination trial    //";
constexpr char kBannerCredit[] =
    "//   combosim: simulation of a two-stage design      //";
static_assert(sizeof kBannerRule - 1 == 55 && sizeof kBannerTitle - 1 == 55 &&
                  sizeof kBannerCredit - 1 == 55,
              "the banner is 55 characters wide");

constexpr char kNoticeRule[] =
    "/////////////////////////////////////////////////////////////////";
constexpr char kNoticeLine1[] =
    "// The simulation results can be found in the file results.txt //";
constexpr char kNoticeLine2[] =
    "// under the current directory when the simulation finishes.   //";
static_assert(sizeof kNoticeRule - 1 == 65 && sizeof kNoticeLine1 - 1 == 65 &&
                  sizeof kNoticeLine2 - 1 == 65,
              "the notice box is 65 characters wide");

// What a failed extraction of each type was expecting.
const char* expected(const int&) { return "not an integer, or out of range"; }
const char* expected(const double&) { return "not a number, or out of range"; }
const char* expected(const std::string&) { return "not a word"; }

// Reads one value into `v`, after flushing `out`. `check(v)` returns "" to
// accept the value, otherwise the message printed (end of line) before the
// same value is read again. Returns false, after a one-line message naming
// `what`, when the input ends or its next token does not convert; `in` is
// then not read again.
template <class T, class Check>
bool readvalue(std::istream& in, std::ostream& out, const std::string& what,
               T& v, Check check) {
  for (;;) {
    out.flush();
    // Skip blanks first, so that the end of the input is told apart from a
    // last token that does not convert.
    if ((in >> std::ws).peek() == std::istream::traits_type::eof()) {
      out << "Unexpected end of input while reading " << what << std::endl;
      return false;
    }
    if (!(in >> v)) {
      out << "Invalid input for " << what << ": " << expected(v) << std::endl;
      return false;
    }
    const std::string complaint = check(v);
    if (complaint.empty()) return true;
    out << complaint << std::endl;
  }
}

template <class T>
bool readvalue(std::istream& in, std::ostream& out, const std::string& what,
               T& v) {
  return readvalue(in, out, what, v, [](const T&) { return std::string(); });
}

// A check that rejects probabilities above 1 with `message`.
auto atmostone(const char* message) {
  return
      [message](const double& p) { return std::string(p > 1 ? message : ""); };
}

// Reads a one-word answer; `yes` tells whether it is exactly "y".
bool readconfirm(std::istream& in, std::ostream& out, const std::string& what,
                 bool& yes) {
  std::string word;
  if (!readvalue(in, out, "the confirmation of " + what, word)) return false;
  yes = word == "y";
  return true;
}

// Asks for one dose count. Returns kExitOk, or the exit status after the
// message when the count or the answer is not acceptable.
int readdosecount(std::istream& in, std::ostream& out, int drug, int& ndose) {
  const std::string name = "number of dose for drug " + std::to_string(drug);
  out << "please enter the " << name << ":  ";
  if (!readvalue(in, out, "the " + name, ndose)) return kExitBadInput;
  if (ndose > kMaxDose) {
    out << "The " << name << " is too large" << std::endl;
    return kExitBadDoseCount;
  }
  if (ndose < 1) {
    out << "The " << name << " is too small" << std::endl;
    return kExitBadDoseCount;
  }
  return kExitOk;
}

// The wording of one true-probability block.
struct MatrixBlock {
  const char* quantity;  // "toxicity" or "response"
  const char* toolarge;  // message before a cell is read again
  const char* heading;   // heading of the echo
};

constexpr MatrixBlock kToxBlock = {
    "toxicity",
    "The toxicity probability is larger than 1, please reenter the correct "
    "toxicity prob:",
    " The true toxicity probability entered is :"};
constexpr MatrixBlock kEffBlock = {
    "response",
    "The response probability is larger than 1, please reenter the correct "
    "response prob:",
    " The true response rate entered is :"};

// Reads every cell of the J by K matrix `m`, drug 1 outer, echoes it and
// repeats the whole block until it is confirmed.
bool readmatrix(std::istream& in, std::ostream& out,
                const SimulationSettings& s, const MatrixBlock& block,
                double m[kMaxDose][kMaxDose]) {
  const std::string name =
      std::string("true ") + block.quantity + " probability";
  for (;;) {
    out << std::endl;
    for (int d1 = 1; d1 <= s.ndose1; ++d1) {
      for (int d2 = 1; d2 <= s.ndose2; ++d2) {
        const std::string cell = "for the combination (" + std::to_string(d1) +
                                 ", " + std::to_string(d2) + ")";
        out << "Please enter the " << name << " " << cell << ":  ";
        if (!readvalue(in, out, "the " + name + " " + cell, m[d1 - 1][d2 - 1],
                       atmostone(block.toolarge))) {
          return false;
        }
      }
    }
    out << std::endl << block.heading << std::endl << std::endl;
    showgrid(out, m, s.ndose1, s.ndose2);
    out << "Are they correct ? (y/n):  ";
    bool yes = false;
    if (!readconfirm(
            in, out,
            std::string("the true ") + block.quantity + " probabilities",
            yes)) {
      return false;
    }
    if (yes) return true;
  }
}

// Reads the n prior toxicity estimates of one drug into `prior`, echoes them
// after `heading` and repeats the block until it is confirmed. Each estimate
// must lie strictly between 0 and 1.
bool readpriors(std::istream& in, std::ostream& out, int drug, int n,
                const char* heading, double prior[kMaxDose]) {
  const std::string name = "prior estimate of toxicity probability for drug " +
                           std::to_string(drug) + " at the dose level ";
  const auto strictlyinside = [](const double& p) {
    return std::string(
        p > 0 && p < 1 ? ""
                       : "The prior estimate of toxicity probability must lie "
                         "strictly between 0 and 1, please reenter the "
                         "correct prior prob:");
  };
  for (;;) {
    out << std::endl;
    for (int d = 1; d <= n; ++d) {
      out << "Please enter the " << name << d << ":  ";
      if (!readvalue(in, out, "the " + name + std::to_string(d), prior[d - 1],
                     strictlyinside)) {
        return false;
      }
    }
    out << std::endl << heading;
    for (int d = 0; d < n; ++d) out << (d > 0 ? ", " : "") << prior[d];
    out << std::endl << "Are they correct ? (y/n): ";
    bool yes = false;
    if (!readconfirm(in, out,
                     "the prior estimates for drug " + std::to_string(drug),
                     yes)) {
      return false;
    }
    if (yes) return true;
  }
}

// After an empty line, asks "Enter the <name>:  " and reads an integer from
// `lo` to `hi`, reading it again after a message naming the bound it breaks.
bool readcount(std::istream& in, std::ostream& out, const std::string& name,
               int lo, int hi, int& v) {
  const auto within = [&name, lo, hi](const int& n) {
    if (n < lo) {
      return "The " + name + " must be at least " + std::to_string(lo) +
             ", please reenter:";
    }
    if (n > hi) {
      return "The " + name + " must be at most " + std::to_string(hi) +
             ", please reenter:";
    }
    return std::string();
  };
  out << std::endl << "Enter the " << name << ":  ";
  return readvalue(in, out, "the " + name, v, within);
}

}  // namespace

int readscenario(std::istream& in, std::ostream& out, SimulationSettings& s,
                 ScenarioInput& scen) {
  out << kBannerRule << std::endl
      << kBannerTitle << std::endl
      << kBannerCredit << std::endl
      << kBannerRule << std::endl
      << std::endl
      << std::endl;

  if (int status = readdosecount(in, out, 1, s.ndose1)) return status;
  if (int status = readdosecount(in, out, 2, s.ndose2)) return status;

  if (!readmatrix(in, out, s, kToxBlock, scen.scentox)) return kExitBadInput;
  if (!readmatrix(in, out, s, kEffBlock, scen.sceneff)) return kExitBadInput;

  out << std::endl << "Please enter the target toxicity : ";
  if (!readvalue(in, out, "the target toxicity", s.targettox,
                 atmostone("The target probability is larger than 1, please "
                           "reenter the correct target prob:"))) {
    return kExitBadInput;
  }
  out << std::endl << "Please enter the lowest accpectable response rate : ";
  if (!readvalue(in, out, "the lowest acceptable response rate", s.mineff,
                 atmostone("The response probability is larger than 1, please "
                           "reenter the correct accpectable response "
                           "rate:"))) {
    return kExitBadInput;
  }

  if (!readpriors(
          in, out, 1, s.ndose1,
          "The prior estimate of toxicity for drug 1 is: ", scen.scenprior1) ||
      !readpriors(
          in, out, 2, s.ndose2,
          "The prior estimate of toxicity for drug 2 is : ", scen.scenprior2)) {
    return kExitBadInput;
  }

  if (!readcount(in, out,
                 "total number of cohorts for the phase I dose finding", 1,
                 kMaxCohortValue, s.ncohort1) ||
      !readcount(in, out, "cohort size for the phase I trial", 1,
                 kMaxCohortValue, s.cohortsize1) ||
      !readcount(in, out, "total number of cohorts for the phase II trial", 0,
                 kMaxCohortValue, s.ncohort2) ||
      !readcount(in, out, "cohort size for the phase II trial", 1,
                 kMaxCohortValue, s.cohortsize2)) {
    return kExitBadInput;
  }

  for (bool yes = false; !yes;) {
    if (!readcount(in, out, "number of simulated trials", 1, INT_MAX,
                   s.ntrial)) {
      return kExitBadInput;
    }
    out << std::endl << "Are you sure to continue? (y/n): ";
    if (!readconfirm(in, out, "the number of simulated trials", yes)) {
      return kExitBadInput;
    }
  }

  out << std::endl
      << std::endl
      << kNoticeRule << std::endl
      << kNoticeLine1 << std::endl
      << kNoticeLine2 << std::endl
      << kNoticeRule << std::endl
      << std::endl;
  return kExitOk;
}

void showgrid(std::ostream& out, const double m[kMaxDose][kMaxDose], int ndose1,
              int ndose2) {
  // Rows: drug-2 levels, highest first; the label stands on row K / 2.
  for (int r = ndose2 - 1; r >= 0; --r) {
    out << (r == ndose2 / 2 ? "Drug 2  " : "        ") << r + 1 << '|';
    for (int d1 = 0; d1 < ndose1; ++d1) out << std::setw(10) << m[d1][r];
    out << std::endl;
  }
  // The rule runs from under the '|' to the end of the last field.
  out << std::string(9, ' ') << std::string(10 * ndose1 + 1, '-') << std::endl;
  out << std::string(9, ' ');
  for (int c = 1; c <= ndose1; ++c) out << std::setw(10) << c;
  out << std::endl;
  out << std::string(5 * ndose1 + 5, ' ') << "Drug 1" << std::endl << std::endl;
}
