#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace speechkit {

// Mono 16-bit audio at a given rate.
struct Audio {
    std::vector<std::int16_t> samples;
    int sampleRate = 0;
};

// Parses a RIFF/WAVE file's bytes: PCM at 8, 16, 24 or 32 bits or 32-bit
// float, any number of channels (mixed down to mono), any rate from 4,000 to
// 192,000 Hz. A data chunk cut short is read as far as it goes. False (and
// why, in one line) for anything else: not RIFF, no format or data chunk,
// compressed audio, no samples at all, more than maxSeconds of audio.
bool parseWav(const std::string& bytes, Audio& out, std::string& why, double maxSeconds = 30.0);

// Reads and parses a file; files above a few dozen megabytes are refused
// without being read whole.
bool readWavFile(const std::string& path, Audio& out, std::string& why, double maxSeconds = 30.0);

// Band-limited (windowed-sinc) resampling of 16-bit mono audio.
std::vector<std::int16_t> resample(const std::vector<std::int16_t>& in, int fromRate, int toRate);

} // namespace speechkit
