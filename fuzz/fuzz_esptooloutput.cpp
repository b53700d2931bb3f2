#include "esptoolchipsummary.h"
#include "esptooloutput.h"
#include "fuzzsupport.h"
#include "logger.h"

// The input's first byte sets the chunk size, so that letters and line ends fall across
// chunk ends as the pipe may cut them.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    ensureApplication();
    const size_t chunk = data[0] % 64 + 1;
    Logger logger;
    EsptoolOutput output(&logger, [](const QString &) {}, [](const QString &) {},
                         EsptoolChipSummary::fieldKeys());
    for (size_t at = 1; at < size; at += chunk)
        output.consume(QByteArray(reinterpret_cast<const char *>(data) + at, qsizetype(std::min(chunk, size - at))));
    output.finish();
    (void)output.tail();
    (void)output.takeCollected();
    QCoreApplication::processEvents();
    return 0;
}
