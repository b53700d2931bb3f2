#pragma once

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>

// libFuzzer calls a target many times in one process: the application and the scratch folder
// are made once and live until it exits.
inline void ensureApplication()
{
    static int argc = 1;
    static char name[] = "olvex-fuzz";
    static char *argv[] = {name, nullptr};
    static QCoreApplication application(argc, argv);
}

inline QString scratchFolder()
{
    static const QTemporaryDir folder;
    return folder.path();
}

inline void writeInput(const QString &path, const uint8_t *data, size_t size)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(reinterpret_cast<const char *>(data), qint64(size)) != qint64(size))
        qFatal("cannot write the fuzz input to %s", qPrintable(path));
}
