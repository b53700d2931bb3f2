// What the launcher of the shipped esptool costs: its `version` call against the same
// package run as `python3 -m esptool` directly. Budget: a few milliseconds more at most.
// The `version` call is also what a session pays once for a tool found outside the program.
#include <QElapsedTimer>
#include <QProcess>
#include <QTest>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {
const QString folder = QStringLiteral(OLVEX_BUILD_RESOURCE_DIR "/ThirdParty/esptool");

/// Wall time of one run of `program arguments`, in milliseconds.
double runMs(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setWorkingDirectory(folder);
    QElapsedTimer clock;
    clock.start();
    process.start(program, arguments);
    if (!process.waitForFinished() || process.exitCode() != 0)
        qFatal("%s failed", qPrintable(program));
    return clock.nsecsElapsed() / 1e6;
}

double median(QList<double> times)
{
    std::sort(times.begin(), times.end());
    return times.at(times.size() / 2);
}
} // namespace

class BenchBundledTool : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void launcherOverhead()
    {
        const QString launcher = folder + u"/esptool"_s;
        const QStringList direct{
            u"-I"_s, u"-c"_s, u"import sys; sys.path.insert(0, 'python'); import esptool; esptool._main()"_s,
            u"version"_s};
        QList<double> viaLauncher;
        QList<double> viaPython;
        runMs(launcher, {u"version"_s}); // the byte-code cache is warm for both
        QBENCHMARK_ONCE
        {
            // Interleaved, so that a busy machine weighs on both alike.
            for (int i = 0; i < 21; ++i) {
                viaLauncher.append(runMs(launcher, {u"version"_s}));
                viaPython.append(runMs(u"/usr/bin/python3"_s, direct));
            }
        }
        qInfo("esptool version (median of 21): launcher %.1f ms, python3 directly %.1f ms: the launcher adds "
              "%.1f ms (budget a few ms)",
              median(viaLauncher), median(viaPython), median(viaLauncher) - median(viaPython));
    }
};

QTEST_GUILESS_MAIN(BenchBundledTool)
#include "bench_bundledtool.moc"
