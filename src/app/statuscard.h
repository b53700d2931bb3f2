#pragma once

#include <QWidget>

class FlashManager;
class LineLimitedLabel;
class QLabel;
class StatusDot;

/// The large status display of the compact layout: title, and the current message while
/// something runs or after it ended.
class StatusCard final : public QWidget
{
    Q_OBJECT

public:
    explicit StatusCard(FlashManager *manager, QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void updateStatus();

    FlashManager *m_manager;
    StatusDot *m_dot;
    QLabel *m_title;
    LineLimitedLabel *m_detail;
};
