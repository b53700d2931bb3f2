#include "fuzzsupport.h"
#include "packageinspection.h"

#include <QUrl>

#include <algorithm>

using namespace Qt::StringLiterals;

// The first four bytes give the lengths of the bootloader and the partition table (16 bits
// each, little-endian); the application is the rest.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 4)
        return 0;
    const size_t lengths[] = {size_t(data[0] | data[1] << 8), size_t(data[2] | data[3] << 8), size};
    constexpr quint32 offsets[] = {0x0, 0x8000, 0x10000};
    data += 4;
    size -= 4;
    QList<FirmwareImage> images;
    for (int i = 0; i < 3; ++i) {
        const size_t length = std::min(lengths[i], size);
        const QString path = scratchFolder() + u"/image"_s + QString::number(i) + u".bin"_s;
        writeInput(path, data, length);
        images.append(FirmwareImage(QUrl::fromLocalFile(path), offsets[i]));
        data += length;
        size -= length;
    }
    try {
        (void)inspectPackage(images).application();
    } catch (const FirmwareCheckError &) {
    }
    return 0;
}
