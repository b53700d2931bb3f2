#pragma once

#include <QWidget>

class FlashManager;
class QLabel;
class QPushButton;

/// What the user can do about the last failure, with a warning symbol and, after a write
/// that stopped half-way, "Daha yavaş dene"; hidden when there is nothing to say.
class FailureHintView final : public QWidget
{
    Q_OBJECT

public:
    explicit FailureHintView(FlashManager *manager, QWidget *parent = nullptr);

    [[nodiscard]] QString text() const;
    /// Shows `hint`, or hides the view when it is empty.
    void showHint(const QString &hint);
    /// Draws the symbol in the colours of the current palette.
    Q_INVOKABLE void updateLook();

private:
    void updateRetry();

    FlashManager *m_manager;
    QLabel *m_symbol;
    QLabel *m_text;
    QPushButton *m_retry;
};
