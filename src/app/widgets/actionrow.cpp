#include "actionrow.h"

#include "enablingrules.h"
#include "flashmanager.h"
#include "style.h"
#include "texts.h"

#include <QHBoxLayout>
#include <QPushButton>

using namespace Qt::StringLiterals;

ActionRow::ActionRow(FlashManager *manager, QWidget *parent)
    : QWidget(parent), m_manager(manager), m_choose(Style::button(Texts::chooseFirmwareZip, this)),
      m_erase(Style::button(Texts::eraseFlash, this)), m_flash(Style::button(Texts::flashFirmware, this)),
      m_reboot(Style::button(Texts::reboot, this))
{
    setObjectName(u"actionRow"_s);
    m_choose->setObjectName(u"detailsChooseZipButton"_s);
    m_choose->setToolTip(Texts::chooserMessage);
    m_erase->setObjectName(u"eraseButton"_s);
    m_flash->setObjectName(u"detailsFlashButton"_s);
    m_reboot->setObjectName(u"rebootButton"_s);

    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);
    for (QPushButton *button : {m_choose, m_erase, m_flash, m_reboot})
        layout->addWidget(button, 0, Qt::AlignVCenter);

    QObject::connect(m_choose, &QPushButton::clicked, this, &ActionRow::chooseRequested);
    QObject::connect(m_erase, &QPushButton::clicked, manager, &FlashManager::eraseFlash);
    QObject::connect(m_flash, &QPushButton::clicked, manager, &FlashManager::flash);
    QObject::connect(m_reboot, &QPushButton::clicked, manager, &FlashManager::reboot);
    QObject::connect(manager, &FlashManager::isBusyChanged, this, &ActionRow::updateEnabled);
    QObject::connect(manager, &FlashManager::selectedPortChanged, this, &ActionRow::updateEnabled);
    QObject::connect(manager, &FlashManager::firmwareImagesChanged, this, &ActionRow::updateEnabled);
    updateEnabled();
}

void ActionRow::updateEnabled()
{
    EnablingRules::apply(m_choose, EnablingRules::whenIdle(*m_manager));
    EnablingRules::apply(m_erase, EnablingRules::withPort(*m_manager));
    EnablingRules::apply(m_flash, EnablingRules::withPortAndFirmware(*m_manager));
    EnablingRules::apply(m_reboot, EnablingRules::withPort(*m_manager));
}
