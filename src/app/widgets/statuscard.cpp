#include "statuscard.h"

#include "failurehintview.h"
#include "flashmanager.h"
#include "statusdot.h"
#include "style.h"
#include "texts.h"
#include "tooltext.h"
#include "wrappinglabel.h"

#include <QApplication>
#include <QGridLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QtMath>

using namespace Qt::StringLiterals;

namespace {
// A failure's tool text shows this many lines until the user asks for all of them; a running
// operation's message at most two.
constexpr int failureLines = 3;
constexpr int busyLines = 2;
} // namespace

StatusCard::StatusCard(FlashManager *manager, QWidget *parent)
    : QWidget(parent), m_manager(manager), m_dot(new StatusDot(10, this)), m_title(new QLabel(this)),
      m_hint(new FailureHintView(manager, this)), m_detail(new WrappingLabel(this)),
      m_expand(new QPushButton(Texts::showWholeText, this)), m_writeNote(new WrappingLabel(this)),
      m_restartNote(new WrappingLabel(Texts::restartsByItself, this))
{
    setObjectName(u"statusCard"_s);
    m_dot->setObjectName(u"statusCardDot"_s);
    m_title->setObjectName(u"statusCardTitle"_s);
    m_title->setFont(Style::headline());
    m_hint->setObjectName(u"compactFailureHint"_s);
    m_detail->setObjectName(u"statusCardDetail"_s);
    m_detail->setTextFormat(Qt::PlainText);
    m_detail->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_detail->setMinimumWidth(1); // a long path is cut at the edge rather than widening the window
    m_expand->setObjectName(u"statusCardExpand"_s);
    m_expand->setFlat(true);
    m_expand->setFont(Style::caption());
    m_writeNote->setObjectName(u"statusCardWriteNote"_s);
    m_writeNote->setTextFormat(Qt::PlainText);
    m_restartNote->setObjectName(u"statusCardRestartNote"_s);
    QObject::connect(m_expand, &QPushButton::clicked, this, [this] {
        m_expanded = !m_expanded;
        updateExpansion();
    });

    auto *layout = new QGridLayout(this);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->setHorizontalSpacing(10);
    layout->setVerticalSpacing(6);
    layout->setColumnStretch(1, 1);
    layout->addWidget(m_dot, 0, 0, Qt::AlignCenter);
    layout->addWidget(m_title, 0, 1);
    // The hint comes first: it says in the user's words what to do; the tool's text backs it up.
    layout->addWidget(m_hint, 1, 1);
    layout->addWidget(m_detail, 2, 1);
    layout->addWidget(m_expand, 3, 1, Qt::AlignLeft);
    layout->addWidget(m_writeNote, 4, 1);
    layout->addWidget(m_restartNote, 5, 1);

    QObject::connect(manager, &FlashManager::statusChanged, this, &StatusCard::updateStatus);
    QObject::connect(manager, &FlashManager::statusDetailChanged, this, &StatusCard::updateStatus);
    QObject::connect(manager, &FlashManager::isBusyChanged, this, &StatusCard::updateStatus);
    QObject::connect(manager, &FlashManager::writtenFirmwareChanged, this, &StatusCard::updateStatus);
    QObject::connect(manager, &FlashManager::failureHintChanged, this, &StatusCard::updateStatus);
    updateStatus();
}

void StatusCard::updateStatus()
{
    using Status = FlashManager::OperationStatus;
    const Status status = m_manager->status();
    const bool failed = status == Status::error;
    const bool succeeded = status == Status::complete;
    // The end status arrives while still busy: remember what ran, not how it ended.
    if (m_manager->isBusy() && !failed && !succeeded)
        m_writing = status == Status::flashing;
    m_title->setText(Texts::statusTitle(status));
    m_dot->setRole(Style::statusRole(status));
    // The check mark and the restart note tell of a finished write, not of a chip read.
    m_dot->setCheckMark(succeeded && m_writing);

    // The message matters while something runs and once it has ended; at rest the title says it all.
    // A failure told in our own words is the hint itself: it is not repeated below it.
    const bool toldByHint = failed && m_manager->failureHint().startsWith(m_manager->statusDetail());
    m_detail->setVisible((m_manager->isBusy() || succeeded || failed) && !toldByHint);
    const QString text = readableToolText(m_manager->statusDetail());
    if (m_detail->text() != text)
        m_expanded = false;
    m_detail->setText(text);
    m_detail->setToolTip(m_manager->statusDetail());
    // A success reads in the normal size; the tool's words after a failure are smaller than the
    // hint above them, and can be selected to pass them on.
    m_detail->setFont(succeeded ? QApplication::font() : Style::caption());
    Style::setTextColor(m_detail, failed ? Style::Role::red
                                         : (succeeded ? Style::Role::primary : Style::Role::secondary));
    m_detail->setTextInteractionFlags(failed ? Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard
                                             : Qt::NoTextInteraction);
    m_detail->setFocusPolicy(failed ? Qt::ClickFocus : Qt::NoFocus);
    QString note;
    if (m_manager->isBusy() && status == Status::flashing)
        note = Texts::keepCableIn;
    else if (const std::optional<WrittenFirmware> &written = m_manager->writtenFirmware();
             succeeded && written)
        note = writtenFirmwareText(*written);
    m_writeNote->setText(note);
    m_writeNote->setVisible(!note.isEmpty());
    m_restartNote->setVisible(succeeded && m_writing);
    updateExpansion();
}

void StatusCard::updateExpansion()
{
    const bool failed = m_manager->status() == FlashManager::OperationStatus::error;
    const int lines = failed ? failureLines : busyLines;
    // Selectable text is laid out in whole pixels per line.
    const int limit = lines * qCeil(QFontMetricsF(m_detail->font()).lineSpacing()) + 1;
    const bool cut =
        m_detail->isVisibleTo(this) && m_detail->heightForWidth(qMax(1, m_detail->width())) > limit;
    const bool succeeded = m_manager->status() == FlashManager::OperationStatus::complete;
    m_detail->setMaximumHeight(succeeded || (failed && m_expanded) ? QWIDGETSIZE_MAX : limit);
    m_expand->setVisible(failed && (cut || m_expanded));
    m_expand->setText(m_expanded ? Texts::showLessText : Texts::showWholeText);
}

void StatusCard::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    updateExpansion();
}

void StatusCard::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Style::quaternaryFill(0.35));
    painter.drawRoundedRect(QRectF(rect()), 10, 10);
}
