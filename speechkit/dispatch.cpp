#include "dispatch.h"

namespace speechkit {

namespace {
bool isMissing(const VARIANT* v) {
    return V_VT(v) == VT_ERROR && V_ERROR(v) == DISP_E_PARAMNOTFOUND;
}

char16_t lowerAscii(char16_t c) {
    return (c >= u'A' && c <= u'Z') ? c + (u'a' - u'A') : c;
}

bool sameNameIgnoringCase(const OLECHAR* name, const char* member) {
    std::size_t i = 0;
    for (; name[i] && member[i]; ++i)
        if (lowerAscii(static_cast<char16_t>(name[i])) !=
            lowerAscii(static_cast<char16_t>(member[i])))
            return false;
    return !name[i] && !member[i];
}
} // namespace

VARIANT* Args::at(unsigned index) const {
    if (!params_ || index >= params_->cArgs) return nullptr;
    VARIANT* v = &params_->rgvarg[params_->cArgs - 1 - index];
    return isMissing(v) ? nullptr : v;
}

bool Args::present(unsigned index) const {
    return at(index) != nullptr;
}

HRESULT Args::mismatch(unsigned index) const {
    if (argErr_) *argErr_ = params_->cArgs - 1 - index;
    return DISP_E_TYPEMISMATCH;
}

HRESULT Args::integer(unsigned index, LONG& out, LONG defaultValue) const {
    VARIANT* v = at(index);
    if (!v) {
        out = defaultValue;
        return S_OK;
    }
    VARIANT converted;
    VariantInit(&converted);
    if (FAILED(VariantChangeType(&converted, v, 0, VT_I4))) return mismatch(index);
    out = V_I4(&converted);
    return S_OK;
}

HRESULT Args::text(unsigned index, std::string& out) const {
    VARIANT* v = at(index);
    if (!v) {
        out.clear();
        return S_OK;
    }
    VARIANT converted;
    VariantInit(&converted);
    if (FAILED(VariantChangeType(&converted, v, 0, VT_BSTR))) return mismatch(index);
    out = utf8FromBstr(V_BSTR(&converted));
    VariantClear(&converted);
    return S_OK;
}

void setResultInt(VARIANT* result, LONG value) {
    if (!result) return;
    VariantInit(result);
    V_VT(result) = VT_I4;
    V_I4(result) = value;
}

HRESULT setResultText(VARIANT* result, const std::string& utf8) {
    if (!result) return S_OK;
    VariantInit(result);
    BSTR text = bstrFromUtf8(utf8);
    if (!text) return E_OUTOFMEMORY;
    V_VT(result) = VT_BSTR;
    V_BSTR(result) = text;
    return S_OK;
}

void setResultObject(VARIANT* result, IDispatch* object) {
    if (!result) {
        object->Release();
        return;
    }
    VariantInit(result);
    V_VT(result) = VT_DISPATCH;
    V_DISPATCH(result) = object;
}

DispatchObject::DispatchObject(const IID& iid, const Member* members, std::size_t memberCount)
    : iid_(iid), members_(members), memberCount_(memberCount) {
    moduleLock();
}

DispatchObject::~DispatchObject() {
    moduleUnlock();
}

HRESULT STDMETHODCALLTYPE DispatchObject::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, iid_))
        *out = static_cast<IDispatch*>(this);
    else
        *out = otherInterface(iid);
    if (!*out) return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

ULONG STDMETHODCALLTYPE DispatchObject::AddRef() {
    return ++refs_;
}

ULONG STDMETHODCALLTYPE DispatchObject::Release() {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
}

HRESULT STDMETHODCALLTYPE DispatchObject::GetTypeInfoCount(UINT* count) {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE DispatchObject::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
    if (info) *info = nullptr;
    return DISP_E_BADINDEX;
}

// Names are offered for scripting clients; the listening window uses the
// fixed DISPIDs. Only member names are known, not parameter names.
HRESULT STDMETHODCALLTYPE DispatchObject::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                                        DISPID* ids) {
    if (!names || !ids) return E_POINTER;
    HRESULT hr = S_OK;
    for (UINT n = 0; n < count; ++n) {
        ids[n] = DISPID_UNKNOWN;
        if (n > 0 || !names[n]) {
            hr = DISP_E_UNKNOWNNAME;
            continue;
        }
        for (std::size_t m = 0; m < memberCount_; ++m)
            if (sameNameIgnoringCase(names[n], members_[m].name)) ids[n] = members_[m].id;
        if (ids[n] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
}

HRESULT STDMETHODCALLTYPE DispatchObject::Invoke(DISPID id, REFIID, LCID, WORD flags,
                                                 DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                                                 UINT* argErr) {
    const Member* member = nullptr;
    for (std::size_t m = 0; m < memberCount_; ++m)
        if (members_[m].id == id) member = &members_[m];
    if (!member) return DISP_E_MEMBERNOTFOUND;
    // Automation clients often ask for a method or a property read in one
    // call (both flags); the member's own kind must be among the flags.
    const WORD needed = member->kind == MemberKind::Method ? DISPATCH_METHOD : DISPATCH_PROPERTYGET;
    if (!(flags & needed)) return DISP_E_MEMBERNOTFOUND;
    const unsigned given = params ? params->cArgs : 0;
    if (params && params->cArgs > 0 && !params->rgvarg) return E_INVALIDARG;
    if (params && params->cNamedArgs > 0) return DISP_E_NONAMEDARGS;
    if (given < member->minArgs || given > member->maxArgs) return DISP_E_BADPARAMCOUNT;
    if (result) VariantInit(result);
    return call(*member, Args(params, argErr), result);
}

} // namespace speechkit
