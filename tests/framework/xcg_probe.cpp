// A test block for the code-generation services as built into a plug-in, at
// level 1 (xcgprobe) or level 2 (xcgprobe2). Its sizes callback registers
// three RWork elements, writes the RWork defines "gain" and "history" with the
// widths given by parameter 0 (entry 11 receives the writer's result), puts
// the data-type id of parameter 1 into entry 12, and warns "sized".
#include "xcg.h"

namespace {

void mdlInitializeSizes(BlockContext* S) {
  checkParamCount(S, 2);
  int32_t* sv = S->SizesVector;
  sv[NumSampleTimes] = 1;
  sv[NumRWork] = 3;
  sv[NumSFcnParams] = 2;
  const axArray* widths = blockParam(S, 0);
  if (axGetNumberOfElements(widths) != 2) blockError("Parameter 0 must hold two widths.");
  const double* w = axGetPr(widths);
  sv[11] = ssWriteXCGWorkVect(S, "RWork", 2, "gain", truncInt(w[0]), "history", truncInt(w[1]));
  sv[12] = ClassIdToDataTypeId(blockParam(S, 1));
  BlockWarning(S, "sized");
}

}  // namespace

// Built at both levels from this one source: each plug-in's framework uses
// the table of its level.
const Level1Block kivrelBlock = {.mdlInitializeSizes = mdlInitializeSizes};
const Level2Block kivrelBlock2 = {.mdlInitializeSizes = mdlInitializeSizes};
