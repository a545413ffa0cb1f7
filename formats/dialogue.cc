// formats/dialogue.cc: the scenario dialogue.
//
// Every answer goes through readvalue(), which flushes the console, reads one
// whitespace-delimited token and accepts it only when the stream's own
// conversion reads all of it (so "0,05" or "2.5" for a whole number is never
// read in part), re-reads the same value while a check rejects it, and turns
// a refused token (outside a terminal) or the end of the input into a
// one-line message and `false`. Callers pass `false` up; readscenario() turns
// it into kExitBadInput. The input is not read again after that.
#include "formats/dialogue.h"

#include <climits>
#include <iomanip>
#include <istream>
#include <limits>
#include <locale>
#include <ostream>
#include <sstream>
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

constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";

// The answers and the console of one dialogue.
struct Dialogue {
  std::istream& in;
  std::ostream& out;
  bool terminal;      // answers typed at a terminal: a refused answer is
                      // asked for again instead of ending the dialogue
  bool first = true;  // no answer read yet: a byte-order mark may lead it
};

// Why a token that the conversion to each type does not read whole is
// refused.
const char* refusal(const int&) {
  return "is not a whole number written in digits";
}
const char* refusal(const double&) { return "is not a number"; }

// Converts the whole of `token` into `v` with the input's own conversion.
// Returns "", or why the token is refused.
template <class T>
std::string convert(const std::string& token, const std::locale& locale, T& v) {
  std::istringstream text(token);
  text.imbue(locale);
  T parsed{};
  text >> parsed;
  if (!text.fail() && text.eof()) {
    v = parsed;
    return "";
  }
  // A number too large for the type reads to the end and leaves its largest
  // value; one that does not convert leaves 0.
  if (text.fail() && text.eof() && parsed != T{}) return "is out of range";
  return refusal(v);
}

std::string convert(const std::string& token, const std::locale&,
                    std::string& v) {
  v = token;
  return "";
}

// Reads the next whitespace-delimited token, without a byte-order mark
// before the first. Returns false at the end of the input.
bool readtoken(Dialogue& io, std::string& token) {
  for (;;) {
    // Skip blanks first, so that the end of the input is seen before a read.
    if ((io.in >> std::ws).peek() == std::istream::traits_type::eof()) {
      return false;
    }
    io.in >> token;
    if (!io.first) return true;
    io.first = false;
    if (token.rfind(kByteOrderMark, 0) == 0) token.erase(0, 3);
    if (!token.empty()) return true;
  }
}

// Reads one value into `v`, after flushing the console. `check(v)` returns ""
// to accept the value, otherwise the message printed (end of line) before the
// same value is read again. A token that does not convert whole is named
// with the reason: at a terminal, the rest of its line is dropped and the
// value asked for again; otherwise the dialogue stops. Returns false, after a
// one-line message naming `what`, when the input ends or a token is refused
// outside a terminal; the input is then not read again.
template <class T, class Check>
bool readvalue(Dialogue& io, const std::string& what, T& v, Check check) {
  for (;;) {
    io.out.flush();
    std::string token;
    if (!readtoken(io, token)) {
      io.out << "Unexpected end of input while reading " << what << std::endl;
      return false;
    }
    const std::string refused = convert(token, io.in.getloc(), v);
    if (!refused.empty()) {
      const std::string said = "\"" + token + "\" " + refused;
      if (!io.terminal) {
        io.out << "Invalid input for " << what << ": " << said << std::endl;
        return false;
      }
      io.out << said << ", please reenter " << what << ":" << std::endl;
      io.in.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
      continue;
    }
    const std::string complaint = check(v);
    if (complaint.empty()) return true;
    io.out << complaint << std::endl;
  }
}

template <class T>
bool readvalue(Dialogue& io, const std::string& what, T& v) {
  return readvalue(io, what, v, [](const T&) { return std::string(); });
}

// A check that rejects probabilities above 1 with `message`.
auto atmostone(const char* message) {
  return
      [message](const double& p) { return std::string(p > 1 ? message : ""); };
}

// Reads a one-word answer; `yes` tells whether it is exactly "y".
bool readconfirm(Dialogue& io, const std::string& what,
                 bool& yes) {
  std::string word;
  if (!readvalue(io, "the confirmation of " + what, word)) return false;
  yes = word == "y";
  return true;
}

// Asks for one dose count. Returns kExitOk, or the exit status after the
// message when the count or the answer is not acceptable.
int readdosecount(Dialogue& io, int drug, int& ndose) {
  const std::string name = "number of dose for drug " + std::to_string(drug);
  io.out << "please enter the " << name << ":  ";
  if (!readvalue(io, "the " + name, ndose)) return kExitBadInput;
  if (ndose > kMaxDose) {
    io.out << "The " << name << " is too large" << std::endl;
    return kExitBadDoseCount;
  }
  if (ndose < 1) {
    io.out << "The " << name << " is too small" << std::endl;
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
bool readmatrix(Dialogue& io, const SimulationSettings& s, const MatrixBlock& block,
                double m[kMaxDose][kMaxDose]) {
  const std::string name =
      std::string("true ") + block.quantity + " probability";
  for (;;) {
    io.out << std::endl;
    for (int d1 = 1; d1 <= s.ndose1; ++d1) {
      for (int d2 = 1; d2 <= s.ndose2; ++d2) {
        const std::string cell = "for the combination (" + std::to_string(d1) +
                                 ", " + std::to_string(d2) + ")";
        io.out << "Please enter the " << name << " " << cell << ":  ";
        if (!readvalue(io, "the " + name + " " + cell, m[d1 - 1][d2 - 1],
                       atmostone(block.toolarge))) {
          return false;
        }
      }
    }
    io.out << std::endl << block.heading << std::endl << std::endl;
    showgrid(io.out, m, s.ndose1, s.ndose2);
    io.out << "Are they correct ? (y/n):  ";
    bool yes = false;
    if (!readconfirm(
            io,
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
bool readpriors(Dialogue& io, int drug, int n,
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
    io.out << std::endl;
    for (int d = 1; d <= n; ++d) {
      io.out << "Please enter the " << name << d << ":  ";
      if (!readvalue(io, "the " + name + std::to_string(d), prior[d - 1],
                     strictlyinside)) {
        return false;
      }
    }
    io.out << std::endl << heading;
    for (int d = 0; d < n; ++d) io.out << (d > 0 ? ", " : "") << prior[d];
    io.out << std::endl << "Are they correct ? (y/n): ";
    bool yes = false;
    if (!readconfirm(io,
                     "the prior estimates for drug " + std::to_string(drug),
                     yes)) {
      return false;
    }
    if (yes) return true;
  }
}

// After an empty line, asks "Enter the <name>:  " and reads an integer from
// `lo` to `hi`, reading it again after a message naming the bound it breaks.
bool readcount(Dialogue& io, const std::string& name,
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
  io.out << std::endl << "Enter the " << name << ":  ";
  return readvalue(io, "the " + name, v, within);
}

}  // namespace

int readscenario(std::istream& in, std::ostream& out, SimulationSettings& s,
                 ScenarioInput& scen, bool terminal) {
  Dialogue io{in, out, terminal};
  io.out << kBannerRule << std::endl
         << kBannerTitle << std::endl
         << kBannerCredit << std::endl
         << kBannerRule << std::endl
         << std::endl
         << std::endl;

  if (int status = readdosecount(io, 1, s.ndose1)) return status;
  if (int status = readdosecount(io, 2, s.ndose2)) return status;

  if (!readmatrix(io, s, kToxBlock, scen.scentox)) return kExitBadInput;
  if (!readmatrix(io, s, kEffBlock, scen.sceneff)) return kExitBadInput;

  io.out << std::endl << "Please enter the target toxicity : ";
  if (!readvalue(io, "the target toxicity", s.targettox,
                 atmostone("The target probability is larger than 1, please "
                           "reenter the correct target prob:"))) {
    return kExitBadInput;
  }
  io.out << std::endl << "Please enter the lowest accpectable response rate : ";
  if (!readvalue(io, "the lowest acceptable response rate", s.mineff,
                 atmostone("The response probability is larger than 1, please "
                           "reenter the correct accpectable response "
                           "rate:"))) {
    return kExitBadInput;
  }

  if (!readpriors(
          io, 1, s.ndose1,
          "The prior estimate of toxicity for drug 1 is: ", scen.scenprior1) ||
      !readpriors(
          io, 2, s.ndose2,
          "The prior estimate of toxicity for drug 2 is : ", scen.scenprior2)) {
    return kExitBadInput;
  }

  if (!readcount(io,
                 "total number of cohorts for the phase I dose finding", 1,
                 kMaxCohortValue, s.ncohort1) ||
      !readcount(io, "cohort size for the phase I trial", 1,
                 kMaxCohortValue, s.cohortsize1) ||
      !readcount(io, "total number of cohorts for the phase II trial", 0,
                 kMaxCohortValue, s.ncohort2) ||
      !readcount(io, "cohort size for the phase II trial", 1,
                 kMaxCohortValue, s.cohortsize2)) {
    return kExitBadInput;
  }

  for (bool yes = false; !yes;) {
    if (!readcount(io, "number of simulated trials", 1, INT_MAX,
                   s.ntrial)) {
      return kExitBadInput;
    }
    io.out << std::endl << "Are you sure to continue? (y/n): ";
    if (!readconfirm(io, "the number of simulated trials", yes)) {
      return kExitBadInput;
    }
  }

  io.out << std::endl
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
