#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

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
    // Root's runtime folder is not ours any more.
    unsetenv("XDG_RUNTIME_DIR");
}

PlatformPaths pathsInside(const QString &root)
{
    const PlatformPaths paths{
        .resourceDirectory = root + u"/resources"_s,
        .homeDirectory = root + u"/home"_s,
        .temporaryDirectory = root + u"/tmp"_s,
        .deviceDirectory = root + u"/dev"_s,
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
