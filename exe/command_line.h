// The command-line front end: reads the argument vector into one request,
// runs the component walk once and turns its total into the exit status.
#ifndef FERRULE_COMMAND_LINE_H
#define FERRULE_COMMAND_LINE_H

struct BindingRequest {
  int compClass;          // 0 dev, 1 client, 2 proto, 3 service
  const char* compId;     // bind name filter, or null for every component
  const char* pathToken;  // path token filter, or null for every path
  int mode;               // -1 query, 0 disable, 1 enable
};

// Fills request from the arguments after the program name; returns 0, or -1
// when the command line is malformed (then request is not to be used).
int parseArguments(int argc, char** argv, BindingRequest* request);

// Prints the usage line and ends the process with status 255.
void printUsage(const char* programName);

// 1 when something matching is enabled, else 0.
int queryBindings(int compClass, const char* compId, const char* pathToken);

// Non-zero when the change counts as a success for the exit status.
int changeBindings(int compClass, const char* compId, const char* pathToken, int mode);

// The whole run: parse, dispatch, and return the process exit status.
int runCommandLine(int argc, char** argv);

#endif
