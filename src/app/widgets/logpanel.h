#pragma once

#include "logger.h"

#include <QGroupBox>
#include <QString>

class QListView;

/// "[14:03:27] [UYARI] message": an entry as the log panel shows it, in local time.
[[nodiscard]] QString logLine(const LogEntry &entry);

/// "Günlük (Log)": the controller's log, oldest first, kept scrolled to the newest line while it
/// is open. Only the lines in view are drawn.
class LogPanel final : public QGroupBox
{
    Q_OBJECT

public:
    explicit LogPanel(Logger *logger, QWidget *parent = nullptr);

    [[nodiscard]] QListView *view() const { return m_view; }
    /// Called when the panel is opened: the list starts at its top.
    void scrollToTop();
    /// The focus ring in the colours of the current palette.
    Q_INVOKABLE void updateLook();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void followNewest();
    /// Gives the list the log's lines, or takes them away.
    void holdLines(bool hold);

    Logger *m_logger;
    QListView *m_view;
};
