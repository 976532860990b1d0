// Arguments on the stand-in platform: the bytes that were passed, read as
// UTF-8, the encoding of the stand-in's names and of ferrule's output there.
#include "arguments.h"

#include <string>

#include "machine.h"

// Text that is not UTF-8 does not come back the same from the stand-in's
// decoder, which puts U+FFFD in place of what it cannot read.
int widenArgument(const char* text, std::vector<WCHAR>& wide) {
  std::wstring decoded = standin::fromUtf8(text);
  if (standin::toUtf8(decoded) != text) return 0;
  wide.assign(decoded.begin(), decoded.end());
  wide.push_back(0);
  return 1;
}

int argumentsAsTyped(int argc, char** argv) {
  std::vector<WCHAR> wide;
  for (int i = 1; i < argc; i++)
    if (!widenArgument(argv[i], wide)) return 0;
  return 1;
}
