#include "objects.h"

#include <string.h>

#include "session.h"

namespace standin {

HRESULT perform(const char* call, const std::string& target, const std::string& arguments,
                const std::function<HRESULT()>& body) {
  Session& s = session();
#ifndef _WIN32
  if (s.apartmentLeft && s.apartments <= 0 && strchr(call, '.') != NULL)
    violation(std::string(call) + " after CoUninitialize");
#endif
  // A scripted S_OK is no fault: the call runs as usual, since no platform
  // reports success while handing out nothing.
  int32_t result;
  if (!scripted(call, &result) || result == S_OK) result = body();
  if (s.journalling) {
    std::string name(call);
    size_t dot = name.find('.');
    if (dot != std::string::npos && !target.empty()) name.insert(dot, "[" + target + "]");
    record(name + "(" + arguments + ") = " + hexResult(result));
  }
  return result;
}

std::string quote(LPCWSTR text) {
  return text == NULL ? "null" : "\"" + toUtf8(text) + "\"";
}

std::string pointer(const void* p) {
  return p == NULL ? "null" : "&";
}

static HRESULT handOut(const std::wstring& text, LPWSTR* out) {
  size_t bytes = (text.size() + 1) * sizeof(WCHAR);
  *out = (LPWSTR)CoTaskMemAlloc(bytes);
  if (*out == NULL) return E_OUTOFMEMORY;
  memcpy(*out, text.c_str(), bytes);
  return S_OK;
}

static BindingPath& pathAt(int c, size_t k, size_t p) {
  return session().machine.classes[c][k].paths[p];
}

// The first path of the machine with this token, or null.
static BindingPath* pathWithToken(const std::wstring& token) {
  for (std::vector<Component>& components : session().machine.classes)
    for (Component& component : components)
      for (BindingPath& path : component.paths)
        if (path.token == token) return &path;
  return NULL;
}

// Sets the paths linked to a path just changed, as Windows does beside a
// change (not further: what a link sets triggers no other link).
static void followLinks(const BindingPath& changed) {
  for (const Link& link : session().machine.links) {
    if (link.trigger != changed.token || link.when != changed.current) continue;
    BindingPath* target = pathWithToken(link.target);
    if (target == NULL) continue;
    target->current = link.then;
    session().changed.push_back(target);
  }
}

// Reference counting shared by every object: the session counts references per
// interface, so that a test sees what the program failed to release.
template <class Interface>
class Counted : public Interface {
 public:
  explicit Counted(const char* name) : name_(name) { AddRef(); }
  virtual ~Counted() {}

  ULONG STDMETHODCALLTYPE AddRef() override {
    session().references[name_]++;
    return ++references_;
  }

  ULONG STDMETHODCALLTYPE Release() override {
    std::string t = target();
    record(std::string(name_) + (t.empty() ? "" : "[" + t + "]") + ".Release() = " + std::to_string(references_ - 1));
    return drop();
  }

  // Release for the stand-in's own references (a tear-off's hold on its
  // parent), which are no call of the program's and stay out of the journal.
  ULONG drop() {
    session().references[name_]--;
    ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }

 protected:
  virtual std::string target() { return std::string(); }

  HRESULT call(const char* method, const std::string& arguments, const std::function<HRESULT()>& body) {
    std::string name = std::string(name_) + "." + method;
    return perform(name.c_str(), target(), arguments, body);
  }

  HRESULT notImplemented(const char* method) {
    return call(method, "", [] { return E_NOTIMPL; });
  }

  // QueryInterface for an object that answers its own interface and IUnknown;
  // other is asked for everything else (null: nothing else).
  HRESULT answer(REFIID riid, void** object, const GUID& own, const std::function<HRESULT()>& other) {
    if (object == NULL) return E_POINTER;
    *object = NULL;
    return call("QueryInterface", guidText(&riid), [&]() -> HRESULT {
      if (riid == own || riid == IID_IUnknown) {
        AddRef();
        *object = static_cast<Interface*>(this);
        return S_OK;
      }
      return other ? other() : E_NOINTERFACE;
    });
  }

 private:
  const char* name_;
  ULONG references_ = 0;
};

class LockObject : public Counted<INetCfgLock> {
 public:
  explicit LockObject(Counted<INetCfg>* parent) : Counted("INetCfgLock"), parent_(parent) { parent_->AddRef(); }
  ~LockObject() { parent_->drop(); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    return answer(riid, object, IID_INetCfgLock, [&] { return parent_->QueryInterface(riid, object); });
  }

  HRESULT STDMETHODCALLTYPE AcquireWriteLock(DWORD timeout, LPCWSTR description, LPWSTR* holder) override {
    if (holder != NULL) *holder = NULL;
    std::string arguments = std::to_string(timeout) + ", " + quote(description) + ", " + pointer(holder);
    return call("AcquireWriteLock", arguments, [&]() -> HRESULT {
      Session& s = session();
      if (s.initialised) return NETCFG_E_ALREADY_INITIALIZED;
      if (!s.machine.lockHolder.empty() || !lockMachineFile(timeout)) {
        // The time-out passes while the other program keeps the lock.
        if (holder != NULL) handOut(s.machine.lockHolder, holder);
        return S_FALSE;
      }
      s.writeLocked = true;
      s.releaseAsked = false;
      return S_OK;
    });
  }

  HRESULT STDMETHODCALLTYPE ReleaseWriteLock() override {
    session().releaseAsked = true;
    return call("ReleaseWriteLock", "", []() -> HRESULT {
      Session& s = session();
      if (s.initialised && !s.uninitialiseAsked) violation("write lock released before Uninitialize");
      if (!s.writeLocked) return S_FALSE;
      s.writeLocked = false;
      unlockMachineFile();
      return S_OK;
    });
  }

  HRESULT STDMETHODCALLTYPE IsWriteLocked(LPWSTR* holder) override {
    if (holder != NULL) *holder = NULL;
    return notImplemented("IsWriteLocked");
  }

 private:
  Counted<INetCfg>* parent_;
};

class PathObject : public Counted<INetCfgBindingPath> {
 public:
  PathObject(int c, size_t k, size_t p) : Counted("INetCfgBindingPath"), c_(c), k_(k), p_(p) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    return answer(riid, object, IID_INetCfgBindingPath, nullptr);
  }

  HRESULT STDMETHODCALLTYPE IsEnabled() override {
    return call("IsEnabled", "", [&] { return pathAt(c_, k_, p_).current ? S_OK : S_FALSE; });
  }

  HRESULT STDMETHODCALLTYPE Enable(WINBOOL enable) override {
    return call("Enable", std::to_string(enable), [&]() -> HRESULT {
      if (!session().writeLocked) return NETCFG_E_NO_WRITE_LOCK;
      BindingPath& path = pathAt(c_, k_, p_);
      bool changed = path.current != (enable != 0);
      path.current = enable != 0;
      session().changed.push_back(&path);
      if (changed) followLinks(path);
      return S_OK;
    });
  }

  HRESULT STDMETHODCALLTYPE GetPathToken(LPWSTR* token) override {
    if (token == NULL) return E_POINTER;
    *token = NULL;
    return call("GetPathToken", "", [&] { return handOut(pathAt(c_, k_, p_).token, token); });
  }

  HRESULT STDMETHODCALLTYPE IsSamePathAs(INetCfgBindingPath*) override { return notImplemented("IsSamePathAs"); }
  HRESULT STDMETHODCALLTYPE IsSubPathOf(INetCfgBindingPath*) override { return notImplemented("IsSubPathOf"); }
  HRESULT STDMETHODCALLTYPE GetOwner(INetCfgComponent** owner) override {
    if (owner != NULL) *owner = NULL;
    return notImplemented("GetOwner");
  }
  HRESULT STDMETHODCALLTYPE GetDepth(ULONG*) override { return notImplemented("GetDepth"); }
  HRESULT STDMETHODCALLTYPE EnumBindingInterfaces(IEnumNetCfgBindingInterface** e) override {
    if (e != NULL) *e = NULL;
    return notImplemented("EnumBindingInterfaces");
  }

 protected:
  std::string target() override { return toUtf8(pathAt(c_, k_, p_).token); }

 private:
  int c_;
  size_t k_, p_;
};

// The enumerators hand out one new object per item, in the machine's order.
template <class Enum, class Item>
class Enumerator : public Counted<Enum> {
 public:
  Enumerator(const char* name, const GUID& iid, size_t count, std::string target)
      : Counted<Enum>(name), iid_(iid), count_(count), target_(target) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    return this->answer(riid, object, iid_, nullptr);
  }

  HRESULT STDMETHODCALLTYPE Next(ULONG celt, Item** items, ULONG* fetched) override {
    if (items == NULL || (fetched == NULL && celt != 1)) return E_POINTER;
    for (ULONG i = 0; i < celt; i++) items[i] = NULL;
    if (fetched != NULL) *fetched = 0;
    return this->call("Next", std::to_string(celt) + ", " + pointer(fetched), [&]() -> HRESULT {
      ULONG n = 0;
      while (n < celt && position_ < count_) items[n++] = make(position_++);
      if (fetched != NULL) *fetched = n;
      return n == celt ? S_OK : S_FALSE;
    });
  }

  HRESULT STDMETHODCALLTYPE Skip(ULONG) override { return this->notImplemented("Skip"); }

  HRESULT STDMETHODCALLTYPE Reset() override {
    return this->call("Reset", "", [&] {
      position_ = 0;
      return S_OK;
    });
  }

  HRESULT STDMETHODCALLTYPE Clone(Enum** copy) override {
    if (copy != NULL) *copy = NULL;
    return this->notImplemented("Clone");
  }

 protected:
  virtual Item* make(size_t index) = 0;
  std::string target() override { return target_; }

 private:
  const GUID& iid_;
  size_t count_;
  size_t position_ = 0;
  std::string target_;
};

class PathEnumerator : public Enumerator<IEnumNetCfgBindingPath, INetCfgBindingPath> {
 public:
  PathEnumerator(int c, size_t k)
      : Enumerator("IEnumNetCfgBindingPath", IID_IEnumNetCfgBindingPath, session().machine.classes[c][k].paths.size(),
                   toUtf8(session().machine.classes[c][k].bindName)),
        c_(c),
        k_(k) {}

 protected:
  INetCfgBindingPath* make(size_t index) override { return new PathObject(c_, k_, index); }

 private:
  int c_;
  size_t k_;
};

class BindingsObject : public Counted<INetCfgComponentBindings> {
 public:
  BindingsObject(Counted<INetCfgComponent>* parent, int c, size_t k)
      : Counted("INetCfgComponentBindings"), parent_(parent), c_(c), k_(k) {
    parent_->AddRef();
  }
  ~BindingsObject() { parent_->drop(); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    return answer(riid, object, IID_INetCfgComponentBindings, [&] { return parent_->QueryInterface(riid, object); });
  }

  HRESULT STDMETHODCALLTYPE EnumBindingPaths(DWORD flags, IEnumNetCfgBindingPath** paths) override {
    if (paths == NULL) return E_POINTER;
    *paths = NULL;
    return call("EnumBindingPaths", std::to_string(flags), [&]() -> HRESULT {
      if (!session().initialised) return NETCFG_E_NOT_INITIALIZED;
      // The machine holds the paths above each component; paths below are not modelled.
      if (flags != EBP_ABOVE) return E_INVALIDARG;
      *paths = new PathEnumerator(c_, k_);
      return S_OK;
    });
  }

  HRESULT STDMETHODCALLTYPE BindTo(INetCfgComponent*) override { return notImplemented("BindTo"); }
  HRESULT STDMETHODCALLTYPE UnbindFrom(INetCfgComponent*) override { return notImplemented("UnbindFrom"); }
  HRESULT STDMETHODCALLTYPE SupportsBindingInterface(DWORD, LPCWSTR) override {
    return notImplemented("SupportsBindingInterface");
  }
  HRESULT STDMETHODCALLTYPE IsBoundTo(INetCfgComponent*) override { return notImplemented("IsBoundTo"); }
  HRESULT STDMETHODCALLTYPE IsBindableTo(INetCfgComponent*) override { return notImplemented("IsBindableTo"); }
  HRESULT STDMETHODCALLTYPE MoveBefore(INetCfgBindingPath*, INetCfgBindingPath*) override {
    return notImplemented("MoveBefore");
  }
  HRESULT STDMETHODCALLTYPE MoveAfter(INetCfgBindingPath*, INetCfgBindingPath*) override {
    return notImplemented("MoveAfter");
  }

 protected:
  std::string target() override { return toUtf8(session().machine.classes[c_][k_].bindName); }

 private:
  Counted<INetCfgComponent>* parent_;
  int c_;
  size_t k_;
};

class ComponentObject : public Counted<INetCfgComponent> {
 public:
  ComponentObject(int c, size_t k) : Counted("INetCfgComponent"), c_(c), k_(k) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    return answer(riid, object, IID_INetCfgComponent, [&]() -> HRESULT {
      if (riid != IID_INetCfgComponentBindings) return E_NOINTERFACE;
      *object = static_cast<INetCfgComponentBindings*>(new BindingsObject(this, c_, k_));
      return S_OK;
    });
  }

  HRESULT STDMETHODCALLTYPE GetDisplayName(LPWSTR* name) override {
    if (name == NULL) return E_POINTER;
    *name = NULL;
    return call("GetDisplayName", "", [&] { return handOut(component().displayName, name); });
  }

  HRESULT STDMETHODCALLTYPE GetBindName(LPWSTR* name) override {
    if (name == NULL) return E_POINTER;
    *name = NULL;
    return call("GetBindName", "", [&] { return handOut(component().bindName, name); });
  }

  HRESULT STDMETHODCALLTYPE SetDisplayName(LPCWSTR) override { return notImplemented("SetDisplayName"); }
  HRESULT STDMETHODCALLTYPE GetHelpText(LPWSTR* text) override { return nothing("GetHelpText", text); }
  HRESULT STDMETHODCALLTYPE GetId(LPWSTR* id) override { return nothing("GetId", id); }
  HRESULT STDMETHODCALLTYPE GetCharacteristics(LPDWORD) override { return notImplemented("GetCharacteristics"); }
  HRESULT STDMETHODCALLTYPE GetInstanceGuid(GUID*) override { return notImplemented("GetInstanceGuid"); }
  HRESULT STDMETHODCALLTYPE GetPnpDevNodeId(LPWSTR* id) override { return nothing("GetPnpDevNodeId", id); }
  HRESULT STDMETHODCALLTYPE GetClassGuid(GUID*) override { return notImplemented("GetClassGuid"); }
  HRESULT STDMETHODCALLTYPE GetDeviceStatus(ULONG*) override { return notImplemented("GetDeviceStatus"); }
  HRESULT STDMETHODCALLTYPE OpenParamKey(HKEY*) override { return notImplemented("OpenParamKey"); }
  HRESULT STDMETHODCALLTYPE RaisePropertyUi(HWND, DWORD, IUnknown*) override {
    return notImplemented("RaisePropertyUi");
  }

 protected:
  std::string target() override { return toUtf8(component().bindName); }

 private:
  Component& component() { return session().machine.classes[c_][k_]; }

  HRESULT nothing(const char* method, LPWSTR* out) {
    if (out != NULL) *out = NULL;
    return notImplemented(method);
  }

  int c_;
  size_t k_;
};

class ComponentEnumerator : public Enumerator<IEnumNetCfgComponent, INetCfgComponent> {
 public:
  explicit ComponentEnumerator(int c)
      : Enumerator("IEnumNetCfgComponent", IID_IEnumNetCfgComponent, session().machine.classes[c].size(),
                   classKeywords[c]),
        c_(c) {}

 protected:
  INetCfgComponent* make(size_t index) override { return new ComponentObject(c_, index); }

 private:
  int c_;
};

class ClassObject : public Counted<INetCfgClass> {
 public:
  explicit ClassObject(int c) : Counted("INetCfgClass"), c_(c) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    return answer(riid, object, IID_INetCfgClass, nullptr);
  }

  HRESULT STDMETHODCALLTYPE EnumComponents(IEnumNetCfgComponent** components) override {
    if (components == NULL) return E_POINTER;
    *components = NULL;
    return call("EnumComponents", "", [&]() -> HRESULT {
      if (!session().initialised) return NETCFG_E_NOT_INITIALIZED;
      *components = new ComponentEnumerator(c_);
      return S_OK;
    });
  }

  HRESULT STDMETHODCALLTYPE FindComponent(LPCWSTR, INetCfgComponent** item) override {
    if (item != NULL) *item = NULL;
    return notImplemented("FindComponent");
  }

 protected:
  std::string target() override { return classKeywords[c_]; }

 private:
  int c_;
};

static const GUID* const classGuids[CLASS_COUNT] = {
    &GUID_DEVCLASS_NET,
    &GUID_DEVCLASS_NETCLIENT,
    &GUID_DEVCLASS_NETTRANS,
    &GUID_DEVCLASS_NETSERVICE,
};

// Starts a session from the applied states.
static void openStates() {
  for (std::vector<Component>& components : session().machine.classes)
    for (Component& component : components)
      for (BindingPath& path : component.paths) path.current = path.enabled;
  session().changed.clear();
}

// Applies the paths changed since the last Apply (apply false: drops them).
// Only those are touched, so that applying each component of a large machine
// in turn costs no more per path than applying one.
static void settleChanges(bool apply) {
  for (BindingPath* path : session().changed) {
    if (apply) path->enabled = path->current;
    else path->current = path->enabled;
  }
  session().changed.clear();
}

class NetCfgObject : public Counted<INetCfg> {
 public:
  NetCfgObject() : Counted("INetCfg") {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    return answer(riid, object, IID_INetCfg, [&]() -> HRESULT {
      if (riid != IID_INetCfgLock) return E_NOINTERFACE;
      *object = static_cast<INetCfgLock*>(new LockObject(this));
      return S_OK;
    });
  }

  HRESULT STDMETHODCALLTYPE Initialize(PVOID reserved) override {
    return call("Initialize", pointer(reserved), []() -> HRESULT {
      Session& s = session();
      if (s.initialised) return NETCFG_E_ALREADY_INITIALIZED;
      s.initialised = true;
      s.uninitialiseAsked = false;
      if (s.writeLocked) reloadStates();
      openStates();
      return S_OK;
    });
  }

  HRESULT STDMETHODCALLTYPE Uninitialize() override {
    session().uninitialiseAsked = true;
    return call("Uninitialize", "", []() -> HRESULT {
      Session& s = session();
      if (!s.initialised) return NETCFG_E_NOT_INITIALIZED;
      s.initialised = false;
      settleChanges(false);  // what was not applied is dropped
      return S_OK;
    });
  }

  // A scripted success code such as NETCFG_S_REBOOT still applies, as on Windows.
  HRESULT STDMETHODCALLTYPE Apply() override {
    HRESULT hr = call("Apply", "", [] { return apply(); });
    if (hr != S_OK && SUCCEEDED(hr)) apply();  // only a scripted result is a success code other than S_OK
    return hr;
  }

  HRESULT STDMETHODCALLTYPE Cancel() override {
    return call("Cancel", "", [] {
      settleChanges(false);
      return S_OK;
    });
  }

  HRESULT STDMETHODCALLTYPE EnumComponents(const GUID*, IEnumNetCfgComponent** components) override {
    if (components != NULL) *components = NULL;
    return notImplemented("EnumComponents");
  }

  HRESULT STDMETHODCALLTYPE FindComponent(LPCWSTR, INetCfgComponent** component) override {
    if (component != NULL) *component = NULL;
    return notImplemented("FindComponent");
  }

  HRESULT STDMETHODCALLTYPE QueryNetCfgClass(const GUID* classGuid, REFIID riid, void** object) override {
    if (object == NULL) return E_POINTER;
    *object = NULL;
    return call("QueryNetCfgClass", guidText(classGuid) + ", " + guidText(&riid), [&]() -> HRESULT {
      if (!session().initialised) return NETCFG_E_NOT_INITIALIZED;
      if (riid != IID_INetCfgClass) return E_NOINTERFACE;
      for (int c = 0; c < CLASS_COUNT; c++) {
        if (classGuid != NULL && *classGuid == *classGuids[c]) {
          *object = static_cast<INetCfgClass*>(new ClassObject(c));
          return S_OK;
        }
      }
      return E_INVALIDARG;
    });
  }

  static HRESULT apply() {
    Session& s = session();
    if (!s.initialised) return NETCFG_E_NOT_INITIALIZED;
    if (!s.writeLocked) return NETCFG_E_NO_WRITE_LOCK;
    settleChanges(true);
    return saveMachine() ? S_OK : E_FAIL;
  }
};

HRESULT createNetCfg(REFIID riid, void** object) {
  *object = NULL;
  if (riid != IID_INetCfg && riid != IID_IUnknown) return E_NOINTERFACE;
  *object = static_cast<INetCfg*>(new NetCfgObject());
  return S_OK;
}

}  // namespace standin
