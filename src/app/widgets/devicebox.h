#pragma once

#include <QGroupBox>

class FlashManager;
class LineLimitedLabel;
class QLabel;

/// "Bağlı Cihaz": the device, the loaded zip and the current message, in the details layout.
class DeviceBox final : public QGroupBox
{
    Q_OBJECT

public:
    explicit DeviceBox(FlashManager *manager, QWidget *parent = nullptr);

private:
    void updateDevice();
    void updateFirmware();
    void updateStatus();
    void updateRunningFirmware();

    FlashManager *m_manager;
    QLabel *m_device;
    QLabel *m_firmware;
    QLabel *m_running;    ///< what the device runs
    QLabel *m_comparison; ///< how the loaded package stands to it
    LineLimitedLabel *m_status;
};
