// Placeholder until the package discovery lands.
#include "firmwarepackage.h"

using namespace Qt::StringLiterals;

FirmwareImage::FirmwareImage(const QUrl &url, quint32 offset)
    : id(QUuid::createUuid()), url(url), fileName(url.fileName()), offset(offset)
{
}

FirmwareImageError FirmwareImageError::unreadable(const QString &fileName)
{
    return {Kind::unreadable, fileName, u"Cannot read firmware file: "_s + fileName};
}

FirmwareImageError FirmwareImageError::missingFile(const QString &what)
{
    return {Kind::missingFile, what, u"Missing Arduino build file: "_s + what};
}

QList<QUrl> regularFiles(const QUrl &)
{
    return {};
}

QList<FirmwareImage> arduinoImages(const QList<QUrl> &, const QUrl &, const PlatformPaths &)
{
    throw FirmwareImageError::missingFile(u"*.bootloader.bin"_s);
}
