#include "flashmanager.h"

#include "esptoolrunner.h"
#include "failurediagnosis.h"
#include "logger.h"
#include "queuedresume.h"
#include "rawfilenames.h"
#include "zipextractor.h"

#include <QDir>
#include <QFile>
#include <QMetaObject>

using namespace Qt::StringLiterals;

namespace Texts {
const auto startMessage = u"Başlamak için firmware zip seçin."_s;
const auto noDevice = u"Cihaz bağlı değil"_s;
const auto noFirmware = u"—"_s;
const auto ellipsis = u"…"_s;
const auto cancelled = u"İptal edildi."_s;
const auto cancelledLog = u"İşlem iptal edildi"_s;
const auto scanning = u"USB portları taranıyor…"_s;
const auto noPorts = u"Port bulunamadı — programlama modunu deneyin."_s;
const auto portsFound = u" port bulundu."_s;
const auto bullet = u"  • "_s;
const auto selectPortFirst = u"Önce USB portu seçin."_s;
const auto noPortSelectedLog = u"Port seçilmedi"_s;
const auto connecting = u"Bağlanıyor"_s;
const auto connected = u"Bağlandı: "_s;
const auto extractionFolderPrefix = u"vardel-firmware-"_s;
const auto firmwareFilesInZip = u"firmware files in zip"_s;
const auto firmwareReadyPrefix = u"Firmware hazır ("_s;
const auto firmwareReadySuffix = u" dosya)."_s;
const auto zipLoaded = u"Firmware zip yüklendi: "_s;
const auto selectFirmwareFirst = u"Önce firmware zip seçin."_s;
const auto noFirmwareSelectedLog = u"Firmware seçilmedi"_s;
const auto filesToWrite = u" dosya esptool ile yüklenecek."_s;
const auto writing = u"Yükleniyor"_s;
const auto writeComplete = u"Yükleme tamamlandı."_s;
const auto erasing = u"Flash siliniyor"_s;
const auto erased = u"Flash silindi."_s;
const auto rebooting = u"Yeniden başlatılıyor"_s;
const auto rebootSent = u"Yeniden başlatma gönderildi."_s;
const auto namesRepairedPrefix = u"Zip'teki "_s;
const auto namesRepairedSuffix = u" ad, Windows'un Türkçe kodlamasından (CP857) çevrildi."_s;
const auto applicationPrefix = u"Uygulama: "_s;
const auto builtOn = u", derleme "_s;
const auto idfPrefix = u", ESP-IDF "_s;
const auto notAnImage = u": bir ESP imajı değil; içeriği denetlenemedi."_s;
const auto notATable = u": bir bölüm tablosu değil; içeriği denetlenemedi."_s;
const auto runningPrefix = u"Cihazdaki yazılım: "_s;
const auto noRunningApplication = u"Cihazda tanınan bir uygulama yok"_s;
const auto runningUnreadable = u"Cihazdaki yazılım okunamadı: "_s;
const auto headerNotWritten = u"esptool okunan veriyi yazmadı."_s;
const auto applicationHeaderPrefix = u"/olvex-app-header-"_s;
const auto atLeastRevision = u" en az "_s;
const auto atMostRevision = u" en çok "_s;
const auto revisionSuffix = u" çip revizyonunda çalışır; cihazın çipi "_s;
const auto olderPackage = u"Paketteki sürüm ("_s;
const auto olderPackageMiddle = u") cihazdakinden ("_s;
const auto olderPackageSuffix = u") daha eski."_s;
const auto linuxPortAdvice = u"Linux'ta port görünmüyorsa: başka bir USB kablosu deneyin, 'dialout' grubu "
                             u"üyeliğinizi ve ModemManager'ı kontrol edin."_s;
} // namespace Texts

namespace {
QString describe(const std::exception_ptr &failure)
{
    try {
        std::rethrow_exception(failure);
    } catch (const Error &error) {
        return error.description();
    } catch (const std::exception &error) {
        return QString::fromUtf8(error.what());
    } catch (...) {
        return u"Unknown error"_s;
    }
}

/// "  name @ 0xE000 (8192 bytes)"
QString imageLogLine(const FirmwareImage &image)
{
    return u"  "_s + image.fileName + u" @ 0x"_s + QString::number(image.offset, 16).toUpper() + u" ("_s +
           QString::number(image.size) + u" bytes)"_s;
}
} // namespace

void OperationHandle::checkCancellation() const
{
    if (m_cancelled)
        throw OperationCancelled();
}

FlashManager::FlashManager(PlatformPaths paths, QObject *parent)
    : QObject(parent), m_paths(std::move(paths)), m_logger(new Logger(this)),
      m_statusDetail(Texts::startMessage)
{
}

// Nothing to clean up: the last extraction folder stays on disk by design, and a running
// tool is never stopped.
FlashManager::~FlashManager() = default;

template <typename T> void FlashManager::assign(T &field, T value, void (FlashManager::*changed)())
{
    if (field == value)
        return;
    field = std::move(value);
    Q_EMIT(this->*changed)();
}

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
    setFailureHint({});
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
        const QString description = describe(failure);
        const std::optional<FailureHint> hint = diagnoseFailure(failure);
        setStatus(OperationStatus::error);
        setStatusDetail(description);
        setFailureHint(hint ? hint->text : QString());
        setIsBusy(false);
        log(Level::error, description);
        if (hint)
            log(Level::warning, hint->text);
    } else {
        setStatus(OperationStatus::complete);
        setIsBusy(false);
    }
}

void FlashManager::refreshPorts()
{
    if (m_isBusy)
        return;
    setFailureHint({});
    setStatus(OperationStatus::scanning);
    setStatusDetail(Texts::scanning);
    log(Level::info, Texts::scanning);

    assign(m_ports, availablePorts(m_paths.deviceDirectory), &FlashManager::portsChanged);
    if (m_selectedPort && !m_ports.contains(*m_selectedPort)) {
        setSelectedPort(std::nullopt);
        setChipSummary(std::nullopt);
    }
    if (!m_selectedPort && !m_ports.isEmpty())
        setSelectedPort(m_ports.first());

    setStatus(OperationStatus::idle);
    setStatusDetail(m_ports.isEmpty() ? Texts::noPorts : QString::number(m_ports.size()) + Texts::portsFound);
    log(Level::info, m_statusDetail);
    for (const SerialPortInfo &port : std::as_const(m_ports))
        log(Level::info, Texts::bullet + port.path);
#if defined(Q_OS_LINUX)
    if (m_ports.isEmpty())
        log(Level::info, Texts::linuxPortAdvice);
#endif
}

bool FlashManager::requirePort()
{
    if (m_selectedPort)
        return true;
    setStatusDetail(Texts::selectPortFirst);
    return false;
}

void FlashManager::connect()
{
    if (!requirePort()) {
        log(Level::warning, Texts::noPortSelectedLog);
        return;
    }
    runOperation(OperationStatus::connecting, Texts::connecting,
                 [this, port = *m_selectedPort] { return connectOperation(port); });
}

QCoro::Task<> FlashManager::connectOperation(SerialPortInfo port)
{
    EsptoolRunner runner(m_logger, m_paths, &m_versionCheck);
    const EsptoolChipSummary summary = co_await runner.readChipInfo(port.path);
    const std::optional<RunningFirmware> running = co_await readRunningFirmware(port.path);
    setChipSummary(summary);
    setRunningFirmware(running);
    checkPackageAgainstDevice();
    // The connection's own line stays the last word.
    const QString text = summary.summaryText();
    setStatusDetail(text);
    log(Level::success, Texts::connected + text);
}

QCoro::Task<std::optional<RunningFirmware>> FlashManager::readRunningFirmware(QString port)
{
    const QString file = m_paths.temporaryDirectory + Texts::applicationHeaderPrefix +
                         QUuid::createUuid().toString(QUuid::WithoutBraces) + u".bin"_s;
    const QStringList arguments = EsptoolRunner::readApplicationHeaderArguments(file);
    EsptoolRunner runner(m_logger, m_paths, &m_versionCheck);
    std::optional<QString> failure;
    try {
        co_await runner.run(std::move(port), arguments);
    } catch (...) {
        failure = describe(std::current_exception());
    }
    QFile header(file);
    QByteArray bytes;
    if (!failure && header.open(QIODevice::ReadOnly))
        bytes = header.read(0x100);
    else if (!failure)
        failure = Texts::headerNotWritten;
    header.close();
    header.remove();
    if (failure) {
        log(Level::warning, Texts::runningUnreadable + *failure);
        co_return std::nullopt;
    }
    const RunningFirmware running{appDescriptor(bytes)};
    log(Level::info, running.application ? Texts::runningPrefix + applicationText(*running.application)
                                         : Texts::noRunningApplication);
    co_return running;
}

void FlashManager::checkPackageAgainstDevice()
{
    if (!m_packageInspection)
        return;
    const std::optional<quint16> reported =
        m_chipSummary ? chipRevisionFull(m_chipSummary->chipType) : std::nullopt;
    for (const ImageCheck &check : std::as_const(m_packageInspection->files)) {
        if (!reported)
            break;
        const quint16 revision = *reported;
        if (check.image.verdict != EspImageInfo::Verdict::sound || check.image.acceptsRevision(revision))
            continue;
        const bool tooOld = revision < check.image.minChipRevisionFull;
        log(Level::warning,
            check.fileName + (tooOld ? Texts::atLeastRevision : Texts::atMostRevision) +
                revisionText(tooOld ? check.image.minChipRevisionFull : check.image.maxChipRevisionFull) +
                Texts::revisionSuffix + revisionText(revision) + u'.');
    }
    const std::optional<AppDescriptor> package = m_packageInspection->application();
    if (package && m_runningFirmware && m_runningFirmware->application &&
        compareVersions(m_runningFirmware->application->version, package->version) == VersionOrder::older)
        log(Level::warning, Texts::olderPackage + package->version + Texts::olderPackageMiddle +
                                m_runningFirmware->application->version + Texts::olderPackageSuffix);
}

void FlashManager::logInspection(const PackageInspection &inspection)
{
    if (const std::optional<AppDescriptor> application = inspection.application()) {
        QString line = Texts::applicationPrefix + application->projectName + u' ' + application->version;
        const QString date = buildDateText(*application);
        if (!date.isEmpty() || !application->time.isEmpty())
            line += Texts::builtOn + QStringList{date, application->time}.join(u' ').trimmed();
        if (!application->idfVersion.isEmpty())
            line += Texts::idfPrefix + application->idfVersion;
        log(Level::info, line);
    }
    for (const ImageCheck &check : inspection.files) {
        if (!check.recognised())
            log(Level::warning,
                check.fileName +
                    (check.role == ImageCheck::Role::partitionTable ? Texts::notATable : Texts::notAnImage));
    }
}

void FlashManager::removeExtractedFirmware()
{
    if (!m_extractedFirmwareDirectory)
        return;
    // By raw name: a name that is not valid UTF-8 must not keep the folder on disk.
    removeFolderTree(m_extractedFirmwareDirectory->toLocalFile()); // a failure changes nothing here
    m_extractedFirmwareDirectory.reset();
    Q_EMIT extractedFirmwareDirectoryChanged();
}

void FlashManager::loadFirmware(const QUrl &zip)
{
    if (m_isBusy)
        return;
    setFailureHint({});
    removeExtractedFirmware();
    const QUrl folder =
        QUrl::fromLocalFile(m_paths.temporaryDirectory + u'/' + Texts::extractionFolderPrefix +
                            QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper());
    QList<FirmwareImage> images;
    PackageInspection inspection;
    try {
        ZipExtractor::extract(zip, folder);
        // Names from Windows' own zip tool arrive in its code page; discovery needs them readable.
        if (const int repaired = repairFileNames(folder.toLocalFile()))
            log(Level::info,
                Texts::namesRepairedPrefix + QString::number(repaired) + Texts::namesRepairedSuffix);
        const QList<QUrl> files = regularFiles(folder);
        if (files.isEmpty())
            throw FirmwareImageError::missingFile(Texts::firmwareFilesInZip);
        images = arduinoImages(files, folder, m_paths);
        inspection = inspectPackage(images);
    } catch (const Error &error) {
        const std::optional<FailureHint> hint = diagnoseFailure(std::current_exception());
        assign(m_packageInspection, {}, &FlashManager::packageInspectionChanged);
        assign(m_firmwareImages, {}, &FlashManager::firmwareImagesChanged);
        assign(m_selectedFirmwareZipName, {}, &FlashManager::selectedFirmwareZipNameChanged);
        setStatus(OperationStatus::error);
        setStatusDetail(error.description());
        setFailureHint(hint ? hint->text : QString());
        log(Level::error, error.description());
        if (hint)
            log(Level::warning, hint->text);
        return;
    }

    const QString zipName = zip.fileName();
    assign(m_packageInspection, std::optional(inspection), &FlashManager::packageInspectionChanged);
    assign(m_firmwareImages, images, &FlashManager::firmwareImagesChanged);
    assign(m_extractedFirmwareDirectory, std::optional(folder),
           &FlashManager::extractedFirmwareDirectoryChanged);
    assign(m_selectedFirmwareZipName, std::optional(zipName), &FlashManager::selectedFirmwareZipNameChanged);
    setStatus(OperationStatus::idle);
    setStatusDetail(Texts::firmwareReadyPrefix + QString::number(images.size()) + Texts::firmwareReadySuffix);
    log(Level::success, Texts::zipLoaded + zipName);
    for (const FirmwareImage &image : std::as_const(images))
        log(Level::info, imageLogLine(image));
    logInspection(inspection);
    checkPackageAgainstDevice();
}

void FlashManager::flash()
{
    if (!requirePort())
        return;
    if (m_firmwareImages.isEmpty()) {
        setStatusDetail(Texts::selectFirmwareFirst);
        log(Level::warning, Texts::noFirmwareSelectedLog);
        return;
    }
    log(Level::info, QString::number(m_firmwareImages.size()) + Texts::filesToWrite);
    runOperation(
        OperationStatus::flashing, Texts::writing,
        [this, port = *m_selectedPort, images = m_firmwareImages] { return flashOperation(port, images); });
}

QCoro::Task<> FlashManager::flashOperation(SerialPortInfo port, QList<FirmwareImage> images)
{
    EsptoolRunner runner(m_logger, m_paths, &m_versionCheck);
    setEsptoolRunner(&runner);
    // Reports come from the tool's output handling; each lands as its own main-thread job.
    auto report = [this](const QString &text, double fraction) {
        QMetaObject::invokeMethod(
            this,
            [this, text, fraction] {
                setProgress(fraction);
                setStatusDetail(text);
            },
            Qt::QueuedConnection);
    };
    std::exception_ptr failure;
    try {
        co_await runner.flash(port.path, images, report);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!failure) {
        setRunningFirmware(std::nullopt); // the device now runs the package
        setProgress(1.0);
        setStatusDetail(Texts::writeComplete);
    }
    setEsptoolRunner(nullptr);
    if (failure)
        std::rethrow_exception(failure);
}

void FlashManager::eraseFlash()
{
    if (!requirePort())
        return;
    runOperation(OperationStatus::erasing, Texts::erasing,
                 [this, port = *m_selectedPort] { return eraseOperation(port); });
}

QCoro::Task<> FlashManager::eraseOperation(SerialPortInfo port)
{
    EsptoolRunner runner(m_logger, m_paths, &m_versionCheck);
    co_await runner.run(port.path, EsptoolRunner::eraseArguments());
    setRunningFirmware(std::nullopt);
    setProgress(1.0);
    setStatusDetail(Texts::erased);
}

void FlashManager::reboot()
{
    if (!requirePort())
        return;
    runOperation(OperationStatus::rebooting, Texts::rebooting,
                 [this, port = *m_selectedPort] { return rebootOperation(port); });
}

QCoro::Task<> FlashManager::rebootOperation(SerialPortInfo port)
{
    EsptoolRunner runner(m_logger, m_paths, &m_versionCheck);
    co_await runner.run(port.path, EsptoolRunner::rebootArguments());
    setChipSummary(std::nullopt);
    setStatusDetail(Texts::rebootSent);
}
