// Linux speech output: espeak-ng's voices are the engines; a text is
// synthesised into memory and played on the default output through
// PulseAudio. With no output device the text is dropped at once.
#include "../backend.h"
#include "../textform.h"

#include <espeak-ng/speak_lib.h>
#include <pulse/error.h>
#include <pulse/simple.h>

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace speechkit {

namespace {

// espeak-ng keeps global state: every call goes through this lock, and the
// library is initialised once per process (never torn down: a worker of a
// leaked object may still use it while the process exits).
std::mutex& espeakLock() {
    static std::mutex* lock = new std::mutex;
    return *lock;
}

// The sample rate, or 0 when espeak-ng has no data. Call with the lock held.
int espeakReady() {
    static int rate =
        espeak_Initialize(AUDIO_OUTPUT_SYNCHRONOUS, 0, nullptr, espeakINITIALIZE_DONT_EXIT);
    return rate > 0 ? rate : 0;
}

int collectSamples(short* samples, int count, espeak_EVENT* events) {
    auto* out = static_cast<std::vector<std::int16_t>*>(events->user_data);
    if (samples && count > 0) out->insert(out->end(), samples, samples + count);
    return 0;
}

// Pieces of whole sentences, so the first plays while the next is made.
constexpr std::size_t kPieceBytes = 600;

class EspeakOutput final : public VoiceOutput {
  public:
    void speak(const std::string& text, const Voice& voice,
               const std::atomic<bool>& cancel) override {
        int rate = 0;
        {
            std::lock_guard<std::mutex> hold(espeakLock());
            rate = espeakReady();
        }
        if (rate == 0) return;
        // The stream is opened first: without a server that fails at once,
        // and nothing is synthesised for nobody.
        pa_sample_spec format = {PA_SAMPLE_S16LE, static_cast<std::uint32_t>(rate), 1};
        int error = 0;
        pa_simple* stream = pa_simple_new(nullptr, "Verdel", PA_STREAM_PLAYBACK, nullptr, "speech",
                                          &format, nullptr, nullptr, &error);
        if (!stream) return;
        // Written in tenths of a second, so a cancel stops it soon.
        const std::size_t tenth = static_cast<std::size_t>(rate) / 10;
        bool ok = true;
        for (const std::string& piece : sentencePieces(text, kPieceBytes)) {
            if (!ok || cancel) break;
            std::vector<std::int16_t> samples;
            {
                std::lock_guard<std::mutex> hold(espeakLock());
                if (!voice.key.empty()) espeak_SetVoiceByName(voice.key.c_str());
                espeak_SetSynthCallback(collectSamples);
                espeak_Synth(piece.c_str(), piece.size() + 1, 0, POS_CHARACTER, 0, espeakCHARS_UTF8,
                             nullptr, &samples);
            }
            for (std::size_t at = 0; ok && at < samples.size() && !cancel; at += tenth) {
                const std::size_t n = std::min(tenth, samples.size() - at);
                ok = pa_simple_write(stream, samples.data() + at, n * sizeof(std::int16_t),
                                     &error) >= 0;
            }
        }
        if (ok && !cancel)
            pa_simple_drain(stream, &error);
        else
            pa_simple_flush(stream, &error);
        pa_simple_free(stream);
    }
};

// Where a voice stands in the list: American English first, then British,
// then the other English voices, then the rest (each in espeak-ng's order).
int rank(const espeak_VOICE* v) {
    // languages: a priority byte, then the language name, for each language.
    const std::string language = v->languages && v->languages[0] ? v->languages + 1 : "";
    if (language == "en-us") return 0;
    if (language == "en-gb") return 1;
    if (language == "en" || language.rfind("en-", 0) == 0) return 2;
    return 3;
}

} // namespace

std::vector<Voice> listVoices() {
    std::vector<std::pair<int, Voice>> ranked;
    {
        std::lock_guard<std::mutex> hold(espeakLock());
        if (espeakReady() == 0) return {};
        const espeak_VOICE** voices = espeak_ListVoices(nullptr);
        for (int i = 0; voices && voices[i]; ++i) {
            const espeak_VOICE* v = voices[i];
            if (!v->name || !v->identifier) continue;
            // MBROLA voices need a synthesiser that espeak-ng does not bring.
            if (std::string(v->identifier).rfind("mb/", 0) == 0) continue;
            ranked.push_back({rank(v), Voice{v->name, v->identifier}});
        }
    }
    std::stable_sort(ranked.begin(), ranked.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<Voice> list;
    for (auto& r : ranked)
        list.push_back(std::move(r.second));
    return list;
}

std::unique_ptr<VoiceOutput> createVoiceOutput() {
    return std::make_unique<EspeakOutput>();
}

} // namespace speechkit
