// The speech binding against the stand-in component: every call, its order,
// DISPID, invoke kind, arguments and their types as the component logged
// them, and what the binding made of the results.
#include "../../common/exchangerecord.h"
#include "../../listener/exchangeagent.h"
#include "../../listener/speechengine.h"
#include "comtestutil.h"

#include <algorithm>
#include <cstdio>
#include <gtest/gtest.h>

namespace {

using namespace listener;
using testutil::joined;

class Binding : public ::testing::Test {
  protected:
    void SetUp() override {
        CoInitialize(nullptr);
        dir = testutil::scratchDir("binding");
        logPath = testutil::join(dir, "calls.log");
        scriptPath = testutil::join(dir, "script.txt");
        inbox = testutil::join(dir, "inbox");
        platform::createDirectory(inbox);
        testutil::setEnv("VERDEL_TESTKIT_LOG", logPath);
        testutil::setEnv("VERDEL_TESTKIT_SCRIPT", scriptPath);
        testutil::setEnv("VERDEL_TESTKIT_INBOX", inbox);
        speakPath = testutil::join(dir, "speak.txt");
        heardPath = testutil::join(dir, "heard.txt");
        script("engines=Alpha|Beta\ncurrent=Beta\nplayback-ms=300\n");
    }
    void TearDown() override {
        ReleaseSynthesiser();
        if (recogniser != nullptr) recogniser->Release();
        recogniser = nullptr;
        VariantClear(&dictationVocabId);
        engineNames.clear();
        eventCookie = 0;
        EXPECT_EQ(SpeechEventSink::instances, 0) << "a sink outlived its connection";
        CoUninitialize();
    }

    void script(const std::string& text) { testutil::writeAll(scriptPath, text); }
    void createBoth() {
        synthesiser = CreateSpeechObject(kSynthesiserProgId);
        recogniser = CreateSpeechObject(kRecogniserProgId);
    }
    // The log as lines of space-joined fields, from the given line on.
    std::vector<std::string> calls(std::size_t from = 0) {
        std::vector<std::string> out;
        const auto lines = testutil::readLog(logPath);
        for (std::size_t i = from; i < lines.size(); ++i)
            out.push_back(joined(lines[i]));
        return out;
    }
    std::size_t logSize() { return testutil::readLog(logPath).size(); }
    bool logged(const std::string& prefix) {
        for (const std::string& line : calls())
            if (line.compare(0, prefix.size(), prefix) == 0) return true;
        return false;
    }
    std::size_t count(const std::string& prefix) {
        std::size_t n = 0;
        for (const std::string& line : calls())
            if (line.compare(0, prefix.size(), prefix) == 0) ++n;
        return n;
    }
    // Drops a request file into the component's inbox in one step.
    void drop(const std::string& name, const std::string& content) {
        const std::string temp = testutil::join(inbox, name + ".part");
        testutil::writeAll(temp, content);
        std::rename(temp.c_str(), testutil::join(inbox, name).c_str());
    }
    bool heardExists() { return platform::fileExists(heardPath); }
    std::string heardText() {
        return common::recordText(common::shiftDown(testutil::readAll(heardPath)));
    }

    std::string dir, logPath, scriptPath, inbox;
};

TEST_F(Binding, StartUpCallsInOrderWithTheirArguments) {
    script("engines=Alpha|Beta|Beta\ncurrent=Beta\n");
    createBoth();
    ASSERT_NE(synthesiser, nullptr);
    ASSERT_NE(recogniser, nullptr);
    ListEngines();
    PrepareRecognition();
    const std::string current = CurrentEngineName();
    const std::vector<std::string> expected = {
        "tts create",
        "sr create",
        "tts GetResourceCount 9 method call I4:18 I4:0",
        "tts GetResource 8 method call I4:18 I4:0",
        "engine Engine 4 get call",
        "tts GetResource 8 method call I4:18 I4:1",
        "engine Engine 4 get call",
        "tts GetResource 8 method call I4:18 I4:2",
        "engine Engine 4 get call",
        "sr DefineResource 5 method call I4:15 BSTR:text",
        "sr RegisterCallback 27 method call I4:38",
        "tts GetStringProperty 13 method call I4:5",
    };
    EXPECT_EQ(calls(), expected);
    EXPECT_EQ(engineNames, (std::vector<std::string>{"Alpha", "Beta", "Beta"}));
    EXPECT_EQ(current, "Beta");
    EXPECT_EQ(dictationVocabId.vt, VT_I4);
    EXPECT_EQ(dictationVocabId.lVal, 4711);
}

TEST_F(Binding, SpeakingTheTwoForms) {
    createBoth();
    const std::size_t from = logSize();
    Speak("Caf\xe9 at  12 o'clock.");
    SpeakSynchronously("I'm shutting down now. Good bye.");
    // The synchronous form has returned only after the playback ended.
    const std::vector<std::string> expected = {
        "tts StartPlayback 29 method call BSTR:Caf\xc3\xa9 at  12 o'clock.",
        "tts StartPlayback 29 method call BSTR:I'm shutting down now. Good bye. I4:0 I4:3 I4:-1 "
        "I4:0 I4:4 I4:-1 I4:1",
        "tts PlaybackEnd 29 method done BSTR:I'm shutting down now. Good bye.",
    };
    EXPECT_EQ(calls(from), expected);
    ReleaseSynthesiser();
    EXPECT_EQ(synthesiser, nullptr);
    EXPECT_EQ(calls().back(), "tts release");
}

TEST_F(Binding, TheVocabularyIdGoesBackAsItCame) {
    struct Case {
        const char* type;
        const char* logged;
    };
    for (const Case& c : {Case{"I4", "I4:4711"}, Case{"BSTR", "BSTR:vocab:text"},
                          Case{"R8", "R8:4711"}, Case{"I2", "I2:4711"}}) {
        SCOPED_TRACE(c.type);
        script(std::string("vocab-type=") + c.type + "\n");
        createBoth();
        PrepareRecognition();
        const std::size_t from = logSize();
        StartListening();
        StopListening();
        const std::vector<std::string> expected = {
            std::string("sr EnableResource 9 method call I4:15 ") + c.logged,
            std::string("sr DisableResource 6 method call I4:15 ") + c.logged,
        };
        EXPECT_EQ(calls(from), expected);
        ReleaseSynthesiser();
        recogniser->Release();
        recogniser = nullptr;
    }
}

// The stand-in is as strict as the component it stands for, so the calls
// above prove the invoke kinds: a property read as a method is refused.
TEST_F(Binding, TheStandInRefusesTheWrongInvokeKind) {
    createBoth();
    VARIANT engine;
    VariantInit(&engine);
    DISPPARAMS args{};
    VARIANT a[2];
    VariantInit(&a[0]);
    VariantInit(&a[1]);
    a[0].vt = VT_I4; // index 0 (last argument first)
    a[0].lVal = 0;
    a[1].vt = VT_I4;
    a[1].lVal = CSREngine;
    args.rgvarg = a;
    args.cArgs = 2;
    ASSERT_EQ(synthesiser->Invoke(ttsid::GetResource, IID_NULL, 0, DISPATCH_METHOD, &args, &engine,
                                  nullptr, nullptr),
              S_OK);
    ASSERT_EQ(engine.vt, VT_DISPATCH);
    DISPPARAMS none{};
    VARIANT name;
    VariantInit(&name);
    EXPECT_EQ(engine.pdispVal->Invoke(engineid::Engine, IID_NULL, 0, DISPATCH_METHOD, &none, &name,
                                      nullptr, nullptr),
              DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(synthesiser->Invoke(ttsid::GetResourceCount, IID_NULL, 0, DISPATCH_PROPERTYGET, &args,
                                  &name, nullptr, nullptr),
              DISP_E_MEMBERNOTFOUND);
    EXPECT_TRUE(logged("engine Engine 4 method refused"));
    EXPECT_TRUE(logged("tts GetResourceCount 9 get refused"));
    VariantClear(&name);
    VariantClear(&engine);
}

TEST_F(Binding, ChoosingAnEngineSetsIt) {
    createBoth();
    const std::size_t from = logSize();
    ChooseEngine("Alpha");
    EXPECT_EQ(calls(from),
              std::vector<std::string>{"tts SetStringProperty 26 method call I4:5 BSTR:Alpha"});
    EXPECT_EQ(CurrentEngineName(), "Alpha");
}

TEST_F(Binding, EngineListCases) {
    struct Case {
        const char* name;
        std::string script;
        std::vector<std::string> names;
    };
    const std::vector<Case> cases = {
        {"none", "engines=\n", {}},
        {"one", "engines=Solo\n", {"Solo"}},
        {"duplicates", "engines=Same|Same|Other\n", {"Same", "Same", "Other"}},
        {"accented names", "engines=Ren\xc3\xa9\n", {"Ren\xe9"}},
        {"a name outside the code page", "engines=\xe2\x98\x83 Snow\n", {"? Snow"}},
        {"count larger than the list", "engines=A\nengine-count=3\n", {"A", "", ""}},
        {"negative count", "engines=A|B\nengine-count=-2\n", {}},
        {"count as R8, to the nearest",
         "engines=A|B|C\nnumber-type=R8\nnumber-bias=0.4\n",
         {"A", "B", "C"}},
        {"count as I2", "engines=A|B\nnumber-type=I2\n", {"A", "B"}},
        {"count as UI1", "engines=A|B\nnumber-type=UI1\n", {"A", "B"}},
        {"count as BSTR", "engines=A|B\nnumber-type=BSTR\n", {"A", "B"}},
        {"count as I8", "engines=A|B\nnumber-type=I8\n", {"A", "B"}},
        {"count as R4, to the nearest",
         "engines=A|B\nnumber-type=R4\nnumber-bias=-0.3\n",
         {"A", "B"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        script(c.script);
        synthesiser = CreateSpeechObject(kSynthesiserProgId);
        ListEngines();
        EXPECT_EQ(engineNames, c.names);
        ReleaseSynthesiser();
    }
}

TEST_F(Binding, AHugeEngineCountIsNotFollowed) {
    script("engines=A\nengine-count=2000000000\n");
    synthesiser = CreateSpeechObject(kSynthesiserProgId);
    ListEngines();
    EXPECT_EQ(engineNames.size(), static_cast<std::size_t>(kEngineListLimit));
    EXPECT_EQ(engineNames[0], "A");
}

TEST_F(Binding, AMissingComponentGivesNoObjects) {
    EXPECT_EQ(CreateSpeechObject("XSpeechKit.NotThere.6"), nullptr);
    // Every operation on missing objects does nothing.
    ListEngines();
    PrepareRecognition();
    EXPECT_TRUE(engineNames.empty());
    EXPECT_EQ(CurrentEngineName(), "");
    DWORD cookie = 0;
    EXPECT_EQ(ConnectEventSink(nullptr, cookie), E_POINTER);
    EXPECT_EQ(DisconnectEventSink(nullptr, cookie), E_POINTER);
    StartListening();
    StopListening();
    ChooseEngine("Alpha");
    Speak("nothing");
    SpeakSynchronously("nothing");
    EXPECT_EQ(HandleHasEvent(), S_OK);
    EXPECT_FALSE(heardExists());
    EXPECT_TRUE(calls().empty());
}

TEST_F(Binding, ConnectingAndDisconnectingTheSink) {
    createBoth();
    DWORD cookie = 0;
    ASSERT_EQ(ConnectEventSink(recogniser, cookie), S_OK);
    EXPECT_NE(cookie, 0u);
    EXPECT_EQ(SpeechEventSink::instances, 1) << "kept alive by the connection point alone";
    EXPECT_TRUE(logged("sr FindConnectionPoint   call"));
    EXPECT_EQ(DisconnectEventSink(recogniser, cookie + 1),
              static_cast<HRESULT>(0x80040200L)); // CONNECT_E_NOCONNECTION
    EXPECT_EQ(SpeechEventSink::instances, 1);
    EXPECT_EQ(DisconnectEventSink(recogniser, cookie), S_OK);
    EXPECT_EQ(SpeechEventSink::instances, 0) << "freed by the connection point's release";
}

// Starts listening with the sink connected.
class Events : public Binding {
  protected:
    void SetUp() override {
        Binding::SetUp();
        createBoth();
        PrepareRecognition();
        ASSERT_EQ(ConnectEventSink(recogniser, eventCookie), S_OK);
        StartListening();
    }
    void TearDown() override {
        DisconnectEventSink(recogniser, eventCookie);
        Binding::TearDown();
    }
    // Drops the file and waits until the component has notified the sink.
    void deliver(const std::string& name, const std::string& content, std::size_t fires = 1) {
        const std::size_t before = count("sr fired");
        drop(name, content);
        ASSERT_TRUE(testutil::pumpUntil([&] { return count("sr fired") >= before + fires; }))
            << "the component never notified";
    }
};

TEST_F(Events, ATextEventIsPublished) {
    deliver("a.txt", "chapter 12 ");
    EXPECT_EQ(heardText(), "chapter 12 ");
    const std::vector<std::string> expected = {
        "sr queued   event kind:38 text:chapter 12 ",
        "sr GetResourceCount 16 method call I4:19 I4:0",
        "sr GetResource 15 method call I4:19 I4:0",
        "event KitCallback 5 get call",
        "event Text 29 get call",
        "sr RemoveResource 28 method call I4:19 I4:0",
        "sr fired 1 emptyparams 0x00000000",
    };
    const auto all = calls();
    const auto at = std::find(all.begin(), all.end(), expected.front());
    ASSERT_NE(at, all.end());
    EXPECT_EQ(std::vector<std::string>(at, all.end()), expected);
}

TEST_F(Events, EventCases) {
    struct Case {
        const char* name;
        std::string script;
        std::string file;
        std::string heard; // "-" when nothing is written
        std::size_t removed;
        std::size_t textReads;
    };
    const std::vector<Case> cases = {
        {"another kind is removed unwritten", "", "kind 7 noise\n", "-", 1, 0},
        {"two texts in one notification", "", "text first \ntext second \n", "second ", 2, 2},
        {"a text among other kinds", "", "kind 1\ntext yes \nkind 40 x\n", "yes ", 3, 1},
        {"an empty phrase", "", "text \n", "", 1, 1},
        {"kinds as R8", "number-type=R8\nnumber-bias=0.4\n", "text help \n", "help ", 1, 1},
        {"kinds as I2", "number-type=I2\n", "text help \n", "help ", 1, 1},
        {"kinds as BSTR", "number-type=BSTR\n", "text help \n", "help ", 1, 1},
        {"accented text", "", "text caf\xc3\xa9 \n", "caf\xe9 ", 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        script(c.script);
        platform::deleteFile(heardPath);
        platform::deleteFile(logPath);
        deliver(std::string("case.evt"), c.file);
        if (c.heard == "-")
            EXPECT_FALSE(heardExists());
        else
            EXPECT_EQ(heardText(), c.heard);
        EXPECT_EQ(count("sr RemoveResource 28 method call"), c.removed);
        EXPECT_EQ(count("event Text 29 get call"), c.textReads);
    }
}

TEST_F(Events, NotificationsThatReadNothing) {
    // No argument block: S_OK and no event read; another DISPID: refused.
    deliver("a.evt", "text waiting \nfire-null\nfire-dispid 7\n", 2);
    EXPECT_TRUE(logged("sr fired 1 noparams 0x00000000"));
    EXPECT_TRUE(logged("sr fired 7 emptyparams 0x80020003")); // DISP_E_MEMBERNOTFOUND
    EXPECT_FALSE(logged("sr GetResourceCount"));
    EXPECT_FALSE(heardExists());
    // The event is still queued and goes out with the next notification.
    deliver("b.evt", "fire\n");
    EXPECT_EQ(heardText(), "waiting ");
}

TEST_F(Events, NothingIsHeardWhileNotListening) {
    StopListening();
    drop("a.txt", "chapter 12 ");
    testutil::pumpUntil([] { return false; }, 300);
    EXPECT_FALSE(heardExists());
    StartListening();
    ASSERT_TRUE(testutil::pumpUntil([&] { return heardExists(); }));
    EXPECT_EQ(heardText(), "chapter 12 ");
}

// The whole life of the binding, as the window runs it, with one member of
// the component failing: the binding goes on, and what was not obtained
// reads as 0, empty or nothing.
TEST_F(Binding, EveryMemberFailingInTurn) {
    struct Case {
        const char* fail;
        std::vector<std::string> engines;
        std::string current;
        std::string heard; // "-": nothing published
        bool listening;    // events reach the component's queue
    };
    const std::vector<std::string> both = {"Alpha", "Beta"};
    const std::vector<Case> cases = {
        {"", both, "Beta", "chapter 12 ", true},
        {"create.tts", {}, "", "chapter 12 ", true},
        {"create.sr", both, "Beta", "-", false},
        {"tts.GetResourceCount", {}, "Beta", "chapter 12 ", true},
        {"tts.GetResource", {"", ""}, "Beta", "chapter 12 ", true},
        {"engine.Engine", {"", ""}, "Beta", "chapter 12 ", true},
        {"tts.GetStringProperty", both, "", "chapter 12 ", true},
        {"tts.SetStringProperty", both, "Beta", "chapter 12 ", true},
        {"tts.StartPlayback", both, "Beta", "chapter 12 ", true},
        {"sr.DefineResource", both, "Beta", "-", false},
        {"sr.RegisterCallback", both, "Beta", "-", true},
        {"sr.EnableResource", both, "Beta", "-", false},
        {"sr.DisableResource", both, "Beta", "chapter 12 ", true},
        {"sr.GetResourceCount", both, "Beta", "-", true},
        {"sr.GetResource", both, "Beta", "-", true},
        {"sr.RemoveResource", both, "Beta", "chapter 12 ", true},
        {"event.KitCallback", both, "Beta", "-", true},
        {"event.Text", both, "Beta", "", true},
        {"sr.QueryInterface.cpc", both, "Beta", "-", true},
        {"sr.FindConnectionPoint", both, "Beta", "-", true},
        {"sr.Advise", both, "Beta", "-", true},
        {"sr.Unadvise", both, "Beta", "chapter 12 ", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fail);
        script(std::string("engines=Alpha|Beta\ncurrent=Beta\nplayback-ms=10\nfail=") + c.fail +
               "\n");
        platform::deleteFile(heardPath);
        platform::deleteFile(logPath);

        createBoth();
        ListEngines();
        PrepareRecognition();
        const std::string current = CurrentEngineName();
        const HRESULT connected = ConnectEventSink(recogniser, eventCookie);
        Speak("Press the start listening button.");
        StartListening();
        drop("a.txt", "chapter 12 ");
        if (c.listening) {
            ASSERT_TRUE(testutil::pumpUntil([&] { return logged("sr queued"); }));
        }
        // A notification is posted right after the event is queued.
        testutil::pumpUntil([] { return false; }, 200);
        ChooseEngine("Alpha");
        StopListening();
        DisconnectEventSink(recogniser, eventCookie);
        SpeakSynchronously("Good bye.");
        ReleaseSynthesiser();
        if (recogniser != nullptr) recogniser->Release();
        recogniser = nullptr;
        for (const std::string& f : {std::string("a.txt")})
            platform::deleteFile(testutil::join(inbox, f));

        EXPECT_EQ(engineNames, c.engines);
        EXPECT_EQ(current, c.current);
        if (c.heard == "-")
            EXPECT_FALSE(heardExists());
        else
            EXPECT_EQ(heardText(), c.heard);
        const bool sinkRefused = std::string(c.fail) == "sr.QueryInterface.cpc" ||
                                 std::string(c.fail) == "sr.FindConnectionPoint" ||
                                 std::string(c.fail) == "sr.Advise" ||
                                 std::string(c.fail) == "create.sr";
        EXPECT_EQ(SUCCEEDED(connected), !sinkRefused);
        EXPECT_EQ(SpeechEventSink::instances, 0);
        if (std::string(c.fail) == "sr.RemoveResource") {
            // Stopped after the first event: no event is published twice.
            EXPECT_EQ(count("event Text 29 get call"), 1u);
        }
        VariantClear(&dictationVocabId);
        engineNames.clear();
        eventCookie = 0;
    }
}

TEST_F(Binding, RemoveFailingStopsTheRunSoNothingIsPublishedTwice) {
    script("fail=sr.RemoveResource\n");
    createBoth();
    PrepareRecognition();
    ASSERT_EQ(ConnectEventSink(recogniser, eventCookie), S_OK);
    StartListening();
    drop("a.evt", "text one \ntext two \n");
    ASSERT_TRUE(testutil::pumpUntil([&] { return logged("sr fired"); }));
    EXPECT_EQ(count("sr GetResource 15"), 1u);
    EXPECT_EQ(heardText(), "one ");
    DisconnectEventSink(recogniser, eventCookie);
}

// ---- SpeechEventSink's methods --------------------------------------------

TEST(SpeechEventSinkMethods, ReferenceCounting) {
    SpeechEventSink* sink = SpeechEventSink::Create();
    ASSERT_NE(sink, nullptr);
    EXPECT_EQ(SpeechEventSink::instances, 1);
    EXPECT_EQ(sink->AddRef(), 1u) << "the count starts at 0";
    EXPECT_EQ(sink->AddRef(), 2u);
    EXPECT_EQ(sink->Release(), 1u);
    EXPECT_EQ(SpeechEventSink::instances, 1);
    EXPECT_EQ(sink->Release(), 0u);
    EXPECT_EQ(SpeechEventSink::instances, 0) << "the last release frees it";
}

TEST(SpeechEventSinkMethods, QueryInterfaceTable) {
    struct Case {
        const char* name;
        IID iid;
        HRESULT result;
    };
    const std::vector<Case> cases = {
        {"IUnknown", IID_IUnknown, S_OK},
        {"IDispatch", IID_IDispatch, S_OK},
        {"_IXKitSREvents", IID_IXKitSREvents, S_OK},
        {"IConnectionPointContainer", IID_IConnectionPointContainer, E_NOINTERFACE},
        {"IClassFactory", IID_IClassFactory, E_NOINTERFACE},
    };
    SpeechEventSink* sink = SpeechEventSink::Create();
    sink->AddRef();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        void* out = reinterpret_cast<void*>(1);
        EXPECT_EQ(sink->QueryInterface(c.iid, &out), c.result);
        if (c.result == S_OK) {
            EXPECT_EQ(out, static_cast<IDispatch*>(sink));
            EXPECT_EQ(sink->Release(), 1u) << "QueryInterface added one reference";
        } else {
            EXPECT_EQ(out, nullptr);
        }
    }
    sink->Release();
    EXPECT_EQ(SpeechEventSink::instances, 0);
}

TEST(SpeechEventSinkMethods, DispatchMethods) {
    SpeechEventSink* sink = SpeechEventSink::Create();
    sink->AddRef();
    UINT count = 7;
    EXPECT_EQ(sink->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 0u);
    ITypeInfo* info = nullptr;
    EXPECT_EQ(sink->GetTypeInfo(0, 0, &info), E_NOTIMPL);
    DISPID id = 0;
    OLECHAR name[] = {'H', 'a', 's', 'E', 'v', 'e', 'n', 't', 0};
    LPOLESTR names[] = {name};
    EXPECT_EQ(sink->GetIDsOfNames(IID_NULL, names, 1, 0, &id), E_NOTIMPL);

    // Invoke, with no recogniser to read events from.
    DISPPARAMS none{};
    struct Case {
        const char* name;
        DISPID member;
        DISPPARAMS* params;
        HRESULT result;
    };
    for (const Case& c : {Case{"HasEvent", 1, &none, S_OK},
                          Case{"HasEvent without an argument block", 1, nullptr, S_OK},
                          Case{"another DISPID", 2, &none, DISP_E_MEMBERNOTFOUND},
                          Case{"DISPID 0", 0, &none, DISP_E_MEMBERNOTFOUND},
                          Case{"another DISPID without arguments", 9, nullptr, S_OK}}) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(sink->Invoke(c.member, IID_NULL, 0, DISPATCH_METHOD, c.params, nullptr, nullptr,
                               nullptr),
                  c.result);
    }
    sink->Release();
}

} // namespace
