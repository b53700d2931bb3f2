// The esptool runner: locating the tool, the command
// line and environment, line handling across chunks, exit status and launch failures.
#include "esptoolrunner.h"
#include "faketool.h"
#include "logger.h"
#include "testsupport.h"

#include <QProcess>
#include <QThread>

using namespace Qt::StringLiterals;

namespace {
const auto commandLinePrefix = u"esptool --chip esp32s3 --port /dev/cu.usbmodem1101 --baud 921600"_s;

/// The messages of the log's entries.
QStringList messages(const Logger &logger)
{
    QStringList result;
    for (const LogEntry &entry : logger.entries())
        result.append(entry.message);
    return result;
}

/// `count` lines "line 1", "line 2", ... from the shell.
QByteArray numberedLines(int count)
{
    return "i=1; while [ $i -le " + QByteArray::number(count) +
           " ]; do printf 'line %d\\n' $i; i=$((i+1)); done\n";
}
} // namespace

class TestEsptoolRunner : public QObject
{
    Q_OBJECT

private:
    static bool hasRunningProcess(EsptoolRunner &runner)
    {
        QMutexLocker lock(&runner.m_lock);
        return !runner.m_runningProcess.isNull();
    }

private Q_SLOTS:
    // ---- Locating the tool -------------------------------------------------------------

    void locate_data()
    {
        // Paths start with <res> (resource folder), <arduino> (the Arduino data folder) or
        // <path> (the only folder on PATH); a leading "-" marks a file that is not executable.
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QString>("expected"); // empty: notFound

        const auto arduino = u"<arduino>/packages/esp32/tools/esptool_py/5.2.0/esptool"_s;
        QTest::newRow("first candidate")
            << QStringList{u"<res>/esptool/esptool"_s} << u"<res>/esptool/esptool"_s;
        QTest::newRow("non-executable first passed over")
            << QStringList{u"-<res>/esptool/esptool"_s, u"<res>/ThirdParty/esptool/esptool"_s}
            << u"<res>/ThirdParty/esptool/esptool"_s;
        QTest::newRow("order of the candidates")
            << QStringList{u"<res>/ThirdParty/esptool/esptool"_s, u"<res>/esptool/esptool"_s}
            << u"<res>/esptool/esptool"_s;
        QTest::newRow("ThirdParty folder")
            << QStringList{u"<res>/ThirdParty/esptool"_s} << u"<res>/ThirdParty/esptool"_s;
        QTest::newRow("resource folder itself") << QStringList{u"<res>/esptool"_s} << u"<res>/esptool"_s;
        QTest::newRow("directory passed over")
            << QStringList{u"-<res>/ThirdParty/esptool/esptool"_s, u"<res>/esptool"_s} << u"<res>/esptool"_s;
        QTest::newRow("Arduino folder") << QStringList{arduino} << arduino;
        QTest::newRow("resources before Arduino")
            << QStringList{arduino, u"<res>/esptool"_s} << u"<res>/esptool"_s;
        QTest::newRow("non-executable resource, Arduino used")
            << QStringList{u"-<res>/esptool/esptool"_s, arduino} << arduino;
        QTest::newRow("Arduino before search path") << QStringList{arduino, u"<path>/esptool"_s} << arduino;
        QTest::newRow("search path esptool")
            << QStringList{u"<path>/esptool.py"_s, u"<path>/esptool"_s} << u"<path>/esptool"_s;
        QTest::newRow("search path esptool.py")
            << QStringList{u"<path>/esptool.py"_s} << u"<path>/esptool.py"_s;
        QTest::newRow("non-executable Arduino, search path used")
            << QStringList{u"-"_s + arduino, u"<path>/esptool"_s} << u"<path>/esptool"_s;
        QTest::newRow("nothing anywhere") << QStringList{} << QString();
        QTest::newRow("nothing executable anywhere")
            << QStringList{u"-<res>/esptool/esptool"_s, u"-<res>/ThirdParty/esptool"_s, u"-"_s + arduino,
                           u"-<path>/esptool"_s, u"-<path>/esptool.py"_s}
            << QString();
    }

    void locate()
    {
        QFETCH(QStringList, files);
        QFETCH(QString, expected);

        FakeToolFolder folder;
        const QString pathDir = folder.root() + u"/bin"_s;
        QDir().mkpath(pathDir);
        EnvironmentOverride path("PATH", QFile::encodeName(pathDir));
        auto resolve = [&](QString text) {
            return text.replace(u"<res>"_s, folder.paths().resourceDirectory)
                .replace(u"<arduino>"_s, folder.paths().arduinoDataDirectory())
                .replace(u"<path>"_s, pathDir);
        };
        for (const QString &file : std::as_const(files)) {
            const bool executable = !file.startsWith(u'-');
            FakeToolFolder::writeScript(resolve(executable ? file : file.sliced(1)), "#!/bin/sh\n",
                                        executable);
        }

        Logger logger;
        EsptoolRunner runner(&logger, folder.paths());
        if (expected.isEmpty()) {
            try {
                (void)runner.locateEsptool();
                QFAIL("locateEsptool() found something");
            } catch (const EsptoolError &error) {
                QCOMPARE(error.kind(), EsptoolError::Kind::notFound);
            }
        } else {
            QCOMPARE(runner.locateEsptool(), resolve(expected));
        }
    }

    void notFoundLogsNothingAndStartsNothing()
    {
        FakeToolFolder folder;
        EnvironmentOverride path("PATH", QFile::encodeName(folder.root() + u"/empty"_s));
        Logger logger;
        EsptoolRunner runner(&logger, folder.paths());

        const auto outcome =
            awaitTask(runner.run(u"/dev/cu.usbmodem1101"_s, EsptoolRunner::chipIdArguments()));
        QVERIFY(outcome.done);
        const auto error = outcome.errorAs<EsptoolError>();
        QVERIFY(error);
        QCOMPARE(error->kind(), EsptoolError::Kind::notFound);
        QCOMPARE(error->description(), u"Bundled esptool binary was not found in the application."_s);
        QCoreApplication::processEvents();
        QCOMPARE(logger.count(), 0);
        QVERIFY(!hasRunningProcess(runner));
        QVERIFY(!folder.recordedArguments());
    }

    void arduinoToolRunsInItsFolder()
    {
        FakeToolFolder folder;
        const QString tool =
            folder.paths().arduinoDataDirectory() + u"/packages/esp32/tools/esptool_py/5.2.0/esptool"_s;
        FakeToolFolder::writeScript(tool, QByteArray(fakeToolPrelude) + "pwd\n");
        Logger logger;
        EsptoolRunner runner(&logger, folder.paths());

        const auto outcome = awaitTask(runner.run(u"/dev/cu.usbmodem1101"_s, {}));
        QVERIFY(!outcome.error);
        QCOMPARE(*outcome.value, QFileInfo(tool).absolutePath() + u'\n');
        QVERIFY(folder.recordedArguments());
    }

    // ---- Command line and environment -------------------------------------------------

    void commandLine_data()
    {
        QTest::addColumn<QString>("port");
        QTest::addColumn<QStringList>("extra");
        QTest::addColumn<QString>("logLine");

        QTest::newRow("chip query")
            << u"/dev/cu.usbmodem1101"_s << EsptoolRunner::chipIdArguments()
            << u"esptool --chip esp32s3 --port /dev/cu.usbmodem1101 --baud 921600 --before default-reset chip-id"_s;
        QTest::newRow("erase")
            << u"/dev/ttyACM0"_s << EsptoolRunner::eraseArguments()
            << u"esptool --chip esp32s3 --port /dev/ttyACM0 --baud 921600 --before default-reset "
               u"erase-flash"_s;
        QTest::newRow("reboot")
            << u"/dev/ttyACM0"_s << EsptoolRunner::rebootArguments()
            << u"esptool --chip esp32s3 --port /dev/ttyACM0 --baud 921600 --before no-reset "
               u"--after hard-reset chip-id"_s;
        QTest::newRow("no extra arguments") << u"/dev/ttyUSB0"_s << QStringList()
                                            << u"esptool --chip esp32s3 --port /dev/ttyUSB0 --baud 921600"_s;
        // No shell and no quoting: an argument with a blank reaches the tool whole, and the
        // log line simply joins.
        QTest::newRow("argument with blanks")
            << u"/dev/my port"_s << QStringList{u"write-flash"_s, u"0x0"_s, u"/tmp/a b/c.bin"_s}
            << u"esptool --chip esp32s3 --port /dev/my port --baud 921600 write-flash 0x0 /tmp/a b/c.bin"_s;
    }

    void commandLine()
    {
        QFETCH(QString, port);
        QFETCH(QStringList, extra);
        QFETCH(QString, logLine);

        FakeToolFolder folder;
        const QString tool = folder.installTool("env > \"$TMPDIR/env\"\npwd > \"$TMPDIR/pwd\"\n");
        // The tool's environment is ours plus TMPDIR (replaced) and NO_COLOR.
        EnvironmentOverride marker("OLVEX_TEST_MARKER", "inherited");
        EnvironmentOverride tmpdir("TMPDIR", "/somewhere/else");
        EnvironmentOverride noColor("NO_COLOR", "");
        Logger logger;
        EsptoolRunner runner(&logger, folder.paths());

        const auto outcome = awaitTask(runner.run(port, extra));
        QVERIFY(!outcome.error);
        QStringList expectedArguments{u"--chip"_s, u"esp32s3"_s, u"--port"_s, port, u"--baud"_s, u"921600"_s};
        expectedArguments += extra;
        QCOMPARE(folder.recordedArguments(), std::optional(expectedArguments));

        const QList<QByteArray> environment = folder.temporaryFile(u"env"_s).split('\n');
        QVERIFY(environment.contains("TMPDIR=" + QFile::encodeName(folder.paths().temporaryDirectory)));
        QVERIFY(environment.contains("NO_COLOR=1"));
        QVERIFY(environment.contains("OLVEX_TEST_MARKER=inherited"));
        QCOMPARE(folder.temporaryFile(u"pwd"_s).trimmed(), QFile::encodeName(QFileInfo(tool).absolutePath()));

        QTRY_COMPARE(logger.count(), 1);
        QCOMPARE(logger.entries().first().message, logLine);
        QCOMPARE(logger.entries().first().level, Level::info);
    }

    // ---- Lines ------------------------------------------------------------------------

    void lines_data()
    {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QString>("output");

        const QString replacement(QChar::ReplacementCharacter);
        QTest::newRow("two lines") << QByteArray("printf 'abc\\ndef\\n'\n") << QStringList{u"abc"_s, u"def"_s}
                                   << u"abc\ndef\n"_s;
        QTest::newRow("only line feeds") << QByteArray("printf '\\n\\n'\n") << QStringList{} << u"\n\n"_s;
        QTest::newRow("no output") << QByteArray() << QStringList{} << QString();
        QTest::newRow("empty pieces skipped") << QByteArray("printf '\\nabc\\n\\n\\ndef\\n\\n'\n")
                                              << QStringList{u"abc"_s, u"def"_s} << u"\nabc\n\n\ndef\n\n"_s;
        QTest::newRow("carriage return stays in the line")
            << QByteArray("printf 'Writing (10 %%)\\rWriting (20 %%)\\n'\n")
            << QStringList{u"Writing (10 %)\rWriting (20 %)"_s} << u"Writing (10 %)\rWriting (20 %)\n"_s;
        QTest::newRow("carriage return before line feed")
            << QByteArray("printf 'abc\\r\\n'\n") << QStringList{u"abc\r"_s} << u"abc\r\n"_s;
        QTest::newRow("line written in two pieces")
            << QByteArray("printf 'Connect'; sleep 0.3; printf 'ing....\\nnext\\n'\n")
            << QStringList{u"Connecting...."_s, u"next"_s} << u"Connecting....\nnext\n"_s;
        QTest::newRow("line feed arrives alone")
            << QByteArray("printf 'abc'; sleep 0.3; printf '\\n'; sleep 0.3; printf 'def\\n'\n")
            << QStringList{u"abc"_s, u"def"_s} << u"abc\ndef\n"_s;
        QTest::newRow("multi-byte letter cut between writes")
            << QByteArray("printf 'Y\\303'; sleep 0.3; printf '\\274kleme\\n'\n") << QStringList{u"Yükleme"_s}
            << u"Yükleme\n"_s;
        QTest::newRow("four-byte letter cut twice")
            << QByteArray("printf 'a\\360\\237'; sleep 0.3; printf '\\224'; sleep 0.3; printf '\\214b\\n'\n")
            << QStringList{u"a\U0001F50Cb"_s} << u"a\U0001F50Cb\n"_s;
        QTest::newRow("invalid bytes become U+FFFD")
            << QByteArray("printf 'a\\377b\\nc\\n'\n") << QStringList{u"a"_s + replacement + u"b"_s, u"c"_s}
            << u"a"_s + replacement + u"b\nc\n"_s;
        QTest::newRow("chunk of invalid bytes only")
            << QByteArray("printf '\\377\\376'; sleep 0.3; printf 'ok\\n'\n")
            << QStringList{replacement + replacement + u"ok"_s} << replacement + replacement + u"ok\n"_s;
        QTest::newRow("last line without line feed")
            << QByteArray("printf 'abc\\ndef'\n") << QStringList{u"abc"_s, u"def"_s} << u"abc\ndef"_s;
        QTest::newRow("output ends inside a letter")
            << QByteArray("printf 'ab\\303'\n") << QStringList{u"ab"_s + replacement}
            << u"ab"_s + replacement;
        QTest::newRow("standard error merged in order")
            << QByteArray(
                   "printf 'out\\n'; sleep 0.2; printf 'err\\n' >&2; sleep 0.2; printf 'out again\\n'\n")
            << QStringList{u"out"_s, u"err"_s, u"out again"_s} << u"out\nerr\nout again\n"_s;
        QTest::newRow("Turkish and typography")
            << QByteArray("printf 'Yükleniyor… — «tamam»\\n'\n") << QStringList{u"Yükleniyor… — «tamam»"_s}
            << u"Yükleniyor… — «tamam»\n"_s;
    }

    void lines()
    {
        QFETCH(QByteArray, script);
        QFETCH(QStringList, lines);
        QFETCH(QString, output);

        FakeToolFolder folder;
        folder.installTool(script);
        Logger logger;
        EsptoolRunner runner(&logger, folder.paths());
        QStringList received;
        bool onMainThread = true;
        auto onLine = [&received, &onMainThread](const QString &line) {
            onMainThread = onMainThread && QThread::currentThread() == qApp->thread();
            received.append(line);
        };

        const auto outcome = awaitTask(runner.run(u"/dev/cu.usbmodem1101"_s, {}, onLine));
        QVERIFY(!outcome.error);
        QCOMPARE(*outcome.value, output);
        QCOMPARE(received, lines);
        QVERIFY(onMainThread);

        // Every line is already in the log when the run returns: command line, then the lines.
        QStringList logged = messages(logger);
        QVERIFY(!logged.isEmpty());
        QCOMPARE(logged.takeFirst(), commandLinePrefix);
        QCOMPARE(logged, lines);
        for (const LogEntry &entry : logger.entries())
            QCOMPARE(entry.level, Level::info);
    }

    void manyLinesInOrder()
    {
        FakeToolFolder folder;
        folder.installTool(numberedLines(5000));
        Logger logger;
        EsptoolRunner runner(&logger, folder.paths());
        int expected = 1;
        bool inOrder = true;
        auto onLine = [&expected, &inOrder](const QString &line) {
            inOrder = inOrder && line == u"line "_s + QString::number(expected);
            ++expected;
        };

        const auto outcome = awaitTask(runner.run(u"/dev/cu.usbmodem1101"_s, {}, onLine));
        QVERIFY(!outcome.error);
        QVERIFY(inOrder);
        QCOMPARE(expected, 5001);
        QCOMPARE(outcome.value->count(u'\n'), 5000);
        QCOMPARE(logger.entries().last().message, u"line 5000"_s);
    }

    void runningProcessWhileRunning()
    {
        FakeToolFolder folder;
        folder.installTool("printf 'first\\n'; sleep 0.2; printf 'second\\n'\n");
        Logger logger;
        EsptoolRunner runner(&logger, folder.paths());
        QList<bool> whileRunning;
        auto onLine = [&runner, &whileRunning](const QString &) {
            whileRunning.append(hasRunningProcess(runner) &&
                                runner.m_runningProcess->state() == QProcess::Running);
        };
        QVERIFY(!hasRunningProcess(runner));
        const auto outcome = awaitTask(runner.run(u"/dev/cu.usbmodem1101"_s, {}, onLine));
        QVERIFY(!outcome.error);
        QCOMPARE(whileRunning, (QList<bool>{true, true}));
        QVERIFY(!hasRunningProcess(runner));

        // The runner can run again.
        const auto again = awaitTask(runner.run(u"/dev/cu.usbmodem1101"_s, {}));
        QCOMPARE(*again.value, u"first\nsecond\n"_s);
    }

    // The program never stops the tool: a runner that goes away leaves its tool running
    // to the end (the process deletes itself then).
    void runnerDestroyedWhileToolRuns()
    {
        FakeToolFolder folder;
        folder.installTool("sleep 0.3; printf 'done\\n' > \"$TMPDIR/finished\"\n");
        Logger logger;
        auto *runner = new EsptoolRunner(&logger, folder.paths());
        {
            auto task = runner->run(u"/dev/cu.usbmodem1101"_s, {});
            QVERIFY(hasRunningProcess(*runner));
            delete runner;
        }
        QTRY_COMPARE(folder.temporaryFile(u"finished"_s), QByteArray("done\n"));
    }

    void mainThreadStaysFree()
    {
        FakeToolFolder folder;
        folder.installTool("sleep 0.5\n");
        Logger logger;
        EsptoolRunner runner(&logger, folder.paths());
        int ticks = 0;
        QTimer timer;
        QObject::connect(&timer, &QTimer::timeout, [&ticks] { ++ticks; });
        timer.start(10);
        const auto outcome = awaitTask(runner.run(u"/dev/cu.usbmodem1101"_s, {}));
        QVERIFY(!outcome.error);
        QVERIFY2(ticks >= 20, qPrintable(QString::number(ticks)));
    }

    // ---- Exit status and launch -------------------------------------------------------

    void failure_data()
    {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("tail");

        QStringList lines9to20;
        for (int i = 9; i <= 20; ++i)
            lines9to20.append(u"line "_s + QString::number(i));
        QTest::newRow("exit 2 after 20 lines") << numberedLines(20) + "exit 2\n"
                                               << 2 << lines9to20.join(u' ');
        QTest::newRow("no output") << QByteArray("exit 3\n") << 3 << QString();
        QTest::newRow("fewer than 12 lines") << QByteArray("printf 'a\\nb\\n'; exit 1\n") << 1 << u"a b"_s;
        QTest::newRow("empty lines and an unfinished last line")
            << QByteArray("printf 'a\\n\\n\\nb\\n'; sleep 0.2; printf 'c'; exit 4\n") << 4 << u"a b c"_s;
        QTest::newRow("line assembled across chunks counts once")
            << QByteArray("printf 'Fail'; sleep 0.2; printf 'ed\\n'; exit 5\n") << 5 << u"Failed"_s;
        QTest::newRow("exit 255") << QByteArray("printf 'x\\n'; exit 255\n") << 255 << u"x"_s;
        QTest::newRow("device that does not answer")
            << QByteArray(
                   "printf 'esptool v5.3.1\\nSerial port /dev/ttyACM0:\\nConnecting......\\n'\n"
                   "printf '\\nA fatal error occurred: Failed to connect to ESP32-S3: No serial data "
                   "received.\\n' >&2\n"
                   "printf 'For troubleshooting steps visit: "
                   "https://docs.espressif.com/projects/esptool/en/latest/troubleshooting.html\\n' >&2\n"
                   "exit 2\n")
            << 2
            << u"esptool v5.3.1 Serial port /dev/ttyACM0: Connecting...... A fatal error occurred: Failed to "
               u"connect to ESP32-S3: No serial data received. For troubleshooting steps visit: "
               u"https://docs.espressif.com/projects/esptool/en/latest/troubleshooting.html"_s;
        // Qt reports the number of the signal as the status of a killed process.
        QTest::newRow("killed by a signal")
            << QByteArray("printf 'partial\\n'; kill -KILL $$\n") << 9 << u"partial"_s;
        QTest::newRow("terminated by a signal") << QByteArray("kill -TERM $$\n") << 15 << QString();
    }

    void failure()
    {
        QFETCH(QByteArray, script);
        QFETCH(int, status);
        QFETCH(QString, tail);

        FakeToolFolder folder;
        folder.installTool(script);
        Logger logger;
        EsptoolRunner runner(&logger, folder.paths());

        const auto outcome = awaitTask(runner.run(u"/dev/cu.usbmodem1101"_s, {}));
        const auto error = outcome.errorAs<EsptoolError>();
        QVERIFY(error);
        QCOMPARE(error->kind(), EsptoolError::Kind::failed);
        QCOMPARE(error->status(), status);
        QCOMPARE(error->tail(), tail);
        QCOMPARE(error->description(),
                 u"esptool failed (exit "_s + QString::number(status) + u"): "_s + tail);
        QVERIFY(!hasRunningProcess(runner));
    }

    void launchFailure_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("interpreter that does not exist") << QByteArray("#!/nonexistent/interpreter\n");
        QTest::newRow("not a program") << QByteArray("\x7f"
                                                     "ELF garbage");
    }

    void launchFailure()
    {
        QFETCH(QByteArray, content);

        FakeToolFolder folder;
        const QString tool = folder.paths().resourceDirectory + u"/esptool/esptool"_s;
        FakeToolFolder::writeScript(tool, content);
        // What the platform itself says about starting this file (with an environment of
        // its own, as the runner starts it).
        QProcess probe;
        probe.setProcessEnvironment(QProcessEnvironment::systemEnvironment());
        probe.start(tool, {});
        QVERIFY(!probe.waitForStarted());
        const QString platformText = probe.errorString();

        Logger logger;
        EsptoolRunner runner(&logger, folder.paths());
        const auto outcome =
            awaitTask(runner.run(u"/dev/cu.usbmodem1101"_s, EsptoolRunner::chipIdArguments()));
        QVERIFY(outcome.done);
        QVERIFY(!outcome.errorAs<EsptoolError>());
        const auto error = outcome.errorAs<PlatformError>();
        QVERIFY(error);
        QVERIFY(!error->description().isEmpty());
        QCOMPARE(error->description(), platformText);
        QVERIFY(!hasRunningProcess(runner));
        QTRY_COMPARE(logger.count(), 1);
        QCOMPARE(logger.entries().first().message, commandLinePrefix + u" --before default-reset chip-id"_s);
    }

    // ---- Chip query -------------------------------------------------------------------

    void readChipInfo()
    {
        FakeToolFolder folder;
        // The output of esptool 5 to a pipe.
        folder.installTool(
            "cat <<'EOF'\n"
            "esptool v5.3.1\n"
            "Serial port /dev/ttyACM0:\n"
            "Connecting....\n"
            "Connected to ESP32-S3 on /dev/ttyACM0:\n"
            "Chip type:          ESP32-S3 (QFN56) (revision v0.2)\n"
            "Features:           Wi-Fi, BT 5 (LE), Dual Core + LP Core, 240MHz, Embedded PSRAM 8MB "
            "(AP_3v3)\n"
            "Crystal frequency:  40MHz\n"
            "USB mode:           USB-Serial/JTAG\n"
            "MAC:                7c:df:a1:00:11:22\n"
            "\n"
            "Uploading stub flasher...\n"
            "Running stub flasher...\n"
            "Stub flasher running.\n"
            "Changing baud rate to 921600...\n"
            "Changed.\n"
            "\n"
            "Warning: ESP32-S3 has no chip ID. Reading MAC address instead.\n"
            "MAC:                7c:df:a1:00:11:22\n"
            "\n"
            "Hard resetting via RTS pin...\n"
            "EOF\n");
        Logger logger;
        EsptoolRunner runner(&logger, folder.paths());

        const auto outcome = awaitTask(runner.readChipInfo(u"/dev/ttyACM0"_s));
        QVERIFY(!outcome.error);
        const EsptoolChipSummary &summary = *outcome.value;
        QCOMPARE(summary.chipType, u"ESP32-S3 (QFN56) (revision v0.2)"_s);
        QCOMPARE(summary.macAddress, u"7c:df:a1:00:11:22"_s);
        QCOMPARE(summary.usbMode, u"USB-Serial/JTAG"_s);
        QCOMPARE(summary.summaryText(),
                 u"ESP32-S3 (QFN56) (revision v0.2), Wi-Fi, BT 5 (LE), Dual Core + LP Core, 240MHz, Embedded "
                 u"PSRAM 8MB (AP_3v3), MAC 7c:df:a1:00:11:22"_s);
        QCOMPARE(
            folder.recordedArguments(),
            std::optional(QStringList{u"--chip"_s, u"esp32s3"_s, u"--port"_s, u"/dev/ttyACM0"_s, u"--baud"_s,
                                      u"921600"_s, u"--before"_s, u"default-reset"_s, u"chip-id"_s}));
        QCOMPARE(logger.count(), 1 + 17); // the command line and the non-empty lines
    }

    void readChipInfoPassesFailureOn()
    {
        FakeToolFolder folder;
        folder.installTool("printf 'A fatal error occurred: Failed to connect to ESP32-S3: No serial data "
                           "received.\\n' >&2; exit 2\n");
        Logger logger;
        EsptoolRunner runner(&logger, folder.paths());
        const auto outcome = awaitTask(runner.readChipInfo(u"/dev/ttyACM0"_s));
        const auto error = outcome.errorAs<EsptoolError>();
        QVERIFY(error);
        QCOMPARE(
            error->description(),
            u"esptool failed (exit 2): A fatal error occurred: Failed to connect to ESP32-S3: No serial data "
            u"received."_s);
    }

    void argumentLists()
    {
        QCOMPARE(EsptoolRunner::chipIdArguments(),
                 (QStringList{u"--before"_s, u"default-reset"_s, u"chip-id"_s}));
        QCOMPARE(EsptoolRunner::eraseArguments(),
                 (QStringList{u"--before"_s, u"default-reset"_s, u"erase-flash"_s}));
        QCOMPARE(EsptoolRunner::rebootArguments(),
                 (QStringList{u"--before"_s, u"no-reset"_s, u"--after"_s, u"hard-reset"_s, u"chip-id"_s}));
    }
};

OLVEX_TEST_MAIN(TestEsptoolRunner)
#include "tst_esptoolrunner.moc"
