// A machine's network configuration as the stand-in holds it: the four
// classes of components, their binding paths and states, the write lock, and
// the results that particular calls are scripted to return. It is read from
// and written to a plain-text description; see "Machine descriptions" in
// docs/DEVELOPING.md.
#ifndef STANDIN_MACHINE_H
#define STANDIN_MACHINE_H

#include <stdint.h>

#include <string>
#include <vector>

namespace standin {

struct BindingPath {
  std::wstring token;
  bool enabled;  // the applied state
  bool current;  // the state seen inside a session, applied by Apply
};

struct Component {
  std::wstring bindName;
  std::wstring displayName;
  std::vector<BindingPath> paths;
};

// A call made for the occurrence-th time (or every time, when occurrence is 0)
// returns result instead of doing its work.
struct Fault {
  std::string call;  // "Interface.Method", or "CoCreateInstance" and the like
  long occurrence;
  int32_t result;
};

// A call made for the occurrence-th time first waits this long, so that a test
// can keep the write lock held while another process asks for it.
struct Delay {
  std::string call;
  long occurrence;
  long milliseconds;
};

// A binding that Windows changes beside another, as it does for the members of
// a team when the multiplexor protocol is bound: when the path trigger is
// changed to the state when within a session, the path target is set to then
// (once: what a link sets triggers no other link).
struct Link {
  std::wstring trigger;
  bool when;
  std::wstring target;
  bool then;
};

enum { CLASS_COUNT = 4 };

struct Machine {
  std::vector<Component> classes[CLASS_COUNT];  // dev, client, proto, service
  std::vector<Fault> faults;
  std::vector<Delay> delays;
  std::vector<Link> links;
  std::wstring lockHolder;  // another program that holds the write lock; empty when free
};

extern const char* const classKeywords[CLASS_COUNT];

// Reads a description; on failure returns false and says why, with the line.
bool parseMachine(const std::string& text, Machine* machine, std::string* error);
std::string formatMachine(const Machine& machine);

// The built-in sample: a typical Windows PC.
const char* sampleMachineText();

std::string toUtf8(const std::wstring& text);
std::wstring fromUtf8(const std::string& text);

// A 32-bit result as the program prints it: lower-case hexadecimal, no prefix.
std::string hexResult(int32_t result);

}  // namespace standin

#endif
