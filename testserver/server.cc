// A COM in-process server for CLSID_CNetCfg that serves stand-in machines, so
// that the unmodified ferrule.exe runs under Wine against scripted network
// configurations. It reads STANDIN_MACHINE and writes STANDIN_JOURNAL as the
// stand-in does; everything else is Windows' (or Wine's) own: COM, the task
// allocator, StrCmpLogicalW.
#include <initguid.h>

#include "interfaces.h"
#include "objects.h"
#include "session.h"

namespace {

class Factory : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (object == NULL) return E_POINTER;
    *object = NULL;
    if (riid != IID_IUnknown && riid != IID_IClassFactory) return E_NOINTERFACE;
    *object = static_cast<IClassFactory*>(this);
    return S_OK;
  }

  // The factory lives as long as the DLL.
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  // What the program asked CoCreateInstance for arrives here; a scripted
  // "CoCreateInstance" result is returned to it through COM.
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
    if (object == NULL) return E_POINTER;
    *object = NULL;
    std::string arguments = "CLSID_CNetCfg, " + standin::pointer(outer) + ", 1, " + standin::guidText(&riid);
    return standin::perform("CoCreateInstance", "", arguments, [&]() -> HRESULT {
      if (outer != NULL) return CLASS_E_NOAGGREGATION;
      return standin::createNetCfg(riid, object);
    });
  }

  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

Factory factory;

}  // namespace

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* object) {
  if (object == NULL) return E_POINTER;
  *object = NULL;
  if (clsid != CLSID_CNetCfg) return CLASS_E_CLASSNOTAVAILABLE;
  return factory.QueryInterface(riid, object);
}

extern "C" HRESULT WINAPI DllCanUnloadNow(void) {
  return S_FALSE;
}

// As the process ends, the journal says what the program never released.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  standin::Session* s = standin::existingSession();
  if (reason != DLL_PROCESS_DETACH || s == NULL) return TRUE;
  for (const std::string& what : standin::leftBehind(*s)) standin::record("unreleased: " + what);
  return TRUE;
}
