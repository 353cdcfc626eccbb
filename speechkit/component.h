// The speech component's shared declarations: class and interface ids, the
// vocabulary the listening window speaks, the module's lock count and the
// small helpers every object uses. Included by the objects of both targets.
#pragma once

#include "platform/com.h"
#if defined(_WIN32)
#include <olectl.h>
#endif

#include <atomic>
#include <cstdint>
#include <string>

// The library's entry points (Windows exports them through its .def file).
#if defined(_WIN32)
#define SPEECHKIT_EXPORT
#else
#define SPEECHKIT_EXPORT __attribute__((visibility("default")))
#endif

// Connection-point results, where the COM headers lack them.
#ifndef CONNECT_E_NOCONNECTION
#define CONNECT_E_NOCONNECTION static_cast<HRESULT>(0x80040200L)
#endif
#ifndef CONNECT_E_CANNOTCONNECT
#define CONNECT_E_CANNOTCONNECT static_cast<HRESULT>(0x80040202L)
#endif

namespace speechkit {

// Class ids (fixed; the ProgIDs below map to them).
// XSpeechKit.XKitSR.6  -> {CF3EBAC7-13B9-4AD1-9F02-0DF171DD0745}
// XSpeechKit.XKitTTS.6 -> {0569CB75-9711-40B5-91A7-1B247E7F7F2B}
extern const CLSID CLSID_XKitSR;
extern const CLSID CLSID_XKitTTS;
// Dispatch interface ids of the objects, and the recogniser's event interface.
extern const IID IID_IXKitSR;
extern const IID IID_IXKitTTS;
extern const IID IID_IXKitTTSEngine;
extern const IID IID_IXKitSREvent;
extern const IID IID_IXKitSREvents;

constexpr const char* kProgIdSR = "XSpeechKit.XKitSR.6";
constexpr const char* kProgIdTTS = "XSpeechKit.XKitTTS.6";
constexpr const char* kClassNameSR = "XSpeechKit speech recogniser";
constexpr const char* kClassNameTTS = "XSpeechKit text-to-speech";

// Constants of the members' arguments.
enum : LONG {
    CSPEngine = 5,
    CSRDictationVocab = 15,
    CSREngine = 18,
    CSREvent = 19,
    CCSRHasText = 38,
    CPOText = 3,
    CAFDefault = -1,
    CPRMultiMedia = 4,
    CPSSynchronous = 1,
};
// DISPID of the event the recogniser fires on its connected sinks.
constexpr DISPID kDispIdHasEvent = 1;

// Objects alive, server locks and notifications still queued for an
// apartment: DllCanUnloadNow answers S_OK only when all are zero.
void moduleLock();
void moduleUnlock();
long moduleLockCount();

// UTF-16 (BSTR, OLECHAR) <-> UTF-8. Unpaired surrogates become U+FFFD.
std::string utf8FromOle(const OLECHAR* text, std::size_t length);
std::string utf8FromBstr(BSTR text);
// Null only when out of memory.
BSTR bstrFromUtf8(const std::string& text);
// Bytes as they stand in a file: UTF-8 when they are valid UTF-8, otherwise
// each byte read as Windows-1252.
std::string utf8FromFileBytes(const std::string& bytes);

// {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
std::string guidText(const GUID& guid);

// The value of an environment variable as UTF-8; empty when unset.
std::string environmentUtf8(const char* name);

} // namespace speechkit
