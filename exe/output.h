// Everything the program prints goes through here, to standard output.
//
// Text is gathered in a block of a few kilobytes and written with one call per
// block. On a Windows console it is written as UTF-16, so that every script
// shows as the console can show it; redirected to a file or a pipe it is
// converted to the console's output code page, or to the OEM code page when
// there is no console, which is what cmd, find and more read. Elsewhere it is
// written as UTF-8. "\n" ends a line, as CR LF on Windows.
#ifndef FERRULE_OUTPUT_H
#define FERRULE_OUTPUT_H

#include "platform.h"

// ASCII text of the program's own.
void printText(const char* text);

// The first length characters of a wide string, as they are.
void printWidePart(const WCHAR* text, size_t length);

// A name or token of the platform's, with each control character (U+0000 to
// U+001F, U+007F to U+009F), line or paragraph separator (U+2028, U+2029) and
// bidirectional control (U+061C, U+200E, U+200F, U+202A to U+202E, U+2066 to
// U+2069) shown as ?: a name comes from a driver, and must not end a line for
// any reader, begin another, send a terminal an escape sequence, or turn the
// rest of a line around.
void printName(const WCHAR* text);
void printNamePart(const WCHAR* text, size_t length);

// printf's format, for the program's own messages and numbers (ASCII).
void printFormatted(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// The program's name as the process received it, shown as a name is; argv0
// is the argument vector's first element (on Windows the wide command line is
// read instead, so that a folder name beyond the narrow code page prints whole).
void printProgramName(const char* argv0);

// Writes out what is gathered; done before the program waits on the platform,
// and before it ends.
void flushOutput(void);

// The platform's half (output-win32.cc, output-posix.cc), which also holds
// printProgramName: the line end, and the writing of one block.
enum { OUTPUT_BLOCK = 8192 };  // wide characters gathered before a write
extern const WCHAR outputLineEnd[];
void writeOutput(const WCHAR* text, size_t length);  // length <= OUTPUT_BLOCK

#ifdef _WIN32
#include <vector>

// Redirected text's conversion into a code page, with WideCharToMultiByte's
// signature so that a test can answer for a code page Wine lacks. Returns the
// number of bytes in bytes, which is resized to hold them.
typedef int(WINAPI* TextConverter)(UINT, DWORD, LPCWCH, int, LPSTR, int, LPCCH, LPBOOL);
size_t encodeText(TextConverter convert, UINT codePage, const WCHAR* text, int length, std::vector<char>& bytes);
#else
#include <sys/types.h>

// The stand-in's writing of bytes to standard output until all are written,
// or the writer fails; the writer has write's signature, so that a test can
// answer as a pipe may, a few bytes at a time.
typedef ssize_t (*ByteWriter)(int descriptor, const void* bytes, size_t length);
void writeAll(ByteWriter writer, const char* bytes, size_t length);
#endif

#endif
