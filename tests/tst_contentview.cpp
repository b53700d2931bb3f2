#include "contentview.h"
#include "esptoolrunner.h"
#include "failurehintview.h"
#include "firmwarefilelist.h"
#include "flashmanager.h"
#include "logpanel.h"
#include "mainwindow.h"
#include "progressblock.h"
#include "statusdot.h"
#include "style.h"
#include "tooltext.h"
#include "testsupport.h"
#include "texts.h"

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QCoroSignal>
#include <QDir>
#include <QLabel>
#include <QListView>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStyle>
#include <QScopeGuard>

#include <algorithm>
#include <ctime>
#include <memory>

using namespace Qt::StringLiterals;
using Status = FlashManager::OperationStatus;

namespace {
/// Holds a device operation until the test opens it.
class Gate : public QObject
{
    Q_OBJECT
public:
    bool isOpen = false;
Q_SIGNALS:
    void opened();
};

QCoro::Task<> waitThenFail(Gate *gate, QString failure, bool fails)
{
    if (!gate->isOpen)
        co_await qCoro(gate, &Gate::opened);
    if (fails)
        throw Error(failure);
}

QCoro::Task<> failWith(EsptoolError error)
{
    throw error;
    co_return;
}

QStringList items(const QComboBox *box)
{
    QStringList texts;
    for (int i = 0; i < box->count(); ++i)
        texts.append(box->itemText(i));
    return texts;
}

/// The usual dark desktop theme, whose light blue accent fails a white label.
QPalette darkPalette()
{
    QPalette dark;
    for (const auto &[role, color] : {std::pair{QPalette::Window, 0x2a2e32},
                                      {QPalette::WindowText, 0xfcfcfc},
                                      {QPalette::Base, 0x1b1e20},
                                      {QPalette::Text, 0xfcfcfc},
                                      {QPalette::Button, 0x31363b},
                                      {QPalette::ButtonText, 0xfcfcfc},
                                      {QPalette::Highlight, 0x3daee9},
                                      {QPalette::HighlightedText, 0xfcfcfc}})
        dark.setColor(role, QColor::fromRgb(QRgb(color)));
    return dark;
}

/// Pixels of `image` inside `area` that are close to `color`.
int pixelsNear(const QImage &image, const QRect &area, const QColor &color)
{
    int count = 0;
    const QRect bounded = area.intersected(image.rect());
    for (int y = bounded.top(); y <= bounded.bottom(); ++y)
        for (int x = bounded.left(); x <= bounded.right(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            const int distance = qAbs(pixel.red() - color.red()) + qAbs(pixel.green() - color.green()) +
                                 qAbs(pixel.blue() - color.blue());
            count += distance < 60 ? 1 : 0;
        }
    return count;
}

/// Every interface below `iface`, depth first, as a screen reader reads them. Each is also asked
/// for the children just past its end, as a client does whose count went stale between two calls.
void walk(QAccessibleInterface *iface, QList<QAccessibleInterface *> &seen)
{
    seen.append(iface);
    const int count = iface->childCount();
    for (int past : {-1, count, count + 1})
        QVERIFY2(!iface->child(past), qPrintable(iface->text(QAccessible::Name)));
    for (int i = 0; i < count; ++i)
        if (QAccessibleInterface *child = iface->child(i))
            walk(child, seen);
}

/// A is read before B although B lies wholly above A in the same column, or wholly left of it
/// on the same row.
bool readOutOfOrder(const QRect &a, const QRect &b)
{
    const bool sameColumn = b.left() <= a.right() && a.left() <= b.right();
    const bool sameRow = b.top() <= a.bottom() && a.top() <= b.bottom();
    return (sameColumn && b.bottom() < a.top()) || (sameRow && b.right() < a.left());
}
} // namespace

class TestContentView : public QObject
{
    Q_OBJECT

    QTemporaryDir m_root;
    PlatformPaths m_paths;
    Gate m_gate;
    std::unique_ptr<MainWindow> m_window;

    [[nodiscard]] ContentView *view() const { return m_window->contentView(); }
    [[nodiscard]] FlashManager *manager() const { return view()->manager(); }

    template <typename T = QWidget> T *find(const QString &name) const
    {
        T *widget = m_window->findChild<T *>(name);
        if (!widget)
            qFatal("no widget named %s", qPrintable(name));
        return widget;
    }

    void addPorts(const QStringList &names)
    {
        for (const QString &name : names)
            addFakePort(m_paths.deviceDirectory, name);
    }

    /// Opens the window; the ports it lists are described by `details` alone.
    [[nodiscard]] bool openWindow(const QList<PortDetails> &details = {})
    {
        m_window = std::make_unique<MainWindow>(m_paths);
        manager()->setPortDetailsSource([details] { return details; });
        if (!manager()->ports().isEmpty()) // the first showing lists them, not the construction
            return false;
        view()->setZipChooser([](QWidget *) -> std::optional<QUrl> {
            qWarning("unexpected zip chooser");
            return std::nullopt;
        });
        m_window->show();
        if (!QTest::qWaitForWindowExposed(m_window.get()))
            return false;
        m_window->activateWindow();
        return QTest::qWaitForWindowActive(m_window.get());
    }

    void holdOperation(Status status, const QString &detail, const QString &failure = {}, bool fails = false)
    {
        m_gate.isOpen = false;
        manager()->runOperation(
            status, detail, [gate = &m_gate, failure, fails] { return waitThenFail(gate, failure, fails); });
    }

    [[nodiscard]] bool finishOperation()
    {
        m_gate.isOpen = true;
        Q_EMIT m_gate.opened();
        return QTest::qWaitFor([this] { return !manager()->isBusy(); });
    }

    void switchLayout(bool details)
    {
        if (view()->showDetails() != details)
            find<QPushButton>(u"detailsToggle"_s)->click();
        QTRY_COMPARE(view()->minimumSize(),
                     details ? ContentView::detailsMinimumSize : ContentView::compactMinimumSize);
    }

    /// A zip of an Arduino build, chosen through the window. False when this build cannot load it.
    [[nodiscard]] bool loadFirmware()
    {
        const QString zip = m_root.path() + u"/olvex-1.2.zip"_s;
        makeZip(zip, {{u"olvex.ino.bootloader.bin"_s, QByteArray(4096, 'b')},
                      {u"olvex.ino.partitions.bin"_s, QByteArray(3072, 'p')},
                      {u"boot_app0.bin"_s, QByteArray(8192, 'o')},
                      {u"olvex.ino.bin"_s, QByteArray(16384, 'a')}});
        view()->setZipChooser([zip](QWidget *) { return std::optional(QUrl::fromLocalFile(zip)); });
        view()->chooseFirmwareZip();
        return manager()->firmwareImages().size() == 4;
    }

    void saveRender(const QString &name)
    {
        // Made writable for the unprivileged test user by the build.
        const QString path = QStringLiteral(OLVEX_RENDER_DIR) + u'/' + name;
        QFile::remove(path);
        QVERIFY2(m_window->grab().save(path), qPrintable(path));
    }

private Q_SLOTS:
    void initTestCase()
    {
        // A zone away from UTC, so that showing the log's UTC times in local time is tested.
        qputenv("TZ", "TST-3");
        tzset();
    }

    void init()
    {
        m_root.remove();
        QVERIFY(QDir().mkpath(m_root.path()));
        m_paths = pathsInside(m_root.path());
    }

    void cleanup()
    {
        if (m_window && manager()->isBusy())
            QVERIFY(finishOperation());
        m_window.reset();
    }

    void sizesFollowTheLayout()
    {
        QVERIFY(openWindow());
        const QSize compactSize = m_window->size();
        QCOMPARE(compactSize.width(), ContentView::startSize.width());
        QVERIFY(compactSize.height() >= ContentView::startSize.height());
        QVERIFY(!find<QScrollArea>(u"contentScrollArea"_s)->verticalScrollBar()->isVisible());
        QCOMPARE(find<QLabel>(u"deviceText"_s)->text(), u"Cihaz bağlı değil"_s);
        QVERIFY(find<QLabel>(u"deviceText"_s)->textInteractionFlags() & Qt::TextSelectableByMouse);
        QVERIFY(find<QLabel>(u"firmwareText"_s)->textInteractionFlags() & Qt::TextSelectableByMouse);
        QCOMPARE(m_window->minimumSize(), ContentView::compactMinimumSize);

        auto *toggle = find<QPushButton>(u"detailsToggle"_s);
        toggle->click();
        QVERIFY(m_window->width() < ContentView::detailsIdealWidth); // resized over time, not at once
        QTRY_COMPARE(m_window->width(), ContentView::detailsIdealWidth);
        QTRY_COMPARE(m_window->minimumSize(), ContentView::detailsMinimumSize);
        QVERIFY(m_window->height() >= ContentView::detailsMinimumSize.height());
        QCOMPARE(toggle->text(), u"Detayları Gizle"_s);

        toggle->click();
        QTRY_COMPARE(m_window->size(), compactSize);
        QCOMPARE(m_window->minimumSize(), ContentView::compactMinimumSize);
        QCOMPARE(toggle->text(), u"Detaylar"_s);

        // A wide window keeps the content at a readable width, in the middle.
        for (bool details : {false, true}) {
            switchLayout(details);
            m_window->resize(1600, m_window->height());
            auto *root = find(u"rootLayout"_s);
            QTRY_COMPARE(root->width(),
                         details ? ContentView::detailsMaximumWidth : ContentView::compactMaximumWidth);
            const QWidget *viewport = find<QScrollArea>(u"contentScrollArea"_s)->viewport();
            QVERIFY(qAbs(root->x() - (viewport->width() - root->geometry().right() - 1)) <= 1);
        }
    }

    // Run again on a small screen at twice the scale (see CMakeLists.txt).
    void windowFitsTheScreen()
    {
        QVERIFY(openWindow());
        const QSize screen = m_window->screen()->availableSize();
        for (bool details : {false, true, false}) {
            if (view()->showDetails() != details)
                find<QPushButton>(u"detailsToggle"_s)->click();
            QTest::qWait(300); // the resize animation ends
            QCOMPARE(view()->minimumSize().boundedTo(screen), view()->minimumSize());
            QVERIFY2(m_window->width() <= screen.width() && m_window->height() <= screen.height(),
                     qPrintable(u"%1x%2 on %3x%4"_s.arg(m_window->width())
                                    .arg(m_window->height())
                                    .arg(screen.width())
                                    .arg(screen.height())));
        }
    }

    // A failure seen in the details layout makes the compact one taller than it was: switching
    // back gives it the height it needs now, as far as the screen allows.
    void compactLayoutGrowsForAFailureSeenInDetails()
    {
        addPorts({u"ttyACM0"_s});
        QVERIFY(openWindow());
        switchLayout(true);
        QTRY_COMPARE(m_window->width(), ContentView::detailsIdealWidth);
        const auto failure = EsptoolError::failed(
            2, u"A fatal error occurred: Failed to connect to ESP32-S3: No serial data received. "_s.repeated(
                   4));
        manager()->runOperation(Status::connecting, u"Bağlanıyor"_s, [failure] { return failWith(failure); });
        QTRY_COMPARE(manager()->status(), Status::error);
        switchLayout(false);
        auto *toggle = find(u"detailsToggle"_s);
        const auto fits = [&] {
            const QRect shown = QRect(toggle->mapTo(m_window.get(), QPoint()), toggle->size());
            return m_window->rect().contains(shown) &&
                   !find<QScrollArea>(u"contentScrollArea"_s)->verticalScrollBar()->isVisible();
        };
        QTRY_VERIFY(fits());
        QTest::qWait(300); // past the resize animation: nothing shrinks it back
        QVERIFY(fits());
    }

    void firstShowingAndLayoutSwitchesKeepEverything()
    {
        addPorts({u"ttyACM0"_s, u"ttyACM1"_s});
        QVERIFY(openWindow());
        QCOMPARE(find<QLabel>(u"deviceText"_s)->text(), u"ttyACM0"_s);
        m_window->hide(); // showing again does not refresh again
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        for (int i = 0; i < 5; ++i)
            manager()->logger()->log(Level(i % 4), u"line %1"_s.arg(i));
        QTest::keyClick(find<QComboBox>(u"compactPortPicker"_s), Qt::Key_Down);
        holdOperation(Status::flashing, u"Yükleniyor"_s);
        QTRY_COMPARE(manager()->logger()->count(), 9);
        const QList<LogEntry> entries = manager()->logger()->entries();
        QCOMPARE(manager()->selectedPort()->name, u"ttyACM1"_s);

        switchLayout(true);
        QCOMPARE(find<QComboBox>(u"detailsPortPicker"_s)->currentIndex(), 2);
        switchLayout(false);
        switchLayout(true);
        QCOMPARE(manager()->logger()->entries(), entries);
        QCOMPARE(find<QListView>(u"logView"_s)->model()->rowCount(), entries.size());
        QCOMPARE(manager()->selectedPort()->path, m_paths.deviceDirectory + u"/ttyACM1"_s);
        QCOMPARE(find<QComboBox>(u"compactPortPicker"_s)->currentIndex(), 2);
        QVERIFY(manager()->isBusy());
        QCOMPARE(manager()->status(), Status::flashing);
        QCOMPARE(manager()->statusDetail(), u"Yükleniyor…"_s);
        QCOMPARE(manager()->progress(), 0.0);
        QCOMPARE(std::ranges::count(entries, u"USB portları taranıyor…"_s, &LogEntry::message), 1);

        // Closing waits for the running operation, and says so.
        QVERIFY(!m_window->close());
        QVERIFY(m_window->isVisible());
        QCOMPARE(find<QLabel>(u"closeNotice"_s)->text(), u"İşlem sürüyor; bitince pencere kapanabilir."_s);
        QVERIFY(find(u"closeNotice"_s)->isVisible());
        QVERIFY(finishOperation());
        QVERIFY(find(u"closeNotice"_s)->isHidden());
        QVERIFY(m_window->close());
    }

    void enablingRules_data()
    {
        QTest::addColumn<bool>("ports");
        QTest::addColumn<int>("selection"); // 0: "— Port seçin —", 1: the first port, 2: a port not listed
        QTest::addColumn<bool>("firmware");
        QTest::addColumn<bool>("busy");    // disables both "Firmware Zip Seç" and the compact refresh
        QTest::addColumn<bool>("portRow"); // the details refresh and connect, erase, reboot
        QTest::addColumn<bool>("write");   // both "Firmware Yükle"

        QTest::newRow("no ports") << false << 0 << false << false << false << false;
        QTest::newRow("placeholder chosen") << true << 0 << false << false << false << false;
        QTest::newRow("port, no firmware") << true << 1 << false << false << true << false;
        QTest::newRow("port not listed") << true << 2 << false << false << true << false;
        QTest::newRow("firmware, no port") << true << 0 << true << false << false << false;
        QTest::newRow("port and firmware") << true << 1 << true << false << true << true;
        QTest::newRow("busy, port and firmware") << true << 1 << true << true << false << false;
    }

    void enablingRules()
    {
        QFETCH(bool, ports);
        QFETCH(int, selection);
        QFETCH(bool, firmware);
        QFETCH(bool, busy);
        QFETCH(bool, portRow);
        QFETCH(bool, write);

        if (ports)
            addPorts({u"ttyACM0"_s, u"ttyACM1"_s});
        QVERIFY(openWindow());
        if (firmware)
            QVERIFY2(loadFirmware(), qPrintable(manager()->statusDetail()));
        auto *picker = find<QComboBox>(u"compactPortPicker"_s);
        if (selection == 0 && manager()->selectedPort()) {
            QTest::keyClick(picker, Qt::Key_Up);
            QVERIFY(!manager()->selectedPort());
        } else if (selection == 2) {
            manager()->setSelectedPort(SerialPortInfo{u"/dev/gone"_s, u"/dev/gone"_s, u"gone"_s});
            QCOMPARE(picker->currentIndex(), -1);
        }
        if (busy)
            holdOperation(Status::connecting, u"Bağlanıyor"_s);

        const auto expect = [this](const QStringList &names, bool enabled) {
            for (const QString &name : names)
                QVERIFY2(find(name)->isEnabled() == enabled, qPrintable(name));
        };
        expect({u"compactPortPicker"_s, u"detailsPortPicker"_s, u"detailsToggle"_s}, true);
        expect({u"compactChooseZipButton"_s, u"detailsChooseZipButton"_s, u"compactRefreshButton"_s}, !busy);
        expect({u"detailsRefreshButton"_s, u"connectButton"_s, u"eraseButton"_s, u"rebootButton"_s}, portRow);
        expect({u"flashButton"_s, u"detailsFlashButton"_s}, write);
    }

    void cancelledChooserAndReturn()
    {
        addPorts({u"ttyACM0"_s});
        QVERIFY(openWindow());
        int calls = 0;
        QWidget *parent = nullptr;
        view()->setZipChooser([&calls, &parent](QWidget *p) -> std::optional<QUrl> {
            ++calls;
            parent = p;
            return std::nullopt;
        });
        QTRY_VERIFY(manager()->logger()->count() > 0);
        const int logged = manager()->logger()->count();
        const QString detail = manager()->statusDetail();

        // A write without firmware would say "Önce firmware zip seçin." and log it.
        QTest::keyClick(m_window.get(), Qt::Key_Return);
        find<QPushButton>(u"compactChooseZipButton"_s)->click();
        switchLayout(true);
        find<QPushButton>(u"detailsChooseZipButton"_s)->click();
        QTest::qWait(0);
        QCOMPARE(calls, 2);
        QCOMPARE(parent, m_window.get());
        QCOMPARE(manager()->status(), Status::idle);
        QCOMPARE(manager()->statusDetail(), detail);
        QVERIFY(manager()->firmwareImages().isEmpty() && !manager()->selectedFirmwareZipName());
        QCOMPARE(manager()->logger()->count(), logged);

        // Return writes in the compact layout only.
        QVERIFY2(loadFirmware(), qPrintable(manager()->statusDetail()));
        QTest::keyClick(m_window.get(), Qt::Key_Return);
        QTest::keyClick(m_window.get(), Qt::Key_Enter);
        QVERIFY(!manager()->isBusy());
        QCOMPARE(manager()->status(), Status::idle);
        switchLayout(false);
        QTest::keyClick(m_window.get(), Qt::Key_Return);
        QVERIFY(manager()->isBusy());
        QCOMPARE(manager()->status(), Status::flashing);
        QTRY_VERIFY(!manager()->isBusy()); // no tool installed: the write fails at once
    }

    void returnKey_data()
    {
        QTest::addColumn<QString>("focus");
        QTest::addColumn<bool>("writes");
        QTest::newRow("refresh button") << u"compactRefreshButton"_s << false;
        QTest::newRow("zip button") << u"compactChooseZipButton"_s << false;
        QTest::newRow("details toggle") << u"detailsToggle"_s << false;
        QTest::newRow("write button") << u"flashButton"_s << true;
        QTest::newRow("port picker") << u"compactPortPicker"_s << true;
    }

    // Return on a focused button presses that button; elsewhere it is the write's key.
    void returnKey()
    {
        QFETCH(QString, focus);
        QFETCH(bool, writes);
        addPorts({u"ttyACM0"_s});
        QVERIFY(openWindow());
        QVERIFY2(loadFirmware(), qPrintable(manager()->statusDetail()));
        view()->setZipChooser([](QWidget *) { return std::optional<QUrl>(); });
        QWidget *target = find(focus);
        target->setFocus(Qt::TabFocusReason);
        QTRY_VERIFY(target->hasFocus());
        std::optional<QSignalSpy> clicked;
        if (auto *button = qobject_cast<QPushButton *>(target))
            clicked.emplace(button, &QPushButton::clicked);
        QTest::keyClick(target, Qt::Key_Return);
        if (clicked)
            QTRY_COMPARE(clicked->count(), 1);
        const auto writeStarts = [this] {
            return std::ranges::count(manager()->logger()->entries(), u"4 dosya esptool ile yüklenecek."_s,
                                      &LogEntry::message);
        };
        QTRY_COMPARE(writeStarts(), writes ? 1 : 0);
        QTRY_VERIFY(!manager()->isBusy()); // no tool installed: a write fails at once
    }

    // Tab walks the compact layout from the top, left to right in a row; the scroll area is no stop.
    void tabOrderFollowsTheLayout()
    {
        addPorts({u"ttyACM0"_s});
        QVERIFY(openWindow());
        QVERIFY2(loadFirmware(), qPrintable(manager()->statusDetail()));
        auto *root = find(u"rootLayout"_s);
        // From the last stop at the bottom, Tab goes round to the top and on down again.
        QWidget *last = find(u"detailsToggle"_s);
        last->setFocus(Qt::TabFocusReason);
        QList<QWidget *> visited;
        for (int i = 0; i < 12; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            visited.append(QApplication::focusWidget());
            if (visited.last() == last)
                break;
        }
        QCOMPARE(visited.last(), last);
        QCOMPARE(visited.first()->objectName(), u"compactChooseZipButton"_s);
        QVERIFY(!visited.contains(find(u"contentScrollArea"_s)));
        for (qsizetype i = 1; i < visited.size(); ++i) {
            const QRect before(visited.at(i - 1)->mapTo(root, QPoint()), visited.at(i - 1)->size());
            const QRect after(visited.at(i)->mapTo(root, QPoint()), visited.at(i)->size());
            const bool sameRow = after.top() < before.bottom() && before.top() < after.bottom();
            QVERIFY2(sameRow ? after.left() > before.left() : after.top() >= before.bottom(),
                     qPrintable(visited.at(i)->objectName()));
        }
    }

    void contrast_data()
    {
        QTest::addColumn<QPalette>("palette");
        QTest::newRow("light") << QApplication::style()->standardPalette();
        // The usual dark desktop theme, whose light blue accent fails a white label.
        QPalette dark;
        for (const auto &[role, color] : {std::pair{QPalette::Window, 0x2a2e32},
                                          {QPalette::WindowText, 0xfcfcfc},
                                          {QPalette::Base, 0x1b1e20},
                                          {QPalette::Text, 0xfcfcfc},
                                          {QPalette::Button, 0x31363b},
                                          {QPalette::ButtonText, 0xfcfcfc},
                                          {QPalette::Highlight, 0x3daee9},
                                          {QPalette::HighlightedText, 0xfcfcfc}})
            dark.setColor(role, QColor::fromRgb(QRgb(color)));
        QTest::newRow("dark") << dark;
    }

    // Text stands out by 4.5:1, state marks by 3:1, from whatever they sit on; a palette change
    // while the window is open is followed.
    void contrast()
    {
        QFETCH(QPalette, palette);
        QVERIFY(openWindow());
        QApplication::setPalette(palette);
        const auto restore =
            qScopeGuard([] { QApplication::setPalette(QApplication::style()->standardPalette()); });
        QTRY_COMPARE(Style::textColor(find(u"subtitleLabel"_s)), Style::secondaryText());
        QVERIFY(find(u"flashButton"_s)->styleSheet().contains(Style::accentFill().name(QColor::HexArgb)));

        const QList<QColor> grounds = {Style::windowBackground(), Style::cardBackground(),
                                       Style::badgeBackground(), Style::logBackground()};
        const auto atLeast = [](const QColor &mark, const QColor &ground, double minimum) {
            return Style::contrastRatio(mark, ground) >= minimum;
        };
        for (const QColor &ground : grounds)
            for (const QColor &text : {Style::primaryText(), Style::secondaryText(), Style::green(),
                                       Style::orange(), Style::red()})
                QVERIFY2(atLeast(text, ground, 4.5), qPrintable(text.name() + u" on "_s + ground.name()));
        QVERIFY(atLeast(Style::accentText(), Style::accentFill(), 4.5));
        QVERIFY(atLeast(Style::progressChunk(), Style::progressTrack(), 3));
        QVERIFY(atLeast(Style::progressChunk(), Style::windowBackground(), 3));
        QVERIFY(atLeast(Style::windowBackground(), Style::green(), 3));  // the check mark in its dot
        QVERIFY(atLeast(Style::windowBackground(), Style::orange(), 3)); // the warning sign's mark
    }

    void statusPresentation_data()
    {
        QTest::addColumn<Status>("status");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QColor>("color");
        QTest::addColumn<bool>("detailShown");
        const QColor busy = Style::orange();
        QTest::newRow("idle") << Status::idle << u"Hazır"_s << Style::green() << false;
        QTest::newRow("scanning") << Status::scanning << u"Portlar taranıyor…"_s << busy << false;
        QTest::newRow("connecting") << Status::connecting << u"Bağlanıyor…"_s << busy << true;
        QTest::newRow("erasing") << Status::erasing << u"Flash siliniyor…"_s << busy << true;
        QTest::newRow("flashing") << Status::flashing << u"Yükleniyor…"_s << busy << true;
        QTest::newRow("rebooting") << Status::rebooting << u"Yeniden başlatılıyor…"_s << busy << true;
        QTest::newRow("complete") << Status::complete << u"Tamamlandı"_s << Style::green() << true;
        QTest::newRow("error") << Status::error << u"Hata"_s << Style::red() << true;
    }

    void statusPresentation()
    {
        QFETCH(Status, status);
        QFETCH(QString, title);
        QFETCH(QColor, color);
        QFETCH(bool, detailShown);

        addPorts({u"ttyACM0"_s});
        QVERIFY(openWindow());
        int looked = 0;
        const auto look = [&] {
            ++looked;
            QCOMPARE(find<QLabel>(u"statusBadgeTitle"_s)->text(), title);
            QCOMPARE(find<QLabel>(u"statusCardTitle"_s)->text(), title);
            QCOMPARE(find<StatusDot>(u"statusBadgeDot"_s)->color(), color);
            QCOMPARE(find<StatusDot>(u"statusCardDot"_s)->color(), color);
            QCOMPARE(!find(u"statusCardDetail"_s)->isHidden(), detailShown);
        };
        if (status == Status::scanning) {
            // The scan starts and ends within the call: look while it is under way.
            QObject::connect(manager(), &FlashManager::statusChanged, this, [&] {
                if (manager()->status() == Status::scanning)
                    look();
            });
            find<QPushButton>(u"compactRefreshButton"_s)->click();
            QVERIFY(looked > 0);
            return;
        }
        const bool ends = status == Status::complete || status == Status::error;
        if (status != Status::idle)
            holdOperation(ends ? Status::connecting : status, u"Bağlanıyor"_s,
                          u"esptool failed (exit 2): boom"_s, status == Status::error);
        if (ends)
            QVERIFY(finishOperation());
        QCOMPARE(manager()->status(), status);
        look();
        const bool failed = status == Status::error;
        // A success reads like ordinary text; a running operation's message is secondary.
        QCOMPARE(Style::textColor(find(u"statusCardDetail"_s)),
                 failed ? Style::red()
                        : (status == Status::complete ? Style::primaryText() : Style::secondaryText()));
        QCOMPARE(Style::textColor(find(u"statusDetailText"_s)), failed ? Style::red() : Style::primaryText());
    }

    void percentText_data()
    {
        QTest::addColumn<double>("progress");
        QTest::addColumn<QString>("text");
        QTest::newRow("0") << 0.0 << u"0%"_s;
        QTest::newRow("0.005") << 0.005 << u"0%"_s;
        QTest::newRow("0.5") << 0.5 << u"50%"_s;
        QTest::newRow("0.999") << 0.999 << u"99%"_s;
        QTest::newRow("1.0") << 1.0 << u"100%"_s;
        QTest::newRow("1.05") << 1.05 << u"105%"_s;
        // Fractions made from the tool's whole percentages, whose hundredfold falls just short in binary.
        QTest::newRow("29 %") << 29 / 100.0 << u"29%"_s;
        QTest::newRow("57 %") << 57 / 100.0 << u"57%"_s;
        QTest::newRow("negative") << -0.505 << u"-50%"_s;
        QTest::newRow("not a number") << qQNaN() << u"0%"_s;
        // Beyond any real reading, still short enough for the row.
        QTest::newRow("1e16") << 1e16 << u"1000000000000000000%"_s;
        QTest::newRow("1e17") << 1e17 << u"1e+19%"_s;
        QTest::newRow("-1e300") << -1e300 << u"-1e+302%"_s;
        QTest::newRow("inf") << qInf() << u"∞%"_s;
        QTest::newRow("-inf") << -qInf() << u"-∞%"_s;
    }

    void percentText()
    {
        QFETCH(double, progress);
        QFETCH(QString, text);
        QCOMPARE(::percentText(progress), text);
    }

    void firmwareFiles()
    {
        addPorts({u"ttyACM0"_s});
        QVERIFY(openWindow());
        QVERIFY(!find<QWidget>(u"firmwareFilesEmpty"_s)->isHidden());
        QCOMPARE(find<QWidget>(u"firmwareZipName"_s)->property("text").toString(), u"Henüz seçilmedi"_s);
        QVERIFY2(loadFirmware(), qPrintable(manager()->statusDetail()));
        switchLayout(true);
        QVERIFY(find<QWidget>(u"firmwareFilesEmpty"_s)->isHidden());
        QCOMPARE(find<QWidget>(u"firmwareZipName"_s)->property("text").toString(), u"olvex-1.2.zip"_s);
        QCOMPARE(find<QLabel>(u"firmwareText"_s)->text(), u"olvex-1.2.zip"_s);
        QStringList shown;
        const auto rows = find<QWidget>(u"firmwareFileList"_s)->findChildren<QWidget *>(u"firmwareFileRow"_s);
        for (const QWidget *row : rows)
            shown.append(row->findChild<QWidget *>(u"firmwareFileName"_s)->property("text").toString() +
                         u" | "_s + row->findChild<QLabel *>(u"firmwareFileSize"_s)->text());
        QCOMPARE(shown, (QStringList{u"olvex.ino.bootloader.bin | 4096 bayt @ 0x0"_s,
                                     u"olvex.ino.partitions.bin | 3072 bayt @ 0x8000"_s,
                                     u"boot_app0.bin | 8192 bayt @ 0xE000"_s,
                                     u"olvex.ino.bin | 16384 bayt @ 0x10000"_s}));
        FirmwareImage largest;
        largest.size = 4294967295u;
        largest.offset = 0xFFFFFFFFu;
        QCOMPARE(::sizeLine(largest), u"4294967295 bayt @ 0xFFFFFFFF"_s);
    }

    void portPicker()
    {
        addPorts({u"ttyACM0"_s, u"cu.usbmodem1101"_s});
        const QString dev = m_paths.deviceDirectory;
        QVERIFY(openWindow(
            {{dev + u"/ttyACM0"_s, u"Espressif"_s, u"USB JTAG/serial debug unit"_s, 0x303a, 0x1001}}));
        auto *compact = find<QComboBox>(u"compactPortPicker"_s);
        auto *details = find<QComboBox>(u"detailsPortPicker"_s);
        QCOMPARE(items(compact),
                 (QStringList{u"— Port seçin —"_s, u"cu.usbmodem1101"_s, u"ttyACM0 — Espressif"_s}));
        QCOMPARE(items(details), (QStringList{u"— Port seçin —"_s, dev + u"/cu.usbmodem1101"_s,
                                              dev + u"/ttyACM0 — Espressif"_s}));
        QCOMPARE(compact->currentIndex(), 1);
        QVERIFY(find(u"compactPortDescription"_s)->isHidden()); // nothing known of it

        QTest::keyClick(compact, Qt::Key_Down);
        QCOMPARE(manager()->selectedPort()->path, dev + u"/ttyACM0"_s);
        QCOMPARE(details->currentIndex(), 2);
        for (const auto name : {u"compactPortDescription", u"detailsPortDescription"}) {
            QCOMPARE(find<QLabel>(QString::fromUtf16(name))->text(),
                     u"Espressif USB JTAG/serial debug unit (303a:1001)"_s);
            QVERIFY(!find(QString::fromUtf16(name))->isHidden());
        }
        switchLayout(true);
        QTest::keyClick(details, Qt::Key_Home);
        QVERIFY(!manager()->selectedPort());
        QCOMPARE(compact->currentIndex(), 0);
        QCOMPARE(manager()->status(), Status::idle);

        addPorts({u"ttyUSB0"_s});
        switchLayout(false);
        find<QPushButton>(u"compactRefreshButton"_s)->click();
        QCOMPARE(items(compact).last(), u"ttyUSB0"_s);
        QCOMPARE(compact->currentIndex(), 1);
    }

    void guideWrapsAndIsNeverCut()
    {
        QVERIFY(openWindow());
        m_window->resize(ContentView::compactMinimumSize.width(), m_window->height());
        QTRY_COMPARE(view()->width(), ContentView::compactMinimumSize.width());
        QTest::qWait(0);
        const auto numbers = find<QWidget>(u"guide"_s)->findChildren<QLabel *>(u"guideStepNumber"_s);
        const auto texts = find<QWidget>(u"guide"_s)->findChildren<QLabel *>(u"guideStepText"_s);
        QCOMPARE(numbers.size(), 8);
        QCOMPARE(texts.size(), 8);
        // The guide speaks of this system's own things; the other wording stays as it was.
        QStringList shown;
        for (const QLabel *text : texts)
            shown.append(text->text());
#if defined(Q_OS_MACOS)
        QCOMPARE(shown, Texts::guideSteps(Texts::Platform::macOS));
#else
        QCOMPARE(shown, Texts::guideSteps(Texts::Platform::Linux));
#endif
        for (const Texts::Platform platform : {Texts::Platform::macOS, Texts::Platform::Linux}) {
            const QString all = Texts::guideSteps(platform).join(u'\n') + Texts::portExample(platform);
            const bool onMac = platform == Texts::Platform::macOS;
            for (const auto word : {u"Mac", u".app", u"Uygulamalar klasör", u"cu.usbmodem"})
                QVERIFY2(all.contains(QString::fromUtf16(word)) == onMac, qPrintable(all));
            QCOMPARE(all.contains(u"ttyACM0"_s), !onMac);
        }

        int wrapped = 0;
        for (int i = 0; i < 8; ++i) {
            QLabel *text = texts.at(i);
            QVERIFY2(text->height() >= text->heightForWidth(text->width()), qPrintable(text->text()));
            QCOMPARE(text->geometry().top(), numbers.at(i)->geometry().top());
            wrapped += text->height() > 2 * QFontMetrics(text->font()).height() - 2 ? 1 : 0;
        }
        QVERIFY(wrapped > 0);
    }

    void logLine_data()
    {
        QTest::addColumn<QTime>("localTime");
        QTest::addColumn<Level>("level");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("line");
        QTest::newRow("success") << QTime(9, 5, 7) << Level::success << u"Yükleme tamamlandı."_s
                                 << u"[09:05:07] [TAMAM] Yükleme tamamlandı."_s;
        QTest::newRow("24-hour") << QTime(23, 59, 59) << Level::error << u"esptool failed (exit 2): x"_s
                                 << u"[23:59:59] [HATA] esptool failed (exit 2): x"_s;
        QTest::newRow("midnight") << QTime(0, 0, 0) << Level::info << QString() << u"[00:00:00] [BİLGİ] "_s;
        QTest::newRow("several lines")
            << QTime(12, 0, 1) << Level::warning << u"a\nb\r"_s << u"[12:00:01] [UYARI] a\nb\r"_s;
    }

    void logLine()
    {
        QFETCH(QTime, localTime);
        QFETCH(Level, level);
        QFETCH(QString, message);
        QFETCH(QString, line);
        const QDateTime utc = QDateTime(QDate(2024, 5, 6), localTime).toUTC();
        QCOMPARE(utc.time(), localTime.addSecs(-3 * 3600)); // the entry holds UTC, as the log makes it
        QCOMPARE(::logLine(LogEntry{QUuid::createUuid(), utc, level, message}), line);
    }

    void logView()
    {
        QVERIFY(openWindow());
        switchLayout(true);
        auto *logger = manager()->logger();
        auto *list = find<QListView>(u"logView"_s);
        QScrollBar *bar = list->verticalScrollBar();
        QTRY_VERIFY(logger->count() > 0);
        const int before = logger->count();
        logger->log(Level::success, u"Yükleme tamamlandı."_s);
        logger->log(Level::error, u"esptool failed (exit 2): first\nsecond\nthird"_s);
        logger->log(Level::info, QString(400, u'x'));
        QTRY_COMPARE(list->model()->rowCount(), before + 3);
        QCOMPARE(list->selectionMode(), QAbstractItemView::NoSelection);

        const int lineHeight = QFontMetrics(list->font()).lineSpacing();
        const auto rowRect = [list](int row) { return list->visualRect(list->model()->index(row, 0)); };
        QVERIFY(rowRect(before).height() < 2 * lineHeight);
        QVERIFY(rowRect(before + 1).height() >= 3 * lineHeight);
        QVERIFY(rowRect(before + 2).height() >= 2 * lineHeight); // wrapped at the view's width, not cut

        list->scrollTo(list->model()->index(before, 0), QAbstractItemView::PositionAtTop);
        const QImage image = list->viewport()->grab().toImage();
        QVERIFY(pixelsNear(image, rowRect(before), Style::green()) > 5);
        QCOMPARE(pixelsNear(image, rowRect(before), Style::red()), 0);
        QVERIFY(pixelsNear(image, rowRect(before + 1), Style::red()) > 5);
        QCOMPARE(pixelsNear(image, rowRect(before + 1), Style::green()), 0);

        // While open, it follows the newest line.
        for (int i = 0; i < 60; ++i)
            logger->log(Level::info, u"line %1"_s.arg(i));
        QTRY_COMPARE(logger->count(), before + 63);
        QVERIFY(bar->maximum() > 0);
        QTRY_COMPARE(bar->value(), bar->maximum());
        QVERIFY(list->viewport()->rect().contains(rowRect(before + 62).bottomLeft()));

        bar->setValue(0); // reading older lines does not stop the following
        logger->log(Level::warning, u"one more"_s);
        QTRY_COMPARE(bar->value(), bar->maximum());

        // Closed, it does not follow; opened again, it starts at the top.
        switchLayout(false);
        for (int i = 0; i < 30; ++i)
            logger->log(Level::info, u"while closed %1"_s.arg(i));
        QTRY_COMPARE(logger->count(), before + 64 + 30);
        switchLayout(true);
        QTest::qWait(0);
        QCOMPARE(bar->value(), 0);
        logger->log(Level::info, u"after opening"_s);
        QTRY_COMPARE(bar->value(), bar->maximum());
    }

    // Lines added while the panel was hidden, or at another width, are measured again when it
    // shows: no row keeps a height for another width (a blank gap below its text).
    void logRowsFitTheirText()
    {
        QVERIFY(openWindow());
        auto *logger = manager()->logger();
        auto *list = find<QListView>(u"logView"_s);
        for (int i = 0; i < 12; ++i)
            logger->log(Level::info, u"hidden %1"_s.arg(i) + u" word"_s.repeated(20 + 10 * i));
        QTRY_COMPARE(logger->entries().last().message.left(9), u"hidden 11"_s);
        const auto check = [&] {
            const QFontMetrics metrics(list->font());
            const int width = list->viewport()->width() - 8; // the delegate's side padding
            for (int row = 0; row + 1 < logger->count(); ++row) {
                const QString text = ::logLine(logger->entries().at(row));
                const int textHeight =
                    metrics.boundingRect(QRect(0, 0, width, 1 << 20), Qt::TextWordWrap, text).height();
                // Where the next row starts, so that a gap left by a stale layout counts.
                const int height = list->visualRect(list->model()->index(row + 1, 0)).top() -
                                   list->visualRect(list->model()->index(row, 0)).top();
                QVERIFY2(
                    height >= textHeight && height < textHeight + metrics.lineSpacing(),
                    qPrintable(u"row %1: %2 px for %3 px of text"_s.arg(row).arg(height).arg(textHeight)));
            }
        };
        switchLayout(true);
        QTRY_COMPARE(m_window->width(), ContentView::detailsIdealWidth);
        QTest::qWait(0);
        check();
        const int narrower = list->width();
        m_window->resize(m_window->width() + 300, m_window->height());
        QTRY_VERIFY(list->width() > narrower);
        check();
    }

    // What a screen reader gets: every text a sighted user reads, in the order it is seen, from a
    // tree that can be walked at any moment, past any child list's end too.
    void accessibilityTree()
    {
        addPorts({u"ttyACM0"_s});
        QVERIFY(openWindow());
        QVERIFY2(loadFirmware(), qPrintable(manager()->statusDetail()));
        const QStringList always{u"Vardel Olvex Güncelleyici"_s, u"bar İlerleme"_s};
        const auto read = [this, &always](const QStringList &expected) {
            QTest::qWait(0); // laid out
            QList<QAccessibleInterface *> seen;
            walk(QAccessible::queryAccessibleInterface(m_window.get()), seen);
            QStringList texts;
            QList<QRect> places;
            QStringList names;
            for (QAccessibleInterface *iface : std::as_const(seen)) {
                if (iface->state().invisible)
                    continue;
                for (auto t : {QAccessible::Name, QAccessible::Value})
                    if (const QString text = iface->text(t); !text.isEmpty())
                        texts.append(text);
                if (iface->role() == QAccessible::ProgressBar)
                    texts.append(u"bar "_s + iface->text(QAccessible::Name));
                auto *widget = qobject_cast<QWidget *>(iface->object());
                if (widget && !widget->isWindow() && widget->isVisible()) {
                    places.append(iface->rect());
                    names.append(QString::fromLatin1(widget->metaObject()->className()) + u' ' +
                                 widget->objectName());
                }
            }
            for (const QString &text : expected)
                QVERIFY2(texts.contains(text), qPrintable(text + u" not in: "_s + texts.join(u" | "_s)));
            for (const QString &text : expected) // the header first
                QVERIFY(texts.indexOf(always.first()) <= texts.indexOf(text));
            for (int a = 0; a < places.size(); ++a)
                for (int b = a + 1; b < places.size(); ++b)
                    QVERIFY2(!readOutOfOrder(places[a], places[b]),
                             qPrintable(names[a] + u" before "_s + names[b]));
        };
        read(always + QStringList{u"Hazır"_s, u"olvex-1.2.zip"_s, u"0%"_s});

        holdOperation(Status::flashing, u"Yükleniyor"_s, u"esptool failed (exit 2): boom"_s, true);
        read(always + QStringList{u"Yükleniyor…"_s});
        switchLayout(true);
        read(always);
        switchLayout(false);
        QVERIFY(finishOperation());
        read(always + QStringList{u"Hata"_s, u"esptool failed (exit 2): boom"_s});

        switchLayout(true); // the log rows, with time and level
        const LogEntry &last = manager()->logger()->entries().last();
        read(always + QStringList{::logLine(last)});
        switchLayout(false);
        read(always);
    }

    void failureHintInBothLayouts()
    {
        addPorts({u"ttyACM0"_s});
        QVERIFY(openWindow());
        m_window->resize(ContentView::compactMinimumSize.width(), m_window->height());
        auto *compact = find<FailureHintView>(u"compactFailureHint"_s);
        auto *details = find<FailureHintView>(u"detailsFailureHint"_s);
        QVERIFY(compact->isHidden() && details->isHidden());

        // The tail as the tool leaves it: bars redrawn after carriage returns, then many lines.
        QString tail =
            u"\rWriting at 0x00010000 [>                             ]   0.0% 0/4096 bytes... "
            u"\rWriting at 0x00010400 [=======>                      ]  25.0% 1024/4096 bytes... "_s;
        for (int i = 0; i < 12; ++i)
            tail += u"A fatal error occurred: Failed to connect to ESP32-S3: No serial data received. "_s;
        const auto failure = EsptoolError::failed(2, tail);
        manager()->runOperation(Status::connecting, u"Bağlanıyor"_s, [failure] { return failWith(failure); });
        QTRY_COMPARE(manager()->status(), Status::error);
        const QString hint = manager()->failureHint();
        QVERIFY(!hint.isEmpty());
        for (const QString &name : {u"statusCardDetail"_s, u"statusDetailText"_s}) {
            const QString shown = find(name)->property("text").toString();
            QVERIFY2(shown.startsWith(u"esptool failed (exit 2): A fatal error"_s), qPrintable(shown));
            QCOMPARE(find(name)->toolTip(), manager()->statusDetail());
        }

        // In the card the hint comes first, larger than the tool's text, which can be selected
        // and opened to every line.
        auto *detail = find<QLabel>(u"statusCardDetail"_s);
        QTRY_VERIFY(compact->isVisible());
        QVERIFY(compact->mapTo(m_window.get(), QPoint()).y() < detail->mapTo(m_window.get(), QPoint()).y());
        QVERIFY(compact->findChild<QLabel *>(u"failureHintText"_s)->font().pointSizeF() >
                detail->font().pointSizeF());
        QVERIFY(detail->textInteractionFlags() & Qt::TextSelectableByMouse);
        auto *expand = find<QPushButton>(u"statusCardExpand"_s);
        QTRY_VERIFY(expand->isVisible());
        QVERIFY(detail->height() < detail->heightForWidth(detail->width()));
        expand->click();
        QTRY_VERIFY(detail->height() >= detail->heightForWidth(detail->width()));
        saveRender(u"compact-error-opened.png"_s);
        for (FailureHintView *shown : {compact, details}) {
            switchLayout(shown == details);
            QTRY_VERIFY(shown->isVisible());
            auto *text = shown->findChild<QLabel *>(u"failureHintText"_s);
            QCOMPARE(text->text(), hint);
            QTRY_VERIFY(text->height() >= text->heightForWidth(text->width()));
            QVERIFY(text->height() >= 2 * QFontMetrics(text->font()).height()); // wrapped, not cut
        }

        find<QPushButton>(u"detailsRefreshButton"_s)->click();
        QVERIFY(manager()->failureHint().isEmpty());
        QVERIFY(compact->isHidden() && details->isHidden());
    }

    void readableToolText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        QTest::newRow("bar line")
            << u"Writing at 0x00010000 [==============>               ]  48.8% 81920/168035 bytes..."_s
            << u"Writing at 0x00010000 48.8% 81920/168035 bytes..."_s;
        QTest::newRow("empty and full bar")
            << u"[                              ]   0.0% and [==============================] 100.0%"_s
            << u"0.0% and 100.0%"_s;
        QTest::newRow("bars redrawn in a tail") << u"x: \rWriting at 0x00010000 [>    ]  10.0% 1/10 bytes... "
                                                   u"\rDownloading 8 bytes at 0x0 [==>  ]  20.0%... "
                                                   u"Lost connection"_s
                                                << u"x: Lost connection"_s;
        QTest::newRow("older tools and plain text kept") << u"Writing at 0x00010000... (42 %)\n[see] 5 %"_s
                                                         << u"Writing at 0x00010000... (42 %)\n[see] 5 %"_s;
    }

    void readableToolText()
    {
        QFETCH(QString, text);
        QFETCH(QString, shown);
        QCOMPARE(::readableToolText(text), shown);
    }

    void detailsButtonsKeepTheirPlace_data()
    {
        QTest::addColumn<bool>("fails");
        QTest::newRow("running") << false;
        QTest::newRow("failed") << true;
    }

    void detailsButtonsKeepTheirPlace()
    {
        QFETCH(bool, fails);
        addPorts({u"ttyACM0"_s});
        QVERIFY(openWindow());
        switchLayout(true);
        const QStringList buttons = {u"detailsRefreshButton"_s, u"connectButton"_s, u"eraseButton"_s,
                                     u"detailsFlashButton"_s, u"rebootButton"_s};
        QList<QPoint> first;
        for (int lines : {1, 12}) {
            QStringList message;
            for (int i = 0; i < lines; ++i)
                message.append(u"esptool satır %1 epey uzun bir açıklama ile"_s.arg(i));
            holdOperation(Status::connecting, message.join(u'\n'), message.join(u'\n'), fails);
            if (fails)
                QVERIFY(finishOperation());
            QTest::qWait(50); // laid out again
            QList<QPoint> places;
            for (const QString &name : buttons)
                places.append(find(name)->mapTo(m_window.get(), QPoint()));
            if (first.isEmpty())
                first = places;
            else
                QCOMPARE(places, first);
            if (!fails)
                QVERIFY(finishOperation());
        }
    }

    void progressFollowsTheWrite()
    {
        addPorts({u"ttyACM0"_s});
        const QString gate = m_root.path() + u"/gate"_s;
        writeFile(m_paths.resourceDirectory + u"/ThirdParty/esptool"_s,
                  u"#!/bin/sh\n"
                  u"echo 'Writing at 0x00010000... (42 %)'\n"
                  u"while [ ! -e '%1.1' ]; do sleep 0.02; done\n"
                  u"echo 'Writing at 0x00020000... (105 %)'\n"
                  u"while [ ! -e '%1.2' ]; do sleep 0.02; done\n"_s.arg(gate)
                      .toUtf8(),
                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QVERIFY(openWindow());
        QVERIFY2(loadFirmware(), qPrintable(manager()->statusDetail()));
        find<QPushButton>(u"flashButton"_s)->click();
        auto *percent = find<QLabel>(u"compactProgressPercent"_s);
        auto *bar = find<QProgressBar>(u"compactProgressBar"_s);
        QTRY_COMPARE(percent->text(), u"42%"_s);
        QCOMPARE(bar->value(), bar->maximum() * 42 / 100);
        saveRender(u"compact-writing-42.png"_s);

        writeFile(gate + u".1"_s, {});
        QTRY_COMPARE(percent->text(), u"105%"_s);
        QCOMPARE(bar->value(), bar->maximum());
        QCOMPARE(find<QLabel>(u"detailsProgressPercent"_s)->text(), u"105%"_s);
        writeFile(gate + u".2"_s, {});
        QTRY_COMPARE(manager()->status(), Status::complete);
        QCOMPARE(percent->text(), u"100%"_s);
        QVERIFY(find(u"statusCardRestartNote"_s)->isVisible());
        saveRender(u"compact-complete.png"_s);
    }

    void slowerRetryFromTheHint()
    {
        addPorts({u"ttyACM0"_s});
        writeFile(
            m_paths.resourceDirectory + u"/ThirdParty/esptool"_s,
            "#!/bin/sh\ncase \"$*\" in *'--baud 921600'*)\n"
            "echo 'A fatal error occurred: Packet content transfer stopped (received 8 bytes).'; exit 2;;\n"
            "esac\n",
            QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QVERIFY(openWindow());
        QVERIFY2(loadFirmware(), qPrintable(manager()->statusDetail()));
        auto *retry =
            find<QWidget>(u"compactFailureHint"_s)->findChild<QPushButton *>(u"slowerRetryButton"_s);
        find<QPushButton>(u"flashButton"_s)->click();
        QTRY_COMPARE(manager()->status(), Status::error);
        QTRY_VERIFY(retry->isVisible());
        saveRender(u"compact-retry-slower.png"_s);

        QTest::mouseClick(retry, Qt::LeftButton);
        QTRY_COMPARE(manager()->status(), Status::complete);
        QVERIFY(retry->isHidden());
        QTRY_VERIFY(std::ranges::any_of(manager()->logger()->entries(), [](const LogEntry &entry) {
            return entry.message.startsWith(u"esptool "_s) && entry.message.contains(u" --baud 460800 "_s);
        }));
    }

    void renders()
    {
        addPorts({u"ttyACM0"_s, u"ttyUSB0"_s});
        QVERIFY(openWindow({{m_paths.deviceDirectory + u"/ttyACM0"_s, u"Espressif"_s,
                             u"USB JTAG/serial debug unit"_s, 0x303a, 0x1001}}));
        saveRender(u"compact-start.png"_s);

        const auto failure = EsptoolError::failed(
            2,
            u"A fatal error occurred: Failed to connect to ESP32-S3: No serial data received.\n"
            u"For troubleshooting steps visit: https://docs.espressif.com/projects/esptool/en/latest/troubleshooting.html"_s);
        manager()->runOperation(Status::flashing, u"Yükleniyor"_s, [failure] { return failWith(failure); });
        QTRY_COMPARE(manager()->status(), Status::error);
        QTest::qWait(50);
        saveRender(u"compact-error.png"_s);
        QApplication::setPalette(darkPalette());
        QTest::qWait(50);
        saveRender(u"compact-error-dark.png"_s);
        QApplication::setPalette(QApplication::style()->standardPalette());

        QVERIFY2(loadFirmware(), qPrintable(manager()->statusDetail()));
        for (int i = 0; i < 12; ++i)
            manager()->logger()->log(
                Level(i % 4),
                u"Writing at 0x%1... (%2 %)"_s.arg(0x10000 + i * 0x400, 8, 16, QChar(u'0')).arg(i * 8));
        switchLayout(true);
        QTest::qWait(50);
        saveRender(u"details-files-log.png"_s);
    }
};

OLVEX_TEST_GUI_MAIN(TestContentView)
#include "tst_contentview.moc"
