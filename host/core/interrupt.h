// SIGINT and SIGTERM during `blocksim run`: the first asks the run to stop at
// the next step boundary (every started block is then terminated, the CSV
// ends on a whole row, temporary files are removed, and blocksim exits with
// 128 + the signal); a second one ends the process at once.
#ifndef BLOCKSIM_INTERRUPT_H
#define BLOCKSIM_INTERRUPT_H

namespace blocksim {

// Installs the handlers of SIGINT and SIGTERM.
void catchInterrupts();
// The signal that asked the run to stop, or 0.
int interruptSignal();
// Forgets a request (for a process that runs several models, such as tests).
void clearInterrupt();
// "SIGINT", "SIGTERM".
const char* signalName(int sig);

}  // namespace blocksim

#endif
