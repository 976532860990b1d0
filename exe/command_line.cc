#include "command_line.h"

#include <stdlib.h>
#include <string.h>

#include "arguments.h"
#include "output.h"
#include "walks.h"

static const char* const classKeywords[] = {"dev", "client", "proto", "service"};
static_assert(sizeof(classKeywords) / sizeof(classKeywords[0]) == COMPONENT_CLASSES, "one class word per class");

// Keywords match whole and case-sensitively: "Enable" or "enabled" is not a keyword.
static int isKeyword(const char* argument, const char* keyword) {
  return strcmp(argument, keyword) == 0;
}

static int parseClass(const char* word) {
  for (int compClass = 0; compClass < COMPONENT_CLASSES; compClass++)
    if (isKeyword(word, classKeywords[compClass])) return compClass;
  return -1;
}

int parseArguments(int argc, char** argv, BindingRequest* request) {
  request->compClass = 0;
  request->compId = NULL;
  request->pathToken = NULL;
  request->mode = MODE_QUERY;
  int i = 1;
  while (i < argc) {
    const char* keyword = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : NULL;
    if (isKeyword(keyword, "class")) {
      if (value == NULL || parseClass(value) < 0) return -1;
      request->compClass = parseClass(value);
      i += 2;
    } else if (isKeyword(keyword, "comp")) {
      if (value == NULL) return -1;
      request->compId = value;
      i += 2;
    } else if (isKeyword(keyword, "path")) {
      if (value == NULL) return -1;
      request->pathToken = value;
      i += 2;
    } else if (isKeyword(keyword, "enable")) {
      request->mode = MODE_ENABLE;
      i += 1;
    } else if (isKeyword(keyword, "disable")) {
      request->mode = MODE_DISABLE;
      i += 1;
    } else {
      return -1;
    }
  }
  return 0;
}

void printUsage(const char* programName) {
  printText("usage: ");
  printProgramName(programName);
  printText(" [class dev|client|proto|service] [comp <id>] [path <pathToken>] [enable|disable]\n");
  flushOutput();
  exit(255);
}

int queryBindings(int compClass, const char* compId, const char* pathToken) {
  return walkComponents(compClass, compId, pathToken, MODE_QUERY) > 0 ? 1 : 0;
}

int changeBindings(int compClass, const char* compId, const char* pathToken, int mode) {
  if (mode == MODE_ENABLE) return walkComponents(compClass, compId, pathToken, mode) > 0;
  if (mode == MODE_DISABLE) return walkComponents(compClass, compId, pathToken, mode) == 0;
  return 0;
}

int runCommandLine(int argc, char** argv) {
  BindingRequest request;
  if (!argumentsAsTyped(argc, argv) || parseArguments(argc, argv, &request) != 0) printUsage(argv[0]);
  if (request.mode == MODE_QUERY) return queryBindings(request.compClass, request.compId, request.pathToken);
  return changeBindings(request.compClass, request.compId, request.pathToken, request.mode) ? 0 : 1;
}
