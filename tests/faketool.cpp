#include "faketool.h"

#include "testsupport.h"

#include <QFile>

#include <cstdio>
#include <cstdlib>

using namespace Qt::StringLiterals;

QByteArray awkLines(int first, int last, const QByteArray &format)
{
    return "awk 'BEGIN { for (i = " + QByteArray::number(first) + "; i <= " + QByteArray::number(last) +
           "; i++) printf \"" + format + "\\n\", i }'\n";
}

FakeToolFolder::FakeToolFolder(const QString &nameTemplate)
    : m_dir(nameTemplate.isEmpty() ? std::make_unique<QTemporaryDir>()
                                   : std::make_unique<QTemporaryDir>(nameTemplate)),
      m_paths(pathsInside(m_dir->path()))
{
}

void FakeToolFolder::installTool(const QByteArray &body) const
{
    writeScript(m_paths.resourceDirectory + u"/esptool/esptool"_s, QByteArray(fakeToolPrelude) + body);
}

void FakeToolFolder::writeScript(const QString &path, const QByteArray &content, bool executable)
{
    QFile::Permissions permissions = QFile::ReadOwner | QFile::WriteOwner;
    if (executable)
        permissions |= QFile::ExeOwner;
    writeFile(path, content, permissions);
}

QList<QStringList> FakeToolFolder::runs() const
{
    QList<QStringList> result;
    const QString text = QString::fromUtf8(temporaryFile(u"runs"_s));
    for (const QString &line : text.split(u'\n', Qt::SkipEmptyParts)) {
        if (line == u"--- run"_s)
            result.append(QStringList());
        else
            result.last().append(line);
    }
    return result;
}

std::optional<QStringList> FakeToolFolder::recordedArguments() const
{
    const QList<QStringList> all = runs();
    return all.isEmpty() ? std::nullopt : std::optional(all.last());
}

QByteArray FakeToolFolder::temporaryFile(const QString &name) const
{
    return readFile(m_paths.temporaryDirectory + u'/' + name);
}

void FakeToolFolder::openGate() const
{
    writeFile(m_paths.temporaryDirectory + u"/go"_s, {});
}

EnvironmentOverride::EnvironmentOverride(const char *name, const QByteArray &value)
    : m_name(name), m_wasSet(qEnvironmentVariableIsSet(name)), m_previous(qgetenv(name))
{
    if (value.isNull())
        qunsetenv(name);
    else
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
