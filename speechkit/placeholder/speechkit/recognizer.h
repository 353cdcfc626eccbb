// Stand-in for the recogniser (speechkit/recognizer.h) until it is in this
// tree: the same interface, recognising nothing. The build uses the real one
// as soon as it exists.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace speechkit {

using TextHandler = std::function<void(const std::string& text)>;

class Recognizer {
  public:
    explicit Recognizer(const std::string&) {}
    bool ready() const { return false; }
    const std::string& error() const { return error_; }
    std::string recognizeWavFile(const std::string&) { return std::string(); }
    std::string recognizeSamples(const std::int16_t*, std::size_t, int) { return std::string(); }
    bool startListening(TextHandler) { return false; }
    void stopListening() {}
    bool listening() const { return false; }

  private:
    std::string error_ = "no recogniser in this build";
};

} // namespace speechkit
