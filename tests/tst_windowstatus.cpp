// What the window says of the controller's state, the files and the log; it also
// leaves pictures of the window in the build tree's renders folder for review.
#include "failurehintview.h"
#include "firmwarefilelist.h"
#include "linelimitedlabel.h"
#include "logpanel.h"
#include "progressblock.h"
#include "statusdot.h"
#include "style.h"
#include "texts.h"
#include "tooltext.h"
#include "windowfixture.h"

#include <ctime>

using namespace Qt::StringLiterals;
using Status = WindowFixture::Status;

namespace {
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
} // namespace

class TestWindowStatus : public QObject
{
    Q_OBJECT

    std::unique_ptr<WindowFixture> w;

private Q_SLOTS:
    void initTestCase()
    {
        // A zone away from UTC, so that showing the log's UTC times in local time is tested.
        qputenv("TZ", "TST-3");
        tzset();
    }
    void init() { w = std::make_unique<WindowFixture>(); }
    void cleanup() { w.reset(); }

    void statusPresentation_data()
    {
        QTest::addColumn<Status>("status");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QColor>("color");
        QTest::addColumn<bool>("detailShown");
        const QColor busy = Style::orange();
        QTest::newRow("idle") << Status::idle << u"Hazır"_s << Style::green() << false;
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
        QVERIFY(w->open({u"ttyACM0"_s}));
        const bool ends = status == Status::complete || status == Status::error;
        if (status != Status::idle)
            w->hold(ends ? Status::connecting : status, u"Bağlanıyor"_s, u"esptool failed (exit 2): boom"_s,
                    status == Status::error);
        QVERIFY(!ends || w->finish());
        QCOMPARE(w->manager()->status(), status);
        for (const auto name : {u"statusBadge", u"statusCard"}) {
            QCOMPARE(w->text(QString::fromUtf16(name) + u"Title"_s), title);
            QCOMPARE(w->find<StatusDot>(QString::fromUtf16(name) + u"Dot"_s)->color(), color);
        }
        QCOMPARE(!w->find(u"statusCardDetail"_s)->isHidden(), detailShown);
        // No row here is a write: "Tamamlandı" without the check mark and the restart note.
        QVERIFY(!w->find<StatusDot>(u"statusCardDot"_s)->hasCheckMark());
        QVERIFY(w->find(u"statusCardRestartNote"_s)->isHidden());
        const bool failed = status == Status::error;
        // A success reads like ordinary text; a running operation's message is secondary.
        QCOMPARE(Style::textColor(w->find(u"statusCardDetail"_s)),
                 failed ? Style::red()
                        : (status == Status::complete ? Style::primaryText() : Style::secondaryText()));
        QCOMPARE(Style::textColor(w->find(u"statusDetailText"_s)),
                 failed ? Style::red() : Style::primaryText());
    }

    // The texts the window makes of numbers, the tool's output and log entries.
    void shownText_data()
    {
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char *name, const QString &shown, const QString &expected) {
            QTest::newRow(name) << shown << expected;
        };
        row("scanning", Texts::statusTitle(Status::scanning), u"Portlar taranıyor…"_s);
        row("0.005", ::percentText(0.005), u"0%"_s);
        row("0.999", ::percentText(0.999), u"99%"_s);
        row("1.05", ::percentText(1.05), u"105%"_s);
        // Fractions made from the tool's whole percentages, whose hundredfold falls just short in binary.
        row("29 %", ::percentText(29 / 100.0), u"29%"_s);
        row("negative", ::percentText(-0.505), u"-50%"_s);
        row("not a number", ::percentText(qQNaN()), u"0%"_s);
        // Beyond any real reading, still short enough for the row.
        row("1e16", ::percentText(1e16), u"1000000000000000000%"_s);
        row("1e17", ::percentText(1e17), u"1e+19%"_s);
        row("inf", ::percentText(qInf()), u"∞%"_s);
        row("-inf", ::percentText(-qInf()), u"-∞%"_s);

        // A file name breaks after "_" or before its ending's dot, not inside a word.
        LineLimitedLabel label(2);
        label.setText(u"olvex_firmware.zip"_s);
        const QFontMetrics metrics(label.font());
        row("file name at its dot",
            label.visibleLines(metrics.horizontalAdvance(u"olvex_firmware.z"_s)).join(u" / "_s),
            u"olvex_firmware / .zip"_s);
        row("file name at its underscore",
            label.visibleLines(metrics.horizontalAdvance(u"olvex_firmwa"_s)).join(u" / "_s),
            u"olvex_ / firmware.zip"_s);

        row("bar line",
            readableToolText(
                u"Writing at 0x00010000 [==============>               ]  48.8% 81920/168035 bytes..."_s),
            u"Writing at 0x00010000 48.8% 81920/168035 bytes..."_s);
        row("empty and full bar",
            readableToolText(
                u"[                              ]   0.0% and [==============================] 100.0%"_s),
            u"0.0% and 100.0%"_s);
        row("bars redrawn in a tail",
            readableToolText(u"x: \rWriting at 0x00010000 [>    ]  10.0% 1/10 bytes... "
                             u"\rDownloading 8 bytes at 0x0 [==>  ]  20.0%... Lost connection"_s),
            u"x: Lost connection"_s);
        const QString older = u"Writing at 0x00010000... (42 %)\n[see] 5 %"_s;
        row("older tools and plain text kept", readableToolText(older), older);

        // The entry holds UTC, as the log makes it; the row shows local time (see initTestCase).
        const auto logged = [](QTime local, Level level, const QString &message) {
            return ::logLine({QUuid(), QDateTime(QDate(2024, 5, 6), local).toUTC(), level, message});
        };
        row("zone in effect", QDateTime(QDate(2024, 5, 6), QTime(9, 5, 7)).toUTC().time().toString(),
            u"06:05:07"_s);
        row("success", logged(QTime(9, 5, 7), Level::success, u"Yükleme tamamlandı."_s),
            u"[09:05:07] [TAMAM] Yükleme tamamlandı."_s);
        row("24-hour", logged(QTime(23, 59, 59), Level::error, u"x"_s), u"[23:59:59] [HATA] x"_s);
        row("midnight", logged(QTime(0, 0, 0), Level::info, {}), u"[00:00:00] [BİLGİ] "_s);
        row("several lines", logged(QTime(12, 0, 1), Level::warning, u"a\nb\r"_s),
            u"[12:00:01] [UYARI] a\nb\r"_s);

        FirmwareImage largest;
        largest.size = 4294967295u;
        largest.offset = 0xFFFFFFFFu;
        row("largest image", ::sizeLine(largest), u"4294967295 bayt @ 0xFFFFFFFF"_s);
    }

    void shownText()
    {
        QFETCH(QString, shown);
        QFETCH(QString, expected);
        QCOMPARE(shown, expected);
    }

    void failureHintInBothLayouts()
    {
        QVERIFY(w->open({u"ttyACM0"_s}));
        w->window()->resize(ContentView::compactMinimumSize.width(), w->window()->height());
        auto *compact = w->find<FailureHintView>(u"compactFailureHint"_s);
        auto *details = w->find<FailureHintView>(u"detailsFailureHint"_s);
        QVERIFY(compact->isHidden() && details->isHidden());
        // The tail as the tool leaves it: bars redrawn after carriage returns, then many lines.
        w->fail(Status::connecting,
                u"\rWriting at 0x00010000 [>                             ]   0.0% 0/4096 bytes... "
                u"\rWriting at 0x00010400 [=======>                      ]  25.0% 1024/4096 bytes... "_s +
                    u"A fatal error occurred: Failed to connect to ESP32-S3: No serial data received. "_s
                        .repeated(12));
        const QString hint = w->manager()->failureHint();
        QVERIFY(!hint.isEmpty());
        for (const QString &name : {u"statusCardDetail"_s, u"statusDetailText"_s}) { // bars taken out
            QVERIFY2(w->text(name).startsWith(u"esptool failed (exit 2): A fatal error"_s),
                     qPrintable(w->text(name)));
            QCOMPARE(w->find(name)->toolTip(), w->manager()->statusDetail());
        }
        // In the card the hint comes first, larger than the tool's text, which can be selected
        // and opened to every line.
        auto *detail = w->find<QLabel>(u"statusCardDetail"_s);
        QTRY_VERIFY(compact->isVisible());
        QVERIFY(compact->mapTo(w->window(), QPoint()).y() < detail->mapTo(w->window(), QPoint()).y());
        QVERIFY(compact->findChild<QLabel *>(u"failureHintText"_s)->font().pointSizeF() >
                detail->font().pointSizeF());
        QVERIFY(detail->textInteractionFlags() & Qt::TextSelectableByMouse);
        auto *expand = w->find<QPushButton>(u"statusCardExpand"_s);
        QTRY_VERIFY(expand->isVisible());
        w->saveRender(u"compact-error.png"_s);
        QVERIFY(detail->height() < detail->heightForWidth(detail->width()));
        expand->click();
        QTRY_VERIFY(detail->height() >= detail->heightForWidth(detail->width()));
        w->saveRender(u"compact-error-opened.png"_s);
        QApplication::setPalette(WindowFixture::darkPalette());
        QTest::qWait(50);
        w->saveRender(u"compact-error-dark.png"_s);
        QApplication::setPalette(QApplication::style()->standardPalette());
        for (FailureHintView *shown : {compact, details}) {
            w->switchLayout(shown == details);
            QTRY_VERIFY(shown->isVisible());
            auto *text = shown->findChild<QLabel *>(u"failureHintText"_s);
            QCOMPARE(text->text(), hint);
            QTRY_VERIFY(text->height() >= text->heightForWidth(text->width()));
            QVERIFY(text->height() >= 2 * QFontMetrics(text->font()).height()); // wrapped, not cut
        }
        w->find<QPushButton>(u"detailsRefreshButton"_s)->click();
        QVERIFY(w->manager()->failureHint().isEmpty());
        QVERIFY(compact->isHidden() && details->isHidden());
    }

    void fontsDrawTheAskedFace()
    {
        // A weight is left out only where the family would draw it with the same face anyway.
        const std::pair<QFont, QFont::Weight> roles[] = {
            {Style::subheadline(QFont::Medium), QFont::Medium},
            {Style::callout(QFont::Medium), QFont::Medium},
            {Style::callout(QFont::Bold), QFont::Bold},
            {Style::title2(), QFont::Bold},
        };
        for (const auto &[font, weight] : roles) {
            QFont asked = font;
            asked.setWeight(weight);
            QCOMPARE(QFontInfo(font).styleName(), QFontInfo(asked).styleName());
        }
    }

    // Rows are measured again for the width they show at, lines added while the panel was hidden
    // too: no row keeps a height for another width (a blank gap below its text, or a cut).
    void logView()
    {
        QVERIFY(w->open());
        Logger *logger = w->manager()->logger();
        auto *list = w->find<QListView>(u"logView"_s);
        QScrollBar *bar = list->verticalScrollBar();
        QTRY_VERIFY(logger->count() > 0);
        const int before = logger->count();
        logger->log(Level::success, u"Yükleme tamamlandı."_s);
        logger->log(Level::error, u"esptool failed (exit 2): first\nsecond\nthird"_s);
        for (int i = 0; i < 12; ++i)
            logger->log(Level::info, u"hidden %1"_s.arg(i) + u" word"_s.repeated(20 + 10 * i));
        QTRY_COMPARE(logger->count(), before + 14);
        const auto rowRect = [list](int row) { return list->visualRect(list->model()->index(row, 0)); };
        const auto rowsFit = [&] {
            const QFontMetrics metrics(list->font());
            const int width = list->viewport()->width() - 8; // the delegate's side padding
            for (int row = 0; row + 1 < logger->count(); ++row) {
                const QString text = ::logLine(logger->entries().at(row));
                const int textHeight =
                    metrics.boundingRect(QRect(0, 0, width, 1 << 20), Qt::TextWordWrap, text).height();
                // Where the next row starts, so that a gap left by a stale layout counts.
                const int height = rowRect(row + 1).top() - rowRect(row).top();
                QVERIFY2(
                    height >= textHeight && height < textHeight + metrics.lineSpacing(),
                    qPrintable(u"row %1: %2 px for %3 px of text"_s.arg(row).arg(height).arg(textHeight)));
            }
        };
        w->switchLayout(true);
        QTRY_COMPARE(w->window()->width(), ContentView::detailsIdealWidth);
        QTest::qWait(0);
        rowsFit();
        QCOMPARE(list->selectionMode(), QAbstractItemView::NoSelection);
        list->scrollTo(list->model()->index(before, 0), QAbstractItemView::PositionAtTop);
        const QImage image = list->viewport()->grab().toImage();
        for (const auto &[row, color] : {std::pair{before, Style::green()}, {before + 1, Style::red()}})
            QVERIFY(pixelsNear(image, rowRect(row), color) > 5);
        const int narrower = list->width();
        w->window()->resize(w->window()->width() + 300, w->window()->height());
        QTRY_VERIFY(list->width() > narrower);
        rowsFit();

        // While open, it follows the newest line, also when older lines are being read.
        logger->log(Level::info, u"newest"_s);
        QVERIFY(bar->maximum() > 0);
        QTRY_COMPARE(bar->value(), bar->maximum());
        QVERIFY(list->viewport()->rect().contains(rowRect(before + 14).bottomLeft()));
        bar->setValue(0);
        logger->log(Level::warning, u"one more"_s);
        QTRY_COMPARE(bar->value(), bar->maximum());

        // Closed, it does not follow; opened again, it starts at the top.
        w->switchLayout(false);
        logger->log(Level::info, u"while closed"_s);
        QTRY_COMPARE(logger->count(), before + 17);
        w->switchLayout(true);
        QTest::qWait(0);
        QCOMPARE(bar->value(), 0);
        logger->log(Level::info, u"after opening"_s);
        QTRY_COMPARE(bar->value(), bar->maximum());
    }
};

OLVEX_TEST_GUI_MAIN(TestWindowStatus)
#include "tst_windowstatus.moc"
