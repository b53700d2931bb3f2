// Speed of the device operations through the controller, with fake tools that answer at once.
//
// flashProgress: a write whose tool reports 10,000 progress lines, through
// `FlashManager::flash()`: the longest stall of the main thread (largest gap between ticks of
// a 5 ms timer) and the time from the tool's exit to `complete`. Budgets: no stall over 50 ms,
// under 20 ms from exit to the end.
//
// connectionWithDeviceRead: what the read of the device's application adds to a
// connection: the median of the chip query alone against the median of a whole
// `FlashManager::connect()`.
#include "benchsupport.h"
#include "logger.h"
#include "testsupport.h"

#include <QTest>

#include <chrono>

using namespace Qt::StringLiterals;

namespace {

/// Nanoseconds since the epoch, the clock of `date +%s%N`.
qint64 wallClockNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

constexpr int progressLines = 10'000;

} // namespace

class BenchDeviceOperations : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void flashProgress()
    {
        FakeToolFolder folder;
        // Version 5's bar lines, then the time of the exit as the last thing before it.
        folder.installTool("awk 'BEGIN { for (i = 1; i <= " + QByteArray::number(progressLines) +
                           "; i++) printf \"\\rWriting at 0x%08x [==============>               ]  %5.1f%% "
                           "%d/168035 bytes... \\n\", 65536 + i * 16, i * 100.0 / " +
                           QByteArray::number(progressLines) +
                           ", i * 16 }'\n"
                           "date +%s%N > \"$TMPDIR/exit\"\n");
        FlashManager manager(folder.paths());
        QVERIFY(loadFirmware(manager, folder));
        selectFakePort(manager, folder);

        QBENCHMARK
        {
            qint64 endNs = 0;
            qint64 reports = 0;
            QMetaObject::Connection counting =
                QObject::connect(&manager, &FlashManager::statusDetailChanged, [&reports] { ++reports; });
            QMetaObject::Connection ending = QObject::connect(&manager, &FlashManager::statusChanged, [&] {
                if (manager.status() == FlashManager::OperationStatus::complete)
                    endNs = wallClockNs();
            });
            StallMeter stalls;
            manager.flash();
            waitUntilIdle(manager, 60'000);
            const qint64 longestStall = stalls.stop();
            QObject::disconnect(counting);
            QObject::disconnect(ending);
            QCOMPARE(manager.status(), FlashManager::OperationStatus::complete);
            QCOMPARE(manager.statusDetail(), u"Yükleme tamamlandı."_s);
            QCOMPARE(manager.progress(), 1.0);
            const qint64 exitNs = folder.temporaryFile(u"exit"_s).trimmed().toLongLong();
            QVERIFY(exitNs > 0);
            const double exitToEndMs = double(endNs - exitNs) / 1e6;

            qInfo("FlashManager::flash(): %lld progress updates; longest main-thread stall %lld ms "
                  "(budget 50); tool exit to complete %.2f ms (budget 20)",
                  reports, longestStall, exitToEndMs);
            QVERIFY2(longestStall <= 50, "main thread stalled");
            QVERIFY2(exitToEndMs < 20, "too slow from exit to the end");
        }
    }

    void connectionWithDeviceRead()
    {
        constexpr int runs = 25;
        FakeToolFolder folder;
        folder.installTool(
            "case \"$*\" in\n"
            "*read-flash*) for a; do last=$a; done; cp \"$TMPDIR/app-header.bin\" \"$last\" ;;\n"
            "*) cat \"$TMPDIR/chip-id.txt\" ;;\n"
            "esac\n");
        writeFile(folder.paths().temporaryDirectory + u"/chip-id.txt"_s, chipIdOutput);
        ImageRecipe running;
        running.descriptor = DescriptorRecipe{};
        writeFile(folder.paths().temporaryDirectory + u"/app-header.bin"_s, espImage(running).first(0x100));
        FlashManager manager(folder.paths());
        selectFakePort(manager, folder);

        QList<qint64> query;
        QList<qint64> connection;
        for (int run = 0; run < runs; ++run) {
            QElapsedTimer timer;
            timer.start();
            EsptoolRunner runner(manager.logger(), folder.paths());
            QVERIFY(!awaitTask(runner.readChipInfo(manager.selectedPort()->path)).error);
            query.append(timer.nsecsElapsed());

            timer.start();
            manager.connect();
            waitUntilIdle(manager, 60'000);
            connection.append(timer.nsecsElapsed());
            QCOMPARE(manager.status(), FlashManager::OperationStatus::complete);
            QVERIFY(manager.runningFirmware()->application);
        }
        auto median = [](QList<qint64> values) {
            std::sort(values.begin(), values.end());
            return values[values.size() / 2] / 1e6;
        };
        qInfo("median of %d runs: chip query alone %.1f ms, connect() with the device read %.1f ms, "
              "the read adds %.1f ms",
              runs, median(query), median(connection), median(connection) - median(query));
    }
};

QTEST_GUILESS_MAIN(BenchDeviceOperations)
#include "bench_deviceoperations.moc"
