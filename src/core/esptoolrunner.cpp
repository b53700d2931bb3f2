// Placeholder until the runner lands: every run reports that the tool is missing.
#include "esptoolrunner.h"

#include "logger.h"

using namespace Qt::StringLiterals;

EsptoolError EsptoolError::failed(int status, const QString &tail)
{
    return {Kind::failed, status, tail,
            u"esptool failed (exit "_s + QString::number(status) + u"): "_s + tail};
}

EsptoolError EsptoolError::notFound()
{
    return {Kind::notFound, 0, {}, u"Bundled esptool binary was not found in the application."_s};
}

EsptoolRunner::EsptoolRunner(Logger *logger, PlatformPaths paths, QObject *parent)
    : QObject(parent), m_logger(logger), m_paths(std::move(paths))
{
}

EsptoolRunner::~EsptoolRunner() = default;

QString EsptoolRunner::locateEsptool() const
{
    throw EsptoolError::notFound();
}

QCoro::Task<QString> EsptoolRunner::run(QString, QStringList, LineCallback)
{
    (void)locateEsptool();
    co_return QString();
}

QCoro::Task<EsptoolChipSummary> EsptoolRunner::readChipInfo(QString port)
{
    co_return EsptoolChipSummary::fromOutput(co_await run(port, chipIdArguments()));
}

QCoro::Task<> EsptoolRunner::flash(QString port, QList<FirmwareImage>, ProgressCallback)
{
    co_await run(port, {});
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

std::optional<double> parseProgress(QStringView)
{
    return std::nullopt;
}
