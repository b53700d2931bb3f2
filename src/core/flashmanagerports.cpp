#include "flashmanager.h"

#include "esptoolrunner.h"
#include "portcheck.h"

using namespace Qt::StringLiterals;

namespace Texts {
const auto scanning = u"USB portları taranıyor…"_s;
const auto portsFound = u" port bulundu."_s;
const auto bullet = u"  • "_s;
const auto selectPortFirst = u"Önce USB portu seçin."_s;
} // namespace Texts

void FlashManager::setPortDetailsSource(PortDetailsSource source)
{
    m_portDetailsSource = std::move(source);
}

std::optional<PortDetails> FlashManager::portDetails(const SerialPortInfo &port) const
{
    const auto found = m_portDetails.constFind(port.path);
    return found == m_portDetails.cend() ? std::nullopt : std::optional(*found);
}

void FlashManager::prepare([[maybe_unused]] EsptoolRunner &runner)
{
#if defined(Q_OS_LINUX)
    // Problems Linux users meet most are told before the tool spends seconds connecting.
    runner.setPreflight([this](const QString &port) {
        const auto details = m_portDetails.constFind(port);
        for (const QString &warning :
             checkPort(port, m_paths.processDirectory, m_paths.udevRuleDirectories,
                       details == m_portDetails.cend() ? std::nullopt : std::optional(*details)))
            log(Level::warning, warning);
    });
#endif
}

void FlashManager::refreshPorts()
{
    if (m_isBusy)
        return;
    clearFailureHint();
    setStatus(OperationStatus::scanning);
    setStatusDetail(Texts::scanning);
    log(Level::info, Texts::scanning);

    const QList<SerialPortInfo> ports = availablePorts(m_paths.deviceDirectory);
    m_portsScanned = true;
    assign(m_portDetails,
           // Asking the system walks every tty it has; with nothing listed there is nothing to describe.
           m_portDetailsSource && !ports.isEmpty() ? matchPortDetails(ports, m_portDetailsSource())
                                                   : QHash<QString, PortDetails>(),
           &FlashManager::portDetailsChanged);
    assign(m_ports, ports, &FlashManager::portsChanged);
    if (m_selectedPort && !m_ports.contains(*m_selectedPort)) {
        setSelectedPort(std::nullopt);
        setChipSummary(std::nullopt);
    }
    if (!m_selectedPort && !m_ports.isEmpty())
        setSelectedPort(m_ports.first());

    setStatus(OperationStatus::idle);
    setStatusDetail(m_ports.isEmpty() ? noPortsFound : QString::number(m_ports.size()) + Texts::portsFound);
    log(Level::info, m_statusDetail);
    for (const SerialPortInfo &port : std::as_const(m_ports))
        log(Level::info, Texts::bullet + port.path);
#if defined(Q_OS_LINUX)
    if (m_ports.isEmpty())
        for (const QString &reason : noPortReasons(m_paths.processDirectory))
            log(Level::info, reason);
#endif
}

bool FlashManager::requirePort()
{
    if (m_selectedPort)
        return true;
    setStatusDetail(Texts::selectPortFirst);
    return false;
}
