// The checks made before the tool runs, against a fake device folder and a fake /proc.
#include "portcheck.h"
#include "testsupport.h"

#include <QFileInfo>

using namespace Qt::StringLiterals;
using Kind = PortCheckError::Kind;

namespace {
enum class Setup { free, missing, noAccess, noAccessForTheGroup, heldByNamed, heldByUnnamed, modemManager };

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
        QTest::addColumn<int>("kind");             // -1: no error
        QTest::addColumn<QStringList>("expected"); // pieces of the error, or the warnings
        QTest::newRow("free") << u"ttyACM0"_s << Setup::free << -1 << QStringList{};
        QTest::newRow("unplugged") << u"ttyACM0"_s << Setup::missing << int(Kind::gone)
                                   << QStringList{u"Cihaz çıkarılmış görünüyor"_s, u"/ttyACM0"_s};
        // The group is the node's own, whatever it is called here.
        QTest::newRow("no permission")
            << u"ttyUSB0"_s << Setup::noAccess << int(Kind::noPermission)
            << QStringList{u"sudo usermod -aG %group $USER"_s, u"oturumu kapatıp"_s};
        QTest::newRow("no permission, not even for the group")
            << u"ttyUSB0"_s << Setup::noAccessForTheGroup << int(Kind::noPermission)
            << QStringList{u"grubu (%group) da açamıyor"_s};
        QTest::newRow("held by a serial monitor")
            << u"ttyACM0"_s << Setup::heldByNamed << int(Kind::inUse)
            << QStringList{u"Port şu program tarafından kullanılıyor: arduino-ide (PID 4242)."_s};
        QTest::newRow("held by a program without a name")
            << u"ttyACM0"_s << Setup::heldByUnnamed << int(Kind::inUse)
            << QStringList{u"başka bir program"_s};
        QTest::newRow("ModemManager and a ttyACM port") << u"ttyACM0"_s << Setup::modemManager << -1
                                                        << QStringList{u"sudo systemctl stop ModemManager"_s};
        QTest::newRow("ModemManager leaves ttyUSB alone")
            << u"ttyUSB0"_s << Setup::modemManager << -1 << QStringList{};
    }

    void checks()
    {
        QFETCH(QString, name);
        QFETCH(Setup, setup);
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

        QStringList warnings;
        std::optional<PortCheckError> error;
        try {
            warnings = checkPort(port, paths.processDirectory);
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
            piece.replace(u"%group"_s, QFileInfo(port).group());
            QVERIFY2(error->description().contains(piece), qPrintable(error->description()));
        }
    }
};

OLVEX_TEST_MAIN(TestPortCheck)
#include "tst_portcheck.moc"
