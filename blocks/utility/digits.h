// The parameters that packframe and unpackframe share: the base and the
// order flag, each read from the first element of its parameter.
#ifndef KIVREL_UTILITY_DIGITS_H
#define KIVREL_UTILITY_DIGITS_H

#include "kivrel.h"

namespace {

// The first element of a parameter, truncated toward zero. An empty parameter
// has no first element and is refused.
int32_t intParam(BlockContext* S, int k, const char* what) {
  const axArray* a = blockParam(S, k);
  if (axGetNumberOfElements(a) < 1) blockError("%s must not be empty.", what);
  return truncInt(axGetPr(a)[0]);
}

// The base of parameter k; a base of 1 or less counts as 2.
int32_t digitBase(BlockContext* S, int k) {
  const int32_t b = intParam(S, k, "Base");
  return b <= 1 ? 2 : b;
}

// Whether the order flag of parameter k puts the least significant digit
// last (any value but 0).
bool lsbLast(BlockContext* S, int k) { return intParam(S, k, "Order flag") != 0; }

}  // namespace

#endif
