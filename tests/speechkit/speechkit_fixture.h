#pragma once
// Calling the component as the listening window does, a stand-in for the
// window's event sink, and the fixture the component's tests share.
#include "harness.h"

#include "speechkit/component.h"
#include "tests/unit/testutil.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace skt {

using speechkit::utf8FromBstr;

// ---- calling helpers ------------------------------------------------------

inline VARIANT intArg(LONG v) {
    VARIANT a;
    VariantInit(&a);
    V_VT(&a) = VT_I4;
    V_I4(&a) = v;
    return a;
}

inline VARIANT textArg(const std::string& utf8) {
    VARIANT a;
    VariantInit(&a);
    V_VT(&a) = VT_BSTR;
    V_BSTR(&a) = speechkit::bstrFromUtf8(utf8);
    return a;
}

// Result of one Invoke; owns its VARIANT.
struct Call {
    HRESULT hr = E_FAIL;
    VARIANT result;
    Call() { VariantInit(&result); }
    ~Call() { VariantClear(&result); }
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;
    std::string text() const {
        return V_VT(&result) == VT_BSTR ? utf8FromBstr(V_BSTR(&result)) : "<not a string>";
    }
    LONG number() const { return V_VT(&result) == VT_I4 ? V_I4(&result) : -999; }
    // Takes the object out of the result.
    IDispatch* object() {
        if (V_VT(&result) != VT_DISPATCH) return nullptr;
        IDispatch* d = V_DISPATCH(&result);
        V_VT(&result) = VT_EMPTY;
        return d;
    }
};

// Invokes with the arguments in their declared order (reversed into rgvarg,
// as IDispatch wants them); the arguments are cleared afterwards.
inline void invoke(Call& call, IDispatch* target, DISPID id, WORD flags,
                   std::vector<VARIANT> args) {
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPPARAMS params = {reversed.empty() ? nullptr : reversed.data(), nullptr,
                         static_cast<UINT>(reversed.size()), 0};
    call.hr = target->Invoke(id, IID_NULL, 0, flags, &params, &call.result, nullptr, nullptr);
    for (VARIANT& a : reversed)
        VariantClear(&a);
}

inline HRESULT method(IDispatch* target, DISPID id, std::vector<VARIANT> args) {
    Call call;
    invoke(call, target, id, DISPATCH_METHOD, std::move(args));
    return call.hr;
}

inline std::string textOf(IDispatch* target, DISPID id, WORD flags,
                          std::vector<VARIANT> args = {}) {
    Call call;
    invoke(call, target, id, flags, std::move(args));
    return SUCCEEDED(call.hr) ? call.text() : "<failed>";
}

inline LONG numberOf(IDispatch* target, DISPID id, std::vector<VARIANT> args) {
    Call call;
    invoke(call, target, id, DISPATCH_METHOD, std::move(args));
    return SUCCEEDED(call.hr) ? call.number() : -1;
}

// The window's synchronous goodbye: text and the seven playback arguments.
inline std::vector<VARIANT> synchronousPlayback(const std::string& text) {
    return {textArg(text),
            intArg(0),
            intArg(speechkit::CPOText),
            intArg(speechkit::CAFDefault),
            intArg(0),
            intArg(speechkit::CPRMultiMedia),
            intArg(speechkit::CAFDefault),
            intArg(speechkit::CPSSynchronous)};
}

// ---- the window's event sink, as a test double ----------------------------

// Reads every queued event when HasEvent arrives, as the listening window
// does, and notes the thread it was called on.
class Sink final : public IDispatch {
  public:
    explicit Sink(IDispatch* recogniser) : recogniser_(recogniser) {}
    std::vector<std::string> texts;
    std::vector<LONG> kinds;
    std::vector<unsigned long> threads;
    int hasEventCalls = 0;
    ULONG refs = 0;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        *out = nullptr;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
            IsEqualIID(iid, speechkit::IID_IXKitSREvents)) {
            *out = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override {
        *n = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*,
                                     EXCEPINFO*, UINT*) override {
        if (!params) return S_OK;
        if (id != 1) return DISP_E_MEMBERNOTFOUND;
        ++hasEventCalls;
        threads.push_back(harness::currentThreadId());
        const LONG n = numberOf(recogniser_, 16, {intArg(speechkit::CSREvent), intArg(0)});
        for (LONG i = 0; i < n; ++i) {
            Call get;
            invoke(get, recogniser_, 15, DISPATCH_METHOD, {intArg(speechkit::CSREvent), intArg(0)});
            if (IDispatch* event = get.object()) {
                Call kind;
                invoke(kind, event, 5, DISPATCH_PROPERTYGET, {});
                kinds.push_back(kind.number());
                texts.push_back(textOf(event, 29, DISPATCH_PROPERTYGET));
                event->Release();
            }
            method(recogniser_, 28, {intArg(speechkit::CSREvent), intArg(0)});
        }
        return S_OK;
    }

  private:
    IDispatch* recogniser_;
};

// Connects a sink the way the window does; returns the cookie (0 on failure).
inline DWORD connect(IDispatch* recogniser, IUnknown* sink, HRESULT* result = nullptr) {
    IConnectionPointContainer* container = nullptr;
    HRESULT hr = recogniser->QueryInterface(IID_IConnectionPointContainer,
                                            reinterpret_cast<void**>(&container));
    DWORD cookie = 0;
    if (SUCCEEDED(hr)) {
        IConnectionPoint* point = nullptr;
        hr = container->FindConnectionPoint(speechkit::IID_IXKitSREvents, &point);
        container->Release();
        if (SUCCEEDED(hr)) {
            hr = point->Advise(sink, &cookie);
            point->Release();
        }
    }
    if (result) *result = hr;
    return cookie;
}

inline HRESULT disconnect(IDispatch* recogniser, DWORD cookie) {
    IConnectionPointContainer* container = nullptr;
    HRESULT hr = recogniser->QueryInterface(IID_IConnectionPointContainer,
                                            reinterpret_cast<void**>(&container));
    if (FAILED(hr)) return hr;
    IConnectionPoint* point = nullptr;
    hr = container->FindConnectionPoint(speechkit::IID_IXKitSREvents, &point);
    container->Release();
    if (FAILED(hr)) return hr;
    hr = point->Unadvise(cookie);
    point->Release();
    return hr;
}

// ---- fixture ----------------------------------------------------------------

class SpeechKitFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string why;
        ASSERT_TRUE(harness::setUp(why)) << why;
        dir = testutil::scratchDir("speechkit");
        platform::createDirectory(testutil::join(dir, "inbox"));
        harness::setEnvironment("XSPEECHKIT_SIMULATE", dir);
        harness::setEnvironment("VERDEL_HOME", dir);
    }
    void TearDown() override {
        if (recogniser) {
            if (cookie) disconnect(recogniser, cookie);
            recogniser->Release();
        }
        if (synthesiser) synthesiser->Release();
        harness::pumpFor(20); // notifications still queued hold the library
        harness::tearDown();
        EXPECT_EQ(harness::canUnloadNow(), S_OK) << "objects or locks left behind";
        harness::setEnvironment("XSPEECHKIT_SIMULATE", "");
    }

    IDispatch* makeSynthesiser() {
        synthesiser = harness::create(speechkit::kProgIdTTS, speechkit::CLSID_XKitTTS);
        return synthesiser;
    }

    // A recogniser prepared as the window prepares it, with a sink.
    void makeListeningRecogniser() {
        recogniser = harness::create(speechkit::kProgIdSR, speechkit::CLSID_XKitSR);
        ASSERT_NE(recogniser, nullptr);
        Call define;
        invoke(define, recogniser, 5, DISPATCH_METHOD,
               {intArg(speechkit::CSRDictationVocab), textArg("text")});
        ASSERT_EQ(define.hr, S_OK);
        ASSERT_EQ(VariantCopy(&vocabulary, &define.result), S_OK);
        ASSERT_EQ(method(recogniser, 27, {intArg(speechkit::CCSRHasText)}), S_OK);
        sink = std::make_unique<Sink>(recogniser);
        cookie = connect(recogniser, sink.get());
        ASSERT_NE(cookie, 0u);
    }

    HRESULT enable(bool on) {
        VARIANT id;
        VariantInit(&id);
        VariantCopy(&id, &vocabulary);
        return method(recogniser, on ? 9 : 6, {intArg(speechkit::CSRDictationVocab), id});
    }

    void drop(const std::string& name, const std::string& bytes) {
        // Written under a dot name and renamed, as a careful writer does.
        const std::string inbox = testutil::join(dir, "inbox");
        const std::string temp = testutil::join(inbox, "." + name);
        testutil::writeAll(temp, bytes);
        std::rename(temp.c_str(), testutil::join(inbox, name).c_str());
    }

    bool inInbox(const std::string& name) {
        return platform::fileExists(testutil::join(testutil::join(dir, "inbox"), name));
    }

    std::string spokenLog() { return testutil::readAll(testutil::join(dir, "spoken.log")); }

    std::string dir;
    IDispatch* synthesiser = nullptr;
    IDispatch* recogniser = nullptr;
    std::unique_ptr<Sink> sink;
    DWORD cookie = 0;
    VARIANT vocabulary = [] {
        VARIANT v;
        VariantInit(&v);
        return v;
    }();
};

} // namespace skt

using namespace skt;
