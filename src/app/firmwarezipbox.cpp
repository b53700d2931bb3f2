#include "firmwarezipbox.h"

#include "enablingrules.h"
#include "flashmanager.h"
#include "linelimitedlabel.h"
#include "style.h"
#include "texts.h"

#include <QHBoxLayout>
#include <QPushButton>

using namespace Qt::StringLiterals;

FirmwareZipBox::FirmwareZipBox(FlashManager *manager, QWidget *parent)
    : QGroupBox(Texts::firmwareZipTitle, parent), m_manager(manager), m_name(new LineLimitedLabel(2, this)),
      m_choose(Style::button(Texts::chooseFirmwareZip, this))
{
    setObjectName(u"firmwareZipBox"_s);
    m_name->setObjectName(u"firmwareZipName"_s);
    m_name->setFont(Style::callout());
    m_choose->setObjectName(u"compactChooseZipButton"_s);
    m_choose->setToolTip(Texts::chooserMessage);
    QObject::connect(m_choose, &QPushButton::clicked, this, &FirmwareZipBox::chooseRequested);

    auto *layout = new QHBoxLayout(this);
    layout->addWidget(m_name, 1, Qt::AlignVCenter);
    layout->addWidget(m_choose, 0, Qt::AlignVCenter);

    QObject::connect(manager, &FlashManager::selectedFirmwareZipNameChanged, this,
                     &FirmwareZipBox::updateName);
    auto updateEnabled = [this] { m_choose->setEnabled(EnablingRules::whenIdle(*m_manager)); };
    QObject::connect(manager, &FlashManager::isBusyChanged, this, updateEnabled);
    updateEnabled();
    updateName();
}

void FirmwareZipBox::updateName()
{
    m_name->setText(m_manager->selectedFirmwareZipName().value_or(Texts::notChosenYet));
}
