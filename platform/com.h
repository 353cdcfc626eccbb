// The COM vocabulary of the listening window's speech binding and of the
// speech components: IUnknown, IDispatch, VARIANT, BSTR, DISPPARAMS, the
// connection-point interfaces, CoInitialize, CLSIDFromProgID,
// CoCreateInstance. On Windows these are the system's (ole32, oleaut32); on
// Linux they come from our own library with the same names, vtable order,
// HRESULT values and ownership rules (OLECHAR is char16_t there).
#pragma once

#if defined(_WIN32)
#include <windows.h>
// after windows.h
#include <ocidl.h>
#include <ole2.h>
#include <oleauto.h>
#else
#include "posix/com/comapi.h"
#endif
