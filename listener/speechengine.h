// The binding to the speech component: a recogniser and a synthesiser
// object driven through IDispatch by fixed DISPIDs, and the event sink that
// receives the recogniser's has-event notification. All of it runs on the
// window's one thread, a single-threaded COM apartment.
#pragma once

#include "../platform/com.h"

#include <string>
#include <vector>

namespace listener {

// ---- the component's constants -------------------------------------------
constexpr long CSPEngine = 5;          // string property: the synthesiser's engine
constexpr long CSRDictationVocab = 15; // resource: the dictation vocabulary
constexpr long CSREngine = 18;         // resource: a synthesiser engine
constexpr long CSREvent = 19;          // resource: a queued recogniser event
constexpr long CCSRHasText = 38;       // event kind: dictation text recognised
constexpr long CPOText = 3;            // playback source is text
constexpr long CAFDefault = -1;        // default audio format
constexpr long CPRMultiMedia = 4;      // play through the multimedia output
constexpr long CPSSynchronous = 1;     // return when playback has ended

extern const char* const kRecogniserProgId;  // XSpeechKit.XKitSR.6
extern const char* const kSynthesiserProgId; // XSpeechKit.XKitTTS.6

// DISPIDs of the members called, per interface.
namespace ttsid { // IXKitTTS
constexpr DISPID GetResource = 8;
constexpr DISPID GetResourceCount = 9;
constexpr DISPID GetStringProperty = 13;
constexpr DISPID SetStringProperty = 26;
constexpr DISPID StartPlayback = 29;
} // namespace ttsid
namespace engineid { // IXKitTTSEngine
constexpr DISPID Engine = 4;
} // namespace engineid
namespace srid { // IXKitSR
constexpr DISPID DefineResource = 5;
constexpr DISPID DisableResource = 6;
constexpr DISPID EnableResource = 9;
constexpr DISPID GetResource = 15;
constexpr DISPID GetResourceCount = 16;
constexpr DISPID RegisterCallback = 27;
constexpr DISPID RemoveResource = 28;
} // namespace srid
namespace eventid { // IXKitSREvent
constexpr DISPID KitCallback = 5;
constexpr DISPID Text = 29;
} // namespace eventid
constexpr DISPID kHasEvent = 1; // _IXKitSREvents

// The recogniser's event interface.
extern const IID IID_IXKitSREvents;

// ---- program-wide state ---------------------------------------------------
extern IDispatch* recogniser;  // null when its creation failed
extern IDispatch* synthesiser; // null when its creation failed
// As the component returned it; handed back unchanged to Start and Stop.
extern VARIANT dictationVocabId;
// Entry i is the name of the synthesiser's engine i; read once at start-up.
extern std::vector<std::string> engineNames;
extern DWORD eventCookie;

// A component that reports a huge engine count is not followed further.
constexpr long kEngineListLimit = 1000;

// ---- operations -----------------------------------------------------------
// CLSIDFromProgID and CoCreateInstance asking for IDispatch; null on failure.
IDispatch* CreateSpeechObject(const char* progId);
// Fills engineNames from the synthesiser.
void ListEngines();
// Defines the dictation vocabulary (its id into dictationVocabId) and
// registers for the has-text callback.
void PrepareRecognition();
// The synthesiser's current engine name; empty when not obtained.
std::string CurrentEngineName();
HRESULT ConnectEventSink(IDispatch* object, DWORD& cookie);
HRESULT DisconnectEventSink(IDispatch* object, DWORD cookie);
void StartListening();
void StopListening();
void ChooseEngine(const std::string& name);
// Hands the text to the synthesiser and returns without waiting.
void Speak(const std::string& text);
// Returns only when the text has been spoken.
void SpeakSynchronously(const std::string& text);
void ReleaseSynthesiser();
// Reads every event queued when it starts and publishes the dictation texts
// into heard.txt.
HRESULT HandleHasEvent();

// The sink connected to the recogniser's events. It is made with a count of
// 0; the connection point's reference keeps it alive and the last Release
// frees it.
class SpeechEventSink final : public IDispatch {
  public:
    static SpeechEventSink* Create();
    // Sinks alive in the process, for the tests' sake.
    static int instances;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID locale,
                                            DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID riid, LCID locale, WORD flags,
                                     DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                                     UINT* argError) override;

  private:
    SpeechEventSink() = default;
    ~SpeechEventSink() = default;
    ULONG references_ = 0;
};

} // namespace listener
