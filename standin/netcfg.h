// The stand-in platform: the types, interfaces and calls of Windows' network
// configuration API, with Windows' names, argument order and meaning, for every
// system that is not Windows. The objects behind them live in objects.cc and
// work on the in-memory machine of machine.h.
#ifndef STANDIN_NETCFG_H
#define STANDIN_NETCFG_H

#include <stddef.h>
#include <stdint.h>
#include <wchar.h>

typedef int32_t HRESULT;
typedef uint32_t ULONG;
typedef uint32_t DWORD;
typedef DWORD* LPDWORD;
typedef int WINBOOL;
typedef int BOOL;
typedef wchar_t WCHAR;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
typedef void* PVOID;
typedef void* LPVOID;
typedef struct HKEY__* HKEY;
typedef struct HWND__* HWND;

struct GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
};
typedef GUID IID;
typedef GUID CLSID;
typedef const GUID& REFGUID;
typedef const IID& REFIID;
typedef const CLSID& REFCLSID;

inline bool operator==(const GUID& a, const GUID& b) {
  if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
  for (int i = 0; i < 8; i++)
    if (a.Data4[i] != b.Data4[i]) return false;
  return true;
}
inline bool operator!=(const GUID& a, const GUID& b) {
  return !(a == b);
}

#define STDMETHODCALLTYPE
#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#define FAILED(hr) (((HRESULT)(hr)) < 0)

#define S_OK ((HRESULT)0)
#define S_FALSE ((HRESULT)1)
#define E_NOTIMPL ((HRESULT)0x80004001)
#define E_NOINTERFACE ((HRESULT)0x80004002)
#define E_POINTER ((HRESULT)0x80004003)
#define E_FAIL ((HRESULT)0x80004005)
#define E_UNEXPECTED ((HRESULT)0x8000FFFF)
#define E_OUTOFMEMORY ((HRESULT)0x8007000E)
#define E_INVALIDARG ((HRESULT)0x80070057)
#define CLASS_E_NOAGGREGATION ((HRESULT)0x80040110)
#define REGDB_E_CLASSNOTREG ((HRESULT)0x80040154)
#define CO_E_NOTINITIALIZED ((HRESULT)0x800401F0)
#define RPC_E_CHANGED_MODE ((HRESULT)0x80010106)

#define NETCFG_E_ALREADY_INITIALIZED ((HRESULT)0x8004A020)
#define NETCFG_E_NOT_INITIALIZED ((HRESULT)0x8004A021)
#define NETCFG_E_IN_USE ((HRESULT)0x8004A022)
#define NETCFG_E_NO_WRITE_LOCK ((HRESULT)0x8004A024)
#define NETCFG_S_REBOOT ((HRESULT)0x0004A020)

#define COINIT_MULTITHREADED 0x0
#define COINIT_APARTMENTTHREADED 0x2
#define CLSCTX_INPROC_SERVER 0x1

enum ENUM_BINDING_PATHS_FLAGS { EBP_ABOVE = 0x1, EBP_BELOW = 0x2 };

struct IUnknown {
  virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) = 0;
  virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
  virtual ULONG STDMETHODCALLTYPE Release() = 0;
};

struct INetCfgComponent;
struct INetCfgBindingPath;
struct IEnumNetCfgBindingInterface;

struct IEnumNetCfgComponent : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Next(ULONG celt, INetCfgComponent** rgelt, ULONG* pceltFetched) = 0;
  virtual HRESULT STDMETHODCALLTYPE Skip(ULONG celt) = 0;
  virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
  virtual HRESULT STDMETHODCALLTYPE Clone(IEnumNetCfgComponent** ppenum) = 0;
};

struct IEnumNetCfgBindingPath : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Next(ULONG celt, INetCfgBindingPath** rgelt, ULONG* pceltFetched) = 0;
  virtual HRESULT STDMETHODCALLTYPE Skip(ULONG celt) = 0;
  virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
  virtual HRESULT STDMETHODCALLTYPE Clone(IEnumNetCfgBindingPath** ppenum) = 0;
};

struct INetCfg : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Initialize(PVOID pvReserved) = 0;
  virtual HRESULT STDMETHODCALLTYPE Uninitialize() = 0;
  virtual HRESULT STDMETHODCALLTYPE Apply() = 0;
  virtual HRESULT STDMETHODCALLTYPE Cancel() = 0;
  virtual HRESULT STDMETHODCALLTYPE EnumComponents(const GUID* pguidClass, IEnumNetCfgComponent** ppenumComponent) = 0;
  virtual HRESULT STDMETHODCALLTYPE FindComponent(LPCWSTR pszwInfId, INetCfgComponent** pComponent) = 0;
  virtual HRESULT STDMETHODCALLTYPE QueryNetCfgClass(const GUID* pguidClass, REFIID riid, void** ppvObject) = 0;
};

struct INetCfgLock : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE AcquireWriteLock(DWORD cmsTimeout, LPCWSTR pszwClientDescription,
                                                     LPWSTR* ppszwClientDescription) = 0;
  virtual HRESULT STDMETHODCALLTYPE ReleaseWriteLock() = 0;
  virtual HRESULT STDMETHODCALLTYPE IsWriteLocked(LPWSTR* ppszwClientDescription) = 0;
};

struct INetCfgBindingPath : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE IsSamePathAs(INetCfgBindingPath* pPath) = 0;
  virtual HRESULT STDMETHODCALLTYPE IsSubPathOf(INetCfgBindingPath* pPath) = 0;
  virtual HRESULT STDMETHODCALLTYPE IsEnabled() = 0;
  virtual HRESULT STDMETHODCALLTYPE Enable(WINBOOL fEnable) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetPathToken(LPWSTR* ppszwPathToken) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetOwner(INetCfgComponent** ppComponent) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetDepth(ULONG* pcInterfaces) = 0;
  virtual HRESULT STDMETHODCALLTYPE EnumBindingInterfaces(IEnumNetCfgBindingInterface** ppenumInterface) = 0;
};

struct INetCfgClass : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE FindComponent(LPCWSTR pszwInfId, INetCfgComponent** ppnccItem) = 0;
  virtual HRESULT STDMETHODCALLTYPE EnumComponents(IEnumNetCfgComponent** ppenumComponent) = 0;
};

struct INetCfgComponent : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetDisplayName(LPWSTR* ppszwDisplayName) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetDisplayName(LPCWSTR pszwDisplayName) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetHelpText(LPWSTR* pszwHelpText) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetId(LPWSTR* ppszwId) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetCharacteristics(LPDWORD pdwCharacteristics) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetInstanceGuid(GUID* pGuid) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetPnpDevNodeId(LPWSTR* ppszwDevNodeId) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetClassGuid(GUID* pGuid) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetBindName(LPWSTR* ppszwBindName) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetDeviceStatus(ULONG* pulStatus) = 0;
  virtual HRESULT STDMETHODCALLTYPE OpenParamKey(HKEY* phkey) = 0;
  virtual HRESULT STDMETHODCALLTYPE RaisePropertyUi(HWND hwndParent, DWORD dwFlags, IUnknown* punkContext) = 0;
};

struct INetCfgComponentBindings : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE BindTo(INetCfgComponent* pnccItem) = 0;
  virtual HRESULT STDMETHODCALLTYPE UnbindFrom(INetCfgComponent* pnccItem) = 0;
  virtual HRESULT STDMETHODCALLTYPE SupportsBindingInterface(DWORD dwFlags, LPCWSTR pszwInterfaceName) = 0;
  virtual HRESULT STDMETHODCALLTYPE IsBoundTo(INetCfgComponent* pnccItem) = 0;
  virtual HRESULT STDMETHODCALLTYPE IsBindableTo(INetCfgComponent* pnccItem) = 0;
  virtual HRESULT STDMETHODCALLTYPE EnumBindingPaths(DWORD dwFlags, IEnumNetCfgBindingPath** ppIEnum) = 0;
  virtual HRESULT STDMETHODCALLTYPE MoveBefore(INetCfgBindingPath* pncbItemSrc, INetCfgBindingPath* pncbItemDest) = 0;
  virtual HRESULT STDMETHODCALLTYPE MoveAfter(INetCfgBindingPath* pncbItemSrc, INetCfgBindingPath* pncbItemDest) = 0;
};

extern "C" {
extern const GUID IID_IUnknown;
extern const GUID IID_IClassFactory;
extern const GUID IID_INetCfg;
extern const GUID IID_INetCfgLock;
extern const GUID IID_INetCfgClass;
extern const GUID IID_IEnumNetCfgComponent;
extern const GUID IID_INetCfgComponent;
extern const GUID IID_INetCfgComponentBindings;
extern const GUID IID_IEnumNetCfgBindingPath;
extern const GUID IID_INetCfgBindingPath;
extern const GUID CLSID_CNetCfg;
extern const GUID GUID_DEVCLASS_NET;
extern const GUID GUID_DEVCLASS_NETCLIENT;
extern const GUID GUID_DEVCLASS_NETTRANS;
extern const GUID GUID_DEVCLASS_NETSERVICE;

HRESULT CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit);
void CoUninitialize(void);
HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid, LPVOID* ppv);
LPVOID CoTaskMemAlloc(size_t cb);
void CoTaskMemFree(LPVOID pv);
int StrCmpLogicalW(LPCWSTR psz1, LPCWSTR psz2);
}

#endif
