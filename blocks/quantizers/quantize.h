// The scalar quantizer shared by bandmap and bandmaptimed: parameters input
// size, PARTITION and CODEBOOK, their checks, the conditions, and the step
// that maps every signal element to its interval index and codebook value and
// keeps the running mean of its squared error.
//
// Outputs: y[i] index, y[n + i] codebook value, y[2n + i] mean squared error.
#ifndef KIVREL_QUANTIZE_H
#define KIVREL_QUANTIZE_H

#include "kivrel.h"

namespace {

enum QuantParam { InputSizeParam = 0, PartitionParam = 1, CodebookParam = 2 };

// IWork: L, the PARTITION count taken at initialisation. RWork: the number K
// of computing calls, then the mean squared error of each element.
const int32_t kPartitionCount = 0;
const int32_t kCalls = 0;
const int32_t kMeanErrors = 1;

// Largest n for which the output width 3n still fits an int.
const int32_t kMaxSignalCount = INT32_MAX / 3;

// The parameter checks of the sizes call after the count check, in their
// fixed order; returns n.
int32_t checkQuantizerParams(BlockContext* S) {
  const axArray* size = blockParam(S, InputSizeParam);
  if (axGetM(size) != 1 || axGetN(size) != 1) blockError("Input size must be a nonempty scalar.");
  const int32_t partitions = axGetNumberOfElements(blockParam(S, PartitionParam));
  const int32_t codes = axGetNumberOfElements(blockParam(S, CodebookParam));
  if (codes - 1 != partitions) blockError("The vector size for PARTITION must be the size of CODEBOOK -1.");
  if (codes <= 1) blockError("The vector PARTITION cannot be empty.");
  // A negative, NaN or huge input size would give negative widths or overflow
  // 3n; such sizes are refused instead of handed to the host.
  const int32_t n = truncInt(axGetPr(size)[0]);
  if (n < 0 || n > kMaxSignalCount) blockError("Input size must be from 0 to %d.", kMaxSignalCount);
  return n;
}

// The signal count the block was sized for: the real work holds n + 1 values.
int32_t sizedSignalCount(const BlockContext* S) { return S->SizesVector[NumRWork] - 1; }

// The block's mdlInitializeConditions.
void initializeQuantizer(double*, BlockContext* S) {
  const int32_t n = sizedSignalCount(S);
  for (int32_t i = 0; i <= n; ++i) S->RWork[i] = 0.0;
  S->IWork[kPartitionCount] = axGetNumberOfElements(blockParam(S, PartitionParam));
}

// The quantization step over the n signal elements u[0] ... u[n-1].
//
// The parameters are read again here, so a change during the run takes effect
// at this call. A change that no longer fits the sizes the block runs with is
// refused instead of reading past the parameters or writing past y: the input
// size must stay n, and PARTITION and CODEBOOK must still hold the L and L + 1
// values that the search (with L cached at initialisation) reads.
void quantizeStep(BlockContext* S, double* y, const double* u) {
  const int32_t n = sizedSignalCount(S);
  const axArray* size = blockParam(S, InputSizeParam);
  if (axGetNumberOfElements(size) != 1 || truncInt(axGetPr(size)[0]) != n)
    blockError("Input size must not change during the simulation.");
  const int32_t L = S->IWork[kPartitionCount];
  const axArray* partition = blockParam(S, PartitionParam);
  const axArray* codebook = blockParam(S, CodebookParam);
  if (L < 0 || axGetNumberOfElements(partition) < L || axGetNumberOfElements(codebook) - 1 < L)
    blockError("PARTITION and CODEBOOK must not get shorter during the simulation.");
  const double* p = axGetPr(partition);
  const double* q = axGetPr(codebook);

  double* mean = S->RWork + kMeanErrors;
  const double K = S->RWork[kCalls];
  S->RWork[kCalls] = K + 1.0;
  for (int32_t i = 0; i < n; ++i) {
    // First boundary the value does not exceed: a value on a boundary takes
    // the lower interval, and NaN (never greater) index 0.
    int32_t j = 0;
    while (j < L && u[i] > p[j]) ++j;
    y[i] = j;
    y[n + i] = q[j];
    // The squared error and the new mean over K + 1 calls, in extended
    // precision, rounded once when stored.
    const long double d = static_cast<long double>(u[i]) - static_cast<long double>(q[j]);
    long double e = d * d;
    if (K != 0.0)
      e = (e + static_cast<long double>(K) * static_cast<long double>(mean[i])) /
          static_cast<long double>(S->RWork[kCalls]);
    mean[i] = static_cast<double>(e);
    y[2 * n + i] = static_cast<double>(e);
  }
}

}  // namespace

#endif
