#include "portdetails.h"
#include "serialports.h"
#include "testsupport.h"

#include <QDir>
#include <QFileInfo>

using namespace Qt::StringLiterals;

class TestSerialPorts : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void listing_data()
    {
        // "name": a port; "name=": a plain file; "name>target": a link; "-": the folder may not be
        // read; "?": the folder is not there.
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QStringList>("expected"); // in byte order
        QTest::newRow("macOS families, twins and bluetooth")
            << QStringList{u"cu.usbmodem1101"_s,      u"tty.usbmodem1101"_s,           u"cu.usbserial-0001"_s,
                           u"cu.wchusbserial14230"_s, u"cu.Bluetooth-Incoming-Port"_s, u"cu.usbmodem201"_s}
            << QStringList{u"cu.usbmodem1101"_s, u"cu.usbmodem201"_s, u"cu.usbserial-0001"_s,
                           u"cu.wchusbserial14230"_s};
        QTest::newRow("digits sort as characters") << QStringList{u"cu.usbmodem9"_s, u"cu.usbmodem10"_s}
                                                   << QStringList{u"cu.usbmodem10"_s, u"cu.usbmodem9"_s};
        QTest::newRow("case counts") << QStringList{u"CU.USBMODEM1"_s, u"TTYACM0"_s, u"ttyacm0"_s}
                                     << QStringList{};
        QTest::newRow("linux names after the macOS ones")
            << QStringList{u"ttyUSB0"_s, u"ttyACM1"_s, u"ttyACM0"_s,
                           u"ttyS0"_s,   u"tty1"_s,    u"cu.usbserial-1"_s}
            << QStringList{u"cu.usbserial-1"_s, u"ttyACM0"_s, u"ttyACM1"_s, u"ttyUSB0"_s};
        // A stray file named like a port, or a link to one, is never offered; a link to a device is.
        QTest::newRow("only character devices")
            << QStringList{u"ttyACM0"_s, u"ttyACM1="_s, u"ttyACM2>ttyACM1"_s, u"ttyACM3>gone"_s,
                           u"ttyUSB0>ttyACM0"_s}
            << QStringList{u"ttyACM0"_s, u"ttyUSB0"_s};
        QTest::newRow("folder may not be read") << QStringList{u"ttyACM0"_s, u"-"_s} << QStringList{};
        QTest::newRow("no folder") << QStringList{u"ttyACM0"_s, u"?"_s} << QStringList{};
    }

    void listing()
    {
        QFETCH(QStringList, entries);
        QFETCH(QStringList, expected);
        QTemporaryDir root;
        const QString dev = root.filePath(entries.contains(u"?"_s) ? u"missing"_s : u"dev"_s);
        QVERIFY(QDir().mkpath(root.filePath(u"dev"_s)));
        for (const QString &entry : std::as_const(entries)) {
            if (entry == u"-"_s)
                QFile::setPermissions(dev, QFile::WriteOwner | QFile::ExeOwner);
            else if (entry.endsWith(u'='))
                writeFile(root.filePath(u"dev/"_s + entry.chopped(1)), {});
            else if (entry.contains(u'>'))
                QVERIFY(QFile::link(root.filePath(u"dev/"_s + entry.section(u'>', 1)),
                                    root.filePath(u"dev/"_s + entry.section(u'>', 0, 0))));
            else if (entry != u"?"_s)
                addFakePort(root.filePath(u"dev"_s), entry);
        }

        const QList<SerialPortInfo> ports = availablePorts(dev);
        QFile::setPermissions(root.filePath(u"dev"_s),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QStringList names;
        for (const SerialPortInfo &port : ports) {
            names.append(port.name);
            QCOMPARE(port.path, dev + u'/' + port.name);
            QCOMPARE(port.id, port.path);
        }
        QCOMPARE(names, expected);
    }

    void portDetailsText_data()
    {
        QTest::addColumn<PortDetails>("details");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("espressif");
        QTest::newRow("ESP32-S3's own port")
            << PortDetails{{}, u"Espressif"_s, u"USB JTAG/serial debug unit"_s, 0x303a, 0x1001}
            << u"Espressif USB JTAG/serial debug unit (303a:1001)"_s << true;
        QTest::newRow("maker already in the product")
            << PortDetails{{}, u"Silicon Labs"_s, u"Silicon Labs CP210x UART Bridge"_s, 0x10c4, 0xea60}
            << u"Silicon Labs CP210x UART Bridge (10c4:ea60)"_s << false;
        QTest::newRow("IDs only") << PortDetails{{}, {}, {}, 0x1a86, 0x7523} << u"1a86:7523"_s << false;
        QTest::newRow("no IDs") << PortDetails{{}, {}, u"ttyS0"_s, {}, {}} << u"ttyS0"_s << false;
        QTest::newRow("nothing known") << PortDetails{} << QString() << false;
    }

    void portDetailsText()
    {
        QFETCH(PortDetails, details);
        QFETCH(QString, text);
        QFETCH(bool, espressif);
        QCOMPARE(details.text(), text);
        QCOMPARE(details.isEspressif(), espressif);
    }

    // Matched on the listed path, or on the device a link leads to; unknown ports get nothing.
    void portDetailsMatchListedPaths()
    {
        QTemporaryDir dev;
        writeFile(dev.filePath(u"node"_s), {});
        QVERIFY(QFile::link(dev.filePath(u"node"_s), dev.filePath(u"ttyACM0"_s)));
        const QList<SerialPortInfo> ports = {
            {dev.filePath(u"ttyACM0"_s), dev.filePath(u"ttyACM0"_s), u"ttyACM0"_s},
            {dev.filePath(u"ttyUSB0"_s), dev.filePath(u"ttyUSB0"_s), u"ttyUSB0"_s},
            {dev.filePath(u"ttyUSB1"_s), dev.filePath(u"ttyUSB1"_s), u"ttyUSB1"_s}};
        const PortDetails linked{
            QFileInfo(dev.filePath(u"node"_s)).canonicalFilePath(), u"Espressif"_s, {}, 0x303a, 1};
        const PortDetails direct{dev.filePath(u"ttyUSB1"_s), u"FTDI"_s, {}, 0x0403, 0x6001};
        const PortDetails elsewhere{u"/dev/ttyS9"_s, u"Other"_s, {}, 1, 2};
        const QHash<QString, PortDetails> matched = matchPortDetails(ports, {elsewhere, direct, linked});
        QCOMPARE(matched, (QHash<QString, PortDetails>{{ports[0].path, linked}, {ports[2].path, direct}}));
    }

    // Qt SerialPort reads udev's copies of the USB strings, with "/" turned into "_"; the
    // kernel's own strings replace them when they belong to the device Qt described.
    void portDetailsUseTheKernelsUsbStrings_data()
    {
        QTest::addColumn<QString>("port");
        QTest::addColumn<quint16>("vendorId");
        QTest::addColumn<QString>("text");
        QTest::newRow("ttyACM: interface below the device")
            << u"ttyACM0"_s << quint16(0x303a) << u"Espressif USB JTAG/serial debug unit (303a:1001)"_s;
        QTest::newRow("ttyUSB: port below the interface")
            << u"ttyUSB0"_s << quint16(0x303a) << u"Espressif CP2102N bridge (303a:1001)"_s;
        QTest::newRow("another device's strings")
            << u"ttyACM0"_s << quint16(0x10c4) << u"Espressif USB JTAG serial debug unit (10c4:1001)"_s;
        QTest::newRow("not in the kernel's list")
            << u"ttyS0"_s << quint16(0x303a) << u"Espressif USB JTAG serial debug unit (303a:1001)"_s;
    }

    void portDetailsUseTheKernelsUsbStrings()
    {
        QFETCH(QString, port);
        QFETCH(quint16, vendorId);
        QFETCH(QString, text);
        QTemporaryDir sys;
        const auto device = [&sys](const QString &usb, const QString &tty, const QString &ttyFolder,
                                   const QByteArray &product) {
            writeFile(sys.filePath(usb + u"/idVendor"_s), "303a\n");
            writeFile(sys.filePath(usb + u"/manufacturer"_s), "Espressif\n");
            writeFile(sys.filePath(usb + u"/product"_s), product + '\n');
            QDir().mkpath(sys.filePath(ttyFolder));
            QDir().mkpath(sys.filePath(u"class/tty/"_s + tty));
            QVERIFY(QFile::link(sys.filePath(ttyFolder), sys.filePath(u"class/tty/"_s + tty + u"/device"_s)));
        };
        device(u"devices/1-1"_s, u"ttyACM0"_s, u"devices/1-1/1-1:1.0"_s, "USB JTAG/serial debug unit");
        device(u"devices/1-2"_s, u"ttyUSB0"_s, u"devices/1-2/1-2:1.0/ttyUSB0"_s, "CP2102N bridge");
        PortDetails details{u"/dev/"_s + port, u"Espressif"_s, u"USB JTAG serial debug unit"_s, vendorId,
                            0x1001};
        useUsbStrings(details, sys.filePath(u"class/tty"_s));
        QCOMPARE(details.text(), text);
    }
};

OLVEX_TEST_MAIN(TestSerialPorts)
#include "tst_serialports.moc"
