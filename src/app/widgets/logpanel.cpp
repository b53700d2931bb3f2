#include "logpanel.h"

#include "style.h"
#include "texts.h"

#include <QAccessible>
#include <QIdentityProxyModel>
#include <QKeyEvent>
#include <QListView>
#include <QResizeEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTextLayout>
#include <QVBoxLayout>

#include <vector>

using namespace Qt::StringLiterals;

QString logLine(const LogEntry &entry)
{
    return u'[' + entry.timestamp.toLocalTime().toString(u"HH:mm:ss"_s) + u"] ["_s +
           Texts::levelLabel(entry.level) + u"] "_s + entry.message;
}

namespace {
constexpr int viewHeight = 200;
constexpr int lineGap = 4;
constexpr int sidePadding = 4;

/// Draws one entry's line in its level's colour, wrapped to the view's width. Row heights are
/// kept per row, so laying out thousands of rows after an append measures only the new ones.
class LogLineDelegate final : public QStyledItemDelegate
{
public:
    LogLineDelegate(Logger *logger, QListView *view)
        : QStyledItemDelegate(view), m_logger(logger), m_view(view)
    {
        QObject::connect(logger, &QAbstractItemModel::rowsInserted, this,
                         [this](const QModelIndex &, int first, int last) {
                             m_heights.insert(m_heights.begin() + first, size_t(last - first + 1), 0);
                         });
        QObject::connect(logger, &QAbstractItemModel::rowsRemoved, this,
                         [this](const QModelIndex &, int first, int last) {
                             m_heights.erase(m_heights.begin() + first, m_heights.begin() + last + 1);
                         });
        QObject::connect(logger, &QAbstractItemModel::modelReset, this, [this] { resetHeights(); });
        resetHeights();
    }

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        const LogEntry &entry = m_logger->entries().at(index.row());
        painter->save();
        painter->setFont(m_view->font());
        painter->setPen(Style::levelColor(entry.level));
        const QRectF area = option.rect.adjusted(sidePadding, 0, -sidePadding, -lineGap);
        painter->drawText(area, displayText(entry), textOption());
        painter->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem &, const QModelIndex &index) const override
    {
        const int width = textWidth();
        if (width != m_width) {
            m_width = width;
            resetHeights();
        }
        const auto row = size_t(index.row());
        if (row >= m_heights.size())
            return {};
        int &height = m_heights[row];
        if (height == 0)
            height = measure(m_logger->entries().at(index.row())) + lineGap;
        return {m_width + 2 * sidePadding, height};
    }

private:
    static QTextOption textOption()
    {
        QTextOption option;
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        return option;
    }

    /// The line with its line feeds as line breaks, and the tool's carriage returns dropped.
    static QString displayText(const LogEntry &entry)
    {
        QString text = logLine(entry);
        text.remove(u'\r');
        text.replace(u'\n', QChar::LineSeparator);
        return text;
    }

    [[nodiscard]] int textWidth() const { return qMax(1, m_view->viewport()->width() - 2 * sidePadding); }

    int measure(const LogEntry &entry) const
    {
        QTextLayout layout(displayText(entry), m_view->font());
        layout.setTextOption(textOption());
        layout.beginLayout();
        qreal height = 0;
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(m_width);
            height += line.height();
        }
        layout.endLayout();
        return qMax(1, qCeil(height));
    }

    void resetHeights() const { m_heights.assign(size_t(m_logger->rowCount()), 0); }

    Logger *m_logger;
    QListView *m_view;
    mutable std::vector<int> m_heights; // 0: not measured yet
    mutable int m_width = -1;
};
/// The log as the view reads it: a screen reader gets each row's whole line, time and level too.
class AccessibleLogLines final : public QIdentityProxyModel
{
public:
    AccessibleLogLines(Logger *logger, QObject *parent) : QIdentityProxyModel(parent), m_logger(logger) {}

    // One column also while it holds no lines: the accessible list divides by it.
    int columnCount(const QModelIndex &parent) const override { return parent.isValid() ? 0 : 1; }

    QVariant data(const QModelIndex &index, int role) const override
    {
        if (role == Qt::AccessibleTextRole && checkIndex(index, CheckIndexOption::IndexIsValid))
            return logLine(m_logger->entries().at(index.row())).remove(u'\r');
        return QIdentityProxyModel::data(index, role);
    }

private:
    Logger *m_logger;
};
} // namespace

LogPanel::LogPanel(Logger *logger, QWidget *parent)
    : QGroupBox(Texts::logTitle, parent), m_logger(logger), m_view(new QListView(this))
{
    setObjectName(u"logPanel"_s);
    m_view->setObjectName(u"logView"_s);
    m_view->setFont(Style::monospacedCaption());
    m_view->setFixedHeight(viewHeight);
    m_view->setSelectionMode(QAbstractItemView::NoSelection);
    m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Reached by Tab and scrolled with the keys; no selection, and copying is kept out below.
    m_view->setFocusPolicy(Qt::StrongFocus);
    m_view->setAccessibleName(Texts::logName);
    m_view->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_view->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_view->setResizeMode(QListView::Adjust);
    m_view->setUniformItemSizes(false);
    m_view->setItemDelegate(new LogLineDelegate(logger, m_view));
    m_view->setModel(new AccessibleLogLines(logger, m_view)); // its lines come when it is shown

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_view);

    QObject::connect(logger, &Logger::entriesChanged, this, &LogPanel::followNewest);
    m_view->viewport()->installEventFilter(this);
    m_view->installEventFilter(this);
    updateLook();
}

bool LogPanel::eventFilter(QObject *watched, QEvent *event)
{
    // A list view copies its current row on the copy key, selection or not.
    if (watched == m_view &&
        (event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride) &&
        static_cast<QKeyEvent *>(event)->matches(QKeySequence::Copy)) {
        event->accept();
        return true;
    }
    // A list laid out top to bottom lays itself out again only when its height changes; rows
    // measured at another width (also while the panel was hidden) would keep their heights.
    if (watched == m_view->viewport() && event->type() == QEvent::Resize) {
        const auto *resize = static_cast<QResizeEvent *>(event);
        if (resize->size().width() != resize->oldSize().width())
            m_view->doItemsLayout();
    }
    return QGroupBox::eventFilter(watched, event);
}

void LogPanel::updateLook()
{
    // The style draws no focus frame around a list: a ring that stands out from the window shows
    // that the keys now scroll the log. The transparent ring keeps the size the same.
    m_view->setStyleSheet(
        u"QListView { border: 2px solid transparent; } QListView:focus { border-color: %1; }"_s.arg(
            Style::focusRing().name(QColor::HexArgb)));
}

void LogPanel::scrollToTop()
{
    m_view->scrollToTop();
}

// A hidden list still tells a screen reader that its rows are on screen: while the details are
// hidden the panel holds none. The list is laid out again when shown, as after any change of
// width. A window minimized or on another desktop keeps its lines, and the place read in them.
void LogPanel::showEvent(QShowEvent *event)
{
    holdLines(true);
    QGroupBox::showEvent(event);
}

void LogPanel::hideEvent(QHideEvent *event)
{
    if (!event->spontaneous())
        holdLines(false);
    QGroupBox::hideEvent(event);
}

void LogPanel::holdLines(bool hold)
{
    auto *lines = static_cast<QIdentityProxyModel *>(m_view->model());
    if ((lines->sourceModel() != nullptr) == hold)
        return;
    lines->setSourceModel(hold ? m_logger : nullptr);
    // The rows the accessible list made before are gone, also while no reader listens (Qt then
    // passes no change on, and would hand out the old rows).
    QAccessibleTableModelChangeEvent change(m_view, QAccessibleTableModelChangeEvent::ModelReset);
    if (QAccessibleTableInterface *table = QAccessible::queryAccessibleInterface(m_view)->tableInterface())
        table->modelChange(&change);
    QAccessible::updateAccessibility(&change);
}

void LogPanel::followNewest()
{
    // Only while open: a closed panel opens at its top.
    if (m_view->isVisible() && m_view->model()->rowCount() > 0)
        m_view->scrollToBottom();
}
