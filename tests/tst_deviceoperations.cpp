// Connect, write, erase, reboot and refresh through the controller with fake tools: what
// each ends with, what it logs and what it hands the tool, when things go right and when
// they go wrong. Every path holds blanks, quotes, Turkish letters and pattern characters,
// and ModemManager runs throughout.
#include "esptoollaunch.h"
#include "esptoolrunner.h"
#include "faketool.h"
#include "flashmanager.h"
#include "logger.h"
#include "testsupport.h"

#include <utility>

using namespace Qt::StringLiterals;
using Status = FlashManager::OperationStatus;
using Files = QMap<QString, QByteArray>;

namespace {
// Answers the chip query (and the reboot, which asks the same); copies the application
// header the test left, if any, where a read asks for it.
const QByteArray chipTool =
    "case \"$*\" in\n"
    "*read-flash*) for a; do last=$a; done\n"
    "    [ -e \"$TMPDIR/app-header.bin\" ] || exit 2\n"
    "    cp \"$TMPDIR/app-header.bin\" \"$last\" ;;\n"
    "*) printf 'Chip type: ESP32-S3 (QFN56) (revision v0.2)\\nMAC: 7c:df:a1:00:11:22\\n' ;;\n"
    "esac\n";
const QString summary = u"ESP32-S3 (QFN56) (revision v0.2), MAC 7c:df:a1:00:11:22"_s;
// In an expected log, this line stands for the command line of the operation's next run.
const QString command = u"INFO esptool "_s;

enum class Operation { connect, flash, erase, reboot, refresh };
enum class Setup { noPort, noPackage, ready, unplugged, deselected, connected, connectedUnplugged };

// In the order of Operation.
constexpr void (FlashManager::*operations[])() = {&FlashManager::connect, &FlashManager::flash,
                                                  &FlashManager::eraseFlash, &FlashManager::reboot,
                                                  &FlashManager::refreshPorts};
} // namespace

class TestDeviceOperations : public QObject
{
    Q_OBJECT

    std::unique_ptr<FakeToolFolder> m_folder;

    [[nodiscard]] const PlatformPaths &paths() const { return m_folder->paths(); }

private Q_SLOTS:
    void init()
    {
        m_folder = std::make_unique<FakeToolFolder>(QDir::tempPath() + u"/olvex yük 'ş' \"ğ\" [*?]-XXXXXX"_s);
        QVERIFY(m_folder->isValid());
        writeFile(paths().processDirectory + u"/812/comm"_s, "ModemManager\n");
    }

    void operation_data()
    {
        QTest::addColumn<Operation>("operation");
        QTest::addColumn<Setup>("setup");
        QTest::addColumn<QByteArray>("tool");   // empty: none anywhere
        QTest::addColumn<QByteArray>("header"); // of the application the device runs; empty: none
        QTest::addColumn<Status>("status");
        QTest::addColumn<QString>("detail"); // "$port": the selected port
        QTest::addColumn<double>("progress");
        QTest::addColumn<QString>("device");
        QTest::addColumn<QStringList>("arguments"); // how the tool's first run begins; empty: no run
        QTest::addColumn<QStringList>("log");       // all the operation logs; "$dev": the device folder

        const QString modem =
            u"WARN ModemManager çalışıyor; ttyACM portlarını kısa süre meşgul edebilir. Sorun "
            u"olursa güncelleme süresince durdurun: sudo systemctl stop ModemManager"_s;
        const QString version = u"INFO esptool "_s + bundledEsptoolVersion().text() + u" (yerleşik)"_s;
        const QString noPort = u"Önce USB portu seçin."_s;
        const QString noDevice = u"Cihaz bağlı değil"_s;
        const QString writing = u"INFO 4 dosya esptool ile yüklenecek."_s;
        const QStringList chipId = EsptoolRunner::chipIdArguments();
        const QStringList reboot = EsptoolRunner::rebootArguments();
        const QString scanning = u"INFO USB portları taranıyor…"_s;
        // A first connection's log around what the read of the running application adds.
        auto connected = [&](const QString &revision, const QStringList &read) {
            return QStringList{modem,
                               version,
                               command,
                               u"INFO Chip type: ESP32-S3 (QFN56) (revision "_s + revision + u')',
                               u"INFO MAC: 7c:df:a1:00:11:22"_s,
                               command} +
                   read + QStringList{u"OK Bağlandı: "_s + QString(summary).replace(u"v0.2"_s, revision)};
        };
        ImageRecipe running;
        running.descriptor = DescriptorRecipe{};
        running.descriptor->version = "1.5.0";
        running.descriptor->date = "Oct 12 2026";
        const QByteArray newer = espImage(running).first(0x100);

        const auto row = [](const char *name, Operation operation, Setup setup, Status status,
                            const QString &detail, const QString &device, const QStringList &arguments,
                            const QStringList &log, const QByteArray &tool = chipTool,
                            const QByteArray &header = {}, double progress = 0.0) {
            QTest::newRow(name) << operation << setup << tool << header << status << detail << progress
                                << device << arguments << log;
        };
        row("connect, no port", Operation::connect, Setup::noPort, Status::idle, noPort, noDevice, {},
            {u"WARN Port seçilmedi"_s});
        for (const auto &[name, operation] : {std::pair{"write, no port", Operation::flash},
                                              {"erase, no port", Operation::erase},
                                              {"reboot, no port", Operation::reboot}})
            row(name, operation, Setup::noPort, Status::idle, noPort, noDevice, {}, {});
        row("write, no package", Operation::flash, Setup::noPackage, Status::idle,
            u"Önce firmware zip seçin."_s, u"ttyACM0"_s, {}, {u"WARN Firmware seçilmedi"_s});
        row("connect without a package, the read fails", Operation::connect, Setup::noPackage,
            Status::complete, summary, summary, chipId,
            connected(u"v0.2"_s, {u"WARN Cihazdaki yazılım okunamadı: esptool failed (exit 2): "_s}));
        row("connect, a newer application on the device", Operation::connect, Setup::ready, Status::complete,
            summary, summary, chipId,
            connected(u"v0.2"_s, {u"INFO Cihazdaki yazılım: olvex_fw 1.5.0 (12 Ekim 2026)"_s,
                                  u"WARN Paketteki sürüm (1.4.2) cihazdakinden (1.5.0) daha eski."_s}),
            chipTool, newer);
        const QString later = QString(summary).replace(u"v0.2"_s, u"v1.0"_s);
        row("connect, a chip later than the package knows", Operation::connect, Setup::ready,
            Status::complete, later, later, chipId,
            connected(
                u"v1.0"_s,
                {u"INFO Cihazda tanınan bir uygulama yok"_s,
                 u"WARN sketch.ino.bootloader.bin en çok v0.99 çip revizyonunda çalışır; cihazın çipi v1.0."_s,
                 u"WARN sketch.ino.bin en çok v0.99 çip revizyonunda çalışır; cihazın çipi v1.0."_s}),
            QByteArray(chipTool).replace("v0.2", "v1.0"), QByteArray(0x100, char(0xFF)));
        row("connect fails, the summary stays", Operation::connect, Setup::connected, Status::error,
            u"esptool failed (exit 2): "_s, summary, chipId,
            {modem, command, u"ERR esptool failed (exit 2): "_s}, "exit 2\n");
        row("erase, the summary stays", Operation::erase, Setup::connected, Status::complete,
            u"Flash silindi."_s, summary, EsptoolRunner::eraseArguments(), {modem, command}, "exit 0\n", {},
            1.0);
        row("reboot fails, the summary stays", Operation::reboot, Setup::connected, Status::error,
            u"esptool failed (exit 3): "_s, summary, reboot,
            {modem, command, u"ERR esptool failed (exit 3): "_s}, "exit 3\n");
        row("reboot, the summary goes", Operation::reboot, Setup::connected, Status::complete,
            u"Yeniden başlatma gönderildi."_s, u"ttyACM0"_s, reboot, {modem, command}, "exit 0\n");
        // After the last byte the tool still verifies and resets: the bar stays short of its end.
        const QString stopped = u"esptool failed (exit 3): Writing at 0x00010000... (100 %) line 1"_s;
        row("write stops after the last byte", Operation::flash, Setup::ready, Status::error, stopped,
            u"ttyACM0"_s, {u"--before"_s, u"default-reset"_s},
            {writing, modem, version, command, u"INFO Writing at 0x00010000... (100 %)"_s, u"INFO line 1"_s,
             u"ERR "_s + stopped},
            "echo 'Writing at 0x00010000... (100 %)'\necho 'line 1'\nexit 3\n", {}, 0.999);
        const QString missing = u"Bundled esptool binary was not found in the application."_s;
        row("write, no tool", Operation::flash, Setup::ready, Status::error, missing, u"ttyACM0"_s, {},
            {writing, u"ERR "_s + missing,
             u"WARN Programla gelen esptool bulunamadı; kurulum eksik. Programı yeniden kurun."_s},
            QByteArray());
        QStringList nothingPlugged{scanning, u"INFO Port bulunamadı — programlama modunu deneyin."_s};
#if defined(Q_OS_LINUX)
        const QString gone =
            u"Cihaz çıkarılmış görünüyor: $port artık yok. Cihazı yeniden takın ve «Portları Yenile» deyin."_s;
        row("write, port unplugged", Operation::flash, Setup::unplugged, Status::error, gone, u"ttyACM0"_s,
            {}, {writing, u"ERR "_s + gone});
        // Why, as far as the system tells: nothing seen, not a member of Debian's serial group
        // (tests run as nobody), and ModemManager.
        nothingPlugged
            << u"INFO Sistem hiçbir USB seri cihaz görmüyor: başka bir USB kablosu (bazıları yalnızca "
               u"güç taşır) ve başka bir USB girişi deneyin."_s
            << u"INFO Seri portlar «dialout» grubunun; siz bu grupta değilsiniz. Kullanıcınızı gruba "
               u"ekleyin: sudo usermod -aG dialout $USER — ardından oturumu kapatıp yeniden açın."_s
            << u"INFO"_s + modem.mid(4);
#endif
        row("refresh, nothing plugged", Operation::refresh, Setup::noPort, Status::idle,
            u"Port bulunamadı — programlama modunu deneyin."_s, noDevice, {}, nothingPlugged);
        row("refresh, nothing selected", Operation::refresh, Setup::deselected, Status::idle,
            u"1 port bulundu."_s, u"ttyACM0"_s, {},
            {scanning, u"INFO 1 port bulundu."_s, u"INFO   • $dev/ttyACM0"_s});
        row("refresh keeps the connected port", Operation::refresh, Setup::connected, Status::idle,
            u"2 port bulundu."_s, summary, {},
            {scanning, u"INFO 2 port bulundu."_s, u"INFO   • $dev/ttyACM0"_s, u"INFO   • $dev/ttyACM1"_s});
        row("refresh, the connected port gone", Operation::refresh, Setup::connectedUnplugged, Status::idle,
            u"1 port bulundu."_s, u"ttyACM0"_s, {},
            {scanning, u"INFO 1 port bulundu."_s, u"INFO   • $dev/ttyACM0"_s});
    }

    void operation()
    {
        QFETCH(Operation, operation);
        QFETCH(Setup, setup);
        QFETCH(QByteArray, tool);
        QFETCH(QByteArray, header);
        QFETCH(Status, status);
        QFETCH(QString, detail);
        QFETCH(double, progress);
        QFETCH(QString, device);
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, log);

        const bool connected = setup == Setup::connected || setup == Setup::connectedUnplugged;
        const QStringList ports = setup == Setup::noPort ? QStringList()
                                  : connected            ? QStringList{u"ttyACM0"_s, u"ttyACM1"_s}
                                                         : QStringList{u"ttyACM0"_s};
        const bool loaded = setup != Setup::noPort && setup != Setup::noPackage;
        auto manager = makeController(paths(), ports, loaded ? esp32s3Build() : Files());
        if (connected) {
            m_folder->installTool(chipTool);
            manager->setSelectedPort(manager->ports().last());
            manager->connect();
            QTRY_VERIFY_WITH_TIMEOUT(manager->chipSummary(), 120'000);
            QTRY_COMPARE(manager->logger()->entries().last().message, u"Bağlandı: "_s + summary);
        }
        if (setup == Setup::deselected)
            manager->setSelectedPort(std::nullopt);
        if (!header.isEmpty())
            writeFile(paths().temporaryDirectory + u"/app-header.bin"_s, header);
        const QString port = manager->selectedPort() ? manager->selectedPort()->path : QString();
        if (setup == Setup::unplugged || setup == Setup::connectedUnplugged)
            QVERIFY(QFile::remove(port));
        std::optional<EnvironmentOverride> path; // and none on the search path either
        if (tool.isEmpty())
            path.emplace("PATH", QFile::encodeName(m_folder->root() + u"/empty"_s));
        else
            m_folder->installTool(tool);
        const qsizetype before = manager->logger()->count();
        const qsizetype runsBefore = m_folder->runs().size();

        (manager.get()->*operations[int(operation)])();
        if (manager->ports().size() > 1) // an operation keeps the port of the click
            manager->setSelectedPort(manager->ports().first());
        QTRY_VERIFY_WITH_TIMEOUT(!manager->isBusy(), 120'000);

        QCOMPARE(manager->status(), status);
        QCOMPARE(manager->statusDetail(), QString(detail).replace(u"$port"_s, port));
        QCOMPARE(manager->progress(), progress);
        QCOMPARE(manager->deviceDisplayText(), device);
        QCOMPARE(manager->slowerRetryBaudRate(), 0); // no transfer stopped half-way
        QVERIFY(!manager->esptoolRunner());
        QVERIFY(QDir(paths().temporaryDirectory).entryList({u"olvex-app-header-*"_s}).isEmpty()); // none left
        const QList<QStringList> runs = m_folder->runs().mid(runsBefore);
        QCOMPARE(runs.isEmpty(), arguments.isEmpty());
        if (!runs.isEmpty()) {
            QCOMPARE(runs.first().at(3), port);
            QCOMPARE(runs.first().mid(6, arguments.size()), arguments);
        }
        QStringList expected;
        qsizetype run = 0;
        for (QString line : std::as_const(log)) {
            if (line == command)
                line += runs.value(run++).join(u' ');
            expected.append(line.replace(u"$port"_s, port).replace(u"$dev"_s, paths().deviceDirectory));
        }
        QCoreApplication::processEvents(); // what is logged lands one event-loop turn later
        QTRY_COMPARE(logLines(manager->logger(), before), expected);
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
        auto manager = makeController(paths(), {u"ttyACM0"_s, u"ttyACM1"_s});
        const QString otherZip = paths().homeDirectory + u"/other.zip"_s;
        makeZip(otherZip, esp32s3Build(u"build/"_s, u"other"_s));
        const SerialPortInfo port = *manager->selectedPort();
        const QList<FirmwareImage> images = manager->firmwareImages();

        manager->flash();
        QTRY_VERIFY(manager->progress() > 0.42); // the three smaller images are done
        const QString writing = manager->statusDetail();
        QVERIFY2(writing.startsWith(u"Uygulama yazılıyor (4/4) · "_s), qPrintable(writing));
        QVERIFY(manager->esptoolRunner());
        QCoreApplication::processEvents();
        const qsizetype before = manager->logger()->count();
        const std::shared_ptr<OperationHandle> task = manager->operationTask();
        const QStringList folders = QDir(paths().temporaryDirectory).entryList();

        addFakePort(paths().deviceDirectory, u"ttyACM2"_s); // a refresh would change the list
        manager->setSelectedPort(manager->ports().last());
        manager->loadFirmware(QUrl::fromLocalFile(otherZip));
        for (const auto operation : operations)
            (manager.get()->*operation)();

        QTRY_COMPARE(logLines(manager->logger(), before),
                     QStringList{u"INFO 4 dosya esptool ile yüklenecek."_s});
        QCOMPARE(manager->status(), Status::flashing);
        QCOMPARE(manager->statusDetail(), writing);
        QCOMPARE(manager->operationTask(), task);
        QCOMPARE(manager->ports().size(), 2);
        QCOMPARE(manager->firmwareImages(), images);
        QCOMPARE(QDir(paths().temporaryDirectory).entryList(), folders);

        m_folder->openGate();
        QTRY_VERIFY_WITH_TIMEOUT(!manager->isBusy(), 120'000);
        // The tool verified what it wrote: the device now runs the package's application.
        QTRY_COMPARE(logLines(manager->logger()).mid(manager->logger()->count() - 2),
                     (QStringList{u"INFO 4 images present"_s, u"OK olvex_fw 1.4.2 yüklendi."_s}));
        QCOMPARE(manager->runningFirmware()->application, manager->packageInspection()->application());
        // No report that came before the end overwrites it.
        QCOMPARE(manager->status(), Status::complete);
        QCOMPARE(manager->progress(), 1.0);
        QCOMPARE(manager->statusDetail(), u"Yükleme tamamlandı."_s);
        const QList<QStringList> runs = m_folder->runs();
        QCOMPARE(runs.size(), 1);
        QCOMPARE(runs.first().at(3), port.path);
        for (const FirmwareImage &image : images)
            QVERIFY(runs.first().contains(image.url.toLocalFile()));
    }
};

OLVEX_TEST_MAIN(TestDeviceOperations)
#include "tst_deviceoperations.moc"
