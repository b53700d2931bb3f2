// The serial ports: the listing, what the system knows of each, and the checks made before the
// tool runs, against a fake device folder and a fake /proc.
#include "portcheck.h"
#include "portdetails.h"
#include "serialports.h"
#include "testsupport.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

using namespace Qt::StringLiterals;
using Kind = PortCheckError::Kind;

namespace {
enum class Setup { free, missing, noAccess, noAccessForTheGroup, heldByNamed, heldByUnnamed, modemManager };
/// The package's udev rule (or an administrator's empty file masking it) and the port's USB ids.
enum class Udev { none, esp32s3, ruleAndEsp32s3, ruleAndOtherEspressif, maskedRuleAndEsp32s3 };

/// A fake process in `proc`: its name (none: no comm file) and, when `holding`, an open file.
void addProcess(const QString &proc, int pid, const QByteArray &name, const QString &holding = {})
{
    const QString folder = proc + u'/' + QString::number(pid);
    QDir().mkpath(folder + u"/fd"_s);
    writeFile(folder + u"/fd/0"_s, {}); // an open file that is not the port
    if (!name.isEmpty())
        writeFile(folder + u"/comm"_s, name + '\n');
    if (!holding.isEmpty() && !QFile::link(holding, folder + u"/fd/7"_s))
        qFatal("cannot make a fake open file");
}
} // namespace

class TestPorts : public QObject
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

    void checks_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<Setup>("setup");
        QTest::addColumn<Udev>("udev");
        QTest::addColumn<int>("kind");             // -1: no error
        QTest::addColumn<QStringList>("expected"); // pieces of the error, or the warnings
        const auto row = [](const char *name, const QString &port, Setup setup, Udev udev, int kind,
                            const QStringList &expected) {
            QTest::newRow(name) << port << setup << udev << kind << expected;
        };
        row("free", u"ttyACM0"_s, Setup::free, Udev::none, -1, {});
        row("unplugged", u"ttyACM0"_s, Setup::missing, Udev::none, int(Kind::gone),
            {u"Cihaz çıkarılmış görünüyor"_s, u"/ttyACM0"_s});
        // The group is the node's own, whatever it is called here.
        row("no permission", u"ttyUSB0"_s, Setup::noAccess, Udev::none, int(Kind::noPermission),
            {u"sudo usermod -aG %group $USER"_s, u"oturumu kapatıp"_s});
        row("no permission, not even for the group", u"ttyUSB0"_s, Setup::noAccessForTheGroup, Udev::none,
            int(Kind::noPermission), {u"grubu (%group) da açamıyor"_s});
        row("held by a serial monitor", u"ttyACM0"_s, Setup::heldByNamed, Udev::none, int(Kind::inUse),
            {u"Port şu program tarafından kullanılıyor: arduino-ide (PID 4242)."_s});
        row("held by a program without a name", u"ttyACM0"_s, Setup::heldByUnnamed, Udev::none,
            int(Kind::inUse), {u"başka bir program"_s});
        row("ModemManager and a ttyACM port", u"ttyACM0"_s, Setup::modemManager, Udev::none, -1,
            {u"sudo systemctl stop ModemManager"_s});
        row("ModemManager leaves ttyUSB alone", u"ttyUSB0"_s, Setup::modemManager, Udev::none, -1, {});

        // Where the rule covers the device, re-plugging is the first advice and ModemManager
        // stays away; the group and the warning remain for everything it does not cover.
        const QString replugFirst =
            u"(%port, grup: %group). Cihazın kablosunu çıkarıp yeniden takın; olmazsa "
            u"kullanıcınızı gruba ekleyin: sudo usermod -aG %group $USER"_s;
        const QStringList groupOnly{u"(%port, grup: %group). Kullanıcınızı gruba ekleyin"_s};
        row("no permission, the rule and its device", u"ttyACM0"_s, Setup::noAccess, Udev::ruleAndEsp32s3,
            int(Kind::noPermission), {replugFirst});
        row("no permission, a build tree without the rule", u"ttyACM0"_s, Setup::noAccess, Udev::esp32s3,
            int(Kind::noPermission), groupOnly);
        row("no permission, the rule masked in /etc", u"ttyACM0"_s, Setup::noAccess,
            Udev::maskedRuleAndEsp32s3, int(Kind::noPermission), groupOnly);
        row("no permission, a device the rule leaves out", u"ttyACM0"_s, Setup::noAccess,
            Udev::ruleAndOtherEspressif, int(Kind::noPermission), groupOnly);
        row("ModemManager kept off by the rule", u"ttyACM0"_s, Setup::modemManager, Udev::ruleAndEsp32s3, -1,
            {});
        row("ModemManager and a device the rule leaves out", u"ttyACM0"_s, Setup::modemManager,
            Udev::ruleAndOtherEspressif, -1, {u"sudo systemctl stop ModemManager"_s});
    }

    void checks()
    {
        QFETCH(QString, name);
        QFETCH(Setup, setup);
        QFETCH(Udev, udev);
        QFETCH(int, kind);
        QFETCH(QStringList, expected);
        QTemporaryDir root;
        const PlatformPaths paths = pathsInside(root.path());
        const QString port = paths.deviceDirectory + u'/' + name;
        if (setup != Setup::missing) {
            // The test user's own rights taken away: only the node's group may open it, or nobody.
            const QHash<Setup, QFile::Permissions> rights = {
                {Setup::noAccess, QFile::ReadGroup | QFile::WriteGroup},
                {Setup::noAccessForTheGroup, QFile::ReadOther}};
            writeFile(port, {}, rights.value(setup, QFile::ReadOwner | QFile::WriteOwner));
        }
        addProcess(paths.processDirectory, 17, "bash");
        if (setup == Setup::heldByNamed || setup == Setup::heldByUnnamed)
            addProcess(paths.processDirectory, 4242, setup == Setup::heldByNamed ? "arduino-ide" : "",
                       QFileInfo(port).canonicalFilePath()); // as the kernel shows open files
        if (setup == Setup::modemManager)
            addProcess(paths.processDirectory, 812, "ModemManager");

        const QString rule = u'/' + udevRuleFileName;
        if (udev != Udev::none && udev != Udev::esp32s3)
            writeFile(paths.udevRuleDirectories.last() + rule, "TAG+=\"uaccess\"\n");
        if (udev == Udev::maskedRuleAndEsp32s3)
            writeFile(paths.udevRuleDirectories.first() + rule, {});
        std::optional<PortDetails> details;
        const quint16 product = udev == Udev::ruleAndOtherEspressif ? 0x4001 : usbSerialJtagProductId;
        if (udev != Udev::none)
            details = PortDetails{port, {}, {}, espressifVendorId, product};

        QStringList warnings;
        std::optional<PortCheckError> error;
        try {
            warnings = checkPort(port, paths.processDirectory, paths.udevRuleDirectories, details);
        } catch (const PortCheckError &e) {
            error = e;
        }
        QCOMPARE(error ? int(error->kind()) : -1, kind);
        if (!error) {
            QCOMPARE(warnings.size(), expected.size());
            for (qsizetype i = 0; i < expected.size(); ++i)
                QVERIFY2(warnings.at(i).contains(expected.at(i)), qPrintable(warnings.at(i)));
            return;
        }
        for (QString piece : expected) {
            piece.replace(u"%group"_s, QFileInfo(port).group()).replace(u"%port"_s, port);
            QVERIFY2(error->description().contains(piece), qPrintable(error->description()));
        }
    }

    // The shipped rule must name the very device the port list recognises, on the USB device
    // and on its tty alike.
    void ruleNamesTheRecognisedDevice()
    {
        const QString rules = QString::fromUtf8(readFile(u":/"_s + udevRuleFileName));
        const auto hex = [](quint16 id) { return u"%1"_s.arg(id, 4, 16, QChar(u'0')); };
        QStringList keys;
        const QRegularExpression id(u"(ATTRS?)\\{(idVendor|idProduct)\\}==\"([^\"]*)\""_s);
        for (const QRegularExpressionMatch &match : id.globalMatch(rules)) {
            keys << match.captured(1) + u' ' + match.captured(2);
            QCOMPARE(match.captured(3),
                     hex(match.captured(2) == u"idVendor"_s ? espressifVendorId : usbSerialJtagProductId));
        }
        QCOMPARE(keys, (QStringList{u"ATTR idVendor"_s, u"ATTR idProduct"_s, u"ATTRS idVendor"_s,
                                    u"ATTRS idProduct"_s}));
    }
};

OLVEX_TEST_MAIN(TestPorts)
#include "tst_ports.moc"
