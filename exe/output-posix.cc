// Output on the stand-in platform: UTF-8 to file descriptor 1, whatever the
// locale, so that no name is ever cut short.
#include <errno.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "arguments.h"
#include "output.h"

const WCHAR outputLineEnd[] = L"\n";

void writeAll(ByteWriter writer, const char* bytes, size_t length) {
  while (length > 0) {
    ssize_t written = writer(1, bytes, length);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    bytes += written;
    length -= (size_t)written;
  }
}

// A value that is no character (a lone surrogate, or beyond U+10FFFF) is
// written as U+FFFD, the replacement character.
static size_t encodeUtf8(unsigned long c, char* out) {
  if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) c = 0xFFFD;
  if (c < 0x80) {
    out[0] = (char)c;
    return 1;
  }
  if (c < 0x800) {
    out[0] = (char)(0xC0 | (c >> 6));
    out[1] = (char)(0x80 | (c & 0x3F));
    return 2;
  }
  if (c < 0x10000) {
    out[0] = (char)(0xE0 | (c >> 12));
    out[1] = (char)(0x80 | ((c >> 6) & 0x3F));
    out[2] = (char)(0x80 | (c & 0x3F));
    return 3;
  }
  out[0] = (char)(0xF0 | (c >> 18));
  out[1] = (char)(0x80 | ((c >> 12) & 0x3F));
  out[2] = (char)(0x80 | ((c >> 6) & 0x3F));
  out[3] = (char)(0x80 | (c & 0x3F));
  return 4;
}

void writeOutput(const WCHAR* text, size_t length) {
  static char bytes[4 * OUTPUT_BLOCK];
  size_t size = 0;
  for (size_t i = 0; i < length; i++) size += encodeUtf8((unsigned long)text[i], bytes + size);
  writeAll(write, bytes, size);
}

// The name is shown as a name is. In one that is no UTF-8, each byte that is
// no part of a character is a ?, as the Windows build shows a character that
// its code page lacks: a folder's name must not end the line, whatever it holds.
void printProgramName(const char* argv0) {
  std::vector<WCHAR> wide;
  if (widenArgument(argv0, wide)) {
    printName(&wide[0]);
    return;
  }
  size_t i = 0;
  while (argv0[i] != 0) {
    unsigned char lead = (unsigned char)argv0[i];
    size_t length = lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    std::string one(argv0 + i, strnlen(argv0 + i, length));
    if (one.size() == length && widenArgument(one.c_str(), wide)) {
      printName(&wide[0]);
      i += length;
    } else {
      printText("?");
      i++;
    }
  }
}
