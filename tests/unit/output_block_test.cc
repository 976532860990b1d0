// The output layer's blocks, call by call: output.cc linked with a writer that
// records what each writeOutput call was handed, and a Windows line end.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "output.h"

namespace {

std::vector<std::wstring> writes;

}  // namespace

const WCHAR outputLineEnd[] = L"\r\n";

void writeOutput(const WCHAR* text, size_t length) {
  writes.push_back(std::wstring(text, length));
}

void printProgramName(const char*) {}

namespace {

const WCHAR high = (WCHAR)0xD83D, low = (WCHAR)0xDE00;  // U+1F600, as a surrogate pair
const std::wstring pair = {high, low};

std::wstring run(size_t n, WCHAR c) {
  return std::wstring(n, c);
}

struct BlockCase {
  const char* name;
  std::vector<std::wstring> printed;  // printWidePart calls, then one flush
  std::vector<std::wstring> written;  // what each writeOutput call got
};

const BlockCase blockCases[] = {
    {"one character", {L"x"}, {L"x"}},
    {"nothing", {}, {}},
    {"a block exactly", {run(OUTPUT_BLOCK, L'a')}, {run(OUTPUT_BLOCK, L'a')}},
    {"a block and one character", {run(OUTPUT_BLOCK, L'a'), L"b"}, {run(OUTPUT_BLOCK, L'a'), L"b"}},
    {"a line end across the block's edge", {run(OUTPUT_BLOCK - 1, L'a'), L"\n"},
     {run(OUTPUT_BLOCK - 1, L'a') + L"\r", L"\n"}},
    {"a pair across the block's edge", {run(OUTPUT_BLOCK - 1, L'a'), pair, L"b"},
     {run(OUTPUT_BLOCK - 1, L'a'), pair + L"b"}},
    {"a pair that ends a block", {run(OUTPUT_BLOCK - 2, L'a'), pair, L"b"},
     {run(OUTPUT_BLOCK - 2, L'a') + pair, L"b"}},
    {"a first half at the very end", {L"a", std::wstring(1, high)}, {L"a" + std::wstring(1, high)}},
};

void PrintTo(const BlockCase& c, std::ostream* out) {
  *out << c.name;
}

class OutputBlocks : public testing::TestWithParam<BlockCase> {};

TEST_P(OutputBlocks, AreWrittenWholeAndNeverSplitACharacter) {
  writes.clear();
  for (const std::wstring& text : GetParam().printed) printWidePart(text.c_str(), text.size());
  flushOutput();
  EXPECT_EQ(writes, GetParam().written);
  flushOutput();
  EXPECT_EQ(writes.size(), GetParam().written.size()) << "a flush with nothing gathered writes nothing";
}

INSTANTIATE_TEST_SUITE_P(Edges, OutputBlocks, testing::ValuesIn(blockCases));

TEST(Output, NarrowTextAndFormatsAreWidenedByteForByte) {
  writes.clear();
  printText("caf\xE9\n");
  printFormatted("    %s: %d->%d\n", "t", 1, 0);
  printWidePart(L"abc", 2);
  flushOutput();
  EXPECT_EQ(writes, std::vector<std::wstring>({L"caf\u00E9\r\n    t: 1->0\r\nab"}));
}

}  // namespace
