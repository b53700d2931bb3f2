#include "espimage.h"
#include "packageinspection.h"

#include <cstddef>
#include <cstdint>

// One input read as an image, a descriptor and a partition table alike.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView bytes(data, qsizetype(size));
    const EspImageInfo image = inspectEspImage(bytes);
    (void)image.acceptsRevision(2);
    (void)chipName(image.chipId);
    if (const std::optional<AppDescriptor> descriptor = appDescriptor(bytes))
        (void)applicationText(*descriptor);
    const PartitionTableInfo table = inspectPartitionTable(bytes);
    (void)table.applicationAt(0x10000);
    return 0;
}
