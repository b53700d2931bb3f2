#pragma once

#include "flashmanager.h"
#include "logger.h"

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

extern const QString deviceLabel;
extern const QString firmwareZipLabel;
extern const QString statusLabel;
extern const QString progressLabel;
extern const QString notChosenYet;

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

extern const QString chooserMessage;
extern const QString zipFilter;

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
