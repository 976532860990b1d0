#include "session.h"

#include <stdlib.h>
#include <string.h>

#include "interfaces.h"

#include <chrono>
#include <thread>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace standin {

extern const char sampleMachine[];  // generated from sample.machine

const char* sampleMachineText() {
  return sampleMachine;
}

static Session* current = NULL;

static void openJournal(Session* s) {
  const char* path = getenv("STANDIN_JOURNAL");
  if (path != NULL && *path != '\0') s->journalFile = fopen(path, "ab");
}

#ifndef _WIN32
// As the process ends, the journal says what the program never released, as
// the test server's does under Wine.
static void noteLeftBehind() {
  for (const std::string& what : leftBehind(*current)) record("unreleased: " + what);
}
#endif

Session& session() {
  if (current == NULL) {
    current = new Session();
    const char* path = getenv("STANDIN_MACHINE");
    current->machineFile = path != NULL ? path : "";
    current->machine = loadMachine(current->machineFile);
    openJournal(current);
#ifndef _WIN32
    atexit(noteLeftBehind);
#endif
  }
  return *current;
}

Session* existingSession() {
  return current;
}

void startSession(const Machine& machine, const std::string& file) {
  if (current != NULL && current->journalFile != NULL) fclose(current->journalFile);
  delete current;
  current = new Session();
  current->machine = machine;
  current->machineFile = file;
}

bool scripted(const char* call, int32_t* result) {
  Session& s = session();
  long occurrence = ++s.calls[call];
  for (const Delay& delay : s.machine.delays) {
    if (delay.call != call || delay.occurrence != occurrence) continue;
    // The call's own line comes when it returns; this one says it has begun,
    // so that a test can act while it waits.
    record("delay: " + std::string(call) + " waits " + std::to_string(delay.milliseconds) + " ms");
    std::this_thread::sleep_for(std::chrono::milliseconds(delay.milliseconds));
  }
  for (const Fault& fault : s.machine.faults) {
    if (fault.call == call && (fault.occurrence == 0 || fault.occurrence == occurrence)) {
      *result = fault.result;
      return true;
    }
  }
  return false;
}

std::vector<std::string> leftBehind(const Session& s) {
  std::vector<std::string> left;
  for (const auto& held : s.references)
    if (held.second != 0) left.push_back(std::to_string(held.second) + " references to " + held.first);
  for (const std::string& what : s.violations) left.push_back("violation: " + what);
  if (s.strings != 0) left.push_back(std::to_string(s.strings) + " strings not freed");
  if (s.writeLocked && !s.releaseAsked) left.push_back("the write lock");
  if (s.initialised && !s.uninitialiseAsked) left.push_back("the configuration initialised");
  if (s.apartments != 0) left.push_back("the apartment");
  return left;
}

void record(const std::string& line) {
  Session& s = session();
  if (!s.journalling) return;
  s.journal.push_back(line);
  if (s.journalFile != NULL) {
    fprintf(s.journalFile, "%s\n", line.c_str());
    fflush(s.journalFile);
  }
}

void violation(const std::string& what) {
  session().violations.push_back(what);
  record("violation: " + what);
}

static bool readFile(const std::string& path, std::string* text) {
  FILE* file = fopen(path.c_str(), "rb");
  if (file == NULL) return false;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, file)) > 0) text->append(buffer, n);
  fclose(file);
  return true;
}

Machine loadMachine(const std::string& path) {
  std::string text = path.empty() ? sampleMachineText() : "";
  if (!path.empty() && !readFile(path, &text)) {
    fprintf(stderr, "standin: cannot read %s\n", path.c_str());
    exit(70);
  }
  Machine machine;
  std::string error;
  if (!parseMachine(text, &machine, &error)) {
    fprintf(stderr, "standin: %s: %s\n", path.empty() ? "sample" : path.c_str(), error.c_str());
    exit(70);
  }
  return machine;
}

#ifndef _WIN32
bool lockMachineFile(unsigned long timeoutMs) {
  Session& s = session();
  if (s.machineFile.empty()) return true;
  std::string path = s.machineFile + ".lock";
  int file = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (file < 0) return false;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (flock(file, LOCK_EX | LOCK_NB) != 0) {
    if (std::chrono::steady_clock::now() >= deadline) {
      close(file);
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  s.lockFile = file;
  return true;
}

void unlockMachineFile() {
  Session& s = session();
  if (s.lockFile < 0) return;
  flock(s.lockFile, LOCK_UN);
  close(s.lockFile);
  s.lockFile = -1;
}
#else
bool lockMachineFile(unsigned long) {
  return true;
}

void unlockMachineFile() {}
#endif

void reloadStates() {
  Session& s = session();
  if (s.machineFile.empty()) return;
  Machine stored = loadMachine(s.machineFile);
  for (int c = 0; c < CLASS_COUNT; c++) {
    std::vector<Component>& components = s.machine.classes[c];
    const std::vector<Component>& saved = stored.classes[c];
    for (size_t k = 0; k < components.size() && k < saved.size(); k++) {
      std::vector<BindingPath>& paths = components[k].paths;
      for (size_t p = 0; p < paths.size() && p < saved[k].paths.size(); p++)
        if (paths[p].token == saved[k].paths[p].token) paths[p].enabled = saved[k].paths[p].enabled;
    }
  }
}

static bool replaceFile(const std::string& from, const std::string& to) {
#ifdef _WIN32
  return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
#else
  return rename(from.c_str(), to.c_str()) == 0;
#endif
}

bool saveMachine() {
  Session& s = session();
  if (s.machineFile.empty()) return true;
  std::string temporary = s.machineFile + ".tmp";
  FILE* file = fopen(temporary.c_str(), "wb");
  if (file == NULL) return false;
  std::string text = formatMachine(s.machine);
  bool written = fwrite(text.data(), 1, text.size(), file) == text.size();
  written = fclose(file) == 0 && written;
  return written && replaceFile(temporary, s.machineFile);
}

struct NamedGuid {
  const GUID* guid;
  const char* name;
};

static const NamedGuid knownGuids[] = {
    {&IID_IUnknown, "IID_IUnknown"},
    {&IID_INetCfg, "IID_INetCfg"},
    {&IID_INetCfgLock, "IID_INetCfgLock"},
    {&IID_INetCfgClass, "IID_INetCfgClass"},
    {&IID_IEnumNetCfgComponent, "IID_IEnumNetCfgComponent"},
    {&IID_INetCfgComponent, "IID_INetCfgComponent"},
    {&IID_INetCfgComponentBindings, "IID_INetCfgComponentBindings"},
    {&IID_IEnumNetCfgBindingPath, "IID_IEnumNetCfgBindingPath"},
    {&IID_INetCfgBindingPath, "IID_INetCfgBindingPath"},
    {&CLSID_CNetCfg, "CLSID_CNetCfg"},
    {&GUID_DEVCLASS_NET, "GUID_DEVCLASS_NET"},
    {&GUID_DEVCLASS_NETCLIENT, "GUID_DEVCLASS_NETCLIENT"},
    {&GUID_DEVCLASS_NETTRANS, "GUID_DEVCLASS_NETTRANS"},
    {&GUID_DEVCLASS_NETSERVICE, "GUID_DEVCLASS_NETSERVICE"},
};

std::string guidText(const void* guid) {
  if (guid == NULL) return "null";
  const GUID* g = (const GUID*)guid;
  for (const NamedGuid& known : knownGuids)
    if (memcmp(known.guid, g, sizeof(GUID)) == 0) return known.name;
  char buffer[48];
  snprintf(buffer, sizeof buffer, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", (unsigned)g->Data1, g->Data2,
           g->Data3, g->Data4[0], g->Data4[1], g->Data4[2], g->Data4[3], g->Data4[4], g->Data4[5], g->Data4[6],
           g->Data4[7]);
  return buffer;
}

}  // namespace standin
