// Connect, write, erase and reboot through the controller with fake tools, and the same
// when things go wrong: a tool that is missing or fails after a long output, a flood of
// output, and clicks that come while a write runs. Every path holds blanks, quotes,
// Turkish letters and pattern characters.
#include "esptoollaunch.h"
#include "esptoolrunner.h"
#include "faketool.h"
#include "flashmanager.h"
#include "logger.h"
#include "testsupport.h"

#include <QTimer>

#include <algorithm>
#include <functional>

using namespace Qt::StringLiterals;
using Status = FlashManager::OperationStatus;
using Files = QMap<QString, QByteArray>;

namespace {
const QString summary = u"ESP32-S3 (QFN56) (revision v0.2), Wi-Fi, BT 5 (LE), Dual Core + LP Core, 240MHz, "
                        u"Embedded PSRAM 8MB (AP_3v3), MAC 7c:df:a1:00:11:22"_s;

QString numbered(int i)
{
    return u"line "_s + QString::number(i);
}

QString lastMessage(const FlashManager &manager)
{
    const QList<LogEntry> &entries = manager.logger()->entries();
    return entries.isEmpty() ? QString() : entries.last().message;
}

/// A 5 ms timer on the main thread that opens the gate at the first tick where `ready()`
/// holds. A tool waiting for the gate can only go on if the event loop kept turning.
struct GateKeeper
{
    GateKeeper(const FakeToolFolder &folder, std::function<bool()> ready) : ready(std::move(ready))
    {
        QObject::connect(&timer, &QTimer::timeout, [this, &folder] {
            if (!opened && this->ready()) {
                opened = true;
                folder.openGate();
            }
        });
        timer.start(5);
    }
    std::function<bool()> ready;
    QTimer timer;
    bool opened = false;
};
} // namespace

class TestDeviceOperations : public QObject
{
    Q_OBJECT

    std::unique_ptr<FakeToolFolder> m_folder;
    PlatformPaths m_paths;

    /// A zip in the test's root holding the four build files of `sketch` in "build/".
    [[nodiscard]] QUrl firmwareZip(const QString &name, const QString &sketch) const
    {
        const QString zip = m_folder->root() + u'/' + name;
        makeZip(zip, {
                         {u"build/"_s + sketch + u".ino.bootloader.bin"_s, "b"},
                         {u"build/"_s + sketch + u".ino.partitions.bin"_s, "p"},
                         {u"build/boot_app0.bin"_s, "0"},
                         {u"build/"_s + sketch + u".ino.bin"_s, "a"},
                     });
        return QUrl::fromLocalFile(zip);
    }

    /// Refreshes with these devices present, loads a package unless told not to, and lets
    /// the log settle.
    void prepare(FlashManager &manager, const QStringList &ports = {u"ttyACM0"_s}, bool load = true)
    {
        for (const QString &name : ports)
            addFakePort(m_paths.deviceDirectory, name);
        manager.refreshPorts();
        if (load) {
            manager.loadFirmware(firmwareZip(u"firmware.zip"_s, u"sketch"_s));
            QCOMPARE(manager.firmwareImages().size(), 4);
        }
        QCoreApplication::processEvents();
    }

private Q_SLOTS:
    void init()
    {
        m_folder = std::make_unique<FakeToolFolder>(QDir::tempPath() + u"/olvex yük 'ş' \"ğ\" [*?]-XXXXXX"_s);
        QVERIFY(m_folder->isValid());
        m_paths = m_folder->paths();
        writeFile(m_paths.temporaryDirectory + u"/chip-id.txt"_s, chipIdOutput);
    }

    void preconditionsComeFirst()
    {
        m_folder->installTool("cat \"$TMPDIR/chip-id.txt\"\n");
        FlashManager manager(m_paths);
        manager.connect();
        QCOMPARE(manager.statusDetail(), u"Önce USB portu seçin."_s);
        manager.eraseFlash();
        manager.reboot();
        manager.flash(); // no port and no firmware: the port message, nothing logged
        QCOMPARE(manager.statusDetail(), u"Önce USB portu seçin."_s);
        QCOMPARE(manager.status(), Status::idle);
        QTRY_COMPARE(logLines(manager.logger()), QStringList{u"WARN Port seçilmedi"_s});

        prepare(manager, {u"ttyACM0"_s}, false);
        const qsizetype before = manager.logger()->count();
        manager.flash();
        QCOMPARE(manager.statusDetail(), u"Önce firmware zip seçin."_s);
        QCOMPARE(manager.status(), Status::idle);
        QTRY_COMPARE(logLines(manager.logger(), before), QStringList{u"WARN Firmware seçilmedi"_s});
        QVERIFY(!manager.isBusy());
        QVERIFY(m_folder->runs().isEmpty());
    }

    // The query keeps the port of the click; a later failure keeps the last summary, and so
    // does a refresh unless the port is gone.
    void connect()
    {
        m_folder->installTool(QByteArray(waitForGate) + "cat \"$TMPDIR/chip-id.txt\"\n");
        FlashManager manager(m_paths);
        prepare(manager, {u"ttyACM0"_s, u"ttyACM1"_s}, false);
        const QString clicked = manager.selectedPort()->path;

        manager.connect();
        QCOMPARE(manager.status(), Status::connecting);
        QCOMPARE(manager.statusDetail(), u"Bağlanıyor…"_s);
        manager.setSelectedPort(manager.ports().last());
        m_folder->openGate();
        QTRY_VERIFY_WITH_TIMEOUT(!manager.isBusy(), 120'000);
        QCOMPARE(manager.status(), Status::complete);
        QCOMPARE(manager.progress(), 0.0);
        QCOMPARE(manager.chipSummary()->summaryText(), summary);
        QCOMPARE(manager.statusDetail(), summary);
        QCOMPARE(manager.deviceDisplayText(), summary);
        QTRY_COMPARE(logLines(manager.logger()).last(), u"OK Bağlandı: "_s + summary);
        QCOMPARE(m_folder->runs().first().at(3), clicked);
        QCOMPARE(m_folder->runs().first().mid(6), EsptoolRunner::chipIdArguments());

        m_folder->installTool("exit 2\n");
        manager.connect();
        QTRY_VERIFY_WITH_TIMEOUT(!manager.isBusy(), 120'000);
        QCOMPARE(manager.status(), Status::error);
        QCOMPARE(manager.statusDetail(), u"esptool failed (exit 2): "_s);
        QCOMPARE(manager.chipSummary()->summaryText(), summary);

        // A refresh keeps both while the selected port is there, first or not.
        manager.refreshPorts();
        QCOMPARE(manager.selectedPort()->name, u"ttyACM1"_s);
        QVERIFY(manager.chipSummary());
        // The selected port vanished: the first is selected, the summary cleared.
        QVERIFY(QFile::remove(m_paths.deviceDirectory + u"/ttyACM1"_s));
        manager.refreshPorts();
        QCOMPARE(manager.selectedPort()->name, u"ttyACM0"_s);
        QVERIFY(!manager.chipSummary());
    }

    void deviceRead_data()
    {
        QTest::addColumn<QByteArray>("header"); // empty: the read fails
        QTest::addColumn<quint16>("minimumRevision");
        QTest::addColumn<QStringList>("lines"); // after the read's command line, before the last
        QTest::addColumn<QString>("version");   // of what the device runs; empty: nothing read

        ImageRecipe device;
        device.descriptor = DescriptorRecipe{};
        device.descriptor->version = "1.5.0";
        device.descriptor->date = "Oct 12 2026";
        QTest::newRow("a newer application on the device")
            << espImage(device).first(0x100) << quint16(0)
            << QStringList{u"INFO Cihazdaki yazılım: olvex_fw 1.5.0 (12 Ekim 2026)"_s,
                           u"WARN Paketteki sürüm (1.4.2) cihazdakinden (1.5.0) daha eski."_s}
            << u"1.5.0"_s;
        device.descriptor->version = "1.4.2";
        QTest::newRow("the package needs a later chip revision")
            << espImage(device).first(0x100) << quint16(3)
            << QStringList{u"INFO Cihazdaki yazılım: olvex_fw 1.4.2 (12 Ekim 2026)"_s,
                           u"WARN sketch.ino.bin en az v0.3 çip revizyonunda çalışır; cihazın çipi v0.2."_s}
            << u"1.4.2"_s;
        QTest::newRow("an erased flash")
            << QByteArray(0x100, char(0xFF)) << quint16(0)
            << QStringList{u"INFO Cihazda tanınan bir uygulama yok"_s} << QString();
        QTest::newRow("a read that fails")
            << QByteArray() << quint16(0)
            << QStringList{u"WARN Cihazdaki yazılım okunamadı: esptool failed (exit 2): "_s} << QString();
    }

    // After the chip query the connection reads what the device runs; whatever that read
    // gives, the connection succeeds and its own line comes last.
    void deviceRead()
    {
        QFETCH(QByteArray, header);
        QFETCH(quint16, minimumRevision);
        QFETCH(QStringList, lines);
        QFETCH(QString, version);
        m_folder->installTool("case \"$*\" in\n"
                              "*read-flash*) for a; do last=$a; done\n"
                              "    [ -e \"$TMPDIR/app-header.bin\" ] || exit 2\n"
                              "    cp \"$TMPDIR/app-header.bin\" \"$last\" ;;\n"
                              "*) cat \"$TMPDIR/chip-id.txt\" ;;\n"
                              "esac\n");
        if (!header.isEmpty())
            writeFile(m_paths.temporaryDirectory + u"/app-header.bin"_s, header);
        Files files = esp32s3Build();
        ImageRecipe application;
        application.minRevisionFull = minimumRevision;
        application.dataSize = 8192;
        application.descriptor = DescriptorRecipe{};
        files[u"build/sketch.ino.bin"_s] = espImage(application);
        const QString zip = m_folder->root() + u"/firmware.zip"_s;
        makeZip(zip, files);
        FlashManager manager(m_paths);
        prepare(manager, {u"ttyACM0"_s}, false);
        manager.loadFirmware(QUrl::fromLocalFile(zip));
        QCOMPARE(manager.status(), Status::idle);

        manager.connect();
        QTRY_VERIFY_WITH_TIMEOUT(!manager.isBusy(), 120'000);

        QCOMPARE(manager.status(), Status::complete);
        QCOMPARE(manager.statusDetail(), summary);
        QCOMPARE(manager.chipSummary()->summaryText(), summary);
        QCOMPARE(manager.runningFirmware().has_value(), !header.isEmpty());
        if (manager.runningFirmware())
            QCOMPARE(manager.runningFirmware()->application ? manager.runningFirmware()->application->version
                                                            : QString(),
                     version);
        const QList<QStringList> runs = m_folder->runs();
        QCOMPARE(runs.size(), 2);
        const QString file = runs.last().last();
        QCOMPARE(runs.last().mid(6), EsptoolRunner::readApplicationHeaderArguments(file));
        QVERIFY(file.startsWith(m_paths.temporaryDirectory + u'/'));
        QVERIFY(!QFileInfo::exists(file)); // nothing left behind
        QTRY_COMPARE(logLines(manager.logger()).last(), u"OK Bağlandı: "_s + summary);
        const QStringList log = logLines(manager.logger());
        const qsizetype read = log.indexOf(u"INFO esptool "_s + runs.last().join(u' '));
        QVERIFY(read > 0);
        QCOMPARE(log.mid(read + 1, log.size() - read - 2), lines);
    }

    // A write from its start to its end, with the user clicking everywhere meanwhile: it
    // keeps its port and images, nothing starts twice, and its own end is the last word.
    void write()
    {
        // Once let go, the tool counts the images it was given that are still on disk.
        m_folder->installTool(
            "echo 'Writing at 0x00010000... (42 %)'\n" + QByteArray(waitForGate) +
            "printf '\\rWriting at 0x0005b000 [=========================>    ]  88.8%% 1/2 bytes... \\n'\n"
            "n=0; for a in \"$@\"; do case \"$a\" in *.bin) [ -f \"$a\" ] && n=$((n+1));; esac; done\n"
            "echo \"$n images present\"\n");
        FlashManager manager(m_paths);
        prepare(manager, {u"ttyACM0"_s, u"ttyACM1"_s});
        const QUrl otherZip = firmwareZip(u"other.zip"_s, u"other"_s);
        const SerialPortInfo port = *manager.selectedPort();
        const QList<FirmwareImage> images = manager.firmwareImages();

        manager.flash();
        QCOMPARE(manager.status(), Status::flashing);
        QCOMPARE(manager.statusDetail(), u"Yükleniyor…"_s);
        QCOMPARE(manager.progress(), 0.0);
        QTRY_COMPARE(manager.progress(), 0.42);
        QCOMPARE(manager.statusDetail(), u"Writing at 0x00010000... (42 %)"_s);
        QVERIFY(manager.esptoolRunner());
        QCoreApplication::processEvents();
        const qsizetype before = manager.logger()->count();
        const std::shared_ptr<OperationHandle> task = manager.operationTask();
        const QStringList folders = QDir(m_paths.temporaryDirectory).entryList();

        addFakePort(m_paths.deviceDirectory, u"ttyACM2"_s); // a refresh would change the list
        manager.setSelectedPort(manager.ports().last());
        manager.flash();
        manager.connect();
        manager.eraseFlash();
        manager.reboot();
        manager.loadFirmware(otherZip);
        manager.refreshPorts();

        QTRY_COMPARE(logLines(manager.logger(), before),
                     QStringList{u"INFO 4 dosya esptool ile yüklenecek."_s});
        QCOMPARE(manager.status(), Status::flashing);
        QCOMPARE(manager.statusDetail(), u"Writing at 0x00010000... (42 %)"_s);
        QCOMPARE(manager.progress(), 0.42);
        QCOMPARE(manager.operationTask(), task);
        QCOMPARE(manager.ports().size(), 2);
        QCOMPARE(manager.selectedPort()->name, u"ttyACM1"_s);
        QCOMPARE(manager.firmwareImages(), images);
        QCOMPARE(manager.firmwareDisplayText(), u"firmware.zip"_s);
        QCOMPARE(QDir(m_paths.temporaryDirectory).entryList(), folders);

        m_folder->openGate();
        QTRY_VERIFY_WITH_TIMEOUT(!manager.isBusy(), 120'000);
        QTRY_COMPARE(lastMessage(manager), u"4 images present"_s);
        // No report that came before the end overwrites it.
        QCOMPARE(manager.status(), Status::complete);
        QCOMPARE(manager.progress(), 1.0);
        QCOMPARE(manager.statusDetail(), u"Yükleme tamamlandı."_s);
        QVERIFY(!manager.esptoolRunner());
        const QList<QStringList> runs = m_folder->runs();
        QCOMPARE(runs.size(), 1);
        QCOMPARE(runs.first().at(3), port.path);
        for (const FirmwareImage &image : images)
            QVERIFY(runs.first().contains(image.url.toLocalFile()));
    }

    void eraseAndReboot()
    {
        m_folder->installTool("cat \"$TMPDIR/chip-id.txt\"\n");
        FlashManager manager(m_paths);
        prepare(manager);
        manager.connect();
        QTRY_VERIFY_WITH_TIMEOUT(!manager.isBusy(), 120'000);
        QVERIFY(manager.chipSummary());

        manager.eraseFlash();
        QCOMPARE(manager.statusDetail(), u"Flash siliniyor…"_s);
        QTRY_VERIFY_WITH_TIMEOUT(!manager.isBusy(), 120'000);
        QCOMPARE(manager.status(), Status::complete);
        QCOMPARE(manager.progress(), 1.0);
        QCOMPARE(manager.statusDetail(), u"Flash silindi."_s);
        QCOMPARE(manager.firmwareImages().size(), 4);
        QVERIFY(manager.chipSummary());
        QCOMPARE(m_folder->runs().last().mid(6), EsptoolRunner::eraseArguments());

        m_folder->installTool("exit 3\n");
        manager.reboot();
        QTRY_VERIFY_WITH_TIMEOUT(!manager.isBusy(), 120'000);
        QCOMPARE(manager.status(), Status::error);
        QCOMPARE(manager.statusDetail(), u"esptool failed (exit 3): "_s);
        QCOMPARE(manager.progress(), 0.0);
        QVERIFY(manager.chipSummary()); // a failed reboot keeps it

        m_folder->installTool("exit 0\n");
        manager.reboot();
        QCOMPARE(manager.statusDetail(), u"Yeniden başlatılıyor…"_s);
        QTRY_VERIFY_WITH_TIMEOUT(!manager.isBusy(), 120'000);
        QCOMPARE(manager.status(), Status::complete);
        QCOMPARE(manager.statusDetail(), u"Yeniden başlatma gönderildi."_s);
        QCOMPARE(manager.progress(), 0.0);
        QVERIFY(!manager.chipSummary());
        QCOMPARE(manager.deviceDisplayText(), u"ttyACM0"_s);
        QCOMPARE(m_folder->runs().last().mid(6), EsptoolRunner::rebootArguments());
    }

    void toolFailures_data()
    {
        QTest::addColumn<bool>("toolThere");
        QTest::addColumn<QString>("description");
        QTest::addColumn<QString>("hint");
        QTest::addColumn<double>("progress");

        QStringList tail;
        for (int i = 489; i <= 500; ++i)
            tail.append(numbered(i));
        QTest::newRow("missing tool")
            << false << u"Bundled esptool binary was not found in the application."_s
            << u"Programla gelen esptool bulunamadı; kurulum eksik. Programı yeniden kurun."_s << 0.0;
        QTest::newRow("write fails after 30 % and 500 lines")
            << true << u"esptool failed (exit 3): "_s + tail.join(u' ') << QString() << 0.3;
    }

    void toolFailures()
    {
        QFETCH(bool, toolThere);
        QFETCH(QString, description);
        QFETCH(QString, hint);
        QFETCH(double, progress);

        constexpr int lines = 500;
        std::optional<EnvironmentOverride> path; // and none on the search path either
        if (toolThere)
            m_folder->installTool("echo 'Writing at 0x00010000... (30 %)'\n" + awkLines(1, lines, "line %d") +
                                  waitForGate + "exit 3\n");
        else
            path.emplace("PATH", QFile::encodeName(m_folder->root() + u"/empty"_s));
        FlashManager manager(m_paths);
        prepare(manager);
        const qsizetype before = manager.logger()->count();
        // The tool ends only once all its lines are in the log while it still runs.
        GateKeeper keeper(*m_folder, [&] { return lastMessage(manager) == numbered(lines); });

        manager.flash();
        QTRY_VERIFY_WITH_TIMEOUT(!manager.isBusy(), 120'000);

        QCOMPARE(manager.status(), Status::error);
        QCOMPARE(manager.statusDetail(), description);
        QCOMPARE(manager.failureHint(), hint);
        QCOMPARE(manager.slowerRetryBaudRate(), 0); // not a transfer that stopped half-way
        QCOMPARE(manager.progress(), progress);
        QVERIFY(!manager.esptoolRunner());
        QCOMPARE(m_folder->runs().size(), toolThere ? 1 : 0);
        QStringList expected{u"INFO 4 dosya esptool ile yüklenecek."_s};
        if (toolThere) {
            expected << u"INFO esptool "_s + bundledEsptoolVersion().text() + u" (yerleşik)"_s
                     << u"INFO esptool "_s + m_folder->runs().first().join(u' ')
                     << u"INFO Writing at 0x00010000... (30 %)"_s;
            for (int i = 1; i <= lines; ++i)
                expected.append(u"INFO "_s + numbered(i));
        }
        expected.append(u"ERR "_s + description);
        if (!hint.isEmpty())
            expected.append(u"WARN "_s + hint);
        QTRY_COMPARE(logLines(manager.logger(), before), expected);
    }

#if defined(Q_OS_LINUX)
    // Each device operation looks at the port first: a problem ends it before the tool runs, a
    // warning is logged before the tool's command line.
    void portCheckedBeforeTheTool_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<bool>("unplugged");
        QTest::newRow("write, port unplugged") << u"flash"_s << true;
        QTest::newRow("erase, port unplugged") << u"eraseFlash"_s << true;
        QTest::newRow("connect, ModemManager running") << u"connect"_s << false;
        QTest::newRow("reboot, ModemManager running") << u"reboot"_s << false;
    }

    void portCheckedBeforeTheTool()
    {
        QFETCH(QString, operation);
        QFETCH(bool, unplugged);
        m_folder->installTool("cat \"$TMPDIR/chip-id.txt\"\n");
        writeFile(m_paths.processDirectory + u"/812/comm"_s, "ModemManager\n");
        FlashManager manager(m_paths);
        prepare(manager);
        if (unplugged)
            QVERIFY(QFile::remove(manager.selectedPort()->path));
        const qsizetype before = manager.logger()->count();

        const QHash<QString, void (FlashManager::*)()> operations = {
            {u"flash"_s, &FlashManager::flash},
            {u"eraseFlash"_s, &FlashManager::eraseFlash},
            {u"connect"_s, &FlashManager::connect},
            {u"reboot"_s, &FlashManager::reboot}};
        (manager.*operations.value(operation))();
        QTRY_VERIFY_WITH_TIMEOUT(!manager.isBusy(), 120'000);
        const QStringList lines = logLines(manager.logger(), before);
        if (unplugged) {
            QCOMPARE(manager.status(), Status::error);
            QVERIFY(manager.statusDetail().startsWith(u"Cihaz çıkarılmış görünüyor"_s));
            QCOMPARE(lines.last(), u"ERR "_s + manager.statusDetail());
            QVERIFY(m_folder->runs().isEmpty());
        } else {
            QCOMPARE(manager.status(), Status::complete);
            const auto warning = std::ranges::find_if(
                lines, [](const QString &line) { return line.startsWith(u"WARN ModemManager"_s); });
            QVERIFY2(warning != lines.end() && std::next(warning) != lines.end() &&
                         std::next(warning)->startsWith(u"INFO esptool "_s),
                     qPrintable(lines.join(u'\n')));
        }
    }
#endif

    // A write that stops half-way can be run again slower from the hint, twice; every other
    // write keeps the usual speed.
    void slowerRetry()
    {
        m_folder->installTool(
            "echo 'Writing at 0x00010000... (30 %)'\n"
            "case \"$6\" in\n"
            "921600) echo 'A fatal error occurred: Packet content transfer stopped (received 8 bytes).'; "
            "exit 2;;\n"
            "460800) echo 'A fatal error occurred: The chip stopped responding.'; exit 2;;\n"
            "esac\n");
        FlashManager manager(m_paths);
        prepare(manager);
        manager.retryFlashSlower(); // nothing on offer: nothing happens
        QVERIFY(!manager.isBusy());

        manager.flash();
        QTRY_VERIFY_WITH_TIMEOUT(!manager.isBusy(), 120'000);
        QCOMPARE(manager.status(), Status::error);
        QVERIFY(!manager.failureHint().isEmpty());
        for (const int expected : {460800, 115200}) {
            QCOMPARE(manager.slowerRetryBaudRate(), expected);
            const qsizetype before = manager.logger()->count();
            manager.retryFlashSlower();
            QCOMPARE(manager.statusDetail(), u"Yükleniyor…"_s);
            QCOMPARE(manager.slowerRetryBaudRate(), 0);
            QTRY_VERIFY_WITH_TIMEOUT(!manager.isBusy(), 120'000);
            QTRY_VERIFY(logLines(manager.logger(), before).value(0).contains(QString::number(expected)));
        }
        QCOMPARE(manager.status(), Status::complete);
        QCOMPARE(manager.slowerRetryBaudRate(), 0);

        manager.flash();
        QTRY_VERIFY_WITH_TIMEOUT(!manager.isBusy(), 120'000);
        const QList<QStringList> runs = m_folder->runs();
        QCOMPARE(runs.size(), 4);
        QStringList bauds;
        for (const QStringList &run : runs) {
            bauds.append(run.at(5));
            QCOMPARE(run.mid(6), runs.first().mid(6)); // the same write
        }
        QCOMPARE(bauds, (QStringList{u"921600"_s, u"460800"_s, u"115200"_s, u"921600"_s}));
    }

    void flood()
    {
        constexpr int total = 400'000;
        constexpr int half = total / 2;
        // About 76 bytes a line: 30 MB in all.
        const QByteArray format = "Flood line %06d: the tool keeps talking, the way a flooding tool does.";
        auto floodLine = [](int i) {
            return u"Flood line %1: the tool keeps talking, the way a flooding tool does."_s.arg(i, 6, 10,
                                                                                                 QChar(u'0'));
        };
        // Half the flood, a wait that only a turning event loop ends, the other half.
        m_folder->installTool(awkLines(1, half, format) + waitForGate + awkLines(half + 1, total, format) +
                              "exit 1\n");
        FlashManager manager(m_paths);
        prepare(manager);
        GateKeeper keeper(*m_folder, [&] { return lastMessage(manager) == floodLine(half); });

        manager.flash();
        QTRY_VERIFY_WITH_TIMEOUT(!manager.isBusy(), 120'000);

        QStringList tail;
        for (int i = total - 11; i <= total; ++i)
            tail.append(floodLine(i));
        QCOMPARE(manager.status(), Status::error);
        QCOMPARE(manager.statusDetail(), u"esptool failed (exit 1): "_s + tail.join(u' '));
        QStringList expected;
        for (int i = total - int(Logger::maxEntries) + 2; i <= total; ++i)
            expected.append(u"INFO "_s + floodLine(i));
        expected.append(u"ERR "_s + manager.statusDetail());
        QTRY_COMPARE(lastMessage(manager), manager.statusDetail());
        QCOMPARE(logLines(manager.logger()), expected);
    }
};

OLVEX_TEST_MAIN(TestDeviceOperations)
#include "tst_deviceoperations.moc"
