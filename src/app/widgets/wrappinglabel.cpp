#include "wrappinglabel.h"

#include <QEvent>

WrappingLabel::WrappingLabel(const QString &text, QWidget *parent) : QLabel(text, parent)
{
    setWordWrap(true);
}

int WrappingLabel::heightForWidth(int width) const
{
    // QLabel::setText is not virtual: a text other than the measured one is seen here.
    if (m_measuredText != text()) {
        m_measuredText = text();
        m_heights.fill({});
    }
    for (const Measure &measure : m_heights)
        if (measure.width == width)
            return measure.height;
    const int height = QLabel::heightForWidth(width);
    m_heights[m_oldest] = {width, height};
    m_oldest = (m_oldest + 1) % m_heights.size();
    return height;
}

QSize WrappingLabel::sizeHint() const
{
    const int width = qMin(fontMetrics().averageCharWidth() * 80, maximumWidth());
    return {width, heightForWidth(width)};
}

QSize WrappingLabel::minimumSizeHint() const
{
    const QMargins margins = contentsMargins();
    const int frame = 2 * (margin() + frameWidth());
    return {fontMetrics().averageCharWidth() * 10 + margins.left() + margins.right() + frame,
            fontMetrics().height() + margins.top() + margins.bottom() + frame};
}

void WrappingLabel::changeEvent(QEvent *event)
{
    // What the text is drawn with, or the room around it, changed: every height is old.
    switch (event->type()) {
    case QEvent::FontChange:
    case QEvent::StyleChange:
    case QEvent::ContentsRectChange:
        m_heights.fill({});
        break;
    default:
        break;
    }
    QLabel::changeEvent(event);
}
