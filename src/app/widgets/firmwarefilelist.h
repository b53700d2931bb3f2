#pragma once

#include <QGroupBox>
#include <QString>

struct FirmwareImage;
class FlashManager;
class QLabel;
class QVBoxLayout;

/// "16384 bayt @ 0x8000": an image's size and the flash address it goes to.
[[nodiscard]] QString sizeLine(const FirmwareImage &image);

/// "Firmware Dosyaları": one row per image of the loaded firmware, in the details layout.
class FirmwareFileList final : public QGroupBox
{
    Q_OBJECT

public:
    explicit FirmwareFileList(FlashManager *manager, QWidget *parent = nullptr);

private:
    void updateImages();

    FlashManager *m_manager;
    QVBoxLayout *m_rows;
    QLabel *m_empty;
    QLabel *m_package; ///< what the package is: project, version, build date
};
