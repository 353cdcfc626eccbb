// Real recognition through the component (Linux): speech made with
// espeak-ng is dropped into the simulation inbox and must come back as the
// command's text form, with no test double between.
#include "harness.h"
#include "speechkit_fixture.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

// Speech for the text as a .wav: espeak-ng's own (22,050 Hz mono), or
// converted by sox to another rate and channel count.
bool makeSpeech(const std::string& text, const std::string& path, int rate = 0, int channels = 1) {
    const std::string raw = path + ".raw.wav";
    if (std::system(("espeak-ng -v en-us -w '" + raw + "' '" + text + "'").c_str()) != 0)
        return false;
    if (rate == 0) return std::rename(raw.c_str(), path.c_str()) == 0;
    const bool ok = std::system(("sox '" + raw + "' -r " + std::to_string(rate) + " -c " +
                                 std::to_string(channels) + " '" + path + "'")
                                    .c_str()) == 0;
    std::remove(raw.c_str());
    return ok;
}

class Recognition : public SpeechKitFixture {
  protected:
    void SetUp() override {
        SpeechKitFixture::SetUp();
        if (HasFatalFailure()) return;
        // The book beside it, as installed.
        testutil::writeAll(testutil::join(dir, "orvane.txt"),
                           testutil::readAll(VERDEL_SOURCE_BOOK));
    }

    // Makes the speech outside the inbox and moves it in whole.
    void dropSpeech(const std::string& name, const std::string& text, int rate = 0,
                    int channels = 1) {
        const std::string made = testutil::join(dir, name);
        ASSERT_TRUE(makeSpeech(text, made, rate, channels)) << "espeak-ng or sox failed";
        ASSERT_EQ(
            std::rename(made.c_str(), testutil::join(testutil::join(dir, "inbox"), name).c_str()),
            0);
    }
};

TEST_F(Recognition, SpokenCommandsComeBackInTheirTextForm) {
    makeListeningRecogniser();
    ASSERT_EQ(enable(true), S_OK);
    dropSpeech("1.wav", "chapter twelve");
    dropSpeech("2.wav", "chapter twelve", 44100, 2); // another rate, stereo
    dropSpeech("3.wav", "exit program", 16000, 1);
    ASSERT_TRUE(harness::pumpUntil([&] { return sink->texts.size() >= 3; }, 60000))
        << sink->texts.size() << " recognised";
    EXPECT_EQ(sink->texts,
              (std::vector<std::string>{"chapter 12 ", "chapter 12 ", "exit program "}));
    for (unsigned long thread : sink->threads)
        EXPECT_EQ(thread, harness::currentThreadId());
}

TEST_F(Recognition, WithoutTheBookCommandsAreStillRecognised) {
    std::remove(testutil::join(dir, "orvane.txt").c_str());
    makeListeningRecogniser();
    ASSERT_EQ(enable(true), S_OK);
    dropSpeech("1.wav", "help");
    ASSERT_TRUE(harness::pumpUntil([&] { return !sink->texts.empty(); }, 60000));
    EXPECT_EQ(sink->texts, std::vector<std::string>{"help "});
}

TEST_F(Recognition, NothingIsReportedOnceListeningStopsDuringADecode) {
    makeListeningRecogniser();
    ASSERT_EQ(enable(true), S_OK);
    dropSpeech("1.wav", "chapter one hundred and twelve");
    // The file leaves the inbox when its decoding starts; stop right then.
    ASSERT_TRUE(harness::pumpUntil([&] { return !inInbox("1.wav"); }, 60000));
    ASSERT_EQ(enable(false), S_OK);
    harness::pumpFor(3000);
    EXPECT_TRUE(sink->texts.empty()) << sink->texts.front();
    EXPECT_EQ(numberOf(recogniser, 16, {intArg(speechkit::CSREvent), intArg(0)}), 0);
}

} // namespace
