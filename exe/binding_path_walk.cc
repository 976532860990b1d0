// The binding-path walk: the work for one network component, done while the
// component walk holds the write lock and keeps the configuration initialised.
#include "output.h"
#include "walks.h"

// A name or token that could not be fetched is shown as an empty string.
static const WCHAR* shown(const WCHAR* text) {
  return text != NULL ? text : L"";
}

static void printHeading(INetCfgComponent* netCfgComp) {
  LPWSTR bindName = NULL;
  LPWSTR displayName = NULL;
  netCfgComp->GetBindName(&bindName);
  netCfgComp->GetDisplayName(&displayName);
  printName(shown(bindName));
  printText(" (");
  printName(shown(displayName));
  printText(")\n");
  if (bindName != NULL) CoTaskMemFree(bindName);
  if (displayName != NULL) CoTaskMemFree(displayName);
}

// The start of a path's line: indented, then the token.
static void printPathStart(const WCHAR* token) {
  printText("    ");
  printName(shown(token));
}

// A path whose token could not be fetched matches no filter.
static int pathMatches(const WCHAR* pathTokenWide, const WCHAR* token) {
  if (pathTokenWide == NULL) return 1;
  return token != NULL && StrCmpLogicalW(pathTokenWide, token) == 0;
}

// S_FALSE is an answer: not enabled. Any other result but S_OK says nothing
// of the state, which is still shown as 0; the line after it says so, for
// whoever reads the listing.
static void reportUnreadState(HRESULT hr) {
  if (hr != S_OK && hr != S_FALSE) printFormatted("bindingPath->IsEnabled() returned %x\n", (unsigned)hr);
}

// Shows or changes one matching path. Returns what it adds to the walk's
// result; *enableFailed is set when the change was refused.
static int handlePath(INetCfgBindingPath* bindingPath, const WCHAR* token, int mode, int* enableFailed) {
  HRESULT hr = bindingPath->IsEnabled();
  int enabled = hr == S_OK ? 1 : 0;
  if (mode < 0) {
    printPathStart(token);
    printFormatted(": %d\n", enabled);
    reportUnreadState(hr);
    return enabled;
  }
  int newState = mode > 0 ? 1 : 0;
  printPathStart(token);
  printFormatted(": %d->%d\n", enabled, newState);
  reportUnreadState(hr);
  hr = bindingPath->Enable(newState);
  if (hr != S_OK) {
    printFormatted("bindingPath->Enable(%d) returned %x\n", mode, (unsigned)hr);
    *enableFailed = 1;
  }
  return mode > 0 ? enabled : 0;
}

// S_FALSE ends the enumeration: there is no other path. Anything else but
// S_OK ends it too, but then the paths listed are not all there are.
static int nextPath(IEnumNetCfgBindingPath* paths, INetCfgBindingPath** bindingPath, int* cutShort) {
  HRESULT hr = paths->Next(1, bindingPath, NULL);
  if (hr == S_OK) return 1;
  if (hr != S_FALSE) {
    printFormatted("paths->Next() returned %x\n", (unsigned)hr);
    *cutShort = 1;
  }
  return 0;
}

// Sets *cutShort when the enumeration failed before its end.
static int walkPaths(IEnumNetCfgBindingPath* paths, const WCHAR* pathTokenWide, int mode, int* enableFailed,
                     int* cutShort) {
  int result = 0;
  INetCfgBindingPath* bindingPath = NULL;
  paths->Reset();
  while (nextPath(paths, &bindingPath, cutShort)) {
    LPWSTR token = NULL;
    bindingPath->GetPathToken(&token);
    int matched = pathMatches(pathTokenWide, token);
    if (matched) result += handlePath(bindingPath, token, mode, enableFailed);
    if (token != NULL) CoTaskMemFree(token);
    bindingPath->Release();
    bindingPath = NULL;
    if (matched && pathTokenWide != NULL) break;
  }
  return result;
}

// Applies the component's changes. Returns non-zero when they were not applied.
// Every result but S_OK is printed as a failure line, which scripts match; a
// success code such as NETCFG_S_REBOOT (the change is made, a restart
// completes it) still counts as applied.
static int applyChanges(void) {
  printText("Applying changes ... ");
  // Applying can take a while: the line stands on the screen meanwhile.
  flushOutput();
  HRESULT hr = netCfg->Apply();
  if (hr == S_OK) {
    printText("success\n");
    return 0;
  }
  printFormatted("failed - error code %x\n", (unsigned)hr);
  return FAILED(hr);
}

int walkBindingPaths(INetCfgComponent* netCfgComp, const WCHAR* pathTokenWide, int mode) {
  printHeading(netCfgComp);
  INetCfgComponentBindings* bindings = NULL;
  HRESULT hr = netCfgComp->QueryInterface(IID_INetCfgComponentBindings, (void**)&bindings);
  if (hr != S_OK) {
    printFormatted("netCfgComp->QueryInterface() returned %x\n", (unsigned)hr);
    return WALK_FAILED;
  }
  IEnumNetCfgBindingPath* paths = NULL;
  hr = bindings->EnumBindingPaths(EBP_ABOVE, &paths);
  if (hr != S_OK) {
    printFormatted("bindings->EnumBindingPaths() returned %x\n", (unsigned)hr);
    bindings->Release();
    return WALK_FAILED;
  }
  int enableFailed = 0;
  int cutShort = 0;
  int result = walkPaths(paths, pathTokenWide, mode, &enableFailed, &cutShort);
  paths->Release();
  bindings->Release();
  // A component whose paths were not all listed counts as one whose bindings
  // could not be reached; what was changed of it is still applied.
  if (mode < 0) return cutShort ? WALK_FAILED : result;
  int applyFailed = applyChanges();
  if (cutShort) return WALK_FAILED;
  // A disable that was refused or not applied must not pass for a success.
  if (mode == MODE_DISABLE && (enableFailed || applyFailed)) return WALK_FAILED;
  return result;
}
