#include "flashmanager.h"

#include "error.h"
#include "esptoolrunner.h"
#include "failurediagnosis.h"
#include "logfile.h"
#include "queuedresume.h"

#include <QDir>

using namespace Qt::StringLiterals;

namespace Texts {
const auto startMessage = u"Başlamak için firmware zip seçin."_s;
const auto noDevice = u"Cihaz bağlı değil"_s;
const auto noFirmware = u"—"_s;
const auto ellipsis = u"…"_s;
const auto cancelled = u"İptal edildi."_s;
const auto cancelledLog = u"İşlem iptal edildi"_s;
const auto logFileName = u"olvex-updater.log"_s;
const auto sendLogFile = u"Yardım isterken bu günlük dosyasını gönderebilirsiniz: "_s;
} // namespace Texts

FlashManager::FlashManager(PlatformPaths paths, SignaturePolicy signatures, QObject *parent)
    : QObject(parent), m_paths(std::move(paths)), m_signaturePolicy(std::move(signatures)),
      m_logger(new Logger(this)), m_statusDetail(Texts::startMessage)
{
#if defined(Q_OS_LINUX)
    m_portDetailsSource = &systemPortDetails;
#endif
    if (m_paths.stateDirectory.isEmpty())
        return;
    auto *file =
        new LogFile(m_paths.stateDirectory + u'/' + Texts::logFileName, LogFile::defaultRotateSize, m_logger);
    if (!file->isUsable()) {
        delete file; // no folder for it: the program runs as it would without
        return;
    }
    m_logger->setLogFile(file);
    m_logFilePath = QDir::toNativeSeparators(file->path());
}

// Nothing to clean up: the last extraction folder stays on disk by design, and a running
// tool is never stopped.
FlashManager::~FlashManager() = default;

void FlashManager::setSelectedPort(const std::optional<SerialPortInfo> &port)
{
    assign(m_selectedPort, port, &FlashManager::selectedPortChanged);
}

// The chip summary and the runner notify on every write, equal or not.
void FlashManager::setChipSummary(const std::optional<EsptoolChipSummary> &summary)
{
    m_chipSummary = summary;
    Q_EMIT chipSummaryChanged();
    if (!summary)
        setRunningFirmware(std::nullopt); // the device it was read from is gone or restarted
}

void FlashManager::setRunningFirmware(const std::optional<RunningFirmware> &firmware)
{
    assign(m_runningFirmware, firmware, &FlashManager::runningFirmwareChanged);
}

void FlashManager::setWrittenFirmware(const std::optional<WrittenFirmware> &firmware)
{
    assign(m_writtenFirmware, firmware, &FlashManager::writtenFirmwareChanged);
}

void FlashManager::setEsptoolRunner(EsptoolRunner *runner)
{
    m_esptoolRunner = runner;
    Q_EMIT esptoolRunnerChanged();
}

void FlashManager::setStatus(OperationStatus status)
{
    assign(m_status, status, &FlashManager::statusChanged);
}

void FlashManager::setStatusDetail(const QString &detail)
{
    assign(m_statusDetail, detail, &FlashManager::statusDetailChanged);
}

void FlashManager::setProgress(double progress)
{
    assign(m_progress, progress, &FlashManager::progressChanged);
}

void FlashManager::setIsBusy(bool busy)
{
    assign(m_isBusy, busy, &FlashManager::isBusyChanged);
}

void FlashManager::setFailureHint(const QString &hint)
{
    assign(m_failureHint, hint, &FlashManager::failureHintChanged);
}

void FlashManager::clearFailureHint()
{
    setFailureHint({});
    if (m_slowerRetry) {
        m_slowerRetry.reset();
        Q_EMIT slowerRetryChanged();
    }
}

// Every failure names the log file, so that the user can hand the whole story to support.
QString FlashManager::hintText(const std::optional<FailureHint> &hint) const
{
    QStringList lines;
    if (hint)
        lines << hint->text << hint->reason;
    if (!m_logFilePath.isEmpty()) {
        const QString home = m_paths.homeDirectory + u'/';
        const bool inHome = !m_paths.homeDirectory.isEmpty() && m_logFilePath.startsWith(home);
        lines << Texts::sendLogFile + (inHome ? u"~/"_s + m_logFilePath.sliced(home.size()) : m_logFilePath);
    }
    lines.removeAll(QString());
    return lines.join(u'\n');
}

void FlashManager::log(Level level, const QString &message)
{
    m_logger->log(level, message);
}

QString FlashManager::deviceDisplayText() const
{
    if (m_chipSummary) {
        QString text = m_chipSummary->summaryText();
        if (!text.isEmpty())
            return text;
    }
    if (m_selectedPort)
        return m_selectedPort->name;
    return Texts::noDevice;
}

QString FlashManager::firmwareDisplayText() const
{
    return m_selectedFirmwareZipName.value_or(Texts::noFirmware);
}

void FlashManager::runOperation(OperationStatus status, const QString &detail, Operation operation)
{
    if (m_isBusy)
        return;
    if (m_operationTask)
        m_operationTask->cancel();
    setIsBusy(true);
    clearFailureHint();
    setWrittenFirmware(std::nullopt);
    setProgress(0);
    setStatus(status);
    setStatusDetail(detail + Texts::ellipsis);
    m_operationTask = std::make_shared<OperationHandle>();
    Q_EMIT operationTaskChanged();
    execute(m_operationTask, std::move(operation));
}

QCoro::Task<> FlashManager::execute(std::shared_ptr<OperationHandle> handle, Operation operation)
{
    std::exception_ptr failure;
    bool cancelled = false;
    try {
        // Like any task, the operation starts in a later main-thread step, not inside the click.
        co_await queuedResume(this);
        handle->checkCancellation();
        co_await operation();
    } catch (const OperationCancelled &) {
        cancelled = true;
    } catch (...) {
        failure = std::current_exception();
    }
    handle->m_finished = true;

    if (cancelled) {
        setStatus(OperationStatus::idle);
        setStatusDetail(Texts::cancelled);
        setIsBusy(false);
        log(Level::warning, Texts::cancelledLog);
    } else if (failure) {
        const QString description = failureDescription(failure);
        const std::optional<FailureHint> hint = diagnoseFailure(failure);
        setStatus(OperationStatus::error);
        setStatusDetail(description);
        setFailureHint(hintText(hint));
        if (m_failedWrite) {
            m_slowerRetry = std::exchange(m_failedWrite, std::nullopt);
            Q_EMIT slowerRetryChanged();
        }
        setIsBusy(false);
        log(Level::error, description);
        if (hint && hint->text != description)
            log(Level::warning, hint->text);
    } else {
        setStatus(OperationStatus::complete);
        setIsBusy(false);
    }
}

// The property of type EsptoolRunner * needs the complete class.
#include "moc_flashmanager.cpp"
