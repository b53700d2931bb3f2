// The hints for the tool's failures, and the controller that keeps the last one.
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
} // namespace

class TestFailureDiagnosis : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Each output is the tail a failed run carries: the tool's last lines joined by blanks.
    void recognisesTheToolsOwnWords_data()
    {
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("key");
        QTest::newRow("no answer: not in download mode")
            << u"Connecting...... A fatal error occurred: Failed to connect to ESP32-S3: No serial data "
               u"received. For troubleshooting steps visit: "
               u"https://docs.espressif.com/projects/esptool/en/latest/troubleshooting.html"_s
            << u"download-mode"_s;
        QTest::newRow("port missing")
            << u"A fatal error occurred: Could not open /dev/ttyACM9, the port is busy or doesn't exist. "
               u"([Errno 2] could not open port /dev/ttyACM9: [Errno 2] No such file or directory: "
               u"'/dev/ttyACM9') Hint: Check if the port is correct and ESP connected"_s
            << u"port-unavailable"_s;
        QTest::newRow("no permission wins over the busy wording")
            << u"A fatal error occurred: Could not open /dev/ttyACM1, the port is busy or doesn't exist. "
               u"([Errno 13] could not open port /dev/ttyACM1: [Errno 13] Permission denied: '/dev/ttyACM1') "
               u"Hint: Try to add user into dialout or uucp group."_s
            << u"port-permission"_s;
        QTest::newRow("permission denied elsewhere is not about the port")
            << u"PermissionError: [Errno 13] Permission denied: '/tmp/x'"_s << QString();
        QTest::newRow("image for another chip, version 5")
            << u"A fatal error occurred: 'build/sketch.ino.bootloader.bin' is not an an ESP32-S3 image. Use "
               u"the force argument to flash anyway."_s
            << u"wrong-image"_s;
        QTest::newRow("image for another chip, version 4")
            << u"A fatal error occurred: sketch.ino.bootloader.bin is not an ESP32-S3 image. Use --force to "
               u"flash anyway."_s
            << u"wrong-image"_s;
        QTest::newRow("another chip on the port")
            << u"A fatal error occurred: This chip is ESP32-C3, not ESP32-S3. Wrong chip argument?"_s
            << u"wrong-chip"_s;
        QTest::newRow("cable came loose")
            << u"Writing at 0x0003a000 [=======>    ]  28.1% 65536/233472 bytes... A fatal error occurred: "
               u"No more data to read from the serial port."_s
            << u"connection-lost"_s;
        QTest::newRow("old tool") << u"esptool.py: error: argument operation: invalid choice: 'write-flash' "
                                     u"(choose from 'write_flash', 'erase_flash')"_s
                                  << u"old-esptool"_s;
        QTest::newRow("unknown failure") << u"Traceback (most recent call last): KeyError: 7"_s << QString();
        QTest::newRow("phrases match case-sensitively")
            << u"failed to connect to esp32-s3: no serial data received."_s << QString();
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
                 u"Programla gelen esptool bulunamadı; kurulum eksik. Programı yeniden kurun."_s);
        QVERIFY(!diagnoseFailure(std::make_exception_ptr(PlatformError(u"No such file or directory"_s))));
        QVERIFY(!diagnoseFailure({}));
    }

    // The hint of the last failed operation, logged right after the error line, cleared by
    // the next start, a refresh and a load. Nothing else about the failure changes.
    void controllerKeepsTheHintOfTheLastFailure()
    {
        QTemporaryDir root;
        FlashManager manager(pathsInside(root.path()));
        auto fail = [&manager](const EsptoolError &error) {
            manager.runOperation(FlashManager::OperationStatus::erasing, u"Flash siliniyor"_s,
                                 [error] { return failWith(error); });
        };
        const QString output =
            u"A fatal error occurred: Failed to connect to ESP32-S3: No serial data received."_s;
        fail(EsptoolError::failed(2, output));
        QTRY_VERIFY(!manager.isBusy());
        const QString description = u"esptool failed (exit 2): "_s + output;
        QCOMPARE(manager.status(), FlashManager::OperationStatus::error);
        QCOMPARE(manager.statusDetail(), description);
        QVERIFY(manager.failureHint().startsWith(u"Cihaz programlama modunda değil."_s));
        QTRY_COMPARE(logLines(manager.logger()),
                     (QStringList{u"ERR "_s + description, u"WARN "_s + manager.failureHint()}));

        manager.refreshPorts();
        QVERIFY(manager.failureHint().isEmpty());

        fail(EsptoolError::notFound());
        QTRY_VERIFY(!manager.isBusy());
        QVERIFY(!manager.failureHint().isEmpty());
        fail(EsptoolError::failed(1, u"KeyError"_s));
        QVERIFY(manager.failureHint().isEmpty()); // cleared by the start
        QTRY_VERIFY(!manager.isBusy());
        QVERIFY(manager.failureHint().isEmpty()); // and none for an unknown failure

        fail(EsptoolError::notFound());
        QTRY_VERIFY(!manager.isBusy());
        QVERIFY(!manager.failureHint().isEmpty());
        // A load replaces it with its own.
        manager.loadFirmware(QUrl::fromLocalFile(root.filePath(u"missing.zip"_s)));
        QVERIFY(manager.failureHint().startsWith(u"Seçilen dosya bir zip arşivi değil"_s));
    }
};

OLVEX_TEST_MAIN(TestFailureDiagnosis)
#include "tst_failurediagnosis.moc"
