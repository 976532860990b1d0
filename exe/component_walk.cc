// The component walk: the one place where the network configuration is opened,
// locked, initialised and closed. Each set-up step is a function that calls the
// next one and then undoes its own step, so that a failure anywhere undoes
// exactly what was reached, in reverse order.
#include <vector>

#include "arguments.h"
#include "interrupt.h"
#include "output.h"
#include "walks.h"

INetCfg* netCfg = NULL;

static const GUID* const classIds[] = {
    &GUID_DEVCLASS_NET,
    &GUID_DEVCLASS_NETCLIENT,
    &GUID_DEVCLASS_NETTRANS,
    &GUID_DEVCLASS_NETSERVICE,
};
static_assert(sizeof(classIds) / sizeof(classIds[0]) == COMPONENT_CLASSES, "one class identifier per class");

static const DWORD lockTimeoutMs = 5000;
static const WCHAR lockClientDescription[] = L"ferrule";

// Converts a command-line filter into a wide string held in buffer, which is
// sized to the text, so that a filter of any length is kept whole. Sets *wide
// to null when there is no filter; returns 0 when the text is no text of the
// arguments' encoding, which the command line has already refused.
static int widen(const char* text, std::vector<WCHAR>& buffer, const WCHAR** wide) {
  *wide = NULL;
  if (text == NULL) return 1;
  if (!widenArgument(text, buffer)) return 0;
  *wide = &buffer[0];
  return 1;
}

// A component whose bind name could not be fetched matches no filter.
static int componentMatches(const WCHAR* bindName, const WCHAR* compIdWide) {
  if (compIdWide == NULL) return 1;
  return bindName != NULL && StrCmpLogicalW(bindName, compIdWide) == 0;
}

// S_FALSE ends the enumeration: there is no other component. Anything else
// but S_OK ends it too, and counts as a component whose bindings could not be
// reached: the class was not walked whole.
static int nextComponent(IEnumNetCfgComponent* components, INetCfgComponent** component, int* total) {
  HRESULT hr = components->Next(1, component, NULL);
  if (hr == S_OK) return 1;
  if (hr != S_FALSE) {
    printFormatted("components->Next() returned %x\n", (unsigned)hr);
    *total += WALK_FAILED;
  }
  return 0;
}

// A stop asked meanwhile is looked at before each next component is fetched:
// the one in hand is always finished, its changes applied.
static int walkEnumeration(IEnumNetCfgComponent* components, const WCHAR* compIdWide, const WCHAR* pathTokenWide,
                           int mode) {
  int total = 0;
  INetCfgComponent* component = NULL;
  components->Reset();
  while (!stopAsked() && nextComponent(components, &component, &total)) {
    LPWSTR bindName = NULL;
    component->GetBindName(&bindName);
    if (componentMatches(bindName, compIdWide)) total += walkBindingPaths(component, pathTokenWide, mode);
    if (bindName != NULL) CoTaskMemFree(bindName);
    component->Release();
    component = NULL;
  }
  return total;
}

static int walkClass(const GUID* classId, const WCHAR* compIdWide, const WCHAR* pathTokenWide, int mode) {
  INetCfgClass* netCfgClass = NULL;
  HRESULT hr = netCfg->QueryNetCfgClass(classId, IID_INetCfgClass, (void**)&netCfgClass);
  if (hr != S_OK) {
    printFormatted("QueryNetCfgClass() returned %x\n", (unsigned)hr);
    return WALK_FAILED;
  }
  IEnumNetCfgComponent* components = NULL;
  hr = netCfgClass->EnumComponents(&components);
  if (hr != S_OK) {
    printFormatted("EnumComponents() returned %x\n", (unsigned)hr);
    netCfgClass->Release();
    return WALK_FAILED;
  }
  int total = walkEnumeration(components, compIdWide, pathTokenWide, mode);
  components->Release();
  netCfgClass->Release();
  return total;
}

static int walkInitialised(const GUID* classId, const WCHAR* compIdWide, const WCHAR* pathTokenWide, int mode) {
  HRESULT hr = netCfg->Initialize(NULL);
  if (hr != S_OK) {
    printFormatted("netCfg->Initialize() returned %x\n", (unsigned)hr);
    return WALK_FAILED;
  }
  int total = walkClass(classId, compIdWide, pathTokenWide, mode);
  hr = netCfg->Uninitialize();
  if (hr != S_OK) printFormatted("netCfg->Uninitialize() returned %x\n", (unsigned)hr);
  return total;
}

static int walkLocked(const GUID* classId, const WCHAR* compIdWide, const WCHAR* pathTokenWide, int mode) {
  INetCfgLock* lock = NULL;
  HRESULT hr = netCfg->QueryInterface(IID_INetCfgLock, (void**)&lock);
  if (hr != S_OK) {
    printFormatted("netCfg->QueryInterface(IID_INetCfgLock) returned %x\n", (unsigned)hr);
    return WALK_FAILED;
  }
  int total = WALK_FAILED;
  hr = lock->AcquireWriteLock(lockTimeoutMs, lockClientDescription, NULL);
  if (hr != S_OK) {
    printFormatted("lock->AcquireWriteLock() returned %x\n", (unsigned)hr);
  } else {
    total = walkInitialised(classId, compIdWide, pathTokenWide, mode);
    lock->ReleaseWriteLock();
  }
  lock->Release();
  return total;
}

static int walkCreated(const GUID* classId, const WCHAR* compIdWide, const WCHAR* pathTokenWide, int mode) {
  HRESULT hr = CoCreateInstance(CLSID_CNetCfg, NULL, CLSCTX_INPROC_SERVER, IID_INetCfg, (void**)&netCfg);
  if (hr != S_OK) {
    printFormatted("CoCreateInstance(CLSID_CNetCfg) returned %x\n", (unsigned)hr);
    netCfg = NULL;
    return WALK_FAILED;
  }
  int total = walkLocked(classId, compIdWide, pathTokenWide, mode);
  netCfg->Release();
  netCfg = NULL;
  return total;
}

static int walkApartment(int compClass, const char* compId, const char* pathToken, int mode) {
  if (compClass < 0 || compClass >= COMPONENT_CLASSES) {
    printFormatted("invalid compClass %d\n", compClass);
    return 255;
  }
  std::vector<WCHAR> compIdBuffer, pathTokenBuffer;
  const WCHAR* compIdWide = NULL;
  const WCHAR* pathTokenWide = NULL;
  if (!widen(compId, compIdBuffer, &compIdWide) || !widen(pathToken, pathTokenBuffer, &pathTokenWide)) {
    printText("invalid filter\n");
    return WALK_FAILED;
  }
  HRESULT hr = CoInitializeEx(NULL, COINIT_MULTITHREADED);
  if (hr != S_OK) {
    printFormatted("CoInitializeEx() returned %x\n", (unsigned)hr);
    return WALK_FAILED;
  }
  int total = walkCreated(classIds[compClass], compIdWide, pathTokenWide, mode);
  CoUninitialize();
  return total;
}

// The walk is the whole run: everything it printed is out when it returns.
int walkComponents(int compClass, const char* compId, const char* pathToken, int mode) {
  int total = walkApartment(compClass, compId, pathToken, mode);
  flushOutput();
  return total;
}
