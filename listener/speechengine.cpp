#include "speechengine.h"

#include "../common/codepage.h"
#include "exchangeagent.h"

#include <cstring>
#include <new>

namespace listener {

const char* const kRecogniserProgId = "XSpeechKit.XKitSR.6";
const char* const kSynthesiserProgId = "XSpeechKit.XKitTTS.6";

// {6F1C2B4E-93A7-4E0B-9D52-7A4C1E8B3D90}
const IID IID_IXKitSREvents = {
    0x6F1C2B4E, 0x93A7, 0x4E0B, {0x9D, 0x52, 0x7A, 0x4C, 0x1E, 0x8B, 0x3D, 0x90}};

IDispatch* recogniser = nullptr;
IDispatch* synthesiser = nullptr;
VARIANT dictationVocabId = {};
std::vector<std::string> engineNames;
DWORD eventCookie = 0;

namespace {

bool sameIid(REFIID a, const IID& b) {
    return std::memcmp(&a, &b, sizeof(IID)) == 0;
}

// One argument of a call. Strings are ours to free after the call; the
// vocabulary id is the component's own VARIANT, passed as it stands.
struct Arg {
    VARIANT value;
    bool owned;
};

Arg number(long n) {
    Arg a{};
    VariantInit(&a.value);
    a.value.vt = VT_I4;
    a.value.lVal = n;
    a.owned = false;
    return a;
}

Arg text(const std::string& cp1252) {
    Arg a{};
    VariantInit(&a.value);
    const std::basic_string<OLECHAR> wide = common::utf16FromCp1252<OLECHAR>(cp1252);
    a.value.vt = VT_BSTR;
    a.value.bstrVal = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    a.owned = true;
    return a;
}

Arg given(const VARIANT& v) {
    Arg a{};
    a.value = v;
    a.owned = false;
    return a;
}

// Calls a member by DISPID with the arguments in their natural order (the
// last one goes first in the array, as IDispatch wants them). The result,
// when asked for, is the caller's to clear.
HRESULT call(IDispatch* object, DISPID member, WORD kind, std::vector<Arg> args,
             VARIANT* result = nullptr) {
    HRESULT hr = E_POINTER;
    if (object != nullptr) {
        std::vector<VARIANT> reversed;
        for (auto it = args.rbegin(); it != args.rend(); ++it)
            reversed.push_back(it->value);
        DISPPARAMS params{};
        params.rgvarg = reversed.empty() ? nullptr : reversed.data();
        params.cArgs = static_cast<UINT>(reversed.size());
        VARIANT ignored;
        VariantInit(&ignored);
        hr = object->Invoke(member, IID_NULL, LOCALE_USER_DEFAULT, kind, &params,
                            result != nullptr ? result : &ignored, nullptr, nullptr);
        VariantClear(&ignored);
        if (FAILED(hr) && result != nullptr) VariantClear(result);
    }
    for (Arg& a : args)
        if (a.owned) VariantClear(&a.value);
    return hr;
}

HRESULT method(IDispatch* object, DISPID member, std::vector<Arg> args, VARIANT* result = nullptr) {
    return call(object, member, DISPATCH_METHOD, std::move(args), result);
}

// Results: a number converted to a 32-bit integer whatever numeric type it
// came as, a string, or an object; what was not obtained reads as 0, empty
// or null.
long numberOf(VARIANT& v) {
    VARIANT n;
    VariantInit(&n);
    long out = 0;
    if (SUCCEEDED(VariantChangeType(&n, &v, 0, VT_I4))) out = n.lVal;
    VariantClear(&n);
    VariantClear(&v);
    return out;
}

std::string textOf(VARIANT& v) {
    VARIANT s;
    VariantInit(&s);
    std::string out;
    if (SUCCEEDED(VariantChangeType(&s, &v, 0, VT_BSTR)) && s.bstrVal != nullptr)
        out = common::cp1252FromUtf16(s.bstrVal, SysStringLen(s.bstrVal));
    VariantClear(&s);
    VariantClear(&v);
    return out;
}

IDispatch* objectOf(VARIANT& v) {
    IDispatch* out = nullptr;
    if (v.vt == VT_DISPATCH && v.pdispVal != nullptr) {
        out = v.pdispVal;
        out->AddRef();
    } else if (v.vt == VT_UNKNOWN && v.punkVal != nullptr) {
        if (FAILED(v.punkVal->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&out))))
            out = nullptr;
    }
    VariantClear(&v);
    return out;
}

long countMethod(IDispatch* object, DISPID member, std::vector<Arg> args) {
    VARIANT r;
    VariantInit(&r);
    method(object, member, std::move(args), &r);
    return numberOf(r);
}

IDispatch* objectMethod(IDispatch* object, DISPID member, std::vector<Arg> args) {
    VARIANT r;
    VariantInit(&r);
    method(object, member, std::move(args), &r);
    return objectOf(r);
}

VARIANT property(IDispatch* object, DISPID member) {
    VARIANT r;
    VariantInit(&r);
    call(object, member, DISPATCH_PROPERTYGET, {}, &r);
    return r;
}

// Steps 1-3 of connecting and disconnecting: the recogniser's connection
// point for its events.
HRESULT eventConnectionPoint(IDispatch* object, IConnectionPoint** point) {
    *point = nullptr;
    if (object == nullptr) return E_POINTER;
    IConnectionPointContainer* container = nullptr;
    HRESULT hr =
        object->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container));
    if (FAILED(hr) || container == nullptr) return FAILED(hr) ? hr : E_NOINTERFACE;
    hr = container->FindConnectionPoint(IID_IXKitSREvents, point);
    container->Release();
    if (SUCCEEDED(hr) && *point == nullptr) hr = E_POINTER;
    return hr;
}

} // namespace

IDispatch* CreateSpeechObject(const char* progId) {
    const std::basic_string<OLECHAR> wide = common::utf16FromCp1252<OLECHAR>(progId);
    CLSID clsid;
    if (FAILED(CLSIDFromProgID(wide.c_str(), &clsid))) return nullptr;
    IDispatch* object = nullptr;
    if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                                IID_IDispatch, reinterpret_cast<void**>(&object))))
        return nullptr;
    return object;
}

void ListEngines() {
    engineNames.clear();
    long count = countMethod(synthesiser, ttsid::GetResourceCount, {number(CSREngine), number(0)});
    if (count <= 0) return;
    if (count > kEngineListLimit) count = kEngineListLimit;
    engineNames.assign(static_cast<std::size_t>(count), std::string());
    for (long i = 0; i < count; ++i) {
        IDispatch* engine =
            objectMethod(synthesiser, ttsid::GetResource, {number(CSREngine), number(i)});
        if (engine == nullptr) continue;
        VARIANT name = property(engine, engineid::Engine);
        engineNames[static_cast<std::size_t>(i)] = textOf(name);
        engine->Release();
    }
}

void PrepareRecognition() {
    VariantClear(&dictationVocabId);
    method(recogniser, srid::DefineResource, {number(CSRDictationVocab), text("text")},
           &dictationVocabId);
    method(recogniser, srid::RegisterCallback, {number(CCSRHasText)});
}

std::string CurrentEngineName() {
    VARIANT r;
    VariantInit(&r);
    method(synthesiser, ttsid::GetStringProperty, {number(CSPEngine)}, &r);
    return textOf(r);
}

HRESULT ConnectEventSink(IDispatch* object, DWORD& cookie) {
    IConnectionPoint* point = nullptr;
    HRESULT hr = eventConnectionPoint(object, &point);
    if (FAILED(hr)) return hr;
    SpeechEventSink* sink = SpeechEventSink::Create();
    if (sink != nullptr) {
        // Held across Advise, so a sink that the connection point did not
        // take is freed here instead of leaking.
        sink->AddRef();
        DWORD made = 0;
        hr = point->Advise(sink, &made);
        if (SUCCEEDED(hr)) cookie = made;
        sink->Release();
    } else {
        hr = E_OUTOFMEMORY;
    }
    point->Release();
    return hr;
}

HRESULT DisconnectEventSink(IDispatch* object, DWORD cookie) {
    IConnectionPoint* point = nullptr;
    HRESULT hr = eventConnectionPoint(object, &point);
    if (FAILED(hr)) return hr;
    hr = point->Unadvise(cookie);
    point->Release();
    return hr;
}

void StartListening() {
    method(recogniser, srid::EnableResource, {number(CSRDictationVocab), given(dictationVocabId)});
}

void StopListening() {
    method(recogniser, srid::DisableResource, {number(CSRDictationVocab), given(dictationVocabId)});
}

void ChooseEngine(const std::string& name) {
    method(synthesiser, ttsid::SetStringProperty, {number(CSPEngine), text(name)});
}

void Speak(const std::string& spoken) {
    method(synthesiser, ttsid::StartPlayback, {text(spoken)});
}

void SpeakSynchronously(const std::string& spoken) {
    method(synthesiser, ttsid::StartPlayback,
           {text(spoken), number(0), number(CPOText), number(CAFDefault), number(0),
            number(CPRMultiMedia), number(CAFDefault), number(CPSSynchronous)});
}

void ReleaseSynthesiser() {
    if (synthesiser != nullptr) synthesiser->Release();
    synthesiser = nullptr;
}

HRESULT HandleHasEvent() {
    // Read once: events queued while this runs wait for the next HasEvent.
    const long queued =
        countMethod(recogniser, srid::GetResourceCount, {number(CSREvent), number(0)});
    for (long i = 0; i < queued; ++i) {
        IDispatch* event =
            objectMethod(recogniser, srid::GetResource, {number(CSREvent), number(0)});
        if (event != nullptr) {
            VARIANT kind = property(event, eventid::KitCallback);
            if (numberOf(kind) == CCSRHasText) {
                VARIANT phrase = property(event, eventid::Text);
                WriteHeardFile(textOf(phrase));
            }
            event->Release();
        }
        // A queue that does not move on would hand back the same event:
        // stop rather than publish it again.
        if (FAILED(method(recogniser, srid::RemoveResource, {number(CSREvent), number(0)}))) break;
    }
    return S_OK;
}

// ---- SpeechEventSink -------------------------------------------------------

int SpeechEventSink::instances = 0;

SpeechEventSink* SpeechEventSink::Create() {
    SpeechEventSink* sink = new (std::nothrow) SpeechEventSink();
    if (sink != nullptr) ++instances;
    return sink;
}

HRESULT STDMETHODCALLTYPE SpeechEventSink::QueryInterface(REFIID riid, void** object) {
    if (object == nullptr) return E_POINTER;
    if (sameIid(riid, IID_IUnknown) || sameIid(riid, IID_IDispatch) ||
        sameIid(riid, IID_IXKitSREvents)) {
        *object = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE SpeechEventSink::AddRef() {
    return ++references_;
}

ULONG STDMETHODCALLTYPE SpeechEventSink::Release() {
    if (references_ == 1) {
        --instances;
        delete this;
        return 0;
    }
    return --references_;
}

HRESULT STDMETHODCALLTYPE SpeechEventSink::GetTypeInfoCount(UINT* count) {
    if (count == nullptr) return E_POINTER;
    *count = 0;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SpeechEventSink::GetTypeInfo(UINT, LCID, ITypeInfo**) {
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE SpeechEventSink::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) {
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE SpeechEventSink::Invoke(DISPID member, REFIID, LCID, WORD,
                                                  DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) {
    if (params == nullptr) return S_OK;
    if (member == kHasEvent) return HandleHasEvent();
    return DISP_E_MEMBERNOTFOUND;
}

} // namespace listener
