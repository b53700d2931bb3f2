// Time for 200,000 entries logged from a worker thread to be appended (and trimmed to the
// bound) on the main thread, with and without the log file, and the file's own time after.
#include "logfile.h"
#include "logger.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <ctime>

using namespace Qt::StringLiterals;

namespace {
/// CPU time the calling thread has used, in milliseconds.
qint64 threadCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return qint64(now.tv_sec) * 1000 + now.tv_nsec / 1'000'000;
}
} // namespace

class BenchLogger : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void floodFromWorkerThread_data()
    {
        QTest::addColumn<bool>("toFile");
        QTest::newRow("memory only") << false;
        QTest::newRow("with log file") << true;
    }

    void floodFromWorkerThread()
    {
        QFETCH(bool, toFile);
        constexpr int count = 200'000;
        QTemporaryDir folder;
        QBENCHMARK
        {
            Logger logger;
            LogFile *file = toFile ? new LogFile(folder.filePath(u"state/olvex-updater.log"_s),
                                                 LogFile::defaultRotateSize, &logger)
                                   : nullptr;
            logger.setLogFile(file);
            QElapsedTimer timer;
            timer.start();
            const qint64 cpuAtStart = threadCpuMs();
            QThread *worker = QThread::create([&logger] {
                for (int i = 0; i < count; ++i)
                    logger.log(Level::info, u"Writing at 0x00010000... (%1 %)"_s.arg(i % 100));
            });
            worker->start();
            // The longest the main thread's event loop waited for one step: what a window would feel.
            qint64 longestStep = 0;
            QElapsedTimer step;
            while (!(worker->isFinished() && logger.count() == Logger::maxEntries &&
                     logger.entries().last().message.endsWith(u"(99 %)"_s))) {
                step.start();
                QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
                longestStep = qMax(longestStep, step.nsecsElapsed() / 1000);
            }
            const qint64 appended = timer.elapsed();
            const qint64 mainCpu = threadCpuMs() - cpuAtStart;
            worker->wait();
            delete worker;
            QVERIFY(logger.count() == Logger::maxEntries);
            if (file)
                file->flush();
            qInfo("%s: %d entries appended and trimmed in %lld ms, main thread busy %lld ms, longest "
                  "main-thread step %lld µs; on disk %lld ms after the start",
                  toFile ? "file" : "memory", count, appended, mainCpu, longestStep, qint64(timer.elapsed()));
        }
    }
};

QTEST_GUILESS_MAIN(BenchLogger)
#include "bench_logger.moc"
