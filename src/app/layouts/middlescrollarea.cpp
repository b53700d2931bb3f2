#include "middlescrollarea.h"

#include <QEvent>
#include <QResizeEvent>
#include <QScrollBar>

using namespace Qt::StringLiterals;

MiddleScrollArea::MiddleScrollArea(QWidget *parent) : QScrollArea(parent)
{
    setObjectName(u"compactMiddle"_s);
    setFrameShape(QFrame::NoFrame);
    setWidgetResizable(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFocusPolicy(Qt::NoFocus);
    viewport()->setAutoFillBackground(false);
}

int MiddleScrollArea::contentHeight(int width) const
{
    const QWidget *content = widget();
    if (!content)
        return 0;
    return content->hasHeightForWidth() ? content->heightForWidth(width) : content->sizeHint().height();
}

QSize MiddleScrollArea::sizeHint() const
{
    // Beside the scroll bar while it shows: it goes only once the content fits there.
    const QScrollBar *bar = verticalScrollBar();
    return {QScrollArea::sizeHint().width(), contentHeight(width() - (bar->isVisible() ? bar->width() : 0))};
}

QSize MiddleScrollArea::minimumSizeHint() const
{
    return {0, 0}; // on a short screen it gives all its room to the outcome and the write button
}

// The content's wish for another height reaches the layout the area stands in.
bool MiddleScrollArea::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == widget() && event->type() == QEvent::LayoutRequest)
        updateGeometry();
    return QScrollArea::eventFilter(watched, event);
}

void MiddleScrollArea::resizeEvent(QResizeEvent *event)
{
    QScrollArea::resizeEvent(event);
    if (event->oldSize().width() != event->size().width())
        updateGeometry(); // wrapped text needs another height at another width
}
