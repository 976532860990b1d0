// The stand-in's COM runtime and shell string comparison, with Windows' rules.
#include <stdlib.h>
#include <wctype.h>

#include <set>

#include "netcfg.h"
#include "objects.h"
#include "session.h"

using standin::perform;
using standin::session;

extern "C" {

const GUID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const GUID IID_IClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
#define NETCFG_IID(name, first) \
  const GUID name = {first, 0x306E, 0x11D1, {0xAA, 0xCF, 0x00, 0x80, 0x5F, 0xC1, 0x27, 0x0E}}
NETCFG_IID(IID_IEnumNetCfgComponent, 0xC0E8AE92);
NETCFG_IID(IID_INetCfg, 0xC0E8AE93);
NETCFG_IID(IID_IEnumNetCfgBindingPath, 0xC0E8AE91);
NETCFG_IID(IID_INetCfgBindingPath, 0xC0E8AE96);
NETCFG_IID(IID_INetCfgClass, 0xC0E8AE97);
NETCFG_IID(IID_INetCfgComponent, 0xC0E8AE99);
NETCFG_IID(IID_INetCfgComponentBindings, 0xC0E8AE9E);
NETCFG_IID(IID_INetCfgLock, 0xC0E8AE9F);
const GUID CLSID_CNetCfg = {0x5B035261, 0x40F9, 0x11D1, {0xAA, 0xEC, 0x00, 0x80, 0x5F, 0xC1, 0x27, 0x0E}};
#define DEVCLASS(name, first) \
  const GUID name = {first, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}}
DEVCLASS(GUID_DEVCLASS_NET, 0x4D36E972);
DEVCLASS(GUID_DEVCLASS_NETCLIENT, 0x4D36E973);
DEVCLASS(GUID_DEVCLASS_NETSERVICE, 0x4D36E974);
DEVCLASS(GUID_DEVCLASS_NETTRANS, 0x4D36E975);

HRESULT CoInitializeEx(LPVOID reserved, DWORD coInit) {
  std::string arguments = standin::pointer(reserved) + ", " + std::to_string(coInit);
  return perform("CoInitializeEx", "", arguments, []() -> HRESULT {
    // Entering again, from the same thread, succeeds with S_FALSE and must be balanced too.
    return session().apartments++ == 0 ? S_OK : S_FALSE;
  });
}

void CoUninitialize(void) {
  perform("CoUninitialize", "", "", []() -> HRESULT {
    standin::Session& s = session();
    if (s.apartments <= 0) {
      standin::violation("CoUninitialize without CoInitializeEx");
      return S_OK;
    }
    if (--s.apartments == 0) s.apartmentLeft = true;
    return S_OK;
  });
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid, LPVOID* object) {
  if (object == NULL) return E_POINTER;
  *object = NULL;
  std::string arguments = standin::guidText(&clsid) + ", " + standin::pointer(outer) + ", " + std::to_string(context) +
                          ", " + standin::guidText(&riid);
  return perform("CoCreateInstance", "", arguments, [&]() -> HRESULT {
    if (session().apartments <= 0) return CO_E_NOTINITIALIZED;
    if (clsid != CLSID_CNetCfg || (context & CLSCTX_INPROC_SERVER) == 0) return REGDB_E_CLASSNOTREG;
    if (outer != NULL) return CLASS_E_NOAGGREGATION;
    return standin::createNetCfg(riid, object);
  });
}

// Every string handed out must come back exactly once.
static std::set<void*>& outstanding() {
  static std::set<void*>* blocks = new std::set<void*>();
  return *blocks;
}

LPVOID CoTaskMemAlloc(size_t size) {
  void* block = malloc(size == 0 ? 1 : size);
  if (block != NULL) {
    outstanding().insert(block);
    session().strings++;
  }
  return block;
}

void CoTaskMemFree(LPVOID block) {
  if (block == NULL) return;
  if (outstanding().erase(block) == 0) {
    standin::violation("CoTaskMemFree of memory the platform did not hand out");
    return;
  }
  session().strings--;
  free(block);
}

static bool isDigit(WCHAR c) {
  return c >= L'0' && c <= L'9';
}

// Compares the runs of digits at *a and *b as numbers and moves past them.
static int compareNumbers(LPCWSTR* a, LPCWSTR* b) {
  while (**a == L'0' && isDigit((*a)[1])) (*a)++;
  while (**b == L'0' && isDigit((*b)[1])) (*b)++;
  LPCWSTR startA = *a, startB = *b;
  while (isDigit(**a)) (*a)++;
  while (isDigit(**b)) (*b)++;
  long lengthA = *a - startA, lengthB = *b - startB;
  if (lengthA != lengthB) return lengthA < lengthB ? -1 : 1;
  for (long i = 0; i < lengthA; i++)
    if (startA[i] != startB[i]) return startA[i] < startB[i] ? -1 : 1;
  return 0;
}

// Case-insensitive; a run of digits compares as the number it spells, and
// sorts before anything else.
static int compareLogical(LPCWSTR a, LPCWSTR b) {
  while (*a != 0 && *b != 0) {
    if (isDigit(*a) && isDigit(*b)) {
      int order = compareNumbers(&a, &b);
      if (order != 0) return order;
      continue;
    }
    if (isDigit(*a) != isDigit(*b)) return isDigit(*a) ? -1 : 1;
    wint_t lowerA = towlower((wint_t)*a), lowerB = towlower((wint_t)*b);
    if (lowerA != lowerB) return lowerA < lowerB ? -1 : 1;
    a++;
    b++;
  }
  if (*a != 0) return 1;
  if (*b != 0) return -1;
  return 0;
}

// A scripted result other than 0 stands for the comparison's own, so a test
// can force a mismatch.
int StrCmpLogicalW(LPCWSTR a, LPCWSTR b) {
  return perform("StrCmpLogicalW", "", standin::quote(a) + ", " + standin::quote(b), [&]() -> HRESULT {
    // Windows orders a null string before any other.
    if (a == NULL || b == NULL) return a == b ? 0 : a == NULL ? -1 : 1;
    return compareLogical(a, b);
  });
}

}  // extern "C"
