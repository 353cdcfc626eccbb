// Windows speech through SAPI 5: the voice tokens are the engines, ISpVoice
// speaks, and an in-process recogniser with a command grammar listens.
// Where SAPI cannot (Wine registers no recogniser and its voice cannot
// speak), every call returns quietly: no engines or no sound, no events.
#include "../backend.h"
#include "../component.h"
#include "../textform.h"

#include <sapi.h>
#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <string>
#include <thread>
#include <vector>

namespace speechkit {

namespace {

const wchar_t kVoicesCategory[] = L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Speech\\Voices";

template <class T> void release(T*& p) {
    if (p) p->Release();
    p = nullptr;
}

std::wstring wideFromUtf8(const std::string& text) {
    BSTR b = bstrFromUtf8(text);
    std::wstring out = b ? std::wstring(b, SysStringLen(b)) : std::wstring();
    SysFreeString(b);
    return out;
}

std::string utf8FromWide(const wchar_t* text) {
    return text ? utf8FromOle(text, std::wcslen(text)) : std::string();
}

// True when the token's Language attribute names an English locale
// ("409;9": hexadecimal LCIDs; English is primary language 9).
bool isEnglish(ISpObjectToken* token) {
    ISpDataKey* attributes = nullptr;
    if (FAILED(token->OpenKey(L"Attributes", &attributes))) return false;
    wchar_t* language = nullptr;
    bool english = false;
    if (SUCCEEDED(attributes->GetStringValue(L"Language", &language)) && language) {
        const wchar_t* p = language;
        while (*p) {
            wchar_t* end = nullptr;
            const unsigned long lcid = std::wcstoul(p, &end, 16);
            if (end == p) break;
            if ((lcid & 0x3FF) == 0x09) english = true;
            p = end;
            while (*p == L';' || *p == L' ')
                ++p;
        }
        CoTaskMemFree(language);
    }
    attributes->Release();
    return english;
}

// Frees what an event carries.
void clearEvent(SPEVENT& event) {
    if (event.elParamType == SPET_LPARAM_IS_OBJECT && event.lParam)
        reinterpret_cast<IUnknown*>(event.lParam)->Release();
    else if ((event.elParamType == SPET_LPARAM_IS_POINTER ||
              event.elParamType == SPET_LPARAM_IS_STRING) &&
             event.lParam)
        CoTaskMemFree(reinterpret_cast<void*>(event.lParam));
    event.lParam = 0;
}

class SapiOutput final : public VoiceOutput {
  public:
    SapiOutput() {
        comReady_ = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
        if (FAILED(CoCreateInstance(CLSID_SpVoice, nullptr, CLSCTX_ALL, IID_ISpVoice,
                                    reinterpret_cast<void**>(&voice_))))
            voice_ = nullptr;
    }
    ~SapiOutput() override {
        release(voice_);
        if (comReady_) CoUninitialize();
    }

    void speak(const std::string& text, const Voice& voice,
               const std::atomic<bool>& cancel) override {
        if (!voice_) return;
        selectVoice(voice);
        const std::wstring wide = wideFromUtf8(text);
        if (FAILED(voice_->Speak(wide.c_str(), SPF_ASYNC | SPF_IS_NOT_XML, nullptr)))
            return; // no device, or a SAPI that cannot speak (Wine)
        // Generous bound against a device that never finishes.
        const DWORD limitMs = 60000 + static_cast<DWORD>(wide.size()) * 500;
        for (DWORD waited = 0; waited < limitMs; waited += 100) {
            if (cancel) break;
            if (voice_->WaitUntilDone(100) != S_FALSE) return;
        }
        voice_->Speak(nullptr, SPF_PURGEBEFORESPEAK, nullptr);
    }

  private:
    void selectVoice(const Voice& voice) {
        if (voice.key.empty() || voice.key == current_) return;
        ISpObjectToken* token = nullptr;
        if (SUCCEEDED(CoCreateInstance(CLSID_SpObjectToken, nullptr, CLSCTX_ALL, IID_ISpObjectToken,
                                       reinterpret_cast<void**>(&token))) &&
            SUCCEEDED(token->SetId(nullptr, wideFromUtf8(voice.key).c_str(), FALSE)) &&
            SUCCEEDED(voice_->SetVoice(token)))
            current_ = voice.key;
        release(token);
    }

    bool comReady_ = false;
    ISpVoice* voice_ = nullptr;
    std::string current_;
};

// A recogniser with the command grammar, reading from one input (the
// microphone or a .wav stream). Lives on one MTA thread.
class RecognitionSession {
  public:
    // input: null for the default microphone.
    bool open(IUnknown* input) {
        if (FAILED(CoCreateInstance(CLSID_SpInprocRecognizer, nullptr, CLSCTX_ALL,
                                    IID_ISpRecognizer, reinterpret_cast<void**>(&recognizer_))))
            return false;
        IUnknown* source = input;
        if (!source && FAILED(CoCreateInstance(CLSID_SpMMAudioIn, nullptr, CLSCTX_ALL, IID_IUnknown,
                                               reinterpret_cast<void**>(&microphone_))))
            return false;
        if (!source) source = microphone_;
        if (FAILED(recognizer_->SetInput(source, TRUE)) ||
            FAILED(recognizer_->CreateRecoContext(&context_)) ||
            FAILED(context_->SetNotifyWin32Event()))
            return false;
        const ULONGLONG interest = (1ULL << SPEI_RECOGNITION) | (1ULL << SPEI_END_SR_STREAM);
        if (FAILED(context_->SetInterest(interest, interest)) ||
            FAILED(context_->CreateGrammar(1, &grammar_)) || !buildGrammar())
            return false;
        return SUCCEEDED(recognizer_->SetRecoState(SPRST_ACTIVE));
    }

    ~RecognitionSession() {
        if (recognizer_) recognizer_->SetRecoState(SPRST_INACTIVE);
        release(grammar_);
        release(context_);
        release(microphone_);
        release(recognizer_);
    }

    HANDLE notifyHandle() { return context_ ? context_->GetNotifyEventHandle() : nullptr; }

    // The events waiting now: recognitions as text, and whether the input
    // stream has ended.
    void drain(std::vector<std::string>& texts, bool& ended) {
        SPEVENT event;
        ULONG fetched = 0;
        while (context_ && SUCCEEDED(context_->GetEvents(1, &event, &fetched)) && fetched == 1) {
            if (event.eEventId == SPEI_END_SR_STREAM) ended = true;
            if (event.eEventId == SPEI_RECOGNITION && event.elParamType == SPET_LPARAM_IS_OBJECT) {
                const std::string text = phraseText(reinterpret_cast<ISpRecoResult*>(event.lParam));
                if (!text.empty()) texts.push_back(text);
            }
            clearEvent(event);
        }
    }

  private:
    bool phrase(SPSTATEHANDLE from, SPSTATEHANDLE to, const std::wstring& words,
                const SPPROPERTYINFO* property = nullptr) {
        return SUCCEEDED(grammar_->AddWordTransition(from, to, words.c_str(), L" ", SPWT_LEXICAL,
                                                     1.0f, property));
    }

    // One rule: the simple commands, "chapter" and a number 0-999 (its value
    // carried as a property, so the digits need no parsing of words), and
    // "locate" followed by up to six dictated words.
    bool buildGrammar() {
        SPSTATEHANDLE rule = nullptr;
        if (FAILED(grammar_->GetRule(L"command", 1, SPRAF_TopLevel | SPRAF_Active, TRUE, &rule)))
            return false;
        for (const wchar_t* words :
             {L"help", L"continue", L"result", L"exit program", L"yes", L"no"})
            if (!phrase(rule, nullptr, words)) return false;
        SPSTATEHANDLE chapter = nullptr;
        if (FAILED(grammar_->CreateNewState(rule, &chapter)) || !phrase(rule, chapter, L"chapter"))
            return false;
        for (int n = 0; n <= 999; ++n) {
            SPPROPERTYINFO number = {};
            number.pszName = L"number";
            number.ulId = 1;
            number.vValue.vt = VT_I4;
            number.vValue.lVal = n;
            if (!phrase(chapter, nullptr, wideFromUtf8(numberWords(n, false)), &number))
                return false;
            const std::string withAnd = numberWords(n, true);
            if (withAnd != numberWords(n, false) &&
                !phrase(chapter, nullptr, wideFromUtf8(withAnd), &number))
                return false;
        }
        // The words after "locate" come from dictation, one word per step.
        grammar_->LoadDictation(nullptr, SPLO_STATIC);
        SPSTATEHANDLE state = nullptr;
        if (FAILED(grammar_->CreateNewState(rule, &state)) || !phrase(rule, state, L"locate"))
            return false;
        for (int word = 0; word < 6; ++word) {
            SPSTATEHANDLE next = nullptr;
            if (FAILED(grammar_->CreateNewState(rule, &next)) ||
                FAILED(grammar_->AddRuleTransition(state, next, SPRULETRANS_DICTATION, 1.0f,
                                                   nullptr)) ||
                FAILED(grammar_->AddWordTransition(next, nullptr, nullptr, nullptr, SPWT_LEXICAL,
                                                   1.0f, nullptr)))
                return false;
            state = next;
        }
        return SUCCEEDED(grammar_->Commit(0)) &&
               SUCCEEDED(grammar_->SetRuleState(nullptr, nullptr, SPRS_ACTIVE));
    }

    static std::string phraseText(ISpRecoResult* result) {
        if (!result) return std::string();
        wchar_t* words = nullptr;
        if (FAILED(result->GetText(SP_GETWHOLEPHRASE, SP_GETWHOLEPHRASE, TRUE, &words, nullptr)))
            return std::string();
        std::string text = textForm(utf8FromWide(words));
        CoTaskMemFree(words);
        if (text.rfind("chapter ", 0) == 0) {
            SPPHRASE* phrase = nullptr;
            if (SUCCEEDED(result->GetPhrase(&phrase)) && phrase) {
                for (const SPPHRASEPROPERTY* p = phrase->pProperties; p; p = p->pNextSibling)
                    if (p->ulId == 1 && p->vValue.vt == VT_I4)
                        text = "chapter " + std::to_string(p->vValue.lVal) + " ";
                CoTaskMemFree(phrase);
            }
        }
        return text;
    }

    ISpRecognizer* recognizer_ = nullptr;
    IUnknown* microphone_ = nullptr;
    ISpRecoContext* context_ = nullptr;
    ISpRecoGrammar* grammar_ = nullptr;
};

class SapiInput final : public SpeechInput {
  public:
    SapiInput() { comReady_ = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)); }
    ~SapiInput() override {
        stopListening();
        if (comReady_) CoUninitialize();
    }

    std::string recognizeWavFile(const std::string& path) override {
        ISpStream* stream = nullptr;
        if (FAILED(CoCreateInstance(CLSID_SpStream, nullptr, CLSCTX_ALL, IID_ISpStream,
                                    reinterpret_cast<void**>(&stream))))
            return std::string();
        std::string text;
        if (SUCCEEDED(stream->BindToFile(wideFromUtf8(path).c_str(), SPFM_OPEN_READONLY, nullptr,
                                         nullptr, 0))) {
            RecognitionSession session;
            if (session.open(stream)) {
                std::vector<std::string> texts;
                bool ended = false;
                // The whole file is read faster than real time; bound the wait.
                for (int turn = 0; turn < 300 && !ended && texts.empty(); ++turn) {
                    WaitForSingleObject(session.notifyHandle(), 100);
                    session.drain(texts, ended);
                }
                if (!texts.empty()) text = texts.front();
            }
            stream->Close();
        }
        stream->Release();
        return text;
    }

    bool startListening(std::function<void(const std::string&)> onText) override {
        if (worker_.joinable()) return true;
        stop_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        HANDLE started = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (!stop_ || !started) {
            if (started) CloseHandle(started);
            if (stop_) CloseHandle(stop_);
            stop_ = nullptr;
            return false;
        }
        opened_ = false;
        worker_ = std::thread([this, onText, started] {
            const bool com = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
            {
                RecognitionSession session;
                const bool open = session.open(nullptr);
                opened_ = open;
                SetEvent(started); // started is not touched after this
                while (open) {
                    HANDLE handles[2] = {stop_, session.notifyHandle()};
                    const DWORD which =
                        WaitForMultipleObjects(handles[1] ? 2 : 1, handles, FALSE, INFINITE);
                    if (which != WAIT_OBJECT_0 + 1) break;
                    std::vector<std::string> texts;
                    bool ended = false;
                    session.drain(texts, ended);
                    for (const std::string& text : texts)
                        onText(text);
                }
            }
            if (com) CoUninitialize();
        });
        WaitForSingleObject(started, INFINITE);
        CloseHandle(started);
        if (opened_) return true;
        stopListening();
        return false;
    }

    void stopListening() override {
        if (!worker_.joinable()) return;
        SetEvent(stop_);
        worker_.join();
        CloseHandle(stop_);
        stop_ = nullptr;
    }

  private:
    bool comReady_ = false;
    HANDLE stop_ = nullptr;
    std::atomic<bool> opened_{false};
    std::thread worker_;
};

} // namespace

std::vector<Voice> listVoices() {
    std::vector<Voice> english, others;
    ISpObjectTokenCategory* category = nullptr;
    IEnumSpObjectTokens* tokens = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_SpObjectTokenCategory, nullptr, CLSCTX_ALL,
                                   IID_ISpObjectTokenCategory,
                                   reinterpret_cast<void**>(&category))) &&
        SUCCEEDED(category->SetId(kVoicesCategory, FALSE)) &&
        SUCCEEDED(category->EnumTokens(nullptr, nullptr, &tokens))) {
        ULONG count = 0;
        tokens->GetCount(&count);
        for (ULONG i = 0; i < count; ++i) {
            ISpObjectToken* token = nullptr;
            if (FAILED(tokens->Item(i, &token)) || !token) continue;
            wchar_t* name = nullptr;
            wchar_t* id = nullptr;
            if (SUCCEEDED(token->GetId(&id)) && id) {
                Voice voice{std::string(), utf8FromWide(id)};
                // The token's default value is its description; where that
                // cannot be read (Wine), the last part of its id names it.
                if (SUCCEEDED(token->GetStringValue(nullptr, &name)) && name && *name)
                    voice.name = utf8FromWide(name);
                else
                    voice.name = voice.key.substr(voice.key.find_last_of('\\') + 1);
                if (!voice.name.empty()) (isEnglish(token) ? english : others).push_back(voice);
            }
            CoTaskMemFree(name);
            CoTaskMemFree(id);
            token->Release();
        }
    }
    release(tokens);
    release(category);
    english.insert(english.end(), others.begin(), others.end());
    return english;
}

std::unique_ptr<VoiceOutput> createVoiceOutput() {
    return std::make_unique<SapiOutput>();
}

std::unique_ptr<SpeechInput> createSpeechInput(const std::string&) {
    return std::make_unique<SapiInput>();
}

} // namespace speechkit
