// design/posterior.cc: the posterior methods.
#include "design/posterior.h"

#include "design/effmodel.h"
#include "design/quadrature.h"
#include "design/toxmodel.h"

namespace {

class GibbsPosterior : public Posterior {
 public:
  explicit GibbsPosterior(const Design& design) : design_(design) {}

  DrawStatus toxicity(TrialState& s, StreamState& streams,
                      bool) const override {  // always the whole grid
    return updatetox(s, design_, streams);
  }
  DrawStatus phase2(TrialState& s, StreamState& streams,
                    bool wholegrid) const override {
    return phase2gibbs(s, design_, streams, wholegrid, effinit_);
  }

 private:
  const Design design_;
  const EffDensity::Init effinit_;
};

}  // namespace

std::unique_ptr<const Posterior> makeposterior(const Design& design) {
  switch (design.method) {
    case PosteriorMethod::kGibbs:
      break;
    case PosteriorMethod::kQuadrature:
      return makequadrature(design);
  }
  return std::make_unique<GibbsPosterior>(design);
}
