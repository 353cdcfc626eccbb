// The library's entry points: class objects, unloading and registration.
#include "objects.h"
#include "registration.h"

namespace speechkit {

const ClassEntry kClasses[2] = {
    {&CLSID_XKitSR, kProgIdSR, kClassNameSR},
    {&CLSID_XKitTTS, kProgIdTTS, kClassNameTTS},
};

namespace {

// One class factory per class; static, so it counts as a server lock only
// while a client holds it.
class Factory final : public IClassFactory {
  public:
    explicit Factory(IDispatch* (*create)()) : create_(create) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IClassFactory))
            return E_NOINTERFACE;
        *out = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override {
        moduleLock();
        return 2;
    }
    ULONG STDMETHODCALLTYPE Release() override {
        moduleUnlock();
        return 1;
    }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        IDispatch* object = create_();
        if (!object) return E_OUTOFMEMORY;
        const HRESULT hr = object->QueryInterface(iid, out);
        object->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (lock)
            moduleLock();
        else
            moduleUnlock();
        return S_OK;
    }

  private:
    IDispatch* (*create_)();
};

Factory g_recogniserFactory(&createRecogniser);
Factory g_synthesiserFactory(&createSynthesiser);

} // namespace
} // namespace speechkit

using namespace speechkit;

extern "C" {

SPEECHKIT_EXPORT HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (IsEqualCLSID(clsid, CLSID_XKitSR)) return g_recogniserFactory.QueryInterface(iid, out);
    if (IsEqualCLSID(clsid, CLSID_XKitTTS)) return g_synthesiserFactory.QueryInterface(iid, out);
    return CLASS_E_CLASSNOTAVAILABLE;
}

SPEECHKIT_EXPORT HRESULT STDAPICALLTYPE DllCanUnloadNow() {
    return moduleLockCount() == 0 ? S_OK : S_FALSE;
}

SPEECHKIT_EXPORT HRESULT STDAPICALLTYPE DllRegisterServer() {
    return registerClasses();
}

SPEECHKIT_EXPORT HRESULT STDAPICALLTYPE DllUnregisterServer() {
    return unregisterClasses();
}

} // extern "C"
