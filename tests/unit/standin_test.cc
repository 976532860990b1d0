// The stand-in's own pieces: the description format, StrCmpLogicalW, and the
// UTF-8 that the program's output is written in.
#include <errno.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "machine.h"
#include "output.h"
#include "netcfg.h"
#include "session.h"

namespace {

TEST(MachineDescription, ReadsBackWhatItWrites) {
  standin::Machine machine;
  std::string error;
  ASSERT_TRUE(standin::parseMachine(standin::sampleMachineText(), &machine, &error)) << error;
  ASSERT_EQ(machine.classes[0].size(), 2u);
  std::string text = standin::formatMachine(machine);
  standin::Machine again;
  ASSERT_TRUE(standin::parseMachine(text, &again, &error)) << error;
  EXPECT_EQ(standin::formatMachine(again), text);
}

TEST(MachineDescription, KeepsQuotesSpacesAndWideCharacters) {
  std::string text =
      "class service\n"
      "  component \"a \\\"b\\\" \\\\c\" \"Dienst f\xC3\xBCr \xF0\x9F\x98\x80\"\n"
      "    path \"\" disabled\n"
      "    path \"a\\x0d\\x0A\\x09\\x1b\\x7f\\xz\" enabled\n"
      "link \"a\\x0ab\" disabled \"c\" enabled\n"
      "lock \"Network Connections\"\n"
      "fail INetCfg.Apply * 4a020\n"
      "fail IEnumNetCfgComponent.Next 3 80004005\n"
      "delay INetCfg.Initialize 1 8000\n";
  standin::Machine machine;
  std::string error;
  ASSERT_TRUE(standin::parseMachine(text, &machine, &error)) << error;
  const standin::Component& component = machine.classes[3][0];
  EXPECT_EQ(component.bindName, L"a \"b\" \\c");
  EXPECT_EQ(standin::toUtf8(component.displayName), "Dienst f\xC3\xBCr \xF0\x9F\x98\x80");
  EXPECT_EQ(component.paths[0].token, L"");
  EXPECT_FALSE(component.paths[0].enabled);
  EXPECT_EQ(component.paths[1].token, L"a\r\n\t\x1b\x7fxz");
  ASSERT_EQ(machine.links.size(), 1u);
  EXPECT_EQ(machine.links[0].trigger, L"a\nb");
  EXPECT_FALSE(machine.links[0].when);
  EXPECT_EQ(machine.links[0].target, L"c");
  EXPECT_TRUE(machine.links[0].then);
  EXPECT_EQ(machine.lockHolder, L"Network Connections");
  ASSERT_EQ(machine.faults.size(), 2u);
  EXPECT_EQ(machine.faults[0].occurrence, 0);
  EXPECT_EQ(machine.faults[0].result, 0x4a020);
  EXPECT_EQ((uint32_t)machine.faults[1].result, 0x80004005u);
  ASSERT_EQ(machine.delays.size(), 1u);
  EXPECT_EQ(machine.delays[0].call, "INetCfg.Initialize");
  EXPECT_EQ(machine.delays[0].occurrence, 1);
  EXPECT_EQ(machine.delays[0].milliseconds, 8000);
  standin::Machine again;
  ASSERT_TRUE(standin::parseMachine(standin::formatMachine(machine), &again, &error)) << error;
  EXPECT_EQ(standin::formatMachine(again), standin::formatMachine(machine));
  EXPECT_EQ(again.classes[3][0].paths[1].token, component.paths[1].token);
}

struct BadLine {
  const char* text;
  const char* error;
};

void PrintTo(const BadLine& c, std::ostream* out) {
  *out << c.text;
}

class BadDescription : public testing::TestWithParam<BadLine> {};

TEST_P(BadDescription, SaysWhichLineAndWhy) {
  standin::Machine machine;
  std::string error;
  EXPECT_FALSE(standin::parseMachine(GetParam().text, &machine, &error));
  EXPECT_EQ(error, GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, BadDescription,
    testing::Values(BadLine{"class nic\n", "line 1: unknown class nic"},
                    BadLine{"# c\ncomponent a b\n", "line 2: component before any class"},
                    BadLine{"class dev\npath p enabled\n", "line 2: path before any component"},
                    BadLine{"class dev\ncomponent a b\npath p on\n", "line 3: state must be enabled or disabled"},
                    BadLine{"class dev\ncomponent \"a b\n", "line 2: unterminated quote"},
                    BadLine{"fail X 0 1\n", "line 1: occurrence must be a count from 1, or *"},
                    BadLine{"fail X 1 zz\n", "line 1: result must be hexadecimal"},
                    BadLine{"lock\n", "line 1: cannot read 'lock' with 0 values"},
                    BadLine{"link a off b enabled\n", "line 1: state must be enabled or disabled"},
                    BadLine{"delay X 0 5\n", "line 1: delay takes a call, a count from 1 and milliseconds"},
                    BadLine{"delay X 1 -5\n", "line 1: delay takes a call, a count from 1 and milliseconds"},
                    BadLine{"delay X 1 5s\n", "line 1: delay takes a call, a count from 1 and milliseconds"},
                    BadLine{"delay X 1 \"\"\n", "line 1: delay takes a call, a count from 1 and milliseconds"},
                    BadLine{"fail X \"\" 1\n", "line 1: occurrence must be a count from 1, or *"}));

struct Comparison {
  const wchar_t* a;
  const wchar_t* b;
  int order;
};

void PrintTo(const Comparison& c, std::ostream* out) {
  *out << standin::toUtf8(c.a) << " ~ " << standin::toUtf8(c.b);
}

class LogicalComparison : public testing::TestWithParam<Comparison> {};

TEST_P(LogicalComparison, FollowsWindowsRules) {
  standin::startSession(standin::Machine());
  EXPECT_EQ(StrCmpLogicalW(GetParam().a, GetParam().b), GetParam().order);
  EXPECT_EQ(StrCmpLogicalW(GetParam().b, GetParam().a), -GetParam().order);
}

INSTANTIATE_TEST_SUITE_P(Pairs, LogicalComparison,
                         testing::Values(Comparison{L"ms_tcpip", L"ms_tcpip", 0},
                                         Comparison{L"MS_TCPIP", L"ms_tcpip", 0},
                                         Comparison{L"ms_tcpip", L"ms_tcpip6", -1},
                                         Comparison{L"a2", L"a10", -1},
                                         Comparison{L"a007", L"a7", 0},
                                         Comparison{L"a99999999999999999999", L"a100000000000000000000", -1},
                                         Comparison{L"1b", L"ab", -1},
                                         Comparison{L"", L"", 0},
                                         Comparison{L"", L"a", -1},
                                         Comparison{L"x->{ABC}", L"X->{abc}", 0}));

TEST(StandinPlatform, FreeingMemoryItDidNotHandOutIsCaught) {
  standin::startSession(standin::Machine());
  int local = 0;
  CoTaskMemFree(&local);
  ASSERT_EQ(standin::session().violations.size(), 1u);
}

// One character written as UTF-8, at each edge of the encoding's ranges (and
// one whose bits differ from byte to byte). The
// stand-in's WCHAR holds a whole code point; what is no character becomes
// U+FFFD (EF BF BD).
struct Encoding {
  unsigned long character;
  const char* bytes;
};

void PrintTo(const Encoding& c, std::ostream* out) {
  *out << "U+" << std::hex << c.character;
}

class Utf8Output : public testing::TestWithParam<Encoding> {};

TEST_P(Utf8Output, EncodesEachCharacterWhole) {
  WCHAR text[] = {(WCHAR)GetParam().character, L'.'};
  testing::internal::CaptureStdout();
  writeOutput(text, 2);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), std::string(GetParam().bytes) + ".");
}

INSTANTIATE_TEST_SUITE_P(Boundaries, Utf8Output,
                         testing::Values(Encoding{0x7F, "\x7F"}, Encoding{0x80, "\xC2\x80"},
                                         Encoding{0x7FF, "\xDF\xBF"}, Encoding{0x800, "\xE0\xA0\x80"},
                                         Encoding{0xD7FF, "\xED\x9F\xBF"}, Encoding{0xD800, "\xEF\xBF\xBD"},
                                         Encoding{0xDFFF, "\xEF\xBF\xBD"}, Encoding{0xE000, "\xEE\x80\x80"},
                                         Encoding{0xFFFF, "\xEF\xBF\xBF"}, Encoding{0x10000, "\xF0\x90\x80\x80"},
                                         Encoding{0x1F600, "\xF0\x9F\x98\x80"},
                                         Encoding{0x10FFFF, "\xF4\x8F\xBF\xBF"},
                                         Encoding{0x110000, "\xEF\xBF\xBD"}));

// Standard output, where a pipe or a terminal takes a few bytes a call, an
// interrupted call takes none, and a failed one ends the writing: every byte
// is written once, in order, up to a failure.
struct Writer {
  const char* name;
  std::vector<ssize_t> answers;  // each call's bytes taken (at most those offered), -1 with EINTR, or -2 a failure
  std::string bytes;
  std::string written;
};

void PrintTo(const Writer& c, std::ostream* out) {
  *out << c.name;
}

std::vector<ssize_t> answers;
size_t call;
std::string taken;

ssize_t answer(int descriptor, const void* bytes, size_t length) {
  EXPECT_EQ(descriptor, 1);
  ssize_t given = call < answers.size() ? answers[call++] : (ssize_t)length;
  // As write does, errno is set only on a failure: an earlier EINTR stays.
  if (given < 0) {
    errno = given == -1 ? EINTR : EIO;
    return -1;
  }
  if ((size_t)given > length) given = (ssize_t)length;
  taken.append((const char*)bytes, (size_t)given);
  return given;
}

class WriteAll : public testing::TestWithParam<Writer> {};

TEST_P(WriteAll, WritesEveryByteOnceUpToAFailure) {
  answers = GetParam().answers;
  call = 0;
  taken.clear();
  writeAll(answer, GetParam().bytes.data(), GetParam().bytes.size());
  EXPECT_EQ(taken, GetParam().written);
  EXPECT_EQ(call, answers.size()) << "a call after the writing ended, or one missing";
}

INSTANTIATE_TEST_SUITE_P(Writers, WriteAll,
                         testing::Values(Writer{"one byte", {1}, "x", "x"},
                                         Writer{"a byte a call", {1, 1, 1, 1}, "abcd", "abcd"},
                                         Writer{"the rest after a short write", {3, 8}, "abcdef", "abcdef"},
                                         Writer{"an interrupted call, then all", {-1, 4}, "abcd", "abcd"},
                                         Writer{"a failure after two bytes", {2, -2}, "abcd", "ab"},
                                         Writer{"a write that takes none", {1, 0}, "abcd", "a"},
                                         Writer{"none after an interrupted call", {-1, 0}, "abcd", ""},
                                         Writer{"nothing to write", {}, "", ""}));

}  // namespace
