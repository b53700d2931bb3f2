// The shipped tool, for real, against a port that never answers: a pseudo-terminal that
// nothing reads. The one slow test (the tool tries for some seconds), alone on purpose.
#include "flashmanager.h"
#include "testsupport.h"

#include <QFile>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

class TestSilentPort : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void connectionEndsInTheDownloadModeHint()
    {
        const int terminal = posix_openpt(O_RDWR | O_NOCTTY);
        QVERIFY(terminal >= 0 && grantpt(terminal) == 0 && unlockpt(terminal) == 0);
        const QString device = QString::fromLocal8Bit(ptsname(terminal));

        QTemporaryDir root;
        PlatformPaths paths = pathsInside(root.path());
        paths.resourceDirectory = QStringLiteral(OLVEX_BUILD_RESOURCE_DIR);
        QVERIFY(QFile::link(device, paths.deviceDirectory + u"/ttyACM0"_s));
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
};

OLVEX_TEST_MAIN_AS_STARTED(TestSilentPort)
#include "tst_silentport.moc"
