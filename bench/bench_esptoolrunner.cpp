// Speed of the esptool runner with fake tools that write as fast as they can.
//
// floodOfLines: 200,000 lines (about 10 MB) through `run`: the time until `run`
// returns with every line in the log, and the longest stall of the main thread (largest
// gap between ticks of a 5 ms timer). Budgets: under 1.5 s, no stall over 50 ms.
//
// flashProgress: a write that reports 10,000 progress lines: the longest stall,
// and the time from the tool's exit to the end. Through `FlashManager::flash()` (exit to
// `complete`) when firmware loading works in this build; otherwise through
// `EsptoolRunner::flash` with the controller's queued receiver (exit to the return of
// `flash`, final report applied). The output says which. Budgets: no stall over 50 ms,
// under 20 ms from exit to the end.
//
// connectionWithDeviceRead: what the read of the device's application adds to a
// connection, with a fake tool that answers at once: the median of the chip query alone
// against the median of a whole `FlashManager::connect()`.
//
// controllerFlood: a write through `FlashManager::flash()` whose tool floods 1, 10 or 50 MB
// of lines: the time to the end, the longest stall and the log's size (at its bound). Run
// one row at a time under `/usr/bin/time -v` to see the peak memory: apart from a fixed
// base, nothing may grow with the flood.
//
// floodMemory: 50 MB of lines (a million of 50 bytes) through `run`: the peak resident
// memory (VmHWM) during the flood against the peak before it. Budget: within 20 MB.
#include "esptoolrunner.h"
#include "faketool.h"
#include "flashmanager.h"
#include "logger.h"
#include "testsupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <chrono>

using namespace Qt::StringLiterals;

namespace {

/// The largest gap between ticks of a 5 ms timer while it runs.
class StallMeter
{
public:
    StallMeter()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { tick(); });
        m_clock.start();
        m_last = 0;
        m_timer.start(5);
    }
    /// Stops, counting the time since the last tick too.
    qint64 stop()
    {
        tick();
        m_timer.stop();
        return m_longest;
    }

private:
    void tick()
    {
        const qint64 now = m_clock.elapsed();
        m_longest = std::max(m_longest, now - m_last);
        m_last = now;
    }
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_longest = 0;
};

/// Nanoseconds since the epoch, the clock of `date +%s%N`.
qint64 wallClockNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

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
constexpr int progressLines = 10'000;

/// Loads a package of the four build files (made with the real zip) into `manager`.
bool loadFirmware(FlashManager &manager, const FakeToolFolder &folder)
{
    const QString zip = folder.root() + u"/firmware.zip"_s;
    QStringList zipArguments{u"-qj"_s, zip};
    for (const QString &name : {u"sketch.ino.bootloader.bin"_s, u"sketch.ino.partitions.bin"_s,
                                u"boot_app0.bin"_s, u"sketch.ino.bin"_s}) {
        FakeToolFolder::writeScript(folder.root() + u"/build/"_s + name, QByteArray(4096, '\xff'), false);
        zipArguments.append(folder.root() + u"/build/"_s + name);
    }
    if (QProcess::execute(u"/usr/bin/zip"_s, zipArguments) != 0)
        return false;
    manager.loadFirmware(QUrl::fromLocalFile(zip));
    return manager.firmwareImages().size() == 4;
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
        const QString imageDir = folder.root() + u"/build"_s;
        const QStringList names{u"sketch.ino.bootloader.bin"_s, u"sketch.ino.partitions.bin"_s,
                                u"boot_app0.bin"_s, u"sketch.ino.bin"_s};
        for (const QString &name : names)
            FakeToolFolder::writeScript(imageDir + u'/' + name, QByteArray(4096, '\xff'), false);

        QBENCHMARK
        {
            FlashManager manager(folder.paths());
            const QString zip = folder.root() + u"/firmware.zip"_s;
            QFile::remove(zip);
            QStringList zipArguments{u"-qj"_s, zip};
            for (const QString &name : names)
                zipArguments.append(imageDir + u'/' + name);
            if (QProcess::execute(u"/usr/bin/zip"_s, zipArguments) == 0)
                manager.loadFirmware(QUrl::fromLocalFile(zip));
            const bool throughController = !manager.firmwareImages().isEmpty();

            qint64 endNs = 0;
            qint64 reports = 0;
            StallMeter stalls;
            if (throughController) {
                // A port that is there: the controller checks it before the tool runs.
                const QString port = folder.paths().deviceDirectory + u"/ttyACM0"_s;
                if (!QFileInfo::exists(port))
                    addFakePort(folder.paths().deviceDirectory, u"ttyACM0"_s);
                manager.setSelectedPort(SerialPortInfo{port, port, u"ttyACM0"_s});
                QObject::connect(&manager, &FlashManager::statusDetailChanged, [&reports] { ++reports; });
                QObject::connect(&manager, &FlashManager::statusChanged, [&manager, &endNs] {
                    if (manager.status() == FlashManager::OperationStatus::complete)
                        endNs = wallClockNs();
                });
                // An event loop of its own: QTest::qWaitFor sleeps 10 ms between its turns,
                // which would show up as stalls and delays of the code under test.
                QEventLoop loop;
                QObject::connect(&manager, &FlashManager::isBusyChanged, &loop, [&manager, &loop] {
                    if (!manager.isBusy())
                        loop.quit();
                });
                QTimer::singleShot(60'000, &loop, &QEventLoop::quit);
                manager.flash();
                if (manager.isBusy())
                    loop.exec();
                QCOMPARE(manager.status(), FlashManager::OperationStatus::complete);
                QCOMPARE(manager.statusDetail(), u"Yükleme tamamlandı."_s);
                QCOMPARE(manager.progress(), 1.0);
            } else {
                // The controller's receiver: every report a queued main-thread job.
                QObject context;
                double progress = 0;
                QString detail;
                auto receiver = [&context, &progress, &detail, &reports](const QString &text,
                                                                         double fraction) {
                    QMetaObject::invokeMethod(
                        &context,
                        [&progress, &detail, &reports, text, fraction] {
                            progress = fraction;
                            detail = text;
                            ++reports;
                        },
                        Qt::QueuedConnection);
                };
                EsptoolRunner runner(manager.logger(), folder.paths());
                QList<FirmwareImage> images;
                quint32 offsets[] = {0x0, 0x8000, 0xE000, 0x10000};
                for (qsizetype i = 0; i < names.size(); ++i)
                    images.append(
                        FirmwareImage(QUrl::fromLocalFile(imageDir + u'/' + names.at(i)), offsets[i]));
                const auto outcome = awaitTask(runner.flash(u"/dev/ttyACM0"_s, images, receiver));
                endNs = wallClockNs();
                QVERIFY(!outcome.error);
                QCOMPARE(detail, u"Flash complete"_s);
                QCOMPARE(progress, 1.0);
            }
            const qint64 longestStall = stalls.stop();
            const qint64 exitNs = folder.temporaryFile(u"exit"_s).trimmed().toLongLong();
            QVERIFY(exitNs > 0);
            const double exitToEndMs = double(endNs - exitNs) / 1e6;

            qInfo("%s: %lld progress updates; longest main-thread stall %lld ms (budget 50); "
                  "tool exit to %s %.2f ms (budget 20)",
                  throughController ? "FlashManager::flash()"
                                    : "EsptoolRunner::flash (firmware loading not built)",
                  reports, longestStall, throughController ? "complete" : "return", exitToEndMs);
            QVERIFY(reports >= progressLines);
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
        manager.setSelectedPort(SerialPortInfo{u"/dev/ttyACM0"_s, u"/dev/ttyACM0"_s, u"ttyACM0"_s});

        QList<qint64> query;
        QList<qint64> connection;
        for (int run = 0; run < runs; ++run) {
            QElapsedTimer timer;
            timer.start();
            EsptoolRunner runner(manager.logger(), folder.paths());
            QVERIFY(!awaitTask(runner.readChipInfo(u"/dev/ttyACM0"_s)).error);
            query.append(timer.nsecsElapsed());

            QEventLoop loop;
            QObject::connect(&manager, &FlashManager::isBusyChanged, &loop, [&manager, &loop] {
                if (!manager.isBusy())
                    loop.quit();
            });
            timer.start();
            manager.connect();
            loop.exec();
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
        const QString port = addFakePort(folder.paths().deviceDirectory, u"ttyACM0"_s);
        manager.setSelectedPort(SerialPortInfo{port, port, u"ttyACM0"_s});
        QEventLoop loop;
        QObject::connect(&manager, &FlashManager::isBusyChanged, &loop, [&manager, &loop] {
            if (!manager.isBusy())
                loop.quit();
        });
        QTimer::singleShot(300'000, &loop, &QEventLoop::quit);

        QBENCHMARK_ONCE
        {
            StallMeter stalls;
            QElapsedTimer clock;
            clock.start();
            manager.flash();
            loop.exec();
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
