#include "recognizer.h"

#include "audiocapture.h"
#include "grammar.h"
#include "lexicon.h"
#include "wavfile.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <pocketsphinx.h>
#include <set>
#include <sphinxbase/ckd_alloc.h>
#include <sphinxbase/err.h>
#include <sphinxbase/feat.h>
#include <sphinxbase/fsg_model.h>
#include <sstream>
#include <sys/mman.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace speechkit {

namespace {

const int kRate = 16000;
const char* const kSearch = "commands";
const char* const kLocateSearch = "locate";
const char* const kRunsSearch = "runs";
const char* const kPhonesSearch = "phones";
const char* const kDecoySearchPrefix = "decoys-";
// The commands checked against the words that only sound like them. Not
// "chapter" and "locate": what follows them tells them from such words.
const std::vector<std::string> kDecoyChecked[] = {{"help"}, {"continue"}, {"result"},
                                                  {"yes"},  {"no"},       {"exit", "program"}};
// The RMS of an utterance's loudest tenth of a second (sample steps) below
// which it holds no sound at all: about -66 dB of full scale.
const double kLeastSpeechLevel = 16;
// An utterance longer than this is no command (continuous noise, talk).
const double kMaxUtteranceSeconds = 12.0;

// A faint noise floor over the samples, as every microphone has: the
// decoder's features take the logarithm of each frame's energy and normalise
// by the utterance's mean, and the exact zeros of synthetic silence throw
// both off. Seeded the same way each time, so one file gives one result.
void addNoiseFloor(std::vector<std::int16_t>& samples, double rms, std::uint32_t* seed = nullptr) {
    std::uint32_t local = 0x9e3779b9u;
    std::uint32_t& state = seed ? *seed : local;
    auto uniform = [&state]() {
        state = state * 1664525u + 1013904223u;
        return (state >> 8) / double(1u << 24) - 0.5; // -0.5 .. 0.5, variance 1/12
    };
    // The sum of three uniform values: nearly Gaussian, variance 1/4.
    const double scale = rms * 2.0;
    for (std::int16_t& s : samples) {
        const double v = s + scale * (uniform() + uniform() + uniform());
        const long r = std::lround(v);
        s = static_cast<std::int16_t>(r > 32767 ? 32767 : (r < -32768 ? -32768 : r));
    }
}

// The level of the speech in a recording: the RMS of its loudest tenth of a
// second, in sample steps.
double speechLevel(const std::vector<std::int16_t>& samples) {
    const std::size_t window = 1600;
    double best = 0, sum = 0;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        sum += double(samples[i]) * samples[i];
        if (i >= window) sum -= double(samples[i - window]) * samples[i - window];
        best = std::max(best, sum);
    }
    return std::sqrt(best / double(std::min(window, std::max<std::size_t>(1, samples.size()))));
}

// The typical pitch of the voice in a recording, in Hz: the median over its
// loud voiced frames (40 ms, every 20 ms) of the lag of the strongest
// autocorrelation between 70 and 400 Hz; 0 when it has no voiced frame. At
// half the sample rate (pairs of samples summed): it tells a high voice
// from a low one in a few milliseconds per second of speech.
double medianPitch(const std::vector<std::int16_t>& samples) {
    const int rate = kRate / 2;
    std::vector<double> x(samples.size() / 2);
    for (std::size_t i = 0; i < x.size(); ++i)
        x[i] = double(samples[2 * i]) + samples[2 * i + 1];
    const std::size_t window = rate / 25, step = rate / 50;
    const std::size_t shortest = rate / 400, longest = rate / 70;
    if (x.size() < window + longest) return 0;
    const double loud = speechLevel(samples) * 2 * 0.1; // within 20 dB of the loudest
    std::vector<double> pitches;
    std::vector<double> frame(window + longest);
    for (std::size_t at = 0; at + frame.size() <= x.size(); at += step) {
        double mean = 0;
        for (std::size_t i = 0; i < frame.size(); ++i)
            mean += frame[i] = x[at + i];
        mean /= double(frame.size());
        double energy = 0;
        for (double& v : frame)
            v -= mean;
        for (std::size_t i = 0; i < window; ++i)
            energy += frame[i] * frame[i];
        if (std::sqrt(energy / double(window)) < loud) continue;
        double best = 0;
        std::size_t bestLag = 0;
        for (std::size_t lag = shortest; lag <= longest; ++lag) {
            double sum = 0, lagged = 0;
            for (std::size_t i = 0; i < window; ++i) {
                sum += frame[i] * frame[i + lag];
                lagged += frame[i + lag] * frame[i + lag];
            }
            const double r = sum / std::sqrt(energy * lagged + 1e-9);
            if (r > best) {
                best = r;
                bestLag = lag;
            }
        }
        if (best > 0.5) pitches.push_back(double(rate) / double(bestLag));
    }
    if (pitches.empty()) return 0;
    std::nth_element(pitches.begin(), pitches.begin() + long(pitches.size() / 2), pitches.end());
    return pitches[pitches.size() / 2];
}

std::string readWhole(const std::string& path) {
    std::string text;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return text;
    char buffer[65536];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0 && text.size() < (16u << 20))
        text.append(buffer, n);
    std::fclose(f);
    return text;
}

} // namespace

struct Recognizer::Impl {
    RecognizerTuning tuning;
    Grammar grammar;
    cmd_ln_t* config = nullptr;
    ps_decoder_t* ps = nullptr;
    bool ready = false;
    std::string error;

    // The one decoder is shared by file recognition and the listening worker.
    mutable std::mutex decodeLock;
    bool hasLocateModel = false;
    bool hasPhoneLoop = false;
    int wholeCmn = CMN_BATCH;            // the model's mean normalisation for a whole utterance
    std::set<std::string> decoySearches; // command words that have their decoy search
    bool streamed = false;               // the current utterance came block by block
    std::string lastRejection;           // why the last result was not delivered
    unsigned long fileDecodes = 0;       // tells the worker its utterance was interrupted
    std::string lastHypothesis;
    Timing lastTiming;

    std::mutex listenLock; // start and stop
    std::thread worker;
    std::atomic<std::thread::id> workerId{std::thread::id()};
    std::atomic<bool> stopRequested{false};
    std::atomic<bool> active{false};
    std::mutex captureLock;
    AudioCapture* capture = nullptr; // the worker's, while it reads

    void init(const std::string& bookPath);
    // The rest of an utterance: its result from the command grammar, and for
    // "locate" a second pass over its audio. decodeLock held.
    std::string finishUtterance(const std::vector<std::int16_t>& audio);
    std::string locatePass(const std::vector<std::int16_t>& audio,
                           const std::vector<std::string>& firstPass);
    bool setGrammar(const char* name, const std::string& fsgText);
    // "" when the decoder's result fits the audio like a spoken command;
    // else why not. The grammar always finds its nearest command, also in
    // talk that is none: then words come out far too short, or pauses and
    // noises cover loud speech.
    std::string implausible(ps_seg_t* seg, const std::vector<std::int16_t>& audio);
    std::vector<std::string> resultWords(ps_seg_t* seg, std::string* shown);
    // The acoustic score of the current result, in all and per frame of its
    // words (pauses and noises left out).
    struct PathScore {
        long total = 0;
        int wordFrames = 0;
    };
    PathScore pathScore();
    // How much worse per frame of its words the result's path scored than a
    // free loop of phones over the same audio; leaves the command search set.
    double phoneLoopGap(const PathScore& path, const std::vector<std::int16_t>& audio);
    // "" when the current result's words fit the audio nearly as well as
    // free phones do; else why not.
    std::string fitsPoorly(const std::vector<std::int16_t>& audio);
    // "" unless the audio sounds more like a word that is no command than
    // like the command heard; leaves the command search set.
    std::string soundsLikeAnother(const std::vector<std::string>& command,
                                  const std::vector<std::int16_t>& audio);
    // `shown` goes before the decoder's words in lastHypothesis.
    std::string decode(const std::vector<std::int16_t>& audio, bool whole,
                       const std::string& shown = "");
    // An utterance's audio with silence around it and a faint noise floor
    // under it, decoded.
    std::string decodeWithSilence(std::vector<std::int16_t> audio, bool trail, bool whole);
    void listen(std::unique_ptr<AudioCapture> device, TextHandler onText);
};

// Other beams for the grammar searches made while this lives: a search
// reads them from the configuration when it is made.
class SearchBeams {
  public:
    SearchBeams(cmd_ln_t* config, double beam) : config_(beam > 0 ? config : nullptr) {
        if (!config_) return;
        for (std::size_t i = 0; i < kNames.size(); ++i) {
            saved_[i] = cmd_ln_float_r(config_, kNames[i]);
            // The word-exit beam stays as far above the others as by default.
            cmd_ln_set_float_r(config_, kNames[i], i < 2 ? beam : beam * 1e20);
        }
    }
    ~SearchBeams() {
        if (!config_) return;
        for (std::size_t i = 0; i < kNames.size(); ++i)
            cmd_ln_set_float_r(config_, kNames[i], saved_[i]);
    }
    SearchBeams(const SearchBeams&) = delete;
    SearchBeams& operator=(const SearchBeams&) = delete;

  private:
    static constexpr std::array<const char*, 3> kNames = {"-beam", "-pbeam", "-wbeam"};
    cmd_ln_t* config_;
    std::array<double, 3> saved_{};
};

void Recognizer::Impl::init(const std::string& bookPath) {
    err_set_logfp(nullptr); // the decoder's log would flood standard error
    Lexicon lexicon;
    if (!lexicon.load(tuning.modelDir + "/cmudict-en-us.dict")) {
        error = "cannot read the dictionary in " + tuning.modelDir;
        return;
    }
    GrammarWeights weights;
    weights.garbagePhone = tuning.garbagePhone;
    weights.garbageEntry = tuning.garbageEntry;
    weights.decoyEntry = tuning.decoyEntry;
    weights.decoysPerCommand = tuning.decoysPerCommand;
    weights.locateEntry = tuning.locateEntry;
    grammar.build(readWhole(bookPath), lexicon, weights);

    std::vector<std::string> args = {
        "-hmm", tuning.modelDir + "/en-us", "-dict", "/dev/null", "-logfn", "/dev/null",
        "-samprate", std::to_string(kRate), "-fsgusealtpron", "no", "-fsgusefiller", "no",
        // The phone loop in context-independent phones: it tells words from
        // talk as well as in triphones, at a fortieth of the time.
        "-allphone_ci", "yes", "-vad_postspeech", std::to_string(tuning.vadPostSpeech)};
    std::istringstream extra(tuning.extraArguments);
    for (std::string a; extra >> a;)
        args.push_back(a);
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(&a[0]);
    config = cmd_ln_parse_r(nullptr, ps_args(), static_cast<int32>(argv.size()), argv.data(), TRUE);
    if (!config) {
        error = "bad decoder arguments";
        return;
    }
    ps = ps_init(config);
    if (!ps) {
        error = "cannot load the acoustic model in " + tuning.modelDir;
        return;
    }
    if (feat_t* features = ps_get_feat(ps)) wholeCmn = features->cmn;
    const auto& dictionary = grammar.dictionary();
    for (std::size_t i = 0; i < dictionary.size(); ++i)
        ps_add_word(ps, dictionary[i].first.c_str(), dictionary[i].second.c_str(),
                    i + 1 == dictionary.size());
    if (!setGrammar(kSearch, grammar.fsgText()) || ps_set_search(ps, kSearch) < 0) {
        error = "cannot build the command grammar";
        return;
    }
    if (grammar.hasLocatePhrases()) {
        // The decoder reads language models from files only: hand it one
        // that lives in memory.
        const std::string lm = grammar.languageModelText(tuning.lmDiscount);
        const int fd = memfd_create("verdel-book-lm", 0);
        bool written = fd >= 0;
        for (std::size_t done = 0; written && done < lm.size();) {
            const ssize_t n = ::write(fd, lm.data() + done, lm.size() - done);
            if (n <= 0)
                written = false;
            else
                done += static_cast<std::size_t>(n);
        }
        ngram_model_t* model = nullptr;
        if (written) {
            const std::string path = "/proc/self/fd/" + std::to_string(fd);
            model = ngram_model_read(config, path.c_str(), NGRAM_ARPA, ps_get_logmath(ps));
        }
        if (fd >= 0) ::close(fd);
        if (model && ps_set_lm(ps, kLocateSearch, model) == 0) hasLocateModel = true;
        if (model) ngram_model_free(model);
        ps_set_search(ps, kSearch);
    }
    hasPhoneLoop = ps_set_allphone(ps, kPhonesSearch, nullptr) == 0;
    // Each short command against the words that only sound like it.
    for (const std::vector<std::string>& command : kDecoyChecked) {
        const std::string fsg = grammar.decoyFsgText(command);
        const std::string name = kDecoySearchPrefix + command.front();
        if (!fsg.empty() && setGrammar(name.c_str(), fsg)) decoySearches.insert(command.front());
    }
    ps_set_search(ps, kSearch);
    ready = true;
}

Recognizer::Impl::PathScore Recognizer::Impl::pathScore() {
    PathScore score;
    for (ps_seg_t* seg = ps_seg_iter(ps); seg; seg = ps_seg_next(seg)) {
        int32 ascr = 0, lscr = 0, lback = 0;
        ps_seg_prob(seg, &ascr, &lscr, &lback);
        score.total += ascr;
        const char* w = ps_seg_word(seg);
        const std::string base = w ? baseWord(w) : "";
        if (base.empty() || base[0] == '<' || base[0] == '[' || base == "(NULL)") continue;
        int sf = 0, ef = 0;
        ps_seg_frames(seg, &sf, &ef);
        score.wordFrames += ef - sf + 1;
    }
    return score;
}

std::string Recognizer::Impl::fitsPoorly(const std::vector<std::int16_t>& audio) {
    if (tuning.maxPhoneLoopGap <= 0) return "";
    PathScore path = pathScore();
    if (streamed && ps_start_utt(ps) == 0) {
        // Streamed audio was normalised as it came: score the result's search
        // again over the whole utterance, as the phone loop will see it.
        ps_process_raw(ps, audio.data(), audio.size(), FALSE, TRUE);
        ps_end_utt(ps);
        path = pathScore();
    }
    const double gap = phoneLoopGap(path, audio);
    char shown[64];
    std::snprintf(shown, sizeof shown, " gap=%.0f", gap);
    lastHypothesis += shown;
    if (gap > tuning.maxPhoneLoopGap)
        return "fits the audio poorly (" + std::string(shown + 5) + " a frame)";
    return "";
}

std::string Recognizer::Impl::soundsLikeAnother(const std::vector<std::string>& command,
                                                const std::vector<std::int16_t>& audio) {
    if (command.empty() || !decoySearches.count(command.front())) return "";
    const std::string name = kDecoySearchPrefix + command.front();
    std::string why;
    if (ps_set_search(ps, name.c_str()) == 0 && ps_start_utt(ps) == 0) {
        ps_process_raw(ps, audio.data(), audio.size(), FALSE, TRUE);
        ps_end_utt(ps);
        const std::vector<std::string> heard = resultWords(ps_seg_iter(ps), nullptr);
        if (!heard.empty() && heard.front() != command.front()) {
            why = "sounds like \"" + heard.front() + "\"";
            lastHypothesis += " decoy=" + heard.front();
        }
    }
    ps_set_search(ps, kSearch);
    return why;
}

double Recognizer::Impl::phoneLoopGap(const PathScore& path,
                                      const std::vector<std::int16_t>& audio) {
    if (!hasPhoneLoop || path.wordFrames <= 0 || ps_set_search(ps, kPhonesSearch) < 0) return 0;
    double gap = 0;
    if (ps_start_utt(ps) == 0) {
        ps_process_raw(ps, audio.data(), audio.size(), FALSE, TRUE);
        ps_end_utt(ps);
        gap = double(pathScore().total - path.total) / path.wordFrames;
    }
    ps_set_search(ps, kSearch);
    return gap;
}

// Reads a grammar in FSG text, with pauses and noises allowed between its
// words, and makes it the search called `name`.
bool Recognizer::Impl::setGrammar(const char* name, const std::string& text) {
    std::FILE* fp = fmemopen(const_cast<char*>(text.data()), text.size(), "r");
    if (!fp) return false;
    fsg_model_t* fsg = fsg_model_read(fp, ps_get_logmath(ps),
                                      static_cast<float32>(cmd_ln_float32_r(config, "-lw")));
    std::fclose(fp);
    if (!fsg) return false;
    // The decoder's own set of fillers would also let "[SPEECH]" stand for
    // any speech at all: only pauses, and noises if wanted.
    fsg_model_add_silence(fsg, "<sil>", -1,
                          static_cast<float32>(cmd_ln_float32_r(config, "-silprob")));
    if (tuning.noiseFiller)
        fsg_model_add_silence(fsg, "[NOISE]", -1,
                              static_cast<float32>(cmd_ln_float32_r(config, "-fillprob")));
    const bool ok = ps_set_fsg(ps, name, fsg) == 0;
    fsg_model_free(fsg); // the search keeps its own reference
    return ok;
}

// The words of the decoder's current result, without pauses and fillers.
std::vector<std::string> Recognizer::Impl::resultWords(ps_seg_t* seg, std::string* shown) {
    std::vector<std::string> words;
    for (; seg; seg = ps_seg_next(seg)) {
        const char* w = ps_seg_word(seg);
        if (!w) continue;
        const std::string base = baseWord(w);
        if (base.empty() || base[0] == '<' || base[0] == '[' || base == "(NULL)") continue;
        words.push_back(base);
        if (shown) *shown += (shown->empty() ? "" : " ") + base;
    }
    return words;
}

std::string Recognizer::Impl::implausible(ps_seg_t* seg, const std::vector<std::int16_t>& audio) {
    // Loud frames of the audio: within `loudDb` of its loudest tenth of a
    // second. The decoder drops some frames between pauses, so its frames
    // are not matched to the audio one by one: the loud frames beyond those
    // its words cover are speech that the words do not account for.
    const std::size_t frame = kRate / 100; // the decoder's frame rate
    const double loud = speechLevel(audio) * std::pow(10.0, -tuning.loudDb / 20) * frame;
    int loudFrames = 0;
    for (std::size_t at = 0; at + frame <= audio.size(); at += frame) {
        double sum = 0;
        for (std::size_t i = at; i < at + frame; ++i)
            sum += std::fabs(double(audio[i]));
        loudFrames += sum > loud ? 1 : 0;
    }
    int wordFrames = 0;
    bool keyword = true; // the first word, and "program" after "exit"
    for (; seg; seg = ps_seg_next(seg)) {
        const char* w = ps_seg_word(seg);
        if (!w) continue;
        const std::string base = baseWord(w);
        if (base.empty() || base[0] == '<' || base[0] == '[' || base == "(NULL)") continue;
        int sf = 0, ef = 0;
        ps_seg_frames(seg, &sf, &ef);
        wordFrames += ef - sf + 1;
        // Only the keywords: short words of a phrase ("the", "of") are
        // rightly said in a few frames.
        if (!keyword && base != "program") continue;
        keyword = false;
        int phones = 0;
        if (char* pron = ps_lookup_word(ps, w)) {
            std::istringstream in(pron);
            for (std::string p; in >> p;)
                ++phones;
            ckd_free(pron);
        }
        if (ef - sf + 1 < std::min(tuning.minFramesPerPhone * phones, tuning.minFramesAtMost)) {
            const std::string why =
                std::string(w) + " too short (" + std::to_string(ef - sf + 1) + " frames)";
            ps_seg_free(seg); // an iterator left before its end is ours to free
            return why;
        }
    }
    if (loudFrames - wordFrames > tuning.maxLoudFramesOutside)
        return "speech outside the words (" + std::to_string(loudFrames - wordFrames) + " frames)";
    return "";
}

std::string Recognizer::Impl::locatePass(const std::vector<std::int16_t>& audio,
                                         const std::vector<std::string>& firstPass) {
    if (audio.empty()) return "";
    // What the decoder heard after "locate": the first pass's words, and the
    // distinct hypotheses of a pass with the book's own language model.
    std::vector<std::vector<std::string>> heard;
    heard.emplace_back(firstPass.begin() + (firstPass.empty() ? 0 : 1), firstPass.end());
    if (hasLocateModel && tuning.nbest > 0 && ps_set_search(ps, kLocateSearch) == 0 &&
        ps_start_utt(ps) == 0) {
        ps_process_raw(ps, audio.data(), audio.size(), FALSE, TRUE);
        ps_end_utt(ps);
        int tried = 0;
        for (ps_nbest_t* nb = ps_nbest(ps); nb; nb = ps_nbest_next(nb)) {
            if (++tried > 50 || heard.size() > static_cast<std::size_t>(tuning.nbest)) {
                ps_nbest_free(nb);
                break;
            }
            std::vector<std::string> words = resultWords(ps_nbest_seg(nb), nullptr);
            if (!words.empty() && words.front() == "locate") words.erase(words.begin());
            // Free of the grammar, the words after "locate" show talk that
            // goes on far longer than a phrase of the book.
            if (tried == 1 && words.size() > static_cast<std::size_t>(tuning.maxLocateWords)) {
                lastRejection = std::to_string(words.size()) + " words after locate";
                ps_nbest_free(nb);
                ps_set_search(ps, kSearch);
                return "";
            }
            if (!words.empty() && std::find(heard.begin(), heard.end(), words) == heard.end()) {
                heard.push_back(words);
                lastHypothesis += " |";
                for (const auto& w : words)
                    lastHypothesis += " " + w;
            }
        }
    }
    // The runs of the book nearest to those, decided between on the audio.
    const std::vector<std::vector<std::string>> runs =
        grammar.nearestRuns(heard, static_cast<std::size_t>(tuning.candidates));
    // Nearer runs are likelier: the acoustic scores of near-homophones lie
    // so close that an even prior over all candidates lets far ones win
    // ("knife" for "night").
    std::vector<double> weights;
    for (std::size_t r = 0; r < runs.size(); ++r)
        weights.push_back(std::max(1e-9, std::pow(tuning.rankDecay, double(r))));
    std::string text;
    bool runsSet = false;
    if (!runs.empty()) {
        // The runs sound alike: under the command search's beams the right
        // one is often pruned before its last word.
        SearchBeams beams(config, tuning.runsBeam);
        runsSet = setGrammar(kRunsSearch, grammar.runsFsgText(runs, weights));
    }
    if (runsSet && ps_set_search(ps, kRunsSearch) == 0 && ps_start_utt(ps) == 0) {
        ps_process_raw(ps, audio.data(), audio.size(), FALSE, TRUE);
        ps_end_utt(ps);
        std::string shown;
        text = grammar.textForm(resultWords(ps_seg_iter(ps), &shown));
        lastHypothesis += " => " + shown;
        if (!text.empty()) lastRejection = implausible(ps_seg_iter(ps), audio);
        if (lastRejection.empty() && !text.empty()) lastRejection = fitsPoorly(audio);
        if (!lastRejection.empty()) text.clear();
    }
    ps_set_search(ps, kSearch);
    return text;
}

std::string Recognizer::Impl::finishUtterance(const std::vector<std::int16_t>& audio) {
    ps_end_utt(ps);
    std::vector<std::string> words;
    std::string raw;
    for (ps_seg_t* seg = ps_seg_iter(ps); seg; seg = ps_seg_next(seg)) {
        const char* w = ps_seg_word(seg);
        if (!w) continue;
        words.emplace_back(w);
        const std::string base = baseWord(w);
        if (base == "(NULL)" || base == "<s>" || base == "</s>") continue;
        int sf = 0, ef = 0;
        ps_seg_frames(seg, &sf, &ef);
        raw += (raw.empty() ? "" : " ") + std::string(w) + "@" + std::to_string(sf) + "-" +
               std::to_string(ef);
    }
    lastHypothesis = raw;
    std::string text = grammar.textForm(words);
    lastRejection.clear();
    // The first pass only knows "locate" and some words of the book: which
    // run of the book it was is the second pass's to say.
    std::string head;
    for (const std::string& w : words) {
        const std::string b = baseWord(w);
        if (b.empty() || b[0] == '<' || b[0] == '[' || b == "(NULL)") continue;
        head = b;
        break;
    }
    const std::vector<std::string> command = resultWords(ps_seg_iter(ps), nullptr);
    if (!text.empty() || head == "locate") lastRejection = implausible(ps_seg_iter(ps), audio);
    if (lastRejection.empty() && !text.empty() && head != "locate")
        lastRejection = fitsPoorly(audio);
    if (lastRejection.empty() && !text.empty() && head != "locate")
        lastRejection = soundsLikeAnother(command, audio);
    if (!lastRejection.empty()) return "";
    if (head == "locate" && (tuning.locatePass == 2 || (tuning.locatePass == 1 && text.empty())))
        text = locatePass(audio, resultWords(ps_seg_iter(ps), nullptr));
    return text;
}

std::string Recognizer::Impl::decode(const std::vector<std::int16_t>& audio, bool whole,
                                     const std::string& shown) {
    std::lock_guard<std::mutex> hold(decodeLock);
    ++fileDecodes;
    lastHypothesis.clear();
    lastTiming = Timing();
    if (audio.empty()) return "";
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    Clock::time_point lastBlock = start;
    ps_start_stream(ps);
    streamed = !whole;
    if (ps_start_utt(ps) < 0) return "";
    if (whole) {
        // Audio fed block by block (listening) leaves the features on a
        // running mean carried over from earlier speech, for good: a whole
        // utterance is normalised by its own mean, as the model was trained.
        if (feat_t* features = ps_get_feat(ps)) features->cmn = static_cast<cmn_type_t>(wholeCmn);
        ps_process_raw(ps, audio.data(), audio.size(), FALSE, TRUE);
    } else {
        const std::size_t block = kRate / 20; // as the microphone delivers it
        for (std::size_t pos = 0; pos < audio.size(); pos += block) {
            lastBlock = Clock::now();
            ps_process_raw(ps, audio.data() + pos, std::min(block, audio.size() - pos), FALSE,
                           FALSE);
        }
    }
    std::string text = finishUtterance(audio);
    lastHypothesis.insert(0, shown);
    const Clock::time_point end = Clock::now();
    lastTiming.totalSeconds = std::chrono::duration<double>(end - start).count();
    lastTiming.tailSeconds = std::chrono::duration<double>(end - lastBlock).count();
    return text;
}

std::string Recognizer::Impl::decodeWithSilence(std::vector<std::int16_t> audio, bool trail,
                                                bool whole) {
    std::string shown;
    if (tuning.highVoiceWarp > 0 && tuning.highVoiceWarp != 1) {
        // A high voice's formants lie above those the model knows best
        // ("seven" heard as "ten"): read at a lower rate, its frequencies come
        // down, as vocal tract length normalisation does.
        const double pitch = medianPitch(audio);
        if (pitch >= tuning.highVoicePitch)
            audio = resample(audio, int(std::lround(kRate * tuning.highVoiceWarp)), kRate);
        char pitchShown[32];
        std::snprintf(pitchShown, sizeof pitchShown, "f0=%.0f ", pitch);
        shown = pitchShown;
    }
    // Speech may begin with the first sample (a recording, or the next
    // command said at once): the decoder estimates the background from the
    // first frames, so give it silence there, and some after the last word
    // unless the utterance ended on silence (live: that is how it ended).
    audio.insert(audio.begin(), static_cast<std::size_t>(tuning.leadSilence * kRate), 0);
    if (trail) audio.insert(audio.end(), static_cast<std::size_t>(tuning.trailSilence * kRate), 0);
    addNoiseFloor(audio, std::max(1.0, speechLevel(audio) * std::pow(10.0, -tuning.snr / 20)));
    return decode(audio, whole, shown);
}

void Recognizer::Impl::listen(std::unique_ptr<AudioCapture> device, TextHandler onText) {
    workerId = std::this_thread::get_id();
    {
        std::lock_guard<std::mutex> hold(captureLock);
        capture = device.get();
    }
    unsigned long seenDecodes = 0;
    bool inUtterance = false, inSpeech = false;
    // The utterance's audio, kept for a second pass: what came since the
    // last one ended, cut to the last half second while nobody speaks.
    std::vector<std::int16_t> audio;
    const std::size_t keepBeforeSpeech = kRate / 2;
    std::vector<std::int16_t> block, ended;
    std::uint32_t noiseSeed = 0x9e3779b9u;
    while (!stopRequested) {
        block.clear();
        if (!device->read(block)) break;
        std::string text;
        {
            std::lock_guard<std::mutex> hold(decodeLock);
            if (!inUtterance || seenDecodes != fileDecodes) {
                if (inUtterance) ps_end_utt(ps);
                ps_start_stream(ps);
                ps_start_utt(ps);
                seenDecodes = fileDecodes;
                inUtterance = true;
                inSpeech = false;
                audio.clear();
            }
            // A virtual or muted source may deliver exact zeros between
            // words: the same faint floor as under recorded files.
            if (tuning.liveNoiseFloor > 0) addNoiseFloor(block, tuning.liveNoiseFloor, &noiseSeed);
            audio.insert(audio.end(), block.begin(), block.end());
            ps_process_raw(ps, block.data(), block.size(), FALSE, FALSE);
            bool now = ps_get_in_speech(ps) != 0;
            if (inSpeech && !now && tuning.liveWhole) {
                // The live pass only found where the utterance ends: its
                // features were normalised by a running mean that the start
                // of each utterance throws off, so decode it again as one
                // block, as a file is (chapter numbers heard: 52% -> 90%).
                ps_end_utt(ps);
                inUtterance = false;
                ended.swap(audio);
                audio.clear();
            } else if (inSpeech && !now) {
                streamed = true;
                text = finishUtterance(audio);
                ps_start_utt(ps);
                audio.clear();
            } else if (!now && audio.size() > keepBeforeSpeech) {
                audio.erase(audio.begin(), audio.end() - keepBeforeSpeech);
            } else if (audio.size() > kMaxUtteranceSeconds * kRate) {
                ps_end_utt(ps); // endless sound: drop it and start afresh
                ps_start_utt(ps);
                audio.clear();
                now = false;
            }
            inSpeech = now;
        }
        if (!ended.empty()) {
            // A source of exact zeros (a muted or virtual one) can set off
            // the detector with nothing in it: no sound, nothing to decode.
            if (!stopRequested && speechLevel(ended) >= kLeastSpeechLevel)
                text = decodeWithSilence(std::move(ended), false, true);
            ended.clear();
        }
        if (!text.empty() && !stopRequested && onText) onText(text);
    }
    {
        std::lock_guard<std::mutex> hold(decodeLock);
        if (inUtterance) ps_end_utt(ps);
    }
    {
        std::lock_guard<std::mutex> hold(captureLock);
        capture = nullptr;
    }
    device->close();
    active = false;
}

Recognizer::Recognizer(const std::string& bookPath) : Recognizer(bookPath, RecognizerTuning()) {}

Recognizer::Recognizer(const std::string& bookPath, const RecognizerTuning& tuning)
    : impl_(new Impl) {
    impl_->tuning = tuning;
    try {
        impl_->init(bookPath);
    } catch (const std::exception& e) {
        impl_->ready = false;
        impl_->error = std::string("cannot prepare recognition: ") + e.what();
    }
}

Recognizer::~Recognizer() {
    stopListening();
    if (impl_->worker.joinable()) impl_->worker.join();
    if (impl_->ps && impl_->hasPhoneLoop && ps_set_search(impl_->ps, kPhonesSearch) == 0 &&
        ps_start_utt(impl_->ps) == 0) {
        // The phone loop frees the segments of its last utterance only when it
        // makes new ones, not when it is freed: leave it with none.
        ps_end_utt(impl_->ps);
        ps_get_hyp(impl_->ps, nullptr);
    }
    if (impl_->ps) ps_free(impl_->ps);
    if (impl_->config) cmd_ln_free_r(impl_->config);
}

bool Recognizer::ready() const {
    return impl_->ready;
}
const std::string& Recognizer::error() const {
    return impl_->error;
}

std::string Recognizer::recognizeWavFile(const std::string& path) {
    if (!impl_->ready) return "";
    Audio audio;
    std::string why;
    if (!readWavFile(path, audio, why)) return "";
    return recognizeSamples(audio.samples.data(), audio.samples.size(), audio.sampleRate);
}

std::string Recognizer::recognizeSamples(const std::int16_t* samples, std::size_t count,
                                         int sampleRate) {
    if (!impl_->ready || !samples || count == 0 || sampleRate < 4000 || sampleRate > 192000 ||
        count > std::size_t(sampleRate * 30.0))
        return "";
    std::vector<std::int16_t> audio(samples, samples + count);
    if (sampleRate != kRate) audio = resample(audio, sampleRate, kRate);
    return impl_->decodeWithSilence(std::move(audio), true, impl_->tuning.wholeUtterance);
}

bool Recognizer::startListening(TextHandler onText) {
    if (!impl_->ready) return false;
    std::lock_guard<std::mutex> hold(impl_->listenLock);
    if (impl_->active) return true;
    if (impl_->worker.joinable()) impl_->worker.join(); // ended on its own (device lost)
    std::unique_ptr<AudioCapture> device(new AudioCapture);
    std::string why;
    if (!device->open(kRate, 2000, why)) return false;
    impl_->stopRequested = false;
    impl_->active = true;
    impl_->worker = std::thread(&Impl::listen, impl_.get(), std::move(device), std::move(onText));
    return true;
}

void Recognizer::stopListening() {
    impl_->stopRequested = true;
    {
        std::lock_guard<std::mutex> hold(impl_->captureLock);
        if (impl_->capture) impl_->capture->interrupt();
    }
    if (std::this_thread::get_id() == impl_->workerId) return; // from onText: cannot wait
    std::lock_guard<std::mutex> hold(impl_->listenLock);
    if (impl_->worker.joinable()) impl_->worker.join();
}

bool Recognizer::listening() const {
    return impl_->active;
}

std::string Recognizer::lastHypothesis() const {
    std::lock_guard<std::mutex> hold(impl_->decodeLock);
    return impl_->lastHypothesis;
}

Recognizer::Timing Recognizer::lastTiming() const {
    std::lock_guard<std::mutex> hold(impl_->decodeLock);
    return impl_->lastTiming;
}

std::string Recognizer::lastRejection() const {
    std::lock_guard<std::mutex> hold(impl_->decodeLock);
    return impl_->lastRejection;
}

std::size_t Recognizer::locatePhraseCount() const {
    return impl_->grammar.locatePhraseCount();
}
std::size_t Recognizer::unpronounceableWordCount() const {
    return impl_->grammar.unpronounceable().size();
}

} // namespace speechkit
