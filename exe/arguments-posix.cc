// Arguments on the stand-in platform: the bytes that were passed, unconverted.
#include "arguments.h"

int argumentsAsTyped(int, char**) {
  return 1;
}
