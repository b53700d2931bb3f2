#include "devicebox.h"

#include "failurehintview.h"
#include "flashmanager.h"
#include "linelimitedlabel.h"
#include "style.h"
#include "texts.h"
#include "tooltext.h"

#include <QGridLayout>
#include <QLabel>

using namespace Qt::StringLiterals;

namespace {
constexpr int statusLines = 2;

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
      m_running(valueLabel(u"runningFirmwareText"_s, true, this)),
      m_comparison(valueLabel(u"firmwareComparisonText"_s, false, this)),
      m_status(new LineLimitedLabel(statusLines, this))
{
    m_status->setObjectName(u"statusDetailText"_s);
    // Always as tall as its longest message, so the buttons below never move with the message.
    m_status->setFixedHeight(statusLines * QFontMetrics(m_status->font()).lineSpacing());
    setObjectName(u"deviceBox"_s);
    auto *layout = new QGridLayout(this);
    layout->setVerticalSpacing(8);
    layout->setHorizontalSpacing(10);
    layout->setColumnStretch(1, 1);
    int row = 0;
    for (const auto &[text, value] : {std::pair<QString, QWidget *>{Texts::deviceLabel, m_device},
                                      {Texts::firmwareZipLabel, m_firmware},
                                      {Texts::statusLabel, m_status}}) {
        auto *label = new QLabel(text, this);
        Style::setTextColor(label, Style::Role::secondary);
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
    Style::setTextColor(m_comparison, comparison.warning ? Style::Role::orange : Style::Role::secondary);
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
    // The log keeps the tool's bars and every word; here the message stays readable, and the
    // whole of it is a tooltip away.
    const QString &detail = m_manager->statusDetail();
    m_status->setText(readableToolText(detail));
    m_status->setToolTip(detail);
    const bool failed = m_manager->status() == FlashManager::OperationStatus::error;
    Style::setTextColor(m_status, failed ? Style::Role::red : Style::Role::primary);
}
