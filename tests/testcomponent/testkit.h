// A stand-in for the speech component, for tests only: both ProgIDs, the
// members the listening window calls with their DISPIDs, strict about how
// they are called, every call logged, answers and failures scripted, and
// recognition events queued from files dropped into a directory.
//
// Environment:
//   VERDEL_TESTKIT_LOG     file that every call is appended to, one line each:
//                          object, member, DISPID, invoke kind, status, then
//                          each argument as TYPE:value (UTF-8; tab, line feed
//                          and backslash escaped), separated by tabs
//   VERDEL_TESTKIT_SCRIPT  key=value lines, read at every call:
//       engines=A|B|C      the synthesiser's engine names (empty: none)
//       engine-count=N     the count reported, when it is not the list's
//       current=NAME       the current engine when the object is made
//       number-type=R8     VARIANT type of counts and kinds (I4 by default)
//       number-bias=0.4    subtracted from counts and kinds of a real type
//       vocab-type=BSTR    VARIANT type of the dictation vocabulary id
//       fail=tts.StartPlayback,sr.GetResource   members answering E_FAIL
//                          (also create.tts, create.sr, sr.QueryInterface.cpc,
//                          sr.FindConnectionPoint, sr.Advise, sr.Unadvise)
//       playback-ms=N      how long the synchronous playback lasts
//   VERDEL_TESTKIT_INBOX   directory watched while dictation is enabled:
//       NAME.txt           one recognised phrase, exactly as it stands
//       NAME.evt           lines, in order: "text PHRASE", "kind N [TEXT]"
//                          queue an event; "fire" notifies HasEvent with an
//                          empty argument block, "fire-null" with none,
//                          "fire-dispid N" under another DISPID. A file with
//                          no fire line fires once at its end.
// Notifications reach the sink on the thread that created the recogniser,
// through that thread's apartment.
#pragma once

#include "../../platform/com.h"

#include <string>

namespace testkit {

// {6328BE78-CAE1-4694-89EE-2A55F6FB9BF1}
constexpr CLSID kSynthesiserClsid = {
    0x6328BE78, 0xCAE1, 0x4694, {0x89, 0xEE, 0x2A, 0x55, 0xF6, 0xFB, 0x9B, 0xF1}};
// {C4AE39F7-9D86-4918-9116-AB6A03CF03FF}
constexpr CLSID kRecogniserClsid = {
    0xC4AE39F7, 0x9D86, 0x4918, {0x91, 0x16, 0xAB, 0x6A, 0x03, 0xCF, 0x03, 0xFF}};
constexpr const char* kSynthesiserProgId = "XSpeechKit.XKitTTS.6";
constexpr const char* kRecogniserProgId = "XSpeechKit.XKitSR.6";

// ---- per platform ---------------------------------------------------------
std::string envValue(const char* name); // UTF-8
void sleepMs(int ms);

// ---- shared by both ---------------------------------------------------------
// Objects alive plus server locks: the library may be unloaded at zero.
void lockModule();
void unlockModule();
long moduleLocks();
HRESULT getClassObject(REFCLSID clsid, REFIID riid, void** object);

} // namespace testkit
