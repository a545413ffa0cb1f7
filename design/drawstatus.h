// design/drawstatus.h: how a posterior update reports a failed sampler draw.
#ifndef COMBOSIM_DESIGN_DRAWSTATUS_H_
#define COMBOSIM_DESIGN_DRAWSTATUS_H_

struct DrawStatus {
  int code = 0;           // 0: every draw succeeded; > 0: the sampler's error
                          // code; < 0: negated exit status of a sampler guard
  int param = 0;          // index of the parameter whose draw failed
  bool efficacy = false;  // true: an efficacy hyper-parameter (betaeff),
                          // false: a toxicity parameter (betatox)
  bool ok() const { return code == 0; }
};

#endif  // COMBOSIM_DESIGN_DRAWSTATUS_H_
