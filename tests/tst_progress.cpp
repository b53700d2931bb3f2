// The write operation of the runner: the command line,
// `parseProgress` in both output styles of the tool, the reports and the final
// ("Flash complete", 1.0) that lands before the caller resumes.
#include "esptoolrunner.h"
#include "faketool.h"
#include "logger.h"
#include "testsupport.h"

#include <QThread>

using namespace Qt::StringLiterals;

namespace {
struct Report
{
    QString text;
    double fraction = 0;
    bool operator==(const Report &) const = default;
};

QDebug operator<<(QDebug debug, const Report &report)
{
    QDebugStateSaver saver(debug);
    debug.nospace() << '(' << report.text << ", " << report.fraction << ')';
    return debug;
}

/// The receiver the controller gives `flash`: every report becomes a separate
/// queued main-thread job that writes the fraction, then the text.
struct QueuedReceiver
{
    QObject context;
    double progress = 0;
    QString statusDetail;
    QList<Report> applied;

    EsptoolRunner::ProgressCallback callback()
    {
        return [this](const QString &text, double fraction) {
            QMetaObject::invokeMethod(
                &context,
                [this, text, fraction] {
                    progress = fraction;
                    statusDetail = text;
                    applied.append({text, fraction});
                },
                Qt::QueuedConnection);
        };
    }
};

/// What the controller's write operation sees when `flash` returns.
struct Snapshot
{
    double progress = -1;
    QString statusDetail;
};

/// Awaits the write as the controller does and records the receiver's state at the moment
/// the awaiting code resumes, before it would write "Yükleme tamamlandı.".
QCoro::Task<Snapshot> flashThenLook(EsptoolRunner *runner, QList<FirmwareImage> images,
                                    QueuedReceiver *receiver)
{
    co_await runner->flash(u"/dev/ttyACM0"_s, std::move(images), receiver->callback());
    co_return Snapshot{receiver->progress, receiver->statusDetail};
}

FirmwareImage image(const QString &path, quint32 offset)
{
    return FirmwareImage(QUrl::fromLocalFile(path), offset);
}

const QStringList fixedWriteArguments{
    u"--chip"_s,      u"esp32s3"_s,      u"--port"_s,        u"/dev/ttyACM0"_s, u"--baud"_s,
    u"921600"_s,      u"--before"_s,     u"default-reset"_s, u"--after"_s,      u"hard-reset"_s,
    u"write-flash"_s, u"-z"_s,           u"--flash-mode"_s,  u"keep"_s,         u"--flash-freq"_s,
    u"keep"_s,        u"--flash-size"_s, u"keep"_s};

const auto v5Line48 =
    u"\rWriting at 0x000346ed [=============>                ]  48.8% 81920/168035 bytes... "_s;
const auto v5Line100 =
    u"\rWriting at 0x0005b000 [==============================] 100.0% 168035/168035 bytes... "_s;
const auto wroteLine =
    u"Wrote 307200 bytes (168035 compressed) at 0x00010000 in 2.0 seconds (1231.6 kbit/s)."_s;
} // namespace

class TestProgress : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // ---- parseProgress ----------------------------------------------------------------

    void parseProgress_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<std::optional<double>>("percentage");
        const std::optional<double> nothing;

        // Older tools: the last "(" and the last "%" after it.
        QTest::newRow("old style 42") << u"Writing at 0x00010000... (42 %)"_s << std::optional(42.0);
        QTest::newRow("old style 48") << u"Writing at 0x00010000... (48 %)"_s << std::optional(48.0);
        QTest::newRow("no space before %") << u"Writing at 0x00010000... (7.5%)"_s << std::optional(7.5);
        QTest::newRow("above 100") << u"Writing at 0x00010000... (105 %)"_s << std::optional(105.0);
        QTest::newRow("first word counts") << u"(42 done %)"_s << std::optional(42.0);
        QTest::newRow("tabs inside") << u"(\t42\t%)"_s << std::optional(42.0);
        QTest::newRow("sign and exponent") << u"(+4.2e1 %)"_s << std::optional(42.0);
        QTest::newRow("negative") << u"(-5 %)"_s << std::optional(-5.0);
        QTest::newRow("last parenthesis") << u"(10 %) then (20 %)"_s << std::optional(20.0);
        QTest::newRow("old style with carriage return")
            << u"Writing (10 %)\rWriting (20 %)"_s << std::optional(20.0);
        QTest::newRow("no parenthesis, no bar") << u"Writing 48 %"_s << nothing;
        QTest::newRow("percent before the parenthesis") << u"48 % (done)"_s << nothing;
        QTest::newRow("no percent") << u"Writing at 0x00010000... (42)"_s << nothing;
        QTest::newRow("first word not a number") << u"(about 42 %)"_s << nothing;
        QTest::newRow("number with letters") << u"(42abc %)"_s << nothing;
        QTest::newRow("decimal comma") << u"(7,5 %)"_s << nothing;
        QTest::newRow("group separator") << u"(1,000 %)"_s << nothing;
        QTest::newRow("infinity") << u"(inf %)"_s << nothing;
        QTest::newRow("not a number") << u"(nan %)"_s << nothing;
        QTest::newRow("hexadecimal") << u"(0x10 %)"_s << nothing;
        QTest::newRow("only a point") << u"(. %)"_s << nothing;
        QTest::newRow("exponent without digits") << u"(4e %)"_s << nothing;
        QTest::newRow("empty between") << u"(%)"_s << nothing;
        QTest::newRow("blanks between") << u"(   %)"_s << nothing;
        QTest::newRow("Wrote line") << wroteLine << nothing;
        QTest::newRow("Writing line") << u"Writing 'sketch.ino.bin' at 0x00010000..."_s << nothing;
        QTest::newRow("Verifying") << u"Verifying written data..."_s << nothing;
        QTest::newRow("Hash") << u"Hash of data verified."_s << nothing;
        QTest::newRow("empty") << QString() << nothing;

        // Issue 5 mend: esptool 5's bar, the number between the last "]" and the "%" after it.
        QTest::newRow("v5 48.8") << v5Line48 << std::optional(48.8);
        QTest::newRow("v5 100.0") << v5Line100 << std::optional(100.0);
        QTest::newRow("v5 0.0")
            << u"\rWriting at 0x00010000 [                              ]   0.0% 0/168035 bytes... "_s
            << std::optional(0.0);
        QTest::newRow("bar when the parenthesis rule fails") << u"(x) [==]  30.0%"_s << std::optional(30.0);
        QTest::newRow("bar with two numbers") << u"[==]  48.8 12%"_s << nothing;
        QTest::newRow("bar with a word") << u"[==] about 12%"_s << nothing;
        QTest::newRow("bar with nothing") << u"[==]%"_s << nothing;
        QTest::newRow("percent before the bracket") << u"12% [==]"_s << nothing;
        QTest::newRow("parenthesis after the bar") << u"[==] (note) 50%"_s << nothing;
        QTest::newRow("parenthesis rule wins") << u"[==] 10% (20 %)"_s << std::optional(20.0);
    }

    void parseProgress()
    {
        QFETCH(QString, line);
        QFETCH(std::optional<double>, percentage);
        QCOMPARE(::parseProgress(line), percentage);
    }

    // ---- The write's command line --------------------------------------------------------

    void writeCommandLine_data()
    {
        QTest::addColumn<QList<quint32>>("offsets");   // as given
        QTest::addColumn<QStringList>("names");        // as given
        QTest::addColumn<QStringList>("expectedTail"); // offset, file name, ... in order

        QTest::newRow("application, bootloader, partitions, boot image")
            << QList<quint32>{0x10000, 0x0, 0x8000, 0xE000}
            << QStringList{u"sketch.ino.bin"_s, u"sketch.ino.bootloader.bin"_s,
                           u"sketch.ino.partitions.bin"_s, u"boot_app0.bin"_s}
            << QStringList{u"0x0"_s,     u"sketch.ino.bootloader.bin"_s,
                           u"0x8000"_s,  u"sketch.ino.partitions.bin"_s,
                           u"0xE000"_s,  u"boot_app0.bin"_s,
                           u"0x10000"_s, u"sketch.ino.bin"_s};
        QTest::newRow("equal offsets keep their order")
            << QList<quint32>{0x9000, 0x1000, 0x1000, 0x1000}
            << QStringList{u"last.bin"_s, u"b.bin"_s, u"a.bin"_s, u"c.bin"_s}
            << QStringList{u"0x1000"_s, u"b.bin"_s, u"0x1000"_s, u"a.bin"_s,
                           u"0x1000"_s, u"c.bin"_s, u"0x9000"_s, u"last.bin"_s};
        QTest::newRow("upper-case hexadecimal, no leading zeros")
            << QList<quint32>{65536, 57344, 0xABCDEF, 0xFFFFFFFF}
            << QStringList{u"a.bin"_s, u"b.bin"_s, u"c.bin"_s, u"d.bin"_s}
            << QStringList{u"0xE000"_s,   u"b.bin"_s, u"0x10000"_s,    u"a.bin"_s,
                           u"0xABCDEF"_s, u"c.bin"_s, u"0xFFFFFFFF"_s, u"d.bin"_s};
        QTest::newRow("path with blanks and letters")
            << QList<quint32>{0x0} << QStringList{u"yeni sürüm.bin"_s}
            << QStringList{u"0x0"_s, u"yeni sürüm.bin"_s};
    }

    void writeCommandLine()
    {
        QFETCH(QList<quint32>, offsets);
        QFETCH(QStringList, names);
        QFETCH(QStringList, expectedTail);

        FakeToolFolder folder;
        folder.installTool("exit 0\n");
        const QString imageDir = folder.root() + u"/images"_s;
        QList<FirmwareImage> images;
        for (qsizetype i = 0; i < offsets.size(); ++i)
            images.append(image(imageDir + u'/' + names.at(i), offsets.at(i)));
        const QList<FirmwareImage> given = images;

        Logger logger;
        EsptoolRunner runner(&logger, folder.paths());
        const auto outcome =
            awaitTask(runner.flash(u"/dev/ttyACM0"_s, images, [](const QString &, double) {}));
        QVERIFY(!outcome.error);
        QCOMPARE(images, given);

        QStringList expected = fixedWriteArguments;
        for (qsizetype i = 0; i < expectedTail.size(); i += 2)
            expected << expectedTail.at(i) << imageDir + u'/' + expectedTail.at(i + 1);
        QCOMPARE(folder.recordedArguments(), std::optional(expected));
        QCOMPARE(logger.entries().first().message, u"esptool "_s + expected.join(u' '));
    }

    void emptyImageListRunsNothing()
    {
        FakeToolFolder folder;
        folder.installTool("exit 0\n");
        Logger logger;
        EsptoolRunner runner(&logger, folder.paths());
        int reports = 0;
        const QList<FirmwareImage> noImages;
        const auto outcome = awaitTask(
            runner.flash(u"/dev/ttyACM0"_s, noImages, [&reports](const QString &, double) { ++reports; }));
        QVERIFY(outcome.done);
        QVERIFY(!outcome.error);
        QCOMPARE(reports, 0);
        QVERIFY(!folder.recordedArguments());
        QCoreApplication::processEvents();
        QCOMPARE(logger.count(), 0);
    }

    // ---- Reports ------------------------------------------------------------------------

    void reports_data()
    {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<QList<Report>>("reports"); // before the final one

        // esptool 5 writing two images to a pipe.
        QTest::newRow("esptool 5")
            << QByteArray("printf \"Writing 'sketch.ino.bootloader.bin' at 0x00000000...\\n\"\n"
                          "printf '\\rWriting at 0x00000000 [                              ]   0.0%% 0/13248 "
                          "bytes... \\n'\n"
                          "printf '\\rWriting at 0x0000346e [==============================] 100.0%% "
                          "13248/13248 bytes... \\n'\n"
                          "printf 'Wrote 20208 bytes (13248 compressed) at 0x00000000 in 0.3 seconds (583.6 "
                          "kbit/s).\\n'\n"
                          "printf 'Verifying written data...\\nHash of data verified.\\n\\n'\n"
                          "printf \"Writing 'sketch.ino.bin' at 0x00010000...\\n\"\n"
                          "printf '\\rWriting at 0x000346ed [=============>                ]  48.8%% "
                          "81920/168035 bytes... \\n'\n"
                          "printf 'Wrote 307200 bytes (168035 compressed) at 0x00010000 in 2.0 seconds "
                          "(1231.6 kbit/s).\\n'\n"
                          "printf 'Hard resetting via RTS pin...\\n'\n")
            << QList<Report>{
                   {u"Writing at 0x00000000 [                              ]   0.0% 0/13248 bytes..."_s, 0.0},
                   {u"Writing at 0x0000346e [==============================] 100.0% 13248/13248 bytes..."_s,
                    1.0},
                   {u"Writing at 0x000346ed [=============>                ]  48.8% 81920/168035 bytes..."_s,
                    0.488}};
        QTest::newRow("older style") << QByteArray("printf 'Compressed 307200 bytes to 168035...\\n'\n"
                                                   "printf 'Writing at 0x00010000... (7.5%%)\\n'\n"
                                                   "printf '  Writing at 0x00014000... (42 %%)  \\n'\n"
                                                   "printf 'Writing at 0x00018000... (105 %%)\\r\\n'\n"
                                                   "printf 'Writing at 0x0001c000... (about %%)\\n'\n"
                                                   "printf 'Wrote 307200 bytes (168035 compressed) at "
                                                   "0x00010000 in 2.0 seconds (1231.6 kbit/s).\\n'\n")
                                     << QList<Report>{{u"Writing at 0x00010000... (7.5%)"_s, 0.075},
                                                      {u"Writing at 0x00014000... (42 %)"_s, 0.42},
                                                      {u"Writing at 0x00018000... (105 %)"_s, 1.05}};
        QTest::newRow("bar line cut between two reads")
            << QByteArray("printf '\\rWriting at 0x00010000 [=====>   '; sleep 0.3; printf '     ]  20.0%% "
                          "1/5 bytes... \\n'\n")
            << QList<Report>{{u"Writing at 0x00010000 [=====>        ]  20.0% 1/5 bytes..."_s, 0.2}};
        QTest::newRow("no progress lines")
            << QByteArray("printf 'esptool v5.3.1\\nConnecting....\\nHard resetting via RTS pin...\\n'\n")
            << QList<Report>{};
        QTest::newRow("no output") << QByteArray() << QList<Report>{};
    }

    void reports()
    {
        QFETCH(QByteArray, script);
        QFETCH(QList<Report>, reports);

        FakeToolFolder folder;
        folder.installTool(script);
        Logger logger;
        EsptoolRunner runner(&logger, folder.paths());
        QList<Report> received;
        bool onMainThread = true;
        auto progress = [&received, &onMainThread](const QString &text, double fraction) {
            onMainThread = onMainThread && QThread::currentThread() == qApp->thread();
            received.append({text, fraction});
        };

        const QList<FirmwareImage> images{image(u"/fw/sketch.ino.bin"_s, 0x10000)};
        const auto outcome = awaitTask(runner.flash(u"/dev/ttyACM0"_s, images, progress));
        QVERIFY(!outcome.error);
        QVERIFY(onMainThread);
        QVERIFY(!received.isEmpty());
        QCOMPARE(received.takeLast(), (Report{u"Flash complete"_s, 1.0}));
        QCOMPARE(received.size(), reports.size());
        for (qsizetype i = 0; i < reports.size(); ++i) {
            QCOMPARE(received.at(i).text, reports.at(i).text);
            QCOMPARE(received.at(i).fraction, reports.at(i).fraction);
        }
    }

    void failedWriteHasNoFinalReport()
    {
        FakeToolFolder folder;
        folder.installTool("printf 'Writing at 0x00010000... (30 %%)\\n'\n"
                           "printf 'A fatal error occurred: Packet content transfer stopped\\n'\nexit 2\n");
        Logger logger;
        EsptoolRunner runner(&logger, folder.paths());
        QList<Report> received;
        const QList<FirmwareImage> images{image(u"/fw/a.bin"_s, 0)};
        const auto outcome = awaitTask(
            runner.flash(u"/dev/ttyACM0"_s, images, [&received](const QString &text, double fraction) {
                received.append({text, fraction});
            }));
        const auto error = outcome.errorAs<EsptoolError>();
        QVERIFY(error);
        QCOMPARE(error->description(),
                 u"esptool failed (exit 2): Writing at 0x00010000... (30 %) A fatal error "
                 u"occurred: Packet content transfer stopped"_s);
        QCOMPARE(received, (QList<Report>{{u"Writing at 0x00010000... (30 %)"_s, 0.3}}));
    }

    void missingToolHasNoReport()
    {
        FakeToolFolder folder;
        EnvironmentOverride path("PATH", QFile::encodeName(folder.root() + u"/empty"_s));
        Logger logger;
        EsptoolRunner runner(&logger, folder.paths());
        int reports = 0;
        const QList<FirmwareImage> images{image(u"/fw/a.bin"_s, 0)};
        const auto outcome = awaitTask(
            runner.flash(u"/dev/ttyACM0"_s, images, [&reports](const QString &, double) { ++reports; }));
        const auto error = outcome.errorAs<EsptoolError>();
        QVERIFY(error);
        QCOMPARE(error->kind(), EsptoolError::Kind::notFound);
        QCOMPARE(reports, 0);
    }

    // DESIGN.md's trap: the receiver queues each report; the final ("Flash complete", 1.0)
    // job must have run when the awaiting code resumes, so the controller's
    // "Yükleme tamamlandı." written right after it is the last word.
    void finalReportLandsBeforeTheCallerResumes()
    {
        FakeToolFolder folder;
        folder.installTool(
            "printf 'Writing at 0x00010000... (42 %%)\\n'\n"
            "printf '\\rWriting at 0x0005b000 [==============================] 100.0%% 1/1 bytes... \\n'\n");
        Logger logger;
        EsptoolRunner runner(&logger, folder.paths());
        QueuedReceiver receiver;

        const QList<FirmwareImage> images{image(u"/fw/sketch.ino.bin"_s, 0x10000)};
        const auto outcome = awaitTask(flashThenLook(&runner, images, &receiver));
        QVERIFY(!outcome.error);
        QCOMPARE(outcome.value->statusDetail, u"Flash complete"_s);
        QCOMPARE(outcome.value->progress, 1.0);
        QCOMPARE(receiver.applied.size(), 3);
        QCOMPARE(receiver.applied.at(0), (Report{u"Writing at 0x00010000... (42 %)"_s, 0.42}));
        QCOMPARE(receiver.applied.at(1).fraction, 1.0);
    }
};

OLVEX_TEST_MAIN(TestProgress)
#include "tst_progress.moc"
