// Reading the chip query's output: `fieldValue`, `EsptoolChipSummary` and
// `summaryText`, over output of the shape esptool 5 really prints.
#include "esptoolchipsummary.h"
#include "faketool.h"
#include "testsupport.h"

using namespace Qt::StringLiterals;

namespace {
const QString realOutput = QString::fromUtf8(chipIdOutput);
} // namespace

class TestEsptoolChipSummary : public QObject
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
};

OLVEX_TEST_MAIN(TestEsptoolChipSummary)
#include "tst_esptoolchipsummary.moc"
