#include "esptoolrunner.h"
#include "failurediagnosis.h"
#include "flashmanager.h"
#include "logger.h"
#include "testsupport.h"

#include <QCoroTimer>

using namespace Qt::StringLiterals;

namespace {
QCoro::Task<> failWith(EsptoolError error)
{
    co_await QCoro::sleepFor(std::chrono::milliseconds(1));
    throw error;
}

// The last lines of the tool's output as a failed run carries them (joined by blanks).
QString tailOf(const QStringList &lines)
{
    return lines.join(u' ');
}
} // namespace

class TestFailureDiagnosis : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void recognisesTheToolsOwnWords_data()
    {
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("key");
        const QString hint = u"Hint: Check if the port is correct and ESP connected"_s;
        QTest::newRow("no answer: not in download mode")
            << tailOf(
                   {u"Connecting......................................"_s,
                    u"A fatal error occurred: Failed to connect to ESP32-S3: No serial data received."_s,
                    u"For troubleshooting steps visit: https://docs.espressif.com/projects/esptool/en/latest/troubleshooting.html"_s})
            << u"download-mode"_s;
        QTest::newRow("wrong boot mode")
            << tailOf(
                   {u"A fatal error occurred: Failed to connect to ESP32-S3: Wrong boot mode detected (0x8)! "
                    u"The chip needs to be in download mode."_s})
            << u"download-mode"_s;
        QTest::newRow("port missing")
            << tailOf(
                   {u"A fatal error occurred: Could not open /dev/ttyACM9, the port is busy or doesn't exist."_s,
                    u"([Errno 2] could not open port /dev/ttyACM9: [Errno 2] No such file or directory: "
                    u"'/dev/ttyACM9')"_s,
                    hint})
            << u"port-unavailable"_s;
        QTest::newRow("port busy")
            << tailOf(
                   {u"A fatal error occurred: Could not open /dev/ttyACM0, the port is busy or doesn't exist."_s,
                    u"([Errno 16] could not open port /dev/ttyACM0: [Errno 16] Device or resource busy: "
                    u"'/dev/ttyACM0')"_s})
            << u"port-unavailable"_s;
        QTest::newRow("no permission wins over the busy wording")
            << tailOf(
                   {u"A fatal error occurred: Could not open /dev/ttyACM1, the port is busy or doesn't exist."_s,
                    u"([Errno 13] could not open port /dev/ttyACM1: [Errno 13] Permission denied: "
                    u"'/dev/ttyACM1')"_s,
                    u"Hint: Try to add user into dialout or uucp group."_s})
            << u"port-permission"_s;
        QTest::newRow("permission denied elsewhere is not about the port")
            << tailOf({u"PermissionError: [Errno 13] Permission denied: '/tmp/x'"_s}) << QString();
        QTest::newRow("image for another chip, version 5")
            << tailOf(
                   {u"A fatal error occurred: 'build/sketch.ino.bootloader.bin' is not an an ESP32-S3 image. "
                    u"Use the force argument to flash anyway."_s})
            << u"wrong-image"_s;
        QTest::newRow("image for another chip, version 4")
            << tailOf({u"A fatal error occurred: sketch.ino.bootloader.bin is not an ESP32-S3 image. "
                       u"Use --force to flash anyway."_s})
            << u"wrong-image"_s;
        QTest::newRow("unexpected chip id")
            << tailOf({u"Unexpected chip id in image. Expected 9 but value was 0."_s}) << u"wrong-image"_s;
        QTest::newRow("another chip on the port")
            << tailOf(
                   {u"A fatal error occurred: This chip is ESP32-C3, not ESP32-S3. Wrong chip argument?"_s})
            << u"wrong-chip"_s;
        QTest::newRow("cable came loose")
            << tailOf({u"Writing at 0x0003a000 [=======>    ]  28.1% 65536/233472 bytes... "_s,
                       u"A fatal error occurred: No more data to read from the serial port."_s})
            << u"connection-lost"_s;
        QTest::newRow("serial exception")
            << tailOf({u"A serial exception error occurred: device reports readiness to read but returned no "
                       u"data (device disconnected or multiple access on port?)"_s})
            << u"connection-lost"_s;
        QTest::newRow("old tool")
            << tailOf({u"esptool.py: error: argument operation: invalid choice: 'write-flash' (choose from "
                       u"'write_flash', 'erase_flash')"_s})
            << u"old-esptool"_s;
        QTest::newRow("unknown failure")
            << tailOf({u"Traceback (most recent call last):"_s, u"KeyError: 7"_s}) << QString();
        QTest::newRow("phrases match case-sensitively")
            << tailOf({u"failed to connect to esp32-s3: no serial data received."_s}) << QString();
    }

    void recognisesTheToolsOwnWords()
    {
        QFETCH(QString, output);
        QFETCH(QString, key);
        const auto hint = diagnoseFailure(std::make_exception_ptr(EsptoolError::failed(2, output)));
        QCOMPARE(hint ? hint->key : QString(), key);
        QCOMPARE(diagnoseToolOutput(output), hint);
    }

    void missingToolAndOtherFailures()
    {
        const auto missing = diagnoseFailure(std::make_exception_ptr(EsptoolError::notFound()));
        QVERIFY(missing);
        QCOMPARE(missing->text,
                 u"esptool bulunamadı. Uygulamanın yanına ya da Arduino klasörüne esptool yükleyin."_s);
        QVERIFY(!diagnoseFailure(std::make_exception_ptr(PlatformError(u"No such file or directory"_s))));
        QVERIFY(!diagnoseFailure({}));
    }

    void controllerKeepsTheHintOfTheLastFailure()
    {
        QTemporaryDir root;
        const PlatformPaths paths = pathsInside(root.path());
        FlashManager manager(paths);
        const QString error =
            u"A fatal error occurred: Failed to connect to ESP32-S3: No serial data received."_s;
        manager.runOperation(FlashManager::OperationStatus::connecting, u"Bağlanıyor"_s,
                             [error] { return failWith(EsptoolError::failed(2, error)); });
        QVERIFY(manager.failureHint().isEmpty());
        QTRY_VERIFY(!manager.isBusy());

        // Nothing else about the failure changes: status, message and error line stay.
        const QString description = u"esptool failed (exit 2): "_s + error;
        QCOMPARE(manager.status(), FlashManager::OperationStatus::error);
        QCOMPARE(manager.statusDetail(), description);
        QVERIFY(manager.failureHint().startsWith(u"Cihaz programlama modunda değil."_s));
        QTRY_COMPARE(manager.logger()->count(), 2);
        QCOMPARE(manager.logger()->entries().at(0).message, description);
        QCOMPARE(manager.logger()->entries().at(0).level, Level::error);
        QCOMPARE(manager.logger()->entries().at(1).message, manager.failureHint());
        QCOMPARE(manager.logger()->entries().at(1).level, Level::warning);

        manager.refreshPorts();
        QVERIFY(manager.failureHint().isEmpty());

        // An unknown failure leaves no hint (and logs none); the next start clears a hint.
        manager.runOperation(FlashManager::OperationStatus::erasing, u"Flash siliniyor"_s,
                             [] { return failWith(EsptoolError::failed(1, u"KeyError"_s)); });
        QTRY_VERIFY(!manager.isBusy());
        QVERIFY(manager.failureHint().isEmpty());
        manager.runOperation(FlashManager::OperationStatus::erasing, u"Flash siliniyor"_s,
                             [] { return failWith(EsptoolError::notFound()); });
        QTRY_VERIFY(!manager.failureHint().isEmpty());
        manager.runOperation(FlashManager::OperationStatus::erasing, u"Flash siliniyor"_s,
                             [] { return failWith(EsptoolError::failed(1, u"KeyError"_s)); });
        QVERIFY(manager.failureHint().isEmpty());
        QTRY_VERIFY(!manager.isBusy());

        manager.runOperation(FlashManager::OperationStatus::erasing, u"Flash siliniyor"_s,
                             [] { return failWith(EsptoolError::notFound()); });
        QTRY_VERIFY(!manager.failureHint().isEmpty());
        manager.loadFirmware(QUrl::fromLocalFile(root.filePath(u"missing.zip"_s)));
        QVERIFY(manager.failureHint().isEmpty());
    }
};

OLVEX_TEST_MAIN(TestFailureDiagnosis)
#include "tst_failurediagnosis.moc"
