// What the build puts in the resource folder: the esptool that ships with the program, run
// for real and kept from the user's environment, and the boot image for packages without one.
#include "esptoollaunch.h"
#include "esptoolrunner.h"
#include "faketool.h"
#include "logger.h"
#include "testsupport.h"

#include <QFile>

using namespace Qt::StringLiterals;

class TestBundledTool : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Nothing from the user's environment changes which code runs or which settings it reads.
    void runsTheShippedCodeWithOurSettings()
    {
        QTemporaryDir root;
        PlatformPaths paths = pathsInside(root.path());
        paths.resourceDirectory = QStringLiteral(OLVEX_BUILD_RESOURCE_DIR);
        const LocatedEsptool tool = locateEsptool(paths);
        QCOMPARE(tool.origin, EsptoolOrigin::bundled);
        QCOMPARE(tool.path, paths.resourceDirectory + u"/ThirdParty/esptool/esptool"_s);

        const QString home = paths.homeDirectory;
        writeFile(root.path() + u"/fake/esptool/__init__.py"_s,
                  "print('esptool v9.9.9 (not ours)')\nraise SystemExit(0)\n");
        writeFile(home + u"/esptool.cfg"_s,
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
        QVERIFY2(said.value(1).startsWith(u"Loaded custom configuration from "_s + paths.temporaryDirectory),
                 qPrintable(*outcome.value));
        QVERIFY(!outcome.value->contains(home));
    }

    // An OTA data partition whose first entry selects the first application slot.
    void bootImage()
    {
        QFile file(QStringLiteral(OLVEX_BUILD_RESOURCE_DIR "/boot_app0.bin"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
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
