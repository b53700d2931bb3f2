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
    void levelRawValues()
    {
        const QList<std::pair<Level, QString>> raw{{Level::info, u"INFO"_s},
                                                   {Level::success, u"OK"_s},
                                                   {Level::warning, u"WARN"_s},
                                                   {Level::error, u"ERR"_s}};
        for (const auto &[level, text] : raw) {
            QCOMPARE(rawValue(level), text);
            QCOMPARE(levelFromRawValue(text), std::optional(level));
        }
        // The parse is strict.
        for (const QString &text : {u"info"_s, u"Ok"_s, u"ERROR"_s, QString()})
            QCOMPARE(levelFromRawValue(text), std::nullopt);
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

        // A batch larger than the bound is one change, with only its newest entries.
        QSignalSpy changed(&logger, &Logger::entriesChanged);
        for (int i = 1; i <= 5000; ++i)
            logger.log(Level::info, u"batch "_s + QString::number(i));
        QTRY_COMPARE(changed.size(), 1);
        QCOMPARE(logger.count(), 2000);
        QCOMPARE(logger.entries().first().message, u"batch 3001"_s);
        QCOMPARE(logger.entries().last().message, u"batch 5000"_s);
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
