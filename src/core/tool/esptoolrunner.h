#pragma once

#include "esptoolerror.h"
#include "esptoolchipsummary.h"
#include "esptoollaunch.h"
#include "esptoolprogress.h" // parseProgress, for the callers of flash
#include "firmwarepackage.h"
#include "platformpaths.h"

#include <QCoroTask>
#include <QObject>
#include <QProcess>
#include <QStringList>

#include <functional>
#include <optional>

class Logger;

/// Runs the external esptool program for one device operation at a time: finds it,
/// starts it with the fixed chip, port and baud arguments, logs the command line and every
/// output line, and turns its exit status into a result or an EsptoolError.
class EsptoolRunner final : public QObject
{
    Q_OBJECT

public:
    using LineCallback = std::function<void(const QString &line)>;
    using ProgressCallback = std::function<void(const QString &text, double fraction)>;
    /// Looks at the port right before the tool starts; throws to start nothing.
    using Preflight = std::function<void(const QString &port)>;

    /// The speed of every ordinary run.
    static constexpr int defaultBaudRate = 921600;

    /// `versionCheck` is the session's record of tool versions; without one, no version is
    /// checked or logged.
    explicit EsptoolRunner(Logger *logger, PlatformPaths paths = PlatformPaths::system(),
                           EsptoolVersionCheck *versionCheck = nullptr, QObject *parent = nullptr);
    /// A tool that still runs is left running: its process deletes itself when it ends. The
    /// run that waited for it ends at once with OperationCancelled.
    ~EsptoolRunner() override;

    /// The executable to run (see ::locateEsptool). Throws EsptoolError::notFound.
    [[nodiscard]] QString locateEsptool() const;

    /// The "--baud" of the following runs.
    void setBaudRate(int baudRate) { m_baudRate = baudRate; }
    /// Called by each run once the tool is found, before anything is logged or started.
    void setPreflight(Preflight preflight) { m_preflight = std::move(preflight); }

    /// Runs the tool with the fixed prefix and `extraArguments`; every output line goes to
    /// the log and to `onLine`, in arrival order, on the main thread. Returns the output on
    /// exit status 0: all of it up to EsptoolOutput::collectedLimit characters; past that,
    /// the whole lines within the limit and then the first line with each key the chip query
    /// reads, so that a flood costs no memory. Throws EsptoolError (notFound, failed) or,
    /// when the tool cannot be started, PlatformError with the system's text.
    QCoro::Task<QString> run(QString port, QStringList extraArguments, LineCallback onLine = {});

    /// Asks the chip on `port` who it is.
    QCoro::Task<EsptoolChipSummary> readChipInfo(QString port);

    /// Writes `images` at their offsets; reports how far the whole write is after each
    /// progress line of the tool (see WriteProgress), then ("Flash complete", 1.0) after a
    /// successful run.
    QCoro::Task<> flash(QString port, QList<FirmwareImage> images, ProgressCallback progress);

    [[nodiscard]] static QStringList chipIdArguments();
    [[nodiscard]] static QStringList eraseArguments();
    [[nodiscard]] static QStringList rebootArguments();
    /// Reads the first 0x100 bytes of the application at 0x10000 into `file`.
    [[nodiscard]] static QStringList readApplicationHeaderArguments(const QString &file);

private:
    /// The fixed prefix (chip, port, speed), then `extraArguments`.
    [[nodiscard]] static QStringList commandLine(const QString &port, int baudRate,
                                                 const QStringList &extraArguments);
    /// "write-flash" with `images` in the order of their offsets.
    [[nodiscard]] static QStringList writeArguments(QList<FirmwareImage> images);

    /// `run`, also handing the unfinished last line to `onUnfinishedLine` whenever it grows.
    QCoro::Task<QString> runTool(QString port, QStringList extraArguments, LineCallback onLine,
                                 LineCallback onUnfinishedLine);

    Logger *m_logger;
    PlatformPaths m_paths;
    EsptoolVersionCheck *m_versionCheck;
    int m_baudRate = defaultBaudRate;
    Preflight m_preflight;
};
