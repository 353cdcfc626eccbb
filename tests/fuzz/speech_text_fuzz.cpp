// The speech component's text routines with any text: the text form of a
// recognition (lower case, every word followed by one space, sentence
// punctuation dropped, stable when applied again), the words of every number
// 0-999 (nothing outside it), and the cutting of long texts into pieces that
// join up again and never split a UTF-8 sequence.
#include "fuzzutil.h"
#include "speechkit/textform.h"

#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    const int number = static_cast<std::int16_t>(data[0] | data[1] << 8);
    const std::size_t maxBytes = 1 + data[2] % 64;
    const std::string text(reinterpret_cast<const char*>(data + 3), size - 3);

    const std::string form = speechkit::textForm(text);
    FUZZ_CHECK(form.empty() || form.back() == ' ');
    FUZZ_CHECK(form.find("  ") == std::string::npos && (form.empty() || form[0] != ' '));
    for (char c : form)
        FUZZ_CHECK(!(c >= 'A' && c <= 'Z') && c != '\t' && c != '\r' && c != '\n');
    FUZZ_CHECK(speechkit::textForm(form) == form);

    for (bool withAnd : {false, true}) {
        const std::string words = speechkit::numberWords(number, withAnd);
        FUZZ_CHECK(words.empty() == (number < 0 || number > 999));
        if (!words.empty()) FUZZ_CHECK(speechkit::textForm(words) == words + " ");
    }

    const std::vector<std::string> pieces = speechkit::sentencePieces(text, maxBytes);
    std::string joined;
    for (const std::string& piece : pieces) {
        FUZZ_CHECK(!piece.empty());
        // Longer than asked only by the rest of a UTF-8 sequence.
        for (std::size_t i = maxBytes; i < piece.size(); ++i)
            FUZZ_CHECK((static_cast<unsigned char>(piece[i]) & 0xC0) == 0x80);
        if (!joined.empty()) FUZZ_CHECK((static_cast<unsigned char>(piece[0]) & 0xC0) != 0x80);
        joined += piece;
    }
    FUZZ_CHECK(joined == text);
    return 0;
}
