// Reading the chip query's output: `fieldValue`, `EsptoolChipSummary` and
// `summaryText`, over output of the shape esptool 5 really prints.
#include "esptoolchipsummary.h"
#include "testsupport.h"

using namespace Qt::StringLiterals;

namespace {
/// The chip query of esptool 5 writing to a pipe; alignment is spaces.
const auto realOutput =
    u"esptool v5.3.1\n"
    u"Serial port /dev/ttyACM0:\n"
    u"Connecting....\n"
    u"Connected to ESP32-S3 on /dev/ttyACM0:\n"
    u"Chip type:          ESP32-S3 (QFN56) (revision v0.2)\n"
    u"Features:           Wi-Fi, BT 5 (LE), Dual Core + LP Core, 240MHz, Embedded PSRAM 8MB "
    u"(AP_3v3)\n"
    u"Crystal frequency:  40MHz\n"
    u"USB mode:           USB-Serial/JTAG\n"
    u"MAC:                7c:df:a1:00:11:22\n"
    u"\n"
    u"Uploading stub flasher...\n"
    u"Running stub flasher...\n"
    u"Stub flasher running.\n"
    u"Changing baud rate to 921600...\n"
    u"Changed.\n"
    u"\n"
    u"Warning: ESP32-S3 has no chip ID. Reading MAC address instead.\n"
    u"MAC:                7c:df:a1:00:11:22\n"
    u"\n"
    u"Hard resetting via RTS pin...\n"_s;
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

        QTest::newRow("real: chip type")
            << u"Chip type"_s << realOutput << u"ESP32-S3 (QFN56) (revision v0.2)"_s;
        QTest::newRow("real: features")
            << u"Features"_s << realOutput
            << u"Wi-Fi, BT 5 (LE), Dual Core + LP Core, 240MHz, Embedded PSRAM 8MB (AP_3v3)"_s;
        QTest::newRow("real: MAC with its colons") << u"MAC"_s << realOutput << u"7c:df:a1:00:11:22"_s;
        QTest::newRow("real: USB mode") << u"USB mode"_s << realOutput << u"USB-Serial/JTAG"_s;
        QTest::newRow("real: crystal") << u"Crystal frequency"_s << realOutput << u"40MHz"_s;
        QTest::newRow("real: absent key") << u"Flash size"_s << realOutput << QString();

        QTest::newRow("blanks around the value")
            << u"Chip type"_s << u"Chip type:   ESP32-S3   \n"_s << u"ESP32-S3"_s;
        QTest::newRow("tabs and other space separators")
            << u"Chip type"_s << u"Chip type:\t\u00a0ESP32-S3\u2003\t"_s << u"ESP32-S3"_s;
        QTest::newRow("line breaks are not blanks")
            << u"USB mode"_s << u"USB mode: USB-Serial/JTAG\r\n"_s << u"USB-Serial/JTAG\r"_s;
        QTest::newRow("key without colon")
            << u"Chip type"_s << u"Chip type ESP32-S3\nMAC: aa\n"_s << QString();
        QTest::newRow("key without colon ends the search")
            << u"MAC"_s << u"MAC address unknown\nMAC: aa:bb\n"_s << QString();
        QTest::newRow("value of only spaces") << u"MAC"_s << u"MAC:      \n"_s << QString();
        QTest::newRow("nothing after the colon") << u"MAC"_s << u"MAC:"_s << QString();
        QTest::newRow("two MAC lines: the first")
            << u"MAC"_s << u"MAC: 11:22:33:44:55:66\nMAC: aa:bb:cc:dd:ee:ff\n"_s << u"11:22:33:44:55:66"_s;
        QTest::newRow("key anywhere in the line")
            << u"MAC"_s << u"Warning: ESP32-S3 has no chip ID. Reading MAC address instead.\nMAC: aa\n"_s
            << u"ESP32-S3 has no chip ID. Reading MAC address instead."_s;
        QTest::newRow("key after the colon") << u"MAC"_s << u"Base: MAC 7c:df\n"_s << u"MAC 7c:df"_s;
        QTest::newRow("leading colons passed over") << u"MAC"_s << u"::MAC: aa:bb\n"_s << u"aa:bb"_s;
        QTest::newRow("only colons") << u"MAC"_s << u":::MAC\n"_s << QString();
        QTest::newRow("case-sensitive") << u"MAC"_s << u"mac: aa\n"_s << QString();
        QTest::newRow("empty lines skipped") << u"MAC"_s << u"\n\n\nMAC: aa\n\n"_s << u"aa"_s;
        QTest::newRow("last line without line feed") << u"MAC"_s << u"x\nMAC: aa"_s << u"aa"_s;
        QTest::newRow("empty output") << u"MAC"_s << QString() << QString();
    }

    void fieldValue()
    {
        QFETCH(QString, key);
        QFETCH(QString, output);
        QFETCH(QString, value);
        QCOMPARE(::fieldValue(key, output), value);
    }

    void fromRealOutput()
    {
        const EsptoolChipSummary summary = EsptoolChipSummary::fromOutput(realOutput);
        QCOMPARE(summary.chipType, u"ESP32-S3 (QFN56) (revision v0.2)"_s);
        QCOMPARE(summary.macAddress, u"7c:df:a1:00:11:22"_s);
        QCOMPARE(summary.flashDescription,
                 u"Wi-Fi, BT 5 (LE), Dual Core + LP Core, 240MHz, Embedded PSRAM 8MB (AP_3v3)"_s);
        QCOMPARE(summary.usbMode, u"USB-Serial/JTAG"_s);
        QCOMPARE(summary.summaryText(),
                 u"ESP32-S3 (QFN56) (revision v0.2), Wi-Fi, BT 5 (LE), Dual Core + LP Core, "
                 u"240MHz, Embedded PSRAM 8MB (AP_3v3), MAC 7c:df:a1:00:11:22"_s);
    }

    void fromOutputWithoutKeys()
    {
        const EsptoolChipSummary summary =
            EsptoolChipSummary::fromOutput(u"esptool v5.3.1\nHard resetting via RTS pin...\n"_s);
        QCOMPARE(summary, EsptoolChipSummary());
        QCOMPARE(summary.summaryText(), QString());
    }

    void summaryText_data()
    {
        QTest::addColumn<EsptoolChipSummary>("summary");
        QTest::addColumn<QString>("text");

        QTest::newRow("all") << EsptoolChipSummary{u"ESP32-S3"_s, u"aa:bb"_s, u"Wi-Fi, BT 5"_s,
                                                   u"USB-Serial/JTAG"_s}
                             << u"ESP32-S3, Wi-Fi, BT 5, MAC aa:bb"_s;
        QTest::newRow("without features")
            << EsptoolChipSummary{u"ESP32-S3"_s, u"aa:bb"_s, {}, {}} << u"ESP32-S3, MAC aa:bb"_s;
        QTest::newRow("without MAC") << EsptoolChipSummary{u"ESP32-S3"_s, {}, u"Wi-Fi"_s, {}}
                                     << u"ESP32-S3, Wi-Fi"_s;
        QTest::newRow("only the chip type")
            << EsptoolChipSummary{u"ESP32-S3"_s, {}, {}, u"USB"_s} << u"ESP32-S3"_s;
        QTest::newRow("only the MAC") << EsptoolChipSummary{{}, u"aa:bb"_s, {}, {}} << u", MAC aa:bb"_s;
        QTest::newRow("without chip type")
            << EsptoolChipSummary{{}, u"aa:bb"_s, u"Wi-Fi"_s, {}} << u", Wi-Fi, MAC aa:bb"_s;
        QTest::newRow("only the USB mode")
            << EsptoolChipSummary{{}, {}, {}, u"USB-Serial/JTAG"_s} << QString();
        QTest::newRow("empty") << EsptoolChipSummary{} << QString();
    }

    void summaryText()
    {
        QFETCH(EsptoolChipSummary, summary);
        QFETCH(QString, text);
        QCOMPARE(summary.summaryText(), text);
    }

    void trimmedBlanks_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("trimmed");
        QTest::newRow("spaces") << u"  a b  "_s << u"a b"_s;
        QTest::newRow("tabs") << u"\ta\t"_s << u"a"_s;
        QTest::newRow("no-break and em spaces") << u"\u00a0a\u2003"_s << u"a"_s;
        QTest::newRow("line breaks stay") << u"\r\na\n\r"_s << u"\r\na\n\r"_s;
        QTest::newRow("only blanks") << u" \t "_s << QString();
        QTest::newRow("empty") << QString() << QString();
    }

    void trimmedBlanks()
    {
        QFETCH(QString, text);
        QFETCH(QString, trimmed);
        QCOMPARE(::trimmedBlanks(text).toString(), trimmed);
    }
};

OLVEX_TEST_MAIN(TestEsptoolChipSummary)
#include "tst_esptoolchipsummary.moc"
