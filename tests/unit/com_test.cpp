// libverdelcom: class ids, the registration store, creating objects from
// server libraries, the apartments, and verdel-regsvr.
#include "../../platform/com.h"
#include "../comfixture/fixtureids.h"
#include "testutil.h"

#include <dlfcn.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

const std::string kServer = VCOM_FIXTURE_SERVER;
const std::string kBare = VCOM_FIXTURE_BARE;
const std::string kBadReg = VCOM_FIXTURE_BADREG;
const std::string kRegsvr = VERDEL_REGSVR;

// {0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}
const CLSID kSomeClass = {
    0x0A1B2C3D, 0x4E5F, 0x6071, {0x82, 0x93, 0xA4, 0xB5, 0xC6, 0xD7, 0xE8, 0xF9}};
const CLSID kOtherClass = {
    0x0A1B2C3D, 0x4E5F, 0x6071, {0x82, 0x93, 0xA4, 0xB5, 0xC6, 0xD7, 0xE8, 0xFA}};

std::string text(REFGUID g) {
    OLECHAR buffer[39];
    if (StringFromGUID2(g, buffer, 39) != 39) return "?";
    return std::string(buffer, buffer + 38);
}

// An outer object for aggregation, which the fixture refuses.
struct Outer : IUnknown {
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
};

bool isReadable(int fd) {
    pollfd p = {fd, POLLIN, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & POLLIN);
}

// Each test gets its own store (XDG_DATA_HOME) and an initialised thread.
class ComTest : public ::testing::Test {
  protected:
    std::string data;
    std::string store;
    void SetUp() override {
        data = testutil::scratchDir("com");
        store = data + "/verdel/com";
        ::setenv("XDG_DATA_HOME", data.c_str(), 1);
        ASSERT_EQ(CoInitialize(nullptr), S_OK);
    }
    void TearDown() override {
        CoUninitialize();
        ::unsetenv("XDG_DATA_HOME");
    }
    std::string classFile(REFCLSID clsid) const { return store + "/" + text(clsid) + ".class"; }
    std::vector<std::string> storeFiles() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(store))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST(Guid, TextRoundTripAndRealInterfaceIds) {
    const struct {
        const IID* iid;
        const char* text;
    } known[] = {
        {&IID_IUnknown, "{00000000-0000-0000-C000-000000000046}"},
        {&IID_IClassFactory, "{00000001-0000-0000-C000-000000000046}"},
        {&IID_IDispatch, "{00020400-0000-0000-C000-000000000046}"},
        {&IID_IConnectionPointContainer, "{B196B284-BAB4-101A-B69C-00AA00341D07}"},
        {&IID_IEnumConnectionPoints, "{B196B285-BAB4-101A-B69C-00AA00341D07}"},
        {&IID_IConnectionPoint, "{B196B286-BAB4-101A-B69C-00AA00341D07}"},
        {&IID_IEnumConnections, "{B196B287-BAB4-101A-B69C-00AA00341D07}"},
        {&GUID_NULL, "{00000000-0000-0000-0000-000000000000}"},
    };
    for (const auto& k : known)
        EXPECT_EQ(text(*k.iid), k.text);

    CLSID parsed;
    ASSERT_EQ(CLSIDFromString(u"{0a1b2c3d-4e5f-6071-8293-a4b5c6d7e8f9}", &parsed), S_OK);
    EXPECT_TRUE(IsEqualGUID(parsed, kSomeClass));
    EXPECT_EQ(text(parsed), "{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}");

    OLECHAR small[38];
    EXPECT_EQ(StringFromGUID2(kSomeClass, small, 38), 0);
    LPOLESTR allocated = nullptr;
    ASSERT_EQ(StringFromCLSID(kSomeClass, &allocated), S_OK);
    EXPECT_EQ(std::u16string(allocated), u"{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}");
    CoTaskMemFree(allocated);

    ASSERT_EQ(CLSIDFromString(nullptr, &parsed), S_OK); // no string: the null class id
    EXPECT_TRUE(IsEqualGUID(parsed, GUID_NULL));
}

TEST(Guid, MalformedClassStrings) {
    const char16_t* bad[] = {
        u"",
        u"0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9",    // no braces
        u"{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F}",   // short
        u"{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F90}", // long
        u"{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8FG}",  // not hex
        u"{0A1B2C3D-4E5F-6071-8293A4B5C6D7E8F9-}",  // a dash astray
        u"{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9",   // unclosed
        u"No.Such.Class.1",                         // an unknown ProgID
    };
    for (const char16_t* s : bad) {
        SCOPED_TRACE(std::string(s, s + std::char_traits<char16_t>::length(s)));
        CLSID c = kSomeClass;
        EXPECT_EQ(CLSIDFromString(s, &c), CO_E_CLASSSTRING);
        EXPECT_TRUE(IsEqualGUID(c, GUID_NULL));
    }
}

// ---- the registration store ----

TEST_F(ComTest, RegisterLookUpUnregister) {
    ASSERT_EQ(VcomRegisterClass(u"Test.Thing.1", kSomeClass, kServer.c_str()), S_OK);
    char real[4096];
    ASSERT_NE(::realpath(kServer.c_str(), real), nullptr);
    EXPECT_EQ(testutil::readAll(classFile(kSomeClass)),
              "verdel-com-class 1\nclsid={0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}\n"
              "progid=Test.Thing.1\nlibrary=" +
                  std::string(real) + "\n");

    CLSID found;
    ASSERT_EQ(CLSIDFromProgID(u"Test.Thing.1", &found), S_OK);
    EXPECT_TRUE(IsEqualGUID(found, kSomeClass));
    ASSERT_EQ(CLSIDFromProgID(u"test.THING.1", &found), S_OK); // as the registry: any case
    ASSERT_EQ(CLSIDFromString(u"Test.Thing.1", &found), S_OK); // a ProgID is a class string
    EXPECT_TRUE(IsEqualGUID(found, kSomeClass));

    EXPECT_EQ(VcomUnregisterClass(kSomeClass), S_OK);
    EXPECT_EQ(VcomUnregisterClass(kSomeClass), S_FALSE);
    EXPECT_EQ(CLSIDFromProgID(u"Test.Thing.1", &found), CO_E_CLASSSTRING);
    EXPECT_TRUE(IsEqualGUID(found, GUID_NULL));
    EXPECT_EQ(CLSIDFromProgID(nullptr, &found), E_INVALIDARG);
}

TEST_F(ComTest, RegisteringAgainReplacesTheFileAndMovesTheProgId) {
    ASSERT_EQ(VcomRegisterClass(u"Test.Thing.1", kSomeClass, kBare.c_str()), S_OK);
    ASSERT_EQ(VcomRegisterClass(u"Test.Thing.1", kSomeClass, kServer.c_str()), S_OK);
    // Renamed over the old one: one file, no temporary left beside it.
    EXPECT_EQ(storeFiles(), std::vector<std::string>{text(kSomeClass) + ".class"});
    EXPECT_NE(testutil::readAll(classFile(kSomeClass)).find("vcomfixture_server"),
              std::string::npos);

    // A ProgID names one class: the newest registration takes it.
    ASSERT_EQ(VcomRegisterClass(u"Test.Thing.1", kOtherClass, kServer.c_str()), S_OK);
    EXPECT_EQ(storeFiles(), std::vector<std::string>{text(kOtherClass) + ".class"});
    CLSID found;
    ASSERT_EQ(CLSIDFromProgID(u"Test.Thing.1", &found), S_OK);
    EXPECT_TRUE(IsEqualGUID(found, kOtherClass));

    // The stored path is absolute and plain, whatever path was given.
    const std::string roundabout = kServer.substr(0, kServer.rfind('/')) + "/./../bin/" +
                                   kServer.substr(kServer.rfind('/') + 1);
    ASSERT_EQ(VcomRegisterClass(u"Test.Other.1", kSomeClass, roundabout.c_str()), S_OK);
    EXPECT_EQ(testutil::readAll(classFile(kSomeClass)).find("/./"), std::string::npos);
}

TEST_F(ComTest, RefusedRegistrations) {
    const struct {
        const char16_t* progId;
        std::string library;
    } bad[] = {
        {u"", kServer},
        {u"1Starts.With.Digit", kServer},
        {u"Has Space.1", kServer},
        {u"Has_Underscore.1", kServer},
        {u"Forty.Characters.Are.One.Too.Many.For.It", kServer},
        {u"N\u00e4me.1", kServer},
        {u"Test.Thing.1", data + "/missing.so"},
        {u"Test.Thing.1", data}, // a directory
    };
    for (const auto& b : bad) {
        EXPECT_EQ(VcomRegisterClass(b.progId, kSomeClass, b.library.c_str()), E_INVALIDARG);
    }
    EXPECT_EQ(VcomRegisterClass(nullptr, kSomeClass, kServer.c_str()), E_INVALIDARG);
    EXPECT_FALSE(std::filesystem::exists(classFile(kSomeClass)));

    // A store that cannot be made: the data directory is a file.
    const std::string file = data + "/plain";
    testutil::writeAll(file, "x");
    ::setenv("XDG_DATA_HOME", file.c_str(), 1);
    EXPECT_EQ(VcomRegisterClass(u"Test.Thing.1", kSomeClass, kServer.c_str()), SELFREG_E_CLASS);
}

TEST_F(ComTest, MalformedOrOversizedFilesReadAsNotRegistered) {
    const std::string id = text(CLSID_FixtureWorks);
    const std::string good =
        "verdel-com-class 1\nclsid=" + id + "\nprogid=Test.Thing.1\nlibrary=" + kServer + "\n";
    const struct {
        const char* why;
        std::string content;
        bool accepted;
    } cases[] = {
        {"well formed", good, true},
        {"comments, blank lines, any order, no final newline",
         "verdel-com-class 1\n# a comment\n\nlibrary=" + kServer +
             "\nprogid=Test.Thing.1\nclsid=" + id,
         true},
        {"no header", "clsid=" + id + "\nprogid=Test.Thing.1\nlibrary=" + kServer + "\n", false},
        {"other version", "verdel-com-class 2" + good.substr(18), false},
        {"CR LF",
         "verdel-com-class 1\r\nclsid=" + id + "\r\nprogid=Test.Thing.1\r\nlibrary=" + kServer +
             "\r\n",
         false},
        {"unknown key", good + "threading=Apartment\n", false},
        {"repeated key", good + "progid=Test.Thing.1\n", false},
        {"missing key", "verdel-com-class 1\nclsid=" + id + "\nprogid=Test.Thing.1\n", false},
        {"no equals sign", good + "progid\n", false},
        {"space around =",
         "verdel-com-class 1\nclsid = " + id + "\nprogid=Test.Thing.1\nlibrary=" + kServer + "\n",
         false},
        {"relative library",
         "verdel-com-class 1\nclsid=" + id +
             "\nprogid=Test.Thing.1\nlibrary=vcomfixture_server.so\n",
         false},
        {"another class id than its name",
         "verdel-com-class 1\nclsid=" + text(kOtherClass) +
             "\nprogid=Test.Thing.1\nlibrary=" + kServer + "\n",
         false},
        {"bad ProgID",
         "verdel-com-class 1\nclsid=" + id + "\nprogid=9Lives\nlibrary=" + kServer + "\n", false},
        {"NUL byte", good + std::string("#\0\n", 3), false},
        {"control character",
         "verdel-com-class 1\nclsid=" + id + "\nprogid=Test.Thing.1\nlibrary=" + kServer + "\x1b\n",
         false},
        {"over 8 KiB", good + "#" + std::string(8300, 'x') + "\n", false},
    };
    std::filesystem::create_directories(store);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        testutil::writeAll(classFile(CLSID_FixtureWorks), c.content);
        CLSID found;
        EXPECT_EQ(CLSIDFromProgID(u"Test.Thing.1", &found), c.accepted ? S_OK : CO_E_CLASSSTRING);
        void* object = nullptr;
        EXPECT_EQ(CoCreateInstance(CLSID_FixtureWorks, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                   &object),
                  c.accepted ? S_OK : REGDB_E_CLASSNOTREG);
        if (object) static_cast<IUnknown*>(object)->Release();
    }

    // Neither a FIFO (which would block a plain open) nor a directory.
    std::filesystem::remove(classFile(CLSID_FixtureWorks));
    ASSERT_EQ(::mkfifo(classFile(CLSID_FixtureWorks).c_str(), 0600), 0);
    CLSID found;
    EXPECT_EQ(CLSIDFromProgID(u"Test.Thing.1", &found), CO_E_CLASSSTRING);
    std::filesystem::remove(classFile(CLSID_FixtureWorks));
    std::filesystem::create_directories(classFile(CLSID_FixtureWorks));
    EXPECT_EQ(CLSIDFromProgID(u"Test.Thing.1", &found), CO_E_CLASSSTRING);
}

TEST_F(ComTest, StoreFollowsXdgDataHomeOrHome) {
    const std::string home = testutil::scratchDir("com-home");
    const char* oldHome = std::getenv("HOME");
    const std::string savedHome = oldHome ? oldHome : "";
    ::setenv("HOME", home.c_str(), 1);

    ::unsetenv("XDG_DATA_HOME");
    ASSERT_EQ(VcomRegisterClass(u"Test.Home.1", kSomeClass, kServer.c_str()), S_OK);
    EXPECT_TRUE(
        std::filesystem::exists(home + "/.local/share/verdel/com/" + text(kSomeClass) + ".class"));

    ::setenv("XDG_DATA_HOME", "relative/dir", 1); // not absolute: ignored, as XDG says
    CLSID found;
    EXPECT_EQ(CLSIDFromProgID(u"Test.Home.1", &found), S_OK);

    ::setenv("XDG_DATA_HOME", data.c_str(), 1);
    EXPECT_EQ(CLSIDFromProgID(u"Test.Home.1", &found), CO_E_CLASSSTRING);
    ASSERT_EQ(VcomRegisterClass(u"Test.Data.1", kOtherClass, kServer.c_str()), S_OK);
    EXPECT_TRUE(std::filesystem::exists(classFile(kOtherClass)));

    if (oldHome)
        ::setenv("HOME", savedHome.c_str(), 1);
    else
        ::unsetenv("HOME");
}

// ---- creating objects ----

int liveFixtureObjects() {
    void* library = ::dlopen(kServer.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (!library) return -1;
    auto count = reinterpret_cast<int (*)()>(::dlsym(library, "vcomFixtureLiveObjects"));
    const int n = count ? count() : -1;
    ::dlclose(library);
    return n;
}

TEST_F(ComTest, CreatesAnObjectFromItsLibrary) {
    ASSERT_EQ(VcomRegisterClass(u"VerdelFixture.Works.1", CLSID_FixtureWorks, kServer.c_str()),
              S_OK);
    CLSID clsid;
    ASSERT_EQ(CLSIDFromProgID(u"VerdelFixture.Works.1", &clsid), S_OK);
    IDispatch* object = nullptr;
    ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                               IID_IDispatch, reinterpret_cast<void**>(&object)),
              S_OK);
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(liveFixtureObjects(), 1); // the factory was released

    VARIANT args[2]; // the last argument first
    VariantInit(&args[0]);
    VariantInit(&args[1]);
    args[1].vt = VT_I4;
    args[1].lVal = 2;
    args[0].vt = VT_BSTR;
    args[0].bstrVal = SysAllocString(u"40");
    DISPPARAMS params = {args, nullptr, 2, 0};
    VARIANT result;
    VariantInit(&result);
    ASSERT_EQ(object->Invoke(1, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result,
                             nullptr, nullptr),
              S_OK);
    EXPECT_EQ(result.vt, VT_I4);
    EXPECT_EQ(result.lVal, 42);
    EXPECT_EQ(object->Invoke(99, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result,
                             nullptr, nullptr),
              DISP_E_MEMBERNOTFOUND);
    VariantClear(&args[0]);

    void* factory = nullptr;
    ASSERT_EQ(CoGetClassObject(clsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory, &factory),
              S_OK);
    static_cast<IUnknown*>(factory)->Release();
    EXPECT_EQ(object->Release(), 0u);
    EXPECT_EQ(liveFixtureObjects(), 0);
}

TEST_F(ComTest, CreationFailuresAsWindowsReportsThem) {
    const std::string textFile = data + "/not-a-library.so";
    testutil::writeAll(textFile, "just text\n");
    const std::string missing = data + "/gone.so";
    testutil::writeAll(missing, "x");
    const CLSID unserved = kOtherClass; // registered to the server, which does not make it

    ASSERT_EQ(VcomRegisterClass(u"Test.Missing.1", kSomeClass, missing.c_str()), S_OK);
    std::filesystem::remove(missing);
    ASSERT_EQ(VcomRegisterClass(u"Test.Unserved.1", unserved, kServer.c_str()), S_OK);
    ASSERT_EQ(VcomRegisterClass(u"VerdelFixture.Works.1", CLSID_FixtureWorks, kServer.c_str()),
              S_OK);
    ASSERT_EQ(VcomRegisterClass(u"VerdelFixture.Fails.1", CLSID_FixtureFails, kServer.c_str()),
              S_OK);
    const CLSID bareClass = {0x0A1B2C3D, 0, 1, {0, 0, 0, 0, 0, 0, 0, 1}};
    ASSERT_EQ(VcomRegisterClass(u"Test.Bare.1", bareClass, kBare.c_str()), S_OK);
    const CLSID textClass = {0x0A1B2C3D, 0, 1, {0, 0, 0, 0, 0, 0, 0, 2}};
    ASSERT_EQ(VcomRegisterClass(u"Test.Text.1", textClass, textFile.c_str()), S_OK);
    const CLSID unregistered = {0x0A1B2C3D, 0, 1, {0, 0, 0, 0, 0, 0, 0, 3}};

    Outer outer;
    const struct {
        const char* why;
        CLSID clsid;
        DWORD context;
        IUnknown* outer;
        HRESULT hr;
    } cases[] = {
        {"not registered", unregistered, CLSCTX_INPROC_SERVER, nullptr, REGDB_E_CLASSNOTREG},
        {"library missing", kSomeClass, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, nullptr,
         static_cast<HRESULT>(0x8007007E)},
        {"no DllGetClassObject", bareClass, CLSCTX_INPROC_SERVER, nullptr,
         static_cast<HRESULT>(0x8007007F)},
        {"not a library", textClass, CLSCTX_INPROC_SERVER, nullptr,
         static_cast<HRESULT>(0x800700C1)},
        {"class the library does not serve", unserved, CLSCTX_INPROC_SERVER, nullptr,
         CLASS_E_CLASSNOTAVAILABLE},
        {"factory fails", CLSID_FixtureFails, CLSCTX_INPROC_SERVER, nullptr, E_OUTOFMEMORY},
        {"aggregation refused", CLSID_FixtureWorks, CLSCTX_INPROC_SERVER, &outer,
         CLASS_E_NOAGGREGATION},
        {"local server only", CLSID_FixtureWorks, CLSCTX_LOCAL_SERVER, nullptr,
         REGDB_E_CLASSNOTREG},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        void* object = &outer; // must come back null
        EXPECT_EQ(static_cast<uint32_t>(
                      CoCreateInstance(c.clsid, c.outer, c.context, IID_IDispatch, &object)),
                  static_cast<uint32_t>(c.hr));
        EXPECT_EQ(object, nullptr);
    }
    EXPECT_EQ(
        CoCreateInstance(CLSID_FixtureWorks, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, nullptr),
        E_POINTER);
    EXPECT_EQ(liveFixtureObjects(), 0);

    // A thread that has not initialised COM may not create objects.
    HRESULT uninitialised = S_OK;
    std::thread([&] {
        void* object = nullptr;
        uninitialised = CoCreateInstance(CLSID_FixtureWorks, nullptr, CLSCTX_INPROC_SERVER,
                                         IID_IDispatch, &object);
    }).join();
    EXPECT_EQ(uninitialised, CO_E_NOTINITIALIZED);
}

TEST(CoInitialize, CountsAndThreadingModel) {
    std::thread([] {
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        void* apartment = VcomCurrentApartment();
        EXPECT_NE(apartment, nullptr);
        EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
        CoUninitialize(); // still initialised once, same apartment
        EXPECT_EQ(VcomCurrentApartment(), apartment);
        CoUninitialize();
        EXPECT_EQ(VcomCurrentApartment(), nullptr);
        CoUninitialize(); // one too many: harmless
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        EXPECT_NE(VcomCurrentApartment(), apartment); // a new apartment
        CoUninitialize();
        int reserved = 0;
        EXPECT_EQ(CoInitializeEx(&reserved, COINIT_APARTMENTTHREADED), E_INVALIDARG);
    }).join();
}

// ---- the apartment ----

std::atomic<int> ranCount{0};
std::thread::id ranOn;
void record(void* ctx) {
    static_cast<std::vector<int>*>(ctx)->push_back(++ranCount);
    ranOn = std::this_thread::get_id();
}

TEST_F(ComTest, PostedCallsRunOnTheOwningThreadWhenItPumps) {
    void* apartment = VcomCurrentApartment();
    ASSERT_NE(apartment, nullptr);
    const int fd = VcomApartmentFd();
    ASSERT_GE(fd, 0);
    EXPECT_FALSE(isReadable(fd));
    EXPECT_EQ(VcomApartmentPumpOne(), 0);

    ranCount = 0;
    std::vector<int> order;
    std::thread([&] {
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(VcomApartmentPost(apartment, record, &order), S_OK);
        EXPECT_EQ(VcomCurrentApartment(), nullptr); // the worker has none of its own
        EXPECT_EQ(VcomApartmentFd(), -1);
    }).join();
    EXPECT_EQ(ranCount, 0); // nothing runs until the thread pumps
    EXPECT_TRUE(isReadable(fd));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(VcomApartmentPumpOne(), 1);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(ranOn, std::this_thread::get_id());
    EXPECT_EQ(VcomApartmentPumpOne(), 0);
    EXPECT_FALSE(isReadable(fd));
    EXPECT_EQ(VcomApartmentPost(apartment, nullptr, nullptr), E_INVALIDARG);
}

struct Tally {
    std::vector<int> last; // per poster: the last sequence number seen
    int total = 0;
    bool inOrder = true;
};
struct Note {
    Tally* tally;
    int poster;
    int sequence;
};
void count(void* ctx) {
    Note* note = static_cast<Note*>(ctx);
    Tally& t = *note->tally;
    if (note->sequence != t.last[note->poster] + 1) t.inOrder = false;
    t.last[note->poster] = note->sequence;
    ++t.total;
    delete note;
}

TEST_F(ComTest, ManyThreadsPostWhileTheOwnerPumps) {
    void* apartment = VcomCurrentApartment();
    constexpr int kPosters = 4, kEach = 2000;
    Tally tally;
    tally.last.assign(kPosters, 0);
    std::vector<std::thread> posters;
    for (int p = 0; p < kPosters; ++p) {
        posters.emplace_back([=, &tally] {
            for (int s = 1; s <= kEach; ++s)
                ASSERT_EQ(VcomApartmentPost(apartment, count, new Note{&tally, p, s}), S_OK);
        });
    }
    pollfd waiting = {VcomApartmentFd(), POLLIN, 0};
    while (tally.total < kPosters * kEach) {
        ASSERT_GT(::poll(&waiting, 1, 10000), 0) << "no call arrived";
        while (VcomApartmentPumpOne()) {
        }
    }
    for (std::thread& t : posters)
        t.join();
    EXPECT_EQ(tally.total, kPosters * kEach);
    EXPECT_TRUE(tally.inOrder);
    EXPECT_EQ(VcomApartmentPumpOne(), 0);
}

void repost(void* ctx) {
    auto* runs = static_cast<int*>(ctx);
    if (++*runs == 1) VcomApartmentPost(VcomCurrentApartment(), repost, ctx);
}

TEST_F(ComTest, ACallMayPostAnother) {
    int runs = 0;
    ASSERT_EQ(VcomApartmentPost(VcomCurrentApartment(), repost, &runs), S_OK);
    EXPECT_EQ(VcomApartmentPumpOne(), 1);
    EXPECT_EQ(runs, 1);
    EXPECT_TRUE(isReadable(VcomApartmentFd()));
    EXPECT_EQ(VcomApartmentPumpOne(), 1);
    EXPECT_EQ(runs, 2);
    EXPECT_EQ(VcomApartmentPumpOne(), 0);
}

void mustNotRun(void*) {
    ADD_FAILURE() << "a call ran in an apartment that has gone";
}

TEST(Apartment, PostsAfterTheApartmentHasGoneFail) {
    std::thread([] {
        ASSERT_EQ(CoInitialize(nullptr), S_OK);
        void* apartment = VcomCurrentApartment();
        ASSERT_EQ(VcomApartmentPost(apartment, mustNotRun, nullptr), S_OK);
        CoUninitialize(); // the queued call is dropped
        EXPECT_EQ(VcomApartmentPost(apartment, mustNotRun, nullptr), E_FAIL);
        EXPECT_EQ(VcomCurrentApartment(), nullptr);
        EXPECT_EQ(VcomApartmentFd(), -1);
        EXPECT_EQ(VcomApartmentPumpOne(), 0);
        ASSERT_EQ(CoInitialize(nullptr), S_OK); // a new apartment does not inherit the old
        EXPECT_EQ(VcomApartmentPost(apartment, mustNotRun, nullptr), E_FAIL);
        EXPECT_EQ(VcomApartmentPumpOne(), 0);
        CoUninitialize();
    }).join();

    // A thread that ends without CoUninitialize takes its apartment along.
    void* ended = nullptr;
    std::thread([&] {
        CoInitialize(nullptr);
        ended = VcomCurrentApartment();
    }).join();
    ASSERT_NE(ended, nullptr);
    EXPECT_EQ(VcomApartmentPost(ended, mustNotRun, nullptr), E_FAIL);
    EXPECT_EQ(VcomApartmentPost(nullptr, mustNotRun, nullptr), E_FAIL);
    EXPECT_EQ(VcomApartmentPost(reinterpret_cast<void*>(uintptr_t{0xDEAD}), mustNotRun, nullptr),
              E_FAIL);
}

void noop(void*) {}

TEST(Apartment, PostingWhileTheOwnerUninitialisesIsSafe) {
    for (int round = 0; round < 20; ++round) {
        std::atomic<void*> apartment{nullptr};
        std::atomic<bool> stop{false};
        std::thread owner([&] {
            CoInitialize(nullptr);
            apartment = VcomCurrentApartment();
            while (!stop)
                VcomApartmentPumpOne();
            CoUninitialize();
        });
        while (!apartment)
            std::this_thread::yield();
        std::atomic<int> refused{0};
        std::thread poster([&] {
            for (int i = 0; i < 20000 && refused == 0; ++i)
                if (VcomApartmentPost(apartment, noop, nullptr) == E_FAIL) ++refused;
        });
        stop = true;
        owner.join();
        poster.join();
        EXPECT_EQ(VcomApartmentPost(apartment, noop, nullptr), E_FAIL);
    }
}

// ---- verdel-regsvr ----

struct RegsvrRun {
    int exitCode = -1;
    std::string out;
};

RegsvrRun runRegsvr(const std::vector<std::string>& args) {
    std::vector<char*> argv{const_cast<char*>(kRegsvr.c_str())};
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    int pipeFds[2];
    RegsvrRun run;
    if (::pipe(pipeFds) != 0) return run;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    posix_spawn_file_actions_addclose(&actions, pipeFds[1]);
    pid_t pid;
    const int spawned =
        ::posix_spawn(&pid, kRegsvr.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0)
        run.out.append(buffer, n);
    ::close(pipeFds[0]);
    int status = 0;
    if (spawned == 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status))
        run.exitCode = WEXITSTATUS(status);
    return run;
}

TEST_F(ComTest, RegsvrExitCodesAndMessages) {
    const std::string textFile = data + "/not-a-library.so";
    testutil::writeAll(textFile, "just text\n");
    const std::string missing = data + "/missing.so";
    const auto q = [](const std::string& s) { return "'" + s + "'"; };
    const struct {
        std::vector<std::string> args;
        int exitCode;
        std::string out; // the whole output, or its start when it ends in "..."
        bool registeredAfter;
    } cases[] = {
        {{kServer}, 0, "verdel-regsvr: Successfully registered library " + q(kServer) + "\n", true},
        {{"-u", kServer},
         0,
         "verdel-regsvr: Successfully unregistered library " + q(kServer) + "\n",
         false},
        {{"/s", kServer}, 0, "", true},
        {{"/U", "-S", kServer}, 0, "", false},
        {{missing}, 3, "verdel-regsvr: Failed to load library " + q(missing) + ": ...", false},
        {{textFile}, 3, "verdel-regsvr: Failed to load library " + q(textFile) + ": ...", false},
        {{"-s", missing}, 3, "", false},
        {{kBare},
         4,
         "verdel-regsvr: 'DllRegisterServer' not implemented in library " + q(kBare) + "\n",
         false},
        {{"-u", kBadReg},
         4,
         "verdel-regsvr: 'DllUnregisterServer' not implemented in library " + q(kBadReg) + "\n",
         false},
        {{kBadReg},
         5,
         "verdel-regsvr: Failed to register library " + q(kBadReg) + " (0x80040201)\n",
         false},
        {{}, 1, "", false},
        {{"-x", kServer}, 1, "", false},
        {{kServer, kBare}, 1, "", false},
    };
    for (const auto& c : cases) {
        std::string line;
        for (const std::string& a : c.args)
            line += a + " ";
        SCOPED_TRACE(line);
        const RegsvrRun run = runRegsvr(c.args);
        EXPECT_EQ(run.exitCode, c.exitCode);
        if (c.out.size() > 3 && c.out.compare(c.out.size() - 3, 3, "...") == 0) {
            EXPECT_EQ(run.out.substr(0, c.out.size() - 3), c.out.substr(0, c.out.size() - 3));
            EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 1);
        } else {
            EXPECT_EQ(run.out, c.out);
        }
        CLSID found;
        EXPECT_EQ(CLSIDFromProgID(u"VerdelFixture.Works.1", &found),
                  c.registeredAfter ? S_OK : CO_E_CLASSSTRING);
    }
}

TEST_F(ComTest, RegisteredByRegsvrThenCreated) {
    ASSERT_EQ(runRegsvr({"-s", kServer}).exitCode, 0);
    CLSID clsid;
    ASSERT_EQ(CLSIDFromProgID(u"VerdelFixture.Works.1", &clsid), S_OK);
    IUnknown* object = nullptr;
    ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                               reinterpret_cast<void**>(&object)),
              S_OK);
    object->Release();
    CLSID fails;
    ASSERT_EQ(CLSIDFromProgID(u"VerdelFixture.Fails.1", &fails), S_OK);
    EXPECT_TRUE(IsEqualGUID(fails, CLSID_FixtureFails));
}

} // namespace
