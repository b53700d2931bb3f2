#include "headerview.h"

#include "statusbadge.h"
#include "style.h"
#include "texts.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

HeaderView::HeaderView(FlashManager *manager, QWidget *parent) : QWidget(parent)
{
    setObjectName(u"header"_s);
    auto *title = new QLabel(Texts::applicationName, this);
    title->setObjectName(u"titleLabel"_s);
    title->setFont(Style::title2());
    auto *subtitle = new QLabel(Texts::subtitle, this);
    subtitle->setObjectName(u"subtitleLabel"_s);
    subtitle->setFont(Style::subheadline());
    Style::setTextColor(subtitle, Style::Role::secondary);

    auto *titles = new QVBoxLayout;
    titles->setSpacing(4);
    titles->addWidget(title);
    titles->addWidget(subtitle);

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(titles);
    layout->addStretch();
    layout->addWidget(new StatusBadge(manager, this), 0, Qt::AlignVCenter);
}
