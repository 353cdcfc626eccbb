// The figures of the payload this installer carries, computed from the
// payload files when the installer was packaged.
#include "payload.h"

#include "installerconstants.h"

namespace installer {

void initPackagedTables() {
    using namespace packaged;
    chunkLengths.assign(kChunkLengths, kChunkLengths + kChunkCount);
    chunkFileNames.assign(kChunkNames, kChunkNames + kChunkCount);
    chunkExecutable.assign(kChunkExecutable, kChunkExecutable + kChunkCount);
    expectedHashz.assign(kChunkCount, Sums{});
    for (int k = 0; k < kChunkCount; ++k)
        expectedHashz[k] = Sums{kExpectedHashz[k][0], kExpectedHashz[k][1], kExpectedHashz[k][2]};
}

} // namespace installer
