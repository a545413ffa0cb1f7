// records/trialstate.h: the run's data records.
//
// SimulationSettings, ScenarioInput and Accumulators are held by the engine's
// caller; the settings reach the engine inside a design (design/design.h).
// TrialState describes the trial being simulated; the engine owns exactly one,
// allocates it once for the run and passes it by reference to every
// per-trial operation.
//
// Per-combination arrays are 10 by 10 with the drug-1 index first: element
// (d1, d2) is [d1][d2]. Only the ndose1 by ndose2 cells are ever used.
#ifndef COMBOSIM_RECORDS_TRIALSTATE_H_
#define COMBOSIM_RECORDS_TRIALSTATE_H_

#include <cstdint>
#include <string>

constexpr int kMaxDose = 10;                    // dose levels per drug
constexpr int kMaxAdm = kMaxDose * kMaxDose;    // admissible list: whole grid
constexpr int kNumDraws = 2000;                 // retained Gibbs iterations
constexpr int kBurnIn = 100;                    // discarded Gibbs iterations
constexpr int kNumIter = kBurnIn + kNumDraws;   // Gibbs iterations per update
// Upper bound on the cohort numbers and sizes: keeps a trial's patient counts
// (1000 * 1000 per phase) far inside a 32-bit int.
constexpr int kMaxCohortValue = 1000;

struct SimulationSettings {
  int ndose1 = 0;         // J, dose levels of drug 1, 1 to 10
  int ndose2 = 0;         // K, dose levels of drug 2, 1 to 10
  double targettox = 0;   // target toxicity probability
  double mineff = 0;      // lowest acceptable response rate
  int ncohort1 = 0;       // phase I cohorts per trial, at least 1
  int cohortsize1 = 0;    // patients per phase I cohort
  int ncohort2 = 0;       // phase II cohorts per trial
  int cohortsize2 = 0;    // patients per phase II cohort
  int ntrial = 0;         // trials to simulate
  std::string outdir = "./";  // prefix of the report file's path
};

struct ScenarioInput {
  double scentox[kMaxDose][kMaxDose] = {};  // true toxicity probabilities
  double sceneff[kMaxDose][kMaxDose] = {};  // true response probabilities
  double scenprior1[kMaxDose] = {};         // prior toxicity, drug-1 levels
  double scenprior2[kMaxDose] = {};         // prior toxicity, drug-2 levels
};

struct TrialState {
  double truetox[kMaxDose][kMaxDose] = {};  // true toxicity probability
  double trueeff[kMaxDose][kMaxDose] = {};  // true response probability
  double priortox1[kMaxDose] = {};          // prior toxicity per drug-1 level
  double priortox2[kMaxDose] = {};          // prior toxicity per drug-2 level
  int npat[kMaxDose][kMaxDose] = {};        // patients treated in this trial
  int ntox[kMaxDose][kMaxDose] = {};        // toxicities; <= npat
  int nresp[kMaxDose][kMaxDose] = {};       // responses; <= npat
  bool phase1 = true;                       // true while in phase I
  int cur1 = 0;                             // drug-1 index of the current combination
  int cur2 = 0;                             // drug-2 index of the current combination
  int ntotal = 0;                           // patients treated so far in this trial
  double betatox[3] = {};                   // alpha, beta, gamma during Gibbs sampling
  int ntoxpar = 3;                          // number of toxicity parameters
  double betaeff[2] = {};                   // efficacy hyper-parameters a, b
  int neffpar = 2;                          // number of efficacy hyper-parameters
  int toxpar = 0;                           // index of the toxicity parameter being drawn
  int effpar = 0;                           // index of the hyper-parameter being drawn
  double meantox[kMaxDose][kMaxDose] = {};  // posterior mean toxicity
  double prsafe[kMaxDose][kMaxDose] = {};   // posterior pr(toxicity < targettox)
  double ndeesc[kMaxDose][kMaxDose] = {};   // de-escalation decisions, as a real
  int adm1[kMaxAdm] = {};                   // admissible entry k: drug-1 index
  int adm2[kMaxAdm] = {};                   // admissible entry k: drug-2 index
  int nadm = 0;                             // entries in the admissible list
  int admopen[kMaxAdm] = {};                // 1 while entry k is open in phase II
  double admprsafe[kMaxAdm] = {};           // phase II pr(toxicity < targettox)
  double admpreff[kMaxAdm] = {};            // phase II pr(response > mineff)
  double meaneff[kMaxAdm] = {};             // posterior mean response probability
  double peff[kMaxAdm] = {};                // current Gibbs value of the response probability
  double effdraws[kMaxAdm][kNumDraws] = {}; // retained draws, in draw order
  int ndraws = kNumDraws;                   // draws per entry in effdraws
  double toxdraws1[kNumDraws][3] = {};      // Gibbs: the last phase I toxicity
                                            // update's retained alpha, beta,
                                            // gamma, in draw order
  double toxdraws2[kNumDraws][3] = {};      // Gibbs: the same of the last
                                            // phase II update
  double effectivenodes = 0;                // effective number of quadrature
                                            // nodes behind the last update
                                            // (0: not a quadrature update)
};

// Sums over all simulated trials. 64-bit, so no number of trials overflows.
struct Accumulators {
  std::int64_t sumpat[kMaxDose][kMaxDose] = {};
  std::int64_t sumtox[kMaxDose][kMaxDose] = {};
  std::int64_t sumresp[kMaxDose][kMaxDose] = {};
  std::int64_t nselect[kMaxDose][kMaxDose] = {};
};

#endif  // COMBOSIM_RECORDS_TRIALSTATE_H_
