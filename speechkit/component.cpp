#include "component.h"

#include "common/codepage.h"

#include <cstdio>
#include <cstdlib>

namespace speechkit {

const CLSID CLSID_XKitSR = {
    0xCF3EBAC7, 0x13B9, 0x4AD1, {0x9F, 0x02, 0x0D, 0xF1, 0x71, 0xDD, 0x07, 0x45}};
const CLSID CLSID_XKitTTS = {
    0x0569CB75, 0x9711, 0x40B5, {0x91, 0xA7, 0x1B, 0x24, 0x7E, 0x7F, 0x7F, 0x2B}};
const IID IID_IXKitSR = {
    0x2CE28FE6, 0x392E, 0x4852, {0x8A, 0x3E, 0xC4, 0xD2, 0xE8, 0xE7, 0x6B, 0xF8}};
const IID IID_IXKitTTS = {
    0xD760261F, 0x1FB8, 0x45F6, {0x8B, 0xC1, 0xED, 0x2E, 0x17, 0x1B, 0xE8, 0x69}};
const IID IID_IXKitTTSEngine = {
    0x726CA2C1, 0xC253, 0x4480, {0x82, 0x95, 0xFC, 0x61, 0xA8, 0x05, 0x66, 0x4A}};
const IID IID_IXKitSREvent = {
    0x2BFFC62D, 0xE89F, 0x43C5, {0x80, 0x2B, 0x15, 0x22, 0xE2, 0xA9, 0xE9, 0x60}};
const IID IID_IXKitSREvents = {
    0x6F1C2B4E, 0x93A7, 0x4E0B, {0x9D, 0x52, 0x7A, 0x4C, 0x1E, 0x8B, 0x3D, 0x90}};

namespace {
std::atomic<long> g_locks{0};
}

void moduleLock() {
    ++g_locks;
}
void moduleUnlock() {
    --g_locks;
}
long moduleLockCount() {
    return g_locks.load();
}

std::string utf8FromOle(const OLECHAR* text, std::size_t length) {
    std::string out;
    out.reserve(length);
    for (std::size_t i = 0; i < length; ++i) {
        char32_t unit = static_cast<char16_t>(text[i]);
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < length) {
            const char32_t low = static_cast<char16_t>(text[i + 1]);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                common::appendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                ++i;
                continue;
            }
        }
        if (unit >= 0xD800 && unit <= 0xDFFF) unit = 0xFFFD;
        common::appendUtf8(out, unit);
    }
    return out;
}

std::string utf8FromBstr(BSTR text) {
    if (!text) return std::string();
    return utf8FromOle(text, SysStringLen(text));
}

BSTR bstrFromUtf8(const std::string& text) {
    std::u16string wide;
    wide.reserve(text.size());
    std::size_t pos = 0;
    while (pos < text.size()) {
        char32_t cp = 0;
        std::size_t n = common::decodeUtf8(text, pos, cp);
        if (n == 0) { // cut short at the end
            cp = 0xFFFD;
            n = text.size() - pos;
        }
        pos += n;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            wide.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            wide.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            wide.push_back(static_cast<char16_t>(cp));
        }
    }
    static_assert(sizeof(OLECHAR) == sizeof(char16_t), "OLECHAR is one UTF-16 unit");
    return SysAllocStringLen(reinterpret_cast<const OLECHAR*>(wide.data()),
                             static_cast<UINT>(wide.size()));
}

std::string utf8FromFileBytes(const std::string& bytes) {
    bool valid = true;
    std::size_t pos = 0;
    while (valid && pos < bytes.size()) {
        char32_t cp = 0;
        const std::size_t n = common::decodeUtf8(bytes, pos, cp);
        if (n == 0 || (cp == 0xFFFD && n == 1)) valid = false;
        pos += n;
    }
    if (valid) return bytes;
    std::string out;
    for (unsigned char c : bytes)
        common::appendUtf8(out, common::cp1252ToUnicode(c));
    return out;
}

std::string guidText(const GUID& g) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned long>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
                  g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return buf;
}

std::string environmentUtf8(const char* name) {
#if defined(_WIN32)
    std::wstring wname(name, name + std::char_traits<char>::length(name));
    const wchar_t* value = _wgetenv(wname.c_str());
    if (!value) return std::string();
    return utf8FromOle(value, std::char_traits<wchar_t>::length(value));
#else
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
#endif
}

} // namespace speechkit
