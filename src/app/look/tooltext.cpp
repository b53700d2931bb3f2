#include "tooltext.h"

#include <QRegularExpression>

using namespace Qt::StringLiterals;

QString readableToolText(const QString &text)
{
    // Most texts have no bar and no run of blanks: they need no pattern, compiled or run.
    if (!text.contains(u'[') && !text.contains(u'\r') && !text.contains(u'\t') && !text.contains(u"  "_s))
        return text.trimmed();
    // The tool's own bar: "[", "=" and ">" for the done part, blanks for the rest, "]", then the
    // percentage.
    static const QRegularExpression redrawnBar(
        uR"(\r[^\r\n\[]*\[[ =>]*\]\s*\d+(?:\.\d+)?%(?: +\d+/\d+ bytes)?(?:\.\.\.)?[ \t]*)"_s);
    static const QRegularExpression bar(uR"(\s*\[[ =>]*\](?=\s*\d+(?:\.\d+)?%))"_s);
    static const QRegularExpression blanks(uR"([ \t\r]+)"_s);
    QString readable = text;
    readable.remove(redrawnBar);
    readable.remove(bar);
    readable.replace(blanks, u" "_s);
    return readable.trimmed();
}
