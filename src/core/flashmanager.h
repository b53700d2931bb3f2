#pragma once

#include "esptoolchipsummary.h"
#include "esptoollaunch.h"
#include "failurediagnosis.h"
#include "firmwarepackage.h"
#include "logger.h"
#include "operationhandle.h"
#include "packageinspection.h"
#include "packagesignature.h"
#include "platformpaths.h"
#include "portdetails.h"
#include "serialports.h"

#include <QCoroTask>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

class EsptoolRunner;

/// The program's one controller: holds everything the window shows and runs the user's
/// operations. Lives on the main thread. The operations never fail to their caller; every
/// outcome reaches the window through the properties and the log.
class FlashManager final : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QList<SerialPortInfo> ports READ ports NOTIFY portsChanged FINAL)
    Q_PROPERTY(std::optional<SerialPortInfo> selectedPort READ selectedPort WRITE setSelectedPort NOTIFY
                   selectedPortChanged FINAL)
    Q_PROPERTY(std::optional<EsptoolChipSummary> chipSummary READ chipSummary NOTIFY chipSummaryChanged FINAL)
    Q_PROPERTY(QList<FirmwareImage> firmwareImages READ firmwareImages NOTIFY firmwareImagesChanged FINAL)
    Q_PROPERTY(std::optional<QString> selectedFirmwareZipName READ selectedFirmwareZipName NOTIFY
                   selectedFirmwareZipNameChanged FINAL)
    Q_PROPERTY(OperationStatus status READ status NOTIFY statusChanged FINAL)
    Q_PROPERTY(QString statusDetail READ statusDetail NOTIFY statusDetailChanged FINAL)
    Q_PROPERTY(double progress READ progress NOTIFY progressChanged FINAL)
    Q_PROPERTY(bool isBusy READ isBusy NOTIFY isBusyChanged FINAL)
    Q_PROPERTY(EsptoolRunner *esptoolRunner READ esptoolRunner NOTIFY esptoolRunnerChanged FINAL)
    Q_PROPERTY(QString failureHint READ failureHint NOTIFY failureHintChanged FINAL)
    Q_PROPERTY(int slowerRetryBaudRate READ slowerRetryBaudRate NOTIFY slowerRetryChanged FINAL)
    Q_PROPERTY(std::optional<QUrl> extractedFirmwareDirectory READ extractedFirmwareDirectory NOTIFY
                   extractedFirmwareDirectoryChanged FINAL)
    Q_PROPERTY(std::optional<PackageInspection> packageInspection READ packageInspection NOTIFY
                   packageInspectionChanged FINAL)
    Q_PROPERTY(std::optional<RunningFirmware> runningFirmware READ runningFirmware NOTIFY
                   runningFirmwareChanged FINAL)
    Q_PROPERTY(std::optional<WrittenFirmware> writtenFirmware READ writtenFirmware NOTIFY
                   writtenFirmwareChanged FINAL)

public:
    enum class OperationStatus { idle, scanning, connecting, erasing, flashing, rebooting, complete, error };
    Q_ENUM(OperationStatus)

    using Operation = std::function<QCoro::Task<>()>;

    explicit FlashManager(PlatformPaths paths = PlatformPaths::system(),
                          SignaturePolicy signatures = SignaturePolicy::builtIn(), QObject *parent = nullptr);
    ~FlashManager() override;

    [[nodiscard]] Logger *logger() const { return m_logger; }
    [[nodiscard]] const PlatformPaths &paths() const { return m_paths; }
    [[nodiscard]] const QList<SerialPortInfo> &ports() const { return m_ports; }
    [[nodiscard]] const std::optional<SerialPortInfo> &selectedPort() const { return m_selectedPort; }
    void setSelectedPort(const std::optional<SerialPortInfo> &port);
    [[nodiscard]] const std::optional<EsptoolChipSummary> &chipSummary() const { return m_chipSummary; }
    [[nodiscard]] const QList<FirmwareImage> &firmwareImages() const { return m_firmwareImages; }
    [[nodiscard]] const std::optional<QString> &selectedFirmwareZipName() const
    {
        return m_selectedFirmwareZipName;
    }
    [[nodiscard]] OperationStatus status() const { return m_status; }
    [[nodiscard]] const QString &statusDetail() const { return m_statusDetail; }
    [[nodiscard]] double progress() const { return m_progress; }
    [[nodiscard]] bool isBusy() const { return m_isBusy; }
    [[nodiscard]] const std::shared_ptr<OperationHandle> &operationTask() const { return m_operationTask; }
    [[nodiscard]] EsptoolRunner *esptoolRunner() const { return m_esptoolRunner; }
    [[nodiscard]] const std::optional<QUrl> &extractedFirmwareDirectory() const
    {
        return m_extractedFirmwareDirectory;
    }

    /// What the user can do about the last failed device operation, in plain Turkish;
    /// empty when there is nothing to say.
    [[nodiscard]] const QString &failureHint() const { return m_failureHint; }
    /// The file every log entry is also written to; empty when there is none.
    [[nodiscard]] const QString &logFilePath() const { return m_logFilePath; }

    /// Whether this build trusts any key: without one, an unsigned package is the usual case
    /// and is not worth a warning.
    [[nodiscard]] bool checksSignatures() const { return !m_signaturePolicy.trustedKeys.isEmpty(); }
    /// What the files of the loaded package are; set with `firmwareImages`, before it notifies.
    [[nodiscard]] const std::optional<PackageInspection> &packageInspection() const
    {
        return m_packageInspection;
    }
    /// What the device runs, as the last connection read it; cleared with the chip summary
    /// and by a write or an erase.
    [[nodiscard]] const std::optional<RunningFirmware> &runningFirmware() const { return m_runningFirmware; }
    /// What the last operation, a successful write, put on the device; cleared when the next
    /// operation starts.
    [[nodiscard]] const std::optional<WrittenFirmware> &writtenFirmware() const { return m_writtenFirmware; }
    /// The speed that retryFlashSlower() would write at after a transfer that stopped
    /// half-way; 0 when there is no such offer.
    [[nodiscard]] int slowerRetryBaudRate() const { return m_slowerRetry ? m_slowerRetry->baudRate : 0; }

    /// Whether a refresh has looked for ports yet: before it, an empty list says nothing.
    [[nodiscard]] bool portsScanned() const { return m_portsScanned; }
    /// What the system says of a listed port (maker, product, IDs), as found by the last refresh.
    [[nodiscard]] std::optional<PortDetails> portDetails(const SerialPortInfo &port) const;
    /// Where the refresh gets port details; none leaves every port undescribed.
    void setPortDetailsSource(PortDetailsSource source);

    /// The chip summary, else the selected port's name, else "Cihaz bağlı değil".
    [[nodiscard]] QString deviceDisplayText() const;
    /// The loaded zip's name, else "—".
    [[nodiscard]] QString firmwareDisplayText() const;

    /// Rescans the USB serial ports and keeps or repairs the selection.
    void refreshPorts();
    /// Reads the identity of the chip on the selected port.
    void connect();
    /// Unpacks the firmware zip and finds the images to write.
    void loadFirmware(const QUrl &zip);
    /// Writes the loaded images to the chip on the selected port.
    void flash();
    /// Runs the write that stopped half-way once more, at the slower speed on offer.
    void retryFlashSlower();
    /// Erases the whole flash of the chip on the selected port.
    void eraseFlash();
    /// Resets the chip on the selected port.
    void reboot();

    /// Starts a device operation unless one is running: sets the busy state, runs
    /// `operation` as a task on the main thread and turns its outcome into the final
    /// status, message and log entry.
    void runOperation(OperationStatus status, const QString &detail, Operation operation);

Q_SIGNALS:
    void portsChanged();
    void selectedPortChanged();
    void chipSummaryChanged();
    void firmwareImagesChanged();
    void selectedFirmwareZipNameChanged();
    void statusChanged();
    void statusDetailChanged();
    void progressChanged();
    void isBusyChanged();
    void operationTaskChanged();
    void esptoolRunnerChanged();
    void extractedFirmwareDirectoryChanged();
    void failureHintChanged();
    void packageInspectionChanged();
    void runningFirmwareChanged();
    void writtenFirmwareChanged();
    void slowerRetryChanged();
    void portDetailsChanged();

private:
    /// A write to run again slower: what it wrote, where, and at which speed.
    struct SlowerRetry
    {
        SerialPortInfo port;
        QList<FirmwareImage> images;
        int baudRate = 0;
    };

    QCoro::Task<> execute(std::shared_ptr<OperationHandle> handle, Operation operation);
    QCoro::Task<> connectOperation(SerialPortInfo port);
    /// Reads the descriptor of the application the device runs. A failure is only a warning.
    QCoro::Task<std::optional<RunningFirmware>> readRunningFirmware(QString port);
    /// Warns when the package does not suit the connected chip's revision, or is older than
    /// what the device runs.
    void checkPackageAgainstDevice();
    void logInspection(const PackageInspection &inspection);
    QCoro::Task<> flashOperation(SerialPortInfo port, QList<FirmwareImage> images, int baudRate);
    QCoro::Task<> eraseOperation(SerialPortInfo port);
    QCoro::Task<> rebootOperation(SerialPortInfo port);
    /// Gives a new runner the checks of the port it must make before the tool starts.
    void prepare(EsptoolRunner &runner);
    void clearFailureHint();
    void removeExtractedFirmware();
    /// False, after asking the user to pick a port, when none is selected. The check comes
    /// before the busy check of runOperation, so it answers even while an operation runs.
    bool requirePort();
    void log(Level level, const QString &message);
    /// What the window shows of a failure's hint: the hint, its reason, then the log file.
    [[nodiscard]] QString hintText(const std::optional<FailureHint> &hint) const;

    void setChipSummary(const std::optional<EsptoolChipSummary> &summary);
    void setStatus(OperationStatus status);
    void setStatusDetail(const QString &detail);
    void setProgress(double progress);
    void setIsBusy(bool busy);
    void setEsptoolRunner(EsptoolRunner *runner);
    void setFailureHint(const QString &hint);
    void setRunningFirmware(const std::optional<RunningFirmware> &firmware);
    void setWrittenFirmware(const std::optional<WrittenFirmware> &firmware);
    /// The application among `images` as the package's inspection read it.
    [[nodiscard]] std::optional<AppDescriptor> applicationAmong(const QList<FirmwareImage> &images) const;

    /// Writes `value` and notifies, unless it equals what is there.
    template <typename T> void assign(T &field, T value, void (FlashManager::*changed)());

    PlatformPaths m_paths;
    SignaturePolicy m_signaturePolicy;
    Logger *m_logger;
    QList<SerialPortInfo> m_ports;
    bool m_portsScanned = false;
    std::optional<SerialPortInfo> m_selectedPort;
    std::optional<EsptoolChipSummary> m_chipSummary;
    QList<FirmwareImage> m_firmwareImages;
    std::optional<QString> m_selectedFirmwareZipName;
    OperationStatus m_status = OperationStatus::idle;
    QString m_statusDetail;
    double m_progress = 0;
    bool m_isBusy = false;
    std::shared_ptr<OperationHandle> m_operationTask;
    EsptoolRunner *m_esptoolRunner = nullptr;
    std::optional<QUrl> m_extractedFirmwareDirectory;
    QString m_failureHint;
    EsptoolVersionCheck m_versionCheck;
    std::optional<PackageInspection> m_packageInspection;
    std::optional<RunningFirmware> m_runningFirmware;
    std::optional<WrittenFirmware> m_writtenFirmware;
    std::optional<SlowerRetry> m_slowerRetry;
    std::optional<SlowerRetry> m_failedWrite; // kept by a failing write until its failure is shown
    PortDetailsSource m_portDetailsSource;
    QHash<QString, PortDetails> m_portDetails;
    QString m_logFilePath;
};

template <typename T> void FlashManager::assign(T &field, T value, void (FlashManager::*changed)())
{
    if (field == value)
        return;
    field = std::move(value);
    Q_EMIT(this->*changed)();
}
