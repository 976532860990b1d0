// Stops on the stand-in platform: SIGINT, SIGTERM and SIGHUP (and SIGPIPE, which is none).
#include <signal.h>
#include <string.h>

#include "interrupt.h"

static volatile sig_atomic_t stopSignal = 0;  // the first signal that asked for a stop

static void onSignal(int number) {
  if (stopSignal == 0) stopSignal = number;
}

// A signal that the program was started ignoring (nohup ignores SIGHUP) stays
// ignored: its disposition is read before any handler is installed, so that
// one arriving meanwhile is not taken for a stop. While the handler runs, the
// other two wait, so that a later signal cannot come between its test and its
// store. A write that a signal interrupts is tried again by the output's own
// loop, and so is the stand-in's wait. A closed output pipe is no stop: the
// write fails, as it does on Windows, and the run goes on to its end.
void watchForStop(void) {
  const int numbers[] = {SIGINT, SIGTERM, SIGHUP};
  for (int number : numbers) {
    struct sigaction action, inherited;
    if (sigaction(number, NULL, &inherited) != 0 || inherited.sa_handler == SIG_IGN) continue;
    memset(&action, 0, sizeof action);
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    for (int other : numbers) sigaddset(&action.sa_mask, other);
    sigaction(number, &action, NULL);
  }
  signal(SIGPIPE, SIG_IGN);
}

int stopAsked(void) {
  return stopSignal != 0;
}

int stoppedStatus(void) {
  return 128 + stopSignal;
}
