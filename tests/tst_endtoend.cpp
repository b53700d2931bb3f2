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
#include <QProgressBar>
#include <QPushButton>

using namespace Qt::StringLiterals;

namespace {
// Answers the chip query like a real ESP32-S3; writes in version 5's bar style, waiting for
// the test between steps so that it can watch the percentage climb.
const QByteArray fakeEsptool = R"(#!/bin/sh
case "$*" in
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
        while [ ! -e "$(dirname "$0")/go$step" ]; do sleep 0.02; done
    done
    printf 'Hard resetting via RTS pin...\n' ;;
*read-flash*)
    for a; do last=$a; done
    cp "$(dirname "$0")/app-header.bin" "$last" ;;
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
        QTRY_COMPARE(picker->currentText(), u"ttyACM0"_s); // listed right after the first paint
        click(u"compactRefreshButton"_s);
        QCOMPARE(picker->count(), 3);
        QTest::keyClick(picker, Qt::Key_Down); // as a user picks the second port
        QCOMPARE(manager()->selectedPort()->path, acm1);

        click(u"compactChooseZipButton"_s);
        QCOMPARE(text(u"firmwareZipName"_s), u"Olvex firmware 1.2.zip"_s);
        QCOMPARE(text(u"firmwarePackageText"_s), u"olvex_fw 1.4.2 · 2 Kasım 2026"_s);
        QVERIFY(find<QLabel>(u"firmwareSignedText"_s)->isVisible());
        QVERIFY(!find<QLabel>(u"firmwareUnsignedText"_s)->isVisible());

        // One bar from the first image to the last, never back, under a Turkish line.
        click(u"flashButton"_s);
        QCOMPARE(text(u"statusBadgeTitle"_s), u"Yükleniyor…"_s);
        QCOMPARE(text(u"statusCardDetail"_s), u"Cihaza bağlanılıyor…"_s);
        QCOMPARE(text(u"statusCardWriteNote"_s), u"Yazma bitene kadar kabloyu çıkarmayın."_s);
        QVERIFY(!find<QPushButton>(u"flashButton"_s)->isEnabled());
        const auto *bar = find<QProgressBar>(u"compactProgressBar"_s);
        QTRY_VERIFY(text(u"statusCardDetail"_s).startsWith(u"Uygulama yazılıyor (4/4) · "_s));
        QList<int> seen{bar->value()};
        for (const QString &step : {u"go1"_s, u"go2"_s}) {
            writeFile(tool(step), {});
            QTRY_VERIFY(bar->value() > seen.last());
            seen.append(bar->value());
        }
        QVERIFY2(seen.first() > 0 && seen.last() == 999, qPrintable(QString::number(seen.first())));
        QCOMPARE(text(u"statusCardDetail"_s), u"Doğrulanıyor…"_s);
        writeFile(tool(u"go3"_s), {});
        QTRY_COMPARE(text(u"statusBadgeTitle"_s), u"Tamamlandı"_s);
        QCOMPARE(text(u"compactProgressPercent"_s), u"100%"_s);
        QCOMPARE(text(u"statusCardDetail"_s), u"Yükleme tamamlandı."_s);
        QCOMPARE(text(u"statusCardWriteNote"_s), u"olvex_fw 1.4.2 yüklendi."_s);
        QVERIFY(find<QPushButton>(u"flashButton"_s)->isEnabled());

        click(u"detailsToggle"_s);
        QCOMPARE(text(u"firmwarePackageSummary"_s), u"olvex_fw 1.4.2 · 2 Kasım 2026"_s);
        QStringList verdicts;
        for (const QLabel *label : m_window->findChildren<QLabel *>(u"firmwareFileVerdict"_s))
            verdicts.append(label->text());
        QCOMPARE(verdicts, (QStringList{u"ESP32-S3 önyükleyici"_s, u"bölüm tablosu: 5 bölüm"_s,
                                        u"OTA başlangıç verisi"_s, u"uygulama 9 KB / bölüm 1,3 MB"_s}));
        // The tool verified what it wrote.
        QCOMPARE(text(u"runningFirmwareText"_s), u"Cihazdaki yazılım: olvex_fw 1.4.2 (2 Kasım 2026)"_s);

        click(u"connectButton"_s);
        QTRY_COMPARE(text(u"statusBadgeTitle"_s), u"Tamamlandı"_s);
        QVERIFY(text(u"deviceText"_s).startsWith(u"ESP32-S3 (QFN56) (revision v0.2), Wi-Fi"_s));
        QVERIFY(text(u"deviceText"_s).endsWith(u"MAC 7c:df:a1:00:11:22"_s));
        QCOMPARE(text(u"runningFirmwareText"_s), u"Cihazdaki yazılım: olvex_fw 1.3.0 (12 Ekim 2026)"_s);
        QCOMPARE(text(u"firmwareComparisonText"_s), u"1.3.0 → 1.4.2"_s);
        manager()->flash(); // again, now that the device's version is known
        QTRY_COMPARE(text(u"statusCardWriteNote"_s), u"olvex_fw 1.4.2 yüklendi (önceki: 1.3.0)."_s);

        click(u"eraseButton"_s);
        QTRY_COMPARE(text(u"statusDetailText"_s), u"Flash silindi."_s);
        QVERIFY(!find(u"runningFirmwareText"_s)->isVisible()); // the erase took it away
        click(u"rebootButton"_s);
        QTRY_COMPARE(text(u"statusDetailText"_s), u"Yeniden başlatma gönderildi."_s);
        QCOMPARE(text(u"deviceText"_s), u"ttyACM1"_s);
    }
};

OLVEX_TEST_GUI_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
