// The COM vocabulary on Linux, served by libverdelcom.so: the names, vtable
// order, HRESULT values and ownership rules of Windows' ole32/oleaut32, so
// that code written against the system's COM on Windows builds here too.
// Only what our programs and components use, but exact where present.
//
// Differences that the platform forces:
// - OLECHAR is char16_t (wchar_t is 32-bit on Linux); write u"..." literals.
// - LONG, ULONG, DWORD and HRESULT are 32-bit (long is 64-bit here).
// - STDMETHODCALLTYPE is empty: there is one calling convention.
// - Classes are registered in a store of small files, not in a registry;
//   see VcomRegisterClass below.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(VERDEL_COM_BUILDING)
#define VCOM_EXPORT __attribute__((visibility("default")))
#else
#define VCOM_EXPORT
#endif
#define VCOM_API extern "C" VCOM_EXPORT

// ---- basic types -----------------------------------------------------------
typedef int32_t HRESULT;
typedef int32_t SCODE;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef uint32_t DWORD;
typedef int BOOL;
typedef int INT;
typedef unsigned int UINT;
typedef int16_t SHORT;
typedef uint16_t USHORT;
typedef uint16_t WORD;
typedef uint8_t BYTE;
typedef char CHAR;
typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;
typedef float FLOAT;
typedef double DOUBLE;
typedef void* PVOID;
typedef void* LPVOID;
typedef const char* LPCSTR;
typedef DWORD LCID;
typedef LONG DISPID;
typedef uint16_t VARTYPE;
typedef SHORT VARIANT_BOOL;

typedef char16_t OLECHAR;
typedef OLECHAR* LPOLESTR;
typedef const OLECHAR* LPCOLESTR;
// Length-prefixed UTF-16 string: the 32-bit byte length stands just before
// the first character, a null character follows the last one. Allocated by
// SysAllocString*, freed by SysFreeString; null counts as the empty string.
typedef OLECHAR* BSTR;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif
#define VARIANT_TRUE ((VARIANT_BOOL)-1)
#define VARIANT_FALSE ((VARIANT_BOOL)0)

#define STDMETHODCALLTYPE
#define STDAPICALLTYPE
#define WINAPI
#define STDMETHOD(method) virtual HRESULT STDMETHODCALLTYPE method
#define STDMETHOD_(type, method) virtual type STDMETHODCALLTYPE method
#define PURE = 0
#define STDMETHODIMP HRESULT STDMETHODCALLTYPE
#define STDMETHODIMP_(type) type STDMETHODCALLTYPE
#define STDAPI extern "C" HRESULT STDAPICALLTYPE
#define STDAPI_(type) extern "C" type STDAPICALLTYPE

// ---- HRESULT -----------------------------------------------------------------
#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#define FAILED(hr) (((HRESULT)(hr)) < 0)
#define SEVERITY_SUCCESS 0
#define SEVERITY_ERROR 1
#define FACILITY_NULL 0
#define FACILITY_RPC 1
#define FACILITY_DISPATCH 2
#define FACILITY_ITF 4
#define FACILITY_WIN32 7
#define MAKE_HRESULT(sev, fac, code)                                                               \
    ((HRESULT)(((uint32_t)(sev) << 31) | ((uint32_t)(fac) << 16) | ((uint32_t)(code))))
#define HRESULT_CODE(hr) ((hr)&0xFFFF)
#define HRESULT_FACILITY(hr) (((hr) >> 16) & 0x1FFF)
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_MOD_NOT_FOUND 126L
#define ERROR_PROC_NOT_FOUND 127L
#define ERROR_BAD_EXE_FORMAT 193L
inline HRESULT HRESULT_FROM_WIN32(long code) {
    return code <= 0 ? (HRESULT)code
                     : (HRESULT)(((uint32_t)code & 0xFFFFu) | (FACILITY_WIN32 << 16) | 0x80000000u);
}

#define S_OK ((HRESULT)0)
#define S_FALSE ((HRESULT)1)
#define E_NOTIMPL ((HRESULT)0x80004001L)
#define E_NOINTERFACE ((HRESULT)0x80004002L)
#define E_POINTER ((HRESULT)0x80004003L)
#define E_ABORT ((HRESULT)0x80004004L)
#define E_FAIL ((HRESULT)0x80004005L)
#define E_UNEXPECTED ((HRESULT)0x8000FFFFL)
#define E_ACCESSDENIED ((HRESULT)0x80070005L)
#define E_HANDLE ((HRESULT)0x80070006L)
#define E_OUTOFMEMORY ((HRESULT)0x8007000EL)
#define E_INVALIDARG ((HRESULT)0x80070057L)
#define RPC_E_CHANGED_MODE ((HRESULT)0x80010106L)
#define DISP_E_UNKNOWNINTERFACE ((HRESULT)0x80020001L)
#define DISP_E_MEMBERNOTFOUND ((HRESULT)0x80020003L)
#define DISP_E_PARAMNOTFOUND ((HRESULT)0x80020004L)
#define DISP_E_TYPEMISMATCH ((HRESULT)0x80020005L)
#define DISP_E_UNKNOWNNAME ((HRESULT)0x80020006L)
#define DISP_E_NONAMEDARGS ((HRESULT)0x80020007L)
#define DISP_E_BADVARTYPE ((HRESULT)0x80020008L)
#define DISP_E_EXCEPTION ((HRESULT)0x80020009L)
#define DISP_E_OVERFLOW ((HRESULT)0x8002000AL)
#define DISP_E_BADINDEX ((HRESULT)0x8002000BL)
#define DISP_E_BADPARAMCOUNT ((HRESULT)0x8002000EL)
#define DISP_E_PARAMNOTOPTIONAL ((HRESULT)0x8002000FL)
#define CLASS_E_NOAGGREGATION ((HRESULT)0x80040110L)
#define CLASS_E_CLASSNOTAVAILABLE ((HRESULT)0x80040111L)
#define REGDB_E_READREGDB ((HRESULT)0x80040150L)
#define REGDB_E_WRITEREGDB ((HRESULT)0x80040151L)
#define REGDB_E_CLASSNOTREG ((HRESULT)0x80040154L)
#define CONNECT_E_NOCONNECTION ((HRESULT)0x80040200L)
#define CONNECT_E_ADVISELIMIT ((HRESULT)0x80040201L)
#define CONNECT_E_CANNOTCONNECT ((HRESULT)0x80040202L)
#define CONNECT_E_OVERRIDDEN ((HRESULT)0x80040203L)
#define SELFREG_E_TYPELIB ((HRESULT)0x80040200L)
#define SELFREG_E_CLASS ((HRESULT)0x80040201L)
#define CO_E_NOTINITIALIZED ((HRESULT)0x800401F0L)
#define CO_E_CLASSSTRING ((HRESULT)0x800401F3L)
#define CO_E_DLLNOTFOUND ((HRESULT)0x800401F8L)
#define CO_E_ERRORINDLL ((HRESULT)0x800401F9L)

// ---- GUID ----------------------------------------------------------------------
struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};
typedef GUID IID;
typedef GUID CLSID;
typedef GUID* LPGUID;
typedef IID* LPIID;
typedef CLSID* LPCLSID;
typedef const GUID& REFGUID;
typedef const IID& REFIID;
typedef const CLSID& REFCLSID;

inline bool IsEqualGUID(REFGUID a, REFGUID b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i)
        if (a.Data4[i] != b.Data4[i]) return false;
    return true;
}
inline bool IsEqualIID(REFIID a, REFIID b) {
    return IsEqualGUID(a, b);
}
inline bool IsEqualCLSID(REFCLSID a, REFCLSID b) {
    return IsEqualGUID(a, b);
}
inline bool operator==(REFGUID a, REFGUID b) {
    return IsEqualGUID(a, b);
}
inline bool operator!=(REFGUID a, REFGUID b) {
    return !IsEqualGUID(a, b);
}

VCOM_API const GUID GUID_NULL;
#define IID_NULL GUID_NULL
#define CLSID_NULL GUID_NULL

// ---- VARIANT -------------------------------------------------------------------
enum VARENUM {
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_R4 = 4,
    VT_R8 = 5,
    VT_CY = 6,
    VT_DATE = 7,
    VT_BSTR = 8,
    VT_DISPATCH = 9,
    VT_ERROR = 10,
    VT_BOOL = 11,
    VT_VARIANT = 12,
    VT_UNKNOWN = 13,
    VT_DECIMAL = 14,
    VT_I1 = 16,
    VT_UI1 = 17,
    VT_UI2 = 18,
    VT_UI4 = 19,
    VT_I8 = 20,
    VT_UI8 = 21,
    VT_INT = 22,
    VT_UINT = 23,
    VT_VOID = 24,
    VT_HRESULT = 25,
    VT_RECORD = 36,
    VT_VECTOR = 0x1000,
    VT_ARRAY = 0x2000,
    VT_BYREF = 0x4000,
    VT_RESERVED = 0x8000,
    VT_TYPEMASK = 0x0FFF
};

struct IUnknown;
struct IDispatch;
struct IRecordInfo;
struct tagVARIANT;

struct tagBRECORD {
    PVOID pvRecord;
    IRecordInfo* pRecInfo;
};

// vt, three reserved words, then the value: the layout of Windows' VARIANT
// (16 bytes on 32-bit, 24 on 64-bit), without its DECIMAL overlay.
struct tagVARIANT {
    VARTYPE vt;
    WORD wReserved1;
    WORD wReserved2;
    WORD wReserved3;
    union {
        LONGLONG llVal;
        LONG lVal;
        BYTE bVal;
        SHORT iVal;
        FLOAT fltVal;
        DOUBLE dblVal;
        VARIANT_BOOL boolVal;
        SCODE scode;
        DOUBLE date;
        BSTR bstrVal;
        IUnknown* punkVal;
        IDispatch* pdispVal;
        BYTE* pbVal;
        SHORT* piVal;
        LONG* plVal;
        LONGLONG* pllVal;
        FLOAT* pfltVal;
        DOUBLE* pdblVal;
        VARIANT_BOOL* pboolVal;
        SCODE* pscode;
        BSTR* pbstrVal;
        IUnknown** ppunkVal;
        IDispatch** ppdispVal;
        tagVARIANT* pvarVal;
        PVOID byref;
        CHAR cVal;
        USHORT uiVal;
        ULONG ulVal;
        ULONGLONG ullVal;
        INT intVal;
        UINT uintVal;
        CHAR* pcVal;
        USHORT* puiVal;
        ULONG* pulVal;
        ULONGLONG* pullVal;
        INT* pintVal;
        UINT* puintVal;
        tagBRECORD brecVal;
    };
};
typedef tagVARIANT VARIANT;
typedef tagVARIANT VARIANTARG;
typedef VARIANT* LPVARIANT;
typedef VARIANT* LPVARIANTARG;

#define V_VT(v) ((v)->vt)
#define V_ISBYREF(v) (V_VT(v) & VT_BYREF)
#define V_I1(v) ((v)->cVal)
#define V_I2(v) ((v)->iVal)
#define V_I4(v) ((v)->lVal)
#define V_I8(v) ((v)->llVal)
#define V_UI1(v) ((v)->bVal)
#define V_UI2(v) ((v)->uiVal)
#define V_UI4(v) ((v)->ulVal)
#define V_UI8(v) ((v)->ullVal)
#define V_INT(v) ((v)->intVal)
#define V_UINT(v) ((v)->uintVal)
#define V_R4(v) ((v)->fltVal)
#define V_R8(v) ((v)->dblVal)
#define V_BOOL(v) ((v)->boolVal)
#define V_ERROR(v) ((v)->scode)
#define V_BSTR(v) ((v)->bstrVal)
#define V_UNKNOWN(v) ((v)->punkVal)
#define V_DISPATCH(v) ((v)->pdispVal)
#define V_BYREF(v) ((v)->byref)

// VariantChangeType flags.
#define VARIANT_NOVALUEPROP 0x01
#define VARIANT_ALPHABOOL 0x02
#define VARIANT_NOUSEROVERRIDE 0x04
#define VARIANT_LOCALBOOL 0x10

// ---- IDispatch's types -----------------------------------------------------------
#define DISPID_VALUE 0
#define DISPID_UNKNOWN (-1)
#define DISPID_PROPERTYPUT (-3)
#define DISPID_NEWENUM (-4)
#define DISPATCH_METHOD 0x1
#define DISPATCH_PROPERTYGET 0x2
#define DISPATCH_PROPERTYPUT 0x4
#define DISPATCH_PROPERTYPUTREF 0x8
#define LOCALE_SYSTEM_DEFAULT 0x0800
#define LOCALE_USER_DEFAULT 0x0400
#define LOCALE_NEUTRAL 0x0000

struct DISPPARAMS {
    VARIANTARG* rgvarg; // arguments, the last one first
    DISPID* rgdispidNamedArgs;
    UINT cArgs;
    UINT cNamedArgs;
};

struct EXCEPINFO {
    WORD wCode;
    WORD wReserved;
    BSTR bstrSource;
    BSTR bstrDescription;
    BSTR bstrHelpFile;
    DWORD dwHelpContext;
    PVOID pvReserved;
    HRESULT(STDMETHODCALLTYPE* pfnDeferredFillIn)(EXCEPINFO*);
    SCODE scode;
};

// ---- interfaces ---------------------------------------------------------------------
// Abstract classes with no data and no virtual destructor, so that the
// object's first word points to a table of the methods in this order.
struct ITypeInfo; // opaque: nothing here hands out type information

struct IUnknown {
    virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) = 0;
    virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE Release() = 0;
};
typedef IUnknown* LPUNKNOWN;

struct IDispatch : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames,
                                                    LCID lcid, DISPID* rgDispId) = 0;
    virtual HRESULT STDMETHODCALLTYPE Invoke(DISPID dispIdMember, REFIID riid, LCID lcid,
                                             WORD wFlags, DISPPARAMS* pDispParams,
                                             VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                                             UINT* puArgErr) = 0;
};
typedef IDispatch* LPDISPATCH;

struct IClassFactory : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid,
                                                     void** ppvObject) = 0;
    virtual HRESULT STDMETHODCALLTYPE LockServer(BOOL fLock) = 0;
};

struct IConnectionPoint;
struct IConnectionPointContainer;

struct CONNECTDATA {
    IUnknown* pUnk;
    DWORD dwCookie;
};

struct IEnumConnections : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Next(ULONG cConnections, CONNECTDATA* rgcd,
                                           ULONG* pcFetched) = 0;
    virtual HRESULT STDMETHODCALLTYPE Skip(ULONG cConnections) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
    virtual HRESULT STDMETHODCALLTYPE Clone(IEnumConnections** ppEnum) = 0;
};

struct IEnumConnectionPoints : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Next(ULONG cConnections, IConnectionPoint** ppCP,
                                           ULONG* pcFetched) = 0;
    virtual HRESULT STDMETHODCALLTYPE Skip(ULONG cConnections) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
    virtual HRESULT STDMETHODCALLTYPE Clone(IEnumConnectionPoints** ppEnum) = 0;
};

struct IConnectionPoint : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* pIID) = 0;
    virtual HRESULT STDMETHODCALLTYPE
    GetConnectionPointContainer(IConnectionPointContainer** ppCPC) = 0;
    virtual HRESULT STDMETHODCALLTYPE Advise(IUnknown* pUnkSink, DWORD* pdwCookie) = 0;
    virtual HRESULT STDMETHODCALLTYPE Unadvise(DWORD dwCookie) = 0;
    virtual HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** ppEnum) = 0;
};

struct IConnectionPointContainer : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** ppEnum) = 0;
    virtual HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) = 0;
};

VCOM_API const IID IID_IUnknown;                  // {00000000-0000-0000-C000-000000000046}
VCOM_API const IID IID_IClassFactory;             // {00000001-0000-0000-C000-000000000046}
VCOM_API const IID IID_IDispatch;                 // {00020400-0000-0000-C000-000000000046}
VCOM_API const IID IID_ITypeInfo;                 // {00020401-0000-0000-C000-000000000046}
VCOM_API const IID IID_IConnectionPointContainer; // {B196B284-BAB4-101A-B69C-00AA00341D07}
VCOM_API const IID IID_IEnumConnectionPoints;     // {B196B285-BAB4-101A-B69C-00AA00341D07}
VCOM_API const IID IID_IConnectionPoint;          // {B196B286-BAB4-101A-B69C-00AA00341D07}
VCOM_API const IID IID_IEnumConnections;          // {B196B287-BAB4-101A-B69C-00AA00341D07}

// ---- the COM library ------------------------------------------------------------------
enum CLSCTX {
    CLSCTX_INPROC_SERVER = 0x1,
    CLSCTX_INPROC_HANDLER = 0x2,
    CLSCTX_LOCAL_SERVER = 0x4,
    CLSCTX_REMOTE_SERVER = 0x10
};
#define CLSCTX_INPROC (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER)
#define CLSCTX_SERVER (CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER)
#define CLSCTX_ALL                                                                                 \
    (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER)

enum COINIT {
    COINIT_MULTITHREADED = 0x0,
    COINIT_APARTMENTTHREADED = 0x2,
    COINIT_DISABLE_OLE1DDE = 0x4,
    COINIT_SPEED_OVER_MEMORY = 0x8
};

struct tagCOSERVERINFO; // remote activation does not exist here
typedef tagCOSERVERINFO COSERVERINFO;

// Each thread that calls CoInitialize(Ex) gets an apartment with a call
// queue (see apartment.h). Initialising again returns S_FALSE (and needs
// one more CoUninitialize); another threading model, RPC_E_CHANGED_MODE.
VCOM_API HRESULT CoInitialize(LPVOID pvReserved);
VCOM_API HRESULT CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit);
VCOM_API void CoUninitialize(void);

// Class ids by ProgID, from the registration store. Unknown: CO_E_CLASSSTRING.
VCOM_API HRESULT CLSIDFromProgID(LPCOLESTR lpszProgID, LPCLSID lpclsid);
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (any case), or else a ProgID.
VCOM_API HRESULT CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid);
// Writes the braced upper-case form; returns 39 (characters with the null),
// or 0 when cchMax is smaller.
VCOM_API int StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax);
// The same form in memory from CoTaskMemAlloc.
VCOM_API HRESULT StringFromCLSID(REFCLSID rclsid, LPOLESTR* lplpsz);

// In-process servers only: the library registered for the class is loaded
// (and stays loaded), its DllGetClassObject gives the class factory.
VCOM_API HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, COSERVERINFO* pServerInfo,
                                  REFIID riid, LPVOID* ppv);
VCOM_API HRESULT CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext,
                                  REFIID riid, LPVOID* ppv);

VCOM_API LPVOID CoTaskMemAlloc(size_t cb);
VCOM_API LPVOID CoTaskMemRealloc(LPVOID pv, size_t cb);
VCOM_API void CoTaskMemFree(LPVOID pv);

VCOM_API BSTR SysAllocString(const OLECHAR* psz);
// len characters copied from pch (zero-filled when pch is null).
VCOM_API BSTR SysAllocStringLen(const OLECHAR* pch, UINT len);
VCOM_API BSTR SysAllocStringByteLen(LPCSTR psz, UINT len);
VCOM_API void SysFreeString(BSTR bstrString);
VCOM_API UINT SysStringLen(BSTR pbstr);
VCOM_API UINT SysStringByteLen(BSTR bstr);

VCOM_API void VariantInit(VARIANTARG* pvarg);
// Frees what the VARIANT owns (a BSTR, a reference to an object; nothing
// for VT_BYREF) and leaves VT_EMPTY.
VCOM_API HRESULT VariantClear(VARIANTARG* pvarg);
// Clears the destination, then copies deeply: a new BSTR, an added reference.
VCOM_API HRESULT VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc);
// Converts between VT_EMPTY, VT_NULL, the integer types, VT_R4, VT_R8,
// VT_BOOL, VT_BSTR, VT_ERROR, VT_DISPATCH and VT_UNKNOWN as oleaut32 does:
// to the nearest integer with ties to even, DISP_E_OVERFLOW out of range,
// DISP_E_TYPEMISMATCH where there is no conversion. On failure the
// destination is left as it was. Not supported: VT_CY, VT_DATE,
// VT_DECIMAL, arrays and records (DISP_E_BADVARTYPE).
VCOM_API HRESULT VariantChangeType(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, USHORT wFlags,
                                   VARTYPE vt);

// ---- what an in-process server library exports --------------------------------------------
typedef HRESULT(STDAPICALLTYPE* LPFNGETCLASSOBJECT)(REFCLSID, REFIID, LPVOID*);
typedef HRESULT(STDAPICALLTYPE* LPFNCANUNLOADNOW)(void);
typedef HRESULT(STDAPICALLTYPE* LPFNDLLREGISTERSERVER)(void);
typedef HRESULT(STDAPICALLTYPE* LPFNDLLUNREGISTERSERVER)(void);
// Declared here with default visibility, so a library that defines them
// exports them even when built with hidden symbols.
extern "C" __attribute__((visibility("default"))) HRESULT
DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv);
extern "C" __attribute__((visibility("default"))) HRESULT DllCanUnloadNow(void);
extern "C" __attribute__((visibility("default"))) HRESULT DllRegisterServer(void);
extern "C" __attribute__((visibility("default"))) HRESULT DllUnregisterServer(void);

// ---- the registration store --------------------------------------------------------------------
// One file per class in ${XDG_DATA_HOME:-$HOME/.local/share}/verdel/com/,
// named by the class id, "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}.class":
//
//   verdel-com-class 1
//   clsid={0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}
//   progid=Vendor.Thing.1
//   library=/absolute/path/to/library.so
//
// Lines end with LF; the first line is exactly the header; then the three
// keys, once each, in any order ("key=value", no spaces around '='); empty
// lines and lines starting with '#' are skipped. A ProgID is 1 to 39
// letters, digits and dots, not starting with a digit, and is looked up
// without regard to case. A file that is not a regular file (a link, a
// FIFO), is larger than 8 KiB, holds a NUL or other control character, an
// unknown, missing or repeated key, a clsid other than its name or a
// relative library path is ignored as if absent. Each file is written
// beside its target (".NAME.PID.N.tmp") and renamed over it.

// Registers (or re-registers) a class; the ProgID moves to it from any other
// class that held it. The library path is stored made absolute. S_OK;
// E_INVALIDARG for a bad ProgID or a library that does not exist;
// SELFREG_E_CLASS when the store cannot be written.
VCOM_API HRESULT VcomRegisterClass(LPCOLESTR progId, REFCLSID clsid, const char* libraryPath);
// Removes a class: S_OK, S_FALSE when it was not registered, SELFREG_E_CLASS
// when its file cannot be removed.
VCOM_API HRESULT VcomUnregisterClass(REFCLSID clsid);
// The path of the library that holds the given address (a library's own
// function: its path for VcomRegisterClass). S_OK, E_FAIL when unknown,
// E_OUTOFMEMORY when it does not fit (size includes the null).
VCOM_API HRESULT VcomLibraryPath(const void* addressInLibrary, char* path, size_t size);

#include "apartment.h"
