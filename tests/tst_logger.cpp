#include "logfile.h"
#include "logger.h"
#include "testsupport.h"

#include <QAbstractItemModelTester>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QThread>
#include <QTimeZone>

#include <ctime>

using namespace Qt::StringLiterals;

class TestLogger : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        qputenv("TZ", "TST-3"); // the file shows local time
        tzset();
    }

    void levelRawValues()
    {
        for (const auto &[level, text] : {std::pair{Level::info, u"INFO"_s},
                                          {Level::success, u"OK"_s},
                                          {Level::warning, u"WARN"_s},
                                          {Level::error, u"ERR"_s}}) {
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

    void logFileLine()
    {
        const QDateTime utc(QDate(2024, 5, 6), QTime(11, 3, 27, 123), QTimeZone::utc());
        const LogEntry entry{QUuid::createUuid(), utc, Level::warning, u"Yükleme\nbitti\r C:\\x"_s};
        QCOMPARE(LogFile::line(entry), u"2024-05-06 14:03:27.123 WARN Yükleme\\nbitti\\r C:\\\\x"_s);
    }

    void logFile_data()
    {
        QTest::addColumn<qint64>("rotateSize");
        QTest::addColumn<int>("count");
        QTest::addColumn<bool>("writable");
        QTest::newRow("every entry, those past the bound too") << LogFile::defaultRotateSize << 2500 << true;
        QTest::newRow("rotated, one old file kept") << qint64(2000) << 400 << true;
        QTest::newRow("folder cannot be made") << LogFile::defaultRotateSize << 10 << false;
    }

    void logFile()
    {
        QFETCH(qint64, rotateSize);
        QFETCH(int, count);
        QFETCH(bool, writable);
        QTemporaryDir root;
        const QString locked = root.filePath(u"locked"_s);
        QVERIFY(QDir().mkpath(locked));
        QFile::setPermissions(locked,
                              writable ? QFile::Permissions(0x7700) : QFile::ReadOwner | QFile::ExeOwner);
        const QString path = locked + u"/state/olvex-updater.log"_s;
        {
            Logger logger;
            auto *file = new LogFile(path, rotateSize, &logger);
            QCOMPARE(file->isUsable(), writable);
            logger.setLogFile(file);
            for (int i = 0; i < count; ++i)
                logger.log(Level(i % 4), u"entry %1"_s.arg(i));
            QTRY_COMPARE(logger.count(), qMin(count, int(Logger::maxEntries)));
        } // the logger's end writes everything still pending
        if (!writable) {
            QVERIFY(!QFileInfo::exists(locked + u"/state"_s));
            return;
        }
        QStringList lines;
        for (const QString &name : QStringList{path + u".1"_s, path}) {
            QFile file(name);
            if (!file.open(QIODevice::ReadOnly))
                continue;
            QVERIFY(file.size() <= rotateSize);
            lines += QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
        }
        QVERIFY(!QFileInfo::exists(path + u".2"_s));
        QVERIFY(!lines.isEmpty());
        // The newest entries, in order, to the very last one; all of them unless rotated away.
        const auto first = int(count - lines.size());
        QCOMPARE(first == 0, rotateSize == LogFile::defaultRotateSize);
        for (int i = 0; i < lines.size(); ++i)
            QVERIFY2(lines[i].endsWith(u' ' + rawValue(Level((first + i) % 4)) + u" entry "_s +
                                       QString::number(first + i)),
                     qPrintable(lines[i]));
    }
};

OLVEX_TEST_MAIN(TestLogger)
#include "tst_logger.moc"
