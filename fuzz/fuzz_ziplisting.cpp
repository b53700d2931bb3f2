#include "fuzzsupport.h"
#include "ziplisting.h"

using namespace Qt::StringLiterals;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString path = scratchFolder() + u"/package.zip"_s;
    writeInput(path, data, size);
    if (const std::optional<ZipListing> listing = readZipListing(path)) {
        try {
            checkPackageLimits(*listing);
        } catch (const PackageLimitError &) {
        }
    }
    return 0;
}
