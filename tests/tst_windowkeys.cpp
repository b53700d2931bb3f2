// What the window's controls offer: when each works, the keyboard, a screen reader and weak eyes.
#include "logpanel.h"
#include "style.h"
#include "windowfixture.h"

#include <QAccessible>
#include <QScopeGuard>
#include <QSignalSpy>

using namespace Qt::StringLiterals;
using Status = WindowFixture::Status;

namespace {
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

class TestWindowKeys : public QObject
{
    Q_OBJECT

    std::unique_ptr<WindowFixture> w;

private Q_SLOTS:
    void init() { w = std::make_unique<WindowFixture>(); }
    void cleanup() { w.reset(); }

    void returnKey_data()
    {
        QTest::addColumn<bool>("details");
        QTest::addColumn<QString>("focus");
        QTest::addColumn<bool>("listOpen");
        QTest::addColumn<bool>("writes");
        QTest::newRow("write button") << false << u"flashButton"_s << false << true;
        QTest::newRow("details write button") << true << u"detailsFlashButton"_s << false << true;
        QTest::newRow("refresh button") << false << u"compactRefreshButton"_s << false << false;
        QTest::newRow("zip button") << false << u"compactChooseZipButton"_s << false << false;
        QTest::newRow("details toggle") << false << u"detailsToggle"_s << false << false;
        QTest::newRow("port picker") << false << u"compactPortPicker"_s << false << false;
        QTest::newRow("port list open") << false << u"compactPortPicker"_s << true << false;
        QTest::newRow("details port list open") << true << u"detailsPortPicker"_s << true << false;
        QTest::newRow("log") << true << u"logView"_s << false << false;
    }

    // Return and Enter press a focused button; a write starts only from a write button itself.
    void returnKey()
    {
        QFETCH(bool, details);
        QFETCH(QString, focus);
        QFETCH(bool, listOpen);
        QFETCH(bool, writes);
        w->installTool("echo 'Hash of data verified.'\n");
        QVERIFY(w->openReady());
        int chosen = 0; // a cancelled choice changes nothing
        w->view()->setZipChooser([this, &chosen](QWidget *parent) {
            chosen += parent == w->window() ? 1 : 100;
            return std::optional<QUrl>();
        });
        w->switchLayout(details);
        QWidget *target = w->find(focus);
        target->setFocus(Qt::TabFocusReason);
        QTRY_VERIFY(target->hasFocus());
        if (auto *picker = qobject_cast<QComboBox *>(target); picker && listOpen) {
            picker->showPopup();
            QTRY_VERIFY(picker->view()->isVisible());
            target = picker->view();
        }
        auto *button = qobject_cast<QPushButton *>(target);
        std::optional<QSignalSpy> clicked;
        if (button)
            clicked.emplace(button, &QPushButton::clicked);
        for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter})
            if (!button || key == Qt::Key_Return) // a second press would find a write running
                QTest::keyClick(target, key);
        if (clicked)
            QTRY_COMPARE(clicked->count(), 1);
        QCOMPARE(chosen, focus == u"compactChooseZipButton"_s ? 1 : 0);
        QTest::qWait(200); // past a pressed button's delay
        QTRY_VERIFY(!w->manager()->isBusy());
        QCOMPARE(w->folder().runs().size(), writes ? 1 : 0);
        QCOMPARE(w->manager()->status(), writes ? Status::complete : Status::idle);
        if (writes) // the keys act where they did before
            QTRY_COMPARE(QApplication::focusWidget(), target);
    }

    // Tab walks the compact layout from the top, left to right in a row; the scroll areas are no stop.
    void tabOrderFollowsTheLayout_data()
    {
        QTest::addColumn<bool>("details");
        QTest::addColumn<QString>("first");                   // the first stop after the toggle
        QTest::newRow("compact") << false << u"guideTitle"_s; // folds and opens the guide
        QTest::newRow("details") << true << u"detailsPortPicker"_s;
    }

    void tabOrderFollowsTheLayout()
    {
        QFETCH(bool, details);
        QFETCH(QString, first);
        QVERIFY(w->openReady());
        QCOMPARE(QApplication::focusWidget(), w->find(u"guideTitle"_s)); // focus starts at the top
        w->switchLayout(details);
        auto *root = w->find(u"rootLayout"_s);
        // From the last stop at the bottom, Tab goes round to the top and on down again.
        QWidget *last = w->find(u"detailsToggle"_s);
        last->setFocus(Qt::TabFocusReason);
        QList<QWidget *> visited;
        for (int i = 0; i < 20 && visited.value(visited.size() - 1) != last; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            visited.append(QApplication::focusWidget());
        }
        QCOMPARE(visited.last(), last);
        QCOMPARE(visited.first()->objectName(), first);
        for (const QString &area : {u"contentScrollArea"_s, u"compactMiddle"_s})
            QVERIFY(!visited.contains(w->find(area)));
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
        QTest::newRow("dark") << WindowFixture::darkPalette();
    }

    // Text stands out by 4.5:1, state marks by 3:1, from whatever they sit on; a palette change
    // while the window is open is followed.
    void contrast()
    {
        QFETCH(QPalette, palette);
        QVERIFY(w->openReady());
        QApplication::setPalette(palette);
        const auto restore =
            qScopeGuard([] { QApplication::setPalette(QApplication::style()->standardPalette()); });
        QTRY_COMPARE(Style::textColor(w->find(u"subtitleLabel"_s)), Style::secondaryText());
        for (const QColor &color : {Style::accentFill(), Style::focusRing(), Style::disabledAccentFill(),
                                    Style::disabledAccentText()})
            QVERIFY(w->find(u"flashButton"_s)->styleSheet().contains(color.name(QColor::HexArgb)));

        const auto atLeast = [](const QColor &mark, const QColor &ground, double minimum) {
            return Style::contrastRatio(mark, ground) >= minimum;
        };
        for (const QColor &ground : {Style::windowBackground(), Style::cardBackground(),
                                     Style::badgeBackground(), Style::logBackground()})
            for (const QColor &text : {Style::primaryText(), Style::secondaryText(), Style::green(),
                                       Style::orange(), Style::red()})
                QVERIFY2(atLeast(text, ground, 4.5), qPrintable(text.name() + u" on "_s + ground.name()));
        QVERIFY(atLeast(Style::accentText(), Style::accentFill(), 4.5));
        // The write button out of use: grey where it was coloured, its label still readable.
        QVERIFY(atLeast(Style::disabledAccentText(), Style::disabledAccentFill(), 4.5));
        for (const QColor &grey : {Style::disabledAccentFill(), Style::disabledAccentText()})
            QVERIFY(grey.hsvSaturationF() < Style::accentFill().hsvSaturationF() / 2);
        for (const QColor &ground : {Style::windowBackground(), Style::cardBackground(), Style::accentFill()})
            QVERIFY(atLeast(Style::focusRing(), ground, 3)); // the write button's ring, around and inside
        QVERIFY(atLeast(Style::progressChunk(), Style::progressTrack(), 3));
        QVERIFY(atLeast(Style::progressChunk(), Style::windowBackground(), 3));
        QVERIFY(atLeast(Style::windowBackground(), Style::green(), 3));  // the check mark in its dot
        QVERIFY(atLeast(Style::windowBackground(), Style::orange(), 3)); // the warning sign's mark

        // Focus draws a ring that stands out from the window by 3:1: along each control's width
        // at least, so one line of it all round. The style draws it once keys have moved focus.
        w->window()->setAttribute(Qt::WA_KeyboardFocusChange);
        for (bool details : {false, true}) {
            w->switchLayout(details);
            QTest::qWait(50);
            const QString layout = details ? u"detailsLayout"_s : u"compactLayout"_s;
            QList<QWidget *> controls = w->find(layout)->findChildren<QWidget *>();
            controls.append(w->find(u"detailsToggle"_s));
            for (QWidget *control : std::as_const(controls)) {
                if (!(control->focusPolicy() & Qt::TabFocus) || !control->isVisible() ||
                    !control->isEnabled())
                    continue;
                control->clearFocus();
                const QImage before = control->grab().toImage();
                control->setFocus(Qt::TabFocusReason);
                const QImage after = control->grab().toImage();
                int ring = 0;
                for (int y = 0; y < after.height(); ++y)
                    for (int x = 0; x < after.width(); ++x)
                        ring += after.pixel(x, y) != before.pixel(x, y) &&
                                atLeast(after.pixelColor(x, y), Style::windowBackground(), 3);
                QVERIFY2(ring >= control->width(), qPrintable(control->objectName()));
            }
        }
    }

    // What a screen reader gets: every text a sighted user reads, in the order it is seen, from a
    // tree that can be walked at any moment, past any child list's end too.
    void accessibilityTree()
    {
        QVERIFY(w->openReady());
        for (const auto &[name, text] : {std::pair{u"compactPortPicker"_s, u"USB Portu"_s},
                                         {u"detailsPortPicker"_s, u"USB Portu"_s},
                                         {u"logView"_s, u"Günlük"_s}})
            QCOMPARE(QAccessible::queryAccessibleInterface(w->find(name))->text(QAccessible::Name), text);
        QCOMPARE(QAccessible::queryAccessibleInterface(w->window())->text(QAccessible::Name),
                 u"Vardel Olvex Güncelleyici"_s);
        // The chosen port is said with the picker's name, and its list can be walked.
        QAccessibleInterface *picker = QAccessible::queryAccessibleInterface(w->find(u"compactPortPicker"_s));
        QCOMPARE(picker->text(QAccessible::Value), u"ttyACM0"_s);
        QCOMPARE(picker->text(QAccessible::Description), u"ttyACM0"_s); // a fake port: nothing known of it
        QAccessibleInterface *list = picker->child(0);
        QVERIFY(list && picker->indexOfChild(list) == 0);
        QStringList entries;
        for (int i = 0; i < list->childCount(); ++i)
            entries.append(list->child(i)->text(QAccessible::Name));
        QVERIFY2(entries.contains(u"ttyACM0"_s), qPrintable(entries.join(u", "_s)));
        const QStringList always{u"Vardel Olvex Güncelleyici"_s, u"bar İlerleme"_s};
        const auto read = [this, &always](const QStringList &expected) {
            QTest::qWait(0); // laid out
            QList<QAccessibleInterface *> seen;
            walk(QAccessible::queryAccessibleInterface(w->window()), seen);
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
            for (const QString &text : expected + always) {
                QVERIFY2(texts.contains(text), qPrintable(text + u" not in: "_s + texts.join(u" | "_s)));
                QVERIFY(texts.indexOf(always.first()) <= texts.indexOf(text)); // the header first
            }
            for (int a = 0; a < places.size(); ++a)
                for (int b = a + 1; b < places.size(); ++b)
                    QVERIFY2(!readOutOfOrder(places[a], places[b]),
                             qPrintable(names[a] + u" before "_s + names[b]));
        };
        read({u"Hazır"_s, u"olvex-1.2.zip"_s, u"0%"_s});
        QAccessibleInterface *log = QAccessible::queryAccessibleInterface(w->find(u"logView"_s));
        for (int i = -1; i < log->childCount(); ++i) // hidden with the details: the log and its rows
            QVERIFY((i < 0 ? log : log->child(i))->state().invisible);
        w->hold(Status::flashing, u"Yükleniyor"_s, u"esptool failed (exit 2): boom"_s, true);
        read({u"Yükleniyor…"_s});
        w->switchLayout(true);
        read({});
        w->switchLayout(false);
        QVERIFY(w->finish());
        read({u"Hata"_s, u"esptool failed (exit 2): boom"_s});
        w->switchLayout(true); // the log rows, with time and level
        read({::logLine(w->manager()->logger()->entries().last())});
    }

    void enablingRules_data()
    {
        QTest::addColumn<bool>("ports");
        QTest::addColumn<int>("selection"); // 0: "— Port seçin —", 1: the first port, 2: a port not listed
        QTest::addColumn<bool>("firmware");
        QTest::addColumn<bool>("busy");    // disables both "Firmware Zip Seç" and both refreshes
        QTest::addColumn<bool>("portRow"); // connect, erase, reboot
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
        QVERIFY(w->open(ports ? QStringList{u"ttyACM0"_s, u"ttyACM1"_s} : QStringList()));
        QVERIFY(!firmware || w->loadFirmware());
        auto *picker = w->find<QComboBox>(u"compactPortPicker"_s);
        if (selection == 0 && w->manager()->selectedPort()) {
            QTest::keyClick(picker, Qt::Key_Up);
            QVERIFY(!w->manager()->selectedPort());
        } else if (selection == 2) {
            w->manager()->setSelectedPort(SerialPortInfo{u"/dev/gone"_s, u"/dev/gone"_s, u"gone"_s});
            QCOMPARE(picker->currentIndex(), -1);
        }
        if (busy)
            w->hold(Status::connecting, u"Bağlanıyor"_s);
        const auto expect = [this](const QStringList &names, bool enabled) {
            for (const QString &name : names)
                QVERIFY2(w->find(name)->isEnabled() == enabled, qPrintable(name));
        };
        expect({u"compactPortPicker"_s, u"detailsPortPicker"_s, u"detailsToggle"_s}, true);
        expect({u"compactChooseZipButton"_s, u"detailsChooseZipButton"_s, u"compactRefreshButton"_s,
                u"detailsRefreshButton"_s},
               !busy);
        expect({u"connectButton"_s, u"eraseButton"_s, u"rebootButton"_s}, portRow);
        expect({u"flashButton"_s, u"detailsFlashButton"_s}, write);
    }
};

OLVEX_TEST_GUI_MAIN(TestWindowKeys)
#include "tst_windowkeys.moc"
