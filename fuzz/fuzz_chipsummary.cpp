#include "esptoolchipsummary.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString output = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    (void)EsptoolChipSummary::fromOutput(output).summaryText();
    (void)trimmedBlanks(output);
    return 0;
}
