#include "audiocapture.h"

#include <chrono>
#include <pulse/pulseaudio.h>

namespace speechkit {

AudioCapture::~AudioCapture() {
    close();
}

bool AudioCapture::iterate(bool block) {
    int ret = 0;
    return pa_mainloop_iterate(loop_, block ? 1 : 0, &ret) >= 0;
}

bool AudioCapture::open(int sampleRate, int timeoutMs, std::string& why) {
    close();
    interrupted_ = false;
    loop_ = pa_mainloop_new();
    if (!loop_) {
        why = "no audio event loop";
        return false;
    }
    pa_proplist* props = pa_proplist_new();
    pa_proplist_sets(props, PA_PROP_MEDIA_ROLE, "phone");
    context_ = pa_context_new_with_proplist(pa_mainloop_get_api(loop_), "Verdel speech", props);
    pa_proplist_free(props);
    if (!context_ || pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        why = "no audio server";
        close();
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    auto timedOut = [&deadline]() { return std::chrono::steady_clock::now() > deadline; };
    // Wait for the connection, then for the stream, iterating without
    // blocking for long so that the deadline holds.
    auto step = [this]() {
        pa_mainloop_prepare(loop_, 20000); // at most 20 ms per poll
        pa_mainloop_poll(loop_);
        return pa_mainloop_dispatch(loop_) >= 0;
    };
    for (;;) {
        const pa_context_state_t s = pa_context_get_state(context_);
        if (s == PA_CONTEXT_READY) break;
        if (!PA_CONTEXT_IS_GOOD(s) || timedOut() || !step()) {
            why = "no audio server";
            close();
            return false;
        }
    }
    pa_sample_spec format;
    format.format = PA_SAMPLE_S16LE;
    format.rate = static_cast<std::uint32_t>(sampleRate);
    format.channels = 1;
    stream_ = pa_stream_new(context_, "listening", &format, nullptr);
    pa_buffer_attr attr;
    attr.maxlength = static_cast<std::uint32_t>(-1);
    attr.tlength = attr.prebuf = attr.minreq = static_cast<std::uint32_t>(-1);
    attr.fragsize = static_cast<std::uint32_t>(sampleRate / 20 * 2); // 50 ms blocks
    if (!stream_ ||
        pa_stream_connect_record(stream_, nullptr, &attr, PA_STREAM_ADJUST_LATENCY) < 0) {
        why = "no audio input";
        close();
        return false;
    }
    for (;;) {
        const pa_stream_state_t s = pa_stream_get_state(stream_);
        if (s == PA_STREAM_READY) break;
        if (!PA_STREAM_IS_GOOD(s) || timedOut() || !step()) {
            why = "no audio input";
            close();
            return false;
        }
    }
    return true;
}

bool AudioCapture::read(std::vector<std::int16_t>& out) {
    if (!stream_) return false;
    for (;;) {
        if (interrupted_) return false;
        if (pa_context_get_state(context_) != PA_CONTEXT_READY ||
            pa_stream_get_state(stream_) != PA_STREAM_READY)
            return false;
        const void* data = nullptr;
        size_t bytes = 0;
        if (pa_stream_peek(stream_, &data, &bytes) < 0) return false;
        if (bytes > 0) {
            if (data) { // a hole in the stream has no data: skip it
                const auto* samples = static_cast<const std::int16_t*>(data);
                out.insert(out.end(), samples, samples + bytes / 2);
            }
            pa_stream_drop(stream_);
            return true;
        }
        // Nothing buffered: sleep in poll until the server sends something,
        // the connection changes state, or interrupt() wakes us.
        if (!iterate(true)) return false;
    }
}

void AudioCapture::interrupt() {
    interrupted_ = true;
    // pa_mainloop_wakeup is safe from any thread while the loop exists; the
    // owner only frees the loop after its last read has returned.
    if (loop_) pa_mainloop_wakeup(loop_);
}

void AudioCapture::close() {
    if (stream_) {
        pa_stream_disconnect(stream_);
        pa_stream_unref(stream_);
        stream_ = nullptr;
    }
    if (context_) {
        pa_context_disconnect(context_);
        pa_context_unref(context_);
        context_ = nullptr;
    }
    if (loop_) {
        pa_mainloop_free(loop_);
        loop_ = nullptr;
    }
}

} // namespace speechkit
