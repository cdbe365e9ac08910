#include "interrupt.h"

#include <signal.h>
#include <string.h>

namespace blocksim {

namespace {

volatile sig_atomic_t requested = 0;

void onSignal(int sig) {
  if (requested != 0) {
    // The second signal: end now, as the signal would have without us.
    signal(sig, SIG_DFL);
    raise(sig);
    return;
  }
  requested = sig;
}

}  // namespace

void catchInterrupts() {
  struct sigaction sa;
  memset(&sa, 0, sizeof sa);
  sa.sa_handler = onSignal;
  sigemptyset(&sa.sa_mask);
  // System calls go on after the handler: the run looks at the request at
  // its next step boundary.
  sa.sa_flags = SA_RESTART;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
}

int interruptSignal() { return requested; }

void clearInterrupt() { requested = 0; }

const char* signalName(int sig) {
  switch (sig) {
    case SIGINT: return "SIGINT";
    case SIGTERM: return "SIGTERM";
    default: return "a signal";
  }
}

}  // namespace blocksim
