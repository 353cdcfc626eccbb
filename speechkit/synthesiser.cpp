// The synthesiser (IXKitTTS) and its engine objects (IXKitTTSEngine).
// Texts are spoken in order on a worker thread of the synthesiser's own, so
// StartPlayback returns at once; the synchronous form waits for its turn.
#include "backend.h"
#include "dispatch.h"
#include "objects.h"
#include "simulation.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

namespace speechkit {

namespace {

const Member kEngineMembers[] = {
    {4, "Engine", MemberKind::PropertyGet, 0, 0},
};

class Engine final : public DispatchObject {
  public:
    explicit Engine(std::string name)
        : DispatchObject(IID_IXKitTTSEngine, kEngineMembers, std::size(kEngineMembers)),
          name_(std::move(name)) {}

  protected:
    HRESULT call(const Member&, const Args&, VARIANT* result) override {
        return setResultText(result, name_);
    }

  private:
    std::string name_;
};

// The queue of texts and the thread that speaks them.
class Speaker {
  public:
    explicit Speaker(bool simulate) : simulate_(simulate) {}
    Speaker(const Speaker&) = delete;
    Speaker& operator=(const Speaker&) = delete;
    ~Speaker() {
        {
            std::lock_guard<std::mutex> hold(lock_);
            exiting_ = true;
            cancel_ = true; // whatever is being spoken stops now
        }
        wake_.notify_all();
        if (worker_.joinable()) worker_.join();
    }

    // Queues the text; with wait, returns once it has been spoken.
    void play(const std::string& text, const Voice& voice, bool wait) {
        std::unique_lock<std::mutex> hold(lock_);
        if (!worker_.joinable()) worker_ = std::thread([this] { run(); });
        const std::uint64_t ticket = ++queued_;
        queue_.push_back(Item{text, voice});
        wake_.notify_all();
        if (wait) done_.wait(hold, [&] { return spoken_ >= ticket || exiting_; });
    }

  private:
    struct Item {
        std::string text;
        Voice voice;
    };

    void run() {
        std::unique_ptr<VoiceOutput> output;
        std::unique_lock<std::mutex> hold(lock_);
        for (;;) {
            wake_.wait(hold, [&] { return exiting_ || !queue_.empty(); });
            if (exiting_) break;
            Item item = std::move(queue_.front());
            queue_.pop_front();
            hold.unlock();
            if (!simulate_) {
                if (!output) output = createVoiceOutput();
                if (output) output->speak(speakableText(item.text), item.voice, cancel_);
            }
            hold.lock();
            ++spoken_;
            done_.notify_all();
        }
        hold.unlock();
        output.reset(); // on the thread that made it
    }

    const bool simulate_;
    std::mutex lock_;
    std::condition_variable wake_, done_;
    std::deque<Item> queue_;
    std::uint64_t queued_ = 0, spoken_ = 0;
    bool exiting_ = false;
    std::atomic<bool> cancel_{false};
    std::thread worker_;
};

const Member kSynthesiserMembers[] = {
    {8, "GetResource", MemberKind::Method, 2, 2},
    {9, "GetResourceCount", MemberKind::Method, 1, 2},
    {13, "GetStringProperty", MemberKind::Method, 1, 1},
    {26, "SetStringProperty", MemberKind::Method, 2, 2},
    // text, then object kind, source, format, flags, result kind, format,
    // style: only the style's CPSSynchronous bit changes what happens.
    {29, "StartPlayback", MemberKind::Method, 1, 8},
};

class Synthesiser final : public DispatchObject {
  public:
    Synthesiser()
        : DispatchObject(IID_IXKitTTS, kSynthesiserMembers, std::size(kSynthesiserMembers)),
          simulationDir_(simulationDirectory()), voices_(listVoices()),
          speaker_(!simulationDir_.empty()) {}

  protected:
    HRESULT call(const Member& member, const Args& args, VARIANT* result) override {
        switch (member.id) {
        case 9:
            return resourceCount(args, result);
        case 8:
            return resource(args, result);
        case 13:
            return stringProperty(args, result);
        case 26:
            return setStringProperty(args);
        case 29:
            return startPlayback(args);
        }
        return DISP_E_MEMBERNOTFOUND;
    }

  private:
    HRESULT resourceCount(const Args& args, VARIANT* result) {
        LONG kind = 0, index = 0;
        HRESULT hr = args.integer(0, kind);
        if (SUCCEEDED(hr)) hr = args.integer(1, index);
        if (FAILED(hr)) return hr;
        if (kind != CSREngine) return E_INVALIDARG;
        setResultInt(result, static_cast<LONG>(voices_.size()));
        return S_OK;
    }

    HRESULT resource(const Args& args, VARIANT* result) {
        LONG kind = 0, index = 0;
        HRESULT hr = args.integer(0, kind);
        if (SUCCEEDED(hr)) hr = args.integer(1, index);
        if (FAILED(hr)) return hr;
        if (kind != CSREngine) return E_INVALIDARG;
        if (index < 0 || static_cast<std::size_t>(index) >= voices_.size()) return DISP_E_BADINDEX;
        Engine* engine = new (std::nothrow) Engine(voices_[index].name);
        if (!engine) return E_OUTOFMEMORY;
        setResultObject(result, engine);
        return S_OK;
    }

    HRESULT stringProperty(const Args& args, VARIANT* result) {
        LONG property = 0;
        const HRESULT hr = args.integer(0, property);
        if (FAILED(hr)) return hr;
        if (property != CSPEngine) return E_INVALIDARG;
        return setResultText(result, voices_.empty() ? std::string() : voices_[current_].name);
    }

    // An unknown name keeps the current voice and answers E_INVALIDARG.
    HRESULT setStringProperty(const Args& args) {
        LONG property = 0;
        std::string name;
        HRESULT hr = args.integer(0, property);
        if (SUCCEEDED(hr)) hr = args.text(1, name);
        if (FAILED(hr)) return hr;
        if (property != CSPEngine) return E_INVALIDARG;
        for (std::size_t i = 0; i < voices_.size(); ++i)
            if (voices_[i].name == name) {
                current_ = i;
                return S_OK;
            }
        return E_INVALIDARG;
    }

    HRESULT startPlayback(const Args& args) {
        std::string text;
        HRESULT hr = args.text(0, text);
        LONG style = 0;
        for (unsigned i = 1; SUCCEEDED(hr) && i < args.count(); ++i) {
            LONG value = 0;
            hr = args.integer(i, value);
            if (i == 7) style = value;
        }
        if (FAILED(hr)) return hr;
        if (text.empty()) return S_OK; // nothing to say
        if (!simulationDir_.empty()) appendSpokenLog(simulationDir_, text);
        static const Voice kNoVoice;
        speaker_.play(text, voices_.empty() ? kNoVoice : voices_[current_],
                      (style & CPSSynchronous) != 0);
        return S_OK;
    }

    const std::string simulationDir_;
    const std::vector<Voice> voices_;
    std::size_t current_ = 0;
    Speaker speaker_; // last: stops before the rest goes
};

} // namespace

IDispatch* createSynthesiser() {
    return new (std::nothrow) Synthesiser();
}

} // namespace speechkit
