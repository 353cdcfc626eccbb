// The recogniser (IXKitSR): a queue of recognition events served to the
// listening window, a connection point for its _IXKitSREvents sink, and an
// input thread that listens (microphone, or the simulation inbox) while a
// dictation vocabulary is enabled. Each queued recognition fires HasEvent on
// the connected sinks through the apartment of the thread that created the
// object, so sinks are only ever called on that thread.
#include "backend.h"
#include "dispatch.h"
#include "objects.h"
#include "simulation.h"

#include "platform/apartment.h"
#include "platform/installdir.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <set>
#include <thread>
#include <utility>
#include <vector>

namespace speechkit {

namespace {

// Recognitions kept for a window that does not read them; the oldest go.
constexpr std::size_t kMaxQueuedEvents = 100;
// How often the simulation inbox is looked at while listening.
constexpr auto kInboxPoll = std::chrono::milliseconds(50);

const Member kEventMembers[] = {
    {5, "KitCallback", MemberKind::PropertyGet, 0, 0},
    {29, "Text", MemberKind::PropertyGet, 0, 0},
};

class RecognitionEvent final : public DispatchObject {
  public:
    RecognitionEvent(LONG kind, std::string text)
        : DispatchObject(IID_IXKitSREvent, kEventMembers, std::size(kEventMembers)), kind_(kind),
          text_(std::move(text)) {}

  protected:
    HRESULT call(const Member& member, const Args&, VARIANT* result) override {
        if (member.id == 5) {
            setResultInt(result, kind_);
            return S_OK;
        }
        return setResultText(result, text_);
    }

  private:
    const LONG kind_;
    const std::string text_;
};

struct QueuedEvent {
    LONG kind;
    std::string text;
};

// State shared between the object (on its apartment's thread), the input
// thread and notifications waiting in the apartment's queue. Outlives the
// object while a notification still refers to it.
class Core : public std::enable_shared_from_this<Core> {
  public:
    explicit Core(platform::ApartmentId apartment) : apartment_(apartment) {}

    std::mutex lock;
    std::condition_variable wake;
    std::deque<QueuedEvent> events;
    std::vector<std::pair<DWORD, IDispatch*>> sinks;
    bool enabled = false;    // a dictation vocabulary is enabled
    bool exiting = false;    // the object is going
    bool preload = false;    // load the recogniser before listening starts
    bool textWanted = false; // CCSRHasText was registered
    bool notifyPending = false;
    // Changes at every disable, so a recognition begun before it is dropped.
    std::uint64_t generation = 0;

    // From the recognition threads: queue the text and have HasEvent fired.
    void deliver(std::uint64_t fromGeneration, const std::string& text) {
        std::lock_guard<std::mutex> hold(lock);
        if (exiting || !enabled || generation != fromGeneration || !textWanted) return;
        if (events.size() >= kMaxQueuedEvents) events.pop_front();
        events.push_back(QueuedEvent{CCSRHasText, text});
        if (notifyPending) return; // one HasEvent serves every event queued by then
        notifyPending = true;
        moduleLock(); // the notification refers to this library's code
        auto* holder = new std::shared_ptr<Core>(shared_from_this());
        if (!platform::postToApartment(apartment_, &Core::notified, holder)) {
            delete holder;
            moduleUnlock();
            notifyPending = false;
        }
    }

  private:
    static void notified(void* context) {
        auto* holder = static_cast<std::shared_ptr<Core>*>(context);
        (*holder)->fireHasEvent();
        delete holder;
        moduleUnlock();
    }

    // On the apartment's thread.
    void fireHasEvent() {
        std::vector<IDispatch*> targets;
        {
            std::lock_guard<std::mutex> hold(lock);
            notifyPending = false;
            if (exiting || events.empty()) return;
            for (auto& sink : sinks) {
                sink.second->AddRef();
                targets.push_back(sink.second);
            }
        }
        for (IDispatch* sink : targets) {
            DISPPARAMS none = {nullptr, nullptr, 0, 0};
            sink->Invoke(kDispIdHasEvent, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr,
                         nullptr);
            sink->Release();
        }
    }

    const platform::ApartmentId apartment_;
};

// The input thread: owns the platform's recogniser, listens while enabled.
void listen(std::shared_ptr<Core> core, std::string simulationDir, std::string bookPath) {
    std::unique_ptr<SpeechInput> input;
    std::set<std::string> undeletable; // consumed inbox files that would not go
    std::unique_lock<std::mutex> hold(core->lock);
    const auto loadInput = [&] {
        if (input) return;
        hold.unlock();
        input = createSpeechInput(bookPath);
        hold.lock();
    };
    for (;;) {
        core->wake.wait(
            hold, [&] { return core->exiting || core->enabled || (core->preload && !input); });
        if (core->exiting) break;
        if (!core->enabled) {
            loadInput();
            continue;
        }
        const std::uint64_t generation = core->generation;
        const auto stillOn = [&] {
            return !core->exiting && core->enabled && core->generation == generation;
        };
        if (!simulationDir.empty()) {
            while (stillOn()) {
                hold.unlock();
                const std::vector<InboxFile> files = inboxFiles(simulationDir);
                hold.lock();
                for (const InboxFile& file : files) {
                    if (!stillOn()) break;
                    if (undeletable.count(file.path)) continue;
                    std::string text;
                    if (file.isWav) {
                        loadInput();
                        hold.unlock();
                        // Taken out of the inbox (under a name it ignores)
                        // before decoding starts.
                        const std::string taken = takenName(file.path);
                        const bool moved = renameFile(file.path, taken);
                        text = input->recognizeWavFile(moved ? taken : file.path);
                        if (moved) removeFile(taken);
                    } else {
                        hold.unlock();
                        std::string bytes;
                        if (readWholeFile(file.path, bytes)) text = utf8FromFileBytes(bytes);
                    }
                    if (!removeFile(file.path)) undeletable.insert(file.path);
                    // An empty file or a .wav that matched nothing: no recognition.
                    if (!text.empty()) core->deliver(generation, text);
                    hold.lock();
                }
                core->wake.wait_for(hold, kInboxPoll, [&] { return !stillOn(); });
            }
        } else {
            loadInput();
            if (!stillOn()) continue;
            hold.unlock();
            const bool listening = input->startListening(
                [core, generation](const std::string& text) { core->deliver(generation, text); });
            hold.lock();
            // Without a microphone nothing is heard until the next enable.
            core->wake.wait(hold, [&] { return !stillOn(); });
            if (listening) {
                hold.unlock();
                input->stopListening();
                hold.lock();
            }
        }
    }
    hold.unlock();
    input.reset();
}

const Member kRecogniserMembers[] = {
    {5, "DefineResource", MemberKind::Method, 2, 2},
    {6, "DisableResource", MemberKind::Method, 2, 2},
    {9, "EnableResource", MemberKind::Method, 2, 2},
    {15, "GetResource", MemberKind::Method, 2, 2},
    {16, "GetResourceCount", MemberKind::Method, 1, 2},
    {27, "RegisterCallback", MemberKind::Method, 1, 1},
    {28, "RemoveResource", MemberKind::Method, 2, 2},
};

class Recogniser final : public DispatchObject, public IConnectionPointContainer {
  public:
    Recogniser()
        : DispatchObject(IID_IXKitSR, kRecogniserMembers, std::size(kRecogniserMembers)),
          point_(this), simulationDir_(simulationDirectory()),
          core_(std::make_shared<Core>(platform::currentApartment())) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        return DispatchObject::QueryInterface(iid, out);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return DispatchObject::AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return DispatchObject::Release(); }

    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** out) override {
        if (out) *out = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID iid, IConnectionPoint** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (!IsEqualIID(iid, IID_IXKitSREvents)) return CONNECT_E_NOCONNECTION;
        *out = &point_;
        point_.AddRef();
        return S_OK;
    }

  protected:
    ~Recogniser() override {
        std::vector<std::pair<DWORD, IDispatch*>> sinks;
        {
            std::lock_guard<std::mutex> hold(core_->lock);
            core_->exiting = true;
            core_->enabled = false;
            ++core_->generation;
            core_->events.clear();
            sinks.swap(core_->sinks);
        }
        core_->wake.notify_all();
        if (input_.joinable()) input_.join();
        for (auto& sink : sinks)
            sink.second->Release();
    }

    void* otherInterface(REFIID iid) override {
        if (IsEqualIID(iid, IID_IConnectionPointContainer))
            return static_cast<IConnectionPointContainer*>(this);
        return nullptr;
    }

    HRESULT call(const Member& member, const Args& args, VARIANT* result) override {
        LONG kind = 0;
        HRESULT hr = args.integer(0, kind);
        if (FAILED(hr)) return hr;
        switch (member.id) {
        case 5:
            return defineResource(kind, args, result);
        case 9:
            return enableResource(kind, args, true);
        case 6:
            return enableResource(kind, args, false);
        case 27:
            return registerCallback(kind);
        case 16:
            return resourceCount(kind, args, result);
        case 15:
            return resource(kind, args, result);
        case 28:
            return removeResource(kind, args);
        }
        return DISP_E_MEMBERNOTFOUND;
    }

  private:
    // The connection point for _IXKitSREvents; lives inside the recogniser
    // and shares its reference count.
    class Point final : public IConnectionPoint {
      public:
        explicit Point(Recogniser* owner) : owner_(owner) {}
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
            if (!out) return E_POINTER;
            *out = nullptr;
            if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IConnectionPoint))
                return E_NOINTERFACE;
            *out = static_cast<IConnectionPoint*>(this);
            AddRef();
            return S_OK;
        }
        ULONG STDMETHODCALLTYPE AddRef() override { return owner_->AddRef(); }
        ULONG STDMETHODCALLTYPE Release() override { return owner_->Release(); }
        HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override {
            if (!iid) return E_POINTER;
            *iid = IID_IXKitSREvents;
            return S_OK;
        }
        HRESULT STDMETHODCALLTYPE
        GetConnectionPointContainer(IConnectionPointContainer** out) override {
            if (!out) return E_POINTER;
            *out = owner_;
            owner_->AddRef();
            return S_OK;
        }
        HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override {
            if (cookie) *cookie = 0;
            if (!sink || !cookie) return E_POINTER;
            void* events = nullptr;
            if (FAILED(sink->QueryInterface(IID_IXKitSREvents, &events)) || !events)
                return CONNECT_E_CANNOTCONNECT;
            std::lock_guard<std::mutex> hold(owner_->core_->lock);
            *cookie = ++nextCookie_;
            owner_->core_->sinks.push_back({*cookie, static_cast<IDispatch*>(events)});
            return S_OK;
        }
        HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override {
            IDispatch* gone = nullptr;
            {
                std::lock_guard<std::mutex> hold(owner_->core_->lock);
                auto& sinks = owner_->core_->sinks;
                for (auto it = sinks.begin(); it != sinks.end(); ++it)
                    if (it->first == cookie) {
                        gone = it->second;
                        sinks.erase(it);
                        break;
                    }
            }
            if (!gone) return CONNECT_E_NOCONNECTION;
            gone->Release(); // outside the lock: the sink may free itself
            return S_OK;
        }
        HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** out) override {
            if (out) *out = nullptr;
            return E_NOTIMPL;
        }

      private:
        Recogniser* owner_;
        DWORD nextCookie_ = 0;
    };

    void startInputThread() {
        if (input_.joinable()) return;
        input_ = std::thread(listen, core_, simulationDir_, platform::installPath("orvane.txt"));
    }

    HRESULT defineResource(LONG kind, const Args& args, VARIANT* result) {
        std::string name;
        const HRESULT hr = args.text(1, name);
        if (FAILED(hr)) return hr;
        if (kind != CSRDictationVocab) return E_INVALIDARG;
        const LONG id = nextVocabulary_++;
        vocabularies_.insert(id);
        if (simulationDir_.empty()) {
            // Listening starts sooner when the model is loaded beforehand.
            {
                std::lock_guard<std::mutex> hold(core_->lock);
                core_->preload = true;
            }
            startInputThread();
            core_->wake.notify_all();
        }
        setResultInt(result, id);
        return S_OK;
    }

    // Listening runs while at least one defined vocabulary is enabled.
    // Disabling drops what was heard but not yet read: nothing heard before
    // a stop is reported after it.
    HRESULT enableResource(LONG kind, const Args& args, bool enable) {
        LONG id = 0;
        const HRESULT hr = args.integer(1, id);
        if (FAILED(hr)) return hr;
        if (kind != CSRDictationVocab || !vocabularies_.count(id)) return E_INVALIDARG;
        if (enable)
            enabled_.insert(id);
        else
            enabled_.erase(id);
        {
            std::lock_guard<std::mutex> hold(core_->lock);
            const bool on = !enabled_.empty();
            if (core_->enabled && !on) {
                ++core_->generation;
                core_->events.clear();
            }
            core_->enabled = on;
        }
        if (enable) startInputThread();
        core_->wake.notify_all();
        return S_OK;
    }

    HRESULT registerCallback(LONG kind) {
        if (kind != CCSRHasText) return E_INVALIDARG;
        std::lock_guard<std::mutex> hold(core_->lock);
        core_->textWanted = true;
        return S_OK;
    }

    HRESULT resourceCount(LONG kind, const Args& args, VARIANT* result) {
        LONG unused = 0;
        const HRESULT hr = args.integer(1, unused);
        if (FAILED(hr)) return hr;
        if (kind == CSRDictationVocab) {
            setResultInt(result, static_cast<LONG>(vocabularies_.size()));
            return S_OK;
        }
        if (kind != CSREvent) return E_INVALIDARG;
        std::lock_guard<std::mutex> hold(core_->lock);
        setResultInt(result, static_cast<LONG>(core_->events.size()));
        return S_OK;
    }

    HRESULT resource(LONG kind, const Args& args, VARIANT* result) {
        LONG index = 0;
        const HRESULT hr = args.integer(1, index);
        if (FAILED(hr)) return hr;
        if (kind != CSREvent) return E_INVALIDARG;
        QueuedEvent event;
        {
            std::lock_guard<std::mutex> hold(core_->lock);
            if (index < 0 || static_cast<std::size_t>(index) >= core_->events.size())
                return DISP_E_BADINDEX;
            event = core_->events[index];
        }
        auto* object = new (std::nothrow) RecognitionEvent(event.kind, event.text);
        if (!object) return E_OUTOFMEMORY;
        setResultObject(result, object);
        return S_OK;
    }

    HRESULT removeResource(LONG kind, const Args& args) {
        LONG index = 0;
        const HRESULT hr = args.integer(1, index);
        if (FAILED(hr)) return hr;
        if (kind != CSREvent) return E_INVALIDARG;
        std::lock_guard<std::mutex> hold(core_->lock);
        if (index < 0 || static_cast<std::size_t>(index) >= core_->events.size())
            return DISP_E_BADINDEX;
        core_->events.erase(core_->events.begin() + index);
        return S_OK;
    }

    Point point_;
    const std::string simulationDir_;
    std::shared_ptr<Core> core_;
    std::set<LONG> vocabularies_, enabled_;
    LONG nextVocabulary_ = 1;
    std::thread input_;
};

} // namespace

IDispatch* createRecogniser() {
    return new (std::nothrow) Recogniser();
}

} // namespace speechkit
