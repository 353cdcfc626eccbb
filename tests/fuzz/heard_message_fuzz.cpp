// heard.txt as the listening window could leave it, whatever its bytes,
// through the tutor's read, take and handling of the message: the phrase on
// row 1, the command code by keyword precedence, and the arguments the
// consumers cut from the phrase (chapter number, locate phrase).
#include "../../common/exchangerecord.h"
#include "../../platform/platform.h"
#include "../../tutor/commands.h"
#include "../../tutor/exchange.h"
#include "../../tutor/lesson.h"
#include "../../tutor/locate.h"
#include "../../tutor/state.h"
#include "bookconstants.h"
#include "fuzzutil.h"

#include <cstdint>
#include <cstdlib>

namespace {

// The code a phrase must set, highest precedence first (the reader tests in
// the opposite order and lets the last match win).
unsigned char expectedCode(const std::string& phrase) {
    static const struct {
        const char* keyword;
        unsigned char code;
    } byPrecedence[] = {
        {"no ", 50},   {"yes ", 49},          {"help", 100},     {"chapter", 200},
        {"result", 1}, {"exit program", 250}, {"continue", 255}, {"locate", 150},
    };
    for (const auto& k : byPrecedence)
        if (phrase.find(k.keyword) != std::string::npos) return k.code;
    return 0;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzutil::quietStdout();
    setenv("VERDEL_HOME", fuzzutil::scratchDir().c_str(), 1);
    tutor::AllocateSmallTables();
    tutor::SetFilePaths();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tutor;
    const std::string stored(reinterpret_cast<const char*>(data), size);
    FUZZ_CHECK(platform::exchangeWrite(heardPath, stored));

    FUZZ_CHECK(ReadHeardFile());
    const std::string message = heardMessage.get();
    FUZZ_CHECK(message == common::shiftDown(stored.substr(0, common::kExchangeReadLimit)));
    TakeHeardFile(message);
    std::string left;
    FUZZ_CHECK(platform::readFileNoCreate(heardPath, 16, left) && left.empty());

    const unsigned char before = commandCode.load();
    HandleHeardMessage(message);
    const std::string phrase = heardPhrase.get();
    FUZZ_CHECK(phrase == (message.size() > 8 ? message.substr(8) : std::string()));
    const unsigned char code = expectedCode(phrase);
    FUZZ_CHECK(CommandForPhrase(phrase) == code);
    FUZZ_CHECK(commandCode.load() == (code != 0 ? code : before));
    if (code != 0) FUZZ_CHECK(CommandPhrase(code) == phrase);

    // Arguments are cut by position whatever the phrase holds.
    const long double number = ChapterNumber(phrase);
    FUZZ_CHECK(number >= -99 && number <= 999 && number == static_cast<long>(number));
    const long double current = 40;
    const long double before_jump = ParagraphBeforeChapter(phrase, current);
    FUZZ_CHECK(before_jump == current || (before_jump >= 0 && before_jump <= kLastParagraph - 2 &&
                                          jumpTarget == before_jump + 1));
    const std::string search = LocatePhraseFrom(phrase);
    FUZZ_CHECK(search == (phrase.size() > 7 ? phrase.substr(7, phrase.size() - 8) : std::string()));
    return 0;
}
