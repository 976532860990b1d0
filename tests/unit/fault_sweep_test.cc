// The fault sweep: for each mode, every call occurrence of a whole run fails in
// turn, one at a time, and the run must still print exactly the line for that
// failure, exit with the status that its lines imply, undo exactly what it set
// up, in reverse order, and leave the platform clean.
#include <gtest/gtest.h>
#include <stdio.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "standin_run.h"

namespace {

const std::string machine =
    "class proto\n"
    "  component ms_alpha \"Alpha Protocol\"\n"
    "    path ms_server->ms_alpha enabled\n"
    "    path ms_msclient->ms_alpha disabled\n"
    "  component ms_beta \"Beta Protocol\"\n"
    "    path ms_server->ms_beta enabled\n"
    "    path ms_msclient->ms_beta enabled\n"
    "  component ms_gamma \"Gamma Protocol\"\n";

// call -> the line it prints when it fails, or "" when it prints none.
std::map<std::string, std::string> loadMessages() {
  std::map<std::string, std::string> messages;
  std::ifstream table(TESTS_DIR "/unit/faults.table");
  std::string line;
  while (std::getline(table, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream words(line);
    std::string call, message;
    words >> call;
    std::getline(words >> std::ws, message);
    messages[call] = message == "-" ? "" : message;
  }
  return messages;
}

std::string format(std::string message, int mode, uint32_t result) {
  size_t at = message.find("%d");
  if (at != std::string::npos) message.replace(at, 2, std::to_string(mode));
  at = message.find("%x");
  if (at != std::string::npos) message.replace(at, 2, standin::hexResult((int32_t)result));
  return message;
}

// The set-up steps and what undoes each.
const std::vector<std::pair<std::string, std::string>> setUpSteps = {
    {"CoInitializeEx", "CoUninitialize"},
    {"CoCreateInstance", "INetCfg.Release"},
    {"INetCfg.QueryInterface", "INetCfgLock.Release"},
    {"INetCfgLock.AcquireWriteLock", "INetCfgLock.ReleaseWriteLock"},
    {"INetCfg.Initialize", "INetCfg.Uninitialize"},
};

bool isSetUp(const std::string& name) {
  for (const auto& step : setUpSteps)
    if (step.first == name) return true;
  return false;
}

// What the journal's set-up and tear-down calls must be: the set-up calls up to
// the first that failed, then the undo of each that succeeded, in reverse.
void expectReverseUndo(const std::vector<std::string>& journal) {
  std::set<std::string> names;
  for (const auto& step : setUpSteps) names.insert({step.first, step.second});
  std::vector<std::string> expected, undo;
  for (const std::string& line : journal) {
    std::string name = callName(line);
    if (!isSetUp(name)) continue;
    if (name == "INetCfg.QueryInterface" && line.find("IID_INetCfgLock") == std::string::npos) continue;
    expected.push_back(name);
    if (line.substr(line.size() - 4) != " = 0") break;
    for (const auto& step : setUpSteps)
      if (step.first == name) undo.push_back(step.second);
  }
  expected.insert(expected.end(), undo.rbegin(), undo.rend());
  EXPECT_EQ(callsNamed(journal, names), expected);
}

int countLines(const std::string& output, const std::string& pattern) {
  int n = 0;
  for (size_t at = output.find(pattern); at != std::string::npos; at = output.find(pattern, at + 1)) n++;
  return n;
}

// The calls whose S_FALSE is an answer (not enabled, no more), not a failure.
const std::set<std::string> falseAnswers = {"INetCfgBindingPath.IsEnabled", "IEnumNetCfgBindingPath.Next",
                                            "IEnumNetCfgComponent.Next"};

bool startsWith(const std::string& line, const std::string& start) {
  return line.compare(0, start.size(), start) == 0;
}

bool endsWith(const std::string& line, const std::string& end) {
  return line.size() >= end.size() && line.compare(line.size() - end.size(), end.size(), end) == 0;
}

bool isHeading(const std::string& line) {
  return !startsWith(line, "    ") && endsWith(line, ")") && line.find(" returned ") == std::string::npos;
}

// What the printed lines give for the total: for each component, its paths
// that were enabled (listing) or enabled before (enable), or -1 when its
// bindings could not be reached or its paths were not all listed; and -1 when
// the components were not all listed.
int impliedTotal(const std::string& output, int mode) {
  struct Part {
    int enabled;
    bool cutShort;
  };
  std::vector<Part> parts;
  std::istringstream lines(output);
  std::string line;
  while (std::getline(lines, line)) {
    if (isHeading(line)) parts.push_back({0, false});
    if (startsWith(line, "components->Next() returned")) parts.push_back({0, true});
    if (parts.empty()) continue;
    if (startsWith(line, "netCfgComp->QueryInterface() returned") ||
        startsWith(line, "bindings->EnumBindingPaths() returned") || startsWith(line, "paths->Next() returned"))
      parts.back().cutShort = true;
    if (startsWith(line, "    ") && endsWith(line, mode == -1 ? ": 1" : ": 1->1")) parts.back().enabled++;
  }
  int total = 0;
  for (const Part& part : parts) total += part.cutShort ? -1 : part.enabled;
  return total;
}

// The exit status that the printed lines imply, computed apart from the walks.
// An apply that returned a success code (S_FALSE) is reported, but applied; a
// state that could not be read changes no status.
int impliedStatus(const std::string& output, int mode, bool failureReported, const std::string& call,
                  uint32_t result) {
  bool setUpFailed = failureReported && isSetUp(call);
  setUpFailed = setUpFailed || call == "INetCfg.QueryNetCfgClass" || call == "INetCfgClass.EnumComponents";
  if (mode == -1) return impliedTotal(output, mode) > 0 ? 1 : 0;
  if (mode == 1) return impliedTotal(output, mode) > 0 ? 0 : 1;
  bool applied = call == "INetCfg.Apply" && (int32_t)result >= 0;
  bool harmless = call == "INetCfg.Uninitialize" || call == "INetCfgBindingPath.IsEnabled" || applied;
  bool failed = (failureReported && !harmless) || setUpFailed;
  return failed ? 1 : 0;
}

struct Sweep {
  int mode;
  std::vector<std::string> arguments;
};

void PrintTo(const Sweep& sweep, std::ostream* out) {
  for (const std::string& argument : sweep.arguments) *out << argument << " ";
}

class FaultSweep : public testing::TestWithParam<Sweep> {};

TEST_P(FaultSweep, EveryCallFailsInTurn) {
  std::map<std::string, std::string> messages = loadMessages();
  ASSERT_EQ(messages.size(), 22u);
  const Sweep& sweep = GetParam();
  StandinRun clean = commandLineOn(machine, sweep.arguments);
  expectPlatformLeftClean();
  std::map<std::string, int> seen;
  int injected = 0;
  for (const std::string& line : clean.journal) {
    std::string call = callName(line);
    bool release = call.size() > 8 && call.compare(call.size() - 8, 8, ".Release") == 0;
    if (release || call == "CoUninitialize") continue;
    ASSERT_EQ(messages.count(call), 1u) << "the table has no line for " << call;
    int occurrence = ++seen[call];
    std::vector<uint32_t> results = {0x80004005};
    if (call == "INetCfgLock.AcquireWriteLock" || call == "INetCfg.Apply" || falseAnswers.count(call))
      results.push_back(1);
    for (uint32_t result : results) {
      char fault[128];
      snprintf(fault, sizeof fault, "fail %s %d %x\n", call.c_str(), occurrence, result);
      SCOPED_TRACE(fault);
      StandinRun run = commandLineOn(machine + fault, sweep.arguments);
      injected++;
      const std::string& message = messages[call];
      bool reported = !message.empty() && !(result == 1 && falseAnswers.count(call));
      if (reported) {
        EXPECT_EQ(countLines(run.output, format(message, sweep.mode, result) + "\n"), 1) << run.output;
      }
      int failureLines = countLines(run.output, "returned ") + countLines(run.output, "failed - error code");
      EXPECT_EQ(failureLines, reported ? 1 : 0) << run.output;
      EXPECT_EQ(run.result, impliedStatus(run.output, sweep.mode, reported, call, result)) << run.output;
      expectReverseUndo(run.journal);
      if (sweep.mode == -1) EXPECT_EQ(countCalls(run.journal, "INetCfg.Apply"), 0);
      expectPlatformLeftClean();
    }
  }
  printf("fault sweep, mode %d, %s: %d faults injected\n", sweep.mode,
         testing::PrintToString(sweep.arguments).c_str(), injected);
  EXPECT_GT(injected, 30);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, FaultSweep,
    testing::Values(Sweep{-1, {"class", "proto"}}, Sweep{1, {"class", "proto", "enable"}},
                    Sweep{0, {"class", "proto", "disable"}},
                    Sweep{-1, {"class", "proto", "comp", "ms_beta", "path", "ms_msclient->ms_beta"}},
                    Sweep{1, {"class", "proto", "comp", "ms_beta", "path", "ms_msclient->ms_beta", "enable"}},
                    Sweep{0, {"class", "proto", "comp", "ms_beta", "path", "ms_msclient->ms_beta", "disable"}}),
    [](const testing::TestParamInfo<Sweep>& info) {
      return std::string(info.param.mode == -1 ? "query" : info.param.mode == 1 ? "enable" : "disable") +
             (info.param.arguments.size() > 3 ? "_one_path" : "_all");
    });

}  // namespace
