#include "flashmanager.h"

#include "esptoolrunner.h"
#include "failurediagnosis.h"

#include <QMetaObject>

using namespace Qt::StringLiterals;

namespace Texts {
const auto selectFirmwareFirst = u"Önce firmware zip seçin."_s;
const auto noFirmwareSelectedLog = u"Firmware seçilmedi"_s;
const auto filesToWrite = u" dosya esptool ile yüklenecek."_s;
const auto connectingToWrite = u"Cihaza bağlanılıyor"_s;
const auto writeComplete = u"Yükleme tamamlandı."_s;
const auto erasing = u"Flash siliniyor"_s;
const auto erased = u"Flash silindi."_s;
const auto rebooting = u"Yeniden başlatılıyor"_s;
const auto rebootSent = u"Yeniden başlatma gönderildi."_s;
const auto slowerRetry = u"Yükleme daha düşük hızda tekrarlanıyor: %1 baud"_s;
} // namespace Texts

namespace {
/// The speed to try after a write at `baudRate` stopped half-way, or nothing below the last.
std::optional<int> slowerBaudRate(int baudRate)
{
    for (const int slower : {460800, 115200})
        if (slower < baudRate)
            return slower;
    return std::nullopt;
}
} // namespace

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
    runOperation(OperationStatus::flashing, Texts::connectingToWrite,
                 [this, port = *m_selectedPort, images = m_firmwareImages] {
                     return flashOperation(port, images, EsptoolRunner::defaultBaudRate);
                 });
}

void FlashManager::retryFlashSlower()
{
    if (!m_slowerRetry || m_isBusy)
        return;
    const SlowerRetry retry = *m_slowerRetry;
    log(Level::info, Texts::slowerRetry.arg(retry.baudRate));
    runOperation(OperationStatus::flashing, Texts::connectingToWrite,
                 [this, retry] { return flashOperation(retry.port, retry.images, retry.baudRate); });
}

QCoro::Task<> FlashManager::flashOperation(SerialPortInfo port, QList<FirmwareImage> images, int baudRate)
{
    EsptoolRunner runner(m_logger, m_paths, &m_versionCheck);
    prepare(runner);
    runner.setBaudRate(baudRate);
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
        // The tool verified every byte it wrote: the device now runs the package's application.
        const std::optional<AppDescriptor> written = applicationAmong(images);
        const std::optional<AppDescriptor> previous =
            m_runningFirmware ? m_runningFirmware->application : std::nullopt;
        setRunningFirmware(written ? std::optional(RunningFirmware{written}) : std::nullopt);
        setProgress(1.0);
        setStatusDetail(Texts::writeComplete);
        if (written) {
            setWrittenFirmware(WrittenFirmware{*written, previous});
            log(Level::success, writtenFirmwareText(*m_writtenFirmware));
        }
    }
    setEsptoolRunner(nullptr);
    if (failure) {
        // The write is safe to repeat (the tool verifies what it wrote); the offer is shown
        // with the failure.
        if (const std::optional<int> slower = slowerBaudRate(baudRate); slower && isTransferFailure(failure))
            m_failedWrite = SlowerRetry{port, images, *slower};
        std::rethrow_exception(failure);
    }
}

std::optional<AppDescriptor> FlashManager::applicationAmong(const QList<FirmwareImage> &images) const
{
    if (!m_packageInspection)
        return std::nullopt;
    for (const FirmwareImage &image : images) {
        const ImageCheck *check = m_packageInspection->find(image.id);
        if (check && check->role == ImageCheck::Role::application && check->image.descriptor)
            return check->image.descriptor;
    }
    return std::nullopt;
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
    prepare(runner);
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
    prepare(runner);
    co_await runner.run(port.path, EsptoolRunner::rebootArguments());
    setChipSummary(std::nullopt);
    setStatusDetail(Texts::rebootSent);
}
