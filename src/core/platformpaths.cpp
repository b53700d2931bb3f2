#include "platformpaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

using namespace Qt::StringLiterals;

QString PlatformPaths::arduinoDataDirectory() const
{
#if defined(Q_OS_MACOS)
    return homeDirectory + u"/Library/Arduino15"_s;
#elif defined(Q_OS_WIN)
    const QString local = qEnvironmentVariable("LOCALAPPDATA");
    return (local.isEmpty() ? homeDirectory + u"/AppData/Local"_s : QDir::fromNativeSeparators(local)) +
           u"/Arduino15"_s;
#else
    return homeDirectory + u"/.arduino15"_s;
#endif
}

static QString resourceDirectoryOfApplication()
{
    const QString appDir = QCoreApplication::applicationDirPath();
#if defined(Q_OS_MACOS)
    return QDir::cleanPath(appDir + u"/../Resources"_s);
#else
    // A build tree keeps resources beside the executable; an installed program has
    // them in the install's data folder.
    const QString beside = appDir + u"/resources"_s;
    if (QFileInfo(beside).isDir())
        return beside;
    return QDir::cleanPath(appDir + u"/../share/olvex-updater"_s);
#endif
}

static QString privateTemporaryDirectory()
{
#if defined(Q_OS_LINUX)
    // /tmp is shared by every user; the runtime folder is owner-only.
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (!runtime.isEmpty())
        return runtime;
#endif
    return QDir::tempPath();
}

static QString stateDirectoryOfUser()
{
#if defined(Q_OS_MACOS)
    return QDir::homePath() + u"/Library/Logs/olvex-updater"_s;
#else
    // The XDG base directories: a relative value is invalid and ignored.
    const QString state = qEnvironmentVariable("XDG_STATE_HOME");
    const QString base = QDir::isAbsolutePath(state) ? state : QDir::homePath() + u"/.local/state"_s;
    return base + u"/olvex-updater"_s;
#endif
}

PlatformPaths PlatformPaths::system()
{
    return PlatformPaths{
        .resourceDirectory = resourceDirectoryOfApplication(),
        .homeDirectory = QDir::homePath(),
        .temporaryDirectory = privateTemporaryDirectory(),
        .deviceDirectory = u"/dev"_s,
        .processDirectory = u"/proc"_s,
        .stateDirectory = stateDirectoryOfUser(),
        .udevRuleDirectories = {u"/etc/udev/rules.d"_s, u"/usr/lib/udev/rules.d"_s},
    };
}
