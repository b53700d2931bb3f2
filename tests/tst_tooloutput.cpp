// What the tool says, read: the chip query's fields and summary (over output of the shape
// esptool 5 really prints), the hints for its failures, and the controller that keeps the last one.
#include "esptoolchipsummary.h"
#include "esptoolrunner.h"
#include "failurediagnosis.h"
#include "faketool.h"
#include "flashmanager.h"
#include "logger.h"
#include "testsupport.h"
#include "zipextractor.h"

#include <QCoroTimer>

using namespace Qt::StringLiterals;

namespace {
const QString realOutput = QString::fromUtf8(chipIdOutput);

QCoro::Task<> failWith(EsptoolError error)
{
    co_await QCoro::sleepFor(std::chrono::milliseconds(1));
    throw error;
}
} // namespace

class TestToolOutput : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void fieldValue_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("value");

        QTest::newRow("absent key") << u"Flash size"_s << realOutput << QString();
        QTest::newRow("tabs and other space separators")
            << u"Chip type"_s << u"Chip type:\t\u00a0ESP32-S3\u2003\t"_s << u"ESP32-S3"_s;
        QTest::newRow("line breaks are not blanks")
            << u"USB mode"_s << u"USB mode: USB-Serial/JTAG\r\n"_s << u"USB-Serial/JTAG\r"_s;
        QTest::newRow("key without colon")
            << u"Chip type"_s << u"Chip type ESP32-S3\nMAC: aa\n"_s << QString();
        QTest::newRow("key without colon ends the search")
            << u"MAC"_s << u"MAC address unknown\nMAC: aa:bb\n"_s << QString();
        QTest::newRow("value of only spaces") << u"MAC"_s << u"MAC:      \n"_s << QString();
        QTest::newRow("two MAC lines: the first")
            << u"MAC"_s << u"MAC: 11:22:33:44:55:66\nMAC: aa:bb:cc:dd:ee:ff\n"_s << u"11:22:33:44:55:66"_s;
        QTest::newRow("key anywhere in the line")
            << u"MAC"_s << u"Warning: ESP32-S3 has no chip ID. Reading MAC address instead.\nMAC: aa\n"_s
            << u"ESP32-S3 has no chip ID. Reading MAC address instead."_s;
        QTest::newRow("leading colons passed over") << u"MAC"_s << u"::MAC: aa:bb\n"_s << u"aa:bb"_s;
        QTest::newRow("only colons") << u"MAC"_s << u":::MAC\n"_s << QString();
    }

    void fieldValue()
    {
        QFETCH(QString, key);
        QFETCH(QString, output);
        QFETCH(QString, value);
        QCOMPARE(::fieldValue(key, output), value);
    }

    // The one field the summary text leaves out.
    void usbModeFromRealOutput()
    {
        QCOMPARE(EsptoolChipSummary::fromOutput(realOutput).usbMode, u"USB-Serial/JTAG"_s);
    }

    void summaryText_data()
    {
        QTest::addColumn<EsptoolChipSummary>("summary");
        QTest::addColumn<QString>("text");

        QTest::newRow("the tool's real output")
            << EsptoolChipSummary::fromOutput(realOutput)
            << u"ESP32-S3 (QFN56) (revision v0.2), Wi-Fi, BT 5 (LE), Dual Core + LP Core, 240MHz, Embedded "
               u"PSRAM 8MB (AP_3v3), MAC 7c:df:a1:00:11:22"_s;
        QTest::newRow("without features")
            << EsptoolChipSummary{u"ESP32-S3"_s, u"aa:bb"_s, {}, {}} << u"ESP32-S3, MAC aa:bb"_s;
        QTest::newRow("without MAC") << EsptoolChipSummary{u"ESP32-S3"_s, {}, u"Wi-Fi"_s, {}}
                                     << u"ESP32-S3, Wi-Fi"_s;
        QTest::newRow("only the chip type")
            << EsptoolChipSummary{u"ESP32-S3"_s, {}, {}, u"USB"_s} << u"ESP32-S3"_s;
        QTest::newRow("without chip type")
            << EsptoolChipSummary{{}, u"aa:bb"_s, u"Wi-Fi"_s, {}} << u", Wi-Fi, MAC aa:bb"_s;
        QTest::newRow("empty") << EsptoolChipSummary{} << QString();
    }

    void summaryText()
    {
        QFETCH(EsptoolChipSummary, summary);
        QFETCH(QString, text);
        QCOMPARE(summary.summaryText(), text);
    }

    // Each output is the tail a failed run carries: the tool's last lines joined by blanks.
    void recognisesTheToolsOwnWords_data()
    {
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("key");
        QTest::addColumn<bool>("slower"); // a slower write may get through
        const auto fatal = u"A fatal error occurred: "_s;
        const auto writing = u"Writing at 0x0003a000 [=======>    ]  28.1% 65536/233472 bytes... "_s;
        QTest::newRow("no answer: not in download mode")
            << u"Connecting...... "_s + fatal + u"Failed to connect to ESP32-S3: No serial data received."_s
            << u"download-mode"_s << false;
        QTest::newRow("port missing") << fatal + u"Could not open /dev/ttyACM9, the port is busy or doesn't "
                                                 u"exist. ([Errno 2] could not open port /dev/ttyACM9)"_s
                                      << u"port-unavailable"_s << false;
        QTest::newRow("no permission wins over the busy wording")
            << fatal + u"Could not open /dev/ttyACM1, the port is busy or doesn't exist. ([Errno 13] could "
                       u"not open port /dev/ttyACM1: [Errno 13] Permission denied: '/dev/ttyACM1')"_s
            << u"port-permission"_s << false;
        QTest::newRow("permission denied elsewhere is not about the port")
            << u"PermissionError: [Errno 13] Permission denied: '/tmp/x'"_s << QString() << false;
        QTest::newRow("image for another chip, version 5")
            << fatal + u"'build/s.ino.bootloader.bin' is not an an ESP32-S3 image. Use the force argument"_s
            << u"wrong-image"_s << false;
        QTest::newRow("image for another chip, version 4")
            << fatal + u"s.ino.bootloader.bin is not an ESP32-S3 image. Use --force"_s << u"wrong-image"_s
            << false;
        QTest::newRow("another chip on the port")
            << fatal + u"This chip is ESP32-C3, not ESP32-S3. Wrong chip argument?"_s << u"wrong-chip"_s
            << false;
        QTest::newRow("cable came loose") << writing + fatal + u"No more data to read from the serial port."_s
                                          << u"connection-lost"_s << true;
        QTest::newRow("transfer stopped half-way")
            << writing + fatal + u"Packet content transfer stopped (received 8 bytes)."_s
            << u"transfer-stopped"_s << true;
        QTest::newRow("older tool: no answer before any transfer")
            << fatal + u"Failed to connect to ESP32-S3: Timed out waiting for packet header"_s
            << u"download-mode"_s << false;
        // A USB pull mid-write: the tool's reconnect attempt cannot open the vanished port.
        QTest::newRow("cable pulled during a write")
            << writing +
                   u"Lost connection, retrying... Waiting for the chip to reconnect.......... A serial "
                   u"exception error occurred: could not open port /dev/ttyACM0: [Errno 2] No such file"_s
            << u"connection-lost"_s << false;
        QTest::newRow("chip gone silent after a lost connection")
            << u"Lost connection, retrying... Waiting for the chip to reconnect "_s + fatal +
                   u"Failed to connect to ESP32-S3: No serial data received."_s
            << u"connection-lost"_s << false;
        QTest::newRow("old tool") << u"esptool.py: error: argument operation: invalid choice: 'write-flash'"_s
                                  << u"old-esptool"_s << false;
        QTest::newRow("unknown failure")
            << u"Traceback (most recent call last): KeyError: 7"_s << QString() << false;
        QTest::newRow("phrases match case-sensitively")
            << u"failed to connect to esp32-s3: no serial data received."_s << QString() << false;
    }

    void recognisesTheToolsOwnWords()
    {
        QFETCH(QString, output);
        QFETCH(QString, key);
        QFETCH(bool, slower);
        const auto failure = std::make_exception_ptr(EsptoolError::failed(2, output));
        const auto hint = diagnoseFailure(failure);
        QCOMPARE(hint ? hint->key : QString(), key);
        QCOMPARE(isTransferFailure(failure), slower);
        QCOMPARE(diagnoseToolOutput(output), hint);
    }

    // unzip's own lines, as Debian's unzip 6.0 writes them with -q (made with real zips;
    // the full disk on a small tmpfs), and its exit status. What the real unzip says of the
    // usual refusals (not a zip, encrypted, unsupported, long names, unsafe paths, backslashes)
    // is checked where a load meets them.
    void recognisesUnzipsOwnWords_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("said");
        QTest::addColumn<QString>("key");
        const auto row = [](const char *name, int status, const QStringList &said, const QString &key) {
            QTest::newRow(name) << status << said << key;
        };
        row("no such file", 9,
            {u"unzip:  cannot find or open missing.zip, missing.zip.zip or missing.zip.ZIP."_s},
            u"not-a-zip"_s);
        row("bad CRC", 2, {u"o3/a.txt                bad CRC 20f7995f  (should be 5404470d)"_s},
            u"damaged-zip"_s);
        row("damaged data", 2, {u"error:  invalid compressed data to inflate o4/a.txt"_s}, u"damaged-zip"_s);
        row("disk full", 50,
            {u"/tmp/small/o/big.bin:  write error (disk full?).  Continue? (y/n/^C)"_s,
             u"warning:  /tmp/small/o/big.bin is probably truncated"_s},
            u"disk-full"_s);
        row("parent folder", 1, {u"warning:  skipped \"../\" path component(s) in ../evil"_s},
            u"zip-unsafe-paths"_s);
        row("another warning", 1, {u"warning:  something new"_s}, u"zip-warnings"_s);
        row("a file past the size limit", 25, {}, u"package-too-large"_s);
        row("nothing known", 4, {u"error:  out of memory"_s}, QString());
    }

    void recognisesUnzipsOwnWords()
    {
        QFETCH(int, status);
        QFETCH(QStringList, said);
        QFETCH(QString, key);
        const auto hint =
            diagnoseFailure(std::make_exception_ptr(ZipExtractorError::unzipFailed(status, said)));
        QCOMPARE(hint ? hint->key : QString(), key);
    }

    void noHintForOtherFailures()
    {
        QVERIFY(!diagnoseFailure(std::make_exception_ptr(PlatformError(u"No such file or directory"_s))));
        QVERIFY(!diagnoseFailure({}));
        QVERIFY(!isTransferFailure(std::make_exception_ptr(EsptoolError::notFound())));
    }

    // The hint of the last failure is logged after its error line; shown, it ends with the log
    // file on a line of its own, so that it can be sent to support (without a folder for the
    // file it is what it would be anyway); the next start and a refresh clear it.
    void controllerKeepsTheHintOfTheLastFailure_data()
    {
        QTest::addColumn<QString>("output"); // empty: a failed firmware load instead of a tool run
        QTest::addColumn<bool>("folder");
        QTest::addColumn<QString>("hint"); // how it begins
        const QString noAnswer = u"Failed to connect to ESP32-S3: No serial data received."_s;
        const QString notInDownloadMode = u"Cihaz programlama modunda değil."_s;
        QTest::newRow("known failure") << noAnswer << true << notInDownloadMode;
        QTest::newRow("unknown failure") << u"KeyError"_s << true << u"Yardım"_s;
        QTest::newRow("failed load") << QString() << true << u"Seçilen dosya bir zip arşivi değil"_s;
        QTest::newRow("known failure, no folder") << noAnswer << false << notInDownloadMode;
        QTest::newRow("unknown failure, no folder") << u"KeyError"_s << false << QString();
    }

    void controllerKeepsTheHintOfTheLastFailure()
    {
        QFETCH(QString, output);
        QFETCH(bool, folder);
        QFETCH(QString, hint);
        QTemporaryDir root;
        PlatformPaths paths = pathsInside(root.path());
        paths.stateDirectory =
            folder ? paths.homeDirectory + u"/.local/state"_s : root.filePath(u"file/state"_s);
        if (!folder)
            writeFile(root.filePath(u"file"_s), {}); // a file where the folder would go
        FlashManager manager(paths);
        auto lastLogLine = [&manager] {
            return logLines(manager.logger()).value(manager.logger()->count() - 1);
        };
        if (output.isEmpty())
            manager.loadFirmware(QUrl::fromLocalFile(root.filePath(u"missing.zip"_s)));
        else
            manager.runOperation(FlashManager::OperationStatus::erasing, u"Flash siliniyor"_s,
                                 [output] { return failWith(EsptoolError::failed(2, output)); });
        QTRY_VERIFY(!manager.isBusy());

        QCOMPARE(manager.status(), FlashManager::OperationStatus::error);
        QCOMPARE(manager.logFilePath(), folder ? paths.stateDirectory + u"/olvex-updater.log"_s : QString());
        const QString shown = manager.failureHint();
        QVERIFY2(shown.startsWith(hint) && shown.isEmpty() == hint.isEmpty(), qPrintable(shown));
        const QString fileLine =
            u"Yardım isterken bu günlük dosyasını gönderebilirsiniz: ~/.local/state/olvex-updater.log"_s;
        QCOMPARE(shown.endsWith(u'\n' + fileLine) || shown == fileLine, folder);
        const bool hinted = hint.startsWith(u"Yardım"_s) || hint.isEmpty();
        const QString logged =
            hinted ? QString(u"ERR "_s + manager.statusDetail()) : QString(u"WARN "_s + hint);
        QTRY_VERIFY2(lastLogLine().startsWith(logged), qPrintable(lastLogLine()));

        manager.runOperation(FlashManager::OperationStatus::erasing, u"Flash siliniyor"_s,
                             [] { return failWith(EsptoolError::notFound()); });
        QVERIFY(manager.failureHint().isEmpty());
        QTRY_VERIFY(!manager.isBusy());
        QVERIFY(!manager.failureHint().isEmpty());
        manager.refreshPorts();
        QVERIFY(manager.failureHint().isEmpty());
    }
};

OLVEX_TEST_MAIN(TestToolOutput)
#include "tst_tooloutput.moc"
