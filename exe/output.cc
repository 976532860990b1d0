// Gathers what the program prints into one block and hands it to the
// platform's half (output-win32.cc, output-posix.cc) a block at a time.
#include "output.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <wchar.h>

static WCHAR block[OUTPUT_BLOCK];
static size_t used = 0;

static int isHighSurrogate(WCHAR c) {
  return ((unsigned long)c & 0xFC00) == 0xD800;
}

// Writes out the gathered text. When the block is full and ends in the first
// half of a surrogate pair, that half waits for the second, so that no
// character is split between two writes.
static void writeBlock(int keepSplitPair) {
  size_t length = used;
  if (keepSplitPair && length > 0 && isHighSurrogate(block[length - 1])) length--;
  if (length > 0) writeOutput(block, length);
  memmove(block, block + length, (used - length) * sizeof block[0]);
  used -= length;
}

static void put(WCHAR c) {
  if (used == OUTPUT_BLOCK) writeBlock(1);
  block[used++] = c;
}

static void putCharacter(WCHAR c) {
  if (c != L'\n') {
    put(c);
    return;
  }
  for (const WCHAR* end = outputLineEnd; *end != 0; end++) put(*end);
}

void printWidePart(const WCHAR* text, size_t length) {
  for (size_t i = 0; i < length; i++) putCharacter(text[i]);
}

// Unicode's controls (general category Cc), the line and paragraph
// separators, which readers such as Python's splitlines() end a line at, and
// the bidirectional controls, which reorder what a terminal shows.
static int showsAsQuestionMark(unsigned long c) {
  if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) return 1;
  if (c == 0x2028 || c == 0x2029) return 1;
  return c == 0x061C || c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

void printNamePart(const WCHAR* text, size_t length) {
  for (size_t i = 0; i < length; i++) putCharacter(showsAsQuestionMark((unsigned long)text[i]) ? L'?' : text[i]);
}

void printName(const WCHAR* text) {
  printNamePart(text, wcslen(text));
}

void printText(const char* text) {
  for (; *text != 0; text++) putCharacter((WCHAR)(unsigned char)*text);
}

void printFormatted(const char* format, ...) {
  // The program's messages are one short line each.
  char line[256];
  va_list arguments;
  va_start(arguments, format);
  vsnprintf(line, sizeof line, format, arguments);
  va_end(arguments);
  printText(line);
}

void flushOutput(void) {
  writeBlock(0);
}
