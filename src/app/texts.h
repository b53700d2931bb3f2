#pragma once

#include "flashmanager.h"
#include "logger.h"

#include <QString>
#include <QStringList>

/// Every text the window shows, in one place.
namespace Texts {
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
extern const QString portExample;
extern const QString zipContentsNote;
extern const QString bytesAt;

extern const QString showWholeText;
extern const QString showLessText;
extern const QString restartsByItself;
extern const QString closeRefused;

extern const QString chooserMessage;
extern const QString zipFilter;

/// The badge and card title of a status.
[[nodiscard]] QString statusTitle(FlashManager::OperationStatus status);
/// The label a log line shows for its level.
[[nodiscard]] QString levelLabel(Level level);
/// The numbered steps of the guide, in order.
[[nodiscard]] const QStringList &guideSteps();
} // namespace Texts
