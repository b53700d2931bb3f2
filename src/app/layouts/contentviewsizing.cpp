// How the window sizes itself: the minimum size of each layout, the resize when the layout
// switches, following the compact content as it grows and shrinks, and the guide's fold.
#include "contentview.h"

#include "flashmanager.h"
#include "guideview.h"
#include "middlescrollarea.h"

#include <QAbstractAnimation>
#include <QEvent>
#include <QLayout>
#include <QPropertyAnimation>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>

#include <algorithm>

void ContentView::applyMinimumSize()
{
    // On a small screen (or a large scale factor) the window fits the screen and its content
    // scrolls.
    setMinimumSize(
        (m_showDetails ? detailsMinimumSize : compactMinimumSize).boundedTo(availableScreenSize()));
    m_root->setMaximumWidth(m_showDetails ? detailsMaximumWidth : compactMaximumWidth);
}

void ContentView::resizeWindowForLayout()
{
    QWidget *window = this->window();
    const QSize chrome = window->size() - size();
    QSize target;
    if (m_showDetails) {
        const int targetWidth = qMax(width(), detailsIdealWidth);
        target =
            QSize(targetWidth, std::max({height(), detailsMinimumSize.height(), contentHeight(targetWidth)}));
    } else {
        target = m_compactWindowSize.isValid() ? m_compactWindowSize - chrome : size();
        // What was shown meanwhile (a failure's text and hint) may need more room than before,
        // unless the user chose the height.
        m_root->layout()->activate();
        if (!m_userSized)
            target.setHeight(qMax(target.height(), contentHeight(target.width())));
    }
    target = target.expandedTo(m_showDetails ? detailsMinimumSize : compactMinimumSize)
                 .boundedTo(availableScreenSize() - chrome);

    m_resize->stop();
    m_fittedHeight = (target + chrome).height();
    const bool animate =
        window->isVisible() && !(window->windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen));
    if (!m_showDetails || !animate)
        applyMinimumSize(); // shrinking the minimum first lets the window shrink smoothly
    if (!animate) {
        if (!(window->windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen)))
            window->resize(target + chrome);
        return;
    }
    m_resize->setTargetObject(window);
    m_resize->setStartValue(window->size());
    m_resize->setEndValue(target + chrome);
    m_resize->start();
}

bool ContentView::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_root && event->type() == QEvent::Paint && !m_painted) {
        m_painted = true;
        QMetaObject::invokeMethod(this, &ContentView::finishStart, Qt::QueuedConnection);
    }
    if (watched == m_root && event->type() == QEvent::LayoutRequest && !m_fitQueued) {
        m_fitQueued = true;
        QMetaObject::invokeMethod(this, &ContentView::fitToContent, Qt::QueuedConnection);
    }
    return QWidget::eventFilter(watched, event);
}

// The compact window follows its content (a long error, a hint, the guide folding), as far as the
// screen allows, rather than hiding the write button below the fold or leaving a blank under it.
// A height the user chose stays: the middle scrolls.
void ContentView::fitToContent()
{
    m_fitQueued = false;
    QWidget *window = this->window();
    if (!window->isVisible() || m_resize->state() == QAbstractAnimation::Running ||
        (window->windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen)))
        return;
    const int chrome = window->height() - height();
    const int room = availableScreenSize().height() - chrome;
    updateGuideFold();
    // At the viewport's width: once a scroll bar has appeared, the content is measured beside it.
    int target = qMin(contentHeight(m_scrollArea->viewport()->width()), room);
    // A height other than the last one given is the user's choice, and stays.
    m_userSized = m_userSized || (m_fittedHeight >= 0 && m_fittedHeight != window->height());
    if (m_userSized) {
        m_fittedHeight = window->height();
        QMetaObject::invokeMethod(this, &ContentView::keepOutcomeInView, Qt::QueuedConnection);
        return;
    }
    if (!m_showDetails)
        target = qMax(target, qMin(startSize.height(), room));
    else if (target <= height())
        return;
    if (target != height())
        window->resize(window->width(), target + chrome);
    m_fittedHeight = window->height();
    QMetaObject::invokeMethod(this, &ContentView::keepOutcomeInView, Qt::QueuedConnection);
}

// A screen too short even for the compact layout's fixed parts scrolls the whole content: the
// header goes out of view before the status card, so that the outcome and the write button are
// seen together.
void ContentView::keepOutcomeInView()
{
    if (m_showDetails)
        return;
    QScrollBar *bar = m_scrollArea->verticalScrollBar();
    const int top = m_outcome->mapTo(m_root, QPoint()).y();
    const int bottom = m_writeButton->mapTo(m_root, QPoint(0, m_writeButton->height())).y();
    const int shown = m_scrollArea->viewport()->height();
    if (bar->value() > top || bar->value() + shown < bottom)
        bar->setValue(qBound(0, bottom - shown, top));
}

// A first-timer sees the steps on any screen (the middle scrolls where they do not fit); once a
// package and a port are chosen they fold to their title.
void ContentView::updateGuideFold()
{
    m_guide->setFoldedByDefault(m_manager->selectedPort() && !m_manager->firmwareImages().isEmpty());
}

int ContentView::middleWidth(int width) const
{
    return qMin(width, m_showDetails ? detailsMaximumWidth : compactMaximumWidth) - 2 * contentPadding;
}

int ContentView::contentHeight(int width) const
{
    const QLayout *root = m_root->layout();
    const int all =
        root->hasHeightForWidth() ? root->totalHeightForWidth(width) : root->totalSizeHint().height();
    const MiddleScrollArea *middle = m_showDetails ? m_detailsMiddle : m_middle;
    if (!middle)
        return all;
    // The middle is counted at the height that shows all it holds, at the width it will get; once
    // its scroll bar has gone, the next fit takes back the room the bar needed.
    return all - middle->sizeHint().height() + middle->heightToShowAll(middleWidth(width));
}

QSize ContentView::availableScreenSize() const
{
    const QScreen *screen = this->screen();
    // Room for the window's title bar and frame.
    return screen ? screen->availableSize() - QSize(0, 40) : QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
}

// Measured beside a vertical scroll bar: the scroll area may try one while it lays out first.
int ContentView::besideScrollBar(int width) const
{
    return width - m_scrollArea->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
}

QSize ContentView::startWindowSize() const
{
    const int height = qMax(startSize.height(), contentHeight(besideScrollBar(startSize.width())));
    return QSize(startSize.width(), qMax(compactMinimumSize.height(), height))
        .boundedTo(availableScreenSize());
}

QSize ContentView::sizeHint() const
{
    // At the width the start size was measured at, so that the texts' measures are reused.
    const int width = m_showDetails ? detailsIdealWidth : compactIdealWidth;
    return {width, contentHeight(besideScrollBar(width))};
}
