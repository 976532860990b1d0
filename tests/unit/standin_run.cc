#include "standin_run.h"

#include <gtest/gtest.h>
#include <stdio.h>

#include "command_line.h"
#include "walks.h"

static void start(const std::string& machineText) {
  standin::Machine machine;
  std::string error;
  bool parsed = standin::parseMachine(machineText, &machine, &error);
  ASSERT_TRUE(parsed) << error;
  standin::startSession(machine);
}

StandinRun runOn(const std::string& machine, const std::function<int()>& run) {
  start(machine);
  testing::internal::CaptureStdout();
  int result = run();
  std::string output = testing::internal::GetCapturedStdout();
  return StandinRun{result, output, standin::session().journal};
}

StandinRun walkOn(const std::string& machine, int compClass, const char* compId, const char* pathToken, int mode) {
  return runOn(machine, [&] { return walkComponents(compClass, compId, pathToken, mode); });
}

StandinRun commandLineOn(const std::string& machine, std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), "ferrule");
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(&argument[0]);
  argv.push_back(NULL);
  return runOn(machine, [&] { return runCommandLine((int)arguments.size(), argv.data()); });
}

std::string callName(const std::string& line) {
  std::string name = line.substr(0, line.find('('));
  size_t open = name.find('[');
  if (open != std::string::npos) name.erase(open, name.find(']') - open + 1);
  return name;
}

std::vector<std::string> callsNamed(const std::vector<std::string>& journal, const std::set<std::string>& names) {
  std::vector<std::string> calls;
  for (const std::string& line : journal)
    if (names.count(callName(line))) calls.push_back(callName(line));
  return calls;
}

int countCalls(const std::vector<std::string>& journal, const std::string& name) {
  int n = 0;
  for (const std::string& line : journal) n += callName(line) == name;
  return n;
}

void expectPlatformLeftClean() {
  EXPECT_EQ(standin::leftBehind(standin::session()), std::vector<std::string>());
}
