#include "contentview.h"

#include "accessibility.h"
#include "actionrow.h"
#include "buttonkeys.h"
#include "compactlayout.h"
#include "detailslayout.h"
#include "firmwarezipbox.h"
#include "flashmanager.h"
#include "guideview.h"
#include "headerview.h"
#include "logpanel.h"
#include "middlescrollarea.h"
#include "style.h"
#include "texts.h"

#include <QEasingCurve>
#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QVBoxLayout>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {
constexpr int switchDuration = 200; // ms

/// A one-pixel rule in the separator colour, drawn as one filled row: a style's line drawing
/// costs the first paint more than the whole rule is worth.
class Divider final : public QWidget
{
public:
    explicit Divider(QWidget *parent) : QWidget(parent)
    {
        setFixedHeight(1);
        Style::setTextColor(this, Style::Role::separator);
    }

protected:
    void paintEvent(QPaintEvent *) override { QPainter(this).fillRect(rect(), Style::textColor(this)); }
};

/// The root of the window's content. Asked for its height at a width, it gives the least it can
/// do with, so that the scroll area around it lets the compact layout's middle give way first.
class SqueezableRoot final : public QWidget
{
public:
    using QWidget::QWidget;
    [[nodiscard]] int heightForWidth(int width) const override
    {
        return layout()->hasHeightForWidth() ? layout()->totalMinimumHeightForWidth(width) : -1;
    }
};

/// The usual ease-in-ease-out curve of desktop animations.
QEasingCurve easeInEaseOut()
{
    QEasingCurve curve(QEasingCurve::BezierSpline);
    curve.addCubicBezierSegment(QPointF(0.42, 0), QPointF(0.58, 1), QPointF(1, 1));
    return curve;
}
/// The widgets below `widget` that Tab stops at, in the order its layouts place them.
void collectTabStops(const QLayout *layout, QList<QWidget *> &stops)
{
    for (int i = 0; i < layout->count(); ++i) {
        QLayoutItem *item = layout->itemAt(i);
        if (QWidget *child = item->widget()) {
            if (child->focusPolicy() & Qt::TabFocus)
                stops.append(child);
            if (const auto *area = qobject_cast<QScrollArea *>(child); area && area->widget())
                child = area->widget();
            if (child->layout())
                collectTabStops(child->layout(), stops);
        } else if (const QLayout *inner = item->layout()) {
            collectTabStops(inner, stops);
        }
    }
}

void collectTabStops(const QWidget *widget, QList<QWidget *> &stops)
{
    if (widget->layout())
        collectTabStops(widget->layout(), stops);
}
} // namespace

ContentView::ContentView(QWidget *parent)
    : ContentView(PlatformPaths::system(), SignaturePolicy::builtIn(), parent)
{
}

ContentView::ContentView(PlatformPaths paths, SignaturePolicy signatures, QWidget *parent)
    : QWidget(parent), m_manager(new FlashManager(std::move(paths), std::move(signatures), this)),
      m_chooser(&ContentView::chooseWithDialog), m_scrollArea(new QScrollArea(this)),
      m_root(new SqueezableRoot), m_compact(new QWidget(m_root)), m_details(new QWidget(m_root)),
      m_toggle(Style::button(Texts::showDetails, m_root, Texts::hideDetails)),
      m_closeNotice(new QLabel(m_root)), m_resize(new QPropertyAnimation(this))
{
    installAccessibility();
    setObjectName(u"contentView"_s);
    m_root->setObjectName(u"rootLayout"_s);
    m_compact->setObjectName(u"compactLayout"_s);
    m_details->setObjectName(u"detailsLayout"_s);
    m_toggle->setObjectName(u"detailsToggle"_s);

    // Content that does not fit a small screen scrolls instead of being cut off. The root is
    // given to the area while empty, so that it is measured once, when shown, at its real width.
    m_scrollArea->setObjectName(u"contentScrollArea"_s);
    m_scrollArea->setFrameShape(QFrame::NoFrame);
    m_scrollArea->setWidgetResizable(true);
    m_scrollArea->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    m_scrollArea->setFocusPolicy(Qt::NoFocus);
    m_scrollArea->setWidget(m_root);
    m_scrollArea->viewport()->setAutoFillBackground(false);
    m_root->setAutoFillBackground(false);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_scrollArea);

    // Compact: what an end user needs for an update. Details: every operation, the device, the
    // files and the log.
    const CompactParts compact = buildCompactLayout(m_compact, m_manager);
    m_guide = compact.guide;
    m_middle = compact.middle;
    m_outcome = compact.top;
    m_writeButton = compact.bottom;
    QObject::connect(compact.zipBox, &FirmwareZipBox::chooseRequested, this, &ContentView::chooseFirmwareZip);
    // Once a package and a port are chosen the steps are done: the guide folds to its title.
    QObject::connect(m_manager, &FlashManager::firmwareImagesChanged, this, &ContentView::updateGuideFold);
    QObject::connect(m_manager, &FlashManager::selectedPortChanged, this, &ContentView::updateGuideFold);
    m_details->hide(); // built once the first paint is done, or when first opened

    m_closeNotice->setObjectName(u"closeNotice"_s);
    m_closeNotice->setWordWrap(true);
    Style::setTextColor(m_closeNotice, Style::Role::orange);
    m_closeNotice->hide();
    QObject::connect(m_manager, &FlashManager::isBusyChanged, m_closeNotice, [this] {
        if (!m_manager->isBusy())
            m_closeNotice->hide();
    });
    auto *bottomRow = new QHBoxLayout;
    bottomRow->addWidget(m_closeNotice, 1);
    bottomRow->addStretch();
    bottomRow->addWidget(m_toggle, 0, Qt::AlignBottom);
    QObject::connect(m_toggle, &QPushButton::clicked, this, [this] { setShowDetails(!m_showDetails); });

    auto *root = new QVBoxLayout(m_root);
    root->setContentsMargins(contentPadding, contentPadding, contentPadding, contentPadding);
    root->setSpacing(0);
    root->addWidget(new HeaderView(m_manager, m_root));
    root->addSpacing(12);
    root->addWidget(new Divider(m_root));
    root->addSpacing(12);
    root->addWidget(m_compact);
    root->addWidget(m_details);
    root->addStretch(); // a taller window leaves its extra room above the bottom row
    root->addSpacing(8);
    root->addWidget(new Divider(m_root));
    root->addSpacing(8);
    root->addLayout(bottomRow);

    followLayoutOrder(m_root); // read top to bottom, the header first
    m_root->installEventFilter(this);
    m_resize->setPropertyName("size");
    m_resize->setDuration(switchDuration);
    m_resize->setEasingCurve(easeInEaseOut());
    QObject::connect(m_resize, &QPropertyAnimation::finished, this, [this] {
        applyMinimumSize();
        fitToContent(); // skipped while the animation ran
    });
    applyMinimumSize();
    ButtonKeys::install(m_root);
    // The middle has the width the start size gives it before anything measures it: its texts
    // are then laid out at widths that are used.
    m_middle->resize(middleWidth(besideScrollBar(startSize.width())), m_middle->height());
}

void ContentView::explainRefusedClose()
{
    m_closeNotice->setText(Texts::closeRefused);
    m_closeNotice->show();
}

void ContentView::changeEvent(QEvent *event)
{
    // A new desktop theme or palette: the colours worked out from the old one go, once for a
    // burst of changes.
    const QEvent::Type type = event->type();
    if ((type == QEvent::PaletteChange || type == QEvent::ThemeChange) && !m_refreshQueued) {
        m_refreshQueued = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_refreshQueued = false;
                Style::refresh(this);
            },
            Qt::QueuedConnection);
    }
    QWidget::changeEvent(event);
}

ContentView::~ContentView() = default;

void ContentView::buildDetails()
{
    if (m_logPanel)
        return;
    m_logPanel = new LogPanel(m_manager->logger(), m_details);
    const DetailsParts parts = buildDetailsLayout(m_details, m_manager, m_logPanel);
    QObject::connect(parts.actions, &ActionRow::chooseRequested, this, &ContentView::chooseFirmwareZip);
    m_detailsMiddle = parts.middle;
    followLayoutOrder(m_details);
    ButtonKeys::install(m_details);
    // Tab goes through the details as they are laid out, then on to the toggle (made before
    // them, it would come first).
    QList<QWidget *> stops;
    collectTabStops(m_details, stops);
    for (qsizetype i = 1; i < stops.size(); ++i)
        QWidget::setTabOrder(stops.at(i - 1), stops.at(i));
    if (!stops.isEmpty())
        QWidget::setTabOrder(stops.last(), m_toggle);
}

// The window is seen first, with the compact layout only; the ports found and the details follow
// right after.
void ContentView::finishStart()
{
    m_manager->refreshPorts();
    buildDetails();
}

void ContentView::setShowDetails(bool show)
{
    if (m_showDetails == show)
        return;
    m_showDetails = show;
    if (show) {
        buildDetails();
        m_compactWindowSize = window()->size();
    }
    m_compact->setVisible(!show);
    m_details->setVisible(show);
    m_toggle->setText(show ? Texts::hideDetails : Texts::showDetails);
    if (show)
        m_logPanel->scrollToTop();
    resizeWindowForLayout();
    Q_EMIT showDetailsChanged();
}

void ContentView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_appeared)
        return;
    m_appeared = true;
    m_fittedHeight = window()->height(); // the start size is ours
    // Focus starts at the top of the view, not on the toggle at its bottom, which Qt finds first:
    // the toggle ends the tab chain, and the stop after it is the view's first control.
    for (QWidget *next = m_toggle->nextInFocusChain(); next != m_toggle; next = next->nextInFocusChain())
        if (m_root->isAncestorOf(next) && (next->focusPolicy() & Qt::TabFocus) && next->isVisibleTo(m_root) &&
            next->isEnabled()) {
            next->setFocus(Qt::TabFocusReason);
            break;
        }
}

void ContentView::setZipChooser(ZipChooser chooser)
{
    m_chooser = std::move(chooser);
}

void ContentView::chooseFirmwareZip()
{
    if (const std::optional<QUrl> zip = m_chooser(window()))
        m_manager->loadFirmware(*zip);
}
