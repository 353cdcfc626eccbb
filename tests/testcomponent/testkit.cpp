// The component's objects, written once against the COM vocabulary.
#include "testkit.h"

#include "../../common/codepage.h"
#include "../../platform/apartment.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <new>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

namespace testkit {

namespace {

// {6F1C2B4E-93A7-4E0B-9D52-7A4C1E8B3D90}: the recogniser's events.
const IID kEventsIid = {
    0x6F1C2B4E, 0x93A7, 0x4E0B, {0x9D, 0x52, 0x7A, 0x4C, 0x1E, 0x8B, 0x3D, 0x90}};

// Connection-point errors, as the system's headers number them.
const HRESULT kNoConnection = static_cast<HRESULT>(0x80040200L);  // CONNECT_E_NOCONNECTION
const HRESULT kCannotConnect = static_cast<HRESULT>(0x80040202L); // CONNECT_E_CANNOTCONNECT

constexpr long kEngineResource = 18;
constexpr long kEventResource = 19;
constexpr long kDictationVocab = 15;
constexpr long kEngineProperty = 5;
constexpr long kHasTextCallback = 38;
constexpr long kSynchronous = 1;

bool sameGuid(const GUID& a, const GUID& b) {
    return std::memcmp(&a, &b, sizeof(GUID)) == 0;
}

std::atomic<long> locks{0};

// ---- text -------------------------------------------------------------------

using Wide = std::basic_string<OLECHAR>;

std::string utf8Of(const OLECHAR* text, std::size_t length) {
    std::string out;
    for (std::size_t i = 0; i < length; ++i) {
        char32_t unit = static_cast<char16_t>(text[i]);
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < length) {
            const char32_t low = static_cast<char16_t>(text[i + 1]);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        common::appendUtf8(out, unit);
    }
    return out;
}

std::string utf8Of(BSTR text) {
    return text == nullptr ? std::string() : utf8Of(text, SysStringLen(text));
}

Wide wideOf(const std::string& utf8) {
    Wide out;
    for (std::size_t pos = 0; pos < utf8.size();) {
        char32_t cp = 0;
        std::size_t used = common::decodeUtf8(utf8, pos, cp);
        if (used == 0) {
            cp = 0xFFFD;
            used = utf8.size() - pos;
        }
        pos += used;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<OLECHAR>(0xD800 + (cp >> 10));
            out += static_cast<OLECHAR>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<OLECHAR>(cp);
        }
    }
    return out;
}

BSTR bstrOf(const std::string& utf8) {
    const Wide wide = wideOf(utf8);
    return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

// ---- the script ---------------------------------------------------------------

struct Script {
    std::map<std::string, std::string> values;

    std::string get(const std::string& key, const std::string& otherwise = "") const {
        const auto it = values.find(key);
        return it == values.end() ? otherwise : it->second;
    }
    bool has(const std::string& key) const { return values.count(key) != 0; }
    long number(const std::string& key, long otherwise) const {
        return has(key) ? std::strtol(get(key).c_str(), nullptr, 10) : otherwise;
    }
    bool fails(const std::string& member) const {
        std::stringstream list(get("fail"));
        std::string item;
        while (std::getline(list, item, ','))
            if (item == member) return true;
        return false;
    }
    std::vector<std::string> engines() const {
        std::vector<std::string> names;
        const std::string all = get("engines", "Verdel Test Voice|Verdel Second Voice");
        if (all.empty()) return names;
        std::size_t start = 0;
        for (;;) {
            const std::size_t bar = all.find('|', start);
            names.push_back(all.substr(start, bar - start));
            if (bar == std::string::npos) break;
            start = bar + 1;
        }
        return names;
    }
};

Script readScript() {
    Script script;
    const std::string path = envValue("VERDEL_TESTKIT_SCRIPT");
    if (path.empty()) return script;
    std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        script.values[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return script;
}

// ---- the log ------------------------------------------------------------------

std::mutex logLock;

std::string escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\t')
            out += "\\t";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else
            out += c;
    }
    return out;
}

void logLine(const std::vector<std::string>& fields) {
    const std::string path = envValue("VERDEL_TESTKIT_LOG");
    if (path.empty()) return;
    std::string line;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) line += '\t';
        line += fields[i];
    }
    line += '\n';
    std::lock_guard<std::mutex> hold(logLock);
    std::ofstream out(std::filesystem::u8path(path), std::ios::binary | std::ios::app);
    out << line;
}

const std::map<VARTYPE, std::string>& typeNames() {
    static const std::map<VARTYPE, std::string> names = {
        {VT_EMPTY, "EMPTY"},     {VT_NULL, "NULL"},
        {VT_I2, "I2"},           {VT_I4, "I4"},
        {VT_R4, "R4"},           {VT_R8, "R8"},
        {VT_CY, "CY"},           {VT_DATE, "DATE"},
        {VT_BSTR, "BSTR"},       {VT_DISPATCH, "DISPATCH"},
        {VT_ERROR, "ERROR"},     {VT_BOOL, "BOOL"},
        {VT_VARIANT, "VARIANT"}, {VT_UNKNOWN, "UNKNOWN"},
        {VT_DECIMAL, "DECIMAL"}, {VT_I1, "I1"},
        {VT_UI1, "UI1"},         {VT_UI2, "UI2"},
        {VT_UI4, "UI4"},         {VT_I8, "I8"},
        {VT_UI8, "UI8"},         {VT_INT, "INT"},
        {VT_UINT, "UINT"}};
    return names;
}

std::string typeName(VARTYPE vt) {
    const auto it = typeNames().find(static_cast<VARTYPE>(vt & VT_TYPEMASK));
    std::string name = it != typeNames().end() ? it->second : std::to_string(vt & VT_TYPEMASK);
    if (vt & VT_BYREF) name = "BYREF|" + name;
    if (vt & VT_ARRAY) name = "ARRAY|" + name;
    return name;
}

VARTYPE typeOf(const std::string& name) {
    for (const auto& entry : typeNames())
        if (entry.second == name) return entry.first;
    return VT_I4;
}

std::string valueText(const VARIANT& v) {
    char buffer[64] = "";
    switch (v.vt) {
    case VT_BSTR:
        return escaped(utf8Of(v.bstrVal));
    case VT_I1:
        return std::to_string(static_cast<int>(v.cVal));
    case VT_UI1:
        return std::to_string(static_cast<int>(v.bVal));
    case VT_I2:
        return std::to_string(v.iVal);
    case VT_UI2:
        return std::to_string(v.uiVal);
    case VT_I4:
        return std::to_string(static_cast<long>(v.lVal));
    case VT_UI4:
        return std::to_string(static_cast<unsigned long>(v.ulVal));
    case VT_INT:
        return std::to_string(v.intVal);
    case VT_UINT:
        return std::to_string(v.uintVal);
    case VT_I8:
        return std::to_string(static_cast<long long>(v.llVal));
    case VT_UI8:
        return std::to_string(static_cast<unsigned long long>(v.ullVal));
    case VT_R4:
        std::snprintf(buffer, sizeof buffer, "%g", static_cast<double>(v.fltVal));
        return buffer;
    case VT_R8:
        std::snprintf(buffer, sizeof buffer, "%g", v.dblVal);
        return buffer;
    case VT_BOOL:
        return v.boolVal ? "true" : "false";
    case VT_DISPATCH:
    case VT_UNKNOWN:
        return v.punkVal ? "object" : "null";
    default:
        return "";
    }
}

std::string argumentText(const VARIANT& v) {
    return typeName(v.vt) + ":" + valueText(v);
}

std::string kindName(WORD flags) {
    std::string out;
    const std::pair<WORD, const char*> kinds[] = {{DISPATCH_METHOD, "method"},
                                                  {DISPATCH_PROPERTYGET, "get"},
                                                  {DISPATCH_PROPERTYPUT, "put"},
                                                  {DISPATCH_PROPERTYPUTREF, "putref"}};
    for (const auto& k : kinds)
        if (flags & k.first) out += (out.empty() ? "" : "|") + std::string(k.second);
    return out.empty() ? "none" : out;
}

// ---- results and arguments ----------------------------------------------------

// A count or kind in the VARIANT type the script asks for.
HRESULT numberResult(long value, VARIANT* result, const Script& script) {
    if (result == nullptr) return S_OK;
    const VARTYPE type = typeOf(script.get("number-type", "I4"));
    VARIANT plain;
    VariantInit(&plain);
    if (type == VT_R8 || type == VT_R4) {
        plain.vt = VT_R8;
        plain.dblVal = value - std::strtod(script.get("number-bias", "0").c_str(), nullptr);
    } else {
        plain.vt = VT_I4;
        plain.lVal = value;
    }
    VariantInit(result);
    return VariantChangeType(result, &plain, 0, type);
}

HRESULT textResult(const std::string& utf8, VARIANT* result) {
    if (result == nullptr) return S_OK;
    VariantInit(result);
    result->vt = VT_BSTR;
    result->bstrVal = bstrOf(utf8);
    return S_OK;
}

HRESULT objectResult(IDispatch* object, VARIANT* result) {
    if (result == nullptr) {
        object->Release();
        return S_OK;
    }
    VariantInit(result);
    result->vt = VT_DISPATCH;
    result->pdispVal = object;
    return S_OK;
}

// Arguments are coerced as a type-library driven component would do it.
bool longArg(const VARIANT* v, long& out) {
    VARIANT n;
    VariantInit(&n);
    if (FAILED(VariantChangeType(&n, const_cast<VARIANT*>(v), 0, VT_I4))) return false;
    out = n.lVal;
    return true;
}

bool textArg(const VARIANT* v, std::string& out) {
    VARIANT s;
    VariantInit(&s);
    if (FAILED(VariantChangeType(&s, const_cast<VARIANT*>(v), 0, VT_BSTR))) return false;
    out = utf8Of(s.bstrVal);
    VariantClear(&s);
    return true;
}

bool sameVariant(const VARIANT& a, const VARIANT& b) {
    if (a.vt != b.vt) return false;
    switch (a.vt) {
    case VT_BSTR:
        return utf8Of(a.bstrVal) == utf8Of(b.bstrVal);
    case VT_I4:
        return a.lVal == b.lVal;
    case VT_R8:
        return a.dblVal == b.dblVal;
    case VT_EMPTY:
        return true;
    default:
        return std::memcmp(&a, &b, sizeof(VARIANT)) == 0;
    }
}

// ---- the base of every object ---------------------------------------------

struct Member {
    DISPID id;
    const char* name;
    bool property; // read with DISPATCH_PROPERTYGET; otherwise a method
    UINT minArgs;
    UINT maxArgs;
};

using Args = std::vector<const VARIANT*>; // in their natural order

class Object : public IDispatch {
  public:
    Object(const char* logName, std::vector<Member> members)
        : logName_(logName), members_(std::move(members)) {
        lockModule();
    }
    virtual ~Object() { unlockModule(); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (sameGuid(riid, IID_IUnknown) || sameGuid(riid, IID_IDispatch))
            *object = static_cast<IDispatch*>(this);
        else
            *object = otherInterface(riid);
        if (*object == nullptr) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (count == nullptr) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return DISP_E_UNKNOWNNAME;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO*, UINT*) override {
        const Member* member = nullptr;
        for (const Member& m : members_)
            if (m.id == id) member = &m;
        std::vector<std::string> line = {logName_, member ? member->name : "?", std::to_string(id),
                                         kindName(flags)};
        Args args;
        if (params != nullptr && params->rgvarg != nullptr)
            for (UINT i = params->cArgs; i > 0; --i)
                args.push_back(&params->rgvarg[i - 1]);
        std::vector<std::string> logged;
        for (const VARIANT* a : args)
            logged.push_back(argumentText(*a));
        const Script script = readScript();
        HRESULT hr = S_OK;
        std::string status = "call";
        const WORD wanted = member && member->property ? DISPATCH_PROPERTYGET : DISPATCH_METHOD;
        if (member == nullptr) {
            status = "unknown";
            hr = DISP_E_MEMBERNOTFOUND;
        } else if ((flags & wanted) == 0) {
            status = "refused";
            hr = DISP_E_MEMBERNOTFOUND;
        } else if (params == nullptr) {
            status = "noparams";
            hr = E_INVALIDARG;
        } else if (params->cNamedArgs != 0) {
            status = "named";
            hr = DISP_E_NONAMEDARGS;
        } else if (args.size() < member->minArgs || args.size() > member->maxArgs) {
            status = "badcount";
            hr = DISP_E_BADPARAMCOUNT;
        } else if (script.fails(logName_ + "." + member->name)) {
            status = "failed";
            hr = E_FAIL;
        }
        line.push_back(status);
        line.insert(line.end(), logged.begin(), logged.end());
        logLine(line);
        if (hr != S_OK) return hr;
        return run(id, args, result, script);
    }

  protected:
    virtual HRESULT run(DISPID id, const Args& args, VARIANT* result, const Script& script) = 0;
    virtual void* otherInterface(REFIID) { return nullptr; }
    void log(const std::vector<std::string>& rest) {
        std::vector<std::string> line = {logName_};
        line.insert(line.end(), rest.begin(), rest.end());
        logLine(line);
    }
    std::string logName_;

  private:
    std::vector<Member> members_;
    std::atomic<ULONG> references_{1};
};

// ---- engine and event objects -----------------------------------------------

class EngineObject final : public Object {
  public:
    explicit EngineObject(std::string name)
        : Object("engine", {{4, "Engine", true, 0, 0}}), name_(std::move(name)) {}

  protected:
    HRESULT run(DISPID, const Args&, VARIANT* result, const Script&) override {
        return textResult(name_, result);
    }

  private:
    std::string name_;
};

struct QueuedEvent {
    long kind;
    std::string text;
};

class EventObject final : public Object {
  public:
    explicit EventObject(QueuedEvent event)
        : Object("event", {{5, "KitCallback", true, 0, 0}, {29, "Text", true, 0, 0}}),
          event_(std::move(event)) {}

  protected:
    HRESULT run(DISPID id, const Args&, VARIANT* result, const Script& script) override {
        if (id == 5) return numberResult(event_.kind, result, script);
        return textResult(event_.text, result);
    }

  private:
    QueuedEvent event_;
};

// ---- the synthesiser ------------------------------------------------------------

class Synthesiser final : public Object {
  public:
    Synthesiser()
        : Object("tts", {{8, "GetResource", false, 2, 2},
                         {9, "GetResourceCount", false, 1, 2},
                         {13, "GetStringProperty", false, 1, 1},
                         {26, "SetStringProperty", false, 2, 2},
                         {29, "StartPlayback", false, 1, 8}}) {
        const Script script = readScript();
        const std::vector<std::string> engines = script.engines();
        current_ = script.get("current", engines.empty() ? "" : engines.front());
        log({"create"});
    }
    ~Synthesiser() override { log({"release"}); }

  protected:
    HRESULT run(DISPID id, const Args& args, VARIANT* result, const Script& script) override {
        long resource = 0, index = 0;
        switch (id) {
        case 9: // GetResourceCount(resource, 0)
            if (!longArg(args[0], resource) || resource != kEngineResource) return E_INVALIDARG;
            return numberResult(
                script.number("engine-count", static_cast<long>(script.engines().size())), result,
                script);
        case 8: { // GetResource(resource, index)
            const std::vector<std::string> engines = script.engines();
            if (!longArg(args[0], resource) || !longArg(args[1], index) ||
                resource != kEngineResource || index < 0 ||
                index >= static_cast<long>(engines.size()))
                return E_INVALIDARG;
            return objectResult(new EngineObject(engines[static_cast<std::size_t>(index)]), result);
        }
        case 13: // GetStringProperty(property)
            if (!longArg(args[0], resource) || resource != kEngineProperty) return E_INVALIDARG;
            return textResult(current_, result);
        case 26: { // SetStringProperty(property, value)
            std::string name;
            if (!longArg(args[0], resource) || resource != kEngineProperty ||
                !textArg(args[1], name))
                return E_INVALIDARG;
            current_ = name;
            return S_OK;
        }
        case 29: { // StartPlayback(text, ..., style)
            std::string text;
            if (!textArg(args[0], text)) return DISP_E_TYPEMISMATCH;
            long style = 0;
            if (args.size() == 8 && !longArg(args[7], style)) return DISP_E_TYPEMISMATCH;
            if (style == kSynchronous) {
                // Speech takes time: the synchronous form returns when done.
                sleepMs(static_cast<int>(script.number("playback-ms", 600)));
                log({"PlaybackEnd", "29", "method", "done", "BSTR:" + escaped(text)});
            }
            return S_OK;
        }
        }
        return DISP_E_MEMBERNOTFOUND;
    }

  private:
    std::string current_;
};

// ---- the recogniser -----------------------------------------------------------

class Recogniser;

// One file from the inbox: what to queue and when to notify, applied on the
// recogniser's own thread.
struct Action {
    enum Kind { Queue, Fire, FireNull, FireDispid } kind;
    QueuedEvent event;
    DISPID dispid;
};
struct Batch {
    Recogniser* recogniser;
    std::vector<Action> actions;
};

std::vector<Action> parseInboxFile(const std::string& name, const std::string& content) {
    std::vector<Action> actions;
    const auto ends = [&](const char* suffix) {
        const std::size_t n = std::strlen(suffix);
        return name.size() >= n && name.compare(name.size() - n, n, suffix) == 0;
    };
    if (ends(".txt")) {
        actions.push_back({Action::Queue, {kHasTextCallback, content}, 0});
        actions.push_back({Action::Fire, {}, 0});
        return actions;
    }
    bool fired = false;
    std::size_t start = 0;
    while (start < content.size()) {
        std::size_t end = content.find('\n', start);
        if (end == std::string::npos) end = content.size();
        const std::string line = content.substr(start, end - start);
        start = end + 1;
        if (line.compare(0, 5, "text ") == 0) {
            actions.push_back({Action::Queue, {kHasTextCallback, line.substr(5)}, 0});
        } else if (line.compare(0, 5, "kind ") == 0) {
            char* rest = nullptr;
            const long kind = std::strtol(line.c_str() + 5, &rest, 10);
            std::string text = rest;
            if (!text.empty() && text[0] == ' ') text.erase(0, 1);
            actions.push_back({Action::Queue, {kind, text}, 0});
        } else if (line == "fire") {
            actions.push_back({Action::Fire, {}, 0});
            fired = true;
        } else if (line == "fire-null") {
            actions.push_back({Action::FireNull, {}, 0});
            fired = true;
        } else if (line.compare(0, 12, "fire-dispid ") == 0) {
            actions.push_back({Action::FireDispid,
                               {},
                               static_cast<DISPID>(std::strtol(line.c_str() + 12, nullptr, 10))});
            fired = true;
        }
    }
    if (!fired) actions.push_back({Action::Fire, {}, 0});
    return actions;
}

class Recogniser final : public Object, public IConnectionPointContainer, public IConnectionPoint {
  public:
    Recogniser()
        : Object("sr", {{5, "DefineResource", false, 2, 2},
                        {6, "DisableResource", false, 2, 2},
                        {9, "EnableResource", false, 2, 2},
                        {15, "GetResource", false, 2, 2},
                        {16, "GetResourceCount", false, 1, 2},
                        {27, "RegisterCallback", false, 1, 1},
                        {28, "RemoveResource", false, 2, 2}}),
          apartment_(platform::currentApartment()) {
        VariantInit(&vocabulary_);
        {
            std::lock_guard<std::mutex> hold(aliveLock());
            alive().insert(this);
        }
        log({"create"});
        inbox_ = envValue("VERDEL_TESTKIT_INBOX");
        if (!inbox_.empty()) watcher_ = std::thread([this] { watch(); });
    }
    ~Recogniser() override {
        {
            std::lock_guard<std::mutex> hold(aliveLock());
            alive().erase(this);
        }
        stop_ = true;
        if (watcher_.joinable()) watcher_.join();
        for (auto& sink : sinks_)
            sink.second->Release();
        VariantClear(&vocabulary_);
        log({"release"});
    }

    // IUnknown of the other two interfaces is the object's own.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        return Object::QueryInterface(riid, object);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return Object::AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return Object::Release(); }

    // IConnectionPointContainer
    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** out) override {
        if (out) *out = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID riid, IConnectionPoint** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        const bool ours = sameGuid(riid, kEventsIid);
        log({"FindConnectionPoint", "", "", ours ? "call" : "nointerface"});
        if (readScript().fails("sr.FindConnectionPoint")) return E_FAIL;
        if (!ours) return kNoConnection;
        *out = static_cast<IConnectionPoint*>(this);
        AddRef();
        return S_OK;
    }

    // IConnectionPoint
    HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override {
        if (iid == nullptr) return E_POINTER;
        *iid = kEventsIid;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE
    GetConnectionPointContainer(IConnectionPointContainer** out) override {
        if (out == nullptr) return E_POINTER;
        *out = static_cast<IConnectionPointContainer*>(this);
        AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override {
        if (cookie) *cookie = 0;
        if (sink == nullptr || cookie == nullptr) return E_POINTER;
        if (readScript().fails("sr.Advise")) {
            log({"Advise", "", "", "failed"});
            return E_FAIL;
        }
        // A connection point asks the sink for the event interface itself.
        IDispatch* events = nullptr;
        if (FAILED(sink->QueryInterface(kEventsIid, reinterpret_cast<void**>(&events))) ||
            events == nullptr) {
            log({"Advise", "", "", "cannotconnect"});
            return kCannotConnect;
        }
        *cookie = nextCookie_++;
        sinks_[*cookie] = events;
        log({"Advise", "", "", "call", "cookie:" + std::to_string(*cookie)});
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override {
        const auto it = sinks_.find(cookie);
        const bool known = it != sinks_.end();
        log({"Unadvise", "", "", known ? "call" : "nocookie", "cookie:" + std::to_string(cookie)});
        if (readScript().fails("sr.Unadvise")) return E_FAIL;
        if (!known) return kNoConnection;
        IDispatch* sink = it->second;
        sinks_.erase(it);
        sink->Release();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** out) override {
        if (out) *out = nullptr;
        return E_NOTIMPL;
    }

    // Runs on the object's thread. A batch that arrives after its object
    // has gone is dropped.
    static void apply(void* argument) {
        Batch* batch = static_cast<Batch*>(argument);
        Recogniser* target = nullptr;
        {
            std::lock_guard<std::mutex> hold(aliveLock());
            if (alive().count(batch->recogniser) != 0) target = batch->recogniser;
        }
        if (target != nullptr) {
            target->AddRef();
            target->applyActions(batch->actions);
            target->Release();
        }
        delete batch;
    }

  protected:
    void* otherInterface(REFIID riid) override {
        if (sameGuid(riid, IID_IConnectionPointContainer)) {
            if (readScript().fails("sr.QueryInterface.cpc")) return nullptr;
            return static_cast<IConnectionPointContainer*>(this);
        }
        return nullptr;
    }

    HRESULT run(DISPID id, const Args& args, VARIANT* result, const Script& script) override {
        long resource = 0, index = 0;
        if (!longArg(args[0], resource)) return DISP_E_TYPEMISMATCH;
        switch (id) {
        case 5: { // DefineResource(kind, name)
            std::string name;
            if (resource != kDictationVocab || !textArg(args[1], name)) return E_INVALIDARG;
            VariantClear(&vocabulary_);
            VARIANT plain;
            VariantInit(&plain);
            plain.vt = VT_I4;
            plain.lVal = 4711;
            const VARTYPE type = typeOf(script.get("vocab-type", "I4"));
            if (type == VT_BSTR) {
                vocabulary_.vt = VT_BSTR;
                vocabulary_.bstrVal = bstrOf("vocab:" + name);
            } else if (FAILED(VariantChangeType(&vocabulary_, &plain, 0, type))) {
                return E_FAIL;
            }
            defined_ = true;
            if (result == nullptr) return S_OK;
            return VariantCopy(result, &vocabulary_);
        }
        case 9: // EnableResource(kind, id)
        case 6: // DisableResource(kind, id)
            if (resource != kDictationVocab || !defined_ || !sameVariant(*args[1], vocabulary_))
                return E_INVALIDARG;
            enabled_ = id == 9;
            return S_OK;
        case 27: // RegisterCallback(kind)
            callbacks_.push_back(resource);
            return S_OK;
        case 16: // GetResourceCount(resource, 0)
            if (resource != kEventResource) return E_INVALIDARG;
            return numberResult(static_cast<long>(events_.size()), result, script);
        case 15: // GetResource(resource, index)
        case 28: // RemoveResource(resource, index)
            if (resource != kEventResource || !longArg(args[1], index) || index < 0 ||
                index >= static_cast<long>(events_.size()))
                return E_INVALIDARG;
            if (id == 28) {
                events_.erase(events_.begin() + index);
                return S_OK;
            }
            return objectResult(new EventObject(events_[static_cast<std::size_t>(index)]), result);
        }
        return DISP_E_MEMBERNOTFOUND;
    }

  private:
    static std::mutex& aliveLock() {
        static std::mutex lock;
        return lock;
    }
    static std::set<Recogniser*>& alive() {
        static std::set<Recogniser*> objects;
        return objects;
    }

    // Runs on the worker thread: while dictation is enabled, every file
    // dropped into the inbox becomes a batch posted to the object's thread.
    void watch() {
        namespace fs = std::filesystem;
        while (!stop_) {
            sleepMs(20);
            if (!enabled_) continue;
            std::vector<fs::path> files;
            std::error_code error;
            for (fs::directory_iterator it(fs::u8path(inbox_), error), end; !error && it != end;
                 it.increment(error)) {
                const std::string ext = it->path().extension().string();
                if (it->is_regular_file(error) && (ext == ".txt" || ext == ".evt"))
                    files.push_back(it->path());
            }
            std::sort(files.begin(), files.end());
            for (const fs::path& file : files) {
                std::ifstream in(file, std::ios::binary);
                std::stringstream content;
                content << in.rdbuf();
                in.close();
                fs::remove(file, error);
                Batch* batch =
                    new Batch{this, parseInboxFile(file.filename().string(), content.str())};
                if (!platform::postToApartment(apartment_, &Recogniser::apply, batch))
                    delete batch; // the creating thread's apartment has gone
            }
        }
    }

    void applyActions(const std::vector<Action>& actions) {
        for (const Action& action : actions) {
            if (action.kind == Action::Queue) {
                events_.push_back(action.event);
                log({"queued", "", "", "event", "kind:" + std::to_string(action.event.kind),
                     "text:" + escaped(action.event.text)});
                continue;
            }
            // The component calls back only for what the client asked for.
            if (std::find(callbacks_.begin(), callbacks_.end(), kHasTextCallback) ==
                callbacks_.end())
                continue;
            const DISPID id = action.kind == Action::FireDispid ? action.dispid : 1;
            const std::vector<std::pair<DWORD, IDispatch*>> sinks(sinks_.begin(), sinks_.end());
            for (const auto& sink : sinks) {
                DISPPARAMS none{};
                sink.second->AddRef();
                const HRESULT hr = sink.second->Invoke(
                    id, IID_NULL, 0, DISPATCH_METHOD,
                    action.kind == Action::FireNull ? nullptr : &none, nullptr, nullptr, nullptr);
                sink.second->Release();
                char code[16];
                std::snprintf(code, sizeof code, "0x%08lX",
                              static_cast<unsigned long>(static_cast<std::uint32_t>(hr)));
                log({"fired", std::to_string(id),
                     action.kind == Action::FireNull ? "noparams" : "emptyparams", code});
            }
        }
    }

    platform::ApartmentId apartment_;
    std::string inbox_;
    std::thread watcher_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> enabled_{false};
    bool defined_ = false;
    VARIANT vocabulary_;
    std::vector<long> callbacks_;
    std::deque<QueuedEvent> events_;
    std::map<DWORD, IDispatch*> sinks_;
    DWORD nextCookie_ = 1;
};

// ---- class factory ------------------------------------------------------------

class Factory final : public IClassFactory {
  public:
    explicit Factory(bool recogniser) : recogniser_(recogniser) { lockModule(); }
    ~Factory() { unlockModule(); }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (sameGuid(riid, IID_IUnknown) || sameGuid(riid, IID_IClassFactory)) {
            *object = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (outer != nullptr) return CLASS_E_NOAGGREGATION;
        if (readScript().fails(recogniser_ ? "create.sr" : "create.tts")) {
            logLine({recogniser_ ? "sr" : "tts", "create", "", "", "failed"});
            return E_FAIL;
        }
        Object* made = recogniser_ ? static_cast<Object*>(new Recogniser())
                                   : static_cast<Object*>(new Synthesiser());
        const HRESULT hr = made->QueryInterface(riid, object);
        made->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (lock)
            lockModule();
        else
            unlockModule();
        return S_OK;
    }

  private:
    bool recogniser_;
    std::atomic<ULONG> references_{1};
};

} // namespace

void lockModule() {
    ++locks;
}
void unlockModule() {
    --locks;
}
long moduleLocks() {
    return locks;
}

HRESULT getClassObject(REFCLSID clsid, REFIID riid, void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    bool recogniser;
    if (sameGuid(clsid, kRecogniserClsid))
        recogniser = true;
    else if (sameGuid(clsid, kSynthesiserClsid))
        recogniser = false;
    else
        return CLASS_E_CLASSNOTAVAILABLE;
    Factory* factory = new Factory(recogniser);
    const HRESULT hr = factory->QueryInterface(riid, object);
    factory->Release();
    return hr;
}

} // namespace testkit
