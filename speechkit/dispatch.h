// A small IDispatch implementation shared by the component's objects: each
// object describes its members in a table (DISPID, name, kind, how many
// arguments) and implements one call routine; the base class checks the
// invoke kind, the argument count and named arguments before that runs.
#pragma once

#include "component.h"

#include <cstddef>
#include <string>

namespace speechkit {

enum class MemberKind { Method, PropertyGet };

struct Member {
    DISPID id;
    const char* name;
    MemberKind kind;
    unsigned minArgs; // arguments that must be given
    unsigned maxArgs; // trailing optional ones may be left out
};

// The arguments of one call in their declared order (IDispatch stores them
// reversed). An argument left out, or passed as VT_ERROR with
// DISP_E_PARAMNOTFOUND, counts as missing and takes its default.
class Args {
  public:
    Args(DISPPARAMS* params, UINT* argErr) : params_(params), argErr_(argErr) {}
    unsigned count() const { return params_ ? params_->cArgs : 0; }
    bool present(unsigned index) const;
    // Any numeric (or numeric-string) VARIANT, converted to a 32-bit integer.
    HRESULT integer(unsigned index, LONG& out, LONG defaultValue = 0) const;
    // Any VARIANT convertible to a string, as UTF-8.
    HRESULT text(unsigned index, std::string& out) const;

  private:
    VARIANT* at(unsigned index) const;
    HRESULT mismatch(unsigned index) const;
    DISPPARAMS* params_;
    UINT* argErr_;
};

// Result helpers: leave the result untouched when the caller passed none.
void setResultInt(VARIANT* result, LONG value);
HRESULT setResultText(VARIANT* result, const std::string& utf8);
// Takes over the reference of object.
void setResultObject(VARIANT* result, IDispatch* object);

// Base of the component's automation objects. Thread-safe reference count;
// every object holds a module lock while it lives.
class DispatchObject : public IDispatch {
  public:
    DispatchObject(const IID& iid, const Member* members, std::size_t memberCount);
    DispatchObject(const DispatchObject&) = delete;
    DispatchObject& operator=(const DispatchObject&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid,
                                            DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID lcid, WORD flags,
                                     DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                                     UINT* argErr) override;

  protected:
    virtual ~DispatchObject();
    // Runs one member whose kind and argument count have been checked.
    virtual HRESULT call(const Member& member, const Args& args, VARIANT* result) = 0;
    // Further interfaces an object hands out (its own pointer, not AddRef'd).
    virtual void* otherInterface(REFIID) { return nullptr; }

  private:
    std::atomic<ULONG> refs_{1};
    const IID& iid_;
    const Member* members_;
    std::size_t memberCount_;
};

} // namespace speechkit
