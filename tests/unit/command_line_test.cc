#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <vector>

#include "arguments.h"
#include "command_line.h"

namespace {

struct ParseCase {
  std::vector<std::string> arguments;
  int parsed;  // 0, or -1 for a usage error
  int compClass;
  const char* compId;
  const char* pathToken;
  int mode;
};

const ParseCase parseCases[] = {
    {{}, 0, 0, nullptr, nullptr, -1},
    {{"class", "dev"}, 0, 0, nullptr, nullptr, -1},
    {{"class", "client"}, 0, 1, nullptr, nullptr, -1},
    {{"class", "proto"}, 0, 2, nullptr, nullptr, -1},
    {{"class", "service"}, 0, 3, nullptr, nullptr, -1},
    {{"comp", "ms_tcpip"}, 0, 0, "ms_tcpip", nullptr, -1},
    {{"comp", ""}, 0, 0, "", nullptr, -1},
    {{"comp", "disable"}, 0, 0, "disable", nullptr, -1},
    {{"path", "ms_server->ms_tcpip"}, 0, 0, nullptr, "ms_server->ms_tcpip", -1},
    {{"path", "class"}, 0, 0, nullptr, "class", -1},
    {{"enable"}, 0, 0, nullptr, nullptr, 1},
    {{"disable"}, 0, 0, nullptr, nullptr, 0},
    // Later keywords overwrite earlier ones.
    {{"enable", "disable"}, 0, 0, nullptr, nullptr, 0},
    {{"disable", "enable"}, 0, 0, nullptr, nullptr, 1},
    {{"class", "proto", "class", "service"}, 0, 3, nullptr, nullptr, -1},
    {{"comp", "a", "comp", "b"}, 0, 0, "b", nullptr, -1},
    // Any order.
    {{"disable", "path", "t", "comp", "c", "class", "client"}, 0, 1, "c", "t", 0},
    {{"class", "proto", "comp", "ms_tcpip", "path", "t", "enable"}, 0, 2, "ms_tcpip", "t", 1},
    // Usage errors.
    {{"class"}, -1, 0, nullptr, nullptr, 0},
    {{"class", "PROTO"}, -1, 0, nullptr, nullptr, 0},
    {{"class", "protocol"}, -1, 0, nullptr, nullptr, 0},
    {{"class", ""}, -1, 0, nullptr, nullptr, 0},
    {{"comp"}, -1, 0, nullptr, nullptr, 0},
    {{"class", "proto", "path"}, -1, 0, nullptr, nullptr, 0},
    {{"Enable"}, -1, 0, nullptr, nullptr, 0},
    {{"disabled"}, -1, 0, nullptr, nullptr, 0},
    {{"en"}, -1, 0, nullptr, nullptr, 0},
    {{"-h"}, -1, 0, nullptr, nullptr, 0},
    {{"/?"}, -1, 0, nullptr, nullptr, 0},
    {{""}, -1, 0, nullptr, nullptr, 0},
    {{"dev"}, -1, 0, nullptr, nullptr, 0},
    {{"enable", "ms_tcpip"}, -1, 0, nullptr, nullptr, 0},
};

void PrintTo(const ParseCase& c, std::ostream* out) {
  for (const std::string& argument : c.arguments) *out << "'" << argument << "' ";
}

class ParseTest : public testing::TestWithParam<ParseCase> {};

TEST_P(ParseTest, ReadsTheRequest) {
  ParseCase c = GetParam();
  std::vector<std::string> arguments = c.arguments;
  arguments.insert(arguments.begin(), "ferrule");
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(&argument[0]);
  argv.push_back(nullptr);
  BindingRequest request;
  ASSERT_EQ(parseArguments((int)arguments.size(), argv.data(), &request), c.parsed);
  if (c.parsed != 0) return;
  EXPECT_EQ(request.compClass, c.compClass);
  EXPECT_EQ(request.mode, c.mode);
  if (c.compId == nullptr) EXPECT_EQ(request.compId, nullptr);
  else EXPECT_STREQ(request.compId, c.compId);
  if (c.pathToken == nullptr) EXPECT_EQ(request.pathToken, nullptr);
  else EXPECT_STREQ(request.pathToken, c.pathToken);
}

INSTANTIATE_TEST_SUITE_P(CommandLine, ParseTest, testing::ValuesIn(parseCases));

TEST(CommandLine, FiltersAreTheArgumentsThemselves) {
  char program[] = "ferrule", comp[] = "comp", id[] = "ms_tcpip";
  char* argv[] = {program, comp, id, nullptr};
  BindingRequest request;
  ASSERT_EQ(parseArguments(3, argv, &request), 0);
  EXPECT_EQ(request.compId, id);
}

TEST(CommandLine, NoArgumentVectorAtAllQueriesTheDefaults) {
  char* argv[] = {nullptr};
  BindingRequest request;
  ASSERT_EQ(parseArguments(0, argv, &request), 0);
  EXPECT_EQ(request.mode, -1);
  EXPECT_EQ(request.compClass, 0);
}

// On the stand-in an argument is UTF-8 or refused; the program's name, which
// is never compared, may be any bytes (a folder's name).
TEST(Arguments, AreUtf8AfterTheProgramName) {
  char oddName[] = "/opt/\xFF/ferrule", plain[] = "ferrule", classWord[] = "class", proto[] = "proto",
       euro[] = "ms_x\xE2\x82\xAC", notUtf8[] = "ms_\xFF";
  char* named[] = {oddName, classWord, proto, nullptr};
  char* good[] = {plain, classWord, euro, nullptr};
  char* bad[] = {plain, classWord, notUtf8, nullptr};
  EXPECT_TRUE(argumentsAsTyped(3, named));
  EXPECT_TRUE(argumentsAsTyped(3, good));
  EXPECT_FALSE(argumentsAsTyped(3, bad));
}

// The usage line goes to standard output, which a death test does not read:
// the statement sends it to standard error. An unknown word, and a filter that
// is no text of the arguments' encoding (UTF-8 here), are each refused so. A
// program name that is no UTF-8 is shown with a ? for each byte that is no
// part of a character (its characters of two, three and four bytes kept),
// and its control characters as a name's are.
TEST(CommandLineDeathTest, UsageLineEndsTheProcessWith255) {
  char program[] = "C:\\Tools\\FERRULE.EXE", help[] = "--help", comp[] = "comp", notUtf8[] = "ms_\xFF",
       oddProgram[] = "/opt/Pr\xC3\xBC\xE0\xA4\x95\xF0\x9F\x98\x80\xFF\n\xE2\x82/ferrule";
  struct UsageCase {
    std::vector<char*> argv;
    const char* shown;  // the program's name in the line, as a regular expression
  };
  std::vector<UsageCase> rows = {{{program, help}, "C:\\\\Tools\\\\FERRULE\\.EXE"},
                                 {{program, comp, notUtf8}, "C:\\\\Tools\\\\FERRULE\\.EXE"},
                                 {{oddProgram, help}, "/opt/Pr\xC3\xBC\xE0\xA4\x95\xF0\x9F\x98\x80\\?\\?\\?\\?/ferrule"}};
  for (UsageCase& row : rows) {
    int argc = (int)row.argv.size();
    row.argv.push_back(nullptr);
    EXPECT_EXIT(
        {
          dup2(2, 1);
          runCommandLine(argc, row.argv.data());
        },
        testing::ExitedWithCode(255),
        std::string("^usage: ") + row.shown +
            " \\[class dev\\|client\\|proto\\|service\\] \\[comp <id>\\] \\[path <pathToken>\\] "
            "\\[enable\\|disable\\]\n$");
  }
}

}  // namespace
