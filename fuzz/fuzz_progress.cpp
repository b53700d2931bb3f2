#include "esptoolprogress.h"
#include "writeprogress.h"

#include <QUrl>

#include <cstddef>
#include <cstdint>

// Each line of the input as an output line of a write of three images.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const QList<FirmwareImage> images = [] {
        QList<FirmwareImage> list;
        for (const auto &[name, offset, bytes] : {std::tuple{"sketch.ino.bootloader.bin", 0x0u, 20000u},
                                                  std::tuple{"sketch.ino.partitions.bin", 0x8000u, 3072u},
                                                  std::tuple{"sketch.ino.bin", 0x10000u, 300000u}}) {
            FirmwareImage image;
            image.fileName = QString::fromLatin1(name);
            image.offset = offset;
            image.size = bytes;
            list.append(image);
        }
        return list;
    }();
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    WriteProgress write(images);
    for (const QStringView line : QStringView(text).split(u'\n')) {
        (void)parseProgress(line);
        (void)reportedText(line);
        (void)currentRedraw(line.toString());
        (void)write.onLine(line);
    }
    return 0;
}
