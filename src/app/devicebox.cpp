#include "devicebox.h"

#include "failurehintview.h"
#include "flashmanager.h"
#include "style.h"
#include "texts.h"

#include <QGridLayout>
#include <QLabel>

using namespace Qt::StringLiterals;

namespace {
QLabel *valueLabel(const QString &name, bool selectable, QWidget *parent)
{
    auto *label = new QLabel(parent);
    label->setObjectName(name);
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    if (selectable)
        label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    return label;
}
} // namespace

DeviceBox::DeviceBox(FlashManager *manager, QWidget *parent)
    : QGroupBox(Texts::connectedDeviceTitle, parent), m_manager(manager),
      m_device(valueLabel(u"deviceText"_s, true, this)),
      m_firmware(valueLabel(u"firmwareText"_s, true, this)),
      m_status(valueLabel(u"statusDetailText"_s, false, this))
{
    setObjectName(u"deviceBox"_s);
    auto *layout = new QGridLayout(this);
    layout->setVerticalSpacing(8);
    layout->setHorizontalSpacing(10);
    layout->setColumnStretch(1, 1);
    int row = 0;
    for (const auto &[text, value] :
         {std::pair{Texts::deviceLabel, m_device}, std::pair{Texts::firmwareZipLabel, m_firmware},
          std::pair{Texts::statusLabel, m_status}}) {
        auto *label = new QLabel(text, this);
        Style::setTextColor(label, Style::secondaryText());
        layout->addWidget(label, row, 0, Qt::AlignLeft | Qt::AlignTop);
        layout->addWidget(value, row, 1);
        ++row;
    }
    auto *hint = new FailureHintView(manager, this);
    hint->setObjectName(u"detailsFailureHint"_s);
    layout->addWidget(hint, row, 0, 1, 2);

    QObject::connect(manager, &FlashManager::chipSummaryChanged, this, &DeviceBox::updateDevice);
    QObject::connect(manager, &FlashManager::selectedPortChanged, this, &DeviceBox::updateDevice);
    QObject::connect(manager, &FlashManager::selectedFirmwareZipNameChanged, this,
                     &DeviceBox::updateFirmware);
    QObject::connect(manager, &FlashManager::statusChanged, this, &DeviceBox::updateStatus);
    QObject::connect(manager, &FlashManager::statusDetailChanged, this, &DeviceBox::updateStatus);
    updateDevice();
    updateFirmware();
    updateStatus();
}

void DeviceBox::updateDevice()
{
    m_device->setText(m_manager->deviceDisplayText());
}

void DeviceBox::updateFirmware()
{
    m_firmware->setText(m_manager->firmwareDisplayText());
}

void DeviceBox::updateStatus()
{
    m_status->setText(m_manager->statusDetail());
    const bool failed = m_manager->status() == FlashManager::OperationStatus::error;
    Style::setTextColor(m_status, failed ? Style::red() : Style::primaryText());
}
