// The host signal sources of a model (constant, pulse, step, sine, ramp,
// file): functions of time the host computes itself, no plug-in involved.
#ifndef BLOCKSIM_SOURCES_H
#define BLOCKSIM_SOURCES_H

#include "model.h"

namespace blocksim {

// Writes the source's outputs at time t into y (source.outputs values); step
// is the base step, whose tolerance decides a switch at a step time.
void evalSource(const SourceSpec& source, double step, double t, double* y);

}  // namespace blocksim

#endif
