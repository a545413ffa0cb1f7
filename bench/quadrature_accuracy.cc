// bench/quadrature_accuracy.cc: the quadrature posterior against reference
// values by adaptive integration (bench/quadrature_reference.R writes them).
// Prints, per data set, its effective number of toxicity nodes and largest
// error of a probability; then the largest absolute error of each quantity
// over every data set.
//
//   quadrature_accuracy [--nodes ALPHA BETA GAMMA A B] REFERENCE_FILE...
// The optional node counts replace the defaults.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "design/posterior.h"
#include "design/quadrature.h"
#include "numerics/streams.h"

namespace {

struct Worst {
  double error = 0;
  int set = 0;
  void see(double e, int id) {
    if (std::fabs(e) > error) {
      error = std::fabs(e);
      set = id;
    }
  }
};

bool expect(std::istream& in, const std::string& word) {
  std::string got;
  return static_cast<bool>(in >> got) && got == word;
}

}  // namespace

int main(int argc, char** argv) {
  QuadratureSettings nodes;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--nodes" && i + 5 < argc) {
      for (int k = 0; k < 3; ++k) nodes.toxnodes[k] = std::atoi(argv[++i]);
      for (int k = 0; k < 2; ++k) nodes.effnodes[k] = std::atoi(argv[++i]);
    } else {
      files.push_back(argv[i]);
    }
  }
  if (files.empty() || checkquadrature(nodes) != "") {
    std::cerr << "usage: quadrature_accuracy [--nodes ALPHA BETA GAMMA A B] "
                 "REFERENCE_FILE...\n";
    return 2;
  }
  Worst meantox, prsafe, admprsafe, meaneff, admpreff;
  double fewest = 1e300;
  int fewestset = 0;
  int nsets = 0;
  auto s = std::make_unique<TrialState>();
  for (const std::string& file : files) {
    std::ifstream in(file);
    if (!in) {
      std::cerr << "quadrature_accuracy: cannot read " << file << "\n";
      return 1;
    }
    std::string line;
    std::getline(in, line);  // the header
    for (int setinfile; expect(in, "set") && (in >> setinfile);) {
      const int id = nsets + 1;
      Design design;
      design.method = PosteriorMethod::kQuadrature;
      design.quadrature = nodes;
      SimulationSettings& st = design.settings;
      in >> st.ndose1 >> st.ndose2 >> st.targettox >> st.mineff;
      st.ncohort1 = 100;
      st.cohortsize1 = 1;
      *s = TrialState();
      expect(in, "prior1");
      for (int d = 0; d < st.ndose1; ++d) in >> design.prior1[d];
      expect(in, "prior2");
      for (int d = 0; d < st.ndose2; ++d) in >> design.prior2[d];
      for (int d = 0; d < st.ndose1; ++d) s->priortox1[d] = design.prior1[d];
      for (int d = 0; d < st.ndose2; ++d) s->priortox2[d] = design.prior2[d];
      int ncells = 0;
      expect(in, "cells");
      in >> ncells;
      for (int c = 0; c < ncells; ++c) {
        int d1, d2, n, y, r;
        in >> d1 >> d2 >> n >> y >> r;
        s->npat[d1][d2] = n;
        s->ntox[d1][d2] = y;
        s->nresp[d1][d2] = r;
      }
      expect(in, "adm");
      in >> s->nadm;
      for (int j = 0; j < s->nadm; ++j) {
        in >> s->adm1[j] >> s->adm2[j];
        s->admopen[j] = 1;
      }
      const std::unique_ptr<const Posterior> posterior = makeposterior(design);
      StreamState streams;
      posterior->toxicity(*s, streams, true);
      if (s->effectivenodes < fewest) {
        fewest = s->effectivenodes;
        fewestset = id;
      }
      auto phase2 = std::make_unique<TrialState>(*s);
      posterior->phase2(*phase2, streams, false);
      int patients = 0;
      for (int d1 = 0; d1 < st.ndose1; ++d1) {
        for (int d2 = 0; d2 < st.ndose2; ++d2) patients += s->npat[d1][d2];
      }
      Worst here;
      int ntox = 0;
      expect(in, "tox");
      in >> ntox;
      for (int c = 0; c < ntox; ++c) {
        int d1, d2;
        double mt, ps;
        in >> d1 >> d2 >> mt >> ps;
        meantox.see(s->meantox[d1][d2] - mt, id);
        prsafe.see(s->prsafe[d1][d2] - ps, id);
        here.see(s->prsafe[d1][d2] - ps, id);
        for (int j = 0; j < s->nadm; ++j) {
          if (s->adm1[j] == d1 && s->adm2[j] == d2) {
            admprsafe.see(phase2->admprsafe[j] - ps, id);
          }
        }
      }
      int neff = 0;
      expect(in, "eff");
      in >> neff;
      for (int e = 0; e < neff; ++e) {
        int j;
        double me, pe;
        in >> j >> me >> pe;
        meaneff.see(phase2->meaneff[j] - me, id);
        admpreff.see(phase2->admpreff[j] - pe, id);
        here.see(phase2->admpreff[j] - pe, id);
      }
      std::printf(
          "set %2d: %2dx%-2d %3d patients, %6.1f effective toxicity nodes%s, "
          "largest probability error %.1e\n",
          id, st.ndose1, st.ndose2, patients, s->effectivenodes,
          coarseupdate(*s) ? " (coarse)" : "", here.error);
      if (!in) {
        std::cerr << "quadrature_accuracy: set " << id << " is incomplete\n";
        return 1;
      }
      ++nsets;
    }
  }
  std::printf(
      "%d data sets, nodes %d x %d x %d (toxicity), %d x %d (efficacy)\n",
      nsets, nodes.toxnodes[0], nodes.toxnodes[1], nodes.toxnodes[2],
      nodes.effnodes[0], nodes.effnodes[1]);
  std::printf(
      "max |error|  meantox %.2e (set %d)  prsafe %.2e (set %d)  admprsafe "
      "%.2e (set %d)\n",
      meantox.error, meantox.set, prsafe.error, prsafe.set, admprsafe.error,
      admprsafe.set);
  std::printf("             meaneff %.2e (set %d)  admpreff %.2e (set %d)\n",
              meaneff.error, meaneff.set, admpreff.error, admpreff.set);
  std::printf("fewest effective toxicity nodes %.1f (set %d)\n", fewest,
              fewestset);
  return 0;
}
