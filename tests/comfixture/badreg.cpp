// A COM server library whose registration fails and that cannot unregister.
#include "../../platform/com.h"

STDAPI DllRegisterServer() {
    return SELFREG_E_CLASS;
}
