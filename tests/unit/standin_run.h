// Runs the component walk, or the whole command line, on a stand-in machine
// and keeps what the platform saw.
#ifndef FERRULE_TESTS_STANDIN_RUN_H
#define FERRULE_TESTS_STANDIN_RUN_H

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "session.h"

struct StandinRun {
  int result;          // the walk's total, or the exit status
  std::string output;  // standard output
  std::vector<std::string> journal;
};

// machine is a description; extra lines (faults, a held lock) are added to it.
// run is any part of the program; its result is kept.
StandinRun runOn(const std::string& machine, const std::function<int()>& run);
StandinRun walkOn(const std::string& machine, int compClass, const char* compId, const char* pathToken, int mode);
StandinRun commandLineOn(const std::string& machine, std::vector<std::string> arguments);

// "Interface.Method" of a journal line, without its target and arguments.
std::string callName(const std::string& line);

// The journal's calls whose names are in names, in order.
std::vector<std::string> callsNamed(const std::vector<std::string>& journal, const std::set<std::string>& names);

// How many calls the journal holds of name ("Interface.Method").
int countCalls(const std::vector<std::string>& journal, const std::string& name);

// Whatever the run did, it must have left the platform as it found it.
void expectPlatformLeftClean();

#endif
