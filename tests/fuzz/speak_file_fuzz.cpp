// The exchange records both ways, whatever their bytes. A speak.txt left by
// anyone goes through the listening window's check: taken away, decoded,
// its stamp dropped, a repeat never spoken twice. A text the tutor sends
// comes out of the check as it went in; a phrase the window publishes comes
// out of the tutor's read with its stamp.
#include "../../common/exchangerecord.h"
#include "../../listener/exchangeagent.h"
#include "../../platform/platform.h"
#include "../../tutor/exchange.h"
#include "../../tutor/state.h"
#include "fuzzutil.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzutil::quietStdout();
    setenv("VERDEL_HOME", fuzzutil::scratchDir().c_str(), 1);
    tutor::SetFilePaths();
    listener::SetExchangePaths();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::string content = bytes.substr(0, common::kExchangeReadLimit);

    // Raw bytes left in speak.txt.
    listener::lastSpeakContent.clear();
    listener::emptySpeakSeen = false;
    FUZZ_CHECK(platform::exchangeWrite(listener::speakPath, bytes));
    std::string said = listener::CheckSpeakFile();
    if (content.empty()) {
        // An empty file is left for one look (its writer may be filling
        // it), then removed unspoken.
        FUZZ_CHECK(said.empty() && platform::fileExists(listener::speakPath));
        said = listener::CheckSpeakFile();
        FUZZ_CHECK(said.empty());
    } else {
        FUZZ_CHECK(said == common::recordText(common::shiftUp(content)));
        FUZZ_CHECK(listener::lastSpeakContent == content);
        // The same bytes again are a repeat: removed, not spoken.
        FUZZ_CHECK(platform::exchangeWrite(listener::speakPath, bytes));
        FUZZ_CHECK(listener::CheckSpeakFile().empty());
    }
    FUZZ_CHECK(!platform::fileExists(listener::speakPath));

    // The tutor's request, encoded as Say stores it.
    const std::string text = content.substr(0, common::kExchangeReadLimit - common::kStampLength);
    FUZZ_CHECK(platform::exchangeWrite(tutor::speakPath,
                                       common::shiftDown(platform::localTimeStamp() + text)));
    said = listener::CheckSpeakFile();
    FUZZ_CHECK(said == text);
    FUZZ_CHECK(!platform::fileExists(listener::speakPath));

    // A phrase the window publishes, read back by the tutor.
    listener::WriteHeardFile(bytes);
    FUZZ_CHECK(tutor::ReadHeardFile());
    const std::string message = tutor::heardMessage.get();
    const std::string expected =
        (std::string(8, ' ') + bytes).substr(0, common::kExchangeReadLimit);
    FUZZ_CHECK(message.size() == expected.size());
    FUZZ_CHECK(message.compare(8, std::string::npos, expected, 8, std::string::npos) == 0);
    FUZZ_CHECK(message[2] == ':' && message[5] == ':');
    platform::deleteFile(tutor::heardPath);
    return 0;
}
