#include "linelimitedlabel.h"

#include <QAccessible>
#include <QEvent>
#include <QFontMetrics>
#include <QPainter>
#include <QRegularExpression>
#include <QTextLayout>

using namespace Qt::StringLiterals;

namespace {
constexpr QChar zeroWidthSpace(0x200B);
// Wide enough for a short name on one line; the layout gives more when it can.
constexpr int preferredWidth = 320;
} // namespace

LineLimitedLabel::LineLimitedLabel(int maximumLines, QWidget *parent)
    : QWidget(parent), m_maximumLines(maximumLines)
{
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

void LineLimitedLabel::setText(const QString &text)
{
    if (m_text == text)
        return;
    m_text = text;
    updateGeometry();
    update();
    if (accessibleName().isEmpty()) { // the text is what a screen reader reads
        QAccessibleEvent event(this, QAccessible::NameChanged);
        QAccessible::updateAccessibility(&event);
    }
}

QStringList LineLimitedLabel::visibleLines(int width) const
{
    if (m_text.isEmpty() || width <= 0)
        return {};
    QString text = m_text;
    text.replace(u'\n', QChar::LineSeparator);
    // A file name has no word boundary: it may break after "_" and before the dot of its
    // ending, rather than anywhere ("olvex_fw.z" / "ip").
    static const QRegularExpression nameBreaks(uR"((?<=_)(?=\S)|(?<=\S)(?=\.[A-Za-z]))"_s);
    text.replace(nameBreaks, QString(zeroWidthSpace));
    QTextLayout layout(text, font());
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);

    QStringList lines;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        if (m_maximumLines > 0 && lines.size() == m_maximumLines - 1) {
            // The last line allowed: whatever is left, on one line, cut short if need be.
            QString rest = text.mid(line.textStart());
            rest.replace(QChar::LineSeparator, u' ');
            rest.remove(zeroWidthSpace);
            lines.append(QFontMetrics(font()).elidedText(rest.trimmed(), Qt::ElideRight, width));
            break;
        }
        QString piece = text.mid(line.textStart(), line.textLength());
        piece.remove(QChar::LineSeparator);
        piece.remove(zeroWidthSpace);
        lines.append(piece);
    }
    layout.endLayout();
    return lines;
}

int LineLimitedLabel::heightForWidth(int width) const
{
    const qsizetype count = qMax<qsizetype>(1, visibleLines(width).size());
    return int(count) * QFontMetrics(font()).lineSpacing();
}

QSize LineLimitedLabel::sizeHint() const
{
    const int width = qMin(preferredWidth, QFontMetrics(font()).horizontalAdvance(m_text) + 1);
    return {qMax(width, minimumSizeHint().width()), heightForWidth(preferredWidth)};
}

QSize LineLimitedLabel::minimumSizeHint() const
{
    const QFontMetrics metrics(font());
    return {metrics.horizontalAdvance(u"MMMMMM"_s), metrics.lineSpacing()};
}

void LineLimitedLabel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::WindowText));
    const QFontMetrics metrics(font());
    int y = 0;
    for (const QString &line : visibleLines(width())) {
        painter.drawText(QRect(0, y, width(), metrics.lineSpacing()), Qt::AlignLeft | Qt::AlignVCenter, line);
        y += metrics.lineSpacing();
    }
}

void LineLimitedLabel::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::FontChange)
        updateGeometry();
    QWidget::changeEvent(event);
}
