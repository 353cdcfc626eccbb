#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace speechkit {

// Called with the text form of one recognised utterance ("chapter 12 ", "yes ",
// "locate harbour walls "): every word followed by one space, numbers as digits.
// Runs on the recogniser's worker thread.
using TextHandler = std::function<void(const std::string& text)>;

// Settings of the decoder that the benchmark varies; the defaults are the
// ones measured best.
struct RecognizerTuning {
    std::string modelDir = "/usr/share/pocketsphinx/model/en-us";
    double garbagePhone = 1e-3; // probability of each phone of the out-of-vocabulary loop
    double garbageEntry = 1.0;  // 0: no such loop
    double decoyEntry = 1.0;    // words sounding like a command, each against it; 0: none
    int decoysPerCommand = 30;
    double locateEntry = 1.0;
    double lmDiscount = 0.1; // of each n-gram count of the book's runs (second pass)
    int locatePass = 2;      // second pass: 0 never, 1 when the first found no run, 2 always
    // A result is no command when a word of it lasts less than this many
    // frames (10 ms) per phone, but never more than minFramesAtMost (a fast
    // speaker says "continue" in 0.4 s), or when more loud frames (within
    // loudDb of the loudest) than this lie outside its words.
    double minFramesPerPhone = 6;
    double minFramesAtMost = 40;
    int maxLoudFramesOutside = 10;
    double loudDb = 20;
    // More words than this after "locate" in the book model's best
    // hypothesis: talk, not a phrase of one to three words.
    int maxLocateWords = 4;
    // A result is no command when its path scores this much worse per frame
    // of its words than free phones over the same audio (the decoder's
    // log units): the words fit the sound poorly, however near they came.
    // 0: not checked.
    double maxPhoneLoopGap = 35;
    // A voice whose median pitch is this high (Hz) is far above most of the
    // model's speakers: its frequencies are scaled by `highVoiceWarp` (as if
    // said slower and lower) before decoding. A warp of 0 leaves every voice
    // as it is.
    double highVoicePitch = 160;
    double highVoiceWarp = 0.88;
    int candidates = 100; // runs of the book decided between on the audio
    // Each candidate run this much less likely than the one before it (they
    // come nearest first); 1: all alike.
    double rankDecay = 0.5;
    // The beam of the search that decides between the candidate runs (the
    // decoder's default is 1e-48); 0: the default.
    double runsBeam = 1e-60;
    int nbest = 5;              // second-pass hypotheses searched for a run of the book
    bool wholeUtterance = true; // a file's audio decoded as one block (batch normalisation)
    double leadSilence = 0.5;   // seconds of silence put before a file's audio
    double trailSilence = 0.2;  // and after it
    double snr = 35;            // dB: a noise floor this far below the speech put under it
    bool noiseFiller = true;    // "[NOISE]" allowed between words
    int vadPostSpeech = 25;     // frames of silence that end a live utterance
    bool liveWhole = true;      // a live utterance decoded again as one block when it ends
    // RMS (sample steps) of a noise floor put under live audio for the pass
    // that finds where utterances end (the decode after it has its own); 0:
    // none.
    double liveNoiseFloor = 0;
    std::string extraArguments; // more decoder arguments, "-beam 1e-60 -pbeam ..."
};

class Recognizer {
  public:
    // Prepares recognition for the command vocabulary, with the words after
    // "locate" taken from the book at bookPath (a missing or unreadable book:
    // locate phrases cannot be recognised, everything else still works).
    // Never throws; check ready().
    explicit Recognizer(const std::string& bookPath);
    Recognizer(const std::string& bookPath, const RecognizerTuning& tuning);
    ~Recognizer(); // stops listening first
    Recognizer(const Recognizer&) = delete;
    Recognizer& operator=(const Recognizer&) = delete;

    bool ready() const;               // false when the model could not be loaded
    const std::string& error() const; // why not ready, one line

    // One utterance from a .wav file (any sample rate, mono or stereo, 16-bit
    // PCM): its text form, or "" when the file is bad or nothing matched well.
    std::string recognizeWavFile(const std::string& path);
    // One utterance of 16-bit mono samples.
    std::string recognizeSamples(const std::int16_t* samples, std::size_t count, int sampleRate);

    // Listens on the default microphone on a worker thread; each utterance
    // that matched well is handed to onText. False (and no thread) when there
    // is no input device. Calling it while listening is harmless.
    bool startListening(TextHandler onText);
    // Stops listening; when it returns, the worker has ended and onText will
    // not be called again. Harmless when not listening. Called from onText
    // itself it only asks the worker to end (it cannot wait for itself).
    void stopListening();
    bool listening() const;

    // The decoder's words for the last utterance, before they were checked
    // against the grammar ("chapter fifteen", "gbg_AH gbg_N"): for reports.
    std::string lastHypothesis() const;
    // How long the last decode took: in all, and from the end of its audio
    // to the result (the same when a file is decoded as one block; when it is
    // streamed like live audio, only the last block and the result).
    struct Timing {
        double totalSeconds = 0;
        double tailSeconds = 0;
    };
    Timing lastTiming() const;
    // Why the grammar's result for the last utterance was not taken for a
    // command ("" when it was, or when nothing matched at all).
    std::string lastRejection() const;
    // What the book gave: phrases after "locate", and words left out.
    std::size_t locatePhraseCount() const;
    std::size_t unpronounceableWordCount() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// "one hundred and twelve" -> 112; -1 for a malformed sequence.
int numberWordsToValue(const std::string& words);

} // namespace speechkit
