// Output on Windows: UTF-16 to a console; to a file or a pipe, the text in the
// code page that whoever reads it expects.
#include "output.h"

const WCHAR outputLineEnd[] = L"\r\n";

static int isConsole(HANDLE handle) {
  DWORD mode;
  return GetConsoleMode(handle, &mode) != 0;
}

static void writeConsole(HANDLE console, const WCHAR* text, DWORD length) {
  while (length > 0) {
    DWORD written = 0;
    if (!WriteConsoleW(console, text, length, &written, NULL) || written == 0) return;
    text += written;
    length -= written;
  }
}

static void writeFile(HANDLE file, const char* bytes, DWORD length) {
  while (length > 0) {
    DWORD written = 0;
    if (!WriteFile(file, bytes, length, &written, NULL) || written == 0) return;
    bytes += written;
    length -= written;
  }
}

// Redirected output is read by cmd, type, find and more in the console's
// output code page; a process with no console at all (a service, a scheduled
// task) has none, and then the OEM code page is what they read.
static UINT redirectedCodePage(void) {
  UINT codePage = GetConsoleOutputCP();
  return codePage != 0 ? codePage : GetOEMCP();
}

// A character that the code page cannot show becomes its default character
// ('?'), never a best-fit look-alike, which could change what a name says.
// UTF-8 and a few other code pages take no flags at all.
static int encode(UINT codePage, const WCHAR* text, int length, char* bytes, int size) {
  int encoded = WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, text, length, bytes, size, NULL, NULL);
  if (encoded == 0) encoded = WideCharToMultiByte(codePage, 0, text, length, bytes, size, NULL, NULL);
  return encoded;
}

void writeOutput(const WCHAR* text, size_t length) {
  // No code page takes more than four bytes for a UTF-16 unit.
  static char bytes[4 * OUTPUT_BLOCK];
  static int console = -1;
  HANDLE handle = GetStdHandle(STD_OUTPUT_HANDLE);
  if (handle == NULL || handle == INVALID_HANDLE_VALUE) return;
  if (console < 0) console = isConsole(handle);
  if (console) {
    writeConsole(handle, text, (DWORD)length);
    return;
  }
  int encoded = encode(redirectedCodePage(), text, (int)length, bytes, (int)sizeof bytes);
  writeFile(handle, bytes, (DWORD)encoded);
}

// The first element of the wide command line, read as the C runtime reads
// argv[0]: up to the closing quote when it starts with one, else up to the
// first space or tab.
void printProgramName(const char* argv0) {
  const WCHAR* line = GetCommandLineW();
  if (line == NULL) {
    printText(argv0);
    return;
  }
  WCHAR end = L' ';
  if (*line == L'"') {
    end = L'"';
    line++;
  }
  size_t length = 0;
  while (line[length] != 0 && line[length] != end && (end == L'"' || line[length] != L'\t')) length++;
  printWidePart(line, length);
}
