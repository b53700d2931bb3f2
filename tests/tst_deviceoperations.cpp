#include "esptoolrunner.h"
#include "flashmanager.h"
#include "logger.h"
#include "testsupport.h"

#include <QFile>

using namespace Qt::StringLiterals;
using Status = FlashManager::OperationStatus;

namespace {
const QByteArray chipIdOutput = R"(esptool v5.3.1
Serial port PORT:
Connecting....
Connected to ESP32-S3 on PORT:
Chip type:          ESP32-S3 (QFN56) (revision v0.2)
Features:           Wi-Fi, BT 5 (LE), Dual Core + LP Core, 240MHz, Embedded PSRAM 8MB (AP_3v3)
Crystal frequency:  40MHz
USB mode:           USB-Serial/JTAG
MAC:                7c:df:a1:00:11:22

Warning: ESP32-S3 has no chip ID. Reading MAC address instead.
MAC:                7c:df:a1:00:11:22

Hard resetting via RTS pin...
)";
const QString summary = u"ESP32-S3 (QFN56) (revision v0.2), Wi-Fi, BT 5 (LE), Dual Core + LP Core, 240MHz, "
                        u"Embedded PSRAM 8MB (AP_3v3), MAC 7c:df:a1:00:11:22"_s;

QStringList messages(const Logger *logger)
{
    QStringList list;
    for (const LogEntry &entry : logger->entries())
        list.append(entry.message);
    return list;
}
} // namespace

class TestDeviceOperations : public QObject
{
    Q_OBJECT

    QTemporaryDir m_root;
    PlatformPaths m_paths;

    QString tool() const { return m_paths.resourceDirectory + u"/esptool"_s; }
    QString calls() const { return m_paths.resourceDirectory + u"/calls"_s; }
    QString gate() const { return m_paths.resourceDirectory + u"/go"_s; }

    /// A fake tool: records its arguments (one line per run), then runs `body`.
    void installTool(const QByteArray &body)
    {
        writeFile(tool(), "#!/bin/sh\necho \"$*\" >> calls\n" + body,
                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    /// A chip query that answers like a real ESP32-S3 and writes that fail or succeed.
    void installChipTool(int chipIdExit = 0)
    {
        QFile sample(m_paths.resourceDirectory + u"/chip-id.txt"_s);
        QVERIFY(sample.open(QIODevice::WriteOnly));
        sample.write(chipIdOutput);
        sample.close();
        installTool("case \"$*\" in *chip-id*) cat chip-id.txt; exit " + QByteArray::number(chipIdExit) +
                    ";; esac\n");
    }

    QStringList recordedCalls() const
    {
        QFile file(calls());
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
    }

    /// Loads a firmware package of the usual four files through the controller.
    void loadFirmware(FlashManager &manager)
    {
        const QString build = m_root.filePath(u"build"_s);
        for (const auto name : {u"sketch.ino.bootloader.bin", u"sketch.ino.partitions.bin", u"boot_app0.bin",
                                u"sketch.ino.bin"})
            writeFile(build + u'/' + name, QByteArray(64, 'x'));
        const QString zip = m_root.filePath(u"firmware.zip"_s);
        QCOMPARE(QProcess::execute(u"/bin/sh"_s,
                                   {u"-c"_s, u"cd '%1' && /usr/bin/zip -qr '%2' ."_s.arg(build, zip)}),
                 0);
        manager.loadFirmware(QUrl::fromLocalFile(zip));
        QCOMPARE(manager.firmwareImages().size(), 4);
    }

    void start(FlashManager &manager, const QList<const char16_t *> &ports = {u"ttyACM0"})
    {
        for (const auto name : ports)
            writeFile(m_paths.deviceDirectory + u'/' + name, {});
        manager.refreshPorts();
    }

private Q_SLOTS:
    void init()
    {
        m_root.remove();
        QVERIFY(QDir().mkpath(m_root.path()));
        m_paths = pathsInside(m_root.path());
    }

    void preconditionsComeFirst()
    {
        installChipTool();
        FlashManager manager(m_paths);
        manager.connect();
        QCOMPARE(manager.statusDetail(), u"Önce USB portu seçin."_s);
        manager.eraseFlash();
        manager.reboot();
        manager.flash(); // no port and no firmware: the port message, nothing logged
        QCOMPARE(manager.statusDetail(), u"Önce USB portu seçin."_s);
        QCOMPARE(manager.status(), Status::idle);
        QTRY_COMPARE(messages(manager.logger()), QStringList{u"Port seçilmedi"_s});
        QCOMPARE(manager.logger()->entries().last().level, Level::warning);

        start(manager);
        manager.flash();
        QCOMPARE(manager.statusDetail(), u"Önce firmware zip seçin."_s);
        QCOMPARE(manager.status(), Status::idle);
        QTRY_COMPARE(manager.logger()->entries().last().message, u"Firmware seçilmedi"_s);
        QCOMPARE(manager.logger()->entries().last().level, Level::warning);
        QTest::qWait(50);
        QVERIFY(recordedCalls().isEmpty()); // no tool was ever run
    }

    void connectKeepsTheSummaryOfTheLastSuccess()
    {
        installChipTool();
        FlashManager manager(m_paths);
        start(manager);
        manager.connect();
        QCOMPARE(manager.status(), Status::connecting);
        QCOMPARE(manager.statusDetail(), u"Bağlanıyor…"_s);
        QTRY_COMPARE(manager.status(), Status::complete);
        QCOMPARE(manager.progress(), 0.0);
        QCOMPARE(manager.chipSummary()->summaryText(), summary);
        QCOMPARE(manager.statusDetail(), summary);
        QCOMPARE(manager.deviceDisplayText(), summary);
        QTRY_COMPARE(manager.logger()->entries().last().message, u"Bağlandı: "_s + summary);
        QCOMPARE(manager.logger()->entries().last().level, Level::success);

        installChipTool(2);
        manager.connect();
        QTRY_COMPARE(manager.status(), Status::error);
        QVERIFY(manager.statusDetail().startsWith(u"esptool failed (exit 2): "_s));
        QCOMPARE(manager.chipSummary()->summaryText(), summary);
    }

    void operationsUseThePortOfTheClick()
    {
        installTool("while [ ! -e go ]; do sleep 0.02; done\n");
        FlashManager manager(m_paths);
        start(manager, {u"ttyACM0", u"ttyACM1"});
        manager.connect();
        manager.setSelectedPort(manager.ports().last());
        QTRY_COMPARE(recordedCalls().size(), 1);
        writeFile(gate(), {});
        QTRY_COMPARE(manager.status(), Status::complete);
        QCOMPARE(recordedCalls().first(),
                 u"--chip esp32s3 --port %1/ttyACM0 --baud 921600 --before default-reset chip-id"_s.arg(
                     m_paths.deviceDirectory));
    }

    void writeShowsProgressAndEndsComplete()
    {
        installTool(
            "echo 'Writing at 0x00010000... (42 %)'\n"
            "while [ ! -e go ]; do sleep 0.02; done\n"
            "printf '\\rWriting at 0x0005b000 [=========================>    ]  88.8%% 1/2 bytes... \\n'\n"
            "echo 'Hash of data verified.'\n");
        FlashManager manager(m_paths);
        start(manager);
        loadFirmware(manager);
        manager.flash();
        QCOMPARE(manager.status(), Status::flashing);
        QCOMPARE(manager.statusDetail(), u"Yükleniyor…"_s);
        QCOMPARE(manager.progress(), 0.0);
        QTRY_COMPARE(manager.progress(), 0.42);
        QCOMPARE(manager.statusDetail(), u"Writing at 0x00010000... (42 %)"_s);
        QVERIFY(manager.esptoolRunner());
        QTest::qWait(50); // the report stays until the next one
        QCOMPARE(manager.progress(), 0.42);

        writeFile(gate(), {});
        QTRY_COMPARE(manager.status(), Status::complete);
        QCOMPARE(manager.progress(), 1.0);
        QCOMPARE(manager.statusDetail(), u"Yükleme tamamlandı."_s);
        QVERIFY(!manager.esptoolRunner());
        QTest::qWait(20); // no late report overwrites the final message
        QCOMPARE(manager.statusDetail(), u"Yükleme tamamlandı."_s);
        QCOMPARE(manager.progress(), 1.0);

        const QStringList log = messages(manager.logger());
        QVERIFY(log.contains(u"4 dosya esptool ile yüklenecek."_s));
        QVERIFY(log.contains(u"Hash of data verified."_s));
        const QString call = recordedCalls().last();
        QVERIFY2(
            call.contains(u"write-flash -z --flash-mode keep --flash-freq keep --flash-size keep 0x0 "_s),
            qPrintable(call));
        QVERIFY(call.contains(u" 0xE000 "_s) && call.contains(u" 0x10000 "_s));
    }

    void failedWriteKeepsTheLastProgress()
    {
        installTool("echo 'Writing at 0x00010000... (30 %)'\necho 'Traceback: KeyError 7'\nexit 2\n");
        FlashManager manager(m_paths);
        start(manager);
        loadFirmware(manager);
        manager.flash();
        QTRY_COMPARE(manager.status(), Status::error);
        QCOMPARE(manager.progress(), 0.3);
        const QString text =
            u"esptool failed (exit 2): Writing at 0x00010000... (30 %) Traceback: KeyError 7"_s;
        QCOMPARE(manager.statusDetail(), text);
        QVERIFY(!manager.esptoolRunner());
        QTRY_COMPARE(manager.logger()->entries().last().message, text);
        QCOMPARE(manager.logger()->entries().last().level, Level::error);
    }

    void eraseAndReboot()
    {
        installChipTool();
        FlashManager manager(m_paths);
        start(manager);
        loadFirmware(manager);
        manager.connect();
        QTRY_COMPARE(manager.status(), Status::complete);

        manager.eraseFlash();
        QCOMPARE(manager.statusDetail(), u"Flash siliniyor…"_s);
        QTRY_COMPARE(manager.status(), Status::complete);
        QCOMPARE(manager.progress(), 1.0);
        QCOMPARE(manager.statusDetail(), u"Flash silindi."_s);
        QCOMPARE(manager.firmwareImages().size(), 4);
        QVERIFY(manager.chipSummary());
        QVERIFY(recordedCalls().last().endsWith(u"--before default-reset erase-flash"_s));

        installTool("exit 3\n");
        manager.reboot();
        QTRY_COMPARE(manager.status(), Status::error);
        QCOMPARE(manager.statusDetail(), u"esptool failed (exit 3): "_s);
        QCOMPARE(manager.progress(), 0.0);
        QVERIFY(manager.chipSummary()); // a failed reboot keeps it

        installTool("exit 0\n");
        manager.reboot();
        QCOMPARE(manager.statusDetail(), u"Yeniden başlatılıyor…"_s);
        QTRY_COMPARE(manager.status(), Status::complete);
        QCOMPARE(manager.statusDetail(), u"Yeniden başlatma gönderildi."_s);
        QCOMPARE(manager.progress(), 0.0);
        QVERIFY(!manager.chipSummary());
        QCOMPARE(manager.deviceDisplayText(), u"ttyACM0"_s);
        QVERIFY(recordedCalls().last().endsWith(u"--before no-reset --after hard-reset chip-id"_s));

        installTool("exit 1\n");
        manager.eraseFlash();
        QTRY_COMPARE(manager.status(), Status::error);
        QCOMPARE(manager.progress(), 0.0);
        QVERIFY(!messages(manager.logger()).contains(u"İşlem iptal edildi"_s));
    }
};

OLVEX_TEST_MAIN(TestDeviceOperations)
#include "tst_deviceoperations.moc"
