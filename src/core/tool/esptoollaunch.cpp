#include "esptoollaunch.h"

#include "esptoolerror.h"
#include "logger.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTimer>

#include <coroutine>
#include <memory>

using namespace Qt::StringLiterals;

namespace {
/// Where the tool may sit in the resource folder, in the order they are tried.
const QStringList resourceCandidates = {u"esptool/esptool"_s, u"ThirdParty/esptool/esptool"_s,
                                        u"ThirdParty/esptool"_s, u"esptool"_s};

/// Below the Arduino data folder: the tool that the ESP32 core installs.
const auto arduinoEsptool = u"/packages/esp32/tools/esptool_py/5.2.0/esptool"_s;

/// Names tried on the executable search path when nothing else is there.
const QStringList searchPathNames = {u"esptool"_s, u"esptool.py"_s};

/// The tool's home: private and empty, so that it finds no configuration file there, in its
/// ".config" or in its working folder (it says so in its output when it loads one).
const auto toolHomeName = u"esptool-home"_s;

/// Enough of a `version` answer to read the number; a tool that floods is not kept.
constexpr qsizetype maxVersionOutput = 4096;
constexpr int versionTimeoutMs = 10'000;

bool isExecutableFile(const QString &path)
{
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable();
}

QString originLabel(const LocatedEsptool &tool)
{
    switch (tool.origin) {
    case EsptoolOrigin::bundled:
        return u"yerleşik"_s;
    case EsptoolOrigin::arduino:
        return u"Arduino"_s;
    case EsptoolOrigin::searchPath:
        break;
    }
    return u"PATH: "_s + tool.path;
}

/// Runs `tool version` to its end and gives the start of what it said, or nothing when it
/// could not be started.
struct VersionQuery
{
    std::unique_ptr<QProcess> process = std::make_unique<QProcess>();
    QByteArray output;
    bool done = false;
    std::coroutine_handle<> waiter;

    /// Goes on through the event loop, outside the process's own signal.
    void finish()
    {
        done = true;
        if (waiter)
            QMetaObject::invokeMethod(
                process.get(), [handle = std::exchange(waiter, nullptr)] { handle.resume(); },
                Qt::QueuedConnection);
    }
};

struct QueryEnd
{
    std::shared_ptr<VersionQuery> query;
    [[nodiscard]] bool await_ready() const noexcept { return query->done; }
    void await_suspend(std::coroutine_handle<> handle) const noexcept { query->waiter = handle; }
    void await_resume() const noexcept {}
};

QCoro::Task<std::optional<QString>> askVersion(QString program, PlatformPaths paths)
{
    auto query = std::make_shared<VersionQuery>();
    QProcess *process = query->process.get();
    process->setProgram(program);
    process->setArguments({u"version"_s});
    process->setWorkingDirectory(esptoolWorkingDirectory(paths));
    process->setProcessEnvironment(esptoolEnvironment(paths));
    process->setProcessChannelMode(QProcess::MergedChannels);
    process->setStandardInputFile(QProcess::nullDevice());
    // The handlers live as long as the process, which the query owns: they may hold it plainly,
    // and an operation dropped while it waits takes query and process (killed) with it.
    VersionQuery *state = query.get();
    QObject::connect(process, &QProcess::readyReadStandardOutput, process, [state, process] {
        const QByteArray bytes = process->readAllStandardOutput();
        state->output.append(bytes.first(std::min(bytes.size(), maxVersionOutput - state->output.size())));
    });
    QObject::connect(process, &QProcess::finished, process, [state] { state->finish(); });
    QObject::connect(process, &QProcess::errorOccurred, process, [state](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            state->finish();
    });
    // A tool that never answers must not hold the operation for ever.
    QTimer::singleShot(versionTimeoutMs, process, [process] { process->kill(); });
    process->start();
    // Named: GCC 12 destroys a braced temporary awaited in place twice, which would drop the
    // query (and its process) before its output is read.
    QueryEnd end{query};
    co_await end;
    if (query->output.isEmpty())
        co_return std::nullopt;
    co_return QString::fromUtf8(query->output);
}
} // namespace

LocatedEsptool locateEsptool(const PlatformPaths &paths)
{
    if (!paths.resourceDirectory.isEmpty()) {
        for (const QString &relative : resourceCandidates) {
            const QString path = paths.resourceDirectory + u'/' + relative;
            if (isExecutableFile(path)) // present but not executable: passed over
                return {QFileInfo(path).absoluteFilePath(), EsptoolOrigin::bundled};
        }
    }
    const QString arduino = paths.arduinoDataDirectory() + arduinoEsptool;
    if (isExecutableFile(arduino))
        return {QFileInfo(arduino).absoluteFilePath(), EsptoolOrigin::arduino};
    for (const QString &name : searchPathNames) {
        const QString found = QStandardPaths::findExecutable(name);
        if (!found.isEmpty() && isExecutableFile(found))
            return {QFileInfo(found).absoluteFilePath(), EsptoolOrigin::searchPath};
    }
    throw EsptoolError::notFound();
}

QProcessEnvironment esptoolEnvironment(const PlatformPaths &paths)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const QStringList names = environment.keys();
    for (const QString &name : names) {
        if (name.startsWith(u"ESPTOOL_"_s))
            environment.remove(name);
    }
    // Python finds a tool installed for the user (pip --user) through the real home.
    if (!environment.contains(u"PYTHONUSERBASE"_s) && !paths.homeDirectory.isEmpty())
        environment.insert(u"PYTHONUSERBASE"_s, paths.homeDirectory + u"/.local"_s);
    environment.insert(u"HOME"_s, esptoolWorkingDirectory(paths));
    environment.insert(u"TMPDIR"_s, paths.temporaryDirectory);
    // Keeps the tool from redrawing progress lines in place with terminal codes.
    environment.insert(u"NO_COLOR"_s, u"1"_s);
    return environment;
}

QString esptoolWorkingDirectory(const PlatformPaths &paths)
{
    const QString home = paths.temporaryDirectory + u'/' + toolHomeName;
    QDir().mkpath(home);
    return home;
}

std::optional<EsptoolVersion> EsptoolVersion::parse(QStringView text)
{
    static const QRegularExpression pattern(uR"(\bv(\d+)\.(\d+)(?:\.(\d+))?)"_s);
    const QRegularExpressionMatch match = pattern.match(text.toString());
    if (!match.hasMatch())
        return std::nullopt;
    return EsptoolVersion{match.capturedView(1).toInt(), match.capturedView(2).toInt(),
                          match.capturedView(3).toInt()};
}

QString EsptoolVersion::text() const
{
    return u"v%1.%2.%3"_s.arg(major).arg(minor).arg(patch);
}

EsptoolVersion bundledEsptoolVersion()
{
    return *EsptoolVersion::parse(QStringLiteral("v" OLVEX_BUNDLED_ESPTOOL_VERSION));
}

QCoro::Task<> EsptoolVersionCheck::verify(LocatedEsptool tool, PlatformPaths paths, Logger *logger)
{
    auto known = m_known.constFind(tool.path);
    if (known == m_known.cend()) {
        std::optional<EsptoolVersion> version;
        if (tool.origin == EsptoolOrigin::bundled) {
            version = bundledEsptoolVersion(); // no extra process for what we ship
        } else if (const std::optional<QString> answer = co_await askVersion(tool.path, paths)) {
            version = EsptoolVersion::parse(*answer);
        }
        // Another operation cannot start while this one waits, so nobody got here first.
        known = m_known.insert(tool.path, Known{version});
        const QString label = u" ("_s + originLabel(tool) + u')';
        if (version)
            logger->log(Level::info, u"esptool "_s + version->text() + label);
        else
            logger->log(Level::warning, u"esptool sürümü okunamadı"_s + label);
    }
    if (known->version && known->version->major < 5)
        throw EsptoolError::tooOld(known->version->text(), tool.path);
}
