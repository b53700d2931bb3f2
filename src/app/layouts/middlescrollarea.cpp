#include "middlescrollarea.h"

#include <QEvent>
#include <QResizeEvent>
#include <QScrollBar>

using namespace Qt::StringLiterals;

MiddleScrollArea::MiddleScrollArea(const QString &name, QWidget *parent) : QScrollArea(parent)
{
    setObjectName(name);
    setFrameShape(QFrame::NoFrame);
    setWidgetResizable(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFocusPolicy(Qt::NoFocus);
    viewport()->setAutoFillBackground(false);
    auto *content = new QWidget;
    content->setAutoFillBackground(false);
    setWidget(content);
}

int MiddleScrollArea::contentHeight(int width) const
{
    const QWidget *content = widget();
    if (!content)
        return 0;
    return content->hasHeightForWidth() ? content->heightForWidth(width) : content->sizeHint().height();
}

int MiddleScrollArea::heightToShowAll(int width) const
{
    const QScrollBar *bar = verticalScrollBar();
    return contentHeight(width - (bar->isVisible() ? bar->width() : 0));
}

QSize MiddleScrollArea::sizeHint() const
{
    return {QScrollArea::sizeHint().width(), heightToShowAll(width())};
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
