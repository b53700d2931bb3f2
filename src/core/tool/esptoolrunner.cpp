#include "esptoolrunner.h"

#include "esptooloutput.h"
#include "esptoolprogress.h"
#include "logger.h"
#include "operationhandle.h"
#include "queuedresume.h"
#include "writeprogress.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMetaObject>
#include <QPointer>
#include <QProcessEnvironment>

#include <coroutine>
#include <memory>
#include <utility>

using namespace Qt::StringLiterals;

namespace Texts {
const auto commandLinePrefix = u"esptool "_s;
const auto flashComplete = u"Flash complete"_s;
} // namespace Texts

namespace {

/// Status reported for a tool killed by a signal when Qt gives no signal number: a crash is
/// never a success, so it must not read as exit 0.
constexpr int unknownCrashStatus = -1;

/// The state of one run, shared by the process's handlers and the waiting coroutine.
struct Run
{
    Run(Logger *logger, EsptoolRunner::LineCallback onLine, EsptoolRunner::LineCallback onUnfinished)
        // The chip query's lines stay readable in the output however much the tool says.
        : output(logger, std::move(onLine), std::move(onUnfinished), EsptoolChipSummary::fieldKeys())
    {
    }

    /// Hands the result to the waiting coroutine through the event loop, so that it goes
    /// on outside the process's signal and after every job already queued. The application
    /// carries the call: a runner destroyed meanwhile must not leave the coroutine waiting.
    void complete()
    {
        done = true;
        if (waiter)
            QMetaObject::invokeMethod(
                QCoreApplication::instance(), [handle = std::exchange(waiter, nullptr)] { handle.resume(); },
                Qt::QueuedConnection);
    }

    EsptoolOutput output;
    bool done = false;
    std::optional<QString> launchError;
    int exitCode = 0;
    QProcess::ExitStatus exitStatus = QProcess::NormalExit;
    std::coroutine_handle<> waiter;
};

/// Waits for Run::complete(), which may already have happened (a launch failure can be
/// reported inside QProcess::start()). Awaited by name, never as a braced temporary: GCC 12
/// destroys such a temporary twice.
struct RunEnd
{
    std::shared_ptr<Run> run;
    [[nodiscard]] bool await_ready() const noexcept { return run->done; }
    void await_suspend(std::coroutine_handle<> handle) const noexcept { run->waiter = handle; }
    void await_resume() const noexcept {}
};

} // namespace

EsptoolRunner::EsptoolRunner(Logger *logger, PlatformPaths paths, EsptoolVersionCheck *versionCheck,
                             QObject *parent)
    : QObject(parent), m_logger(logger), m_paths(std::move(paths)), m_versionCheck(versionCheck)
{
}

EsptoolRunner::~EsptoolRunner() = default;

QString EsptoolRunner::locateEsptool() const
{
    return ::locateEsptool(m_paths).path;
}

QCoro::Task<QString> EsptoolRunner::run(QString port, QStringList extraArguments, LineCallback onLine)
{
    return runTool(std::move(port), std::move(extraArguments), std::move(onLine), {});
}

QCoro::Task<QString> EsptoolRunner::runTool(QString port, QStringList extraArguments, LineCallback onLine,
                                            LineCallback onUnfinishedLine)
{
    const LocatedEsptool tool = ::locateEsptool(m_paths); // throws before anything is logged or made
    if (m_preflight)
        m_preflight(port);
    // The runner may be destroyed while the coroutine waits; it then ends without touching it.
    const QPointer<EsptoolRunner> self(this);
    if (m_versionCheck) {
        co_await m_versionCheck->verify(tool, m_paths, m_logger);
        if (!self)
            throw OperationCancelled();
    }
    const QString program = tool.path;
    const QStringList arguments = commandLine(port, m_baudRate, extraArguments);
    m_logger->log(Level::info, Texts::commandLinePrefix + arguments.join(u' '));
    const QProcessEnvironment environment = esptoolEnvironment(m_paths);

    // No parent: a running process must never be destroyed with its owner. It deletes
    // itself once it has ended (or failed to start).
    auto *process = new QProcess;
    process->setProgram(program);
    process->setArguments(arguments);
    process->setWorkingDirectory(esptoolWorkingDirectory(m_paths));
    process->setProcessEnvironment(environment);
    process->setProcessChannelMode(QProcess::MergedChannels);

    auto run = std::make_shared<Run>(m_logger, std::move(onLine), std::move(onUnfinishedLine));
    QObject::connect(process, &QProcess::readyReadStandardOutput, this,
                     [run, process] { run->output.consume(process->readAllStandardOutput()); });
    QObject::connect(process, &QProcess::errorOccurred, this, [run, process](QProcess::ProcessError error) {
        // Other errors (a crash) are followed by `finished`; a failed start is not.
        if (error != QProcess::FailedToStart || run->done)
            return;
        run->launchError = process->errorString();
        run->complete();
    });
    QObject::connect(process, &QProcess::finished, this,
                     [run, process](int exitCode, QProcess::ExitStatus exitStatus) {
                         if (run->done)
                             return;
                         // Whatever is still buffered comes before the end of the output.
                         run->output.consume(process->readAllStandardOutput());
                         run->output.finish();
                         run->exitCode = exitCode;
                         run->exitStatus = exitStatus;
                         run->complete();
                     });
    QObject::connect(process, &QProcess::finished, process, &QObject::deleteLater);
    QObject::connect(process, &QProcess::errorOccurred, process, [process](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            process->deleteLater();
    });
    // A runner destroyed while its tool runs ends its run now, so that the waiting frame and
    // the run are freed; the tool runs on unread to its end and then deletes its process.
    QObject::connect(this, &QObject::destroyed, process, [run, process] {
        if (!run->done)
            run->complete();
        QObject::disconnect(process, &QProcess::readyReadStandardOutput, nullptr, nullptr);
        QObject::connect(process, &QProcess::readyReadStandardOutput, process,
                         [process] { process->readAllStandardOutput(); });
    });

    process->start();
    RunEnd end{run};
    co_await end;
    if (!self)
        throw OperationCancelled();

    if (run->launchError)
        throw PlatformError(*run->launchError);
    if (run->exitStatus == QProcess::CrashExit) {
        // Qt reports the signal's number as the exit code of a killed process.
        const int status = run->exitCode != 0 ? run->exitCode : unknownCrashStatus;
        throw EsptoolError::failed(status, run->output.tail());
    }
    if (run->exitCode != 0)
        throw EsptoolError::failed(run->exitCode, run->output.tail());
    co_return run->output.takeCollected();
}

QCoro::Task<EsptoolChipSummary> EsptoolRunner::readChipInfo(QString port)
{
    const QStringList arguments = chipIdArguments();
    const QString output = co_await run(std::move(port), arguments);
    co_return EsptoolChipSummary::fromOutput(output);
}

QCoro::Task<> EsptoolRunner::flash(QString port, QList<FirmwareImage> images, ProgressCallback progress)
{
    if (images.isEmpty())
        co_return;
    const QStringList arguments = writeArguments(images);
    // Shared with the output handlers, which may outlive this frame.
    auto write = std::make_shared<WriteProgress>(std::move(images));
    LineCallback onLine = [write, progress](const QString &line) {
        if (const std::optional<WriteProgress::Report> report = write->onLine(line); report && progress)
            progress(report->text, report->fraction);
    };
    LineCallback onUnfinishedLine = [write, progress](const QString &line) {
        // The bar as it stands now: the last state drawn after a carriage return.
        if (const std::optional<WriteProgress::Report> report = write->onLine(currentRedraw(line));
            report && progress)
            progress(report->text, report->fraction);
    };
    co_await runTool(std::move(port), arguments, std::move(onLine), std::move(onUnfinishedLine));
    if (progress)
        progress(Texts::flashComplete, 1.0);
    // The receiver queues each report as a main-thread job: let the final one run before the
    // caller goes on, so that its own completion message is the last word.
    co_await queuedResume(this);
}
