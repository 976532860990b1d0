// Output on Windows: UTF-16 to a console; to a file or a pipe, the text in the
// code page that whoever reads it expects.
#include "arguments.h"
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
// UTF-8 and a few other code pages take no flags at all. The buffer is sized
// from the conversion's own count: no bound per character holds for every code
// page (ISO-2022's escape sequences cost bytes at each switch of set). Text
// that cannot be converted at all still comes out, as ASCII and '?'.
size_t encodeText(TextConverter convert, UINT codePage, const WCHAR* text, int length, std::vector<char>& bytes) {
  DWORD flags = WC_NO_BEST_FIT_CHARS;
  int size = convert(codePage, flags, text, length, NULL, 0, NULL, NULL);
  if (size <= 0) {
    flags = 0;
    size = convert(codePage, flags, text, length, NULL, 0, NULL, NULL);
  }
  if (size > 0) {
    bytes.resize((size_t)size);
    int encoded = convert(codePage, flags, text, length, &bytes[0], size, NULL, NULL);
    if (encoded > 0) return (size_t)encoded;
  }
  bytes.resize((size_t)length);
  for (int i = 0; i < length; i++) bytes[(size_t)i] = text[i] < 0x80 ? (char)text[i] : '?';
  return (size_t)length;
}

void writeOutput(const WCHAR* text, size_t length) {
  static std::vector<char> bytes;
  static int console = -1;
  HANDLE handle = GetStdHandle(STD_OUTPUT_HANDLE);
  if (handle == NULL || handle == INVALID_HANDLE_VALUE) return;
  if (console < 0) console = isConsole(handle);
  if (console) {
    writeConsole(handle, text, (DWORD)length);
    return;
  }
  size_t encoded = encodeText(WideCharToMultiByte, redirectedCodePage(), text, (int)length, bytes);
  if (encoded > 0) writeFile(handle, &bytes[0], (DWORD)encoded);
}

// The first element of the wide command line, read as the C runtime reads
// argv[0]: up to the closing quote when it starts with one, else up to the
// first space or tab.
void printProgramName(const char* argv0) {
  const WCHAR* line = GetCommandLineW();
  std::vector<WCHAR> wide;
  if (line == NULL && widenArgument(argv0, wide)) line = &wide[0];
  if (line == NULL) return;
  WCHAR end = L' ';
  if (*line == L'"') {
    end = L'"';
    line++;
  }
  size_t length = 0;
  while (line[length] != 0 && line[length] != end && (end == L'"' || line[length] != L'\t')) length++;
  printNamePart(line, length);
}
