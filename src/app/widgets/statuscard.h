#pragma once

#include <QWidget>

class FailureHintView;
class FlashManager;
class QLabel;
class QPushButton;
class StatusDot;

/// The large status display of the compact layout: the title; after a failure what to do about
/// it; the current message while something runs or after it ended.
class StatusCard final : public QWidget
{
    Q_OBJECT

public:
    explicit StatusCard(FlashManager *manager, QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void updateStatus();
    void updateExpansion();

    FlashManager *m_manager;
    StatusDot *m_dot;
    QLabel *m_title;
    FailureHintView *m_hint;
    QLabel *m_detail;
    QPushButton *m_expand;
    QLabel *m_writeNote; // the cable warning while writing, what was written after
    QLabel *m_restartNote;
    bool m_expanded = false;
    bool m_writing = false; // the running or last operation is a write
};
