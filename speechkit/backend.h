// What the objects need from the platform's speech libraries. Each target
// implements these once (posix/: espeak-ng, PulseAudio and the pocketsphinx
// recogniser; win32/: SAPI 5).
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace speechkit {

// One voice of the platform: the name shown as the engine's name, and the key
// the platform selects it by.
struct Voice {
    std::string name;
    std::string key;
};

// The platform's voices, English ones first. Called on the thread that
// creates the synthesiser.
std::vector<Voice> listVoices();

// Speech output, created and used on the synthesiser's worker thread only.
class VoiceOutput {
  public:
    virtual ~VoiceOutput() = default;
    // Speaks one text (UTF-8) with the voice and returns when it has been
    // played, or at once when there is no output device. Ends early once
    // cancel is set.
    virtual void speak(const std::string& text, const Voice& voice,
                       const std::atomic<bool>& cancel) = 0;
};
std::unique_ptr<VoiceOutput> createVoiceOutput();

// Recognition, created and used on the recogniser's input thread (the
// handler runs on a thread of the implementation's own).
class SpeechInput {
  public:
    virtual ~SpeechInput() = default;
    // Text form of one utterance in a .wav file; "" when the file is bad or
    // nothing matched well.
    virtual std::string recognizeWavFile(const std::string& path) = 0;
    // Listens on the default microphone; false when it cannot.
    virtual bool startListening(std::function<void(const std::string&)> onText) = 0;
    // When it returns, onText is not called again.
    virtual void stopListening() = 0;
};
// Never null; bookPath is the book whose words may follow "locate".
std::unique_ptr<SpeechInput> createSpeechInput(const std::string& bookPath);

} // namespace speechkit
