// The exit statuses of blocksim, one vocabulary for `run`, `step`, `sweep`
// and the statuses a study records for its points.
#ifndef BLOCKSIM_STATUS_H
#define BLOCKSIM_STATUS_H

namespace blocksim {

enum ExitStatus {
  ExitOk = 0,
  ExitBlockError = 1,    // a block's message (plgErrMsgTxt) or ErrorStatus stopped it
  ExitMistake = 2,       // a mistake in the model, the script or an option
  ExitWroteOutside = 3,  // a block wrote outside a host vector
  ExitPlotFailed = 4,    // the run completed but --plot could not be drawn
  ExitOutputFailed = 5,  // the CSV (or a study's results) could not be written
  ExitOutOfMemory = 6,   // an allocation failed
  // The statuses a study records for a point that did not end by itself,
  // as timeout(1) and a shell give them.
  ExitTimeLimit = 124,    // the point ran past its time limit
  ExitCannotStart = 127,  // the point's run could not be started
  // 128 + the signal: SIGINT (130) or SIGTERM (143) stopped a run.
  ExitSignalBase = 128,
};

}  // namespace blocksim

#endif
