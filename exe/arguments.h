// Whether the argument vector is what was typed. On Windows the C runtime
// hands main a narrow vector converted from the wide command line into the
// ANSI code page, with best-fit look-alikes for what the code page lacks, and
// splits it only after that conversion: a fullwidth letter becomes its ASCII
// letter, a fullwidth quotation mark a real one that can close a value's
// quoting. A vector that is not exactly what was typed is refused as a usage
// error. Elsewhere the vector is the bytes that were passed, as UTF-8.
#ifndef FERRULE_ARGUMENTS_H
#define FERRULE_ARGUMENTS_H

#include <vector>

#include "platform.h"

// Non-zero when every argument after the program name is exactly as typed.
int argumentsAsTyped(int argc, char** argv);

// One argument as the platform's wide text, held in wide, which is sized to
// it: on Windows from the ANSI code page that the narrow vector is in, on the
// stand-in from UTF-8. A byte is never taken as the code point of its value:
// in code page 1252 the byte 0x80 is the euro sign, not U+0080. Returns 0 when
// the text is no text of that encoding.
int widenArgument(const char* text, std::vector<WCHAR>& wide);

#ifdef _WIN32
// Non-zero when the narrow vector holds as many arguments as the wide one, and
// each after the program name, converted back from the ANSI code page, equals
// the wide one exactly. The program name is never compared: a folder named
// outside the code page must not make the program unusable.
int sameArguments(int argc, char** argv, int wideArgc, WCHAR** wideArgv);

// widenArgument's conversion from a code page of the caller's choosing.
int widenFromCodePage(UINT codePage, const char* text, std::vector<WCHAR>& wide);
#endif

#endif
