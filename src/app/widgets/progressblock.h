#pragma once

#include <QString>
#include <QWidget>

class FlashManager;
class QLabel;
class QProgressBar;

/// "42%" for 0.42: the whole part of the hundredfold, as the tool counts it.
[[nodiscard]] QString percentText(double progress);

/// The progress label, percentage and bar, in both layouts.
class ProgressBlock final : public QWidget
{
    Q_OBJECT

public:
    /// `name` prefixes the object names, one block per layout.
    ProgressBlock(FlashManager *manager, const QString &name, QWidget *parent = nullptr);

    /// The bar's track and filled part in the colours of the current palette.
    Q_INVOKABLE void updateLook();

private:
    void updateProgress();

    FlashManager *m_manager;
    QLabel *m_percent;
    QProgressBar *m_bar;
};
