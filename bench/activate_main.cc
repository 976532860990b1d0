// A program that only activates the network configuration object, built as
// ferrule.exe is: the floor of any program of its kind.
#include <windows.h>
#include <objbase.h>
#include <netcfgx.h>

int main() {
  INetCfg* netCfg = NULL;
  if (CoInitializeEx(NULL, COINIT_MULTITHREADED) != S_OK) return 1;
  HRESULT hr = CoCreateInstance(CLSID_CNetCfg, NULL, CLSCTX_INPROC_SERVER, IID_INetCfg, (void**)&netCfg);
  if (hr == S_OK) netCfg->Release();
  CoUninitialize();
  return hr == S_OK ? 0 : 1;
}
