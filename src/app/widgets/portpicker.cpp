#include "portpicker.h"

#include "flashmanager.h"
#include "texts.h"

#include <QSignalBlocker>

PortPicker::PortPicker(FlashManager *manager, Display display, QWidget *parent)
    : QComboBox(parent), m_manager(manager), m_display(display)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    setMinimumContentsLength(display == Display::name ? 16 : 22);
    // Read by its name, not only by the port it shows.
    setAccessibleName(Texts::usbPortTitle);

    // Only the user's choice writes the selection; rebuilding the list must not.
    QObject::connect(this, &QComboBox::activated, this, &PortPicker::choose);
    QObject::connect(manager, &FlashManager::portsChanged, this, &PortPicker::updatePorts);
    QObject::connect(manager, &FlashManager::portDetailsChanged, this, &PortPicker::updatePorts);
    QObject::connect(manager, &FlashManager::selectedPortChanged, this, &PortPicker::updateSelection);
    updatePorts();
}

void PortPicker::updatePorts()
{
    const QSignalBlocker blocker(this);
    clear();
    addItem(Texts::noPortEntry);
    for (const SerialPortInfo &port : m_manager->ports()) {
        const std::optional<PortDetails> details = m_manager->portDetails(port);
        const bool espressif = details && details->isEspressif();
        addItem((m_display == Display::name ? port.name : port.path) +
                (espressif ? Texts::espressifSuffix : QString()));
        // What a screen reader says of the entry besides its text.
        if (details)
            setItemData(count() - 1, details->text(), Qt::AccessibleDescriptionRole);
    }
    updateSelection();
}

void PortPicker::updateSelection()
{
    const QSignalBlocker blocker(this);
    const std::optional<SerialPortInfo> &selected = m_manager->selectedPort();
    if (!selected) {
        setCurrentIndex(0);
        return;
    }
    // A selection that is not in the list shows no entry at all.
    const qsizetype position = m_manager->ports().indexOf(*selected);
    setCurrentIndex(position < 0 ? -1 : int(position) + 1);
}

void PortPicker::choose(int index)
{
    const QList<SerialPortInfo> &ports = m_manager->ports();
    if (index >= 1 && index <= ports.size())
        m_manager->setSelectedPort(ports.at(index - 1));
    else
        m_manager->setSelectedPort(std::nullopt);
}
