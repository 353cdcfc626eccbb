// Accuracy, speed and memory of the Linux recogniser on a set of recorded
// utterances (made by bench/recognizer_set.py).
//
//   recognizer_bench --book BOOK --set DIR [--stream | --live] [--errors] [--scores]
//                    [--tune key=value]...
//
// DIR/manifest.tsv holds one utterance a line: file, class, expected text
// (empty for speech that is no command). Prints the exact-text accuracy per
// class, how often speech that is no command was delivered as one, decode
// times, start-up time and resident memory.
//
// --live listens on the default source and plays each utterance into the
// PulseAudio sink "vmic" whose monitor that source is (run under
// tests/speechkit/with_pulse.py); the time to result is then from the end of
// the speech in the file (its last sample above 2% of its peak) to the
// handler's call, counted from when paplay was started: an upper bound, as
// playback begins a little later.
#include "../speechkit/recognizer.h"
#include "../speechkit/wavfile.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::string statusField(const char* name) {
    std::ifstream in("/proc/self/status");
    for (std::string line; std::getline(in, line);)
        if (line.compare(0, std::char_traits<char>::length(name), name) == 0) {
            std::string value = line.substr(line.find(':') + 1);
            value.erase(0, value.find_first_not_of(" \t"));
            return value;
        }
    return "?";
}

double percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<std::size_t>(p * (v.size() - 1) + 0.5))];
}

bool apply(speechkit::RecognizerTuning& t, const std::string& setting) {
    const std::size_t eq = setting.find('=');
    if (eq == std::string::npos) return false;
    const std::string key = setting.substr(0, eq), value = setting.substr(eq + 1);
    if (key == "garbagePhone")
        t.garbagePhone = std::atof(value.c_str());
    else if (key == "garbageEntry")
        t.garbageEntry = std::atof(value.c_str());
    else if (key == "decoyEntry")
        t.decoyEntry = std::atof(value.c_str());
    else if (key == "decoysPerCommand")
        t.decoysPerCommand = std::atoi(value.c_str());
    else if (key == "locateEntry")
        t.locateEntry = std::atof(value.c_str());
    else if (key == "lmDiscount")
        t.lmDiscount = std::atof(value.c_str());
    else if (key == "noiseFiller")
        t.noiseFiller = value == "1";
    else if (key == "leadSilence")
        t.leadSilence = std::atof(value.c_str());
    else if (key == "trailSilence")
        t.trailSilence = std::atof(value.c_str());
    else if (key == "snr")
        t.snr = std::atof(value.c_str());
    else if (key == "locatePass")
        t.locatePass = std::atoi(value.c_str());
    else if (key == "candidates")
        t.candidates = std::atoi(value.c_str());
    else if (key == "minFramesAtMost")
        t.minFramesAtMost = std::atof(value.c_str());
    else if (key == "minFramesPerPhone")
        t.minFramesPerPhone = std::atof(value.c_str());
    else if (key == "maxLoudFramesOutside")
        t.maxLoudFramesOutside = std::atoi(value.c_str());
    else if (key == "liveNoiseFloor")
        t.liveNoiseFloor = std::atof(value.c_str());
    else if (key == "maxLocateWords")
        t.maxLocateWords = std::atoi(value.c_str());
    else if (key == "maxPhoneLoopGap")
        t.maxPhoneLoopGap = std::atof(value.c_str());
    else if (key == "loudDb")
        t.loudDb = std::atof(value.c_str());
    else if (key == "nbest")
        t.nbest = std::atoi(value.c_str());
    else if (key == "liveWhole")
        t.liveWhole = std::atoi(value.c_str()) != 0;
    else if (key == "vadPostSpeech")
        t.vadPostSpeech = std::atoi(value.c_str());
    else if (key == "highVoicePitch")
        t.highVoicePitch = std::atof(value.c_str());
    else if (key == "highVoiceWarp")
        t.highVoiceWarp = std::atof(value.c_str());
    else if (key == "rankDecay")
        t.rankDecay = std::atof(value.c_str());
    else if (key == "runsBeam")
        t.runsBeam = std::atof(value.c_str());
    else if (key == "args")
        t.extraArguments = value;
    else
        return false;
    return true;
}

struct Item {
    std::string file, kind, expected;
};

} // namespace

int main(int argc, char** argv) {
    std::string book, set;
    bool showErrors = false, stream = false, showScores = false, live = false;
    speechkit::RecognizerTuning tuning;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--book" && i + 1 < argc)
            book = argv[++i];
        else if (a == "--set" && i + 1 < argc)
            set = argv[++i];
        else if (a == "--errors")
            showErrors = true;
        else if (a == "--stream")
            stream = true;
        else if (a == "--live")
            live = true;
        else if (a == "--scores")
            showScores = true;
        else if (a == "--tune" && i + 1 < argc && apply(tuning, argv[i + 1]))
            ++i;
        else {
            std::cerr
                << "usage: recognizer_bench --book BOOK --set DIR [--stream] [--errors] [--scores] "
                   "[--tune key=value]...\n";
            return 2;
        }
    }
    tuning.wholeUtterance = !stream;
    std::vector<Item> items;
    std::ifstream manifest(set + "/manifest.tsv");
    for (std::string line; std::getline(manifest, line);) {
        std::istringstream fields(line);
        Item it;
        std::getline(fields, it.file, '\t');
        std::getline(fields, it.kind, '\t');
        std::getline(fields, it.expected, '\t');
        if (!it.file.empty()) items.push_back(it);
    }
    if (items.empty()) {
        std::cerr << "no utterances in " << set << "/manifest.tsv\n";
        return 2;
    }

    const std::string rssBefore = statusField("VmRSS");
    const auto t0 = std::chrono::steady_clock::now();
    speechkit::Recognizer recognizer(book, tuning);
    const double startup =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (!recognizer.ready()) {
        std::cerr << "recogniser not ready: " << recognizer.error() << "\n";
        return 1;
    }
    const std::string rssReady = statusField("VmRSS");

    struct Tally {
        int total = 0, right = 0, delivered = 0;
        std::vector<double> tails;
    };
    std::map<std::string, Tally> tally;
    std::vector<std::string> order;
    std::vector<double> tails, totals;
    // Live: what the listening worker hands over, and when.
    std::mutex heardLock;
    std::condition_variable heardSignal;
    std::string heardText;
    bool heard = false;
    std::chrono::steady_clock::time_point heardAt;
    char scratch[] = "/tmp/recognizer-bench-XXXXXX";
    if (live) {
        if (!mkdtemp(scratch) || !recognizer.startListening([&](const std::string& text) {
                std::lock_guard<std::mutex> hold(heardLock);
                heardText = text;
                heard = true;
                heardAt = std::chrono::steady_clock::now();
                heardSignal.notify_all();
            })) {
            std::cerr << "cannot listen (no PulseAudio server?)\n";
            return 1;
        }
    }
    for (const Item& it : items) {
        std::string text;
        speechkit::Recognizer::Timing timing;
        if (live) {
            // At the sink's own rate: the server's resampling spoils speech.
            const std::string played = std::string(scratch) + "/played.wav";
            if (std::system(("sox -v 0.9 '" + set + "/" + it.file + "' -r 16000 -c 1 -b 16 '" +
                             played + "'")
                                .c_str()) != 0)
                return 1;
            speechkit::Audio audio;
            std::string why;
            speechkit::readWavFile(played, audio, why);
            int peak = 1;
            for (std::int16_t v : audio.samples)
                peak = std::max(peak, std::abs(int(v)));
            std::size_t last = 0;
            for (std::size_t i = 0; i < audio.samples.size(); ++i)
                if (std::abs(int(audio.samples[i])) * 50 > peak) last = i;
            {
                std::lock_guard<std::mutex> hold(heardLock);
                heard = false;
            }
            const auto start = std::chrono::steady_clock::now();
            if (std::system(("paplay -d vmic '" + played + "'").c_str()) != 0) return 1;
            std::unique_lock<std::mutex> hold(heardLock);
            heardSignal.wait_for(hold, std::chrono::seconds(2), [&] { return heard; });
            if (heard) {
                text = heardText;
                const auto speechEnd =
                    start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                std::chrono::duration<double>(double(last) / audio.sampleRate));
                timing.tailSeconds = timing.totalSeconds =
                    std::chrono::duration<double>(heardAt - speechEnd).count();
            }
            hold.unlock();
            std::remove(played.c_str());
        } else {
            text = recognizer.recognizeWavFile(set + "/" + it.file);
            timing = recognizer.lastTiming();
        }
        tails.push_back(timing.tailSeconds);
        totals.push_back(timing.totalSeconds);
        if (!tally.count(it.kind)) order.push_back(it.kind);
        Tally& t = tally[it.kind];
        ++t.total;
        if (text == it.expected) ++t.right;
        if (!text.empty()) ++t.delivered;
        t.tails.push_back(timing.tailSeconds);
        if (showScores)
            std::printf("SCORE %s %s %d %d [%s] %s\n", it.kind.c_str(), it.file.c_str(),
                        text == it.expected ? 1 : 0, text.empty() ? 0 : 1,
                        recognizer.lastHypothesis().c_str(), recognizer.lastRejection().c_str());
        if (showErrors && text != it.expected)
            std::printf("ERR %-10s %-40s want \"%s\" got \"%s\" [%s]\n", it.kind.c_str(),
                        it.file.c_str(), it.expected.c_str(), text.c_str(),
                        recognizer.lastHypothesis().c_str());
    }

    std::printf("\n| class | utterances | exact text | delivered as a command | median end of "
                "audio to result |\n");
    std::printf("|---|---|---|---|---|\n");
    for (const std::string& kind : order) {
        Tally& t = tally[kind];
        std::printf("| %s | %d | %.1f%% | %.1f%% | %.1f ms |\n", kind.c_str(), t.total,
                    100.0 * t.right / t.total, 100.0 * t.delivered / t.total,
                    1000 * percentile(t.tails, 0.5));
    }
    if (live) {
        recognizer.stopListening();
        rmdir(scratch);
    }
    std::printf("\nmode: %s\n", live     ? "live, played into a PulseAudio null sink"
                                : stream ? "streamed in 50 ms blocks"
                                         : "whole utterance");
    std::printf("end of audio to result: median %.1f ms, 90%% %.1f ms, max %.1f ms\n",
                1000 * percentile(tails, 0.5), 1000 * percentile(tails, 0.9),
                1000 * percentile(tails, 1.0));
    std::printf("whole decode per utterance: median %.1f ms, max %.1f ms\n",
                1000 * percentile(totals, 0.5), 1000 * percentile(totals, 1.0));
    std::printf("start-up: %.2f s; %zu locate phrases, %zu book words unpronounceable\n", startup,
                recognizer.locatePhraseCount(), recognizer.unpronounceableWordCount());
    std::printf("resident memory: %s before, %s after start-up, %s at the end (peak %s)\n",
                rssBefore.c_str(), rssReady.c_str(), statusField("VmRSS").c_str(),
                statusField("VmHWM").c_str());
    return 0;
}
