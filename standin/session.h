// The stand-in's state for one process: the machine it serves, the journal of
// every call made to it, reference counts, and the write lock and apartment as
// the program left them. Tests read it to see what was handed to the platform.
#ifndef STANDIN_SESSION_H
#define STANDIN_SESSION_H

#include <stdint.h>
#include <stdio.h>

#include <map>
#include <string>
#include <vector>

#include "machine.h"

namespace standin {

struct Session {
  Machine machine;
  std::string machineFile;  // where Apply writes the states back; empty for none
  bool journalling = true;
  std::vector<std::string> journal;        // "Interface[target].Method(arguments) = result", in order
  FILE* journalFile = NULL;                // a copy of the journal, line by line, when asked for
  std::map<std::string, long> calls;       // per call name, how often it was made
  std::map<std::string, long> references;  // per interface, references still held
  std::vector<std::string> violations;     // uses that Windows would not tolerate
  long apartments = 0;                     // CoInitializeEx that succeeded, less CoUninitialize
  bool apartmentLeft = false;              // the program has left the apartment once
  bool writeLocked = false;                // the program holds the write lock
  bool releaseAsked = false;               // since it was granted; a failed release is the platform's to answer for
  bool initialised = false;
  bool uninitialiseAsked = false;     // since Initialize; a failed Uninitialize is the platform's to answer for
  std::vector<BindingPath*> changed;  // paths enabled or disabled since the last Apply
  long strings = 0;                   // strings handed out and not yet freed
  int lockFile = -1;                  // the open lock file while the write lock is held
};

// The process's session. On first use it serves the machine described in the
// file named by STANDIN_MACHINE, or the built-in sample, and writes its journal
// to the file named by STANDIN_JOURNAL when that is set.
Session& session();

// The session, or null when nothing has asked for one yet.
Session* existingSession();

// Starts a fresh session on machine (for tests); file is where Apply writes.
void startSession(const Machine& machine, const std::string& file = std::string());

// Counts a call, waits when it is scripted to, and returns true, with *result
// set, when it is scripted to fail now.
bool scripted(const char* call, int32_t* result);

// The write lock between processes that share a description file: false when
// another process keeps it for longer than timeout. Without a file, or on
// Windows, the lock is the session's alone and always granted.
bool lockMachineFile(unsigned long timeoutMs);
void unlockMachineFile();

// Takes the applied states from the description file again, as another
// process may have changed them before this one got the write lock.
void reloadStates();

// What the program left behind that it should not have: references it holds,
// strings it did not free, the lock or the configuration it did not ask to
// release, the apartment it did not leave, and uses Windows would not
// tolerate. A release that the platform refused is the platform's to answer for.
std::vector<std::string> leftBehind(const Session& s);

void record(const std::string& line);
void violation(const std::string& what);

// Reads a description file, or the sample when path is empty; exits with a
// message on standard error when it cannot be read, since the run means nothing then.
Machine loadMachine(const std::string& path);

// Writes the applied states back to the session's file: a temporary file, then
// a rename, so that a reader never sees half a description.
bool saveMachine();

std::string guidText(const void* guid);  // the identifier's name when it is one we know

}  // namespace standin

#endif
