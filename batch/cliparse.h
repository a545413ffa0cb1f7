// batch/cliparse.h: the checks of command-line values that combosim-batch
// and combosim-study share.
#ifndef COMBOSIM_BATCH_CLIPARSE_H_
#define COMBOSIM_BATCH_CLIPARSE_H_

#include <string>

// A check of a count option: "" or the problem.
std::string atleastone(const std::string& text);

// Reads "K/N" with 1 <= K <= N. Returns "" or the problem.
std::string readshard(const std::string& text, int& k, int& n);

#endif  // COMBOSIM_BATCH_CLIPARSE_H_
