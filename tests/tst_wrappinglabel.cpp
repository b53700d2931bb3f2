// A wrapping text's lines: every character kept, none past the width, none ended early, and a new
// text or font measured anew.
#include "testsupport.h"
#include "wrappinglabel.h"

#include <QTest>

using namespace Qt::StringLiterals;

class TestWrappingLabel : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void linesFitTheWidth_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("width");
        QTest::newRow("words") << u"Zip'ten çıkan .deb paketini kurun; uygulamayı menüden başlatın."_s << 120;
        QTest::newRow("a word longer than a line")
            << u"olvex_firmware_1.4.2_release_candidate.zip yüklendi"_s << 60;
        QTest::newRow("paragraphs, one empty") << u"Birinci satır\n\nüçüncü satır, uzunca bir cümle"_s << 90;
        QTest::newRow("room to spare") << u"kısa"_s << 400;
        QTest::newRow("a long paragraph") << u"Yazılıyor, lütfen bekleyin. "_s.repeated(20) << 300;
        QTest::newRow("a tool's flood without a blank") << QString(5000, u'=') << 400;
    }

    void linesFitTheWidth()
    {
        QFETCH(QString, text);
        QFETCH(int, width);
        WrappingLabel label(text);
        const QFontMetricsF metrics(label.font());
        const QStringList paragraphs = text.split(u'\n');
        QStringList joined(paragraphs.size());
        const QList<WrappingLabel::Line> lines = label.lines(width);
        for (qsizetype i = 0; i < lines.size(); ++i) {
            const WrappingLabel::Line &line = lines.at(i);
            const QString piece = paragraphs.at(line.paragraph).mid(line.start, line.length);
            joined[line.paragraph] += piece;
            QVERIFY2(line.length <= 1 || metrics.horizontalAdvance(piece.trimmed()) <= width + 1,
                     qPrintable(piece));
            // No line ends early: its next word would not have fitted.
            if (i + 1 < lines.size() && lines.at(i + 1).paragraph == line.paragraph && piece.endsWith(u' ')) {
                const QString next =
                    paragraphs.at(line.paragraph).mid(lines.at(i + 1).start).section(u' ', 0, 0);
                QVERIFY2(metrics.horizontalAdvance(piece + next) > width, qPrintable(piece + next));
            }
        }
        QCOMPARE(joined, paragraphs);
        QCOMPARE(label.heightForWidth(width), int(lines.size()) * label.fontMetrics().height());

        // A new text and a new font are measured anew.
        label.setText(text + u" ve bir cümle daha"_s);
        const WrappingLabel::Line last = label.lines(width).last();
        QCOMPARE(last.start + last.length, label.text().section(u'\n', -1).size());
        const int before = label.heightForWidth(width);
        label.setFont(QFont(label.font().family(), label.font().pointSize() * 2));
        QVERIFY(label.heightForWidth(width) > before);
    }
};

OLVEX_TEST_GUI_MAIN(TestWrappingLabel)
#include "tst_wrappinglabel.moc"
