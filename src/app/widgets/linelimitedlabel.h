#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>

/// A wrapping text that shows at most a given number of lines, ending the last one with "…"
/// when the text goes on. Words too long for a line are broken anywhere.
class LineLimitedLabel final : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(QString text READ text WRITE setText FINAL)

public:
    /// `maximumLines` 0 means no limit.
    explicit LineLimitedLabel(int maximumLines, QWidget *parent = nullptr);

    [[nodiscard]] const QString &text() const { return m_text; }
    void setText(const QString &text);

    /// The lines as drawn at `width`.
    [[nodiscard]] QStringList visibleLines(int width) const;

    [[nodiscard]] bool hasHeightForWidth() const override { return true; }
    [[nodiscard]] int heightForWidth(int width) const override;
    [[nodiscard]] QSize sizeHint() const override;
    [[nodiscard]] QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    QString m_text;
    int m_maximumLines;
};
