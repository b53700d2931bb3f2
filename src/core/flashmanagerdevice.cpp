#include "flashmanager.h"

#include "error.h"
#include "esptoolrunner.h"

#include <QFile>
#include <QUuid>

using namespace Qt::StringLiterals;

namespace Texts {
const auto noPortSelectedLog = u"Port seçilmedi"_s;
const auto connecting = u"Bağlanıyor"_s;
const auto connected = u"Bağlandı: "_s;
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
} // namespace Texts

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
    prepare(runner);
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
        failure = failureDescription(std::current_exception());
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
