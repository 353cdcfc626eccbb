// The speech component driven through COM as the listening window drives
// it: the members and their results, refusals, the engines, simulation
// mode, recognition events on the creating thread, unloading, registration.
#include "harness.h"
#include "speechkit_fixture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace {

class SpeechKit : public SpeechKitFixture {};

// ---- members, results and refusals -------------------------------------------

TEST_F(SpeechKit, SynthesiserMembersAnswerWithTheListedTypes) {
    ASSERT_NE(makeSynthesiser(), nullptr);
    Call count;
    invoke(count, synthesiser, 9, DISPATCH_METHOD, {intArg(speechkit::CSREngine), intArg(0)});
    ASSERT_EQ(count.hr, S_OK);
    ASSERT_EQ(V_VT(&count.result), VT_I4);
    const LONG engines = count.number();
    ASSERT_GE(engines, 0);
    for (LONG i = 0; i < engines; ++i) {
        Call get;
        invoke(get, synthesiser, 8, DISPATCH_METHOD, {intArg(speechkit::CSREngine), intArg(i)});
        ASSERT_EQ(get.hr, S_OK);
        IDispatch* engine = get.object();
        ASSERT_NE(engine, nullptr);
        Call name;
        invoke(name, engine, 4, DISPATCH_PROPERTYGET, {});
        EXPECT_EQ(name.hr, S_OK);
        EXPECT_EQ(V_VT(&name.result), VT_BSTR);
        EXPECT_FALSE(name.text().empty());
        engine->Release();
    }
    Call current;
    invoke(current, synthesiser, 13, DISPATCH_METHOD, {intArg(speechkit::CSPEngine)});
    EXPECT_EQ(current.hr, S_OK);
    EXPECT_EQ(V_VT(&current.result), VT_BSTR);
    EXPECT_EQ(method(synthesiser, 29, {textArg("hello")}), S_OK);
}

TEST_F(SpeechKit, RecogniserMembersAnswerWithTheListedTypes) {
    makeListeningRecogniser();
    EXPECT_EQ(V_VT(&vocabulary), VT_I4);
    Call count;
    invoke(count, recogniser, 16, DISPATCH_METHOD, {intArg(speechkit::CSREvent), intArg(0)});
    EXPECT_EQ(count.hr, S_OK);
    EXPECT_EQ(V_VT(&count.result), VT_I4);
    EXPECT_EQ(count.number(), 0);
    EXPECT_EQ(enable(true), S_OK);
    EXPECT_EQ(enable(false), S_OK);
    // No event queued: index 0 does not exist.
    EXPECT_EQ(method(recogniser, 15, {intArg(speechkit::CSREvent), intArg(0)}), DISP_E_BADINDEX);
    EXPECT_EQ(method(recogniser, 28, {intArg(speechkit::CSREvent), intArg(0)}), DISP_E_BADINDEX);
}

struct Refusal {
    const char* what;
    bool onRecogniser;
    DISPID id;
    WORD flags;
    int argCount; // of VT_I4 5s
    bool named;
    HRESULT expected;
};

TEST_F(SpeechKit, WrongKindCountOrMemberIsRefused) {
    ASSERT_NE(makeSynthesiser(), nullptr);
    makeListeningRecogniser();
    const Refusal cases[] = {
        {"unknown member", false, 77, DISPATCH_METHOD, 0, false, DISP_E_MEMBERNOTFOUND},
        {"method read as property", false, 13, DISPATCH_PROPERTYGET, 1, false,
         DISP_E_MEMBERNOTFOUND},
        {"method written as property", false, 26, DISPATCH_PROPERTYPUT, 2, false,
         DISP_E_MEMBERNOTFOUND},
        {"count without arguments", false, 9, DISPATCH_METHOD, 0, false, DISP_E_BADPARAMCOUNT},
        {"count with three", false, 9, DISPATCH_METHOD, 3, false, DISP_E_BADPARAMCOUNT},
        {"playback with nine", false, 29, DISPATCH_METHOD, 9, false, DISP_E_BADPARAMCOUNT},
        {"playback without text", false, 29, DISPATCH_METHOD, 0, false, DISP_E_BADPARAMCOUNT},
        {"named arguments", false, 13, DISPATCH_METHOD, 1, true, DISP_E_NONAMEDARGS},
        {"engine of a bad kind", false, 9, DISPATCH_METHOD, 2, false, E_INVALIDARG},
        {"define with one", true, 5, DISPATCH_METHOD, 1, false, DISP_E_BADPARAMCOUNT},
        {"enable with three", true, 9, DISPATCH_METHOD, 3, false, DISP_E_BADPARAMCOUNT},
        {"event count read as property", true, 16, DISPATCH_PROPERTYGET, 2, false,
         DISP_E_MEMBERNOTFOUND},
        {"callback of another kind", true, 27, DISPATCH_METHOD, 1, false, E_INVALIDARG},
        {"unknown recogniser member", true, 1, DISPATCH_METHOD, 0, false, DISP_E_MEMBERNOTFOUND},
    };
    for (const Refusal& c : cases) {
        std::vector<VARIANT> args(c.argCount, intArg(5));
        std::vector<VARIANT> reversed(args.rbegin(), args.rend());
        DISPID named = 0;
        DISPPARAMS params = {reversed.empty() ? nullptr : reversed.data(),
                             c.named ? &named : nullptr, static_cast<UINT>(reversed.size()),
                             c.named ? 1u : 0u};
        VARIANT result;
        VariantInit(&result);
        IDispatch* target = c.onRecogniser ? recogniser : synthesiser;
        EXPECT_EQ(target->Invoke(c.id, IID_NULL, 0, c.flags, &params, &result, nullptr, nullptr),
                  c.expected)
            << c.what;
        VariantClear(&result);
    }
    // A property invoked as a method is refused too.
    Call get;
    invoke(get, synthesiser, 8, DISPATCH_METHOD, {intArg(speechkit::CSREngine), intArg(0)});
    if (IDispatch* engine = get.object()) {
        Call asMethod;
        invoke(asMethod, engine, 4, DISPATCH_METHOD, {});
        EXPECT_EQ(asMethod.hr, DISP_E_MEMBERNOTFOUND);
        Call withArgument;
        invoke(withArgument, engine, 4, DISPATCH_PROPERTYGET, {intArg(1)});
        EXPECT_EQ(withArgument.hr, DISP_E_BADPARAMCOUNT);
        engine->Release();
    }
    // A text where a number belongs is a type mismatch, not a crash.
    EXPECT_EQ(method(synthesiser, 13, {textArg("five")}), DISP_E_TYPEMISMATCH);
    // An unknown vocabulary id.
    EXPECT_EQ(method(recogniser, 9, {intArg(speechkit::CSRDictationVocab), intArg(4242)}),
              E_INVALIDARG);
}

TEST_F(SpeechKit, NumbersArriveInAnyNumericTypeAndOptionalArgumentsMayBeMissing) {
    ASSERT_NE(makeSynthesiser(), nullptr);
    const LONG expected = numberOf(synthesiser, 9, {intArg(speechkit::CSREngine), intArg(0)});
    VARIANT asShort, asDouble, asText, asByRef;
    VariantInit(&asShort);
    V_VT(&asShort) = VT_I2;
    V_I2(&asShort) = speechkit::CSREngine;
    VariantInit(&asDouble);
    V_VT(&asDouble) = VT_R8;
    V_R8(&asDouble) = 18.0;
    asText = textArg("18");
    LONG referenced = speechkit::CSREngine;
    VariantInit(&asByRef);
    V_VT(&asByRef) = VT_I4 | VT_BYREF;
    asByRef.plVal = &referenced;
    EXPECT_EQ(numberOf(synthesiser, 9, {asShort, intArg(0)}), expected);
    EXPECT_EQ(numberOf(synthesiser, 9, {asDouble, intArg(0)}), expected);
    EXPECT_EQ(numberOf(synthesiser, 9, {asText, intArg(0)}), expected);
    EXPECT_EQ(numberOf(synthesiser, 9, {asByRef, intArg(0)}), expected);
    // The trailing index left out, or passed as "missing".
    EXPECT_EQ(numberOf(synthesiser, 9, {intArg(speechkit::CSREngine)}), expected);
    VARIANT missing;
    VariantInit(&missing);
    V_VT(&missing) = VT_ERROR;
    V_ERROR(&missing) = DISP_E_PARAMNOTFOUND;
    EXPECT_EQ(numberOf(synthesiser, 9, {intArg(speechkit::CSREngine), missing}), expected);
}

// ---- engines -----------------------------------------------------------------

std::vector<std::string> engineNames(IDispatch* synthesiser) {
    std::vector<std::string> names;
    const LONG n = numberOf(synthesiser, 9, {intArg(speechkit::CSREngine), intArg(0)});
    for (LONG i = 0; i < n; ++i) {
        Call get;
        invoke(get, synthesiser, 8, DISPATCH_METHOD, {intArg(speechkit::CSREngine), intArg(i)});
        IDispatch* engine = get.object();
        names.push_back(engine ? textOf(engine, 4, DISPATCH_PROPERTYGET) : "<none>");
        if (engine) engine->Release();
    }
    return names;
}

TEST_F(SpeechKit, EnginesCanBeChosenByTheirListedName) {
    ASSERT_NE(makeSynthesiser(), nullptr);
    const std::vector<std::string> names = engineNames(synthesiser);
    if (names.empty()) GTEST_SKIP() << "this machine has no voices";
    EXPECT_EQ(textOf(synthesiser, 13, DISPATCH_METHOD, {intArg(speechkit::CSPEngine)}), names[0]);
    EXPECT_EQ(method(synthesiser, 26, {intArg(speechkit::CSPEngine), textArg(names.back())}), S_OK);
    EXPECT_EQ(textOf(synthesiser, 13, DISPATCH_METHOD, {intArg(speechkit::CSPEngine)}),
              names.back());
    // An unknown name (or another case) keeps the current voice.
    for (const std::string& unknown :
         {std::string("No Such Voice"), std::string(""), std::string(names.back() + " ")})
        EXPECT_EQ(method(synthesiser, 26, {intArg(speechkit::CSPEngine), textArg(unknown)}),
                  E_INVALIDARG);
    EXPECT_EQ(textOf(synthesiser, 13, DISPATCH_METHOD, {intArg(speechkit::CSPEngine)}),
              names.back());
    // The list stays as it was; an index past its end is refused.
    EXPECT_EQ(engineNames(synthesiser), names);
    EXPECT_EQ(method(synthesiser, 8,
                     {intArg(speechkit::CSREngine), intArg(static_cast<LONG>(names.size()))}),
              DISP_E_BADINDEX);
}

TEST_F(SpeechKit, WithoutVoicesTheListIsEmptyAndSpeakingDoesNothing) {
    const std::string empty = testutil::join(dir, "no-voices");
    platform::createDirectory(empty);
    if (!harness::hideVoices(empty)) GTEST_SKIP() << "the voices of this platform stay";
    harness::setEnvironment("XSPEECHKIT_SIMULATE", "");
    ASSERT_NE(makeSynthesiser(), nullptr);
    harness::setEnvironment("ESPEAK_DATA_PATH", "");
    // The voice library is set up once per process: a test before this one
    // in the same process already found the voices.
    if (!engineNames(synthesiser).empty()) GTEST_SKIP() << "voices were loaded before";
    EXPECT_EQ(textOf(synthesiser, 13, DISPATCH_METHOD, {intArg(speechkit::CSPEngine)}), "");
    EXPECT_EQ(method(synthesiser, 8, {intArg(speechkit::CSREngine), intArg(0)}), DISP_E_BADINDEX);
    EXPECT_EQ(method(synthesiser, 26, {intArg(speechkit::CSPEngine), textArg("English (America)")}),
              E_INVALIDARG);
    EXPECT_EQ(method(synthesiser, 29, {textArg("Nobody speaks this.")}), S_OK);
    EXPECT_EQ(method(synthesiser, 29, synchronousPlayback("Good bye.")), S_OK);
}

// ---- simulation: speaking ---------------------------------------------------

TEST_F(SpeechKit, SimulatedPlaybackLogsEveryTextInOrder) {
    ASSERT_NE(makeSynthesiser(), nullptr);
    EXPECT_EQ(method(synthesiser, 29, {textArg("Press the start listening button.")}), S_OK);
    EXPECT_EQ(method(synthesiser, 29, {textArg("")}), S_OK); // nothing to say
    EXPECT_EQ(method(synthesiser, 29, {textArg("two\r\nlines")}), S_OK);
    EXPECT_EQ(method(synthesiser, 29, {textArg("caf\xc3\xa9 \xe2\x82\xac")}), S_OK);
    EXPECT_EQ(method(synthesiser, 29, synchronousPlayback("I'm shutting down now. Good bye.")),
              S_OK);
    EXPECT_EQ(spokenLog(), "Press the start listening button.\n"
                           "two  lines\n"
                           "caf\xc3\xa9 \xe2\x82\xac\n"
                           "I'm shutting down now. Good bye.\n");
}

TEST_F(SpeechKit, AVeryLongTextIsTakenWithoutDelay) {
    ASSERT_NE(makeSynthesiser(), nullptr);
    std::string text;
    while (text.size() < 70000)
        text += "The harbour walls stand. ";
    text.resize(70000);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(method(synthesiser, 29, {textArg(text)}), S_OK);
    EXPECT_EQ(method(synthesiser, 29, synchronousPlayback("after")), S_OK);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
    EXPECT_EQ(spokenLog(), text + "\nafter\n");
}

// ---- simulation: listening ----------------------------------------------------

TEST_F(SpeechKit, InboxTextsBecomeEventsOnTheCreatingThreadOnlyWhileEnabled) {
    makeListeningRecogniser();
    drop("01.txt", "help ");
    harness::pumpFor(300);
    EXPECT_TRUE(sink->texts.empty()) << "heard before listening was enabled";
    EXPECT_TRUE(inInbox("01.txt")) << "consumed before listening was enabled";

    ASSERT_EQ(enable(true), S_OK);
    drop("02.txt", "chapter 12 ");
    drop("03.txt", "locate caf\xc3\xa9 walls ");
    ASSERT_TRUE(harness::pumpUntil([&] { return sink->texts.size() >= 3; }, 60000));
    EXPECT_EQ(sink->texts,
              (std::vector<std::string>{"help ", "chapter 12 ", "locate caf\xc3\xa9 walls "}));
    EXPECT_EQ(sink->kinds, (std::vector<LONG>{38, 38, 38}));
    for (unsigned long thread : sink->threads)
        EXPECT_EQ(thread, harness::currentThreadId());
    EXPECT_FALSE(inInbox("01.txt"));
    EXPECT_FALSE(inInbox("02.txt"));
    EXPECT_FALSE(inInbox("03.txt"));
    EXPECT_EQ(numberOf(recogniser, 16, {intArg(speechkit::CSREvent), intArg(0)}), 0);

    ASSERT_EQ(enable(false), S_OK);
    drop("04.txt", "exit program ");
    harness::pumpFor(300);
    EXPECT_EQ(sink->texts.size(), 3u) << "heard after listening was disabled";
    EXPECT_TRUE(inInbox("04.txt"));
}

TEST_F(SpeechKit, EventsWaitInTheQueueOldestFirst) {
    makeListeningRecogniser();
    ASSERT_EQ(disconnect(recogniser, cookie), S_OK); // read by hand below
    cookie = 0;
    ASSERT_EQ(enable(true), S_OK);
    drop("a.txt", "yes ");
    drop("b.txt", "no ");
    ASSERT_TRUE(harness::pumpUntil(
        [&] {
            return numberOf(recogniser, 16, {intArg(speechkit::CSREvent), intArg(0)}) == 2;
        },
        60000));
    Call second;
    invoke(second, recogniser, 15, DISPATCH_METHOD, {intArg(speechkit::CSREvent), intArg(1)});
    IDispatch* event = second.object();
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(textOf(event, 29, DISPATCH_PROPERTYGET), "no ");
    event->Release();
    EXPECT_EQ(method(recogniser, 28, {intArg(speechkit::CSREvent), intArg(0)}), S_OK);
    Call first;
    invoke(first, recogniser, 15, DISPATCH_METHOD, {intArg(speechkit::CSREvent), intArg(0)});
    event = first.object();
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(textOf(event, 29, DISPATCH_PROPERTYGET), "no ");
    event->Release();
    // Disabling drops what was not read.
    ASSERT_EQ(enable(false), S_OK);
    EXPECT_EQ(numberOf(recogniser, 16, {intArg(speechkit::CSREvent), intArg(0)}), 0);
}

TEST_F(SpeechKit, EnablingTwiceListensOnceAndOneDisableStops) {
    makeListeningRecogniser();
    ASSERT_EQ(enable(true), S_OK);
    ASSERT_EQ(enable(true), S_OK);
    drop("1.txt", "result ");
    ASSERT_TRUE(harness::pumpUntil([&] { return !sink->texts.empty(); }, 60000));
    harness::pumpFor(200);
    EXPECT_EQ(sink->texts, std::vector<std::string>{"result "});
    ASSERT_EQ(enable(false), S_OK);
    drop("2.txt", "help ");
    harness::pumpFor(300);
    EXPECT_EQ(sink->texts.size(), 1u);
    ASSERT_EQ(enable(false), S_OK); // stopping when stopped is harmless
}

TEST_F(SpeechKit, BadRecordingsAreConsumedWithoutAnEvent) {
    makeListeningRecogniser();
    ASSERT_EQ(enable(true), S_OK);
    // A 16 kHz mono 16-bit header that promises one second of samples.
    const auto le = [](unsigned value, int bytes) {
        std::string out;
        for (int i = 0; i < bytes; ++i)
            out += static_cast<char>((value >> (8 * i)) & 0xFF);
        return out;
    };
    const std::string header16k = "RIFF" + le(36 + 32000, 4) + "WAVEfmt " + le(16, 4) + le(1, 2) +
                                  le(1, 2) + le(16000, 4) + le(32000, 4) + le(2, 2) + le(16, 2) +
                                  "data" + le(32000, 4);
    drop("1.wav", "");                                   // empty
    drop("2.wav", "this is not a recording at all");     // corrupt
    drop("3.wav", header16k + std::string(100, '\0'));   // truncated
    drop("4.wav", header16k.substr(0, 20));              // cut inside the header
    drop("5.wav", header16k + std::string(32000, '\0')); // one second of silence
    ASSERT_TRUE(harness::pumpUntil(
        [&] {
            for (const char* n : {"1.wav", "2.wav", "3.wav", "4.wav", "5.wav"})
                if (inInbox(n)) return false;
            return true;
        },
        60000));
    drop("6.txt", "continue ");
    ASSERT_TRUE(harness::pumpUntil([&] { return !sink->texts.empty(); }, 60000));
    EXPECT_EQ(sink->texts, std::vector<std::string>{"continue "});
}

TEST_F(SpeechKit, ReleasingWhileListeningEndsCleanly) {
    makeListeningRecogniser();
    ASSERT_EQ(enable(true), S_OK);
    drop("1.txt", "help ");
    // Released with the sink still connected and an event perhaps queued:
    // TearDown then requires DllCanUnloadNow to answer S_OK.
    harness::pumpFor(100);
    recogniser->Release();
    recogniser = nullptr;
    cookie = 0;
    EXPECT_EQ(sink->refs, 0u) << "the sink was not released";
}

TEST_F(SpeechKit, TheLibraryStaysLoadedWhileAnObjectLives) {
    ASSERT_NE(makeSynthesiser(), nullptr);
    harness::tearDown();
    EXPECT_EQ(harness::canUnloadNow(), S_FALSE);
}

TEST_F(SpeechKit, AdviseAndUnadviseFollowTheProtocol) {
    makeListeningRecogniser();
    HRESULT hr = S_OK;
    // An object that is no event sink cannot connect.
    IUnknown* notASink = synthesiser = makeSynthesiser();
    EXPECT_EQ(connect(recogniser, notASink, &hr), 0u);
    EXPECT_EQ(hr, CONNECT_E_CANNOTCONNECT);
    EXPECT_EQ(disconnect(recogniser, 999), CONNECT_E_NOCONNECTION);
    IConnectionPointContainer* container = nullptr;
    ASSERT_EQ(recogniser->QueryInterface(IID_IConnectionPointContainer,
                                         reinterpret_cast<void**>(&container)),
              S_OK);
    IConnectionPoint* point = nullptr;
    EXPECT_EQ(container->FindConnectionPoint(IID_IDispatch, &point), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(point, nullptr);
    container->Release();
    ASSERT_EQ(disconnect(recogniser, cookie), S_OK);
    EXPECT_EQ(sink->refs, 0u);
    EXPECT_EQ(disconnect(recogniser, cookie), CONNECT_E_NOCONNECTION);
    cookie = 0;
}

} // namespace

namespace {

// ---- without simulation: no sound devices here --------------------------------

TEST_F(SpeechKit, WithoutSoundDevicesSpeakingAndListeningFailSoftly) {
    harness::setEnvironment("XSPEECHKIT_SIMULATE", "");
    // No audio server to reach (PulseAudio); SAPI under Wine can neither
    // speak nor recognise.
    harness::setEnvironment("PULSE_SERVER", "unix:" + testutil::join(dir, "no-server"));
    ASSERT_NE(makeSynthesiser(), nullptr);
    EXPECT_EQ(method(synthesiser, 29, {textArg("Nobody hears this.")}), S_OK);
    EXPECT_EQ(method(synthesiser, 29, synchronousPlayback("I'm shutting down now. Good bye.")),
              S_OK);
    makeListeningRecogniser();
    EXPECT_EQ(enable(true), S_OK);
    harness::pumpFor(500);
    EXPECT_EQ(enable(false), S_OK);
    EXPECT_TRUE(sink->texts.empty());
    EXPECT_EQ(spokenLog(), "");
    harness::setEnvironment("PULSE_SERVER", "");
}

// ---- registration, as the installer does it ------------------------------------

TEST(Registration, RegistersBothProgIdsAndRemovesThemAgain) {
    std::string why;
    ASSERT_TRUE(harness::setUp(why)) << why;
    struct Restore {
        harness::SavedRegistrations* saved = harness::saveRegistrations();
        ~Restore() { harness::restoreRegistrations(saved); }
    } restore;
    ASSERT_EQ(harness::registerTool(false), 0);
    CLSID clsid;
    ASSERT_EQ(harness::classIdOf(speechkit::kProgIdSR, clsid), S_OK);
    EXPECT_TRUE(IsEqualCLSID(clsid, speechkit::CLSID_XKitSR));
    ASSERT_EQ(harness::classIdOf(speechkit::kProgIdTTS, clsid), S_OK);
    EXPECT_TRUE(IsEqualCLSID(clsid, speechkit::CLSID_XKitTTS));
    // Created the way the window creates them.
    for (const CLSID* c : {&speechkit::CLSID_XKitSR, &speechkit::CLSID_XKitTTS}) {
        IDispatch* object = nullptr;
        EXPECT_EQ(CoCreateInstance(*c, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                                   IID_IDispatch, reinterpret_cast<void**>(&object)),
                  S_OK);
        if (object) object->Release();
    }
    ASSERT_EQ(harness::registerTool(true), 0);
    EXPECT_NE(harness::classIdOf(speechkit::kProgIdSR, clsid), S_OK);
    EXPECT_NE(harness::classIdOf(speechkit::kProgIdTTS, clsid), S_OK);
}

} // namespace
