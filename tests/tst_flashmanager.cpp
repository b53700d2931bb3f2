// The controller core without a tool: its start state and the outcomes of an operation.
#include "flashmanager.h"
#include "logger.h"
#include "testsupport.h"

#include <QCoroSignal>

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
        QCOMPARE(manager.deviceDisplayText(), u"Cihaz bağlı değil"_s);
        QCOMPARE(manager.firmwareDisplayText(), u"—"_s);
        QCOMPARE(manager.logger()->count(), 0);
    }

    void runOperationOutcomes_data()
    {
        QTest::addColumn<int>("outcome"); // 0 completes, 1 fails, 2 is cancelled
        QTest::addColumn<Status>("status");
        QTest::addColumn<QString>("detail");
        QTest::addColumn<QStringList>("log");
        QTest::newRow("completed") << 0 << Status::complete << u"Yükleniyor…"_s << QStringList();
        QTest::newRow("failed") << 1 << Status::error << u"esptool failed (exit 2): x"_s
                                << QStringList{u"ERR esptool failed (exit 2): x"_s};
        QTest::newRow("cancelled") << 2 << Status::idle << u"İptal edildi."_s
                                   << QStringList{u"WARN İşlem iptal edildi"_s};
    }

    void runOperationOutcomes()
    {
        QFETCH(int, outcome);
        QFETCH(Status, status);
        QFETCH(QString, detail);
        QFETCH(QStringList, log);
        log.prepend(u"INFO before"_s);

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
        QTRY_COMPARE(logLines(manager.logger()), log);

        // The next operation cancels the finished one's handle, which nobody reports.
        manager.runOperation(Status::erasing, u"Flash siliniyor"_s,
                             [g = &gate] { return waitThen(g, [] {}); });
        QVERIFY(handle->isCancelled());
        QVERIFY(manager.operationTask() != handle && !manager.operationTask()->isCancelled());
        QTest::qWait(0);
        gate.open();
        QTRY_COMPARE(manager.status(), Status::complete);
        QCoreApplication::processEvents();
        QCOMPARE(logLines(manager.logger()), log);
    }
};

OLVEX_TEST_MAIN(TestFlashManager)
#include "tst_flashmanager.moc"
