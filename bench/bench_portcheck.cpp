// How long the checks before a device operation take: a free port checked against every
// process of the real /proc (as the starting user; root sees all of them), then a port the
// user may not open, alone and from the click to the error through the controller.
#include "faketool.h"
#include "flashmanager.h"
#include "portcheck.h"
#include "testsupport.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QEventLoop>

#include <memory>

using namespace Qt::StringLiterals;

namespace {
/// Processes of /proc whose open files this user may look at, and their open files.
std::pair<int, int> visibleProcesses()
{
    int processes = 0;
    int files = 0;
    for (QDirIterator it(u"/proc"_s, QDir::Dirs | QDir::NoDotAndDotDot); it.hasNext();) {
        const QDir fds(it.next() + u"/fd"_s);
        if (!fds.isReadable())
            continue;
        ++processes;
        files += int(fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size());
    }
    return {processes, files};
}
} // namespace

class BenchPortCheck : public QObject
{
    Q_OBJECT
    std::unique_ptr<FakeToolFolder> m_folder;

    /// A port in a fresh folder that only the node's group may open.
    QString refusedPortPath()
    {
        m_folder.reset(); // made as root: removed while we still may
        dropRootPrivileges();
        m_folder = std::make_unique<FakeToolFolder>();
        const QString port = m_folder->paths().deviceDirectory + u"/ttyACM8"_s;
        writeFile(port, {}, QFile::ReadGroup | QFile::WriteGroup);
        return port;
    }

private Q_SLOTS:
    void initTestCase()
    {
        const auto [processes, files] = visibleProcesses();
        qInfo("the real /proc: %d processes, %d open files visible to this user", processes, files);
    }

    void freePortAgainstRealProc()
    {
        m_folder = std::make_unique<FakeToolFolder>();
        const QString port = m_folder->paths().deviceDirectory + u"/ttyACM9"_s;
        writeFile(port, {});
        QBENCHMARK
        {
            (void)checkPort(port, u"/proc"_s);
        }
    }

    // From here on without root, for good.
    void refusedPort()
    {
        const QString port = refusedPortPath();
        QBENCHMARK
        {
            try {
                (void)checkPort(port, u"/proc"_s);
                QFAIL("the port was not refused");
            } catch (const PortCheckError &) {
            }
        }
    }

    // From the click to the error, with the real /proc behind the controller.
    void refusedThroughController()
    {
        const QString port = refusedPortPath();
        m_folder->installTool("exit 0\n");
        PlatformPaths paths = m_folder->paths();
        paths.processDirectory = u"/proc"_s;
        FlashManager manager(paths);
        manager.setSelectedPort(SerialPortInfo{port, port, u"ttyACM8"_s});
        QEventLoop loop;
        QObject::connect(&manager, &FlashManager::isBusyChanged, &loop, [&] {
            if (!manager.isBusy())
                loop.quit();
        });
        QElapsedTimer clock;
        clock.start();
        manager.eraseFlash();
        loop.exec();
        const double ms = double(clock.nsecsElapsed()) / 1e6;
        QCOMPARE(manager.status(), FlashManager::OperationStatus::error);
        QVERIFY(manager.statusDetail().contains(u"sudo usermod -aG"_s));
        QVERIFY(m_folder->runs().isEmpty());
        qInfo("click to error through the controller: %.2f ms (budget 100)", ms);
        QVERIFY2(ms < 100, "a refused port must fail at once");
    }
};

QTEST_GUILESS_MAIN(BenchPortCheck)
#include "bench_portcheck.moc"
