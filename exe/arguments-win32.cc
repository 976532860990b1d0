// Arguments on Windows: the narrow vector beside the wide command line.
#include "arguments.h"

#include <wchar.h>

#include <vector>

// msvcrt's own splitter of the wide command line, the one that built the
// narrow vector from the narrow command line; MinGW's headers do not declare it.
struct MsvcrtStartupInfo {
  int newMode;
};
extern "C" int __cdecl __wgetmainargs(int* argc, WCHAR*** argv, WCHAR*** env, int expandWildcards,
                                      MsvcrtStartupInfo* startupInfo);

// Fails on bytes that are no character of the code page.
int widenFromCodePage(UINT codePage, const char* text, std::vector<WCHAR>& wide) {
  int length = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text, -1, NULL, 0);
  if (length <= 0) return 0;
  wide.assign((size_t)length, 0);
  return MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text, -1, &wide[0], length) == length;
}

int widenArgument(const char* text, std::vector<WCHAR>& wide) {
  return widenFromCodePage(CP_ACP, text, wide);
}

int sameArguments(int argc, char** argv, int wideArgc, WCHAR** wideArgv) {
  if (argc != wideArgc) return 0;
  std::vector<WCHAR> wide;
  for (int i = 1; i < argc; i++) {
    if (!widenArgument(argv[i], wide) || wcscmp(&wide[0], wideArgv[i]) != 0) return 0;
  }
  return 1;
}

int argumentsAsTyped(int argc, char** argv) {
  int wideArgc = 0;
  WCHAR** wideArgv = NULL;
  WCHAR** environment = NULL;
  MsvcrtStartupInfo startupInfo = {0};
  if (__wgetmainargs(&wideArgc, &wideArgv, &environment, 0, &startupInfo) < 0 || wideArgv == NULL) return 0;
  return sameArguments(argc, argv, wideArgc, wideArgv);
}
