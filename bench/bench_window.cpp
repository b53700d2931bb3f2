// The window's costs: from process start to the first painted window (offscreen, or on the Qt
// platform named by OLVEX_BENCH_PLATFORM, e.g. xcb on a real or virtual display) with the
// resident memory at that point, against a bare Qt Widgets window started the same way, and the main-thread
// time of one log line appended while the log panel shows 2000 lines.
#include "contentview.h"
#include "flashmanager.h"
#include "mainwindow.h"
#include "testsupport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QListView>
#include <QMainWindow>
#include <QProcess>
#include <QTest>

#include <algorithm>
#include <ctime>

using namespace Qt::StringLiterals;

namespace {
const auto childFlag = "--show-window-and-quit";
const auto bareFlag = "--show-bare-window-and-quit";

/// Resident memory of this process in MB, or -1 where /proc is not there.
double residentMegabytes()
{
    QFile status(u"/proc/self/status"_s);
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024;
    return -1;
}

double cpuMilliseconds(clockid_t clock)
{
    timespec now{};
    clock_gettime(clock, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

double threadCpuMilliseconds()
{
    return cpuMilliseconds(CLOCK_THREAD_CPUTIME_ID);
}

/// Counts the paints of a widget.
class PaintCounter : public QObject
{
public:
    int paints = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        paints += event->type() == QEvent::Paint ? 1 : 0;
        return false;
    }
};

/// Shows `window` and returns once it has been painted.
void showUntilPainted(QWidget &window)
{
    PaintCounter counter;
    window.installEventFilter(&counter);
    window.show();
    while (counter.paints == 0)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QTextStream(stdout) << "shown " << residentMegabytes() << ' ' << cpuMilliseconds(CLOCK_PROCESS_CPUTIME_ID)
                        << Qt::endl;
}

/// The program's start, as main() does it, until the window has been painted once; with
/// `bare`, a Qt Widgets window with one line of text instead (fonts loaded, as any window with
/// words needs), the least any such program pays.
int showWindowAndQuit(int argc, char **argv, bool bare)
{
    QApplication app(argc, argv);
    if (bare) {
        QMainWindow window;
        window.setCentralWidget(new QLabel(QString::fromUtf8("Vardel Olvex Güncelleyici")));
        window.resize(ContentView::startSize);
        showUntilPainted(window);
        return 0;
    }
    MainWindow::setUpApplication();
    MainWindow window;
    showUntilPainted(window);
    return 0;
}

/// One start of the child with `flag`, until its first paint.
struct ChildRun
{
    double wallMilliseconds = 0; // process start to first paint, as seen from here
    double cpuMilliseconds = 0;  // the child's own CPU time until then, all its threads
    double residentMegabytes = 0;
};

ChildRun startOnce(const char *flag)
{
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"QT_QPA_PLATFORM"_s, environment.value(u"OLVEX_BENCH_PLATFORM"_s, u"offscreen"_s));
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer timer;
    timer.start();
    child.start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(flag)});
    if (!child.waitForReadyRead(10000))
        qFatal("the child did not show its window");
    const QByteArray line = child.readLine();
    ChildRun run;
    run.wallMilliseconds = double(timer.nsecsElapsed()) / 1e6;
    child.waitForFinished(10000);
    const QList<QByteArray> fields = line.trimmed().split(' ');
    if (fields.size() != 3 || fields.first() != "shown")
        qFatal("unexpected child output: %s", line.constData());
    run.residentMegabytes = fields.at(1).toDouble();
    run.cpuMilliseconds = fields.at(2).toDouble();
    return run;
}

double median(QList<double> figures)
{
    std::sort(figures.begin(), figures.end());
    return figures.at(figures.size() / 2);
}
} // namespace

/// Shows `window` in the details layout with a full log, settled; returns the log.
Logger *showFullLog(MainWindow &window)
{
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        qFatal("the window was not shown");
    window.contentView()->setShowDetails(true);
    Logger *logger = window.contentView()->manager()->logger();
    for (int i = 0; i < Logger::maxEntries; ++i)
        logger->log(Level(i % 4),
                    u"Writing at 0x%1... (%2 %)"_s.arg(i * 0x400, 8, 16, QChar(u'0')).arg(i % 100));
    if (!QTest::qWaitFor([logger] { return logger->count() == Logger::maxEntries; }))
        qFatal("the log did not fill");
    QTest::qWait(300); // the layout switch has settled
    return logger;
}

class BenchWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void startToFirstShownWindow()
    {
        constexpr int runs = 15;
        // Bare and real in turn, so that the machine's drift falls on both alike; one warm-up
        // run of each evens the caches.
        startOnce(bareFlag);
        startOnce(childFlag);
        QList<double> bare;
        QList<double> window;
        QList<double> ratios;
        QList<double> cpuRatios;
        double slowest = 0;
        double bareResident = 0;
        double resident = 0;
        for (int run = 0; run < runs; ++run) {
            const ChildRun bareRun = startOnce(bareFlag);
            const ChildRun windowRun = startOnce(childFlag);
            bare.append(bareRun.wallMilliseconds);
            window.append(windowRun.wallMilliseconds);
            ratios.append(windowRun.wallMilliseconds / bareRun.wallMilliseconds);
            cpuRatios.append(windowRun.cpuMilliseconds / bareRun.cpuMilliseconds);
            slowest = std::max(slowest, windowRun.wallMilliseconds);
            bareResident = std::max(bareResident, bareRun.residentMegabytes);
            resident = std::max(resident, windowRun.residentMegabytes);
        }
        qInfo("process start to first painted window: median %.1f ms, slowest %.1f ms (%d runs)",
              median(window), slowest, runs);
        qInfo("a bare Qt Widgets window: median %.1f ms; median of the paired ratios %.2f (budget 1.50), "
              "of the paired CPU times %.2f",
              median(bare), median(ratios), median(cpuRatios));
        qInfo("resident memory with the window shown: %.1f MB at most, bare window %.1f MB (budget 60 MB)",
              resident, bareResident);
    }

    void appendWithFullLogOpen()
    {
        QTemporaryDir root;
        MainWindow window(pathsInside(root.path()));
        Logger *logger = showFullLog(window);

        auto *list = window.findChild<QListView *>(u"logView"_s);
        PaintCounter counter;
        list->viewport()->installEventFilter(&counter);
        constexpr int appends = 500;
        QList<double> cpu;
        QList<double> wall;
        for (int i = 0; i < appends; ++i) {
            const double cpuStart = threadCpuMilliseconds();
            QElapsedTimer timer;
            timer.start();
            logger->log(Level::info, u"appended %1"_s.arg(i));
            // The queued append, the scroll and the repaint it asks for.
            for (int pass = 0; pass < 3; ++pass)
                QCoreApplication::processEvents();
            wall.append(double(timer.nsecsElapsed()) / 1e6);
            cpu.append(threadCpuMilliseconds() - cpuStart);
        }
        QCOMPARE(logger->entries().last().message, u"appended %1"_s.arg(appends - 1));
        QVERIFY(counter.paints >= appends);
        std::sort(cpu.begin(), cpu.end());
        std::sort(wall.begin(), wall.end());
        qInfo("one append with %lld lines shown: main-thread CPU median %.3f ms, 95th percentile %.3f ms; "
              "wall median %.3f ms (budget 2 ms)",
              qint64(Logger::maxEntries), cpu.at(appends / 2), cpu.at(appends * 95 / 100),
              wall.at(appends / 2));
    }

    void resizeWithFullLogOpen()
    {
        QTemporaryDir root;
        MainWindow window(pathsInside(root.path()));
        showFullLog(window);

        // One step of a window resize: every line's height is measured again at the new width, after
        // the view's own short delay.
        constexpr int steps = 20;
        QList<double> cpu;
        for (int i = 0; i < steps; ++i) {
            const double cpuStart = threadCpuMilliseconds();
            window.resize(window.width() + (i % 2 == 0 ? 7 : -7), window.height());
            QTest::qWait(150);
            cpu.append(threadCpuMilliseconds() - cpuStart);
        }
        std::sort(cpu.begin(), cpu.end());
        qInfo("one resize step with %lld lines shown: main-thread CPU median %.2f ms, slowest %.2f ms",
              qint64(Logger::maxEntries), cpu.at(steps / 2), cpu.last());
    }
};

int main(int argc, char **argv)
{
    if (argc > 1 && (qstrcmp(argv[1], childFlag) == 0 || qstrcmp(argv[1], bareFlag) == 0))
        return showWindowAndQuit(argc, argv, qstrcmp(argv[1], bareFlag) == 0);
    dropRootPrivileges();
    QApplication app(argc, argv);
    BenchWindow bench;
    return QTest::qExec(&bench, argc, argv);
}

#include "bench_window.moc"
