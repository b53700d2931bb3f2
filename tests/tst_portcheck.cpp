// The checks made before the tool runs, against a fake device folder and a fake /proc.
#include "portcheck.h"
#include "testsupport.h"

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

class TestPortCheck : public QObject
{
    Q_OBJECT

private Q_SLOTS:
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

OLVEX_TEST_MAIN(TestPortCheck)
#include "tst_portcheck.moc"
