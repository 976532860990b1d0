// Drives whole runs of ferrule on the stand-in from one input: the argument
// vector, one argument a line, then a line "--", then a machine description
// (faults and a held lock included). Every run must exit 0, 1 or 255, leave the
// platform clean, and, on a usage error, print the usage line alone without a
// single platform call.
#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "arguments.h"
#include "command_line.h"
#include "session.h"

static const char usageLine[] =
    "usage: ferrule [class dev|client|proto|service] [comp <id>] [path <pathToken>] [enable|disable]\n";

static void require(bool condition, const char* what) {
  if (condition) return;
  fprintf(stderr, "ferrule_fuzz: %s\n", what);
  abort();
}

// The fuzz target is linked with --wrap=exit: in the child that runs a usage
// error, the program's exit (its output written by then) leaves at once
// instead of running the fuzzer's own exit hooks, which would take it for a
// crash.
static bool inUsageChild = false;

extern "C" void __real_exit(int status);

extern "C" void __wrap_exit(int status) {
  if (!inUsageChild) __real_exit(status);
  _exit(status);
}

// A usage error ends the process, so it is run in a child of its own.
static void checkUsageError(int argc, char** argv) {
  int out[2];
  require(pipe(out) == 0, "pipe");
  pid_t child = fork();
  require(child >= 0, "fork");
  if (child == 0) {
    inUsageChild = true;
    dup2(out[1], 1);
    close(out[0]);
    runCommandLine(argc, argv);
    _exit(0);  // not reached: the usage line ends the process
  }
  close(out[1]);
  std::string printed;
  char buffer[512];
  ssize_t n;
  // libFuzzer's time-out alarm interrupts system calls (its handler is not
  // SA_RESTART): an interrupted read or wait is tried again, not taken for
  // the end of the output or for the child's status.
  while ((n = read(out[0], buffer, sizeof buffer)) != 0) {
    if (n < 0) {
      require(errno == EINTR, "read");
      continue;
    }
    printed.append(buffer, (size_t)n);
  }
  close(out[0]);
  int status = 0;
  while (waitpid(child, &status, 0) < 0) require(errno == EINTR, "waitpid");
  require(WIFEXITED(status) && WEXITSTATUS(status) == 255, "a usage error must exit 255");
  require(printed == usageLine, "a usage error must print the usage line alone");
}

static void checkPlatformLeftClean() {
  std::vector<std::string> left = standin::leftBehind(standin::session());
  for (const std::string& what : left) fprintf(stderr, "ferrule_fuzz: left behind: %s\n", what.c_str());
  require(left.empty(), "the run must leave the platform as it found it");
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  require(freopen("/dev/null", "w", stdout) != NULL, "stdout");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string input((const char*)data, size);
  if (input.find('\0') != std::string::npos) return 0;  // an argument cannot hold one
  size_t split = input.find("\n--\n");
  std::string arguments = input.substr(0, split);
  std::string description = split == std::string::npos ? "" : input.substr(split + 4);
  standin::Machine machine;
  std::string error;
  if (!standin::parseMachine(description, &machine, &error)) return 0;
  // A delay changes when a call answers, never what: in one process it can
  // only make the input slow, and a long one would pass for a hang.
  machine.delays.clear();

  std::vector<std::string> words = {"ferrule"};
  size_t start = 0;
  while (!arguments.empty() && start <= arguments.size()) {
    size_t end = arguments.find('\n', start);
    if (end == std::string::npos) end = arguments.size();
    words.push_back(arguments.substr(start, end - start));
    start = end + 1;
  }
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(&word[0]);
  argv.push_back(NULL);
  int argc = (int)words.size();

  standin::startSession(machine);
  standin::session().journalling = false;
  BindingRequest request;
  if (!argumentsAsTyped(argc, argv.data()) || parseArguments(argc, argv.data(), &request) != 0) {
    checkUsageError(argc, argv.data());
    require(standin::session().calls.empty(), "a usage error must not touch the platform");
    return 0;
  }
  int status = runCommandLine(argc, argv.data());
  require(status == 0 || status == 1, "the exit status must be 0 or 1");
  checkPlatformLeftClean();
  return 0;
}
