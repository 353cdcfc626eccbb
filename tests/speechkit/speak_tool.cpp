// Test-only: speaks its arguments through the registered synthesiser, as the
// listening window does: each with StartPlayback (returning at once), the
// last with the synchronous form; then releases the synthesiser.
//   speechkit_speak TEXT... ; exit 0 when every call succeeded
#include "platform/com.h"

#include <cstdio>
#include <string>

namespace {

HRESULT play(IDispatch* synthesiser, const std::string& text, bool synchronous) {
    const std::u16string wide(text.begin(), text.end()); // the tests speak ASCII
    VARIANT args[8];
    for (VARIANT& a : args) {
        VariantInit(&a);
        a.vt = VT_I4;
        a.lVal = 0;
    }
    // Reversed: args[7] is the text, args[0] the style.
    args[7].vt = VT_BSTR;
    args[7].bstrVal = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    args[5].lVal = 3;  // CPOText
    args[4].lVal = -1; // CAFDefault
    args[2].lVal = 4;  // CPRMultiMedia
    args[1].lVal = -1; // CAFDefault
    args[0].lVal = 1;  // CPSSynchronous
    DISPPARAMS params = {synchronous ? args : args + 7, nullptr, synchronous ? 8u : 1u, 0};
    const HRESULT hr =
        synthesiser->Invoke(29, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
    SysFreeString(args[7].bstrVal);
    return hr;
}

} // namespace

int main(int argc, char** argv) {
    CoInitialize(nullptr);
    CLSID clsid;
    IDispatch* synthesiser = nullptr;
    if (FAILED(CLSIDFromProgID(u"XSpeechKit.XKitTTS.6", &clsid)) ||
        FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                reinterpret_cast<void**>(&synthesiser)))) {
        std::fprintf(stderr, "no synthesiser\n");
        return 2;
    }
    int failed = 0;
    for (int i = 1; i < argc; ++i)
        if (FAILED(play(synthesiser, argv[i], i == argc - 1))) ++failed;
    synthesiser->Release();
    CoUninitialize();
    return failed == 0 ? 0 : 1;
}
