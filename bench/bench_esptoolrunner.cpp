// Speed and memory of the esptool runner with fake tools that flood lines as fast as they can.
//
// floodOfLines: 200,000 lines (about 10 MB) through `run`: the time until `run`
// returns with every line in the log, and the longest stall of the main thread (largest
// gap between ticks of a 5 ms timer). Budgets: under 1.5 s, no stall over 50 ms.
//
// floodMemory: 50 MB of lines (a million of 50 bytes) through `run`: the peak resident
// memory (VmHWM) during the flood against the peak before it. Budget: within 20 MB.
//
// unendedLine: 25 MB without a line feed through `flash()`, whose progress parser reads the
// unfinished line on every chunk: the time to the end and the longest stall. Printed only.
//
// controllerFlood: a write through `FlashManager::flash()` whose tool floods 1, 10 or 50 MB
// of lines: the time to the end, the longest stall and the log's size (at its bound).
#include "benchsupport.h"
#include "logger.h"
#include "testsupport.h"

#include <QFile>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

constexpr int floodLines = 200'000;

/// A field of /proc/self/status in kB ("VmHWM", "VmRSS"), or -1.
qint64 statusKilobytes(QByteArrayView field)
{
    QFile status(u"/proc/self/status"_s);
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field) && line.size() > field.size() && line[field.size()] == ':')
            return line.sliced(field.size() + 1).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

/// Lets the peak resident memory start again from the current one (Linux 4.0 and later).
bool resetPeakMemory()
{
    QFile clearRefs(u"/proc/self/clear_refs"_s);
    return clearRefs.open(QIODevice::WriteOnly) && clearRefs.write("5") == 1;
}
} // namespace

class BenchEsptoolRunner : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void floodOfLines()
    {
        FakeToolFolder folder;
        // 51 bytes a line: about 10 MB.
        folder.installTool("awk 'BEGIN { for (i = 1; i <= " + QByteArray::number(floodLines) +
                           "; i++) printf \"Writing at 0x%08x... (%6d) flood of lines\\n\", i * 64, i }'\n");
        QBENCHMARK
        {
            Logger logger;
            EsptoolRunner runner(&logger, folder.paths());
            qint64 lines = 0;
            qint64 bytes = 0;
            auto onLine = [&lines, &bytes](const QString &line) {
                ++lines;
                bytes += line.size() + 1;
            };
            StallMeter stalls;
            QElapsedTimer clock;
            clock.start();
            const auto outcome = awaitTask(runner.run(u"/dev/ttyACM0"_s, {}, onLine));
            const bool lastLineLogged =
                logger.count() > 0 && logger.entries().last().message.contains(u"(200000)"_s);
            const qint64 total = clock.elapsed();
            const qint64 longestStall = stalls.stop();

            QVERIFY(!outcome.error);
            QCOMPARE(lines, qint64(floodLines));
            QVERIFY(lastLineLogged);
            qInfo("%lld lines, %.1f MB: run returned with every line logged after %lld ms (budget 1500); "
                  "longest main-thread stall %lld ms (budget 50)",
                  lines, double(bytes) / 1e6, total, longestStall);
            QVERIFY2(total < 1500, "over the time budget");
            QVERIFY2(longestStall <= 50, "main thread stalled");
        }
    }

    void floodMemory()
    {
        constexpr int lines = 1'000'000; // 50 bytes a line
        FakeToolFolder folder;
        folder.installTool("awk 'BEGIN { for (i = 1; i <= " + QByteArray::number(lines) +
                           "; i++) printf \"Writing at 0x%08x... (%7d) a memory flood\\n\", i * 64, i }'\n");
        Logger logger;
        EsptoolRunner runner(&logger, folder.paths());
        qint64 received = 0;
        qint64 bytes = 0;
        auto onLine = [&received, &bytes](const QString &line) {
            ++received;
            bytes += line.size() + 1;
        };
        QVERIFY(resetPeakMemory());
        const qint64 idle = statusKilobytes("VmHWM");
        QVERIFY(idle > 0);
        const auto outcome = awaitTask(runner.run(u"/dev/ttyACM0"_s, {}, onLine));
        const qint64 peak = statusKilobytes("VmHWM");
        QVERIFY(!outcome.error);
        QCOMPARE(received, qint64(lines));
        qInfo("%lld lines, %.1f MB through run: peak resident %.1f MB, idle %.1f MB, %.1f MB above idle "
              "(budget 20)",
              received, double(bytes) / 1e6, peak / 1024.0, idle / 1024.0, (peak - idle) / 1024.0);
        QVERIFY2(peak - idle <= 20 * 1024, "memory grows with the flood");
    }

    void unendedLine()
    {
        constexpr int megabytes = 25;
        FakeToolFolder folder;
        folder.installTool("head -c " + QByteArray::number(megabytes << 20) + " /dev/zero | tr '\\0' a\n");
        Logger logger;
        EsptoolRunner runner(&logger, folder.paths());
        auto progress = [](const QString &, double) {};
        const QList<FirmwareImage> images{
            FirmwareImage(QUrl::fromLocalFile(u"/fw/sketch.ino.bin"_s), 0x10000)};
        StallMeter stalls;
        QElapsedTimer clock;
        clock.start();
        const auto outcome = awaitTask(runner.flash(u"/dev/ttyACM0"_s, images, progress), 600'000);
        const qint64 total = clock.elapsed();
        const qint64 longestStall = stalls.stop();
        QVERIFY(!outcome.error);
        qInfo("%d MB without a line feed through flash(): %lld ms to the end; longest stall %lld ms",
              megabytes, total, longestStall);
    }

    void controllerFlood_data()
    {
        QTest::addColumn<int>("megabytes");
        QTest::newRow("1 MB") << 1;
        QTest::newRow("10 MB") << 10;
        QTest::newRow("50 MB") << 50;
    }

    void controllerFlood()
    {
        QFETCH(int, megabytes);
        const int lines = megabytes * 10'000; // 100 bytes a line
        FakeToolFolder folder;
        folder.installTool(
            "awk 'BEGIN { pad = sprintf(\"%079d\", 0); for (i = 1; i <= " + QByteArray::number(lines) +
            "; i++) printf \"Flood line %08d %s\\n\", i, pad }'\n");
        FlashManager manager(folder.paths());
        QVERIFY(loadFirmware(manager, folder));
        selectFakePort(manager, folder);

        QBENCHMARK_ONCE
        {
            StallMeter stalls;
            QElapsedTimer clock;
            clock.start();
            manager.flash();
            waitUntilIdle(manager, 300'000);
            const qint64 total = clock.elapsed();
            const qint64 longestStall = stalls.stop();
            QCOMPARE(manager.status(), FlashManager::OperationStatus::complete);
            QTRY_VERIFY(manager.logger()->entries().last().message.startsWith(
                u"Flood line "_s + QString::number(lines).rightJustified(8, u'0')));
            qInfo("%d lines, %.1f MB through FlashManager::flash(): %lld ms to the end; longest main-thread "
                  "stall %lld ms; log %d entries",
                  lines, lines * 100 / 1e6, total, longestStall, manager.logger()->count());
            QCOMPARE(manager.logger()->count(), int(Logger::maxEntries));
        }
    }
};

QTEST_GUILESS_MAIN(BenchEsptoolRunner)
#include "bench_esptoolrunner.moc"
