// BSTR and VARIANT, with oleaut32's ownership rules and conversions.
//
// The conversion results follow oleaut32 as measured under Wine 8 (a table of
// every source and target type this file handles), including its quirks:
// between integer types of the same size the bits are kept (VT_UI4
// 0xFFFFFFFF becomes VT_I4 -1), a VT_BOOL converts like a C cast of its
// 16-bit value, and a string converts exactly (ties to even on the decimal
// digits, not on a double). Strings are read with the en-US rules: spaces
// around, a sign (spaces may follow it), thousands commas after the first
// digit, a decimal point, an exponent. Not read here, unlike oleaut32:
// currency signs, parentheses or a trailing sign for negatives, &H and &O.
#include "internal.h"

#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

// ---- BSTR ------------------------------------------------------------------------------

namespace {

// The allocation: 4 bytes of padding (so the characters are 8-byte
// aligned), the 32-bit byte length, the characters, a null character.
constexpr size_t kBstrHeader = 8;
constexpr UINT kMaxBstrBytes = 0x7FFFFFF0u;

BSTR allocateBytes(const void* data, UINT bytes) {
    if (bytes > kMaxBstrBytes) return nullptr;
    char* block = static_cast<char*>(std::malloc(kBstrHeader + bytes + sizeof(OLECHAR)));
    if (!block) return nullptr;
    const uint32_t length = bytes;
    std::memset(block, 0, 4);
    std::memcpy(block + 4, &length, sizeof length);
    if (data)
        std::memcpy(block + kBstrHeader, data, bytes);
    else
        std::memset(block + kBstrHeader, 0, bytes);
    block[kBstrHeader + bytes] = 0;
    block[kBstrHeader + bytes + 1] = 0;
    return reinterpret_cast<BSTR>(block + kBstrHeader);
}

BSTR asciiBstr(const std::string& text) {
    BSTR s = SysAllocStringLen(nullptr, static_cast<UINT>(text.size()));
    if (s)
        for (size_t i = 0; i < text.size(); ++i)
            s[i] = static_cast<unsigned char>(text[i]);
    return s;
}

} // namespace

extern "C" VCOM_EXPORT BSTR SysAllocStringLen(const OLECHAR* pch, UINT len) {
    if (len > kMaxBstrBytes / sizeof(OLECHAR)) return nullptr;
    return allocateBytes(pch, len * static_cast<UINT>(sizeof(OLECHAR)));
}

extern "C" VCOM_EXPORT BSTR SysAllocString(const OLECHAR* psz) {
    if (!psz) return nullptr;
    const size_t n = vcom::textLength(psz);
    if (n > kMaxBstrBytes / sizeof(OLECHAR)) return nullptr;
    return SysAllocStringLen(psz, static_cast<UINT>(n));
}

extern "C" VCOM_EXPORT BSTR SysAllocStringByteLen(LPCSTR psz, UINT len) {
    return allocateBytes(psz, len);
}

extern "C" VCOM_EXPORT void SysFreeString(BSTR bstrString) {
    if (bstrString) std::free(reinterpret_cast<char*>(bstrString) - kBstrHeader);
}

extern "C" VCOM_EXPORT UINT SysStringByteLen(BSTR bstr) {
    if (!bstr) return 0;
    uint32_t length;
    std::memcpy(&length, reinterpret_cast<char*>(bstr) - 4, sizeof length);
    return length;
}

extern "C" VCOM_EXPORT UINT SysStringLen(BSTR pbstr) {
    return SysStringByteLen(pbstr) / static_cast<UINT>(sizeof(OLECHAR));
}

// ---- VARIANT ownership ---------------------------------------------------------------------

namespace {

// The types a VARIANT may hold here. VT_ARRAY and VT_RECORD are valid on
// Windows but unsupported (no SAFEARRAY, no IRecordInfo): refused.
HRESULT checkType(VARTYPE vt) {
    const VARTYPE base = vt & VT_TYPEMASK;
    const VARTYPE extra = vt & ~VT_TYPEMASK;
    if (extra & ~VT_BYREF) return DISP_E_BADVARTYPE;
    if (base >= VT_VOID || base == 15) return DISP_E_BADVARTYPE;
    if ((extra & VT_BYREF) && base <= VT_NULL) return DISP_E_BADVARTYPE;
    return S_OK;
}

} // namespace

extern "C" VCOM_EXPORT void VariantInit(VARIANTARG* pvarg) {
    if (pvarg) pvarg->vt = VT_EMPTY;
}

extern "C" VCOM_EXPORT HRESULT VariantClear(VARIANTARG* pvarg) {
    if (!pvarg) return E_INVALIDARG;
    const HRESULT hr = checkType(pvarg->vt);
    if (FAILED(hr)) return hr;
    if (pvarg->vt == VT_BSTR) {
        SysFreeString(pvarg->bstrVal);
    } else if (pvarg->vt == VT_DISPATCH || pvarg->vt == VT_UNKNOWN) {
        if (pvarg->punkVal) pvarg->punkVal->Release();
    }
    pvarg->vt = VT_EMPTY;
    return S_OK;
}

extern "C" VCOM_EXPORT HRESULT VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc) {
    if (!pvargDest || !pvargSrc) return E_INVALIDARG;
    if (pvargDest == pvargSrc) return S_OK;
    HRESULT hr = checkType(pvargSrc->vt);
    if (FAILED(hr)) return hr;
    hr = VariantClear(pvargDest);
    if (FAILED(hr)) return hr;
    *pvargDest = *pvargSrc;
    if (pvargSrc->vt == VT_BSTR) {
        // As oleaut32: the copy of a null BSTR is an empty one.
        pvargDest->bstrVal = SysAllocStringByteLen(reinterpret_cast<LPCSTR>(pvargSrc->bstrVal),
                                                   SysStringByteLen(pvargSrc->bstrVal));
        if (!pvargDest->bstrVal) {
            pvargDest->vt = VT_EMPTY;
            return E_OUTOFMEMORY;
        }
    } else if (pvargSrc->vt == VT_DISPATCH || pvargSrc->vt == VT_UNKNOWN) {
        if (pvargSrc->punkVal) pvargSrc->punkVal->AddRef();
    }
    return S_OK;
}

// ---- conversions -----------------------------------------------------------------------------

namespace {

bool isIntegerType(VARTYPE vt) {
    switch (vt) {
    case VT_I1:
    case VT_I2:
    case VT_I4:
    case VT_I8:
    case VT_INT:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_UI8:
    case VT_UINT:
        return true;
    default:
        return false;
    }
}
bool isSignedType(VARTYPE vt) {
    return vt == VT_I1 || vt == VT_I2 || vt == VT_I4 || vt == VT_I8 || vt == VT_INT;
}
int sizeOfType(VARTYPE vt) {
    switch (vt) {
    case VT_I1:
    case VT_UI1:
        return 1;
    case VT_I2:
    case VT_UI2:
        return 2;
    case VT_I8:
    case VT_UI8:
        return 8;
    default:
        return 4;
    }
}

// A number on its way from one type to another: an integer as sign and
// magnitude (bits holds its two's complement form), or a real.
struct Number {
    bool real = false;
    double value = 0;      // when real
    bool negative = false; // when integer
    uint64_t magnitude = 0;
    uint64_t bits = 0;
    int size = 8;          // bytes of the source integer type
    bool isSigned = true;  // of the source integer type
    bool fromBool = false; // a VT_BOOL converts like a C cast
};

Number integerNumber(int64_t v, int size, bool isSigned) {
    Number n;
    n.negative = v < 0;
    n.magnitude = n.negative ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
    n.bits = static_cast<uint64_t>(v);
    n.size = size;
    n.isSigned = isSigned;
    return n;
}
Number unsignedNumber(uint64_t v, int size) {
    Number n;
    n.magnitude = v;
    n.bits = v;
    n.size = size;
    n.isSigned = false;
    return n;
}
Number realNumber(double v) {
    Number n;
    n.real = true;
    n.value = v;
    return n;
}

// A number from a plain (not by-reference) numeric VARIANT.
bool readNumber(const VARIANT& in, Number& n) {
    switch (in.vt) {
    case VT_EMPTY:
        n = integerNumber(0, 8, true);
        return true;
    case VT_I1:
        n = integerNumber(in.cVal, 1, true);
        return true;
    case VT_I2:
        n = integerNumber(in.iVal, 2, true);
        return true;
    case VT_I4:
        n = integerNumber(in.lVal, 4, true);
        return true;
    case VT_INT:
        n = integerNumber(in.intVal, 4, true);
        return true;
    case VT_I8:
        n = integerNumber(in.llVal, 8, true);
        return true;
    case VT_UI1:
        n = unsignedNumber(in.bVal, 1);
        return true;
    case VT_UI2:
        n = unsignedNumber(in.uiVal, 2);
        return true;
    case VT_UI4:
        n = unsignedNumber(in.ulVal, 4);
        return true;
    case VT_UINT:
        n = unsignedNumber(in.uintVal, 4);
        return true;
    case VT_UI8:
        n = unsignedNumber(in.ullVal, 8);
        return true;
    case VT_R4:
        n = realNumber(in.fltVal);
        return true;
    case VT_R8:
        n = realNumber(in.dblVal);
        return true;
    case VT_BOOL:
        n = integerNumber(in.boolVal, 2, true);
        n.fromBool = true;
        return true;
    default:
        return false;
    }
}

void storeInteger(VARIANT& out, VARTYPE vt, uint64_t bits) {
    out.vt = vt;
    switch (vt) {
    case VT_I1:
        out.cVal = static_cast<CHAR>(static_cast<int8_t>(bits));
        break;
    case VT_UI1:
        out.bVal = static_cast<BYTE>(bits);
        break;
    case VT_I2:
        out.iVal = static_cast<SHORT>(bits);
        break;
    case VT_UI2:
        out.uiVal = static_cast<USHORT>(bits);
        break;
    case VT_I4:
        out.lVal = static_cast<LONG>(bits);
        break;
    case VT_INT:
        out.intVal = static_cast<INT>(bits);
        break;
    case VT_UI4:
        out.ulVal = static_cast<ULONG>(bits);
        break;
    case VT_UINT:
        out.uintVal = static_cast<UINT>(bits);
        break;
    case VT_I8:
        out.llVal = static_cast<LONGLONG>(bits);
        break;
    default:
        out.ullVal = bits;
        break;
    }
}

// Whether a value given as sign and magnitude fits the integer type; its
// two's complement bits when it does.
bool fits(bool negative, uint64_t magnitude, VARTYPE vt, uint64_t& bits) {
    const int size = sizeOfType(vt);
    if (isSignedType(vt)) {
        const uint64_t limit = uint64_t{1} << (8 * size - 1); // |min|; max is limit - 1
        if (negative ? magnitude > limit : magnitude >= limit) return false;
    } else {
        if (negative && magnitude != 0) return false;
        if (size < 8 && magnitude >= (uint64_t{1} << (8 * size))) return false;
    }
    bits = negative ? 0 - magnitude : magnitude;
    return true;
}

HRESULT numberToInteger(const Number& n, VARTYPE vt, VARIANT& out) {
    uint64_t bits = 0;
    if (n.fromBool) {
        bits = n.bits;
    } else if (n.real) {
        const double r = std::nearbyint(n.value); // ties to even
        if (std::isnan(r) || std::fabs(r) >= 18446744073709551616.0) return DISP_E_OVERFLOW;
        if (!fits(r < 0, static_cast<uint64_t>(std::fabs(r)), vt, bits)) return DISP_E_OVERFLOW;
    } else if (n.size == sizeOfType(vt) && n.isSigned != isSignedType(vt)) {
        bits = n.bits; // same size: the bits are kept
    } else if (!fits(n.negative, n.magnitude, vt, bits)) {
        return DISP_E_OVERFLOW;
    }
    storeInteger(out, vt, bits);
    return S_OK;
}

double numberToDouble(const Number& n) {
    if (n.real) return n.value;
    const double m = static_cast<double>(n.magnitude);
    return n.negative ? -m : m;
}

HRESULT doubleToFloat(double d, VARIANT& out) {
    if (d < -FLT_MAX || d > FLT_MAX) return DISP_E_OVERFLOW;
    out.vt = VT_R4;
    out.fltVal = static_cast<float>(d);
    return S_OK;
}

std::string realText(double d, int digits) {
    char buffer[64];
    auto done =
        std::to_chars(buffer, buffer + sizeof buffer, d, std::chars_format::general, digits);
    std::string text(buffer, done.ptr);
    for (char& c : text)
        if (c == 'e') c = 'E';
    return text;
}

std::string integerText(const Number& n) {
    return (n.negative ? "-" : "") + std::to_string(n.magnitude);
}

// ---- numbers in strings ----

struct ParsedNumber {
    bool negative = false;
    std::string digits;     // significant digits, no leading zeros
    long long exponent = 0; // value = digits * 10^exponent
};

bool isSpace(OLECHAR c) {
    return c == ' ' || (c >= 0x09 && c <= 0x0D);
}
bool isDigit(OLECHAR c) {
    return c >= '0' && c <= '9';
}

bool parseNumberText(BSTR s, ParsedNumber& out) {
    if (!s) return false;
    const size_t n = SysStringLen(s);
    size_t i = 0;
    while (i < n && isSpace(s[i]))
        ++i;
    if (i < n && (s[i] == '+' || s[i] == '-')) {
        out.negative = s[i] == '-';
        ++i;
        while (i < n && isSpace(s[i]))
            ++i;
    }
    std::string digits;
    long long fractionDigits = 0;
    bool anyDigit = false;
    while (i < n && (isDigit(s[i]) || (s[i] == ',' && anyDigit))) {
        if (s[i] != ',') {
            digits += static_cast<char>(s[i]);
            anyDigit = true;
        }
        ++i;
    }
    if (i < n && s[i] == '.') {
        ++i;
        while (i < n && isDigit(s[i])) {
            digits += static_cast<char>(s[i]);
            ++fractionDigits;
            anyDigit = true;
            ++i;
        }
    }
    if (!anyDigit) return false;
    long long exponent = 0;
    if (i < n && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        bool negativeExponent = false;
        if (i < n && (s[i] == '+' || s[i] == '-')) {
            negativeExponent = s[i] == '-';
            ++i;
        }
        if (i >= n || !isDigit(s[i])) return false;
        while (i < n && isDigit(s[i])) {
            if (exponent < 100000000) exponent = exponent * 10 + (s[i] - '0'); // saturates
            ++i;
        }
        if (negativeExponent) exponent = -exponent;
    }
    while (i < n && isSpace(s[i]))
        ++i;
    if (i != n) return false;
    const size_t firstNonZero = digits.find_first_not_of('0');
    out.digits = firstNonZero == std::string::npos ? "" : digits.substr(firstNonZero);
    out.exponent = exponent - fractionDigits;
    return true;
}

// The integer nearest to the exact decimal value, ties to even.
bool parsedToInteger(const ParsedNumber& p, bool& negative, uint64_t& magnitude) {
    negative = p.negative;
    magnitude = 0;
    if (p.digits.empty()) return true;
    const long long count = static_cast<long long>(p.digits.size());
    const long long integerDigits = count + p.exponent;
    if (integerDigits > 20) return false;
    for (long long k = 0; k < integerDigits; ++k) {
        const unsigned digit = k < count ? static_cast<unsigned>(p.digits[k] - '0') : 0;
        if (magnitude > (UINT64_MAX - digit) / 10) return false;
        magnitude = magnitude * 10 + digit;
    }
    unsigned first = 0; // the first digit dropped
    bool restNonZero = false;
    for (long long k = integerDigits < 0 ? 0 : integerDigits; k < count; ++k) {
        const unsigned digit = static_cast<unsigned>(p.digits[k] - '0');
        if (k == integerDigits)
            first = digit;
        else if (digit != 0)
            restNonZero = true;
    }
    if (integerDigits < 0) { // every digit lies after a leading dropped zero
        restNonZero = true;
        first = 0;
    }
    const bool up = first > 5 || (first == 5 && (restNonZero || (magnitude & 1)));
    if (up) {
        if (magnitude == UINT64_MAX) return false;
        ++magnitude;
    }
    return true;
}

HRESULT parsedToDouble(const ParsedNumber& p, double& out) {
    if (p.digits.empty()) {
        out = p.negative ? -0.0 : 0.0;
        return S_OK;
    }
    const std::string text = p.digits + "e" + std::to_string(p.exponent);
    double value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (result.ec == std::errc::result_out_of_range) {
        const long long magnitude = static_cast<long long>(p.digits.size()) + p.exponent;
        if (magnitude > 0) return DISP_E_OVERFLOW;
        value = 0; // too small to tell from zero
    } else if (result.ec != std::errc()) {
        return DISP_E_TYPEMISMATCH;
    }
    out = p.negative ? -value : value;
    return S_OK;
}

bool sameTextIgnoringCase(BSTR s, const char* word) {
    const size_t n = SysStringLen(s);
    if (n != std::strlen(word)) return false;
    for (size_t i = 0; i < n; ++i) {
        OLECHAR c = s[i];
        if (c >= 'a' && c <= 'z') c = static_cast<OLECHAR>(c - 'a' + 'A');
        if (c != static_cast<unsigned char>(word[i])) return false;
    }
    return true;
}

HRESULT stringToTarget(BSTR s, VARTYPE vt, VARIANT& out) {
    if (vt == VT_BOOL) {
        if (s && (sameTextIgnoringCase(s, "TRUE") || sameTextIgnoringCase(s, "#TRUE#"))) {
            out.vt = VT_BOOL;
            out.boolVal = VARIANT_TRUE;
            return S_OK;
        }
        if (s && (sameTextIgnoringCase(s, "FALSE") || sameTextIgnoringCase(s, "#FALSE#"))) {
            out.vt = VT_BOOL;
            out.boolVal = VARIANT_FALSE;
            return S_OK;
        }
    }
    ParsedNumber p;
    if (!parseNumberText(s, p)) return DISP_E_TYPEMISMATCH;
    if (vt == VT_BOOL) {
        out.vt = VT_BOOL;
        out.boolVal = p.digits.empty() ? VARIANT_FALSE : VARIANT_TRUE;
        return S_OK;
    }
    if (vt == VT_R8 || vt == VT_R4) {
        double d = 0;
        const HRESULT hr = parsedToDouble(p, d);
        if (FAILED(hr)) return hr;
        if (vt == VT_R4) return doubleToFloat(d, out);
        out.vt = VT_R8;
        out.dblVal = d;
        return S_OK;
    }
    bool negative = false;
    uint64_t magnitude = 0, bits = 0;
    if (!parsedToInteger(p, negative, magnitude) || !fits(negative, magnitude, vt, bits))
        return DISP_E_OVERFLOW;
    storeInteger(out, vt, bits);
    return S_OK;
}

HRESULT numberToTarget(const Number& n, VARTYPE vt, USHORT flags, VARIANT& out) {
    if (isIntegerType(vt)) return numberToInteger(n, vt, out);
    switch (vt) {
    case VT_R8:
        out.vt = VT_R8;
        out.dblVal = numberToDouble(n);
        return S_OK;
    case VT_R4:
        if (!n.real) {
            out.vt = VT_R4;
            out.fltVal = static_cast<float>(numberToDouble(n));
            return S_OK;
        }
        return doubleToFloat(n.value, out);
    case VT_BOOL:
        out.vt = VT_BOOL;
        out.boolVal = (n.real ? n.value != 0 : n.magnitude != 0) ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    case VT_BSTR: {
        std::string text;
        if (n.fromBool && (flags & (VARIANT_ALPHABOOL | VARIANT_LOCALBOOL)))
            text = n.magnitude ? "True" : "False";
        else if (n.real)
            text = realText(n.value, n.size == 4 ? 7 : 15);
        else
            text = integerText(n);
        out.bstrVal = asciiBstr(text);
        if (!out.bstrVal) return E_OUTOFMEMORY;
        out.vt = VT_BSTR;
        return S_OK;
    }
    default:
        return DISP_E_BADVARTYPE;
    }
}

bool supportedTarget(VARTYPE vt) {
    return isIntegerType(vt) || vt == VT_EMPTY || vt == VT_NULL || vt == VT_R4 || vt == VT_R8 ||
           vt == VT_BOOL || vt == VT_BSTR || vt == VT_ERROR || vt == VT_DISPATCH ||
           vt == VT_UNKNOWN;
}
bool supportedSource(VARTYPE vt) {
    return supportedTarget(vt);
}

HRESULT coerce(const VARIANT& in, USHORT flags, VARTYPE vt, VARIANT& out);

// A dispatch object converts through its value property (DISPID_VALUE).
HRESULT fromValueProperty(IDispatch* object, USHORT flags, VARTYPE vt, VARIANT& out) {
    if (!object) return DISP_E_BADVARTYPE; // as oleaut32 answers for a null object
    if (flags & VARIANT_NOVALUEPROP) return DISP_E_TYPEMISMATCH;
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    VARIANT value;
    VariantInit(&value);
    HRESULT hr = object->Invoke(DISPID_VALUE, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET,
                                &none, &value, nullptr, nullptr);
    if (FAILED(hr)) return DISP_E_TYPEMISMATCH;
    if (checkType(value.vt) != S_OK || (value.vt & VT_BYREF)) {
        VariantClear(&value);
        return DISP_E_TYPEMISMATCH;
    }
    // Not through another object's value: no endless chain of objects.
    hr = coerce(value, static_cast<USHORT>(flags | VARIANT_NOVALUEPROP), vt, out);
    VariantClear(&value);
    return hr;
}

// Converts a plain VARIANT to type vt into out (VT_EMPTY on entry).
HRESULT coerce(const VARIANT& in, USHORT flags, VARTYPE vt, VARIANT& out) {
    if (!supportedSource(in.vt) || !supportedTarget(vt)) return DISP_E_BADVARTYPE;
    if (in.vt == vt) return VariantCopy(&out, &in);
    switch (vt) {
    case VT_EMPTY:
        if (in.vt == VT_NULL || in.vt == VT_ERROR) return DISP_E_TYPEMISMATCH;
        out.vt = VT_EMPTY;
        return S_OK;
    case VT_NULL:
        if (in.vt == VT_ERROR) return DISP_E_TYPEMISMATCH;
        out.vt = VT_NULL;
        return S_OK;
    case VT_ERROR:
        return DISP_E_TYPEMISMATCH;
    case VT_DISPATCH:
    case VT_UNKNOWN: {
        if (in.vt != VT_DISPATCH && in.vt != VT_UNKNOWN) return DISP_E_TYPEMISMATCH;
        void* object = nullptr;
        if (in.punkVal) {
            const HRESULT hr = in.punkVal->QueryInterface(
                vt == VT_DISPATCH ? IID_IDispatch : IID_IUnknown, &object);
            if (FAILED(hr)) return hr;
        }
        out.vt = vt;
        out.punkVal = static_cast<IUnknown*>(object);
        if (vt == VT_DISPATCH) out.pdispVal = static_cast<IDispatch*>(object);
        return S_OK;
    }
    default:
        break;
    }
    // A number, a boolean or a string.
    if (in.vt == VT_DISPATCH) return fromValueProperty(in.pdispVal, flags, vt, out);
    if (in.vt == VT_NULL || in.vt == VT_ERROR || in.vt == VT_UNKNOWN) return DISP_E_TYPEMISMATCH;
    if (in.vt == VT_BSTR) return stringToTarget(in.bstrVal, vt, out);
    if (in.vt == VT_EMPTY && vt == VT_BSTR) {
        out.bstrVal = SysAllocStringLen(nullptr, 0);
        if (!out.bstrVal) return E_OUTOFMEMORY;
        out.vt = VT_BSTR;
        return S_OK;
    }
    Number n;
    if (!readNumber(in, n)) return DISP_E_TYPEMISMATCH;
    if (in.vt == VT_R4) n.size = 4; // prints with a float's digits
    return numberToTarget(n, vt, flags, out);
}

// A shallow, plain view of a by-reference VARIANT (nothing is owned).
HRESULT dereference(const VARIANT& in, VARIANT& plain) {
    if (!(in.vt & VT_BYREF)) {
        plain = in;
        return S_OK;
    }
    if (!in.byref) return DISP_E_TYPEMISMATCH;
    const VARTYPE base = in.vt & VT_TYPEMASK;
    plain.vt = base;
    switch (base) {
    case VT_I1:
        plain.cVal = *in.pcVal;
        break;
    case VT_UI1:
        plain.bVal = *in.pbVal;
        break;
    case VT_I2:
        plain.iVal = *in.piVal;
        break;
    case VT_UI2:
        plain.uiVal = *in.puiVal;
        break;
    case VT_I4:
        plain.lVal = *in.plVal;
        break;
    case VT_UI4:
        plain.ulVal = *in.pulVal;
        break;
    case VT_INT:
        plain.intVal = *in.pintVal;
        break;
    case VT_UINT:
        plain.uintVal = *in.puintVal;
        break;
    case VT_I8:
        plain.llVal = *in.pllVal;
        break;
    case VT_UI8:
        plain.ullVal = *in.pullVal;
        break;
    case VT_R4:
        plain.fltVal = *in.pfltVal;
        break;
    case VT_R8:
        plain.dblVal = *in.pdblVal;
        break;
    case VT_BOOL:
        plain.boolVal = *in.pboolVal;
        break;
    case VT_ERROR:
        plain.scode = *in.pscode;
        break;
    case VT_BSTR:
        plain.bstrVal = *in.pbstrVal;
        break;
    case VT_UNKNOWN:
        plain.punkVal = *in.ppunkVal;
        break;
    case VT_DISPATCH:
        plain.pdispVal = *in.ppdispVal;
        break;
    case VT_VARIANT:
        plain = *in.pvarVal;
        if (checkType(plain.vt) != S_OK || (plain.vt & VT_BYREF)) return DISP_E_BADVARTYPE;
        break;
    default:
        return DISP_E_BADVARTYPE;
    }
    return S_OK;
}

} // namespace

extern "C" VCOM_EXPORT HRESULT VariantChangeType(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc,
                                                 USHORT wFlags, VARTYPE vt) {
    if (!pvargDest || !pvarSrc) return E_INVALIDARG;
    HRESULT hr = checkType(pvarSrc->vt);
    if (SUCCEEDED(hr)) hr = checkType(vt);
    if (FAILED(hr)) return hr;
    VARIANT plain;
    VariantInit(&plain);
    hr = dereference(*pvarSrc, plain);
    if (FAILED(hr)) return hr;
    VARIANT result;
    VariantInit(&result);
    hr = coerce(plain, wFlags, vt, result);
    if (FAILED(hr)) {
        VariantClear(&result);
        return hr; // the destination stays as it was
    }
    // Only now: the destination may be the source.
    hr = VariantClear(pvargDest);
    if (FAILED(hr)) {
        VariantClear(&result);
        return hr;
    }
    *pvargDest = result;
    return S_OK;
}
