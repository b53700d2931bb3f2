// What the window offers the keyboard, a screen reader and weak eyes.
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
        QTest::addColumn<QString>("focus"); // empty: the key goes to the window
        QTest::addColumn<bool>("writes");
        QTest::newRow("refresh button") << false << u"compactRefreshButton"_s << false;
        QTest::newRow("zip button") << false << u"compactChooseZipButton"_s << false;
        QTest::newRow("details toggle") << false << u"detailsToggle"_s << false;
        QTest::newRow("write button") << false << u"flashButton"_s << true;
        QTest::newRow("port picker") << false << u"compactPortPicker"_s << true;
        QTest::newRow("compact window") << false << QString() << true;
        QTest::newRow("details window") << true << QString() << false;
    }

    // Return on a focused button presses that button; elsewhere it is the write's key, in the
    // compact layout only.
    void returnKey()
    {
        QFETCH(bool, details);
        QFETCH(QString, focus);
        QFETCH(bool, writes);
        QVERIFY(w->openReady());
        int chosen = 0; // a cancelled choice changes nothing
        w->view()->setZipChooser([this, &chosen](QWidget *parent) {
            chosen += parent == w->window() ? 1 : 100;
            return std::optional<QUrl>();
        });
        w->switchLayout(details);
        QWidget *target = focus.isEmpty() ? w->window() : w->find(focus);
        target->setFocus(Qt::TabFocusReason);
        std::optional<QSignalSpy> clicked;
        if (auto *button = qobject_cast<QPushButton *>(target))
            clicked.emplace(button, &QPushButton::clicked);
        QTest::keyClick(target, Qt::Key_Return);
        if (clicked)
            QTRY_COMPARE(clicked->count(), 1);
        QCOMPARE(chosen, focus == u"compactChooseZipButton"_s ? 1 : 0);
        const auto writeStarts = [this] {
            return std::ranges::count(w->manager()->logger()->entries(), u"4 dosya esptool ile yüklenecek."_s,
                                      &LogEntry::message);
        };
        QTRY_COMPARE(writeStarts(), writes ? 1 : 0);
        QTRY_VERIFY(!w->manager()->isBusy()); // no tool installed: a write fails at once
        QCOMPARE(w->manager()->status(), writes ? Status::error : Status::idle);
    }

    // Tab walks the compact layout from the top, left to right in a row; the scroll area is no stop.
    void tabOrderFollowsTheLayout()
    {
        QVERIFY(w->openReady());
        auto *root = w->find(u"rootLayout"_s);
        // From the last stop at the bottom, Tab goes round to the top and on down again.
        QWidget *last = w->find(u"detailsToggle"_s);
        last->setFocus(Qt::TabFocusReason);
        QList<QWidget *> visited;
        for (int i = 0; i < 12 && visited.value(visited.size() - 1) != last; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            visited.append(QApplication::focusWidget());
        }
        QCOMPARE(visited.last(), last);
        QCOMPARE(visited.first()->objectName(), u"compactChooseZipButton"_s);
        QVERIFY(!visited.contains(w->find(u"contentScrollArea"_s)));
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
        QVERIFY(w->open());
        QApplication::setPalette(palette);
        const auto restore =
            qScopeGuard([] { QApplication::setPalette(QApplication::style()->standardPalette()); });
        QTRY_COMPARE(Style::textColor(w->find(u"subtitleLabel"_s)), Style::secondaryText());
        QVERIFY(w->find(u"flashButton"_s)->styleSheet().contains(Style::accentFill().name(QColor::HexArgb)));

        const auto atLeast = [](const QColor &mark, const QColor &ground, double minimum) {
            return Style::contrastRatio(mark, ground) >= minimum;
        };
        for (const QColor &ground : {Style::windowBackground(), Style::cardBackground(),
                                     Style::badgeBackground(), Style::logBackground()})
            for (const QColor &text : {Style::primaryText(), Style::secondaryText(), Style::green(),
                                       Style::orange(), Style::red()})
                QVERIFY2(atLeast(text, ground, 4.5), qPrintable(text.name() + u" on "_s + ground.name()));
        QVERIFY(atLeast(Style::accentText(), Style::accentFill(), 4.5));
        QVERIFY(atLeast(Style::progressChunk(), Style::progressTrack(), 3));
        QVERIFY(atLeast(Style::progressChunk(), Style::windowBackground(), 3));
        QVERIFY(atLeast(Style::windowBackground(), Style::green(), 3));  // the check mark in its dot
        QVERIFY(atLeast(Style::windowBackground(), Style::orange(), 3)); // the warning sign's mark
    }

    // What a screen reader gets: every text a sighted user reads, in the order it is seen, from a
    // tree that can be walked at any moment, past any child list's end too.
    void accessibilityTree()
    {
        QVERIFY(w->openReady());
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
};

OLVEX_TEST_GUI_MAIN(TestWindowKeys)
#include "tst_windowkeys.moc"
