// ferrule.exe's Windows halves where Wine cannot reach them: the argument
// vector's comparison with the wide command line (Wine builds both one
// argument at a time, so they never differ in count), an argument's
// conversion from a code page other than the run's, and the redirected
// output's conversion against a converter that answers as ISO-2022 does
// (Wine has no code page 50220). Prints a line for each row that fails and
// exits 1 if any did.
#include <stdio.h>

#include <string>
#include <vector>

#include "arguments.h"
#include "output.h"

static int failures = 0;

static void check(bool good, const char* row) {
  if (!good) {
    printf("FAIL %s\n", row);
    failures++;
  }
}

// The narrow text that the ANSI code page gives for wide text, best fit and all,
// as the C runtime's conversion of the command line does.
static std::string ansi(const WCHAR* text) {
  char bytes[256];
  int length = WideCharToMultiByte(CP_ACP, 0, text, -1, bytes, sizeof bytes, NULL, NULL);
  return length > 0 ? std::string(bytes) : std::string();
}

struct ArgumentsRow {
  const char* name;
  std::vector<std::string> narrow;
  std::vector<std::wstring> wide;
  bool same;
};

static void argumentRows(void) {
  const ArgumentsRow rows[] = {
      {"exact: a GUID, a token with ->", {"f", "comp", "{9E8D7C6B-5A49}", "path", "a->b"},
       {L"f", L"comp", L"{9E8D7C6B-5A49}", L"path", L"a->b"}, true},
      {"exact beyond ASCII", {"f", "comp", ansi(L"Pr\u00fcfung")}, {L"f", L"comp", L"Pr\u00fcfung"}, true},
      {"the program name is not compared", {"f?", "enable"}, {L"f\u4e00", L"enable"}, true},
      {"an empty argument, as typed", {"f", "comp", ""}, {L"f", L"comp", L""}, true},
      {"a count that differs", {"f", "comp", "x", "disable"}, {L"f", L"comp", L"x\uff02 disable"}, false},
      {"a best-fit letter", {"f", "disable"}, {L"f", L"\uff44\uff49\uff53\uff41\uff42\uff4c\uff45"}, false},
      {"a quotation mark", {"f", "comp", "a\"b"}, {L"f", L"comp", L"a\uff02b"}, false},
      {"a character the code page lacks", {"f", "comp", "?"}, {L"f", L"comp", L"\u4e00"}, false},
      {"the last argument differs", {"f", "comp", "a", "enable"}, {L"f", L"comp", L"a", L"enablE"}, false},
  };
  for (const ArgumentsRow& row : rows) {
    std::vector<char*> narrow;
    std::vector<WCHAR*> wide;
    for (const std::string& argument : row.narrow) narrow.push_back(const_cast<char*>(argument.c_str()));
    for (const std::wstring& argument : row.wide) wide.push_back(const_cast<WCHAR*>(argument.c_str()));
    bool same = sameArguments((int)narrow.size(), narrow.data(), (int)wide.size(), wide.data()) != 0;
    check(same == row.same, row.name);
  }
}

struct WidenRow {
  const char* name;
  UINT codePage;
  const char* narrow;
  const WCHAR* wide;  // null: refused
};

// Each byte as the code page has it, never as the code point of its value; a
// byte that is no character of the code page refused. Wine's code page 932
// answers here, whatever the ANSI code page of the run.
static void widenRows(void) {
  const WidenRow rows[] = {
      {"0x80 is the euro sign in 1252", 1252, "ms_x\x80", L"ms_x\u20ac"},
      {"a double-byte name in 932, second bytes ASCII letters", 932, "ms_\x83\x6c\x83\x62\x83\x67",
       L"ms_\u30cd\u30c3\u30c8"},
      {"a lead byte with no second byte in 932", 932, "ms_\x83", NULL},
      {"a byte that is no character of 932", 932, "ms_\xa0", NULL},
      {"an empty filter", 1252, "", L""},
  };
  for (const WidenRow& row : rows) {
    std::vector<WCHAR> wide(1, L'x');
    int widened = widenFromCodePage(row.codePage, row.narrow, wide);
    check(row.wide == NULL ? !widened : widened && wcscmp(&wide[0], row.wide) == 0, row.name);
  }
}

// As ISO-2022-JP answers: an escape sequence at each switch between ASCII and
// the double-byte set, two bytes for each character of that set; no flags;
// nothing written, and 0, when the buffer is too small.
static int WINAPI iso2022(UINT, DWORD flags, LPCWCH text, int length, LPSTR bytes, int size, LPCCH, LPBOOL) {
  if (flags != 0) return 0;
  std::string out;
  bool wide = false;
  for (int i = 0; i < length; i++) {
    bool ascii = text[i] < 0x80;
    if (ascii == wide) out += ascii ? "\x1b(B" : "\x1b$B";
    wide = !ascii;
    if (ascii) out += (char)text[i];
    else out += {(char)(0x24 + (text[i] & 1)), (char)(0x22 + (text[i] >> 8 & 0x3f))};
  }
  if (wide) out += "\x1b(B";
  if (size == 0) return (int)out.size();
  if (size < (int)out.size()) return 0;
  out.copy(bytes, out.size());
  return (int)out.size();
}

static int WINAPI refuses(UINT, DWORD, LPCWCH, int, LPSTR, int, LPCCH, LPBOOL) {
  return 0;
}

// Gives a size, then converts nothing.
static int WINAPI sizesOnly(UINT, DWORD, LPCWCH, int length, LPSTR, int size, LPCCH, LPBOOL) {
  return size == 0 ? length : 0;
}

static void conversionRows(void) {
  std::vector<WCHAR> block;
  for (int i = 0; i < OUTPUT_BLOCK; i++) block.push_back(i % 2 ? L'\u3042' : L'a');
  std::vector<char> bytes;
  size_t encoded = encodeText(iso2022, 50220, block.data(), OUTPUT_BLOCK, bytes);
  std::string expected(4 * OUTPUT_BLOCK + OUTPUT_BLOCK, 0);
  expected.resize((size_t)iso2022(50220, 0, block.data(), OUTPUT_BLOCK, &expected[0], (int)expected.size(), NULL, NULL));
  check(expected.size() > 4 * OUTPUT_BLOCK, "the ISO-2022 block takes more than four bytes a character");
  check(encoded == expected.size() && std::string(bytes.data(), encoded) == expected, "a full ISO-2022 block whole");

  const WCHAR text[] = L"ms_tcpip (\u00fcber \u30d7\u0080)\r\n";
  int length = (int)wcslen(text);
  const TextConverter failing[] = {refuses, sizesOnly};
  for (TextConverter convert : failing) {
    std::vector<char> fresh;
    encoded = encodeText(convert, 50220, text, length, fresh);
    check(encoded == fresh.size() && std::string(fresh.data(), encoded) == "ms_tcpip (?ber ?" "?)\r\n",
          "text no converter takes, as ASCII and ?");
  }
  const WCHAR name[] = L"ms_tcpip (\u00fcber \u30d7)\r\n";
  encoded = encodeText(WideCharToMultiByte, 437, name, (int)wcslen(name), bytes);
  check(std::string(bytes.data(), encoded) == "ms_tcpip (\x81" "ber ?)\r\n", "code page 437, no best fit");
  encoded = encodeText(WideCharToMultiByte, 437, L"\u00fc", 1, bytes);
  check(std::string(bytes.data(), encoded) == "\x81", "one character, one byte");
}

int main() {
  argumentRows();
  widenRows();
  conversionRows();
  printf("%s (ANSI code page %u)\n", failures ? "FAILED" : "passed", GetACP());
  return failures ? 1 : 0;
}
