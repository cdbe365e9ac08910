// Table-driven calls for the buffer block tests: each row sets the time and
// the input, calls mdlOutputs and compares the whole output vector.
#ifndef TESTS_BUFFERS_CALLS_H
#define TESTS_BUFFERS_CALLS_H

#include "harness.h"

typedef std::vector<double> Vec;

struct Call {
  double t;
  Vec u;
  Vec y;  // empty: not compared
};

inline void expectCalls(harness::Block& b, const std::vector<Call>& calls) {
  for (size_t k = 0; k < calls.size(); ++k) {
    b.t(calls[k].t);
    Vec y = b.outputs(calls[k].u);
    if (!calls[k].y.empty()) {
      EXPECT_EQ(y, calls[k].y) << "call " << k << " at t = " << calls[k].t;
    }
  }
}

#endif
