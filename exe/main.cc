#include "command_line.h"
#include "interrupt.h"

// A run that was asked to stop finishes the component in hand and then says,
// in its exit status, that it was stopped, whatever it did before.
int main(int argc, char** argv) {
  watchForStop();
  int status = runCommandLine(argc, argv);
  return stopAsked() ? stoppedStatus() : status;
}
