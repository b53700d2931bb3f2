#include "testsupport.h"

#include "logger.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <grp.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

void dropRootPrivileges()
{
    if (geteuid() != 0)
        return;
    constexpr uid_t nobody = 65534;
    if (setgroups(0, nullptr) != 0 || setgid(nobody) != 0 || setuid(nobody) != 0) {
        std::perror("cannot drop root privileges for the tests");
        std::exit(2);
    }
    // Root's runtime folder is not ours any more, nor perhaps the working folder (a build
    // tree below /root); children started by the tests inherit it.
    unsetenv("XDG_RUNTIME_DIR");
    if (access(".", R_OK | X_OK) != 0 && chdir("/tmp") != 0) {
        std::perror("cannot change to /tmp");
        std::exit(2);
    }
}

PlatformPaths pathsInside(const QString &root)
{
    const PlatformPaths paths{
        .resourceDirectory = root + u"/resources"_s,
        .homeDirectory = root + u"/home"_s,
        .temporaryDirectory = root + u"/tmp"_s,
        .deviceDirectory = root + u"/dev"_s,
        .stateDirectory = {}, // no log file unless a test asks for one
    };
    for (const QString &dir :
         {paths.resourceDirectory, paths.homeDirectory, paths.temporaryDirectory, paths.deviceDirectory})
        QDir().mkpath(dir);
    return paths;
}

void writeFile(const QString &path, const QByteArray &content, QFile::Permissions permissions)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(path));
    file.write(content);
    file.close();
    file.setPermissions(permissions);
}

QStringList logLines(const Logger *logger, qsizetype first)
{
    QStringList lines;
    for (qsizetype i = first; i < logger->entries().size(); ++i)
        lines.append(rawValue(logger->entries()[i].level) + u' ' + logger->entries()[i].message);
    return lines;
}

namespace {
void runZip(const QString &workingDirectory, const QStringList &arguments)
{
    QProcess zip;
    zip.setWorkingDirectory(workingDirectory);
    zip.setProcessChannelMode(QProcess::MergedChannels);
    zip.start(u"/usr/bin/zip"_s, arguments);
    if (!zip.waitForFinished(-1) || zip.exitStatus() != QProcess::NormalExit || zip.exitCode() != 0)
        qFatal("zip %s failed: %s", qPrintable(arguments.join(u' ')), zip.readAll().constData());
}
} // namespace

void removeTree(const QString &path)
{
    // Folders made unreadable must be opened again first; rm copes with trees deeper than
    // the number of folders one process may hold open.
    QProcess::execute(u"chmod"_s, {u"-R"_s, u"u+rwX"_s, path});
    if (QProcess::execute(u"rm"_s, {u"-rf"_s, path}) != 0)
        qWarning("cannot remove %s", qPrintable(path));
}

void makeZip(const QString &zipPath, const QMap<QString, QByteArray> &files,
             const QMap<QString, QString> &symlinks)
{
    const QString archive = QFileInfo(zipPath).absoluteFilePath();
    QTemporaryDir staging;
    if (!staging.isValid())
        qFatal("cannot make a staging folder for %s", qPrintable(zipPath));
    QStringList entries;
    for (auto it = files.cbegin(); it != files.cend(); ++it) {
        if (it.key().endsWith(u'/'))
            QDir().mkpath(staging.filePath(it.key()));
        else
            writeFile(staging.filePath(it.key()), it.value());
        entries.append(it.key());
    }
    for (auto it = symlinks.cbegin(); it != symlinks.cend(); ++it) {
        QDir().mkpath(QFileInfo(staging.filePath(it.key())).absolutePath());
        if (!QFile::link(it.value(), staging.filePath(it.key())))
            qFatal("cannot make the link %s", qPrintable(it.key()));
        entries.append(it.key());
    }

    // Entries are named one by one (no -r), so only what the test asked for is stored, in
    // this order; "--" keeps a name beginning with "-" from reading as an option.
    runZip(staging.path(), QStringList{u"-q"_s, u"--symlinks"_s, archive, u"--"_s} + entries);
}

void renameZipEntries(const QString &zipPath, const QString &from, const QString &to)
{
    const QByteArray oldName = from.toUtf8();
    const QByteArray newName = to.toUtf8();
    if (oldName.size() != newName.size())
        qFatal("renameZipEntries: %s and %s differ in length", qPrintable(from), qPrintable(to));
    QFile file(zipPath);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("cannot read %s", qPrintable(zipPath));
    QByteArray bytes = file.readAll();
    file.close();
    // The names sit in the local and central headers; no checksum covers them.
    if (!bytes.contains(oldName))
        qFatal("renameZipEntries: no entry %s in %s", qPrintable(from), qPrintable(zipPath));
    bytes.replace(oldName, newName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(zipPath));
}
