#include "payload.h"

#include "../common/hashz.h"
#include "../common/numbertext.h"
#include "../platform/platform.h"
#include "../platform/setup.h"

namespace installer {

std::string messageTitle;
std::vector<std::int32_t> chunkLengths;
std::vector<std::string> chunkFileNames;
std::vector<std::string> targetPaths;
std::vector<Sums> expectedHashz;
std::vector<bool> chunkExecutable;
std::vector<std::string> chunkData;
Sums hashz{};
std::int16_t matchStatus = 0;
std::uint16_t errorCount = 0;

namespace {

std::string number(std::int64_t value) {
    return common::wholeNumberText(value);
}

} // namespace

PayloadActions payloadActions{};

void computeHashz(const std::string& chunk) {
    const common::PositionSums sums = common::positionSums(chunk);
    // The table's lengths keep every sum below 2^31 (the build checks it).
    for (int i = 0; i < 3; ++i)
        hashz[i] = static_cast<std::int32_t>(sums[i]);
    matchStatus = 0;
    for (std::size_t k = 1; k < expectedHashz.size(); ++k)
        if (expectedHashz[k] == hashz) matchStatus = static_cast<std::int16_t>(k);
}

void installPayload() {
    const std::string ownFile = platform::currentDirectory() + platform::pathSeparator() +
                                platform::programFileName("installerverdel101");
    if (!platform::fileExists(ownFile)) {
        payloadActions.showMessage("File name changed of this installer, causing failure: " +
                                   ownFile);
        return;
    }

    const std::size_t chunks = chunkLengths.size();
    chunkData.assign(chunks, std::string());
    const platform::ReadHandle file = platform::openForReading(ownFile);
    for (std::size_t k = 0; k < chunks; ++k)
        chunkData[k] = platform::readNext(
            file, static_cast<std::size_t>(chunkLengths[k] > 0 ? chunkLengths[k] : 0));
    platform::closeReading(file);

    errorCount = 0;
    for (std::size_t k = 1; k < chunks; ++k) {
        computeHashz(chunkData[k]);
        if (matchStatus == static_cast<std::int16_t>(k)) {
            // A failed write has no message of its own: a missing library is
            // caught before registration.
            platform::replaceFile(targetPaths[k], chunkData[k], chunkExecutable[k]);
        } else {
            ++errorCount;
            payloadActions.showMessage(number(static_cast<std::int64_t>(chunkData[k].size())) +
                                       " is len of error data.");
        }
    }

    if (errorCount != 0) {
        payloadActions.showMessage(
            number(errorCount) +
            " ERRORS Detected during checksums.  Try downloading and installing again." + '\r' +
            "  =  hashz  = " + number(hashz[0]) + number(hashz[1]) + number(hashz[2]) +
            " status = " + number(matchStatus));
        payloadActions.pause(10000);
        return;
    }

    const std::string library = targetPaths[kLibraryChunk];
    const std::string commandLine = platform::registrationTool() + " \"" + library + "\"";
    if (!platform::fileExists(library)) {
        payloadActions.showMessage("Cannot find Dll, try installing again.");
        return;
    }
    payloadActions.runAndWait(commandLine);
}

} // namespace installer
