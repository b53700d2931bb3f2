#pragma once

#include "flashmanager.h"
#include "logger.h"
#include "packageinspection.h"

#include <QString>
#include <QStringList>

/// Every text the window shows, in one place.
namespace Texts {
/// The system a text is worded for: the guide and the examples name its own things (the
/// Mac and its Applications folder, or the Linux package and its ports).
enum class Platform { macOS, Linux };
#if defined(Q_OS_MACOS)
inline constexpr Platform thisPlatform = Platform::macOS;
#else
inline constexpr Platform thisPlatform = Platform::Linux;
#endif

extern const QString applicationName;
extern const QString subtitle;

extern const QString guideTitle;
extern const QString firmwareZipTitle;
extern const QString usbPortTitle;
extern const QString connectedDeviceTitle;
extern const QString firmwareFilesTitle;
extern const QString logTitle;
/// What a screen reader calls the log list.
extern const QString logName;

extern const QString deviceLabel;
extern const QString firmwareZipLabel;
extern const QString statusLabel;
extern const QString progressLabel;
extern const QString notChosenYet;
extern const QString signedPackage;
extern const QString unsignedPackage;

extern const QString chooseFirmwareZip;
extern const QString refreshPorts;
extern const QString connectChip;
extern const QString eraseFlash;
extern const QString flashFirmware;
extern const QString reboot;
extern const QString showDetails;
extern const QString hideDetails;

extern const QString noPortEntry;
extern const QString zipContentsNote;
extern const QString bytesAt;

extern const QString retrySlower;
extern const QString showWholeText;
extern const QString showLessText;
extern const QString restartsByItself;
extern const QString keepCableIn;
extern const QString closeRefused;

extern const QString chooserMessage;
extern const QString zipFilter;

/// "olvex_fw 1.4.2 · 2 Kasım 2026": what a package is, by its application.
[[nodiscard]] QString packageLine(const AppDescriptor &application);
/// What a file of the package is: "ESP32-S3 önyükleyici", "bölüm tablosu: 5 bölüm",
/// "uygulama 1,2 MB / bölüm 3 MB", or the warning for content that could not be judged.
[[nodiscard]] QString verdict(const ImageCheck &check);
/// "1,2 MB", or "12 KB" below a megabyte.
[[nodiscard]] QString byteSize(quint64 bytes);
/// "Cihazdaki yazılım: olvex_fw 1.3.0 (12 Ekim 2026)", or that the device has no application.
[[nodiscard]] QString runningFirmwareLine(const RunningFirmware &running);
/// How the package stands to the device: "1.3.0 → 1.4.2", "aynı sürüm" or "paket daha eski".
struct Comparison
{
    QString text;
    bool warning = false;
};
[[nodiscard]] Comparison comparison(const AppDescriptor &device, const AppDescriptor &package);

/// The badge and card title of a status.
[[nodiscard]] QString statusTitle(FlashManager::OperationStatus status);
/// The label a log line shows for its level.
[[nodiscard]] QString levelLabel(Level level);
/// The numbered steps of the guide, in order.
[[nodiscard]] const QStringList &guideSteps(Platform platform = thisPlatform);
/// The example below the compact port picker.
[[nodiscard]] const QString &portExample(Platform platform = thisPlatform);
/// " — Espressif", after the picker's entry of an Espressif device.
extern const QString espressifSuffix;
} // namespace Texts
