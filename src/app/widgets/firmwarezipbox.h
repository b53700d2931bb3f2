#pragma once

#include <QGroupBox>

class FlashManager;
class LineLimitedLabel;
class QLabel;
class QPushButton;

/// "Firmware Zip" of the compact layout: the loaded zip's name and the button that chooses one.
class FirmwareZipBox final : public QGroupBox
{
    Q_OBJECT

public:
    explicit FirmwareZipBox(FlashManager *manager, QWidget *parent = nullptr);

Q_SIGNALS:
    void chooseRequested();

private:
    void updateName();
    void updatePackage();

    FlashManager *m_manager;
    LineLimitedLabel *m_name;
    QLabel *m_package;  ///< what the package is: project, version, build date
    QLabel *m_signed;   ///< beside the package line when a trusted key signed it
    QLabel *m_unsigned; ///< the warning for a package without a signature
    QPushButton *m_choose;
};
