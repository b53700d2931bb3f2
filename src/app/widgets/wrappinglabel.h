#pragma once

#include <QLabel>

#include <array>

/// A label whose text wraps at word boundaries, measured cheaply: QLabel lays its whole text out
/// again for every answer, up to five times for its size hints alone, and while a window settles
/// its layouts ask the same widths many times. This one lays out once for its hints and remembers
/// its height at the last few widths.
class WrappingLabel final : public QLabel
{
    Q_OBJECT

public:
    explicit WrappingLabel(const QString &text = {}, QWidget *parent = nullptr);
    explicit WrappingLabel(QWidget *parent) : WrappingLabel({}, parent) {}

    [[nodiscard]] int heightForWidth(int width) const override;
    /// As wide as QLabel would try first (80 average characters, or less when the label may not
    /// be that wide), as high as the text is there.
    [[nodiscard]] QSize sizeHint() const override;
    /// One line, of a width no layout here goes below: the window's least width keeps words whole.
    [[nodiscard]] QSize minimumSizeHint() const override;

protected:
    void changeEvent(QEvent *event) override;

private:
    struct Measure
    {
        int width = -1;
        int height = -1;
    };
    mutable QString m_measuredText; // the text the heights below belong to
    mutable std::array<Measure, 4> m_heights;
    mutable std::size_t m_oldest = 0;
};
