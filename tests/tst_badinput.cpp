// The controller when things go wrong: a tool that is missing, broken, killed or floods
// its output; names full of blanks, quotes, Turkish letters and pattern characters; and
// clicks that come while a write runs.
#include "faketool.h"
#include "flashmanager.h"
#include "logger.h"
#include "testsupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QEventLoop>
#include <QTimer>

#include <functional>

using namespace Qt::StringLiterals;
using Status = FlashManager::OperationStatus;

namespace {
enum class Click { connect, flash, erase, reboot };

void click(FlashManager &manager, Click which)
{
    switch (which) {
    case Click::connect:
        return manager.connect();
    case Click::flash:
        return manager.flash();
    case Click::erase:
        return manager.eraseFlash();
    case Click::reboot:
        return manager.reboot();
    }
}

/// Lines `first` to `last` from awk, each `format` with the number in it.
QByteArray awkLines(int first, int last, const QByteArray &format)
{
    return "awk 'BEGIN { for (i = " + QByteArray::number(first) + "; i <= " + QByteArray::number(last) +
           "; i++) printf \"" + format + "\\n\", i }'\n";
}

QString numbered(int i)
{
    return u"line "_s + QString::number(i);
}

// About 76 bytes a line: 400,000 of them are 30 MB.
const QByteArray floodFormat = "Flood line %06d: the tool keeps talking, the way a flooding tool does.";
QString floodLine(int i)
{
    return u"Flood line %1: the tool keeps talking, the way a flooding tool does."_s.arg(i, 6, 10,
                                                                                         QChar(u'0'));
}

/// The tool waits until the file "go" appears beside it. The wait is bounded so that a
/// failed test leaves no tool behind, and a tool that was never let go exits 99.
const QByteArray waitForGate =
    "i=0; while [ ! -e go ] && [ $i -lt 1500 ]; do sleep 0.01; i=$((i+1)); done\n[ -e go ] || exit 99\n";

/// "LEVEL message" for each log entry from `first` on.
QStringList logLines(const Logger *logger, qsizetype first = 0)
{
    QStringList lines;
    for (qsizetype i = first; i < logger->entries().size(); ++i)
        lines.append(rawValue(logger->entries()[i].level) + u' ' + logger->entries()[i].message);
    return lines;
}

QString lastMessage(const FlashManager &manager)
{
    const QList<LogEntry> &entries = manager.logger()->entries();
    return entries.isEmpty() ? QString() : entries.last().message;
}

/// A 5 ms timer on the main thread that creates `gate` at the first tick where `ready()`
/// holds. A tool waiting for the gate can only go on if the event loop kept turning.
struct GateKeeper
{
    GateKeeper(QString gate, std::function<bool()> ready) : gate(std::move(gate)), ready(std::move(ready))
    {
        QObject::connect(&timer, &QTimer::timeout, [this] {
            if (opened)
                return;
            if (!this->ready()) {
                ++ticksBeforeOpening;
                return;
            }
            opened = true;
            writeFile(this->gate, {});
        });
        timer.start(5);
    }
    QString gate;
    std::function<bool()> ready;
    QTimer timer;
    bool opened = false;
    int ticksBeforeOpening = 0;
};

/// Runs the event loop until the running operation has ended (false after two minutes).
bool finishes(FlashManager &manager)
{
    if (manager.isBusy()) {
        QEventLoop loop;
        QObject::connect(&manager, &FlashManager::isBusyChanged, &loop, &QEventLoop::quit);
        QTimer::singleShot(120'000, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return !manager.isBusy();
}

/// Every file and folder below `root` with its size.
QStringList treeOf(const QString &root)
{
    QStringList entries;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        entries.append(info.filePath() + u' ' + QString::number(info.size()));
    }
    entries.sort();
    return entries;
}
} // namespace

Q_DECLARE_METATYPE(Click)

class TestBadInput : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_root;
    PlatformPaths m_paths;

    [[nodiscard]] QString gate() const { return m_paths.resourceDirectory + u"/go"_s; }

    /// The fake tool: appends "--- run" and its arguments, one a line, to "runs" beside
    /// it, then does `body`.
    void installTool(const QByteArray &body, bool executable = true) const
    {
        QFile::Permissions permissions = QFile::ReadOwner | QFile::WriteOwner;
        if (executable)
            permissions |= QFile::ExeOwner;
        writeFile(m_paths.resourceDirectory + u"/esptool"_s,
                  "#!/bin/sh\n{ echo '--- run'; printf '%s\\n' \"$@\"; } >> runs\n" + body, permissions);
    }

    /// The argument lists of the tool's runs, oldest first.
    [[nodiscard]] QList<QStringList> runs() const
    {
        QFile file(m_paths.resourceDirectory + u"/runs"_s);
        QList<QStringList> result;
        if (!file.open(QIODevice::ReadOnly))
            return result;
        for (const QString &line : QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts)) {
            if (line == u"--- run"_s)
                result.append(QStringList());
            else
                result.last().append(line);
        }
        return result;
    }

    /// A zip in the test's root holding the four build files of `sketch` in "build/".
    [[nodiscard]] QUrl firmwareZip(const QString &name, const QString &sketch) const
    {
        makeZip(m_root->filePath(name), {
                                            {u"build/"_s + sketch + u".ino.bootloader.bin"_s, "b"},
                                            {u"build/"_s + sketch + u".ino.partitions.bin"_s, "p"},
                                            {u"build/boot_app0.bin"_s, "0"},
                                            {u"build/"_s + sketch + u".ino.bin"_s, "a"},
                                        });
        return QUrl::fromLocalFile(m_root->filePath(name));
    }

    /// Refreshes with these devices present, loads a package, and lets the log settle.
    void prepare(FlashManager &manager, const QStringList &ports = {u"ttyACM0"_s})
    {
        for (const QString &name : ports)
            writeFile(m_paths.deviceDirectory + u'/' + name, {});
        manager.refreshPorts();
        manager.loadFirmware(firmwareZip(u"firmware.zip"_s, u"sketch"_s));
        QCOMPARE(manager.firmwareImages().size(), 4);
        QCoreApplication::processEvents();
    }

private Q_SLOTS:
    void init()
    {
        // Blanks, quotes, Turkish letters and pattern characters in every path.
        m_root = std::make_unique<QTemporaryDir>(QDir::tempPath() + u"/olvex yük 'ş' \"ğ\" [*?]-XXXXXX"_s);
        QVERIFY(m_root->isValid());
        m_paths = pathsInside(m_root->path());
    }

    void cleanup() { removeTree(m_root->path()); }

    void toolFailures_data()
    {
        QTest::addColumn<Click>("which");
        QTest::addColumn<QByteArray>("tool"); // empty: no tool at all
        QTest::addColumn<bool>("executable");
        QTest::addColumn<int>("lines"); // "line 1" to "line N", printed before the gate
        QTest::addColumn<QString>("description");
        QTest::addColumn<QString>("hint");

        const auto notFound = u"Bundled esptool binary was not found in the application."_s;
        const auto notFoundHint =
            u"esptool bulunamadı. Uygulamanın yanına ya da Arduino klasörüne esptool yükleyin."_s;
        QStringList tail;
        for (int i = 489; i <= 500; ++i)
            tail.append(numbered(i));

        QTest::newRow("missing") << Click::reboot << QByteArray() << true << 0 << notFound << notFoundHint;
        QTest::newRow("not executable")
            << Click::connect << QByteArray("exit 0\n") << false << 0 << notFound << notFoundHint;
        QTest::newRow("killed by a signal")
            << Click::erase << awkLines(1, 3, "line %d") + waitForGate + "kill -KILL $$\n"
            << true << 3 << u"esptool failed (exit 9): line 1 line 2 line 3"_s << QString();
        QTest::newRow("exit 3 after 500 lines")
            << Click::flash << awkLines(1, 500, "line %d") + waitForGate + "exit 3\n"
            << true << 500 << u"esptool failed (exit 3): "_s + tail.join(u' ') << QString();
    }

    void toolFailures()
    {
        QFETCH(Click, which);
        QFETCH(QByteArray, tool);
        QFETCH(bool, executable);
        QFETCH(int, lines);
        QFETCH(QString, description);
        QFETCH(QString, hint);

        const bool toolRuns = !tool.isEmpty() && executable;
        std::optional<EnvironmentOverride> path; // and none on the search path either
        if (!toolRuns)
            path.emplace("PATH", QFile::encodeName(m_root->filePath(u"empty"_s)));
        if (!tool.isEmpty())
            installTool(tool, executable);
        FlashManager manager(m_paths);
        prepare(manager);
        const qsizetype before = manager.logger()->count();
        // Let the tool end only once all its lines are in the log while it still runs.
        GateKeeper keeper(gate(), [&] { return lines > 0 && lastMessage(manager) == numbered(lines); });

        click(manager, which);
        QVERIFY(finishes(manager));

        QCOMPARE(manager.status(), Status::error);
        QCOMPARE(manager.statusDetail(), description);
        QCOMPARE(manager.failureHint(), hint);
        QVERIFY(!manager.esptoolRunner());
        QCOMPARE(runs().size(), toolRuns ? 1 : 0);
        QStringList expected;
        if (which == Click::flash)
            expected.append(u"INFO 4 dosya esptool ile yüklenecek."_s);
        for (int i = 1; i <= lines; ++i)
            expected.append(u"INFO "_s + numbered(i));
        expected.append(u"ERR "_s + description);
        if (!hint.isEmpty())
            expected.append(u"WARN "_s + hint);
        QTRY_COMPARE(logLines(manager.logger(), before).size(), expected.size() + (toolRuns ? 1 : 0));
        QStringList logged = logLines(manager.logger(), before);
        if (toolRuns) {
            const QString commandLine = logged.takeAt(which == Click::flash ? 1 : 0);
            QVERIFY2(commandLine.startsWith(u"INFO esptool --chip esp32s3 --port "_s +
                                            manager.selectedPort()->path + u" --baud 921600 "_s),
                     qPrintable(commandLine));
        }
        QCOMPARE(logged, expected);
    }

    void flood_data()
    {
        QTest::addColumn<int>("exitCode");
        QTest::newRow("exit 0") << 0;
        QTest::newRow("exit 1") << 1;
    }

    void flood()
    {
        QFETCH(int, exitCode);
        constexpr int total = 400'000;
        constexpr int half = total / 2;
        // Half the flood, a wait that only a turning event loop ends, the other half.
        installTool(awkLines(1, half, floodFormat) + waitForGate + awkLines(half + 1, total, floodFormat) +
                    "exit " + QByteArray::number(exitCode) + "\n");
        FlashManager manager(m_paths);
        prepare(manager);
        GateKeeper keeper(gate(), [&] { return lastMessage(manager) == floodLine(half); });

        manager.flash();
        QVERIFY(finishes(manager));

        // A main thread that read the flood in one go would not have ticked in between.
        QVERIFY2(keeper.ticksBeforeOpening >= 3, qPrintable(QString::number(keeper.ticksBeforeOpening)));
        QStringList expected;
        const int first = total - int(Logger::maxEntries) + (exitCode == 0 ? 1 : 2);
        for (int i = first; i <= total; ++i)
            expected.append(u"INFO "_s + floodLine(i));
        if (exitCode == 0) {
            QCOMPARE(manager.status(), Status::complete);
            QCOMPARE(manager.statusDetail(), u"Yükleme tamamlandı."_s);
        } else {
            QStringList tail;
            for (int i = total - 11; i <= total; ++i)
                tail.append(floodLine(i));
            QCOMPARE(manager.status(), Status::error);
            QCOMPARE(manager.statusDetail(), u"esptool failed (exit 1): "_s + tail.join(u' '));
            expected.append(u"ERR "_s + manager.statusDetail());
        }
        QTRY_COMPARE(lastMessage(manager), expected.last().section(u' ', 1));
        QCOMPARE(manager.logger()->count(), Logger::maxEntries);
        QCOMPARE(logLines(manager.logger()), expected);
    }

    void awkwardNames_data()
    {
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("zipName");
        QTest::addColumn<QString>("sketch");
        QTest::addColumn<QString>("neighbour"); // a zip that the name, read as a pattern, matches

        QTest::newRow("blanks, quotes, Turkish letters")
            << u"ttyACM0 'ı' \"Ş\" ü"_s << u"Yeni \"sürüm\" 'v2' çğ.zip"_s << u"Olvex \"ana\" 'program' ğüş"_s
            << QString();
        QTest::newRow("pattern characters")
            << u"ttyUSB0 [1] *? \\"_s << u"Olvex \\ [v2] *?.zip"_s << u"olvex"_s << u"Olvex  2 ab.zip"_s;
    }

    void awkwardNames()
    {
        QFETCH(QString, port);
        QFETCH(QString, zipName);
        QFETCH(QString, sketch);
        QFETCH(QString, neighbour);

        installTool({});
        writeFile(m_paths.deviceDirectory + u'/' + port, {});
        if (!neighbour.isEmpty())
            (void)firmwareZip(neighbour, u"neighbour"_s);
        FlashManager manager(m_paths);
        manager.refreshPorts();
        manager.loadFirmware(firmwareZip(zipName, sketch));
        QCOMPARE(manager.status(), Status::idle);
        QCOMPARE(manager.firmwareDisplayText(), zipName);

        manager.flash();
        QVERIFY(finishes(manager));
        QCOMPARE(manager.status(), Status::complete);
        const QList<QStringList> calls = runs();
        QCOMPARE(calls.size(), 1);
        const QStringList arguments = calls.first();
        QCOMPARE(arguments.mid(2, 2), (QStringList{u"--port"_s, m_paths.deviceDirectory + u'/' + port}));
        const QString build = manager.extractedFirmwareDirectory()->toLocalFile() + u"/build/"_s;
        QCOMPARE(arguments.mid(arguments.size() - 8),
                 (QStringList{u"0x0"_s, build + sketch + u".ino.bootloader.bin"_s, u"0x8000"_s,
                              build + sketch + u".ino.partitions.bin"_s, u"0xE000"_s,
                              build + u"boot_app0.bin"_s, u"0x10000"_s, build + sketch + u".ino.bin"_s}));
    }

    void clicksWhileWriting()
    {
        // Once let go, the tool counts the images it was given that are still on disk.
        installTool(
            "echo 'Writing at 0x00010000... (42 %)'\n" + waitForGate +
            "n=0; for a in \"$@\"; do case \"$a\" in *.bin) [ -f \"$a\" ] && n=$((n+1));; esac; done\n"
            "echo \"$n images present\"\n");
        FlashManager manager(m_paths);
        prepare(manager, {u"ttyACM0"_s, u"ttyACM1"_s});
        const QUrl otherZip = firmwareZip(u"other.zip"_s, u"other"_s);
        const SerialPortInfo port = *manager.selectedPort();
        const QList<FirmwareImage> images = manager.firmwareImages();
        const QStringList folders = treeOf(m_paths.temporaryDirectory);

        manager.flash();
        QTRY_COMPARE(manager.progress(), 0.42);
        QCoreApplication::processEvents();
        const qsizetype before = manager.logger()->count();
        const std::shared_ptr<OperationHandle> task = manager.operationTask();
        const QString detail = manager.statusDetail();

        writeFile(m_paths.deviceDirectory + u"/ttyACM2"_s, {}); // a refresh would change the list
        manager.setSelectedPort(manager.ports().last());
        manager.flash();
        manager.connect();
        manager.eraseFlash();
        manager.reboot();
        manager.loadFirmware(otherZip);
        manager.refreshPorts();

        QTRY_COMPARE(logLines(manager.logger(), before),
                     QStringList{u"INFO 4 dosya esptool ile yüklenecek."_s});
        QVERIFY(manager.isBusy());
        QCOMPARE(manager.status(), Status::flashing);
        QCOMPARE(manager.statusDetail(), detail);
        QCOMPARE(manager.operationTask(), task);
        QCOMPARE(manager.ports().size(), 2);
        QCOMPARE(manager.selectedPort()->name, u"ttyACM1"_s);
        QCOMPARE(manager.firmwareImages(), images);
        QCOMPARE(manager.firmwareDisplayText(), u"firmware.zip"_s);
        QCOMPARE(treeOf(m_paths.temporaryDirectory), folders);

        writeFile(gate(), {});
        QVERIFY(finishes(manager));
        QCOMPARE(manager.status(), Status::complete);
        QCOMPARE(manager.statusDetail(), u"Yükleme tamamlandı."_s);
        QTRY_COMPARE(logLines(manager.logger(), before),
                     (QStringList{u"INFO 4 dosya esptool ile yüklenecek."_s, u"INFO 4 images present"_s}));
        const QList<QStringList> calls = runs();
        QCOMPARE(calls.size(), 1);
        QCOMPARE(calls.first().at(3), port.path);
        for (const FirmwareImage &image : images)
            QVERIFY(calls.first().contains(image.url.toLocalFile()));
    }
};

OLVEX_TEST_MAIN(TestBadInput)
#include "tst_badinput.moc"
