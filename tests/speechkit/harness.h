#pragma once
// What the speech component's tests need from the platform: loading the
// component so its classes can be created through COM, pumping the test
// thread's apartment, and the environment the component reads.
#include "platform/com.h"

#include <functional>
#include <string>

namespace harness {

// Initialises COM on the calling thread and makes the component's classes
// creatable; false (with the reason) when the library cannot be loaded.
bool setUp(std::string& why);
void tearDown();

// A new object of the class, created through COM; null on failure.
IDispatch* create(const char* progId, const CLSID& clsid);

// Runs the calling thread's apartment (posted calls, messages) for a while,
// or until done() holds; false when it timed out.
void pumpFor(int ms);
bool pumpUntil(const std::function<bool()>& done, int timeoutMs);

// The library's own DllCanUnloadNow.
HRESULT canUnloadNow();

// Sets (or, with an empty value, removes) a variable the component reads.
void setEnvironment(const char* name, const std::string& value);

unsigned long currentThreadId();

// Makes the platform's voices unreachable for synthesisers created after it
// (espeak-ng pointed at an empty data folder); false where that cannot be
// done (SAPI's voices are the machine's).
bool hideVoices(const std::string& emptyDir);

// Registers and unregisters the built library as its installer would
// (regsvr32 or verdel-regsvr); the exit code of the tool.
int registerTool(bool unregister);
// The class id registered for the ProgID, or a failure.
HRESULT classIdOf(const char* progId, CLSID& clsid);

// Another component registered under the same ProgIDs (the listening
// window's stand-in, in the shared Wine prefix) is put back after the
// registration test: what the ProgIDs name before, and restoring it.
struct SavedRegistrations;
SavedRegistrations* saveRegistrations();
void restoreRegistrations(SavedRegistrations* saved);

} // namespace harness
