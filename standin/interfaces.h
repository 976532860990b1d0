// The interfaces that the stand-in's objects implement: Windows' own when the
// objects are built into the test server for Windows, the stand-in's elsewhere.
#ifndef STANDIN_INTERFACES_H
#define STANDIN_INTERFACES_H

#ifdef _WIN32
#include <windows.h>
#include <objbase.h>
#include <netcfgx.h>
#include <devguid.h>
#else
#include "netcfg.h"
#endif

#endif
