#include "sources.h"

#include <math.h>

#include <algorithm>

#include "graph.h"

namespace blocksim {

namespace {
const double kTwoPi = 6.283185307179586;
}  // namespace

void evalSource(const SourceSpec& s, double step, double t, double* y) {
  const double tol = kTimeTolerance * step;
  switch (s.kind) {
    case SourceKind::Constant:
      for (size_t i = 0; i < s.value.size(); ++i) y[i] = s.value[i];
      break;
    case SourceKind::Pulse: {
      // High from the start of each period for `width`, counted in periods
      // so that a time on a period boundary starts the pulse.
      const double q = (t - s.delay) / s.period;
      const double eps = kTimeTolerance * std::max(1.0, fabs(q));
      double out = 0.0;
      if (q >= -eps) {
        const double frac = q - floor(q + eps);
        if (frac < s.width / s.period - eps) out = s.amplitude;
      }
      y[0] = out;
      break;
    }
    case SourceKind::Step:
      y[0] = t >= s.time - tol ? s.after : s.before;
      break;
    case SourceKind::Sine:
      y[0] = s.amplitude * sin(kTwoPi * s.frequency * t + s.phase) + s.bias;
      break;
    case SourceKind::Ramp:
      y[0] = t >= s.start ? s.slope * (t - s.start) : 0.0;
      break;
    case SourceKind::File: {
      // The last row at or before t; nothing (zeros) before the first row.
      auto it = std::upper_bound(s.times.begin(), s.times.end(), t + tol);
      const size_t w = static_cast<size_t>(s.outputs);
      if (it == s.times.begin()) {
        for (size_t i = 0; i < w; ++i) y[i] = 0.0;
      } else {
        const double* row = s.rows.data() + static_cast<size_t>(it - s.times.begin() - 1) * w;
        for (size_t i = 0; i < w; ++i) y[i] = row[i];
      }
      break;
    }
  }
}

}  // namespace blocksim
