// The window's two layouts and its sizes, on a large screen and (windowFitsTheScreen) on a small one.
#include "texts.h"
#include "windowfixture.h"

#include <QAccessible>
#include <QToolButton>

using namespace Qt::StringLiterals;
using Status = WindowFixture::Status;

class TestWindowLayout : public QObject
{
    Q_OBJECT

    std::unique_ptr<WindowFixture> w;

    [[nodiscard]] bool scrollBarShown() const
    {
        return w->find<QScrollArea>(u"contentScrollArea"_s)->verticalScrollBar()->isVisible();
    }

private Q_SLOTS:
    void init() { w = std::make_unique<WindowFixture>(); }
    void cleanup() { w.reset(); }

    void sizesFollowTheLayout()
    {
        QVERIFY(w->open({u"ttyACM0"_s}));
        MainWindow *window = w->window();
        const QSize compactSize = window->size();
        QCOMPARE(compactSize.width(), ContentView::startSize.width());
        QVERIFY(compactSize.height() >= ContentView::startSize.height());
        QVERIFY(!scrollBarShown());
        QCOMPARE(window->minimumSize(), ContentView::compactMinimumSize);

        auto *toggle = w->find<QPushButton>(u"detailsToggle"_s);
        toggle->click();
        QVERIFY(window->width() < ContentView::detailsIdealWidth); // resized over time, not at once
        QTRY_COMPARE(window->width(), ContentView::detailsIdealWidth);
        QTRY_COMPARE(window->minimumSize(), ContentView::detailsMinimumSize);
        QVERIFY(window->height() >= ContentView::detailsMinimumSize.height());
        QCOMPARE(toggle->text(), u"Detayları Gizle"_s);
        toggle->click();
        QTRY_COMPARE(window->size(), compactSize);
        QCOMPARE(window->minimumSize(), ContentView::compactMinimumSize);
        QCOMPARE(toggle->text(), u"Detaylar"_s);

        // A wide window keeps the content at a readable width, in the middle.
        for (bool details : {false, true}) {
            w->switchLayout(details);
            window->resize(1600, window->height());
            auto *root = w->find(u"rootLayout"_s);
            QTRY_COMPARE(root->width(),
                         details ? ContentView::detailsMaximumWidth : ContentView::compactMaximumWidth);
            const QWidget *viewport = w->find<QScrollArea>(u"contentScrollArea"_s)->viewport();
            QVERIFY(qAbs(root->x() - (viewport->width() - root->geometry().right() - 1)) <= 1);
        }
    }

    // Run again on a small screen at twice the scale (see CMakeLists.txt).
    void windowFitsTheScreen()
    {
        QVERIFY(w->open());
        const QSize screen = w->window()->screen()->availableSize();
        for (bool details : {false, true, false}) {
            if (w->view()->showDetails() != details)
                w->find<QPushButton>(u"detailsToggle"_s)->click();
            QTest::qWait(300); // the resize animation ends
            QCOMPARE(w->view()->minimumSize().boundedTo(screen), w->view()->minimumSize());
            QCOMPARE(w->window()->size().boundedTo(screen), w->window()->size());
        }
    }

    // On every screen and in every state the outcome and the write button are in view together;
    // on a laptop the progress and "Detaylar" too. What scrolls is the middle, not the outcome,
    // and before anything is chosen the guide's steps are open.
    void compactLayoutShowsTheOutcome_data()
    {
        QTest::addColumn<QString>("screen");
        QTest::addColumn<QString>("state");
        for (const QScreen *screen : QGuiApplication::screens())
            for (const auto state : {u"idle", u"ready", u"writing", u"complete", u"failed"})
                QTest::addRow("%s %s", qPrintable(screen->name()), qPrintable(QString::fromUtf16(state)))
                    << screen->name() << QString::fromUtf16(state);
    }

    void compactLayoutShowsTheOutcome()
    {
        QFETCH(QString, screen);
        QFETCH(QString, state);
        const auto screens = QGuiApplication::screens();
        w->placeOn(*std::ranges::find(screens, screen, &QScreen::name));
        // A write that stops half-way with many lines of the tool's text: the hint, the retry
        // button and the whole text, opened.
        w->installTool("echo 'Writing at 0x00010000 (1 %)'\n"
                       "for i in 1 2 3 4 5 6; do echo \"Serial data stream stopped: line $i of many\"; done\n"
                       "echo 'A fatal error occurred: Packet content transfer stopped (received 8 bytes).'\n"
                       "exit 2\n");
        QVERIFY(state == u"idle"_s ? w->open() : w->openReady());
        if (state == u"writing"_s || state == u"complete"_s) {
            w->hold(Status::flashing, u"Writing at 0x00010000 (42 %)"_s);
            if (state == u"complete"_s)
                QVERIFY(w->finish());
        } else if (state == u"failed"_s) {
            w->find<QPushButton>(u"flashButton"_s)->click();
            QTRY_COMPARE(w->manager()->status(), Status::error);
            QTRY_VERIFY(w->find(u"slowerRetryButton"_s)->isVisible());
            QTRY_VERIFY(w->find(u"statusCardExpand"_s)->isVisible());
            w->find<QPushButton>(u"statusCardExpand"_s)->click();
        }
        QStringList needed{u"statusCard"_s, u"flashButton"_s};
        if (screen.startsWith(u"laptop"_s))
            needed << u"compactProgress"_s << u"detailsToggle"_s;
        for (const QString &name : needed)
            QTRY_VERIFY2(w->inView(name), qPrintable(name)); // once laid out, fitted and scrolled
        // A first-timer sees the steps, however small the screen.
        QCOMPARE(w->find(u"guideSteps"_s)->isHidden(), state != u"idle"_s);
        w->saveRender(u"compact-%1-%2.png"_s.arg(screen, state));
    }

    // In the details on a laptop every button, the log and "Detayları Gizle" are in view without
    // scrolling the window: the boxes above them give way.
    void detailsFitALaptop()
    {
        const auto screens = QGuiApplication::screens();
        w->placeOn(*std::ranges::find(screens, u"laptop-1366x768"_s, &QScreen::name));
        QVERIFY(w->openReady());
        w->switchLayout(true);
        for (const auto name : {u"detailsToggle", u"detailsFlashButton", u"rebootButton", u"logView"})
            QTRY_VERIFY2(w->inView(QString::fromUtf16(name)) && !scrollBarShown(),
                         qPrintable(QString::fromUtf16(name)));
    }

    // A height the user chose stays through a load, a failure, a success and a visit to the
    // details: what does not fit scrolls.
    void userSizeStays()
    {
        QVERIFY(w->open({u"ttyACM0"_s}));
        w->window()->resize(ContentView::compactMinimumSize);
        QTRY_COMPARE(w->window()->size(), ContentView::compactMinimumSize);
        QVERIFY(w->loadFirmware());
        w->fail(Status::flashing, u"A fatal error occurred: Packet content transfer stopped. "_s.repeated(6));
        w->hold(Status::flashing, u"Cihaza bağlanılıyor"_s);
        QVERIFY(w->finish());
        w->switchLayout(true);
        w->switchLayout(false);
        QTest::qWait(300); // past any resize
        QCOMPARE(w->window()->size(), ContentView::compactMinimumSize);
        QTRY_VERIFY(w->inView(u"flashButton"_s));
    }

    // A failure seen in the details layout makes the compact one taller than it was: switching
    // back gives it the height it needs now, as far as the screen allows; once the failure
    // clears, the window returns to the height it had.
    void compactLayoutFollowsAFailureSeenInDetails()
    {
        QVERIFY(w->open({u"ttyACM0"_s}));
        const int compactHeight = w->window()->height();
        w->switchLayout(true);
        QTRY_COMPARE(w->window()->width(), ContentView::detailsIdealWidth);
        w->fail(
            Status::connecting,
            u"A fatal error occurred: Failed to connect to ESP32-S3: No serial data received. "_s.repeated(
                4));
        w->switchLayout(false);
        auto *toggle = w->find(u"detailsToggle"_s);
        const auto fits = [&] {
            const QRect shown(toggle->mapTo(w->window(), QPoint()), toggle->size());
            return w->window()->rect().contains(shown) && !scrollBarShown();
        };
        QTRY_VERIFY(fits());
        QTest::qWait(300); // past the resize animation: nothing shrinks it back
        QVERIFY(fits());
        QVERIFY(w->window()->height() > compactHeight);
        w->find<QPushButton>(u"compactRefreshButton"_s)->click();
        QTRY_COMPARE(w->window()->height(), compactHeight);
    }

    // The first showing lists the ports once; closing waits for a running operation, and says so.
    void closingWaitsForTheOperation()
    {
        QVERIFY(w->open({u"ttyACM0"_s}));
        w->window()->hide();
        w->window()->show();
        QVERIFY(QTest::qWaitForWindowExposed(w->window()));
        QCOMPARE(w->text(u"deviceText"_s), u"ttyACM0"_s);
        w->hold(Status::flashing, u"Yükleniyor"_s);
        QTRY_VERIFY(w->manager()->logger()->count() > 0);
        QCOMPARE(std::ranges::count(w->manager()->logger()->entries(), u"USB portları taranıyor…"_s,
                                    &LogEntry::message),
                 1);
        QVERIFY(!w->window()->close());
        QVERIFY(w->window()->isVisible());
        QCOMPARE(w->text(u"closeNotice"_s), u"İşlem sürüyor; bitince pencere kapanabilir."_s);
        QVERIFY(w->find(u"closeNotice"_s)->isVisible());
        QVERIFY(w->finish());
        QVERIFY(w->find(u"closeNotice"_s)->isHidden());
        QVERIFY(w->window()->close());
    }

    // However long the message of a running or a failed operation, the details' buttons stay put.
    void detailsButtonsKeepTheirPlace()
    {
        QVERIFY(w->open({u"ttyACM0"_s}));
        w->switchLayout(true);
        for (bool fails : {false, true}) {
            QList<QPoint> first;
            for (int lines : {1, 12}) {
                const QString message = u"esptool satırı epey uzun bir açıklama ile\n"_s.repeated(lines);
                w->hold(Status::connecting, message, message, fails);
                if (fails)
                    QVERIFY(w->finish());
                QTest::qWait(50); // laid out again
                QList<QPoint> places;
                for (const auto name : {u"detailsRefreshButton", u"connectButton", u"eraseButton",
                                        u"detailsFlashButton", u"rebootButton"})
                    places.append(w->find(QString::fromUtf16(name))->mapTo(w->window(), QPoint()));
                if (first.isEmpty())
                    first = places;
                QCOMPARE(places, first);
                if (!fails)
                    QVERIFY(w->finish());
            }
        }
    }

    // With no port listed the port box says so, and why as far as the system tells. The guide
    // stays open until a package and a port are chosen; its title opens it again from the mouse
    // or the keyboard, and tells a screen reader whether it is open.
    void guideFoldsOnceReady()
    {
        writeFile(w->paths().processDirectory + u"/4242/comm"_s, "ModemManager\n");
        QVERIFY(w->open());
        for (const auto name : {u"compactPortDescription", u"detailsPortDescription"}) {
            const QString text = w->text(QString::fromUtf16(name));
            QVERIFY2(text.startsWith(u"Port bulunamadı — programlama modunu deneyin."_s), qPrintable(text));
#if defined(Q_OS_LINUX)
            QVERIFY2(text.contains(u"sudo systemctl stop ModemManager"_s), qPrintable(text));
#endif
        }
        QVERIFY(w->find(u"compactPortDescription"_s)->isVisible());
        auto *title = w->find<QToolButton>(u"guideTitle"_s);
        QWidget *steps = w->find(u"guideSteps"_s);
        QVERIFY(steps->isVisible());
        QVERIFY(w->loadFirmware());
        QVERIFY(steps->isVisible()); // no port yet
        w->addPorts({u"ttyACM0"_s});
        w->find<QPushButton>(u"compactRefreshButton"_s)->click();
        QVERIFY(steps->isHidden());
        QVERIFY(w->find(u"compactPortDescription"_s)->isHidden()); // nothing known of the port found
        QAccessibleInterface *reader = QAccessible::queryAccessibleInterface(title);
        const auto readAs = [reader](bool expanded) {
            const QAccessible::State state = reader->state();
            return reader->role() == QAccessible::Button && !state.checkable && state.expandable &&
                   state.expanded == expanded && state.collapsed == !expanded;
        };
        QVERIFY(readAs(false));
        title->setFocus(Qt::TabFocusReason);
        QTest::keyClick(title, Qt::Key_Space);
        QVERIFY(steps->isVisible());
        QVERIFY(readAs(true));
        QTest::mouseClick(title, Qt::LeftButton);
        QVERIFY(steps->isHidden());
    }

    void guideWrapsAndIsNeverCut()
    {
        QVERIFY(w->open());
        w->window()->resize(ContentView::compactMinimumSize.width(), w->window()->height());
        QTRY_COMPARE(w->view()->width(), ContentView::compactMinimumSize.width());
        QTest::qWait(0);
        const auto numbers = w->find(u"guide"_s)->findChildren<QLabel *>(u"guideStepNumber"_s);
        const auto texts = w->find(u"guide"_s)->findChildren<QLabel *>(u"guideStepText"_s);
        QCOMPARE(numbers.size(), 8);
        QCOMPARE(texts.size(), 8);
        int wrapped = 0;
        for (int i = 0; i < 8; ++i) {
            QLabel *text = texts.at(i);
            QVERIFY2(text->height() >= text->heightForWidth(text->width()), qPrintable(text->text()));
            QCOMPARE(text->geometry().top(), numbers.at(i)->geometry().top());
            wrapped += text->height() > 2 * QFontMetrics(text->font()).height() - 2 ? 1 : 0;
        }
        QVERIFY(wrapped > 0);

        // Each system's guide speaks of its own things.
        for (const Texts::Platform platform : {Texts::Platform::macOS, Texts::Platform::Linux}) {
            const QString all = Texts::guideSteps(platform).join(u'\n') + Texts::portExample(platform);
            const bool onMac = platform == Texts::Platform::macOS;
            for (const auto word : {u"Mac", u".app", u"Uygulamalar klasör", u"cu.usbmodem"})
                QVERIFY2(all.contains(QString::fromUtf16(word)) == onMac, qPrintable(all));
            QCOMPARE(all.contains(u"ttyACM0"_s), !onMac);
        }
    }
};

OLVEX_TEST_GUI_MAIN(TestWindowLayout)
#include "tst_windowlayout.moc"
