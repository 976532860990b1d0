// Stops on Windows: the console's control events.
#include "interrupt.h"

static volatile LONG stopped = 0;

// The handler only records the request; the walk acts on it. Windows ends
// the process as soon as the handler returns from a closed console or a
// shutdown, so for those it does not return: the program's own exit, once
// everything is torn down, ends this thread with the process. A logoff is
// ignored: it may be any user's (a program that a service started sees every
// one), and an interactive session's programs end with it anyway. (Windows
// hands no logoff or shutdown event at all to a program that has loaded
// user32, as ole32 and shlwapi load it here; they are handled for when it does.)
BOOL WINAPI onConsoleEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      stopped = 1;
      return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      stopped = 1;
      for (;;) Sleep(INFINITE);
    case CTRL_LOGOFF_EVENT:
      return TRUE;
    default:
      return FALSE;
  }
}

void watchForStop(void) {
  SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

int stopAsked(void) {
  return stopped != 0;
}

int stoppedStatus(void) {
  return (int)STATUS_CONTROL_C_EXIT;
}
