// The esptool runner: locating the tool, the command line and environment, line handling
// across chunks, the result, exit status and launch failures.
#include "esptooloutput.h"
#include "faketool.h"
#include "operationhandle.h"
#include "testsupport.h"

#include <QFile>
#include <QProcess>
#include <QThread>

#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {
const auto port = u"/dev/ttyACM0"_s;
const auto commandLine = u"INFO esptool --chip esp32s3 --port /dev/ttyACM0 --baud 921600"_s;
} // namespace

class TestEsptoolRunner : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void locate_data()
    {
        // Paths start with <res> (resource folder), <arduino> (the Arduino data folder) or
        // <path> (the only folder on PATH); a leading "-" marks a file that is not executable.
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QString>("expected"); // empty: notFound
        const auto row = [](const char *name, const QStringList &files, const QString &expected) {
            QTest::newRow(name) << files << expected;
        };

        const auto arduino = u"<arduino>/packages/esp32/tools/esptool_py/5.2.0/esptool"_s;
        row("order of the candidates", {u"<res>/ThirdParty/esptool/esptool"_s, u"<res>/esptool/esptool"_s},
            u"<res>/esptool/esptool"_s);
        row("non-executable first passed over",
            {u"-<res>/esptool/esptool"_s, u"<res>/ThirdParty/esptool/esptool"_s},
            u"<res>/ThirdParty/esptool/esptool"_s);
        row("ThirdParty folder", {u"<res>/ThirdParty/esptool"_s}, u"<res>/ThirdParty/esptool"_s);
        row("folder passed over for the resource folder itself",
            {u"-<res>/ThirdParty/esptool/esptool"_s, u"<res>/esptool"_s}, u"<res>/esptool"_s);
        row("resources before Arduino", {arduino, u"<res>/esptool"_s}, u"<res>/esptool"_s);
        row("Arduino before search path", {arduino, u"<path>/esptool"_s}, arduino);
        row("non-executable Arduino, search path used", {u"-"_s + arduino, u"<path>/esptool"_s},
            u"<path>/esptool"_s);
        row("search path esptool first", {u"<path>/esptool.py"_s, u"<path>/esptool"_s}, u"<path>/esptool"_s);
        row("search path esptool.py", {u"<path>/esptool.py"_s}, u"<path>/esptool.py"_s);
        row("nothing anywhere", {}, {});
    }

    void locate()
    {
        QFETCH(QStringList, files);
        QFETCH(QString, expected);

        FakeToolFolder folder;
        const QString pathDir = folder.root() + u"/bin"_s;
        EnvironmentOverride path("PATH", QFile::encodeName(pathDir));
        auto resolve = [&](QString text) {
            return text.replace(u"<res>"_s, folder.paths().resourceDirectory)
                .replace(u"<arduino>"_s, folder.paths().arduinoDataDirectory())
                .replace(u"<path>"_s, pathDir);
        };
        // Each says where it is and where it runs.
        for (const QString &file : std::as_const(files)) {
            const bool executable = !file.startsWith(u'-');
            FakeToolFolder::writeScript(resolve(executable ? file : file.sliced(1)),
                                        "#!/bin/sh\necho \"$0\"\npwd\n", executable);
        }
        Logger logger;
        EsptoolRunner runner(&logger, folder.paths());

        const auto outcome = awaitTask(runner.run(port, EsptoolRunner::chipIdArguments()));
        if (expected.isEmpty()) {
            const auto error = outcome.errorAs<EsptoolError>();
            QVERIFY(error);
            QCOMPARE(error->kind(), EsptoolError::Kind::notFound);
            QCOMPARE(error->description(), u"Bundled esptool binary was not found in the application."_s);
            QCoreApplication::processEvents();
            QCOMPARE(logger.count(), 0);
            return;
        }
        const QString tool = resolve(expected);
        QCOMPARE(outcome.value.value_or(QString()),
                 tool + u'\n' + esptoolWorkingDirectory(folder.paths()) + u'\n');
    }

    void commandLineAndEnvironment_data()
    {
        QTest::addColumn<QStringList>("extra");
        QTest::addColumn<QStringList>("expected"); // what follows the fixed prefix

        QTest::newRow("chip query") << EsptoolRunner::chipIdArguments()
                                    << QStringList{u"--before"_s, u"default-reset"_s, u"chip-id"_s};
        QTest::newRow("erase") << EsptoolRunner::eraseArguments()
                               << QStringList{u"--before"_s, u"default-reset"_s, u"erase-flash"_s};
        QTest::newRow("reboot") << EsptoolRunner::rebootArguments()
                                << QStringList{u"--before"_s, u"no-reset"_s, u"--after"_s, u"hard-reset"_s,
                                               u"chip-id"_s};
    }

    void commandLineAndEnvironment()
    {
        QFETCH(QStringList, extra);
        QFETCH(QStringList, expected);
        FakeToolRun run("env > \"$TMPDIR/env\"\n");
        // The tool's environment is ours plus TMPDIR (replaced) and NO_COLOR; the tool's own
        // settings from the environment and the user's home never reach it.
        EnvironmentOverride marker("OLVEX_TEST_MARKER", "inherited");
        EnvironmentOverride tmpdir("TMPDIR", "/somewhere/else");
        EnvironmentOverride noColor("NO_COLOR", "");
        EnvironmentOverride attempts("ESPTOOL_CONNECT_ATTEMPTS", "0");
        EnvironmentOverride config("ESPTOOL_CFGFILE", "/home/someone/esptool.cfg");
        EnvironmentOverride userBase("PYTHONUSERBASE", QByteArray());

        QVERIFY(!awaitTask(run.runner.run(u"/dev/my port"_s, extra)).error);
        expected =
            QStringList{u"--chip"_s, u"esp32s3"_s, u"--port"_s, u"/dev/my port"_s, u"--baud"_s, u"921600"_s} +
            expected;
        QCOMPARE(run.folder.recordedArguments(), std::optional(expected));
        QTRY_COMPARE(logLines(&run.logger), QStringList{u"INFO esptool "_s + expected.join(u' ')});

        const PlatformPaths &paths = run.folder.paths();
        const QList<QByteArray> environment = run.folder.temporaryFile(u"env"_s).split('\n');
        const QList<QByteArray> expectedEntries{
            "TMPDIR=" + QFile::encodeName(paths.temporaryDirectory), "NO_COLOR=1",
            "OLVEX_TEST_MARKER=inherited", "HOME=" + QFile::encodeName(esptoolWorkingDirectory(paths)),
            "PYTHONUSERBASE=" + QFile::encodeName(paths.homeDirectory + u"/.local"_s)};
        for (const QByteArray &entry : expectedEntries)
            QVERIFY2(environment.contains(entry), entry.constData());
        QVERIFY(std::none_of(environment.cbegin(), environment.cend(),
                             [](const QByteArray &entry) { return entry.startsWith("ESPTOOL_"); }));
        QVERIFY(QDir(esptoolWorkingDirectory(paths)).isEmpty());
    }

    void outcome_data()
    {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QString>("result"); // the output, or the failure's description
        const auto row = [](const char *name, const QByteArray &script, const QStringList &lines,
                            const QString &result) { QTest::newRow(name) << script << lines << result; };

        const QString replacement(QChar::ReplacementCharacter);
        row("two lines", "printf 'abc\\ndef\\n'\n", {u"abc"_s, u"def"_s}, u"abc\ndef\n"_s);
        row("only line feeds", "printf '\\n\\n'\n", {}, u"\n\n"_s);
        row("carriage returns stay in the line", "printf 'Writing (10 %%)\\rWriting (20 %%)\\r\\n'\n",
            {u"Writing (10 %)\rWriting (20 %)\r"_s}, u"Writing (10 %)\rWriting (20 %)\r\n"_s);
        row("line written in two pieces", "printf 'Connect'; sleep 0.3; printf 'ing....\\nnext\\n'\n",
            {u"Connecting...."_s, u"next"_s}, u"Connecting....\nnext\n"_s);
        row("multi-byte letter cut between writes", "printf 'Y\\303'; sleep 0.3; printf '\\274kleme\\n'\n",
            {u"Yükleme"_s}, u"Yükleme\n"_s);
        row("invalid bytes become U+FFFD", "printf 'a\\377b\\nc\\n'\n",
            {u"a"_s + replacement + u"b"_s, u"c"_s}, u"a"_s + replacement + u"b\nc\n"_s);
        row("last line without line feed", "printf 'abc\\ndef'\n", {u"abc"_s, u"def"_s}, u"abc\ndef"_s);
        row("output ends inside a letter", "printf 'ab\\303'\n", {u"ab"_s + replacement},
            u"ab"_s + replacement);
        row("standard error merged in order",
            "printf 'out\\n'; sleep 0.2; printf 'err\\n' >&2; sleep 0.2; printf 'again\\n'\n",
            {u"out"_s, u"err"_s, u"again"_s}, u"out\nerr\nagain\n"_s);
        row("overlong line passed on in pieces",
            "head -c 4096 /dev/zero | tr '\\0' a; sleep 0.2; head -c 4096 /dev/zero | tr '\\0' b;"
            " printf 'c\\nend\\n'\n",
            {QString(4096, u'a'), QString(4096, u'b'), u"c"_s, u"end"_s},
            QString(4096, u'a') + QString(4096, u'b') + u"c\nend\n"_s);

        // A failure carries the last twelve lines, joined by blanks.
        QStringList twenty;
        for (int i = 1; i <= 20; ++i)
            twenty.append(u"line "_s + QString::number(i));
        row("exit 2 after 20 lines", awkLines(1, 20, "line %d") + "exit 2\n", twenty,
            u"esptool failed (exit 2): "_s + twenty.mid(8).join(u' '));
        row("no output", "exit 3\n", {}, u"esptool failed (exit 3): "_s);
        // Qt reports the number of the signal as the status of a killed process.
        row("killed by a signal", "printf 'partial\\n'; kill -KILL $$\n", {u"partial"_s},
            u"esptool failed (exit 9): partial"_s);
    }

    void outcome()
    {
        QFETCH(QByteArray, script);
        QFETCH(QStringList, lines);
        QFETCH(QString, result);
        FakeToolRun run(script);
        QStringList received;
        bool onMainThread = true;
        auto onLine = [&received, &onMainThread](const QString &line) {
            onMainThread = onMainThread && QThread::currentThread() == qApp->thread();
            received.append(line);
        };

        const auto outcome = awaitTask(run.runner.run(port, {}, onLine));
        const auto error = outcome.errorAs<EsptoolError>();
        QCOMPARE(error ? error->description() : outcome.value.value_or(u"?"_s), result);
        QVERIFY(!error || error->kind() == EsptoolError::Kind::failed);
        QCOMPARE(received, lines);
        QVERIFY(onMainThread);
        // Every line is already in the log when the run returns: command line, then the lines.
        QStringList expected{commandLine};
        for (const QString &line : std::as_const(lines))
            expected.append(u"INFO "_s + line);
        QCOMPARE(logLines(&run.logger), expected);
    }

    // A flood is not kept: past the limit the output holds its whole first lines, then only
    // the lines the chip query reads.
    void floodOutputBounded()
    {
        const int fillers = int(EsptoolOutput::collectedLimit / 16); // 19 characters each
        FakeToolRun run(awkLines(1, fillers, "filler line %06d") +
                        "printf 'Chip type: ESP32-S3\\nfiller\\nMAC: aa:bb\\n'\n");

        const QString output = awaitTask(run.runner.run(port, {})).value.value_or(QString());
        QVERIFY(output.size() <= EsptoolOutput::collectedLimit + 64);
        QVERIFY(output.startsWith(u"filler line 000001\n"_s));
        QVERIFY(output.endsWith(u"\nChip type: ESP32-S3\nMAC: aa:bb\n"_s));
        QCOMPARE(output.section(u'\n', -4, -4).size(), 18); // the last whole filler line
    }

    // The program never stops the tool: a runner that goes away leaves its tool running
    // to the end (the process deletes itself then), and its run ends at once.
    void runnerDestroyedWhileToolRuns()
    {
        FakeToolFolder folder;
        folder.installTool("sleep 1; printf 'done\\n' > \"$TMPDIR/finished\"\n");
        Logger logger;
        auto *runner = new EsptoolRunner(&logger, folder.paths());
        auto task = runner->run(port, {});
        delete runner;
        QVERIFY(awaitTask(std::move(task)).errorAs<OperationCancelled>());
        QCOMPARE(folder.temporaryFile(u"finished"_s), QByteArray());
        QTRY_COMPARE(folder.temporaryFile(u"finished"_s), QByteArray("done\n"));
        // The process deletes itself once its tool is reaped; it must not outlive the test.
        const auto children = [] {
            QFile file(u"/proc/self/task/"_s + QString::number(getpid()) + u"/children"_s);
            return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed() : QByteArray("unreadable");
        };
        QTRY_COMPARE(children(), QByteArray());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    // A tool whose interpreter does not exist cannot be started: the platform's own text.
    void launchFailure()
    {
        FakeToolRun run("");
        const QString tool = run.folder.paths().resourceDirectory + u"/esptool/esptool"_s;
        FakeToolFolder::writeScript(tool, "#!/nonexistent/interpreter\n");
        QProcess probe;
        probe.setProcessEnvironment(QProcessEnvironment::systemEnvironment());
        probe.start(tool, {});
        QVERIFY(!probe.waitForStarted());

        const auto outcome = awaitTask(run.runner.run(port, EsptoolRunner::chipIdArguments()));
        const auto error = outcome.errorAs<PlatformError>();
        QVERIFY(error && !outcome.errorAs<EsptoolError>());
        QCOMPARE(error->description(), probe.errorString());
        QTRY_COMPARE(logLines(&run.logger), QStringList{commandLine + u" --before default-reset chip-id"_s});
    }

    void versionGuard_data()
    {
        QTest::addColumn<QByteArray>("answer"); // what the tool's `version` prints
        QTest::addColumn<QString>("firstLine"); // the session's first log line
        QTest::addColumn<bool>("refused");

        QTest::newRow("version 4 refused")
            << QByteArray("esptool.py v4.7.0") << u"INFO esptool v4.7.0 (PATH: <tool>)"_s << true;
        QTest::newRow("version 5.2 accepted")
            << QByteArray("esptool v5.2.0") << u"INFO esptool v5.2.0 (PATH: <tool>)"_s << false;
        QTest::newRow("no version said")
            << QByteArray("usage: something") << u"WARN esptool sürümü okunamadı (PATH: <tool>)"_s << false;
    }

    // A tool found on the search path is asked its version once a session; one older than
    // version 5 runs no device command, every time it is tried. One runner runs again.
    void versionGuard()
    {
        QFETCH(QByteArray, answer);
        QFETCH(QString, firstLine);
        QFETCH(bool, refused);

        FakeToolFolder folder;
        const QString tool = folder.root() + u"/bin/esptool"_s;
        FakeToolFolder::writeScript(tool, QByteArray(fakeToolPrelude) + "[ \"$1\" = version ] && echo '" +
                                              answer + "'\ntrue\n");
        EnvironmentOverride path("PATH", QFile::encodeName(folder.root() + u"/bin"_s));
        Logger logger;
        EsptoolVersionCheck check;
        EsptoolRunner runner(&logger, folder.paths(), &check);

        for (int attempt = 0; attempt < 2; ++attempt) {
            const auto error =
                awaitTask(runner.run(port, EsptoolRunner::chipIdArguments())).errorAs<EsptoolError>();
            QCOMPARE(bool(error), refused);
            if (refused)
                QCOMPARE(error->description(), u"Bu program esptool 5 veya daha yenisiyle çalışır; bulunan "
                                               u"esptool v4.7.0 çok eski (%1)."_s.arg(tool));
        }
        const QList<QStringList> runs = folder.runs();
        QCOMPARE(runs.size(), refused ? 1 : 3);
        QCOMPARE(runs.first(), QStringList{u"version"_s});
        QTRY_COMPARE(logLines(&logger).value(0), QString(firstLine).replace(u"<tool>"_s, tool));
        QCOMPARE(logLines(&logger).size(), refused ? 1 : 3);
    }
};

OLVEX_TEST_MAIN(TestEsptoolRunner)
#include "tst_esptoolrunner.moc"
