// The controller core: its start state, the outcomes of an operation, and a tool that floods it.
#include "faketool.h"
#include "flashmanager.h"
#include "logger.h"
#include "testsupport.h"

#include <QCoroTimer>

using namespace Qt::StringLiterals;
using Status = FlashManager::OperationStatus;

namespace {
/// An operation that ends as `outcome` says (0 completes, 1 fails, 2 is cancelled) once the
/// event loop has turned.
QCoro::Task<> endAs(int outcome)
{
    co_await QCoro::sleepFor(std::chrono::milliseconds(1));
    if (outcome == 1)
        throw Error(u"esptool failed (exit 2): x"_s);
    if (outcome == 2)
        throw OperationCancelled();
}
} // namespace

class TestFlashManager : public QObject
{
    Q_OBJECT

    FakeToolFolder m_folder;

private Q_SLOTS:
    void startState()
    {
        FlashManager manager(m_folder.paths());
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
        QTest::addColumn<int>("outcome"); // as endAs takes it
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

        FlashManager manager(m_folder.paths());
        manager.logger()->log(Level::info, u"before"_s);
        manager.runOperation(Status::flashing, u"Yükleniyor"_s, [outcome] { return endAs(outcome); });
        QVERIFY(manager.isBusy());
        QCOMPARE(manager.status(), Status::flashing);
        QCOMPARE(manager.statusDetail(), u"Yükleniyor…"_s);
        QCOMPARE(manager.progress(), 0.0);
        const auto handle = manager.operationTask();
        QVERIFY(handle && !handle->isFinished());

        QTRY_VERIFY(!manager.isBusy());
        QVERIFY(handle->isFinished());
        QCOMPARE(manager.operationTask(), handle); // kept until the next operation
        QCOMPARE(manager.status(), status);
        QCOMPARE(manager.statusDetail(), detail);
        QTRY_COMPARE(logLines(manager.logger()), log);

        // The next operation cancels the finished one's handle, which nobody reports.
        manager.runOperation(Status::erasing, u"Flash siliniyor"_s, [] { return endAs(0); });
        QVERIFY(handle->isCancelled());
        QVERIFY(manager.operationTask() != handle && !manager.operationTask()->isCancelled());
        QTRY_COMPARE(manager.status(), Status::complete);
        QCoreApplication::processEvents();
        QCOMPARE(logLines(manager.logger()), log);
    }

    // 30 MB of output: the window's thread keeps turning, the log keeps its newest entries and
    // the failure the tool's last lines.
    void flood()
    {
        constexpr int total = 400'000;
        constexpr int half = total / 2;
        const QByteArray format = "Flood line %06d: the tool keeps talking, the way a flooding tool does.";
        auto floodLine = [](int i) {
            return u"Flood line %1: the tool keeps talking, the way a flooding tool does."_s.arg(i, 6, 10,
                                                                                                 QChar(u'0'));
        };
        // Half the flood, a wait for the test to see that half in the log, the other half.
        m_folder.installTool(awkLines(1, half, format) + waitForGate + awkLines(half + 1, total, format) +
                             "exit 1\n");
        auto manager = makeController(m_folder.paths());

        manager->flash();
        QTRY_COMPARE_WITH_TIMEOUT(manager->logger()->entries().last().message, floodLine(half), 120'000);
        m_folder.openGate();
        QTRY_VERIFY_WITH_TIMEOUT(!manager->isBusy(), 120'000);

        QStringList tail;
        for (int i = total - 11; i <= total; ++i)
            tail.append(floodLine(i));
        QCOMPARE(manager->statusDetail(), u"esptool failed (exit 1): "_s + tail.join(u' '));
        QStringList expected;
        for (int i = total - int(Logger::maxEntries) + 2; i <= total; ++i)
            expected.append(u"INFO "_s + floodLine(i));
        expected.append(u"ERR "_s + manager->statusDetail());
        QTRY_COMPARE(logLines(manager->logger()), expected);
    }
};

OLVEX_TEST_MAIN(TestFlashManager)
#include "tst_flashmanager.moc"
