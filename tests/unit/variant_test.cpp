// BSTR and VARIANT of libverdelcom: ownership, and conversions as oleaut32
// makes them (the expected values were measured with oleaut32 under Wine 8).
#include "../../platform/com.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>

namespace {

std::string narrow(BSTR s) {
    std::string out;
    for (UINT i = 0; i < SysStringLen(s); ++i)
        out += static_cast<char>(s[i]);
    return out;
}

// A dispatch object that counts its references; its value property
// (DISPID_VALUE) is a VT_I4.
class Counted : public IDispatch {
  public:
    ULONG refs = 1;
    LONG value = 7;
    int valueReads = 0;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IUnknown || riid == IID_IDispatch) {
            *ppv = this;
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; } // lives on the stack
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS*,
                                     VARIANT* result, EXCEPINFO*, UINT*) override {
        if (id != DISPID_VALUE || !(flags & DISPATCH_PROPERTYGET)) return DISP_E_MEMBERNOTFOUND;
        ++valueReads;
        result->vt = VT_I4;
        result->lVal = value;
        return S_OK;
    }
};

TEST(Bstr, AllocationLengthAndLayout) {
    BSTR s = SysAllocString(u"h\u00e9llo");
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(SysStringLen(s), 5u);
    EXPECT_EQ(SysStringByteLen(s), 10u);
    EXPECT_EQ(s[1], u'\u00e9');
    EXPECT_EQ(s[5], 0); // a null character follows the text
    uint32_t prefix;    // the byte length stands just before the text
    std::memcpy(&prefix, reinterpret_cast<char*>(s) - 4, 4);
    EXPECT_EQ(prefix, 10u);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(s) % 8, 0u);
    SysFreeString(s);

    BSTR part = SysAllocStringLen(u"ab\0cdef", 4); // embedded null kept
    ASSERT_NE(part, nullptr);
    EXPECT_EQ(SysStringLen(part), 4u);
    EXPECT_EQ(std::u16string(part, 4), std::u16string(u"ab\0c", 4));
    EXPECT_EQ(part[4], 0);
    SysFreeString(part);

    BSTR blank = SysAllocStringLen(nullptr, 3);
    ASSERT_NE(blank, nullptr);
    EXPECT_EQ(SysStringLen(blank), 3u);
    SysFreeString(blank);

    BSTR odd = SysAllocStringByteLen("abc", 3);
    EXPECT_EQ(SysStringByteLen(odd), 3u);
    EXPECT_EQ(SysStringLen(odd), 1u);
    SysFreeString(odd);

    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    EXPECT_EQ(SysStringLen(nullptr), 0u); // null is the empty string
    SysFreeString(nullptr);
    EXPECT_EQ(SysAllocStringLen(u"x", 0x80000000u), nullptr); // too long: refused, no overflow
}

TEST(Variant, ClearFreesWhatItOwns) {
    Counted object;
    VARIANT v;
    VariantInit(&v);
    EXPECT_EQ(v.vt, VT_EMPTY);

    v.vt = VT_DISPATCH;
    v.pdispVal = &object;
    object.AddRef();
    EXPECT_EQ(VariantClear(&v), S_OK);
    EXPECT_EQ(object.refs, 1u);
    EXPECT_EQ(v.vt, VT_EMPTY);

    v.vt = VT_UNKNOWN;
    v.punkVal = &object;
    object.AddRef();
    EXPECT_EQ(VariantClear(&v), S_OK);
    EXPECT_EQ(object.refs, 1u);

    v.vt = VT_DISPATCH;
    v.pdispVal = nullptr;
    EXPECT_EQ(VariantClear(&v), S_OK);

    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(u"owned");
    EXPECT_EQ(VariantClear(&v), S_OK);
    EXPECT_EQ(v.vt, VT_EMPTY);

    // By reference: the VARIANT owns nothing.
    BSTR held = SysAllocString(u"held");
    v.vt = VT_BYREF | VT_BSTR;
    v.pbstrVal = &held;
    EXPECT_EQ(VariantClear(&v), S_OK);
    EXPECT_EQ(narrow(held), "held");
    SysFreeString(held);

    v.vt = 15; // no such type
    EXPECT_EQ(VariantClear(&v), DISP_E_BADVARTYPE);
    EXPECT_EQ(v.vt, 15);
    EXPECT_EQ(VariantClear(nullptr), E_INVALIDARG);
}

TEST(Variant, CopyIsDeep) {
    Counted object;
    VARIANT src, dst;
    VariantInit(&src);
    VariantInit(&dst);
    src.vt = VT_BSTR;
    src.bstrVal = SysAllocString(u"text");
    dst.vt = VT_BSTR;
    dst.bstrVal = SysAllocString(u"old"); // freed by the copy
    ASSERT_EQ(VariantCopy(&dst, &src), S_OK);
    EXPECT_NE(dst.bstrVal, src.bstrVal);
    src.bstrVal[0] = u'n';
    EXPECT_EQ(narrow(dst.bstrVal), "text");
    EXPECT_EQ(VariantCopy(&src, &src), S_OK);
    EXPECT_EQ(narrow(src.bstrVal), "next");
    VariantClear(&src);

    src.vt = VT_BSTR; // the copy of a null BSTR is an empty one, as oleaut32's
    src.bstrVal = nullptr;
    ASSERT_EQ(VariantCopy(&dst, &src), S_OK);
    EXPECT_NE(dst.bstrVal, nullptr);
    EXPECT_EQ(SysStringLen(dst.bstrVal), 0u);

    src.vt = VT_DISPATCH;
    src.pdispVal = &object;
    ASSERT_EQ(VariantCopy(&dst, &src), S_OK);
    EXPECT_EQ(dst.pdispVal, &object);
    EXPECT_EQ(object.refs, 2u);
    VariantClear(&dst);
    EXPECT_EQ(object.refs, 1u);

    dst.vt = 15; // an unreadable destination is not overwritten
    EXPECT_EQ(VariantCopy(&dst, &src), DISP_E_BADVARTYPE);
}

// ---- conversions ----

VARIANT make(VARTYPE vt, const std::function<void(VARIANT&)>& fill = nullptr) {
    VARIANT v = {}; // pointers null unless filled
    v.vt = vt;
    if (fill) fill(v);
    return v;
}
VARIANT i4(LONG x) {
    return make(VT_I4, [=](VARIANT& v) { v.lVal = x; });
}
VARIANT r8(double x) {
    return make(VT_R8, [=](VARIANT& v) { v.dblVal = x; });
}
VARIANT text(const char16_t* s) {
    return make(VT_BSTR, [=](VARIANT& v) { v.bstrVal = SysAllocString(s); });
}

// The value as the measurement printed it: type name and value.
std::string show(const VARIANT& v) {
    char b[64];
    switch (v.vt) {
    case VT_EMPTY:
        return "EMPTY";
    case VT_NULL:
        return "NULL";
    case VT_I1:
        std::snprintf(b, sizeof b, "I1 %d", v.cVal);
        break;
    case VT_I2:
        std::snprintf(b, sizeof b, "I2 %d", v.iVal);
        break;
    case VT_I4:
        std::snprintf(b, sizeof b, "I4 %d", v.lVal);
        break;
    case VT_INT:
        std::snprintf(b, sizeof b, "INT %d", v.intVal);
        break;
    case VT_UINT:
        std::snprintf(b, sizeof b, "UINT %u", v.uintVal);
        break;
    case VT_UI1:
        std::snprintf(b, sizeof b, "UI1 %u", v.bVal);
        break;
    case VT_UI2:
        std::snprintf(b, sizeof b, "UI2 %u", v.uiVal);
        break;
    case VT_UI4:
        std::snprintf(b, sizeof b, "UI4 %u", v.ulVal);
        break;
    case VT_I8:
        std::snprintf(b, sizeof b, "I8 %lld", static_cast<long long>(v.llVal));
        break;
    case VT_UI8:
        std::snprintf(b, sizeof b, "UI8 %llu", static_cast<unsigned long long>(v.ullVal));
        break;
    case VT_R4:
        std::snprintf(b, sizeof b, "R4 %.9g", v.fltVal);
        break;
    case VT_R8:
        std::snprintf(b, sizeof b, "R8 %.17g", v.dblVal);
        break;
    case VT_BOOL:
        std::snprintf(b, sizeof b, "BOOL %d", v.boolVal);
        break;
    case VT_ERROR:
        std::snprintf(b, sizeof b, "ERROR %08X", static_cast<unsigned>(v.scode));
        break;
    case VT_BSTR:
        return "BSTR \"" + narrow(v.bstrVal) + "\"";
    case VT_DISPATCH:
        return v.pdispVal ? "DISPATCH" : "DISPATCH null";
    case VT_UNKNOWN:
        return v.punkVal ? "UNKNOWN" : "UNKNOWN null";
    default:
        std::snprintf(b, sizeof b, "vt %d", v.vt);
    }
    return b;
}

struct Conversion {
    const char* name;
    std::function<VARIANT()> source;
    VARTYPE target;
    HRESULT hr;
    const char* expected; // when hr succeeds
};

TEST(VariantChangeType, AsOleaut32Does) {
    static LONG referenced = 42;
    const Conversion table[] = {
        // To VT_I4: to the nearest, ties to even; out of range overflows.
        {"empty", [] { return make(VT_EMPTY); }, VT_I4, S_OK, "I4 0"},
        {"null", [] { return make(VT_NULL); }, VT_I4, DISP_E_TYPEMISMATCH, ""},
        {"I2", [] { return make(VT_I2, [](VARIANT& v) { v.iVal = -5; }); }, VT_I4, S_OK, "I4 -5"},
        {"R4 2.5", [] { return make(VT_R4, [](VARIANT& v) { v.fltVal = 2.5f; }); }, VT_I4, S_OK,
         "I4 2"},
        {"R8 0.5", [] { return r8(0.5); }, VT_I4, S_OK, "I4 0"},
        {"R8 1.5", [] { return r8(1.5); }, VT_I4, S_OK, "I4 2"},
        {"R8 2.5", [] { return r8(2.5); }, VT_I4, S_OK, "I4 2"},
        {"R8 3.5", [] { return r8(3.5); }, VT_I4, S_OK, "I4 4"},
        {"R8 -2.5", [] { return r8(-2.5); }, VT_I4, S_OK, "I4 -2"},
        {"R8 -1.5", [] { return r8(-1.5); }, VT_I4, S_OK, "I4 -2"},
        {"R8 2.5000001", [] { return r8(2.5000001); }, VT_I4, S_OK, "I4 3"},
        {"R8 2147483647.4", [] { return r8(2147483647.4); }, VT_I4, S_OK, "I4 2147483647"},
        {"R8 2147483647.5", [] { return r8(2147483647.5); }, VT_I4, DISP_E_OVERFLOW, ""},
        {"R8 -2147483648.5", [] { return r8(-2147483648.5); }, VT_I4, S_OK, "I4 -2147483648"},
        {"R8 -2147483648.6", [] { return r8(-2147483648.6); }, VT_I4, DISP_E_OVERFLOW, ""},
        {"R8 1e10", [] { return r8(1e10); }, VT_I4, DISP_E_OVERFLOW, ""},
        {"R8 nan", [] { return r8(std::nan("")); }, VT_I4, DISP_E_OVERFLOW, ""},
        {"digits", [] { return text(u"12"); }, VT_I4, S_OK, "I4 12"},
        {"spaced digits", [] { return text(u" \t12 \n"); }, VT_I4, S_OK, "I4 12"},
        {"string 2.5", [] { return text(u"2.5"); }, VT_I4, S_OK, "I4 2"},
        {"string 3.5", [] { return text(u"3.5"); }, VT_I4, S_OK, "I4 4"},
        {"string -2.5", [] { return text(u"-2.5"); }, VT_I4, S_OK, "I4 -2"},
        {"string exact tie-break", [] { return text(u"2.50000000000000001"); }, VT_I4, S_OK,
         "I4 3"},
        {"thousands", [] { return text(u"1,000"); }, VT_I4, S_OK, "I4 1000"},
        {"leading comma", [] { return text(u",12"); }, VT_I4, DISP_E_TYPEMISMATCH, ""},
        {"exponent", [] { return text(u"1.5e1"); }, VT_I4, S_OK, "I4 15"},
        {"negative exponent", [] { return text(u"25e-1"); }, VT_I4, S_OK, "I4 2"},
        {"huge exponent", [] { return text(u"1e400"); }, VT_I4, DISP_E_OVERFLOW, ""},
        {"tiny exponent", [] { return text(u"1e-400"); }, VT_I4, S_OK, "I4 0"},
        {"bare exponent", [] { return text(u"1e"); }, VT_I4, DISP_E_TYPEMISMATCH, ""},
        {"sign and space", [] { return text(u"- 5"); }, VT_I4, S_OK, "I4 -5"},
        {"plus", [] { return text(u"+7"); }, VT_I4, S_OK, "I4 7"},
        {"point five", [] { return text(u".5"); }, VT_I4, S_OK, "I4 0"},
        {"five point", [] { return text(u"5."); }, VT_I4, S_OK, "I4 5"},
        {"two points", [] { return text(u"1.2.3"); }, VT_I4, DISP_E_TYPEMISMATCH, ""},
        {"sign only", [] { return text(u"-"); }, VT_I4, DISP_E_TYPEMISMATCH, ""},
        {"empty string", [] { return text(u""); }, VT_I4, DISP_E_TYPEMISMATCH, ""},
        {"null string", [] { return make(VT_BSTR); }, VT_I4, DISP_E_TYPEMISMATCH, ""},
        {"letters", [] { return text(u"12abc"); }, VT_I4, DISP_E_TYPEMISMATCH, ""},
        {"C hex", [] { return text(u"0x10"); }, VT_I4, DISP_E_TYPEMISMATCH, ""},
        {"inner space", [] { return text(u"1 2"); }, VT_I4, DISP_E_TYPEMISMATCH, ""},
        {"word true", [] { return text(u"True"); }, VT_I4, DISP_E_TYPEMISMATCH, ""},
        {"string 2^31", [] { return text(u"2147483648"); }, VT_I4, DISP_E_OVERFLOW, ""},
        {"string -2^31-0.5", [] { return text(u"-2147483648.5"); }, VT_I4, S_OK, "I4 -2147483648"},
        {"BOOL true", [] { return make(VT_BOOL, [](VARIANT& v) { v.boolVal = VARIANT_TRUE; }); },
         VT_I4, S_OK, "I4 -1"},
        {"UI4 max (bits kept)", [] { return make(VT_UI4, [](VARIANT& v) { v.ulVal = ~0u; }); },
         VT_I4, S_OK, "I4 -1"},
        {"I8 2^32", [] { return make(VT_I8, [](VARIANT& v) { v.llVal = 1LL << 32; }); }, VT_I4,
         DISP_E_OVERFLOW, ""},
        {"UI8 max", [] { return make(VT_UI8, [](VARIANT& v) { v.ullVal = ~0ull; }); }, VT_I4,
         DISP_E_OVERFLOW, ""},
        {"error", [] { return make(VT_ERROR, [](VARIANT& v) { v.scode = DISP_E_PARAMNOTFOUND; }); },
         VT_I4, DISP_E_TYPEMISMATCH, ""},
        {"null dispatch", [] { return make(VT_DISPATCH); }, VT_I4, DISP_E_BADVARTYPE, ""},
        {"null unknown", [] { return make(VT_UNKNOWN); }, VT_I4, DISP_E_TYPEMISMATCH, ""},
        {"by reference",
         [] { return make(VT_BYREF | VT_I4, [](VARIANT& v) { v.plVal = &referenced; }); }, VT_I4,
         S_OK, "I4 42"},
        {"null reference",
         [] { return make(VT_BYREF | VT_I4, [](VARIANT& v) { v.plVal = nullptr; }); }, VT_I4,
         DISP_E_TYPEMISMATCH, ""},
        {"bad type", [] { return make(15); }, VT_I4, DISP_E_BADVARTYPE, ""},
        {"unsupported type", [] { return make(VT_DATE); }, VT_I4, DISP_E_BADVARTYPE, ""},
        // From VT_I4 and to other types.
        {"I4 to BSTR", [] { return i4(-7); }, VT_BSTR, S_OK, "BSTR \"-7\""},
        {"empty to BSTR", [] { return make(VT_EMPTY); }, VT_BSTR, S_OK, "BSTR \"\""},
        {"R8 to BSTR", [] { return r8(2.5); }, VT_BSTR, S_OK, "BSTR \"2.5\""},
        {"R8 0.1 to BSTR", [] { return r8(0.1); }, VT_BSTR, S_OK, "BSTR \"0.1\""},
        {"R8 1e15 to BSTR", [] { return r8(1e15); }, VT_BSTR, S_OK, "BSTR \"1E+15\""},
        {"R8 1e-5 to BSTR", [] { return r8(1e-5); }, VT_BSTR, S_OK, "BSTR \"1E-05\""},
        {"R4 to BSTR", [] { return make(VT_R4, [](VARIANT& v) { v.fltVal = 4294967296.0f; }); },
         VT_BSTR, S_OK, "BSTR \"4.294967E+09\""},
        {"BOOL to BSTR", [] { return make(VT_BOOL, [](VARIANT& v) { v.boolVal = VARIANT_TRUE; }); },
         VT_BSTR, S_OK, "BSTR \"-1\""},
        {"I4 to BOOL", [] { return i4(300); }, VT_BOOL, S_OK, "BOOL -1"},
        {"word to BOOL", [] { return text(u"false"); }, VT_BOOL, S_OK, "BOOL 0"},
        {"#TRUE# to BOOL", [] { return text(u"#TRUE#"); }, VT_BOOL, S_OK, "BOOL -1"},
        {"number to BOOL", [] { return text(u"0.0"); }, VT_BOOL, S_OK, "BOOL 0"},
        {"I4 to I2", [] { return i4(300); }, VT_I2, S_OK, "I2 300"},
        {"I4 to UI1", [] { return i4(300); }, VT_UI1, DISP_E_OVERFLOW, ""},
        {"I4 to UI4 (bits kept)", [] { return i4(-7); }, VT_UI4, S_OK, "UI4 4294967289"},
        {"I4 to UI2", [] { return i4(-7); }, VT_UI2, DISP_E_OVERFLOW, ""},
        {"I4 to I8", [] { return i4(-7); }, VT_I8, S_OK, "I8 -7"},
        {"I4 to R8", [] { return i4(-7); }, VT_R8, S_OK, "R8 -7"},
        {"I4 to NULL", [] { return i4(1); }, VT_NULL, S_OK, "NULL"},
        {"I4 to EMPTY", [] { return i4(1); }, VT_EMPTY, S_OK, "EMPTY"},
        {"I4 to ERROR", [] { return i4(1); }, VT_ERROR, DISP_E_TYPEMISMATCH, ""},
        {"I4 to DISPATCH", [] { return i4(1); }, VT_DISPATCH, DISP_E_TYPEMISMATCH, ""},
        {"BOOL true to UI1",
         [] { return make(VT_BOOL, [](VARIANT& v) { v.boolVal = VARIANT_TRUE; }); }, VT_UI1, S_OK,
         "UI1 255"},
        {"R8 255.5 to UI1", [] { return r8(255.5); }, VT_UI1, DISP_E_OVERFLOW, ""},
        {"R8 -0.4 to UI4", [] { return r8(-0.4); }, VT_UI4, S_OK, "UI4 0"},
        {"R8 1e300 to R4", [] { return r8(1e300); }, VT_R4, DISP_E_OVERFLOW, ""},
        {"string to R8", [] { return text(u"2147483647.5"); }, VT_R8, S_OK, "R8 2147483647.5"},
        {"string to UI8", [] { return text(u"-1"); }, VT_UI8, DISP_E_OVERFLOW, ""},
        {"null to NULL", [] { return make(VT_NULL); }, VT_NULL, S_OK, "NULL"},
        {"null to EMPTY", [] { return make(VT_NULL); }, VT_EMPTY, DISP_E_TYPEMISMATCH, ""},
        {"to a bad type", [] { return i4(1); }, 15, DISP_E_BADVARTYPE, ""},
    };
    for (const Conversion& c : table) {
        SCOPED_TRACE(c.name);
        VARIANT src = c.source();
        VARIANT out;
        VariantInit(&out);
        const HRESULT hr = VariantChangeType(&out, &src, 0, c.target);
        EXPECT_EQ(static_cast<uint32_t>(hr), static_cast<uint32_t>(c.hr));
        if (SUCCEEDED(hr))
            EXPECT_EQ(show(out), c.expected);
        else
            EXPECT_EQ(out.vt, VT_EMPTY);
        VariantClear(&out);
        if (!(src.vt & VT_BYREF)) VariantClear(&src);
    }
}

TEST(VariantChangeType, InPlaceAndOnFailure) {
    VARIANT v = i4(5); // the destination may be the source
    ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_BSTR), S_OK);
    EXPECT_EQ(show(v), "BSTR \"5\"");
    ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_I4), S_OK);
    EXPECT_EQ(show(v), "I4 5");

    VARIANT src = text(u"x"); // a failed change leaves the destination alone
    VARIANT dst = i4(3);
    EXPECT_EQ(VariantChangeType(&dst, &src, 0, VT_I4), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(show(dst), "I4 3");
    VariantClear(&src);

    VARIANT yes = make(VT_BOOL, [](VARIANT& b) { b.boolVal = VARIANT_TRUE; });
    ASSERT_EQ(VariantChangeType(&dst, &yes, VARIANT_ALPHABOOL, VT_BSTR), S_OK);
    EXPECT_EQ(show(dst), "BSTR \"True\"");
    VariantClear(&dst);
}

TEST(VariantChangeType, ObjectThroughItsValueProperty) {
    Counted object;
    VARIANT v = make(VT_DISPATCH, [&](VARIANT& d) { d.pdispVal = &object; });
    VARIANT out;
    VariantInit(&out);
    ASSERT_EQ(VariantChangeType(&out, &v, 0, VT_I4), S_OK);
    EXPECT_EQ(show(out), "I4 7");
    EXPECT_EQ(object.valueReads, 1);
    EXPECT_EQ(VariantChangeType(&out, &v, VARIANT_NOVALUEPROP, VT_I4), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(object.valueReads, 1);

    ASSERT_EQ(VariantChangeType(&out, &v, 0, VT_UNKNOWN), S_OK);
    EXPECT_EQ(out.punkVal, static_cast<IUnknown*>(&object));
    EXPECT_EQ(object.refs, 2u);
    VariantClear(&out);
    EXPECT_EQ(object.refs, 1u);
}

} // namespace
