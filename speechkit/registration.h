// Registration of the component's classes with the platform's COM: the
// registry on Windows, our COM library's store on Linux.
#pragma once

#include "component.h"

#include <string>

namespace speechkit {

struct ClassEntry {
    const CLSID* clsid;
    const char* progId;
    const char* name;
};
extern const ClassEntry kClasses[2];

// Records every class of kClasses for this library; false on any failure.
HRESULT registerClasses();
// Removes them; classes that were not registered are no error.
HRESULT unregisterClasses();

} // namespace speechkit
