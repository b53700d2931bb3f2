#pragma once

#include <QGroupBox>

class FlashManager;
class LineLimitedLabel;
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

    FlashManager *m_manager;
    LineLimitedLabel *m_name;
    QPushButton *m_choose;
};
