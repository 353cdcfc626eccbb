#pragma once
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

struct pa_mainloop;
struct pa_context;
struct pa_stream;

namespace speechkit {

// Microphone capture from the default PulseAudio source, 16-bit mono, with
// PulseAudio's own event loop run by the capturing thread: reads block
// without spinning, and another thread can interrupt them at once.
class AudioCapture {
  public:
    AudioCapture() = default;
    ~AudioCapture();
    AudioCapture(const AudioCapture&) = delete;
    AudioCapture& operator=(const AudioCapture&) = delete;

    // Connects to the server (never starting one) and opens a recording
    // stream, within timeoutMs. False, and why, when there is no server or
    // no source.
    bool open(int sampleRate, int timeoutMs, std::string& why);
    // Appends the next samples to out, waiting for them. False when the
    // stream has failed (the server went away, the device was lost) or
    // interrupt() was called.
    bool read(std::vector<std::int16_t>& out);
    // Makes a waiting or the next read return false; any thread.
    void interrupt();
    void close();

  private:
    bool iterate(bool block);
    pa_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    pa_stream* stream_ = nullptr;
    std::atomic<bool> interrupted_{false};
};

} // namespace speechkit
