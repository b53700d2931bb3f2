#pragma once

#include <QGroupBox>

class FlashManager;
class PortPicker;
class QLabel;
class QPushButton;

/// "USB Portu": the port picker with what the system knows of the chosen port (or why none is
/// listed), the refresh button, and in the details layout the connect button beside it.
class PortBox final : public QGroupBox
{
    Q_OBJECT

public:
    enum class Layout { compact, details };

    PortBox(FlashManager *manager, Layout layout, QWidget *parent = nullptr);

private:
    void updateEnabled();
    void updateDescription();

    FlashManager *m_manager;
    PortPicker *m_picker;
    QLabel *m_description;
    QPushButton *m_refresh;
    QPushButton *m_connect = nullptr;
};
