// Shared between the parts of libverdelcom; not installed with it.
#pragma once

#include "comapi.h"

#include <string>

namespace vcom {

// True when the calling thread has called CoInitialize(Ex) and not yet
// matched it with CoUninitialize.
bool threadInitialised();

// The length of a null-terminated UTF-16 string.
size_t textLength(const OLECHAR* s);
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper case.
std::string guidText(REFGUID guid);
// Parses exactly that form (hex digits in either case).
bool parseGuid(const char* text, size_t length, GUID& out);
// The same from UTF-16.
bool parseGuid(const OLECHAR* text, size_t length, GUID& out);

// ---- the registration store (store.cpp) ----
struct ClassEntry {
    GUID clsid{};
    std::string progId;
    std::string library;
};
// The store's directory; empty when there is no home to put it in.
std::string storeDirectory();
bool validProgId(const std::string& progId);
bool findClass(REFCLSID clsid, ClassEntry& out);
bool findProgId(const std::string& progId, ClassEntry& out);

} // namespace vcom
