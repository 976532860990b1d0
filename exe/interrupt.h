// A stop that the user or the system asks for while ferrule works: Ctrl+C,
// Ctrl+Break, a closed console or a shutdown on Windows; SIGINT, SIGTERM or
// SIGHUP elsewhere. A change is never cut in the middle: the component walk
// asks before it fetches each next component, so the one in hand is finished
// (its paths changed and applied), the configuration is torn down in reverse
// order, and what was printed is written out. The exit status then says that
// the run was stopped.
#ifndef FERRULE_INTERRUPT_H
#define FERRULE_INTERRUPT_H

#include "platform.h"

// From now on, a stop is recorded instead of ending the process.
void watchForStop(void);

// Non-zero once a stop has been asked.
int stopAsked(void);

// The exit status of a stopped run: on Windows STATUS_CONTROL_C_EXIT, which
// Windows gives a console program that Ctrl+C ended; elsewhere 128 plus the
// signal's number, as a shell reports a program that a signal ended.
int stoppedStatus(void);

#ifdef _WIN32
// The handler that Windows calls, on a thread of its own, for each console
// control event.
BOOL WINAPI onConsoleEvent(DWORD event);
#endif

#endif
