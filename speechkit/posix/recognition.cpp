// Linux recognition: the pocketsphinx recogniser with the command grammar.
#include "../backend.h"

#include "speechkit/recognizer.h"

namespace speechkit {

namespace {

class RecognizerInput final : public SpeechInput {
  public:
    explicit RecognizerInput(const std::string& bookPath) : recognizer_(bookPath) {}

    std::string recognizeWavFile(const std::string& path) override {
        return recognizer_.ready() ? recognizer_.recognizeWavFile(path) : std::string();
    }
    bool startListening(std::function<void(const std::string&)> onText) override {
        return recognizer_.ready() && recognizer_.startListening(std::move(onText));
    }
    void stopListening() override { recognizer_.stopListening(); }

  private:
    Recognizer recognizer_;
};

} // namespace

std::unique_ptr<SpeechInput> createSpeechInput(const std::string& bookPath) {
    return std::make_unique<RecognizerInput>(bookPath);
}

} // namespace speechkit
