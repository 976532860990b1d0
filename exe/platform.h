// The one header that chooses the platform: Windows' own network configuration
// interfaces, or, on every other system, the stand-in that imitates them.
#ifndef FERRULE_PLATFORM_H
#define FERRULE_PLATFORM_H

#ifdef _WIN32
#include <windows.h>
#include <objbase.h>
#include <netcfgx.h>
#include <devguid.h>
#include <shlwapi.h>
#else
#include "netcfg.h"
#endif

#endif
