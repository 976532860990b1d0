// Stops on the stand-in platform: SIGINT, SIGTERM and SIGHUP.
#include <signal.h>
#include <string.h>

#include "interrupt.h"

static volatile sig_atomic_t stopSignal = 0;  // the first signal that asked for a stop

static void onSignal(int number) {
  if (stopSignal == 0) stopSignal = number;
}

// A signal that the program was started ignoring (nohup ignores SIGHUP) stays
// ignored. While the handler runs, the other two wait, so that a later signal
// cannot come between its test and its store. A write that a signal
// interrupts is tried again by the output's own loop, and so is the
// stand-in's wait.
void watchForStop(void) {
  const int numbers[] = {SIGINT, SIGTERM, SIGHUP};
  for (int number : numbers) {
    struct sigaction action, previous;
    memset(&action, 0, sizeof action);
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    for (int other : numbers) sigaddset(&action.sa_mask, other);
    if (sigaction(number, &action, &previous) == 0 && previous.sa_handler == SIG_IGN)
      sigaction(number, &previous, NULL);
  }
}

int stopAsked(void) {
  return stopSignal != 0;
}

int stoppedStatus(void) {
  return 128 + stopSignal;
}
