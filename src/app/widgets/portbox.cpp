#include "portbox.h"

#include "enablingrules.h"
#include "flashmanager.h"
#include "portcheck.h"
#include "portpicker.h"
#include "style.h"
#include "texts.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

PortBox::PortBox(FlashManager *manager, Layout layout, QWidget *parent)
    : QGroupBox(Texts::usbPortTitle, parent), m_manager(manager),
      m_picker(new PortPicker(
          manager, layout == Layout::compact ? PortPicker::Display::name : PortPicker::Display::path, this)),
      m_description(new QLabel(this)), m_refresh(Style::button(Texts::refreshPorts, this))
{
    const bool compact = layout == Layout::compact;
    const QString prefix = compact ? u"compact"_s : u"details"_s;
    setObjectName(prefix + u"PortBox"_s);
    m_picker->setObjectName(prefix + u"PortPicker"_s);
    m_refresh->setObjectName(prefix + u"RefreshButton"_s);
    m_description->setObjectName(prefix + u"PortDescription"_s);
    m_description->setFont(Style::caption());
    m_description->setTextFormat(Qt::PlainText);
    m_description->setWordWrap(true);
    QObject::connect(m_refresh, &QPushButton::clicked, manager, &FlashManager::refreshPorts);

    auto *stack = new QVBoxLayout(this);
    stack->setSpacing(8);
    auto *row = new QHBoxLayout;
    if (compact) {
        row->addWidget(m_picker, 1);
        row->addWidget(m_refresh);
        stack->addLayout(row);
        stack->addWidget(m_description);
        auto *example = new QLabel(Texts::portExample(), this);
        example->setFont(Style::caption());
        Style::setTextColor(example, Style::Role::secondary);
        stack->addWidget(example);
    } else {
        m_connect = Style::button(Texts::connectChip, this);
        m_connect->setObjectName(u"connectButton"_s);
        QObject::connect(m_connect, &QPushButton::clicked, manager, &FlashManager::connect);
        stack->addWidget(m_picker);
        stack->addWidget(m_description);
        row->addWidget(m_refresh);
        row->addWidget(m_connect);
        row->addStretch();
        stack->addLayout(row);
    }

    QObject::connect(manager, &FlashManager::isBusyChanged, this, &PortBox::updateEnabled);
    QObject::connect(manager, &FlashManager::selectedPortChanged, this, &PortBox::updateEnabled);
    QObject::connect(manager, &FlashManager::selectedPortChanged, this, &PortBox::updateDescription);
    QObject::connect(manager, &FlashManager::portDetailsChanged, this, &PortBox::updateDescription);
    // An empty list is told once a scan has looked; the list may stay empty across scans.
    QObject::connect(manager, &FlashManager::statusChanged, this, [this] {
        if (m_manager->status() != FlashManager::OperationStatus::scanning && m_manager->portsScanned())
            updateDescription();
    });
    updateEnabled();
    updateDescription();
}

void PortBox::updateDescription()
{
    QString text;
    if (m_manager->portsScanned() && m_manager->ports().isEmpty()) {
        // Where the user looks for the port, not only in the log: none, and why as far as known.
        text = noPortsFound;
#if defined(Q_OS_LINUX)
        for (const QString &reason : noPortReasons(m_manager->paths().processDirectory))
            text += u'\n' + reason;
#endif
    } else if (const std::optional<SerialPortInfo> &port = m_manager->selectedPort()) {
        if (const std::optional<PortDetails> details = m_manager->portDetails(*port))
            text = details->text();
    }
    m_description->setText(text);
    m_description->setVisible(!text.isEmpty());
}

void PortBox::updateEnabled()
{
    // A device plugged in later must be found from either layout; connecting needs a port.
    EnablingRules::apply(m_refresh, EnablingRules::whenIdle(*m_manager));
    if (m_connect)
        EnablingRules::apply(m_connect, EnablingRules::withPort(*m_manager));
}
