// Whole updates as a user does them, through the real window: a fake device folder, a fake
// esptool that talks like version 5, and real zips unpacked by the real unzip.
#include "packagesigning.h"
#include "statusdot.h"
#include "windowfixture.h"

#include <QProgressBar>

using namespace Qt::StringLiterals;
using Status = WindowFixture::Status;

namespace {
// Answers the chip query like a real ESP32-S3; writes in version 5's bar style, waiting for
// the test between steps so that it can watch the percentage climb.
const QByteArray fakeEsptool = R"(case "$*" in
*chip-id*)
    printf 'esptool v5.3.1\nConnected to ESP32-S3 on %s:\n' "$4"
    printf 'Chip type:          ESP32-S3 (QFN56) (revision v0.2)\n'
    printf 'Features:           Wi-Fi, BT 5 (LE), Dual Core + LP Core, 240MHz\n'
    printf 'USB mode:           USB-Serial/JTAG\nMAC:                7c:df:a1:00:11:22\n'
    printf 'Hard resetting via RTS pin...\n' ;;
*write-flash*)
    printf "esptool v5.3.1\n"
    for at in 00000000 00008000 0000e000; do
        printf '\rWriting at 0x%s [                              ]   0.0%% 0/900 bytes... \n' $at
        printf '\rWriting at 0x%s [==============================] 100.0%% 900/900 bytes... \n' $at
    done
    for step in 1 2 3; do
        case $step in 1) p='  0.0' n=0 ;; 2) p=' 48.8' n=82000 ;; 3) p='100.0' n=168035 ;; esac
        printf '\rWriting at 0x00010000 [==============>               ] %s%% %s/168035 bytes... \n' "$p" $n
        while [ ! -e "$TMPDIR/go$step" ]; do sleep 0.02; done
    done
    printf 'Hard resetting via RTS pin...\n' ;;
*read-flash*)
    for a; do last=$a; done
    cp "$TMPDIR/app-header.bin" "$last" ;;
esac
)";

QStringList items(const QComboBox *box)
{
    QStringList texts;
    for (int i = 0; i < box->count(); ++i)
        texts.append(box->itemText(i));
    return texts;
}

void click(const WindowFixture &w, const QString &name)
{
    auto *button = w.find<QPushButton>(name);
    QVERIFY2(button->isEnabled(), qPrintable(name));
    QTest::mouseClick(button, Qt::LeftButton);
}
} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void updateFromStartToEnd()
    {
        const KeyPair key = KeyPair::generate();
        WindowFixture w(SignaturePolicy{{key.publicKey}});
        w.installTool(fakeEsptool);
        const QString root = w.folder().root();
        const QString zip = root + u"/Olvex firmware 1.2.zip"_s;
        QMap<QString, QByteArray> build = esp32s3Build(u"build/"_s, u"olvex"_s);
        build.insert(u"build/olvex.ino.merged.bin"_s, QByteArray(65536, 'm'));
        // Signed by the vendor's tool with a key this updater trusts.
        makeZip(root + u"/unsigned.zip"_s, build);
        writeFile(root + u"/vardel.secret"_s, toBase64(key.secretKey));
        signPackage(root + u"/unsigned.zip"_s, zip, root + u"/vardel.secret"_s, w.paths());
        // What the device runs: an older version of the same firmware.
        ImageRecipe running{.descriptor = DescriptorRecipe{.version = "1.3.0", .date = "Oct 12 2026"}};
        writeFile(w.paths().temporaryDirectory + u"/app-header.bin"_s, espImage(running).first(0x100));
        const QString dev = w.paths().deviceDirectory;
        QVERIFY(w.open({u"ttyACM0"_s, u"ttyACM1"_s}, {{dev + u"/ttyACM1"_s, u"Espressif"_s,
                                                       u"USB JTAG/serial debug unit"_s, 0x303a, 0x1001}}));
        w.view()->setZipChooser([zip](QWidget *) { return std::optional(QUrl::fromLocalFile(zip)); });

        // The first showing listed the ports and chose the first, of which nothing is known.
        auto *picker = w.find<QComboBox>(u"compactPortPicker"_s);
        auto *details = w.find<QComboBox>(u"detailsPortPicker"_s);
        QCOMPARE(items(picker), (QStringList{u"— Port seçin —"_s, u"ttyACM0"_s, u"ttyACM1 — Espressif"_s}));
        QCOMPARE(items(details),
                 (QStringList{u"— Port seçin —"_s, dev + u"/ttyACM0"_s, dev + u"/ttyACM1 — Espressif"_s}));
        QCOMPARE(picker->currentIndex(), 1);
        QVERIFY(w.find(u"compactPortDescription"_s)->isHidden());
        QTest::keyClick(picker, Qt::Key_Down); // as a user picks the second port
        QCOMPARE(w.manager()->selectedPort()->path, dev + u"/ttyACM1"_s);
        QCOMPARE(details->currentIndex(), 2);
        for (const auto name : {u"compactPortDescription", u"detailsPortDescription"}) {
            QCOMPARE(w.text(QString::fromUtf16(name)), u"Espressif USB JTAG/serial debug unit (303a:1001)"_s);
            QVERIFY(!w.find(QString::fromUtf16(name))->isHidden());
        }
        w.saveRender(u"compact-start.png"_s);
        w.addPorts({u"ttyUSB0"_s});
        click(w, u"compactRefreshButton"_s);
        QCOMPARE(items(picker).last(), u"ttyUSB0"_s);
        QCOMPARE(picker->currentIndex(), 2); // the choice stays

        click(w, u"compactChooseZipButton"_s);
        QCOMPARE(w.text(u"firmwareZipName"_s), u"Olvex firmware 1.2.zip"_s);
        QCOMPARE(w.text(u"firmwarePackageText"_s), u"olvex_fw 1.4.2 · 2 Kasım 2026"_s);
        QVERIFY(w.find(u"firmwareSignedText"_s)->isVisible());
        QVERIFY(!w.find(u"firmwareUnsignedText"_s)->isVisible());

        // One bar from the first image to the last, never back, under a Turkish line.
        click(w, u"flashButton"_s);
        QCOMPARE(w.text(u"statusBadgeTitle"_s), u"Yükleniyor…"_s);
        QCOMPARE(w.text(u"statusCardDetail"_s), u"Cihaza bağlanılıyor…"_s);
        QCOMPARE(w.text(u"statusCardWriteNote"_s), u"Yazma bitene kadar kabloyu çıkarmayın."_s);
        QVERIFY(!w.find(u"flashButton"_s)->isEnabled());
        const auto *bar = w.find<QProgressBar>(u"compactProgressBar"_s);
        QTRY_VERIFY(w.text(u"statusCardDetail"_s).startsWith(u"Uygulama yazılıyor (4/4) · "_s));
        w.saveRender(u"compact-writing.png"_s);
        QList<int> seen{bar->value()};
        for (const QString &step : {u"/go1"_s, u"/go2"_s}) {
            writeFile(w.paths().temporaryDirectory + step, {});
            QTRY_VERIFY(bar->value() > seen.last());
            seen.append(bar->value());
        }
        QVERIFY2(seen.first() > 0 && seen.last() == 999, qPrintable(QString::number(seen.first())));
        QCOMPARE(w.text(u"statusCardDetail"_s), u"Doğrulanıyor…"_s);
        QCOMPARE(w.text(u"detailsProgressPercent"_s), u"99%"_s);
        writeFile(w.paths().temporaryDirectory + u"/go3"_s, {});
        QTRY_COMPARE(w.text(u"statusBadgeTitle"_s), u"Tamamlandı"_s);
        QCOMPARE(w.text(u"compactProgressPercent"_s), u"100%"_s);
        QCOMPARE(bar->value(), bar->maximum());
        QCOMPARE(w.text(u"statusCardDetail"_s), u"Yükleme tamamlandı."_s);
        QCOMPARE(w.text(u"statusCardWriteNote"_s), u"olvex_fw 1.4.2 yüklendi."_s);
        QVERIFY(w.find(u"flashButton"_s)->isEnabled());
        w.saveRender(u"compact-complete.png"_s);

        click(w, u"detailsToggle"_s);
        QCOMPARE(w.text(u"firmwarePackageSummary"_s), u"olvex_fw 1.4.2 · 2 Kasım 2026"_s);
        QStringList verdicts;
        for (const QLabel *label : w.window()->findChildren<QLabel *>(u"firmwareFileVerdict"_s))
            verdicts.append(label->text());
        QCOMPARE(verdicts, (QStringList{u"ESP32-S3 önyükleyici"_s, u"bölüm tablosu: 5 bölüm"_s,
                                        u"OTA başlangıç verisi"_s, u"uygulama 9 KB / bölüm 1,3 MB"_s}));
        // The tool verified what it wrote.
        QCOMPARE(w.text(u"runningFirmwareText"_s), u"Cihazdaki yazılım: olvex_fw 1.4.2 (2 Kasım 2026)"_s);

        click(w, u"connectButton"_s);
        QTRY_COMPARE(w.text(u"statusBadgeTitle"_s), u"Tamamlandı"_s);
        QVERIFY(w.text(u"deviceText"_s).startsWith(u"ESP32-S3 (QFN56) (revision v0.2), Wi-Fi"_s));
        QVERIFY(w.text(u"deviceText"_s).endsWith(u"MAC 7c:df:a1:00:11:22"_s));
        QCOMPARE(w.text(u"runningFirmwareText"_s), u"Cihazdaki yazılım: olvex_fw 1.3.0 (12 Ekim 2026)"_s);
        QCOMPARE(w.text(u"firmwareComparisonText"_s), u"1.3.0 → 1.4.2"_s);
        w.manager()->flash(); // again, now that the device's version is known
        QTRY_COMPARE(w.text(u"statusCardWriteNote"_s), u"olvex_fw 1.4.2 yüklendi (önceki: 1.3.0)."_s);

        click(w, u"eraseButton"_s);
        QTRY_COMPARE(w.text(u"statusDetailText"_s), u"Flash silindi."_s);
        QVERIFY(!w.find(u"runningFirmwareText"_s)->isVisible()); // the erase took it away
        click(w, u"rebootButton"_s);
        QTRY_COMPARE(w.text(u"statusDetailText"_s), u"Yeniden başlatma gönderildi."_s);
        QCOMPARE(w.text(u"deviceText"_s), u"ttyACM1"_s);
        QTest::keyClick(details, Qt::Key_Home);
        QVERIFY(!w.manager()->selectedPort());
        QCOMPARE(picker->currentIndex(), 0);
    }

    // An unsigned zip, in a build that trusts no key, is listed file by file; a write of it that
    // stops half-way is run again slower from the hint, twice; the next write from the button
    // goes at the usual speed again.
    void unsignedPackageWrittenSlower()
    {
        WindowFixture w;
        w.installTool("echo 'Writing at 0x00010000... (30 %)'\n"
                      "case \"$6\" in\n"
                      "921600) echo 'A fatal error occurred: Packet content transfer stopped (received 8 "
                      "bytes).'; exit 2;;\n"
                      "460800) echo 'A fatal error occurred: The chip stopped responding.'; exit 2;;\n"
                      "esac\n");
        QVERIFY(w.open({u"ttyACM0"_s}));
        QVERIFY(!w.find(u"firmwareFilesEmpty"_s)->isHidden());
        QCOMPARE(w.text(u"firmwareZipName"_s), u"Henüz seçilmedi"_s);
        QVERIFY(w.loadFirmware());
        w.switchLayout(true);
        QVERIFY(w.find(u"firmwareFilesEmpty"_s)->isHidden());
        QCOMPARE(w.text(u"firmwareText"_s), u"olvex-1.2.zip"_s);
        // Nothing said of signatures but a line in the log.
        QVERIFY(w.find(u"firmwareUnsignedText"_s)->isHidden() && w.find(u"firmwareSignedText"_s)->isHidden());
        QVERIFY(
            logLines(w.manager()->logger()).contains(u"INFO Paket imzasız; bu sürüm imza denetlemiyor."_s));
        for (const auto name : {u"deviceText", u"firmwareText"}) // to be passed on
            QVERIFY(w.find<QLabel>(QString::fromUtf16(name))->textInteractionFlags() &
                    Qt::TextSelectableByMouse);
        QStringList shown;
        for (const QWidget *row :
             w.find(u"firmwareFileList"_s)->findChildren<QWidget *>(u"firmwareFileRow"_s))
            shown.append(row->findChild<QWidget *>(u"firmwareFileName"_s)->property("text").toString() +
                         u" | "_s + row->findChild<QLabel *>(u"firmwareFileSize"_s)->text());
        QCOMPARE(shown, (QStringList{u"olvex.ino.bootloader.bin | 4096 bayt @ 0x0"_s,
                                     u"olvex.ino.partitions.bin | 3072 bayt @ 0x8000"_s,
                                     u"boot_app0.bin | 8192 bayt @ 0xE000"_s,
                                     u"olvex.ino.bin | 16384 bayt @ 0x10000"_s}));
        w.saveRender(u"details-files-log.png"_s);
        w.switchLayout(false);

        w.manager()->retryFlashSlower(); // nothing on offer: nothing happens
        QVERIFY(!w.manager()->isBusy());
        auto *retry = w.find(u"compactFailureHint"_s)->findChild<QPushButton *>(u"slowerRetryButton"_s);
        click(w, u"flashButton"_s);
        for (const QString &render : {u"compact-retry-slower.png"_s, QString()}) {
            QTRY_COMPARE(w.manager()->status(), Status::error);
            QTRY_VERIFY(retry->isVisible());
            if (!render.isEmpty())
                w.saveRender(render);
            QTest::mouseClick(retry, Qt::LeftButton);
        }
        QTRY_COMPARE(w.manager()->status(), Status::complete);
        QVERIFY(retry->isHidden());
        // A package without a version: no line of what was written, but the restart note.
        QVERIFY(w.find(u"statusCardWriteNote"_s)->isHidden());
        QVERIFY(w.find(u"statusCardRestartNote"_s)->isVisible());
        QVERIFY(w.find<StatusDot>(u"statusCardDot"_s)->hasCheckMark());
        click(w, u"flashButton"_s);
        QTRY_VERIFY(!w.manager()->isBusy());
        const QList<QStringList> runs = w.folder().runs();
        QStringList bauds;
        for (const QStringList &run : runs) {
            bauds.append(run.at(5));
            QCOMPARE(run.mid(6), runs.first().mid(6)); // the same write
        }
        QCOMPARE(bauds, (QStringList{u"921600"_s, u"460800"_s, u"115200"_s, u"921600"_s}));

        // A load, even a failed one, leaves no bar of an earlier write.
        w.view()->setZipChooser(
            [](QWidget *) { return std::optional(QUrl::fromLocalFile(u"/no/such.zip"_s)); });
        w.view()->chooseFirmwareZip();
        QCOMPARE(w.manager()->status(), Status::error);
        QCOMPARE(w.text(u"compactProgressPercent"_s), u"0%"_s);
    }
};

OLVEX_TEST_GUI_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
