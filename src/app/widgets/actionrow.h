#pragma once

#include <QWidget>

class FlashManager;
class QPushButton;

/// The details layout's buttons: choose a zip, erase, write, reboot.
class ActionRow final : public QWidget
{
    Q_OBJECT

public:
    explicit ActionRow(FlashManager *manager, QWidget *parent = nullptr);

Q_SIGNALS:
    void chooseRequested();

private:
    void updateEnabled();

    FlashManager *m_manager;
    QPushButton *m_choose;
    QPushButton *m_erase;
    QPushButton *m_flash;
    QPushButton *m_reboot;
};
