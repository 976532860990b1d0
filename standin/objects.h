// The network configuration object and its companions, over the session's
// in-memory machine. The same objects serve the stand-in platform here and the
// test COM server under Wine.
#ifndef STANDIN_OBJECTS_H
#define STANDIN_OBJECTS_H

#include <stdint.h>

#include <functional>
#include <string>

#include "interfaces.h"

namespace standin {

// Creates the configuration object (what CLSID_CNetCfg names) and asks it for riid.
HRESULT createNetCfg(REFIID riid, void** object);

// Makes one journalled call: counts it, returns the scripted result when one
// other than S_OK is due, else runs body; then records
// "Interface[target].Method(arguments) = result".
HRESULT perform(const char* call, const std::string& target, const std::string& arguments,
                const std::function<HRESULT()>& body);

// How the journal shows a wide-string argument ("text", or null) and a
// pointer argument (&, or null).
std::string quote(LPCWSTR text);
std::string pointer(const void* p);

}  // namespace standin

#endif
