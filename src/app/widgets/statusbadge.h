#pragma once

#include <QWidget>

class FlashManager;
class QLabel;
class StatusDot;

/// The status title with its coloured dot on a capsule, at the right of the header.
class StatusBadge final : public QWidget
{
    Q_OBJECT

public:
    explicit StatusBadge(FlashManager *manager, QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void updateStatus();

    FlashManager *m_manager;
    StatusDot *m_dot;
    QLabel *m_title;
};
