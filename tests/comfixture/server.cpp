// A tiny in-process COM server for the tests of libverdelcom and
// verdel-regsvr, built as a real component is: DllGetClassObject,
// DllCanUnloadNow, DllRegisterServer and DllUnregisterServer.
//   VerdelFixture.Works.1: an IDispatch object; DISPID 1 (a method) adds its
//     two arguments as VT_I4, its value (DISPID_VALUE) is the BSTR "fixture".
//   VerdelFixture.Fails.1: its factory refuses to make objects (E_OUTOFMEMORY).
// Any other class id: CLASS_E_CLASSNOTAVAILABLE.
#include "../../platform/com.h"
#include "fixtureids.h"

#include <atomic>

namespace {

std::atomic<int> liveObjects{0}; // objects and factories not yet released

class Works final : public IDispatch {
  public:
    Works() { ++liveObjects; }
    ~Works() { --liveObjects; }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IDispatch) {
            *ppv = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --refs;
        if (left == 0) delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (count) *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID riid, LCID, WORD flags,
                                     DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                                     UINT*) override {
        if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
        if (member == 1 && (flags & DISPATCH_METHOD)) {
            if (!params || params->cArgs != 2) return DISP_E_BADPARAMCOUNT;
            VARIANT a, b;
            VariantInit(&a);
            VariantInit(&b);
            if (FAILED(VariantChangeType(&a, &params->rgvarg[1], 0, VT_I4)) ||
                FAILED(VariantChangeType(&b, &params->rgvarg[0], 0, VT_I4)))
                return DISP_E_TYPEMISMATCH;
            if (result) {
                VariantInit(result);
                result->vt = VT_I4;
                result->lVal = a.lVal + b.lVal;
            }
            return S_OK;
        }
        if (member == DISPID_VALUE && (flags & DISPATCH_PROPERTYGET)) {
            if (result) {
                VariantInit(result);
                result->vt = VT_BSTR;
                result->bstrVal = SysAllocString(u"fixture");
            }
            return S_OK;
        }
        return DISP_E_MEMBERNOTFOUND;
    }

  private:
    std::atomic<ULONG> refs{1};
};

class Factory final : public IClassFactory {
  public:
    explicit Factory(bool works) : works_(works) { ++liveObjects; }
    ~Factory() { --liveObjects; }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IClassFactory) {
            *ppv = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --refs;
        if (left == 0) delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        if (!works_) return E_OUTOFMEMORY;
        Works* object = new Works;
        const HRESULT hr = object->QueryInterface(riid, ppv);
        object->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

  private:
    bool works_;
    std::atomic<ULONG> refs{1};
};

const char anchor = 0; // an address inside this library

} // namespace

extern "C" __attribute__((visibility("default"))) int vcomFixtureLiveObjects() {
    return liveObjects;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (clsid != CLSID_FixtureWorks && clsid != CLSID_FixtureFails)
        return CLASS_E_CLASSNOTAVAILABLE;
    Factory* factory = new Factory(clsid == CLSID_FixtureWorks);
    const HRESULT hr = factory->QueryInterface(riid, ppv);
    factory->Release();
    return hr;
}

STDAPI DllCanUnloadNow() {
    return liveObjects == 0 ? S_OK : S_FALSE;
}

STDAPI DllRegisterServer() {
    char path[4096];
    HRESULT hr = VcomLibraryPath(&anchor, path, sizeof path);
    if (FAILED(hr)) return SELFREG_E_CLASS;
    hr = VcomRegisterClass(u"VerdelFixture.Works.1", CLSID_FixtureWorks, path);
    if (SUCCEEDED(hr)) hr = VcomRegisterClass(u"VerdelFixture.Fails.1", CLSID_FixtureFails, path);
    return hr;
}

STDAPI DllUnregisterServer() {
    const HRESULT works = VcomUnregisterClass(CLSID_FixtureWorks);
    const HRESULT fails = VcomUnregisterClass(CLSID_FixtureFails);
    return FAILED(works) ? works : FAILED(fails) ? fails : S_OK;
}
