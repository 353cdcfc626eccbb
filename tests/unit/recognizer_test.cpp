// The Linux recogniser: number words, the grammar built from a book, and
// pocketsphinx decoding of speech made with espeak-ng (real model, no double).
#include "speechkit/grammar.h"
#include "speechkit/lexicon.h"
#include "speechkit/numberwords.h"
#include "speechkit/recognizer.h"
#include "testutil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

const std::string kDictionary = "/usr/share/pocketsphinx/model/en-us/cmudict-en-us.dict";

// A small book: a British spelling, a name no dictionary knows, a sentence
// break and a comma that end runs of words.
const char* const kBook = "The harbour walls of Orvane were old.  Money, said the rope-makers,\r\n"
                          "was never enough for the city's lamps.\r\n";

TEST(NumberWords, ReadsEveryFormOfZeroToNineHundredNinetyNine) {
    struct Case {
        const char* words;
        int value;
    } cases[] = {
        {"zero", 0},
        {"seven", 7},
        {"twelve", 12},
        {"nineteen", 19},
        {"twenty", 20},
        {"ninety nine", 99},
        {"twenty-three", 23},
        {"one hundred", 100},
        {"a hundred", 100},
        {"one hundred twelve", 112},
        {"one hundred and twelve", 112},
        {"a hundred and fifteen", 115},
        {"five hundred", 500},
        {"nine hundred and ninety nine", 999},
        {"Two Hundred  Six", 206},
        // Malformed: not one number of 0-999.
        {"", -1},
        {"twenty ten", -1},
        {"ten two", -1},
        {"five five", -1},
        {"hundred", -1},
        {"hundred five", -1},
        {"one hundred and", -1},
        {"and five", -1},
        {"one hundred hundred", -1},
        {"zero five", -1},
        {"one thousand", -1},
        {"ten hundred", -1},
        {"twenty hundred", -1},
        {"a", -1},
        {"12", -1},
        {"chapter twelve", -1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(speechkit::numberWordsToValue(c.words), c.value) << '"' << c.words << '"';
}

TEST(NumberWords, EveryValueReadsBackFromItsWordsWithAndWithoutAnd) {
    for (int v = 0; v <= 999; ++v) {
        for (bool withAnd : {false, true}) {
            const std::string words = speechkit::valueToNumberWords(v, withAnd);
            ASSERT_EQ(speechkit::numberWordsToValue(words), v) << '"' << words << '"';
        }
    }
    EXPECT_EQ(speechkit::valueToNumberWords(1000), "");
    EXPECT_EQ(speechkit::valueToNumberWords(-1), "");
}

class BookGrammar : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        lexicon = new speechkit::Lexicon;
        ASSERT_TRUE(lexicon->load(kDictionary)) << "pocketsphinx-en-us is not installed";
    }
    static void TearDownTestSuite() {
        delete lexicon;
        lexicon = nullptr;
    }
    static speechkit::Lexicon* lexicon;
};
speechkit::Lexicon* BookGrammar::lexicon = nullptr;

TEST_F(BookGrammar, DecoderWordsBecomeTheCommandsTextForm) {
    speechkit::Grammar grammar;
    grammar.build(kBook, *lexicon);
    struct Case {
        std::vector<std::string> words;
        const char* text;
    } cases[] = {
        {{"help"}, "help "},
        {{"<sil>", "yes", "<sil>"}, "yes "},
        {{"no", "[NOISE]"}, "no "},
        {{"continue"}, "continue "},
        {{"result(2)"}, "result "},
        {{"exit", "program"}, "exit program "},
        {{"chapter", "twelve"}, "chapter 12 "},
        {{"chapter(2)", "one", "hundred", "and", "twelve"}, "chapter 112 "},
        {{"chapter", "zero"}, "chapter 0 "},
        {{"locate", "harbour", "walls"}, "locate harbour walls "},
        {{"locate", "orvane"}, "locate orvane "},
        {{"locate", "the", "rope-makers"}, "locate the rope-makers "},
        {{"locate", "city's", "lamps"}, "locate city's lamps "},
        // Incomplete or not a command.
        {{}, ""},
        {{"<sil>"}, ""},
        {{"exit"}, ""},
        {{"program"}, ""},
        {{"chapter"}, ""},
        {{"chapter", "twenty", "ten"}, ""},
        {{"help", "help"}, ""},
        {{"help", "gbg_AH"}, ""},
        {{"locate"}, ""},
        // Runs break at punctuation and are at most three words long.
        {{"locate", "old", "money"}, ""},
        {{"locate", "money", "said"}, ""},
        {{"locate", "the", "harbour", "walls", "of"}, ""},
        {{"locate", "walls", "harbour"}, ""},
        {{"locate", "ship"}, ""},
    };
    for (const Case& c : cases) {
        std::string shown;
        for (const std::string& w : c.words)
            shown += w + " ";
        EXPECT_EQ(grammar.textForm(c.words), c.text) << shown;
    }
}

TEST_F(BookGrammar, EveryBookWordCanBePronouncedAndEveryGrammarWordIsInTheDictionary) {
    speechkit::Grammar grammar;
    grammar.build(kBook, *lexicon);
    EXPECT_TRUE(grammar.unpronounceable().empty());
    std::vector<std::string> known;
    for (const auto& entry : grammar.dictionary()) {
        EXPECT_FALSE(entry.second.empty()) << entry.first;
        known.push_back(speechkit::baseWord(entry.first));
    }
    for (const char* word :
         {"help", "continue", "result", "exit", "program", "yes", "no", "chapter", "locate",
          "hundred", "and", "twelve", "harbour", "orvane", "rope-makers", "city's", "lamps"})
        EXPECT_NE(std::find(known.begin(), known.end(), word), known.end()) << word;
}

TEST_F(BookGrammar, WordsThatOnlySoundLikeACommandCompeteWithIt) {
    speechkit::Grammar grammar;
    grammar.build(kBook, *lexicon);
    const auto& decoys = grammar.decoys();
    const struct {
        const char* command;
        const char* word;
        bool competes;
    } cases[] = {
        {"result", "resort", true},
        {"chapter", "captor", true},
        {"continue", "contiguous", true},
        {"locate", "allocate", true},
        {"no", "knowing", true},
        {"result", "results", false}, // spelled as the command and more
        {"help", "helpful", false},
        {"no", "nowhere", false},
        {"no", "know", false}, // the command's own sound
        {"no", "nope", false}, // a short command said a little differently
        {"yes", "yet", false},
    };
    for (const auto& c : cases) {
        const auto found = decoys.find(c.command);
        const long n = found == decoys.end()
                           ? 0
                           : std::count(found->second.begin(), found->second.end(), c.word);
        EXPECT_EQ(n, c.competes ? 1 : 0) << c.command << " / " << c.word;
    }
    const std::string fsg = grammar.decoyFsgText({"exit", "program"});
    EXPECT_NE(fsg.find("TRANSITION 0 2 1 exit\n"), std::string::npos) << fsg;
    EXPECT_NE(fsg.find("TRANSITION 2 1 1 program\n"), std::string::npos) << fsg;
    EXPECT_NE(fsg.find(" " + decoys.at("exit").front() + "\n"), std::string::npos) << fsg;
    EXPECT_EQ(grammar.decoyFsgText({"twelve"}), "");
    // Decoy words are in the dictionary, so the decoder can hear them.
    std::set<std::string> known;
    for (const auto& entry : grammar.dictionary())
        known.insert(speechkit::baseWord(entry.first));
    for (const auto& target : decoys)
        for (const std::string& w : target.second)
            EXPECT_TRUE(known.count(w)) << w;
}

// The probability the runs grammar gives one run: the product of its arcs,
// "locate" first, then its words, then the empty arc to the end if it needs one.
double runProbability(const std::string& fsg, const std::vector<std::string>& run) {
    struct Arc {
        int from, to;
        double prob;
        std::string word;
    };
    std::vector<Arc> arcs;
    std::istringstream in(fsg);
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        std::string kind;
        Arc a{};
        if (fields >> kind >> a.from >> a.to >> a.prob && kind == "TRANSITION") {
            fields >> a.word;
            arcs.push_back(a);
        }
    }
    auto follow = [&](int from, const std::string& word, double& p) {
        for (const Arc& a : arcs)
            if (a.from == from && a.word == word) {
                p *= a.prob;
                return a.to;
            }
        return -1;
    };
    double p = 1;
    int state = follow(0, "locate", p);
    for (const std::string& w : run)
        state = state < 0 ? -1 : follow(state, w, p);
    if (state > 1) state = follow(state, "", p);
    return state == 1 ? p : 0;
}

TEST_F(BookGrammar, EveryCandidateRunKeepsItsOwnShareOfTheRunsGrammar) {
    speechkit::Grammar grammar;
    grammar.build(kBook, *lexicon);
    using Runs = std::vector<std::vector<std::string>>;
    struct Case {
        Runs runs;
        std::vector<double> weights; // empty: all alike
    } cases[] = {
        {{{"harbour"}, {"walls"}, {"old"}}, {}},
        // Runs sharing their first words, one ending where another goes on.
        {{{"the", "harbour"}, {"the", "harbour", "walls"}, {"the", "city's"}, {"harbour"}}, {}},
        {{{"the", "harbour"}, {"the", "harbour", "walls"}, {"the", "city's"}, {"harbour"}},
         {8, 4, 2, 1}},
        {{{"harbour", "walls", "of"}, {"harbour", "walls"}, {"harbour"}}, {1, 0.5, 0.25}},
        {{{"walls"}, {"walls", "of"}}, {1e-9, 1}},
    };
    for (const Case& c : cases) {
        const std::string fsg = grammar.runsFsgText(c.runs, c.weights);
        double total = 0;
        for (std::size_t i = 0; i < c.runs.size(); ++i)
            total += c.weights.empty() ? 1 : c.weights[i];
        for (std::size_t i = 0; i < c.runs.size(); ++i) {
            std::string shown;
            for (const std::string& w : c.runs[i])
                shown += w + " ";
            const double want = (c.weights.empty() ? 1 : c.weights[i]) / total;
            EXPECT_NEAR(runProbability(fsg, c.runs[i]), want, want * 1e-4) << shown;
        }
    }
}

TEST_F(BookGrammar, OfRunsThatSoundAlikeOnlyTheOneTheBookUsesMostIsACandidate) {
    speechkit::Grammar grammar;
    grammar.build("The salt workers came.  Salt-workers left.  Salt-workers sang.  The "
                  "salt-workers slept.  Salt workers wept.  Rope walkers ran.",
                  *lexicon);
    using Run = std::vector<std::string>;
    const std::vector<Run> runs = grammar.nearestRuns({{"salt", "workers"}}, 5);
    ASSERT_FALSE(runs.empty());
    EXPECT_EQ(runs.front(), Run({"salt-workers"}));
    EXPECT_EQ(std::count(runs.begin(), runs.end(), Run({"salt", "workers"})), 0);
    EXPECT_EQ(runs.size(), 5u) << "the one left out makes room for another";
    // Still a run of the book when the decoder hears it so.
    EXPECT_EQ(grammar.textForm({"locate", "salt", "workers"}), "locate salt workers ");
}

TEST_F(BookGrammar, WithoutABookEverythingButLocateStillWorks) {
    speechkit::Grammar grammar;
    grammar.build("", *lexicon);
    EXPECT_FALSE(grammar.hasLocatePhrases());
    EXPECT_EQ(grammar.textForm({"chapter", "nine", "hundred", "ninety", "nine"}), "chapter 999 ");
    EXPECT_EQ(grammar.textForm({"exit", "program"}), "exit program ");
    EXPECT_EQ(grammar.textForm({"locate", "harbour"}), "");
}

TEST(BookSegments, RunsOfWordsEndAtPunctuationAndDoubleSpaces) {
    const auto segments = speechkit::bookSegments(kBook);
    const std::vector<std::vector<std::string>> expected = {
        {"the", "harbour", "walls", "of", "orvane", "were", "old"},
        {"money"},
        {"said", "the", "rope-makers"},
        {"was", "never", "enough", "for", "the", "city's", "lamps"}};
    EXPECT_EQ(segments, expected);
}

// Speech for the text, made by espeak-ng (22,050 Hz mono; `voice` may carry
// more of its options, "en -s 140") and converted by sox when another rate or
// channel count is asked for.
std::string speech(const std::string& dir, const std::string& name, const std::string& text,
                   int rate = 0, int channels = 1, const std::string& voice = "en-us") {
    const std::string raw = testutil::join(dir, name + ".raw.wav");
    const std::string out = testutil::join(dir, name + ".wav");
    const std::string said = testutil::join(dir, name + ".txt");
    testutil::writeAll(said, text);
    if (std::system(("espeak-ng -v " + voice + " -w '" + raw + "' -f '" + said + "'").c_str()) != 0)
        return "";
    if (rate == 0) return std::rename(raw.c_str(), out.c_str()) == 0 ? out : "";
    const int rc = std::system(("sox '" + raw + "' -r " + std::to_string(rate) + " -c " +
                                std::to_string(channels) + " '" + out + "'")
                                   .c_str());
    return rc == 0 ? out : "";
}

// One recogniser (with the small book) for the tests that decode files: the
// model takes a while to load.
class RecognizerFiles : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir = new std::string(testutil::scratchDir("recognizer"));
        const std::string book = testutil::join(*dir, "orvane.txt");
        testutil::writeAll(book, kBook);
        recognizer = new speechkit::Recognizer(book);
    }
    static void TearDownTestSuite() {
        delete recognizer;
        recognizer = nullptr;
        delete dir;
        dir = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(recognizer->ready()) << recognizer->error(); }
    static std::string* dir;
    static speechkit::Recognizer* recognizer;
};
std::string* RecognizerFiles::dir = nullptr;
speechkit::Recognizer* RecognizerFiles::recognizer = nullptr;

TEST_F(RecognizerFiles, SpokenCommandsInAnyRateAndChannelCount) {
    struct Case {
        const char* name;
        const char* said;
        int rate, channels;
        const char* text;
        const char* voice = "en-us";
    } cases[] = {
        {"chapter", "chapter twelve", 0, 1, "chapter 12 "},
        // espeak-ng's default voice at its own rate: what someone trying
        // it out meets first.
        {"default", "chapter twelve", 0, 1, "chapter 12 ", "en"},
        {"default7", "chapter seven", 0, 1, "chapter 7 ", "en"},
        // British "no" glides from a schwa ([n@U]), not from the "o" of American "go".
        {"britishno", "no", 0, 1, "no ", "en-gb-x-rp+m3 -s 140"},
        {"britishno180", "no", 0, 1, "no ", "en-gb-x-rp+m3 -s 180"},
        // Said fast: "continue" in about 0.43 s, under 6 frames a phone.
        {"fastcontinue", "continue", 0, 1, "continue ", "en-us -s 280"},
        {"fastcontinuegb", "continue", 0, 1, "continue ", "en-gb -s 300"},
        // A high voice (about 190 Hz): heard as "chapter 9", "chapter 40"
        // ... until its frequencies are brought down towards the model's.
        {"high7", "chapter seven", 0, 1, "chapter 7 ", "en-us+f3 -s 140"},
        {"high7fast", "chapter seven", 0, 1, "chapter 7 ", "en-us+f3 -s 180"},
        {"high45", "chapter forty five", 0, 1, "chapter 45 ", "en-us+f3 -s 140"},
        {"high307", "chapter three hundred and seven", 0, 1, "chapter 307 ", "en-us+f3 -s 180"},
        // A number of tens alone is as likely as a teen: "twenty" once
        // counted half of "twelve" and lost close calls to "twenty eight".
        {"tens120", "chapter one hundred twenty", 0, 1, "chapter 120 ", "en-gb -s 140"},
        {"chapter16k", "chapter one hundred and five", 16000, 1, "chapter 105 "},
        {"stereo44k", "help", 44100, 2, "help "},
        {"exit32k", "exit program", 32000, 1, "exit program "},
        {"yes48k", "yes", 48000, 2, "yes "},
        {"locate", "locate harbour walls", 0, 1, "locate harbour walls "},
        {"locatename", "locate the city's lamps", 16000, 1, "locate the city's lamps "},
    };
    for (const Case& c : cases) {
        const std::string path = speech(*dir, c.name, c.said, c.rate, c.channels, c.voice);
        ASSERT_FALSE(path.empty()) << "espeak-ng or sox failed";
        EXPECT_EQ(recognizer->recognizeWavFile(path), c.text)
            << c.name << ": " << recognizer->lastHypothesis() << " / "
            << recognizer->lastRejection();
    }
}

std::string withLength(std::string bytes, std::size_t offset, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes[offset + i] = static_cast<char>((value >> (8 * i)) & 0xff);
    return bytes;
}

TEST_F(RecognizerFiles, BadFilesGiveNoTextAndNoCrash) {
    const std::string good = testutil::readAll(speech(*dir, "good", "chapter twelve"));
    ASSERT_GT(good.size(), 44u);
    ASSERT_EQ(good.compare(36, 4, "data"), 0) << "espeak-ng wrote another header layout";
    std::string random(5000, '\0');
    for (std::size_t i = 0; i < random.size(); ++i)
        random[i] = static_cast<char>((i * 7919u + 13u) >> 3);
    std::string compressed = good;
    compressed[20] = 2; // ADPCM
    std::string noChannels = good;
    noChannels[22] = 0;
    struct Case {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"empty", ""},
        {"random", random},
        {"riffOnly", good.substr(0, 12)},
        {"cutInFormat", good.substr(0, 30)},
        {"headerOnly", good.substr(0, 44)},
        {"noSamples", withLength(good.substr(0, 44), 40, 0)},
        {"oneByteOfData", good.substr(0, 45)},
        {"compressed", compressed},
        {"noChannels", noChannels},
        {"hugeDataLength", withLength(good.substr(0, 44), 40, 0xfffffff0u)},
        {"hugeFormatChunk", withLength(good, 16, 0xfffffff0u)},
    };
    for (const Case& c : cases) {
        const std::string path = testutil::join(*dir, std::string(c.name) + ".wav");
        testutil::writeAll(path, c.bytes);
        EXPECT_EQ(recognizer->recognizeWavFile(path), "") << c.name;
    }
    EXPECT_EQ(recognizer->recognizeWavFile(testutil::join(*dir, "missing.wav")), "");
    EXPECT_EQ(recognizer->recognizeWavFile(*dir), ""); // a directory
    EXPECT_EQ(recognizer->recognizeSamples(nullptr, 0, 16000), "");
    // Still recognising after all that.
    EXPECT_EQ(recognizer->recognizeWavFile(speech(*dir, "after", "continue")), "continue ");
}

TEST_F(RecognizerFiles, AFileCutShortIsReadAsFarAsItGoes) {
    const std::string good = testutil::readAll(speech(*dir, "whole", "chapter twelve"));
    ASSERT_GT(good.size(), 44u + 22050u);
    // espeak-ng ends its speech with a third of a second of silence: cut a
    // fifth of a second, the header still giving the full length.
    const std::string cut = testutil::join(*dir, "cut.wav");
    testutil::writeAll(cut, good.substr(0, good.size() - 22050 * 2 / 5));
    EXPECT_EQ(recognizer->recognizeWavFile(cut), "chapter 12 ") << recognizer->lastHypothesis();
    // An odd byte at the end (half a sample) is left out.
    const std::string odd = testutil::join(*dir, "odd.wav");
    testutil::writeAll(odd, good.substr(0, good.size() - 1));
    EXPECT_EQ(recognizer->recognizeWavFile(odd), "chapter 12 ") << recognizer->lastHypothesis();
}

TEST_F(RecognizerFiles, SilenceAndNoiseAreNoCommand) {
    std::vector<std::int16_t> silence(16000 * 2, 0);
    EXPECT_EQ(recognizer->recognizeSamples(silence.data(), silence.size(), 16000), "");
    std::vector<std::int16_t> hiss(16000 * 2);
    std::uint32_t state = 1;
    for (std::int16_t& s : hiss) {
        state = state * 1664525u + 1013904223u;
        s = static_cast<std::int16_t>(static_cast<int>(state >> 20) - 2048);
    }
    EXPECT_EQ(recognizer->recognizeSamples(hiss.data(), hiss.size(), 16000), "");
}

TEST_F(RecognizerFiles, TalkIsNoCommandAndTheNextCommandIsStillHeard) {
    // The grammar finds its nearest command in any talk: here a "result"
    // that leaves most of the speech unaccounted for, a "locate" and a
    // "chapter" far too short, and a "locate" followed by a whole sentence.
    const char* const talk[] = {
        "please turn off the lights when you go",
        "the train was late because of the snow",
        "that was a really good film",
        "i am not sure what you mean",
        "could you pass me the salt please",
    };
    int i = 0;
    for (const char* said : talk) {
        const std::string name = "talk" + std::to_string(i++);
        EXPECT_EQ(recognizer->recognizeWavFile(speech(*dir, name, said)), "")
            << said << ": " << recognizer->lastHypothesis();
        EXPECT_EQ(recognizer->recognizeWavFile(speech(*dir, name + "help", "help")), "help ")
            << "after " << said << ": " << recognizer->lastHypothesis();
    }
}

TEST_F(RecognizerFiles, AWordThatOnlySoundsLikeACommandIsNone) {
    const struct {
        const char* said;
        const char* text;
    } cases[] = {
        {"resort", ""},
        {"yesterday", ""},
        {"result", "result "},
        {"yes", "yes "},
    };
    for (const auto& c : cases)
        EXPECT_EQ(recognizer->recognizeWavFile(speech(*dir, std::string("near-") + c.said, c.said)),
                  c.text)
            << c.said << ": " << recognizer->lastHypothesis();
}

TEST_F(RecognizerFiles, StoppingWhileAFileIsDecodedIsHarmless) {
    // Not listening: stop does nothing, from any thread, while a decode runs.
    const std::string path = speech(*dir, "long", "chapter one hundred and twelve");
    std::string text;
    std::thread decoding([&] { text = recognizer->recognizeWavFile(path); });
    for (int i = 0; i < 50; ++i)
        recognizer->stopListening();
    decoding.join();
    EXPECT_EQ(text, "chapter 112 ");
    EXPECT_FALSE(recognizer->listening());
}

TEST(RecognizerBook, MissingBookStillRecognisesEverythingButLocate) {
    const std::string dir = testutil::scratchDir("recognizer-nobook");
    speechkit::Recognizer recognizer(testutil::join(dir, "orvane.txt"));
    ASSERT_TRUE(recognizer.ready()) << recognizer.error();
    EXPECT_EQ(recognizer.locatePhraseCount(), 0u);
    EXPECT_EQ(recognizer.recognizeWavFile(speech(dir, "chapter", "chapter forty two")),
              "chapter 42 ");
    EXPECT_EQ(recognizer.recognizeWavFile(speech(dir, "no", "no")), "no ");
    const std::string locate = recognizer.recognizeWavFile(speech(dir, "locate", "locate harbour"));
    EXPECT_EQ(locate.rfind("locate", 0), std::string::npos) << locate;
}

TEST(RecognizerBook, PhrasesOfTheWholeBookAreLocated) {
    // In the whole book the words after "locate" sound like many of its
    // runs: under the command search's beams the right one was pruned
    // early, and "promise the" or "remarks" came out.
    const std::string dir = testutil::scratchDir("recognizer-book");
    speechkit::Recognizer recognizer(VERDEL_SOURCE_BOOK);
    ASSERT_TRUE(recognizer.ready()) << recognizer.error();
    const struct {
        const char* said;
        const char* voice;
    } cases[] = {{"locate from the city", "en-us -s 180"},
                 {"locate her remarks", "en-us+f3 -s 140"}};
    for (const auto& c : cases) {
        const std::string path = speech(dir, "locate", c.said, 0, 1, c.voice);
        ASSERT_FALSE(path.empty()) << "espeak-ng failed";
        EXPECT_EQ(recognizer.recognizeWavFile(path), std::string(c.said) + " ")
            << recognizer.lastHypothesis() << " / " << recognizer.lastRejection();
    }
}

TEST(RecognizerBook, NoModelIsReportedNotThrown) {
    speechkit::RecognizerTuning tuning;
    tuning.modelDir = "/nonexistent/model";
    speechkit::Recognizer recognizer(VERDEL_SOURCE_BOOK, tuning);
    EXPECT_FALSE(recognizer.ready());
    EXPECT_FALSE(recognizer.error().empty());
    EXPECT_EQ(recognizer.recognizeWavFile("/nonexistent.wav"), "");
    EXPECT_FALSE(recognizer.startListening([](const std::string&) {}));
    EXPECT_FALSE(recognizer.listening());
    recognizer.stopListening();
}

// Live capture needs a PulseAudio server: the test driver starts a private
// one (null sink, its monitor the default source) and names it in
// PULSE_SERVER; without one these tests are skipped.
class RecognizerLive : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!std::getenv("PULSE_SERVER"))
            GTEST_SKIP() << "no private PulseAudio server (run under with_pulse.py)";
        dir = testutil::scratchDir("recognizer-live");
        testutil::writeAll(testutil::join(dir, "orvane.txt"), kBook);
        recognizer.reset(new speechkit::Recognizer(testutil::join(dir, "orvane.txt")));
        ASSERT_TRUE(recognizer->ready()) << recognizer->error();
    }
    void TearDown() override { recognizer.reset(); }

    // Plays speech into the null sink, at 16 kHz as the sink runs.
    void play(const std::string& name, const std::string& text,
              const std::string& voice = "en-us") {
        const std::string path = speech(dir, name, text, 16000, 1, voice);
        ASSERT_FALSE(path.empty());
        ASSERT_EQ(std::system(("paplay '" + path + "'").c_str()), 0);
    }

    struct Heard {
        std::mutex lock;
        std::vector<std::string> texts;
        std::atomic<bool> stopped{false};
        std::atomic<int> afterStop{0};
        void add(const std::string& t) {
            if (stopped) ++afterStop;
            std::lock_guard<std::mutex> hold(lock);
            texts.push_back(t);
        }
        std::size_t count() {
            std::lock_guard<std::mutex> hold(lock);
            return texts.size();
        }
    };
    bool waitFor(Heard& heard, std::size_t n, int seconds = 30) {
        for (int i = 0; i < seconds * 10 && heard.count() < n; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        return heard.count() >= n;
    }
    // Plays the speech until something more is heard (a starved player on a
    // busy machine can leave gaps in it, as a bad line would).
    void sayUntilHeard(Heard& heard, const std::string& name, const std::string& text) {
        const std::size_t before = heard.count();
        for (int attempt = 0; attempt < 3; ++attempt) {
            play(name, text);
            if (waitFor(heard, before + 1, 10)) return;
        }
        FAIL() << "\"" << text << "\" not heard";
    }

    std::string dir;
    std::unique_ptr<speechkit::Recognizer> recognizer;
};

TEST_F(RecognizerLive, HearsCommandsPlayedIntoTheMicrophoneAndStartingTwiceIsHarmless) {
    Heard heard;
    auto onText = [&heard](const std::string& t) { heard.add(t); };
    ASSERT_TRUE(recognizer->startListening(onText));
    EXPECT_TRUE(recognizer->startListening(onText)); // still one worker
    EXPECT_TRUE(recognizer->listening());
    ASSERT_NO_FATAL_FAILURE(sayUntilHeard(heard, "chapter", "chapter twelve"));
    ASSERT_NO_FATAL_FAILURE(sayUntilHeard(heard, "help", "help"));
    recognizer->stopListening();
    EXPECT_FALSE(recognizer->listening());
    EXPECT_EQ(heard.texts, (std::vector<std::string>{"chapter 12 ", "help "}));
    // And again after a stop.
    ASSERT_TRUE(recognizer->startListening(onText));
    ASSERT_NO_FATAL_FAILURE(sayUntilHeard(heard, "yes", "yes"));
    recognizer->stopListening();
    EXPECT_EQ(heard.texts.back(), "yes ");
}

// Heard through the microphone one after another, commands come out as the
// same speech does from a file: the decoder's state from listening (its
// running normalisation) must not spoil the next utterance.
TEST_F(RecognizerLive, CommandsSaidInTurnAreHeardAsFromAFile) {
    // A voice unlike the model's speakers, quick: most at risk.
    const std::string voice = "en-gb-x-rp+m3 -s 180";
    const std::vector<std::pair<std::string, std::string>> said = {
        {"chapter thirty", "chapter 30 "},
        {"chapter twelve", "chapter 12 "},
        {"result", "result "},
        {"chapter seventy", "chapter 70 "},
        {"chapter ten", "chapter 10 "},
        {"exit program", "exit program "},
        {"chapter forty one", "chapter 41 "},
        {"help", "help "},
    };
    std::vector<std::string> wanted, fromFiles;
    for (std::size_t i = 0; i < said.size(); ++i) {
        const std::string path =
            speech(dir, "f" + std::to_string(i), said[i].first, 16000, 1, voice);
        ASSERT_FALSE(path.empty());
        fromFiles.push_back(recognizer->recognizeWavFile(path));
        wanted.push_back(said[i].second);
    }
    ASSERT_EQ(fromFiles, wanted) << "the files themselves are misheard";
    Heard heard;
    ASSERT_TRUE(recognizer->startListening([&heard](const std::string& t) { heard.add(t); }));
    for (std::size_t i = 0; i < said.size(); ++i) {
        const std::size_t before = heard.count();
        ASSERT_NO_FATAL_FAILURE(play("l" + std::to_string(i), said[i].first, voice));
        if (!waitFor(heard, before + 1, 10)) heard.add("(nothing)");
    }
    recognizer->stopListening();
    EXPECT_EQ(heard.texts, wanted);
}

TEST_F(RecognizerLive, NothingArrivesOnceStopHasReturned) {
    Heard heard;
    ASSERT_TRUE(recognizer->startListening([&heard](const std::string& t) { heard.add(t); }));
    // Stop while the speech is still being heard and decoded.
    std::thread player([this] { play("long", "chapter nine hundred and ninety nine"); });
    std::this_thread::sleep_for(std::chrono::milliseconds(900));
    recognizer->stopListening();
    heard.stopped = true;
    player.join();
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_EQ(heard.afterStop, 0);
    EXPECT_FALSE(recognizer->listening());
}

TEST_F(RecognizerLive, StopFromTheHandlerItselfEndsListening) {
    Heard heard;
    ASSERT_TRUE(recognizer->startListening([&](const std::string& t) {
        heard.add(t);
        recognizer->stopListening();
    }));
    ASSERT_NO_FATAL_FAILURE(sayUntilHeard(heard, "continue", "continue"));
    for (int i = 0; i < 600 && recognizer->listening(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(recognizer->listening());
    EXPECT_EQ(heard.texts, std::vector<std::string>{"continue "});
    ASSERT_TRUE(recognizer->startListening([&](const std::string& t) { heard.add(t); }));
    recognizer->stopListening();
}

TEST(RecognizerNoDevice, StartListeningWithoutAServerFailsAtOnce) {
    const std::string dir = testutil::scratchDir("recognizer-nodevice");
    const char* old = std::getenv("PULSE_SERVER");
    const std::string saved = old ? old : "";
    setenv("PULSE_SERVER", ("unix:" + testutil::join(dir, "no-such-socket")).c_str(), 1);
    speechkit::Recognizer recognizer("");
    ASSERT_TRUE(recognizer.ready()) << recognizer.error();
    EXPECT_FALSE(recognizer.startListening([](const std::string&) {}));
    EXPECT_FALSE(recognizer.listening());
    recognizer.stopListening();
    if (old)
        setenv("PULSE_SERVER", saved.c_str(), 1);
    else
        unsetenv("PULSE_SERVER");
}

} // namespace
