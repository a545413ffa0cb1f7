// formats/cli.h: values of the command line that the front ends share.
// A seed is read by readseed() of numerics/streams.h, the streams' own rule,
// which the R package shares.
#ifndef COMBOSIM_FORMATS_CLI_H_
#define COMBOSIM_FORMATS_CLI_H_

#include "numerics/streams.h"

#endif  // COMBOSIM_FORMATS_CLI_H_
