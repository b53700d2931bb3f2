// The write operation of the runner: the command line, `parseProgress` in both output
// styles of the tool, and one bar over all the images with the final ("Flash complete", 1.0).
#include "esptooloutput.h"
#include "faketool.h"
#include "testsupport.h"

#include <QThread>

using namespace Qt::StringLiterals;

namespace {
struct Report
{
    QString text;
    double fraction = 0;
};

FirmwareImage image(const QString &path, quint32 offset)
{
    return FirmwareImage(QUrl::fromLocalFile(path), offset);
}
} // namespace

class TestProgress : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void parseProgress_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<std::optional<double>>("percentage");
        const std::optional<double> nothing;

        // Older tools: the first word inside the last "(" before the last "%".
        QTest::newRow("old style") << u"Writing at 0x00010000... (42 %)"_s << std::optional(42.0);
        QTest::newRow("no space before %") << u"Writing at 0x00010000... (7.5%)"_s << std::optional(7.5);
        QTest::newRow("above 100") << u"Writing at 0x00010000... (105 %)"_s << std::optional(105.0);
        QTest::newRow("first word counts") << u"(\t42 done %)"_s << std::optional(42.0);
        QTest::newRow("sign and exponent") << u"(+4.2e1 %)"_s << std::optional(42.0);
        QTest::newRow("last parenthesis") << u"(10 %)\rWriting (20 %)"_s << std::optional(20.0);
        QTest::newRow("no parenthesis, no bar") << u"Writing 48 %"_s << nothing;
        QTest::newRow("percent before the parenthesis") << u"48 % (done)"_s << nothing;
        QTest::newRow("no percent") << u"Writing at 0x00010000... (42)"_s << nothing;
        QTest::newRow("first word not a number") << u"(about 42 %)"_s << nothing;
        QTest::newRow("number with letters") << u"(42abc %)"_s << nothing;
        QTest::newRow("decimal comma") << u"(7,5 %)"_s << nothing;
        QTest::newRow("not a number") << u"(nan %)"_s << nothing;
        QTest::newRow("only a point") << u"(. %)"_s << nothing;
        QTest::newRow("exponent without digits") << u"(4e %)"_s << nothing;
        QTest::newRow("blanks between") << u"(   %)"_s << nothing;
        QTest::newRow("Wrote line")
            << u"Wrote 307200 bytes (168035 compressed) at 0x00010000 in 2.0 seconds (1231.6 kbit/s)."_s
            << nothing;

        // esptool 5's bar: the number between the last "]" and the "%" after it.
        QTest::newRow("v5 48.8")
            << u"\rWriting at 0x000346ed [=============>                ]  48.8% 81920/168035 bytes... "_s
            << std::optional(48.8);
        QTest::newRow("bar when the parenthesis rule fails") << u"(x) [==]  30.0%"_s << std::optional(30.0);
        QTest::newRow("bar with two numbers") << u"[==]  48.8 12%"_s << nothing;
        QTest::newRow("percent before the bracket") << u"12% [==]"_s << nothing;
        QTest::newRow("parenthesis rule wins") << u"[==] 10% (20 %)"_s << std::optional(20.0);
    }

    void parseProgress()
    {
        QFETCH(QString, line);
        QFETCH(std::optional<double>, percentage);
        QCOMPARE(::parseProgress(line), percentage);
    }

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
        // Enough equal offsets that a sort which is not stable reorders them.
        QList<quint32> offsets{0xFFFFFFFF};
        QStringList names{u"last.bin"_s};
        QStringList tail;
        for (int i = 20; i > 0; --i) {
            offsets.append(0x1000);
            names.append(u"%1.bin"_s.arg(i));
            tail << u"0x1000"_s << names.last();
        }
        QTest::newRow("equal offsets keep their order")
            << offsets << names << tail + QStringList{u"0xFFFFFFFF"_s, u"last.bin"_s};
        QTest::newRow("no images: nothing runs") << QList<quint32>{} << QStringList{} << QStringList{};
    }

    void writeCommandLine()
    {
        QFETCH(QList<quint32>, offsets);
        QFETCH(QStringList, names);
        QFETCH(QStringList, expectedTail);

        FakeToolRun run("exit 0\n");
        const QString imageDir = run.folder.root() + u"/images"_s;
        QList<FirmwareImage> images;
        for (qsizetype i = 0; i < offsets.size(); ++i)
            images.append(image(imageDir + u'/' + names.at(i), offsets.at(i)));
        int reports = 0;
        auto progress = [&reports](const QString &, double) { ++reports; };
        QVERIFY(!awaitTask(run.runner.flash(u"/dev/ttyACM0"_s, images, progress)).error);
        if (images.isEmpty()) {
            QCOMPARE(reports, 0);
            QVERIFY(!run.folder.recordedArguments());
            QCoreApplication::processEvents();
            QCOMPARE(run.logger.count(), 0);
            return;
        }

        QStringList expected{u"--chip"_s,       u"esp32s3"_s,    u"--port"_s,       u"/dev/ttyACM0"_s,
                             u"--baud"_s,       u"921600"_s,     u"--before"_s,     u"default-reset"_s,
                             u"--after"_s,      u"hard-reset"_s, u"write-flash"_s,  u"-z"_s,
                             u"--flash-mode"_s, u"keep"_s,       u"--flash-freq"_s, u"keep"_s,
                             u"--flash-size"_s, u"keep"_s};
        for (qsizetype i = 0; i < expectedTail.size(); i += 2)
            expected << expectedTail.at(i) << imageDir + u'/' + expectedTail.at(i + 1);
        QCOMPARE(run.folder.recordedArguments(), std::optional(expected));
    }

    // One bar over the whole write: 1 MiB in four images, the application the largest.
    void reports_data()
    {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<QList<Report>>("reports"); // with the final one on success

        // esptool 5 counts the compressed stream: only the ratio of its counts tells how far
        // an image is. All in one read.
        QTest::newRow("esptool 5, four images")
            << QByteArray("printf 'Writing at 0x00000000 [ ]   0.0%% 0/40000 bytes... \\n"
                          "Writing at 0x00004000 [=>]  50.0%% 20000/40000 bytes... \\n"
                          "Wrote 65536 bytes (40000 compressed) at 0x00000000.\\n"
                          "Writing at 0x00008000 [ ]   0.0%% 0/900 bytes... \\n"
                          "Writing at 0x00009000 [==] 100.0%% 900/900 bytes... \\n"
                          "Writing at 0x0000e000 [ ]   0.0%% 0/60 bytes... \\n"
                          "Writing at 0x00010000 [==] 100.0%% 60/60 bytes... \\n"
                          "Writing at 0x00010000 [ ]   0.0%% 0/500000 bytes... \\n"
                          "Writing at 0x00050000 [=>]  50.0%% 250000/500000 bytes... \\n"
                          "Writing at 0x00100000 [==] 100.0%% 500000/500000 bytes... \\n"
                          "Hash of data verified.\\n'\n")
            << QList<Report>{{u"Önyükleyici yazılıyor (1/4) · 0 KB / 1,0 MB"_s, 0.0},
                             {u"Önyükleyici yazılıyor (1/4) · 32 KB / 1,0 MB"_s, 0.03125},
                             {u"Bölüm tablosu yazılıyor (2/4) · 64 KB / 1,0 MB"_s, 0.0625},
                             {u"Bölüm tablosu yazılıyor (2/4) · 68 KB / 1,0 MB"_s, 0.06640625},
                             {u"Başlangıç verisi yazılıyor (3/4) · 68 KB / 1,0 MB"_s, 0.06640625},
                             {u"Başlangıç verisi yazılıyor (3/4) · 76 KB / 1,0 MB"_s, 0.07421875},
                             {u"Uygulama yazılıyor (4/4) · 76 KB / 1,0 MB"_s, 0.07421875},
                             {u"Uygulama yazılıyor (4/4) · 550 KB / 1,0 MB"_s, 0.537109375},
                             {u"Doğrulanıyor…"_s, 0.999},
                             {u"Flash complete"_s, 1.0}};
        // Older tools print only a percentage, from the first block on, and the first line
        // of each image at its own address; a lost connection starts an image over.
        QTest::newRow("percentages only")
            << QByteArray("printf 'Writing at 0x00000000... (50 %%)\\n'\n"
                          "printf 'Writing at 0x00008000... (100 %%)\\n'\n"
                          "printf 'Writing at 0x0000e000... (100 %%)\\n'\n"
                          "printf 'Writing at 0x00010000... (50 %%)\\nLost connection, retrying...\\n'\n"
                          "printf 'Writing at 0x00010000... (10 %%)\\n'\n")
            << QList<Report>{{u"Önyükleyici yazılıyor (1/4) · 32 KB / 1,0 MB"_s, 0.03125},
                             {u"Bölüm tablosu yazılıyor (2/4) · 68 KB / 1,0 MB"_s, 0.06640625},
                             {u"Başlangıç verisi yazılıyor (3/4) · 76 KB / 1,0 MB"_s, 0.07421875},
                             {u"Uygulama yazılıyor (4/4) · 550 KB / 1,0 MB"_s, 0.537109375},
                             {u"Uygulama yazılıyor (4/4) · 550 KB / 1,0 MB"_s, 0.537109375},
                             {u"Flash complete"_s, 1.0}};
        // A failure keeps what was reached: no final report.
        QTest::newRow("failure half-way")
            << QByteArray("printf 'Writing at 0x00010000 [=>]  50.0%% 250000/500000 bytes... \\n'\nexit 2\n")
            << QList<Report>{{u"Uygulama yazılıyor (4/4) · 550 KB / 1,0 MB"_s, 0.537109375}};
        QTest::newRow("no progress lines")
            << QByteArray("printf 'esptool v5.3.1\\nConnecting....\\nHard resetting via RTS pin...\\n'\n")
            << QList<Report>{{u"Flash complete"_s, 1.0}};
    }

    void reports()
    {
        QFETCH(QByteArray, script);
        QFETCH(QList<Report>, reports);

        FakeToolRun run(script);
        QList<Report> received;
        bool onMainThread = true;
        auto progress = [&received, &onMainThread](const QString &text, double fraction) {
            onMainThread = onMainThread && QThread::currentThread() == qApp->thread();
            received.append({text, fraction});
        };

        // Given in another order; the tool writes them by offset.
        QList<FirmwareImage> images;
        for (const auto &[name, offset, size] : {std::tuple{u"s.ino.bin"_s, 0x10000u, 970752u},
                                                 {u"s.ino.bootloader.bin"_s, 0x0u, 65536u},
                                                 {u"boot_app0.bin"_s, 0xE000u, 8192u},
                                                 {u"s.ino.partitions.bin"_s, 0x8000u, 4096u}}) {
            images.append(image(u"/fw/"_s + name, offset));
            images.last().size = size;
        }
        const bool failed = bool(awaitTask(run.runner.flash(u"/dev/ttyACM0"_s, images, progress)).error);
        QCOMPARE(failed, reports.isEmpty() || reports.last().fraction < 1.0);
        QVERIFY(onMainThread);
        QCOMPARE(received.size(), reports.size());
        for (qsizetype i = 0; i < reports.size(); ++i) {
            QCOMPARE(received.at(i).text, reports.at(i).text);
            QCOMPARE(received.at(i).fraction, reports.at(i).fraction);
        }
    }

    // A tool that redraws one line with carriage returns moves the bar before the line ends,
    // and the line is logged once, when it is complete.
    void unfinishedRedrawReportedLive()
    {
        FakeToolRun run(
            QByteArray("printf '\\rWriting at 0x00010000... (10 %%)\\rWriting at 0x00010000... (20 %%)'\n") +
            waitForGate + "printf '\\rWriting at 0x00010000... (100 %%)\\n'\n");
        QList<double> received;
        auto progress = [&](const QString &, double fraction) {
            received.append(fraction);
            if (fraction == 0.2)
                run.folder.openGate(); // only once the unfinished state has been seen
        };
        const QList<FirmwareImage> images{image(u"/fw/sketch.ino.bin"_s, 0x10000)};
        QVERIFY(!awaitTask(run.runner.flash(u"/dev/ttyACM0"_s, images, progress)).error);
        QCOMPARE(received.last(), 1.0);
        QVERIFY(received.contains(0.2));
        QTRY_COMPARE(logLines(&run.logger).size(), 2); // the command line and the finished bar line
    }

    // A line that never ends goes on in whole pieces as it comes, and only its current state
    // is shown: neither what is kept nor the work per chunk grows with the line.
    void unendedLineBounded()
    {
        Logger logger;
        QStringList pieces;
        QString shown;
        EsptoolOutput output(
            &logger, [&pieces](const QString &line) { pieces.append(line); },
            [&shown](const QString &state) { shown = state; }, {});
        output.consume(QByteArray(10 * EsptoolOutput::maxLineLength + 2, 'a') + "\r(42 %)\r ");
        QCOMPARE(pieces.size(), 10);
        QCOMPARE(shown, u"(42 %)"_s);
    }
};

OLVEX_TEST_MAIN(TestProgress)
#include "tst_progress.moc"
