#include "wrappinglabel.h"

#include <QEvent>
#include <QGlyphRun>
#include <QPainter>
#include <QTextBoundaryFinder>

#include <algorithm>
#include <cmath>

namespace {
constexpr qsizetype longParagraph = 256;
} // namespace

WrappingLabel::WrappingLabel(const QString &text, QWidget *parent) : QLabel(text, parent)
{
    setTextFormat(Qt::PlainText);
    setWordWrap(true);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

WrappingLabel::~WrappingLabel() = default;

const std::vector<WrappingLabel::Paragraph> &WrappingLabel::shaped() const
{
    // QLabel::setText is not virtual: a new text is seen here.
    if (m_shapedValid && m_shapedText == text())
        return m_paragraphs;
    m_shapedText = text();
    m_shapedValid = true;
    m_paragraphs.clear();
    for (const QString &piece : m_shapedText.split(u'\n')) {
        Paragraph paragraph;
        paragraph.layout = std::make_unique<QTextLayout>(piece, font());
        QTextOption option;
        option.setWrapMode(QTextOption::NoWrap);
        paragraph.layout->setTextOption(option);
        paragraph.layout->beginLayout();
        QTextLine line = paragraph.layout->createLine();
        line.setPosition({0, 0});
        paragraph.layout->endLayout();

        // Where a word ends is asked of the shaped line one end at a time, at a cost that grows
        // with the line: a long paragraph (a tool's flood, say) is laid out anew at each width.
        paragraph.perWidth = piece.size() > longParagraph;
        QTextBoundaryFinder finder(QTextBoundaryFinder::Line, piece);
        for (qsizetype end = paragraph.perWidth ? -1 : finder.toNextBoundary(); end > 0;
             end = finder.toNextBoundary()) {
            qsizetype ink = end;
            while (ink > 0 && piece.at(ink - 1).isSpace())
                --ink;
            paragraph.ends.push_back(end);
            paragraph.x.push_back(line.cursorToX(int(end)));
            paragraph.inkX.push_back(line.cursorToX(int(ink)));
        }
        m_paragraphs.push_back(std::move(paragraph));
    }
    return m_paragraphs;
}

QList<WrappingLabel::Line> WrappingLabel::lines(int width) const
{
    QList<Line> found;
    const std::vector<Paragraph> &paragraphs = shaped();
    for (std::size_t index = 0; index < paragraphs.size(); ++index) {
        const Paragraph &paragraph = paragraphs[index];
        if (paragraph.perWidth) {
            QTextLayout wrapped(paragraph.layout->text(), font());
            QTextOption option;
            option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
            wrapped.setTextOption(option);
            wrapped.beginLayout();
            for (QTextLine line = wrapped.createLine(); line.isValid(); line = wrapped.createLine()) {
                line.setLineWidth(width);
                found.append({qsizetype(index), line.textStart(), line.textLength()});
            }
            wrapped.endLayout();
            continue;
        }
        const auto count = qsizetype(paragraph.ends.size());
        if (count == 0) { // an empty paragraph is an empty line
            found.append({qsizetype(index), 0, 0});
            continue;
        }
        const QTextLine shapedLine = paragraph.layout->lineAt(0);
        qsizetype start = 0;
        qreal startX = 0;
        qsizetype next = 0; // the first end past `start`
        while (next < count) {
            qsizetype fits = -1;
            for (qsizetype j = next; j < count && paragraph.inkX[std::size_t(j)] - startX <= width; ++j)
                fits = j;
            qsizetype end = 0;
            if (fits >= 0) {
                end = paragraph.ends[std::size_t(fits)];
                startX = paragraph.x[std::size_t(fits)];
                next = fits + 1;
            } else {
                // A word longer than the line: as many of its characters as fit, at least one.
                const QString &text = paragraph.layout->text();
                end = start + 1;
                for (qsizetype c = start + 2; c < paragraph.ends[std::size_t(next)]; ++c)
                    if (!text.at(c).isLowSurrogate()) {
                        if (shapedLine.cursorToX(int(c)) - startX > width)
                            break;
                        end = c;
                    }
                if (end < text.size() && text.at(end).isLowSurrogate())
                    ++end;
                startX = shapedLine.cursorToX(int(end));
                if (end == paragraph.ends[std::size_t(next)])
                    ++next;
            }
            found.append({qsizetype(index), start, end - start});
            start = end;
        }
    }
    return found;
}

QMargins WrappingLabel::textMargins() const
{
    const int around = margin() + frameWidth();
    return contentsMargins() + QMargins(around, around, around, around);
}

int WrappingLabel::heightForWidth(int width) const
{
    const QMargins margins = textMargins();
    const int textWidth = width - margins.left() - margins.right();
    return int(lines(textWidth).size()) * fontMetrics().height() + margins.top() + margins.bottom();
}

QSize WrappingLabel::sizeHint() const
{
    qreal natural = 0;
    for (const Paragraph &paragraph : shaped())
        natural = std::max(natural, paragraph.layout->lineAt(0).naturalTextWidth());
    const QMargins margins = textMargins();
    const int limit = std::min(fontMetrics().averageCharWidth() * 80, maximumWidth());
    const int width = std::min(int(std::ceil(natural)), limit) + margins.left() + margins.right();
    return {width, heightForWidth(width)};
}

QSize WrappingLabel::minimumSizeHint() const
{
    qreal widest = 0;
    for (const Paragraph &paragraph : shaped())
        for (std::size_t j = 0; j < paragraph.ends.size(); ++j)
            widest = std::max(widest, paragraph.inkX[j] - (j == 0 ? 0 : paragraph.x[j - 1]));
    const QMargins margins = textMargins();
    return {int(std::ceil(widest)) + margins.left() + margins.right(),
            fontMetrics().height() + margins.top() + margins.bottom()};
}

void WrappingLabel::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    painter.setPen(palette().color(foregroundRole()));
    const QRect area = contentsRect().marginsRemoved(textMargins() - contentsMargins());
    const int pitch = fontMetrics().height();
    int top = area.top();
    for (const Line &line : lines(area.width())) {
        if (top > event->rect().bottom())
            break; // what a limited height hides is not drawn
        const QTextLayout &layout = *m_paragraphs[std::size_t(line.paragraph)].layout;
        const qreal startX = layout.lineAt(0).cursorToX(int(line.start));
        for (const QGlyphRun &run : layout.glyphRuns(int(line.start), int(line.length)))
            painter.drawGlyphRun(QPointF(area.left() - startX, top), run);
        top += pitch;
    }
}

void WrappingLabel::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::FontChange) {
        m_shapedValid = false; // shaped with the old font
        updateGeometry();
    }
    QLabel::changeEvent(event);
}
