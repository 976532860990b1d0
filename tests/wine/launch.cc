// Starts a program with exactly the command line that FERRULE_COMMAND_LINE
// holds, as another Windows program could, and returns its exit status. The
// program gets this one's standard handles.
// usage: launch PROGRAM
#include <windows.h>

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  static WCHAR program[MAX_PATH], line[32768];
  if (!MultiByteToWideChar(CP_UTF8, 0, argv[1], -1, program, MAX_PATH)) return 2;
  if (!GetEnvironmentVariableW(L"FERRULE_COMMAND_LINE", line, 32768)) return 2;
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  if (!CreateProcessW(program, line, NULL, NULL, TRUE, 0, NULL, NULL, &startup, &process)) return 2;
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD status = 2;
  GetExitCodeProcess(process.hProcess, &status);
  return (int)status;
}
