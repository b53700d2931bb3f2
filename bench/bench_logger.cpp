// Time for 100,000 entries logged from a worker thread to be appended (and trimmed to the
// bound) on the main thread.
#include "logger.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QThread>

using namespace Qt::StringLiterals;

class BenchLogger : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void floodFromWorkerThread()
    {
        constexpr int count = 100'000;
        QBENCHMARK
        {
            Logger logger;
            QElapsedTimer timer;
            timer.start();
            QThread *worker = QThread::create([&logger] {
                for (int i = 0; i < count; ++i)
                    logger.log(Level::info, u"Writing at 0x00010000... (%1 %)"_s.arg(i % 100));
            });
            worker->start();
            while (!(worker->isFinished() && logger.count() == Logger::maxEntries &&
                     logger.entries().last().message.endsWith(u"(99 %)"_s)))
                QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
            worker->wait();
            delete worker;
            QVERIFY(logger.count() == Logger::maxEntries);
            qInfo("all %d entries appended and trimmed in %lld ms", count, qint64(timer.elapsed()));
        }
    }
};

QTEST_GUILESS_MAIN(BenchLogger)
#include "bench_logger.moc"
