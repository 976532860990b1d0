// ferrule.exe's console handler, handed one console control event as Windows
// hands it, on a thread of its own. Prints "returned N" (N the handler's
// result) when the handler returned within two seconds, else "held"; then
// "stop asked N". Run once per event: a stop, once asked, stays asked.
// usage: console_events EVENT
#include <stdio.h>
#include <stdlib.h>

#include "interrupt.h"

static DWORD WINAPI callHandler(LPVOID event) {
  return onConsoleEvent(*(DWORD*)event);
}

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  DWORD event = strtoul(argv[1], NULL, 10);
  HANDLE thread = CreateThread(NULL, 0, callHandler, &event, 0, NULL);
  if (thread == NULL) return 2;
  DWORD result = 0;
  if (WaitForSingleObject(thread, 2000) == WAIT_OBJECT_0 && GetExitCodeThread(thread, &result))
    printf("returned %lu\n", (unsigned long)result);
  else
    printf("held\n");
  printf("stop asked %d\n", stopAsked());
  fflush(stdout);
  // A held handler's thread ends with the process, as in ferrule.exe.
  ExitProcess(0);
}
