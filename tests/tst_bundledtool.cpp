// What the build puts in the resource folder: the esptool that ships with the program, run
// for real and kept from the user's environment, also against a port that never answers,
// and the boot image for packages without one.
#include "esptoollaunch.h"
#include "faketool.h"
#include "flashmanager.h"
#include "testsupport.h"

#include <QFile>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {
/// Folders inside `root`, with the resource folder the build fills.
PlatformPaths withBuiltResources(const QTemporaryDir &root)
{
    PlatformPaths paths = pathsInside(root.path());
    paths.resourceDirectory = QStringLiteral(OLVEX_BUILD_RESOURCE_DIR);
    return paths;
}
} // namespace

class TestBundledTool : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Nothing from the user's environment changes which code runs or which settings it reads.
    void runsTheShippedCodeWithOurSettings()
    {
        QTemporaryDir root;
        const PlatformPaths paths = withBuiltResources(root);
        const LocatedEsptool tool = locateEsptool(paths);
        QCOMPARE(tool.origin, EsptoolOrigin::bundled);
        QCOMPARE(tool.path, paths.resourceDirectory + u"/ThirdParty/esptool/esptool"_s);

        const QString home = paths.homeDirectory;
        writeFile(root.path() + u"/fake/esptool/__init__.py"_s,
                  "print('esptool v9.9.9 (not ours)')\nraise SystemExit(0)\n");
        for (const QString &config : {u"/esptool.cfg"_s, u"/.config/esptool/esptool.cfg"_s})
            writeFile(home + config,
                      "[esptool]\nconnect_attempts = 0\ncustom_reset_sequence = D0|R1|W0.1|R0\n");
        EnvironmentOverride pythonPath("PYTHONPATH", QFile::encodeName(root.path() + u"/fake"_s));
        EnvironmentOverride startup("PYTHONSTARTUP",
                                    QFile::encodeName(root.path() + u"/fake/esptool/__init__.py"_s));
        EnvironmentOverride homeVariable("HOME", QFile::encodeName(home));
        EnvironmentOverride attempts("ESPTOOL_CONNECT_ATTEMPTS", "0");

        Logger logger;
        EsptoolRunner runner(&logger, paths);
        const auto outcome = awaitTask(runner.run(u"/dev/ttyACM0"_s, {u"version"_s}));
        QVERIFY(!outcome.error);
        const QStringList said = outcome.value->split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(said.value(0), u"esptool v5.3.1"_s);
        QCOMPARE(bundledEsptoolVersion().text(), u"v5.3.1"_s);
        // Nothing of our own making either: no configuration is loaded, so none is named.
        QVERIFY2(!outcome.value->contains(u"configuration"_s), qPrintable(*outcome.value));
    }

    // A pseudo-terminal that nothing reads; the tool tries for some seconds.
    void silentPortEndsInTheDownloadModeHint()
    {
        const int terminal = posix_openpt(O_RDWR | O_NOCTTY);
        QVERIFY(terminal >= 0 && grantpt(terminal) == 0 && unlockpt(terminal) == 0);
        QTemporaryDir root;
        const PlatformPaths paths = withBuiltResources(root);
        QVERIFY(
            QFile::link(QString::fromLocal8Bit(ptsname(terminal)), paths.deviceDirectory + u"/ttyACM0"_s));
        FlashManager manager(paths);
        manager.refreshPorts();
        QVERIFY(manager.selectedPort());

        manager.connect();
        QTRY_VERIFY_WITH_TIMEOUT(!manager.isBusy(), 60'000);
        ::close(terminal);
        QCOMPARE(manager.status(), FlashManager::OperationStatus::error);
        QVERIFY2(manager.statusDetail().startsWith(u"esptool failed (exit 2): "_s),
                 qPrintable(manager.statusDetail()));
        QVERIFY(manager.statusDetail().contains(u"No serial data received."_s));
        QVERIFY(manager.failureHint().startsWith(u"Cihaz programlama modunda değil."_s));
    }

    // An OTA data partition whose first entry selects the first application slot.
    void bootImage()
    {
        const QByteArray bytes = readFile(QStringLiteral(OLVEX_BUILD_RESOURCE_DIR "/boot_app0.bin"));
        QCOMPARE(bytes.size(), 8192);
        QCOMPARE(bytes.first(4), QByteArray::fromHex("01000000"));
        QCOMPARE(bytes.sliced(28, 4), QByteArray::fromHex("9a984347")); // crc32_le of the sequence
        QByteArray rest = bytes;
        rest.replace(0, 4, "\xff\xff\xff\xff").replace(28, 4, "\xff\xff\xff\xff");
        QCOMPARE(rest, QByteArray(8192, '\xff'));
    }
};

OLVEX_TEST_MAIN_AS_STARTED(TestBundledTool)
#include "tst_bundledtool.moc"
