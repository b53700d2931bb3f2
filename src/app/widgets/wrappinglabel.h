#pragma once

#include <QLabel>
#include <QList>
#include <QTextLayout>

#include <memory>
#include <vector>

/// A plain text that wraps at word boundaries (a word longer than a line is broken where it
/// must), laid out and drawn by itself. QLabel shapes its whole text anew for every height a
/// layout asks for, up to five times for its size hints alone and once more to paint; while a
/// window settles, a text is asked for its height at several widths. This label shapes its text
/// once, and finds the lines for any width from where its words end.
class WrappingLabel final : public QLabel
{
    Q_OBJECT

public:
    explicit WrappingLabel(const QString &text = {}, QWidget *parent = nullptr);
    explicit WrappingLabel(QWidget *parent) : WrappingLabel({}, parent) {}
    ~WrappingLabel() override;

    /// Where each line starts and how many characters it holds, at `width` (the text's own
    /// width, without margins).
    struct Line
    {
        qsizetype paragraph = 0;
        qsizetype start = 0;
        qsizetype length = 0;
    };
    [[nodiscard]] QList<Line> lines(int width) const;

    [[nodiscard]] bool hasHeightForWidth() const override { return true; }
    [[nodiscard]] int heightForWidth(int width) const override;
    /// The whole text on one line, at most 80 average characters wide.
    [[nodiscard]] QSize sizeHint() const override;
    /// The longest word, on one line.
    [[nodiscard]] QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    /// One paragraph, shaped on a single line, with where a line may end and how far in that is.
    struct Paragraph
    {
        std::unique_ptr<QTextLayout> layout;
        std::vector<qsizetype> ends; // positions a line may end at, last = the paragraph's end
        std::vector<qreal> x;        // at each end, the width from the paragraph's start
        std::vector<qreal> inkX;     // the same, trailing blanks left out
        bool perWidth = false;       // too long to find its ends this way: laid out at each width
    };
    /// Shapes the text if it or the font changed since last time.
    const std::vector<Paragraph> &shaped() const;
    [[nodiscard]] QMargins textMargins() const;

    mutable QString m_shapedText;
    mutable std::vector<Paragraph> m_paragraphs;
    mutable bool m_shapedValid = false;
};
