#include "statuscard.h"

#include "flashmanager.h"
#include "linelimitedlabel.h"
#include "statusdot.h"
#include "style.h"
#include "texts.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

StatusCard::StatusCard(FlashManager *manager, QWidget *parent)
    : QWidget(parent), m_manager(manager), m_dot(new StatusDot(10, this)), m_title(new QLabel(this)),
      m_detail(new LineLimitedLabel(2, this))
{
    setObjectName(u"statusCard"_s);
    m_dot->setObjectName(u"statusCardDot"_s);
    m_title->setObjectName(u"statusCardTitle"_s);
    m_title->setFont(Style::headline());
    m_detail->setObjectName(u"statusCardDetail"_s);
    m_detail->setFont(Style::caption());

    auto *texts = new QVBoxLayout;
    texts->setSpacing(2);
    texts->addWidget(m_title);
    texts->addWidget(m_detail);

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(12, 12, 12, 12);
    layout->setSpacing(10);
    layout->addWidget(m_dot, 0, Qt::AlignVCenter);
    layout->addLayout(texts, 1);

    QObject::connect(manager, &FlashManager::statusChanged, this, &StatusCard::updateStatus);
    QObject::connect(manager, &FlashManager::statusDetailChanged, this, &StatusCard::updateStatus);
    QObject::connect(manager, &FlashManager::isBusyChanged, this, &StatusCard::updateStatus);
    updateStatus();
}

void StatusCard::updateStatus()
{
    using Status = FlashManager::OperationStatus;
    const Status status = m_manager->status();
    m_title->setText(Texts::statusTitle(status));
    m_dot->setColor(Style::statusColor(status));
    // The message matters while something runs and once it has ended; at rest the title says it all.
    const bool showDetail = m_manager->isBusy() || status == Status::complete || status == Status::error;
    m_detail->setText(m_manager->statusDetail());
    Style::setTextColor(m_detail, status == Status::error ? Style::red() : Style::secondaryText());
    m_detail->setVisible(showDetail);
}

void StatusCard::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Style::quaternaryFill(0.35));
    painter.drawRoundedRect(QRectF(rect()), 10, 10);
}
