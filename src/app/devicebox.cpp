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
      m_status(valueLabel(u"statusDetailText"_s, false, this)),
      m_running(valueLabel(u"runningFirmwareText"_s, true, this)),
      m_comparison(valueLabel(u"firmwareComparisonText"_s, false, this))
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
    layout->addWidget(m_running, row++, 0, 1, 2);
    layout->addWidget(m_comparison, row++, 0, 1, 2);
    auto *hint = new FailureHintView(manager, this);
    hint->setObjectName(u"detailsFailureHint"_s);
    layout->addWidget(hint, row, 0, 1, 2);

    QObject::connect(manager, &FlashManager::chipSummaryChanged, this, &DeviceBox::updateDevice);
    QObject::connect(manager, &FlashManager::selectedPortChanged, this, &DeviceBox::updateDevice);
    QObject::connect(manager, &FlashManager::selectedFirmwareZipNameChanged, this,
                     &DeviceBox::updateFirmware);
    QObject::connect(manager, &FlashManager::statusChanged, this, &DeviceBox::updateStatus);
    QObject::connect(manager, &FlashManager::statusDetailChanged, this, &DeviceBox::updateStatus);
    QObject::connect(manager, &FlashManager::runningFirmwareChanged, this, &DeviceBox::updateRunningFirmware);
    QObject::connect(manager, &FlashManager::packageInspectionChanged, this,
                     &DeviceBox::updateRunningFirmware);
    updateDevice();
    updateFirmware();
    updateStatus();
    updateRunningFirmware();
}

void DeviceBox::updateRunningFirmware()
{
    const std::optional<RunningFirmware> &running = m_manager->runningFirmware();
    m_running->setText(running ? Texts::runningFirmwareLine(*running) : QString());
    m_running->setVisible(running.has_value());

    const std::optional<PackageInspection> &inspection = m_manager->packageInspection();
    const std::optional<AppDescriptor> package = inspection ? inspection->application() : std::nullopt;
    Texts::Comparison comparison;
    if (running && running->application && package)
        comparison = Texts::comparison(*running->application, *package);
    m_comparison->setText(comparison.text);
    m_comparison->setVisible(!comparison.text.isEmpty());
    Style::setTextColor(m_comparison, comparison.warning ? Style::orange() : Style::secondaryText());
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
