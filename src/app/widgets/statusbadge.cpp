#include "statusbadge.h"

#include "flashmanager.h"
#include "statusdot.h"
#include "style.h"
#include "texts.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>

using namespace Qt::StringLiterals;

StatusBadge::StatusBadge(FlashManager *manager, QWidget *parent)
    : QWidget(parent), m_manager(manager), m_dot(new StatusDot(8, this)), m_title(new QLabel(this))
{
    setObjectName(u"statusBadge"_s);
    m_dot->setObjectName(u"statusBadgeDot"_s);
    m_title->setObjectName(u"statusBadgeTitle"_s);
    m_title->setFont(Style::subheadline(QFont::Medium));

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(10, 6, 10, 6);
    layout->setSpacing(6);
    layout->addWidget(m_dot, 0, Qt::AlignVCenter);
    layout->addWidget(m_title, 0, Qt::AlignVCenter);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);

    QObject::connect(manager, &FlashManager::statusChanged, this, &StatusBadge::updateStatus);
    updateStatus();
}

void StatusBadge::updateStatus()
{
    m_title->setText(Texts::statusTitle(m_manager->status()));
    m_dot->setRole(Style::statusRole(m_manager->status()));
}

void StatusBadge::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Style::quaternaryFill(0.5));
    const QRectF capsule(rect());
    painter.drawRoundedRect(capsule, capsule.height() / 2, capsule.height() / 2);
}
