// The controller core without a tool: its start state, the outcomes of an operation, the
// busy guard, and the port refresh.
#include "flashmanager.h"
#include "logger.h"
#include "testsupport.h"

#include <QCoroSignal>
#include <QSignalSpy>

using namespace Qt::StringLiterals;
using Status = FlashManager::OperationStatus;

namespace {
/// Holds an operation until the test opens it.
class Gate : public QObject
{
    Q_OBJECT
public:
    void open() { Q_EMIT opened(); }
Q_SIGNALS:
    void opened();
};

QCoro::Task<> waitThen(Gate *gate, std::function<void()> after)
{
    co_await qCoro(gate, &Gate::opened);
    after();
}
} // namespace

class TestFlashManager : public QObject
{
    Q_OBJECT

    QTemporaryDir m_root;
    PlatformPaths m_paths;

private Q_SLOTS:
    void init()
    {
        m_root.remove();
        QVERIFY(QDir().mkpath(m_root.path()));
        m_paths = pathsInside(m_root.path());
    }

    void startState()
    {
        FlashManager manager(m_paths);
        QCOMPARE(manager.status(), Status::idle);
        QCOMPARE(manager.statusDetail(), u"Başlamak için firmware zip seçin."_s);
        QCOMPARE(manager.progress(), 0.0);
        QVERIFY(!manager.isBusy());
        QVERIFY(manager.ports().isEmpty() && manager.firmwareImages().isEmpty());
        QVERIFY(!manager.selectedPort() && !manager.chipSummary() && !manager.selectedFirmwareZipName());
        QVERIFY(!manager.operationTask() && !manager.esptoolRunner() &&
                !manager.extractedFirmwareDirectory());
        QCOMPARE(manager.deviceDisplayText(), u"Cihaz bağlı değil"_s);
        QCOMPARE(manager.firmwareDisplayText(), u"—"_s);
        QCOMPARE(manager.logger()->count(), 0);
    }

    void runOperationOutcomes_data()
    {
        QTest::addColumn<int>("outcome"); // 0 completes, 1 fails, 2 is cancelled
        QTest::addColumn<Status>("status");
        QTest::addColumn<QString>("detail");
        QTest::addColumn<Level>("lastLevel");
        QTest::addColumn<QString>("lastLog");
        QTest::newRow("completed") << 0 << Status::complete << u"Yükleniyor…"_s << Level::info << u"before"_s;
        QTest::newRow("failed") << 1 << Status::error << u"esptool failed (exit 2): x"_s << Level::error
                                << u"esptool failed (exit 2): x"_s;
        QTest::newRow("cancelled") << 2 << Status::idle << u"İptal edildi."_s << Level::warning
                                   << u"İşlem iptal edildi"_s;
    }

    void runOperationOutcomes()
    {
        QFETCH(int, outcome);
        QFETCH(Status, status);
        QFETCH(QString, detail);
        QFETCH(Level, lastLevel);
        QFETCH(QString, lastLog);

        FlashManager manager(m_paths);
        manager.logger()->log(Level::info, u"before"_s);
        Gate gate;
        manager.runOperation(Status::flashing, u"Yükleniyor"_s, [g = &gate, outcome] {
            return waitThen(g, [outcome] {
                if (outcome == 1)
                    throw Error(u"esptool failed (exit 2): x"_s);
                if (outcome == 2)
                    throw OperationCancelled();
            });
        });
        QVERIFY(manager.isBusy());
        QCOMPARE(manager.status(), Status::flashing);
        QCOMPARE(manager.statusDetail(), u"Yükleniyor…"_s);
        QCOMPARE(manager.progress(), 0.0);
        const auto handle = manager.operationTask();
        QVERIFY(handle && !handle->isFinished());

        QTest::qWait(0);
        gate.open();
        QTRY_VERIFY(!manager.isBusy());
        QVERIFY(handle->isFinished());
        QCOMPARE(manager.operationTask(), handle); // kept until the next operation
        QCOMPARE(manager.status(), status);
        QCOMPARE(manager.statusDetail(), detail);
        QTRY_COMPARE(manager.logger()->entries().last().message, lastLog);
        QCOMPARE(manager.logger()->entries().last().level, lastLevel);
    }

    // Nothing starts and nothing changes while an operation runs, a refresh included.
    void runOperationWhileBusyChangesNothing()
    {
        addFakePort(m_paths.deviceDirectory, u"ttyACM0"_s);
        FlashManager manager(m_paths);
        Gate gate;
        manager.runOperation(Status::connecting, u"Bağlanıyor"_s, [g = &gate] { return waitThen(g, [] {}); });
        const auto handle = manager.operationTask();
        QSignalSpy anyStatus(&manager, &FlashManager::statusChanged);
        QSignalSpy anyDetail(&manager, &FlashManager::statusDetailChanged);
        QSignalSpy anyTask(&manager, &FlashManager::operationTaskChanged);
        bool secondRan = false;
        manager.runOperation(Status::erasing, u"Flash siliniyor"_s, [&secondRan]() -> QCoro::Task<> {
            secondRan = true;
            return waitThen(nullptr, [] {});
        });
        manager.refreshPorts();
        QCoreApplication::processEvents();
        QVERIFY(!secondRan);
        QVERIFY(manager.ports().isEmpty());
        QCOMPARE(manager.operationTask(), handle);
        QVERIFY(!handle->isCancelled());
        QCOMPARE(anyStatus.size() + anyDetail.size() + anyTask.size(), 0);
        QCOMPARE(manager.logger()->count(), 0);
        gate.open();
        QTRY_COMPARE(manager.status(), Status::complete);
    }

    void nextOperationCancelsOnlyTheFinishedHandle()
    {
        FlashManager manager(m_paths);
        Gate gate;
        manager.runOperation(Status::rebooting, u"Yeniden başlatılıyor"_s,
                             [g = &gate] { return waitThen(g, [] {}); });
        const auto first = manager.operationTask();
        QTest::qWait(0);
        gate.open();
        QTRY_VERIFY(!manager.isBusy());
        manager.runOperation(Status::erasing, u"Flash siliniyor"_s,
                             [g = &gate] { return waitThen(g, [] {}); });
        QVERIFY(first->isCancelled());
        QVERIFY(manager.operationTask() != first && !manager.operationTask()->isCancelled());
        QTest::qWait(0);
        gate.open();
        QTRY_COMPARE(manager.status(), Status::complete);
        QVERIFY(!logLines(manager.logger()).contains(u"WARN İşlem iptal edildi"_s));
    }

    // Kept and vanished selections, with the chip summary, are tried with a connected device.
    void refresh()
    {
        FlashManager manager(m_paths);
        manager.refreshPorts();
        QCOMPARE(manager.status(), Status::idle);
        QCOMPARE(manager.statusDetail(), u"Port bulunamadı — programlama modunu deneyin."_s);
        QVERIFY(!manager.selectedPort());
        QStringList expected{u"INFO USB portları taranıyor…"_s,
                             u"INFO Port bulunamadı — programlama modunu deneyin."_s};
#if defined(Q_OS_LINUX)
        // Then why, as far as the system tells (here at least that nothing is seen).
        expected.append(
            u"INFO Sistem hiçbir USB seri cihaz görmüyor: başka bir USB kablosu (bazıları yalnızca "
            u"güç taşır) ve başka bir USB girişi deneyin."_s);
#endif
        QTRY_VERIFY(logLines(manager.logger()).size() >= expected.size());
        QCOMPARE(logLines(manager.logger()).mid(0, expected.size()), expected);
        const qsizetype first = manager.logger()->count();

        for (const auto name : {u"ttyACM1", u"ttyACM0", u"ttyUSB0"})
            addFakePort(m_paths.deviceDirectory, name);
        manager.refreshPorts();
        QCOMPARE(manager.selectedPort()->name, u"ttyACM0"_s);
        QCOMPARE(manager.deviceDisplayText(), u"ttyACM0"_s);
        QCOMPARE(manager.statusDetail(), u"3 port bulundu."_s);
        const QString dev = m_paths.deviceDirectory;
        QTRY_COMPARE(logLines(manager.logger(), first),
                     (QStringList{u"INFO USB portları taranıyor…"_s, u"INFO 3 port bulundu."_s,
                                  u"INFO   • "_s + dev + u"/ttyACM0"_s, u"INFO   • "_s + dev + u"/ttyACM1"_s,
                                  u"INFO   • "_s + dev + u"/ttyUSB0"_s}));

        // "— Port seçin —" (no selection) gets the first port on the next refresh.
        manager.setSelectedPort(std::nullopt);
        QCOMPARE(manager.deviceDisplayText(), u"Cihaz bağlı değil"_s);
        manager.refreshPorts();
        QCOMPARE(manager.selectedPort()->name, u"ttyACM0"_s);
    }
};

OLVEX_TEST_MAIN(TestFlashManager)
#include "tst_flashmanager.moc"
