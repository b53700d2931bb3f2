#include "logger.h"
#include "testsupport.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QThread>

using namespace Qt::StringLiterals;

class TestLogger : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void levelRawValues_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<std::optional<Level>>("level");
        QTest::newRow("INFO") << u"INFO"_s << std::optional(Level::info);
        QTest::newRow("OK") << u"OK"_s << std::optional(Level::success);
        QTest::newRow("WARN") << u"WARN"_s << std::optional(Level::warning);
        QTest::newRow("ERR") << u"ERR"_s << std::optional(Level::error);
        QTest::newRow("lower case") << u"info"_s << std::optional<Level>();
        QTest::newRow("mixed case") << u"Ok"_s << std::optional<Level>();
        QTest::newRow("long form") << u"ERROR"_s << std::optional<Level>();
        QTest::newRow("empty") << QString() << std::optional<Level>();
    }

    void levelRawValues()
    {
        QFETCH(QString, text);
        QFETCH(std::optional<Level>, level);
        QCOMPARE(levelFromRawValue(text), level);
        if (level)
            QCOMPARE(rawValue(*level), text);
    }

    void appendHappensInALaterStep()
    {
        Logger logger;
        QAbstractItemModelTester tester(&logger, QAbstractItemModelTester::FailureReportingMode::QtTest);
        logger.log(Level::warning, u"a\nb\rc"_s);
        logger.log(Level::info, QString());
        QCOMPARE(logger.entries().size(), 0);
        QTRY_COMPARE(logger.entries().size(), 2);
        QCOMPARE(logger.entries().at(0).message, u"a\nb\rc"_s);
        QCOMPARE(logger.entries().at(0).level, Level::warning);
        QCOMPARE(logger.entries().at(1).message, QString());
        QVERIFY(logger.entries().at(0).id != logger.entries().at(1).id);
        QCOMPARE(logger.data(logger.index(0), Logger::LevelRole).value<Level>(), Level::warning);
    }

    void boundDropsTheOldest()
    {
        Logger logger;
        QAbstractItemModelTester tester(&logger, QAbstractItemModelTester::FailureReportingMode::QtTest);
        for (int i = 1; i <= 2000; ++i)
            logger.log(Level::info, QString::number(i));
        QTRY_COMPARE(logger.count(), 2000);
        QCOMPARE(logger.entries().first().message, u"1"_s);

        logger.log(Level::info, u"2001"_s);
        QTRY_COMPARE(logger.entries().last().message, u"2001"_s);
        QCOMPARE(logger.count(), 2000);
        QCOMPARE(logger.entries().first().message, u"2"_s);
    }

    void oneBatchLargerThanTheBound()
    {
        Logger logger;
        QSignalSpy changed(&logger, &Logger::entriesChanged);
        for (int i = 1; i <= 5000; ++i)
            logger.log(Level::info, QString::number(i));
        QTRY_COMPARE(changed.size(), 1);
        QCOMPARE(logger.count(), 2000);
        QCOMPARE(logger.entries().first().message, u"3001"_s);
        QCOMPARE(logger.entries().last().message, u"5000"_s);
    }

    void entriesFromSeveralThreadsAllArriveInOrderPerThread()
    {
        Logger logger;
        constexpr int perThread = 400;
        QList<QThread *> threads;
        for (int t = 0; t < 4; ++t) {
            threads.append(QThread::create([&logger, t] {
                for (int i = 0; i < perThread; ++i)
                    logger.log(Level::info, u"%1:%2"_s.arg(t).arg(i));
            }));
            threads.last()->start();
        }
        for (QThread *thread : threads) {
            QVERIFY(thread->wait(10000));
            delete thread;
        }
        QTRY_COMPARE(logger.count(), 4 * perThread);
        QList<int> next(4, 0);
        for (const LogEntry &entry : logger.entries()) {
            const int t = entry.message.section(u':', 0, 0).toInt();
            QCOMPARE(entry.message.section(u':', 1).toInt(), next[t]++);
        }
    }
};

OLVEX_TEST_MAIN(TestLogger)
#include "tst_logger.moc"
