#include "faketool.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <cstdlib>

using namespace Qt::StringLiterals;

FakeToolFolder::FakeToolFolder()
{
    const QString root = m_dir.path();
    m_paths = PlatformPaths{
        .resourceDirectory = root + u"/resources"_s,
        .homeDirectory = root + u"/home"_s,
        .temporaryDirectory = root + u"/tmp"_s,
        .deviceDirectory = root + u"/dev"_s,
    };
    for (const QString &dir : {m_paths.resourceDirectory, m_paths.homeDirectory, m_paths.temporaryDirectory,
                               m_paths.deviceDirectory})
        QDir().mkpath(dir);
}

QString FakeToolFolder::installTool(const QByteArray &body, const QString &relativePath,
                                    bool executable) const
{
    const QString path = m_paths.resourceDirectory + u'/' + relativePath;
    writeScript(path, QByteArray(fakeToolPrelude) + body, executable);
    return path;
}

void FakeToolFolder::writeScript(const QString &path, const QByteArray &content, bool executable)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(path));
    file.write(content);
    file.close();
    QFile::Permissions permissions = QFile::ReadOwner | QFile::WriteOwner;
    if (executable)
        permissions |= QFile::ExeOwner;
    file.setPermissions(permissions);
}

std::optional<QStringList> FakeToolFolder::recordedArguments() const
{
    QFile file(m_paths.temporaryDirectory + u"/argv"_s);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QString text = QString::fromUtf8(file.readAll());
    if (text.endsWith(u'\n'))
        text.chop(1);
    return text.split(u'\n');
}

QByteArray FakeToolFolder::temporaryFile(const QString &name) const
{
    QFile file(m_paths.temporaryDirectory + u'/' + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

EnvironmentOverride::EnvironmentOverride(const char *name, const QByteArray &value)
    : m_name(name), m_wasSet(qEnvironmentVariableIsSet(name)), m_previous(qgetenv(name))
{
    qputenv(name, value);
}

EnvironmentOverride::~EnvironmentOverride()
{
    if (m_wasSet)
        qputenv(m_name, m_previous);
    else
        qunsetenv(m_name);
}

void detail::taskTimedOut()
{
    std::fputs("awaited task did not finish in time\n", stderr);
    std::abort();
}
