// verdel-regsvr: registers a COM server library, with regsvr32's contract.
//
//   verdel-regsvr [-u] [-s] LIBRARY      (options also as /u, /s)
//
// Loads the library, calls its DllRegisterServer (DllUnregisterServer with
// -u) and says the result in one line on standard output (nothing with -s).
// Exit codes as regsvr32's: 0 done, 1 bad arguments, 2 COM could not be
// initialised, 3 the library cannot be loaded, 4 it lacks the entry point,
// 5 the call failed.
#include "comapi.h"

#include <dlfcn.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

enum Exit { kDone = 0, kBadArguments = 1, kNoCom = 2, kCannotLoad = 3, kNoEntry = 4, kFailed = 5 };

bool optionIs(const char* arg, char letter) {
    return (arg[0] == '-' || arg[0] == '/') && (arg[1] == letter || arg[1] == letter - 'a' + 'A') &&
           arg[2] == '\0';
}

} // namespace

int main(int argc, char** argv) {
    bool unregister = false, silent = false, badArguments = false;
    const char* library = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (optionIs(argv[i], 'u'))
            unregister = true;
        else if (optionIs(argv[i], 's'))
            silent = true;
        else if ((argv[i][0] == '-' && argv[i][1] != '\0') || library)
            badArguments = true;
        else
            library = argv[i];
    }
    if (badArguments || !library) {
        std::fprintf(stderr, "Usage: verdel-regsvr [-u] [-s] LIBRARY\n");
        return kBadArguments;
    }
    auto say = [&](const std::string& line) {
        if (!silent) std::printf("verdel-regsvr: %s\n", line.c_str());
    };
    const std::string name = std::string("'") + library + "'";
    const char* entryName = unregister ? "DllUnregisterServer" : "DllRegisterServer";

    // The library is opened by its absolute path, so that it finds its own
    // path (dladdr) as an absolute one for the store.
    char* absolute = ::realpath(library, nullptr);
    const char* why = nullptr;
    void* handle = nullptr;
    if (!absolute) {
        why = std::strerror(errno);
    } else {
        handle = ::dlopen(absolute, RTLD_NOW | RTLD_LOCAL);
        if (!handle) why = ::dlerror();
        std::free(absolute);
    }
    if (!handle) {
        say("Failed to load library " + name + (why ? std::string(": ") + why : ""));
        return kCannotLoad;
    }
    void* symbol = ::dlsym(handle, entryName);
    if (!symbol) {
        say(std::string("'") + entryName + "' not implemented in library " + name);
        return kNoEntry;
    }
    // As regsvr32 initialises OLE around the call.
    if (FAILED(CoInitialize(nullptr))) {
        say("Failed to initialise COM");
        return kNoCom;
    }
    const HRESULT hr = reinterpret_cast<LPFNDLLREGISTERSERVER>(symbol)();
    CoUninitialize();
    if (FAILED(hr)) {
        char code[16];
        std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(hr));
        say(std::string(unregister ? "Failed to unregister" : "Failed to register") + " library " +
            name + " (" + code + ")");
        return kFailed;
    }
    say(std::string(unregister ? "Successfully unregistered" : "Successfully registered") +
        " library " + name);
    return kDone;
}
