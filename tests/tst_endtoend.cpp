// A whole update as a user does it, through the real window: a fake device folder, a fake
// esptool that talks like version 5, and a real zip unpacked by the real unzip.
#include "contentview.h"
#include "flashmanager.h"
#include "logger.h"
#include "mainwindow.h"
#include "packagesigning.h"
#include "testsupport.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>

using namespace Qt::StringLiterals;

namespace {
// Answers the chip query like a real ESP32-S3; writes in version 5's bar style, waiting for
// the test between steps so that it can watch the percentage climb.
const QByteArray fakeEsptool = R"(#!/bin/sh
echo "$*" >> calls
case "$*" in
*chip-id*)
    if [ -e fail-connect ]; then
        printf 'esptool v5.3.1\nConnecting......................................\n'
        printf 'A fatal error occurred: Failed to connect to ESP32-S3: No serial data received.\n' >&2
        printf 'For troubleshooting steps visit: https://docs.espressif.com/projects/esptool/en/latest/troubleshooting.html\n' >&2
        exit 2
    fi
    printf 'esptool v5.3.1\nConnected to ESP32-S3 on %s:\n' "$4"
    printf 'Chip type:          ESP32-S3 (QFN56) (revision v0.2)\n'
    printf 'Features:           Wi-Fi, BT 5 (LE), Dual Core + LP Core, 240MHz\n'
    printf 'USB mode:           USB-Serial/JTAG\nMAC:                7c:df:a1:00:11:22\n'
    printf 'Hard resetting via RTS pin...\n' ;;
*write-flash*)
    printf "esptool v5.3.1\nWriting 'olvex.ino.bin' at 0x00010000...\n"
    for step in 1 2 3; do
        case $step in 1) p=' 10.0' ;; 2) p=' 48.8' ;; 3) p='100.0' ;; esac
        printf '\rWriting at 0x00010000 [==============>               ] %s%% 81920/168035 bytes... \n' "$p"
        while [ ! -e "go$step" ]; do sleep 0.02; done
    done
    printf 'Wrote 307200 bytes (168035 compressed) at 0x00010000 in 2.0 seconds (1231.6 kbit/s).\n'
    printf 'Hash of data verified.\n\nHard resetting via RTS pin...\n' ;;
*read-flash*)
    for a; do last=$a; done
    cp app-header.bin "$last" ;;
*erase-flash*)
    printf 'Erasing flash memory (this may take a while)...\nFlash memory erased successfully in 4.2 seconds.\n' ;;
esac
)";
} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_root;
    PlatformPaths m_paths;
    std::unique_ptr<MainWindow> m_window;

    template <typename T = QWidget> T *find(const QString &name) const
    {
        T *widget = m_window->findChild<T *>(name);
        if (!widget)
            qFatal("no widget named %s", qPrintable(name));
        return widget;
    }
    /// The text a label of the window shows (plain labels and the line-limited ones alike).
    QString text(const QString &name) const { return find(name)->property("text").toString(); }
    FlashManager *manager() const { return m_window->contentView()->manager(); }
    QString tool(const QString &file) const { return m_paths.resourceDirectory + u"/ThirdParty/"_s + file; }

    void click(const QString &name)
    {
        auto *button = find<QPushButton>(name);
        QVERIFY2(button->isEnabled(), qPrintable(name));
        QTest::mouseClick(button, Qt::LeftButton);
    }

    QStringList logMessages() const
    {
        QStringList messages;
        for (const LogEntry &entry : manager()->logger()->entries())
            messages.append(entry.message);
        return messages;
    }

private Q_SLOTS:
    void init()
    {
        m_root = std::make_unique<QTemporaryDir>(); // fresh: no fake-tool switches left from before
        m_paths = pathsInside(m_root->path());
        for (const auto name : {u"ttyACM0", u"ttyACM1"})
            addFakePort(m_paths.deviceDirectory, name);
        writeFile(tool(u"esptool"_s), fakeEsptool, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        const QString zip = m_root->filePath(u"Olvex firmware 1.2.zip"_s);
        QMap<QString, QByteArray> build = esp32s3Build(u"build/"_s, u"olvex"_s);
        build.insert(u"build/olvex.ino.merged.bin"_s, QByteArray(65536, 'm'));
        // Signed by the vendor's tool with a key this updater trusts.
        makeZip(m_root->filePath(u"unsigned.zip"_s), build);
        const KeyPair key = KeyPair::generate();
        writeFile(m_root->filePath(u"vardel.secret"_s), toBase64(key.secretKey));
        signPackage(m_root->filePath(u"unsigned.zip"_s), zip, m_root->filePath(u"vardel.secret"_s), m_paths);
        // What the device runs: an older version of the same firmware.
        ImageRecipe running;
        running.descriptor = DescriptorRecipe{};
        running.descriptor->version = "1.3.0";
        running.descriptor->date = "Oct 12 2026";
        writeFile(tool(u"app-header.bin"_s), espImage(running).first(0x100));

        m_window = std::make_unique<MainWindow>(m_paths, SignaturePolicy{{key.publicKey}});
        m_window->contentView()->setZipChooser(
            [zip](QWidget *) { return std::optional(QUrl::fromLocalFile(zip)); });
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    }

    void cleanup() { m_window.reset(); }

    void updateFromStartToEnd()
    {
        const QString acm1 = m_paths.deviceDirectory + u"/ttyACM1"_s;
        auto *picker = find<QComboBox>(u"compactPortPicker"_s);
        QCOMPARE(picker->currentText(), u"ttyACM0"_s); // the first showing listed the ports
        click(u"compactRefreshButton"_s);
        QCOMPARE(picker->count(), 3);
        QTest::keyClick(picker, Qt::Key_Down); // as a user picks the second port
        QCOMPARE(manager()->selectedPort()->path, acm1);

        click(u"compactChooseZipButton"_s);
        QCOMPARE(text(u"firmwareZipName"_s), u"Olvex firmware 1.2.zip"_s);
        QCOMPARE(text(u"firmwarePackageText"_s), u"olvex_fw 1.4.2 · 2 Kasım 2026"_s);
        QVERIFY(find<QLabel>(u"firmwareSignedText"_s)->isVisible());
        QVERIFY(!find<QLabel>(u"firmwareUnsignedText"_s)->isVisible());
        QCOMPARE(text(u"statusBadgeTitle"_s), u"Hazır"_s);

        click(u"flashButton"_s);
        QCOMPARE(text(u"statusBadgeTitle"_s), u"Yükleniyor…"_s);
        QTRY_COMPARE(text(u"compactProgressPercent"_s), u"10%"_s);
        QCOMPARE(text(u"statusCardDetail"_s), u"Writing at 0x00010000 10.0% 81920/168035 bytes..."_s);
        QVERIFY(!find<QPushButton>(u"flashButton"_s)->isEnabled());
        writeFile(tool(u"go1"_s), {});
        QTRY_COMPARE(text(u"compactProgressPercent"_s), u"48%"_s);
        writeFile(tool(u"go2"_s), {});
        QTRY_COMPARE(text(u"compactProgressPercent"_s), u"100%"_s);
        writeFile(tool(u"go3"_s), {});
        QTRY_COMPARE(text(u"statusBadgeTitle"_s), u"Tamamlandı"_s);
        QCOMPARE(text(u"statusCardDetail"_s), u"Yükleme tamamlandı."_s);
        QVERIFY(find<QPushButton>(u"flashButton"_s)->isEnabled());

        click(u"detailsToggle"_s);
        const QString build = manager()->extractedFirmwareDirectory()->toLocalFile() + u"/build/"_s;
        const QString writeCommand =
            u"esptool --chip esp32s3 --port "_s + acm1 +
            u" --baud 921600 --before default-reset --after hard-reset write-flash -z --flash-mode keep "
            u"--flash-freq keep --flash-size keep 0x0 "_s +
            build + u"olvex.ino.bootloader.bin 0x8000 "_s + build + u"olvex.ino.partitions.bin 0xE000 "_s +
            build + u"boot_app0.bin 0x10000 "_s + build + u"olvex.ino.bin"_s;
        QTRY_VERIFY(logMessages().contains(writeCommand));
        QVERIFY(logMessages().contains(u"Hash of data verified."_s));
        QCOMPARE(find<QWidget>(u"logView"_s)->isVisible(), true);
        QCOMPARE(text(u"firmwarePackageSummary"_s), u"olvex_fw 1.4.2 · 2 Kasım 2026"_s);
        QStringList verdicts;
        for (const QLabel *label : m_window->findChildren<QLabel *>(u"firmwareFileVerdict"_s))
            verdicts.append(label->text());
        QCOMPARE(verdicts, (QStringList{u"ESP32-S3 önyükleyici"_s, u"bölüm tablosu: 5 bölüm"_s,
                                        u"OTA başlangıç verisi"_s, u"uygulama 9 KB / bölüm 1,3 MB"_s}));
        QVERIFY(!find(u"runningFirmwareText"_s)->isVisible());

        click(u"connectButton"_s);
        QTRY_COMPARE(text(u"statusBadgeTitle"_s), u"Tamamlandı"_s);
        QVERIFY(text(u"deviceText"_s).startsWith(u"ESP32-S3 (QFN56) (revision v0.2), Wi-Fi"_s));
        QVERIFY(text(u"deviceText"_s).endsWith(u"MAC 7c:df:a1:00:11:22"_s));
        QCOMPARE(text(u"runningFirmwareText"_s), u"Cihazdaki yazılım: olvex_fw 1.3.0 (12 Ekim 2026)"_s);
        QCOMPARE(text(u"firmwareComparisonText"_s), u"1.3.0 → 1.4.2"_s);

        click(u"eraseButton"_s);
        QTRY_COMPARE(text(u"statusDetailText"_s), u"Flash silindi."_s);
        QTRY_VERIFY(logMessages().contains(u"Flash memory erased successfully in 4.2 seconds."_s));
        click(u"rebootButton"_s);
        QTRY_COMPARE(text(u"statusDetailText"_s), u"Yeniden başlatma gönderildi."_s);
        QCOMPARE(text(u"deviceText"_s), u"ttyACM1"_s);
        QVERIFY(!find(u"runningFirmwareText"_s)->isVisible());
    }

    void deviceNotInDownloadMode()
    {
        writeFile(tool(u"fail-connect"_s), {});
        click(u"detailsToggle"_s);
        click(u"connectButton"_s);
        QTRY_COMPARE(text(u"statusBadgeTitle"_s), u"Hata"_s);
        const QString error =
            u"esptool failed (exit 2): esptool v5.3.1 Connecting...................................... "
            u"A fatal error occurred: Failed to connect to ESP32-S3: No serial data received. For "
            u"troubleshooting "
            u"steps visit: https://docs.espressif.com/projects/esptool/en/latest/troubleshooting.html"_s;
        QCOMPARE(text(u"statusDetailText"_s), error);
        const QString hint =
            u"Cihaz programlama modunda değil. USB kablosunu çıkarın, BOOT tuşuna basılı tutarak "
            u"yeniden takın, sonra BOOT'u bırakıp tekrar deneyin."_s;
        QVERIFY(find<QWidget>(u"detailsFailureHint"_s)->isVisible());
        QTRY_VERIFY(
            logMessages().contains(u"A fatal error occurred: Failed to connect to ESP32-S3: No serial data "
                                   u"received."_s));
        QTRY_COMPARE(logMessages().mid(logMessages().size() - 2), (QStringList{error, hint}));

        click(u"detailsToggle"_s);
        QTRY_VERIFY(find<QWidget>(u"compactFailureHint"_s)->isVisible());
        QCOMPARE(find(u"compactFailureHint"_s)
                     ->findChild<QWidget *>(u"failureHintText"_s)
                     ->property("text")
                     .toString(),
                 hint);
        QCOMPARE(text(u"statusCardDetail"_s), error);
    }
};

OLVEX_TEST_GUI_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
