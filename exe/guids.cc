// Windows declares the class and interface identifiers without defining them;
// this is the one place that defines them for ferrule.exe. The stand-in
// defines its own.
#ifdef _WIN32
#include <initguid.h>
#include "platform.h"
#endif
