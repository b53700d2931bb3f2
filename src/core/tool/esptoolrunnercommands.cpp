#include "esptoolrunner.h"

#include <algorithm>

using namespace Qt::StringLiterals;

// The command lines the program runs: the fixed prefix, then one operation's arguments.

QStringList EsptoolRunner::commandLine(const QString &port, int baudRate, const QStringList &extraArguments)
{
    QStringList arguments{u"--chip"_s, u"esp32s3"_s, u"--port"_s,
                          port,        u"--baud"_s,  QString::number(baudRate)};
    arguments.append(extraArguments);
    return arguments;
}

QStringList EsptoolRunner::writeArguments(QList<FirmwareImage> images)
{
    std::stable_sort(images.begin(), images.end(),
                     [](const FirmwareImage &a, const FirmwareImage &b) { return a.offset < b.offset; });
    QStringList arguments{u"--before"_s,     u"default-reset"_s, u"--after"_s,
                          u"hard-reset"_s,   u"write-flash"_s,   u"-z"_s,
                          u"--flash-mode"_s, u"keep"_s,          u"--flash-freq"_s,
                          u"keep"_s,         u"--flash-size"_s,  u"keep"_s};
    for (const FirmwareImage &image : std::as_const(images)) {
        arguments.append(QString::asprintf("0x%X", unsigned(image.offset)));
        arguments.append(image.url.toLocalFile());
    }
    return arguments;
}

QStringList EsptoolRunner::chipIdArguments()
{
    return {u"--before"_s, u"default-reset"_s, u"chip-id"_s};
}

QStringList EsptoolRunner::eraseArguments()
{
    return {u"--before"_s, u"default-reset"_s, u"erase-flash"_s};
}

QStringList EsptoolRunner::rebootArguments()
{
    return {u"--before"_s, u"no-reset"_s, u"--after"_s, u"hard-reset"_s, u"chip-id"_s};
}

QStringList EsptoolRunner::readApplicationHeaderArguments(const QString &file)
{
    return {u"--before"_s, u"default-reset"_s, u"read-flash"_s, u"0x10000"_s, u"0x100"_s, file};
}
