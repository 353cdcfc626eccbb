#include "wavfile.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <numeric>

namespace speechkit {

namespace {

std::uint32_t le32(const unsigned char* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}
std::uint16_t le16(const unsigned char* p) {
    return std::uint16_t(p[0] | p[1] << 8);
}

// One sample of the given encoding as a value in [-1, 1].
double sampleAt(const unsigned char* p, int bits, bool isFloat) {
    if (isFloat) {
        float f;
        std::uint32_t u = le32(p);
        std::memcpy(&f, &u, sizeof f);
        if (!std::isfinite(f)) return 0.0;
        return std::max(-1.0, std::min(1.0, double(f)));
    }
    switch (bits) {
    case 8:
        return (int(p[0]) - 128) / 128.0;
    case 16:
        return std::int16_t(le16(p)) / 32768.0;
    case 24: {
        std::int32_t v = std::int32_t(std::uint32_t(p[0]) << 8 | std::uint32_t(p[1]) << 16 |
                                      std::uint32_t(p[2]) << 24);
        return (v >> 8) / 8388608.0;
    }
    default:
        return std::int32_t(le32(p)) / 2147483648.0;
    }
}

const std::size_t kMaxFileBytes = 64u << 20;

} // namespace

bool parseWav(const std::string& bytes, Audio& out, std::string& why, double maxSeconds) {
    out = Audio();
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t size = bytes.size();
    if (size < 12 || std::memcmp(data, "RIFF", 4) != 0 || std::memcmp(data + 8, "WAVE", 4) != 0) {
        why = "not a RIFF/WAVE file";
        return false;
    }
    bool haveFormat = false;
    int format = 0, channels = 0, bits = 0;
    std::uint32_t rate = 0;
    std::size_t pos = 12;
    // Chunks: id, 32-bit length, body padded to an even length.
    while (pos + 8 <= size) {
        const unsigned char* chunk = data + pos;
        const std::uint32_t length = le32(chunk + 4);
        const std::size_t body = pos + 8;
        const std::size_t available = size - body;
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            if (length < 16 || available < 16) {
                why = "format chunk too short";
                return false;
            }
            format = le16(data + body);
            channels = le16(data + body + 2);
            rate = le32(data + body + 4);
            bits = le16(data + body + 14);
            // WAVE_FORMAT_EXTENSIBLE names the real format in its sub-format GUID.
            if (format == 0xFFFE && length >= 40 && available >= 40)
                format = le16(data + body + 24);
            haveFormat = true;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (!haveFormat) {
                why = "data before the format chunk";
                return false;
            }
            const bool isFloat = format == 3 && bits == 32;
            if (!(format == 1 && (bits == 8 || bits == 16 || bits == 24 || bits == 32)) &&
                !isFloat) {
                why = "unsupported encoding (format " + std::to_string(format) + ", " +
                      std::to_string(bits) + " bits)";
                return false;
            }
            if (channels < 1 || channels > 32 || rate < 4000 || rate > 192000) {
                why = "unsupported channel count or sample rate";
                return false;
            }
            const std::size_t frameBytes = std::size_t(channels) * (bits / 8);
            std::size_t dataBytes = std::min<std::size_t>(length, available);
            const std::size_t frames = dataBytes / frameBytes;
            if (frames == 0) {
                why = "no samples";
                return false;
            }
            if (double(frames) / rate > maxSeconds) {
                why = "longer than one utterance";
                return false;
            }
            out.sampleRate = int(rate);
            out.samples.resize(frames);
            const unsigned char* p = data + body;
            for (std::size_t f = 0; f < frames; ++f) {
                double sum = 0;
                for (int c = 0; c < channels; ++c, p += bits / 8)
                    sum += sampleAt(p, bits, isFloat);
                const double v = std::lround(sum / channels * 32767.0);
                out.samples[f] = std::int16_t(std::max(-32768.0, std::min(32767.0, v)));
            }
            return true;
        }
        if (length > available) break; // a chunk cut short, and no data chunk yet
        pos = body + length + (length & 1);
    }
    why = haveFormat ? "no data chunk" : "no format chunk";
    return false;
}

bool readWavFile(const std::string& path, Audio& out, std::string& why, double maxSeconds) {
    out = Audio();
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        why = "cannot open " + path;
        return false;
    }
    std::string bytes;
    char buffer[65536];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) {
        bytes.append(buffer, n);
        if (bytes.size() > kMaxFileBytes) {
            std::fclose(f);
            why = "file too large";
            return false;
        }
    }
    std::fclose(f);
    return parseWav(bytes, out, why, maxSeconds);
}

namespace {

// The normalised windowed-sinc weights for an output sample whose input
// position has this fraction, and the offset of the first from its whole part.
struct Phase {
    long first = 0;
    std::vector<double> weights;
};

void phaseWeights(double fraction, double cutoff, double reach, Phase& ph) {
    const double pi = 3.14159265358979323846;
    ph.first = long(std::ceil(fraction - reach));
    const long last = long(std::floor(fraction + reach));
    ph.weights.clear();
    double norm = 0;
    for (long j = ph.first; j <= last; ++j) {
        const double x = (fraction - j) * cutoff;
        const double sinc = x == 0 ? 1.0 : std::sin(pi * x) / (pi * x);
        const double w = 0.5 + 0.5 * std::cos(pi * (fraction - j) / (reach + 1)); // Hann window
        ph.weights.push_back(sinc * w);
        norm += sinc * w;
    }
    if (norm != 0)
        for (double& h : ph.weights)
            h /= norm;
}

} // namespace

std::vector<std::int16_t> resample(const std::vector<std::int16_t>& in, int fromRate, int toRate) {
    if (fromRate == toRate || in.empty() || fromRate <= 0 || toRate <= 0) return in;
    const double step = double(fromRate) / toRate;          // input samples per output sample
    const double cutoff = std::min(1.0, 1.0 / step) * 0.92; // of the input's Nyquist frequency
    const int halfTaps = 24;
    const double reach = halfTaps / std::min(1.0, cutoff);
    const std::size_t outCount = std::size_t(double(in.size()) / step);
    std::vector<std::int16_t> out(outCount);
    // Output sample n lies at input position n * from / to, whose fraction
    // takes only `phases` values: for the usual rates each phase's weights
    // are worked out once (their sines would cost tens of milliseconds a
    // second of audio), for odd ones sample by sample.
    const long divisor = std::gcd(long(fromRate), long(toRate));
    const long from = fromRate / divisor, phases = toRate / divisor;
    const bool table = double(phases) * (2 * reach + 1) <= 65536;
    std::vector<Phase> kernel(table ? static_cast<std::size_t>(phases) : 1);
    if (table)
        for (long p = 0; p < phases; ++p)
            phaseWeights(double(p) / double(phases), cutoff, reach,
                         kernel[static_cast<std::size_t>(p)]);
    for (std::size_t n = 0; n < outCount; ++n) {
        const long long position = static_cast<long long>(n) * from;
        const long whole = long(position / phases), phase = long(position % phases);
        if (!table) phaseWeights(double(phase) / double(phases), cutoff, reach, kernel[0]);
        const Phase& ph = kernel[table ? static_cast<std::size_t>(phase) : 0];
        double acc = 0;
        long k = whole + ph.first;
        for (double h : ph.weights) {
            if (k >= 0 && k < long(in.size())) acc += in[std::size_t(k)] * h;
            ++k;
        }
        out[n] = std::int16_t(std::max(-32768.0, std::min(32767.0, std::round(acc))));
    }
    return out;
}

} // namespace speechkit
